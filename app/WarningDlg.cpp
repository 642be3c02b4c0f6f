#include "WarningDlg.h"

namespace talo {

BOOL CWarningDlg::OnInitDialog(HWND, LPARAM) {
    InitBox({60, 20, 360, 70});
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
