#include "DummyDlg.h"

namespace talo {

BOOL CDummyDlg::OnInitDialog(HWND, LPARAM) {
    ShowWindow(SW_HIDE);
    return FALSE;
}

void CDummyDlg::OnClose() { DestroyWindow(); }

void CDummyDlg::OnDestroy() { PostQuitMessage(0); }

}  // namespace talo
