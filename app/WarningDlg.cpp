#include "WarningDlg.h"

namespace talo {

void CenterBoxInWorkArea(HWND box, int width, int height) {
    RECT work = {};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
        OutputDebugStringW(L"SystemParametersInfo failed \n");
        SetWindowPos(box, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        return;
    }
    MoveWindow(box, work.left + (work.right - work.left - width) / 2, work.top + (work.bottom - work.top - height) / 2,
               width, height, TRUE);
}

void CWarningDlg::SetTexts(const wchar_t* caption, const wchar_t* message) {
    m_caption = caption != nullptr ? caption : L"";
    m_text = message != nullptr ? message : L"";
}

BOOL CWarningDlg::OnInitDialog(HWND, LPARAM) {
    CenterBoxInWorkArea(m_hWnd, kWidth, kHeight);
    SetWindowText(m_caption.c_str());
    m_message.SubclassDlgItem(IDC_MESSAGE_TEXT, m_hWnd);
    m_message.SetLogFont(MakeLogFont(L"Tahoma", 13, 5, FW_NORMAL));
    m_message.SetText(m_text.c_str());
    m_message.MoveWindow(60, 20, 300, 50);
    ::MoveWindow(GetDlgItem(IDOK), 140, 65, 90, 25, TRUE);
    return TRUE;
}

void CWarningDlg::OnPaint(HDC) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    if (dc == nullptr) return;
    HICON warning = LoadIconW(nullptr, IDI_WARNING);
    if (warning != nullptr) DrawIcon(dc, kIconAt.x, kIconAt.y, warning);
    EndPaint(m_hWnd, &paint);
}

}  // namespace talo
