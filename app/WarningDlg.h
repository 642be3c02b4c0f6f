// The warning box of the scheme dialogs: a caption, a message beside the system's warning
// icon, and OK.
#pragma once

#include <windows.h>

#include "MessageBoxDlg.h"

namespace talo {

class CWarningDlg : public CMessageBoxDlg<CWarningDlg> {
public:
    enum { IDD = IDD_WARNING };
    static constexpr int kWidth = 380;
    static constexpr int kHeight = 130;
    static constexpr POINT kIconAt = {20, 20};

    BEGIN_MSG_MAP(CWarningDlg)
        MSG_WM_INITDIALOG(OnInitDialog)
        MSG_WM_PAINT(OnPaint)
        COMMAND_ID_HANDLER(IDOK, OnCloseCmd)
        COMMAND_ID_HANDLER(IDCANCEL, OnCloseCmd)
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

private:
    BOOL OnInitDialog(HWND focus, LPARAM initParam);
    void OnPaint(HDC dc);
};

}  // namespace talo
