// The hub: TALO's hidden main window. It owns the process's timers and receives the
// system's and the tray's notifications; it is never shown.
#pragma once

#include "Dialog.h"
#include "TaloResIds.h"

namespace talo {

class CDummyDlg : public CDialogImpl<CDummyDlg> {
public:
    enum { IDD = 129 };

    BEGIN_MSG_MAP(CDummyDlg)
        MSG_WM_INITDIALOG(OnInitDialog)
        MSG_WM_CLOSE(OnClose)
        MSG_WM_DESTROY(OnDestroy)
    END_MSG_MAP()

private:
    // False: the hub takes no focus; it stays hidden.
    BOOL OnInitDialog(HWND focus, LPARAM initParam);
    // Closing the hub (the exit command, or the session ending) ends TALO.
    void OnClose();
    void OnDestroy();
};

}  // namespace talo
