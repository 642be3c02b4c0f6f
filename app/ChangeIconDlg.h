// The icon chooser: the scheme icons of the resource module in a grid; the one clicked
// (or selected when OK is pressed) becomes the page's icon, and the page's icon button
// shows it when the page may be edited.
#pragma once

#include <windows.h>

#include "ChangeIconBtn.h"
#include "FrameDlg.h"
#include "TALOStatic.h"
#include "TaloResIds.h"

namespace talo {

// What the chooser needs of the scheme page that opens it.
class IIconOwnerPage {
public:
    virtual ~IIconOwnerPage() = default;
    // How many icons there are to choose from (bitmaps kFirstImage .. + count - 1).
    virtual int IconCount() const = 0;
    virtual int ChosenIcon() const = 0;
    virtual void SetChosenIcon(int number) = 0;
    // A read-only page keeps its button as it is.
    virtual bool IsEditable() const = 0;
    // The page's icon button; null when it has none.
    virtual CChangeIconBtn* IconButton() = 0;
};

class CChangeIconDlg : public CFrameDlgImpl<CChangeIconDlg> {
public:
    enum { IDD = IDD_CHANGE_ICON };
    static constexpr int kWidth = 400;
    static constexpr int kHeight = 335;
    static constexpr int kImageSize = 60;
    static constexpr int kSpacing = 68;
    // The list's left, right and bottom; its top is this far below the frame's header, with
    // the prompt (kPromptHeight high) above it.
    static constexpr RECT kListRect = {20, 35, 378, 255};
    static constexpr int kPromptHeight = 25;

    explicit CChangeIconDlg(IIconOwnerPage& page);

    bool OnPostInit() override;
    // Icon number as the page's choice, shown on the page's button when it is editable.
    void Choose(int number);

    BEGIN_MSG_MAP(CChangeIconDlg)
        NOTIFY_ID_HANDLER(IDC_CHANGE_ICON_LIST, OnListNotify)
        COMMAND_ID_HANDLER(IDOK, OnOk)
        COMMAND_ID_HANDLER(IDCANCEL, OnCloseCmd)
        CHAIN_MSG_MAP(CFrameDlg)
    END_MSG_MAP()

private:
    LRESULT OnListNotify(int id, LPNMHDR header, BOOL& handled);
    LRESULT OnOk(WORD, WORD, HWND, BOOL&);

    IIconOwnerPage& m_page;
    HWND m_list = nullptr;
    CTALOStatic m_prompt;
};

}  // namespace talo
