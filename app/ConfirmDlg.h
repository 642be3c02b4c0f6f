// The confirmation box of the scheme dialogs: a caption, a question, OK and Cancel.
#pragma once

#include <windows.h>

#include <string>

#include "Dialog.h"
#include "TALOStatic.h"
#include "TaloResIds.h"

namespace talo {

class CConfirmDlg : public CDialogImpl<CConfirmDlg> {
public:
    enum { IDD = IDD_CONFIRM };
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 130;

    // Before DoModal, which returns IDOK or IDCANCEL.
    void SetTexts(const wchar_t* caption, const wchar_t* message);
    const CTALOStatic& Message() const { return m_message; }

    BEGIN_MSG_MAP(CConfirmDlg)
        MSG_WM_INITDIALOG(OnInitDialog)
        COMMAND_ID_HANDLER(IDOK, OnClose)
        COMMAND_ID_HANDLER(IDCANCEL, OnClose)
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

private:
    BOOL OnInitDialog(HWND focus, LPARAM initParam);
    LRESULT OnClose(WORD, WORD id, HWND, BOOL&) {
        EndDialog(id);
        return 0;
    }

    std::wstring m_caption;
    std::wstring m_text;
    CTALOStatic m_message;
};

}  // namespace talo
