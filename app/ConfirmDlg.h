// The confirmation box of the scheme dialogs: a caption, a question, OK and Cancel.
#pragma once

#include <windows.h>

#include "MessageBoxDlg.h"

namespace talo {

// DoModal returns IDOK or IDCANCEL.
class CConfirmDlg : public CMessageBoxDlg<CConfirmDlg> {
public:
    enum { IDD = IDD_CONFIRM };
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 130;

    BEGIN_MSG_MAP(CConfirmDlg)
        MSG_WM_INITDIALOG(OnInitDialog)
        COMMAND_ID_HANDLER(IDOK, OnCloseCmd)
        COMMAND_ID_HANDLER(IDCANCEL, OnCloseCmd)
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

private:
    BOOL OnInitDialog(HWND focus, LPARAM initParam);
};

}  // namespace talo
