#include "ConfirmDlg.h"

#include "WarningDlg.h"

namespace talo {

void CConfirmDlg::SetTexts(const wchar_t* caption, const wchar_t* message) {
    m_caption = caption != nullptr ? caption : L"";
    m_text = message != nullptr ? message : L"";
}

BOOL CConfirmDlg::OnInitDialog(HWND, LPARAM) {
    CenterBoxInWorkArea(m_hWnd, kWidth, kHeight);
    SetWindowText(m_caption.c_str());
    m_message.SubclassDlgItem(IDC_MESSAGE_TEXT, m_hWnd);
    m_message.SetLogFont(MakeLogFont(L"Tahoma", 13, 5, FW_NORMAL));
    m_message.SetText(m_text.c_str());
    m_message.MoveWindow(60, 25, 220, 50);
    ::MoveWindow(GetDlgItem(IDOK), 60, 65, 90, 25, TRUE);
    ::MoveWindow(GetDlgItem(IDCANCEL), 160, 65, 90, 25, TRUE);
    return TRUE;
}

}  // namespace talo
