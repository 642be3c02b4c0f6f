// The warning box of the scheme dialogs: a caption, a message beside the system's warning
// icon, and OK.
#pragma once

#include <windows.h>

#include <string>

#include "Dialog.h"
#include "TALOStatic.h"
#include "TaloResIds.h"

namespace talo {

// Sizes a box to width x height, centred in the work area. When the work area cannot be
// read, the box keeps its place and says so on the debugger output.
void CenterBoxInWorkArea(HWND box, int width, int height);

class CWarningDlg : public CDialogImpl<CWarningDlg> {
public:
    enum { IDD = IDD_WARNING };
    static constexpr int kWidth = 380;
    static constexpr int kHeight = 130;
    static constexpr POINT kIconAt = {20, 20};

    // Before DoModal: the title and the message.
    void SetTexts(const wchar_t* caption, const wchar_t* message);
    const CTALOStatic& Message() const { return m_message; }

    BEGIN_MSG_MAP(CWarningDlg)
        MSG_WM_INITDIALOG(OnInitDialog)
        MSG_WM_PAINT(OnPaint)
        COMMAND_ID_HANDLER(IDOK, OnClose)
        COMMAND_ID_HANDLER(IDCANCEL, OnClose)
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

private:
    BOOL OnInitDialog(HWND focus, LPARAM initParam);
    void OnPaint(HDC dc);
    // OK, Escape and the caption's close button end the box.
    LRESULT OnClose(WORD, WORD id, HWND, BOOL&) {
        EndDialog(id);
        return 0;
    }

    std::wstring m_caption;
    std::wstring m_text;
    CTALOStatic m_message;
};

}  // namespace talo
