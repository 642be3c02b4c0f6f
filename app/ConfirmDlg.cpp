#include "ConfirmDlg.h"

namespace talo {

BOOL CConfirmDlg::OnInitDialog(HWND, LPARAM) {
    InitBox({60, 25, 280, 75});
    ::MoveWindow(GetDlgItem(IDOK), 60, 65, 90, 25, TRUE);
    ::MoveWindow(GetDlgItem(IDCANCEL), 160, 65, 90, 25, TRUE);
    return TRUE;
}

}  // namespace talo
