// A setting page of the scheme editor, one for battery (DC) and one for mains (AC): the
// effects of the chosen options as bars at the top (on the DC page beside the icon button),
// then one row per scheme item with a drop-down list of its options, two items to a row,
// scrolled when they do not all fit. The lists offer only what goes together: hibernation
// after standby (or never), a minimum processor state not above the maximum.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "ChangeIconDlg.h"
#include "MyProgress.h"
#include "PropertySheet.h"
#include "TALOStatic.h"
#include "TaloResIds.h"
#include "WinHandles.h"

namespace talo {

class CSchemeEditDlg;

class CSchemePage : public CPropertyPageImpl<CSchemePage>, public IIconOwnerPage {
public:
    enum { IDD = IDD_SCHEME_PAGE };
    static constexpr int kItemsPerRow = 2;
    static constexpr int kRowHeight = 35;
    static constexpr int kMaxItems = 100;
    static constexpr COLORREF kSeparator = RGB(230, 231, 223);

    // The page of source ac (1 mains, 0 battery) of dialog.
    CSchemePage(CSchemeEditDlg& dialog, int ac);

    int Source() const { return m_ac; }
    // Set when the page's window was first initialised, that is when its tab was first shown.
    bool Visited() const { return m_visited; }
    // The option chosen in item's list (its place among the item's options); -1 when the
    // list has no choice or the page no window.
    int ChosenOption(int item) const;
    // The height of the effect area (its heading, the bars, the icon button).
    int EffectAreaHeight() const;
    // The page height that shows rows item rows.
    int HeightFor(int rows) const;

    // IIconOwnerPage: the icon button and its chooser.
    int IconCount() const override;
    int ChosenIcon() const override;
    void SetChosenIcon(int number) override;
    bool IsEditable() const override { return true; }
    CChangeIconBtn* IconButton() override { return m_iconButton.get(); }

    BEGIN_MSG_MAP(CSchemePage)
        MSG_WM_INITDIALOG(OnInitDialog)
        MSG_WM_PAINT(OnPaint)
        MESSAGE_HANDLER(WM_SIZE, OnSize)
        MESSAGE_HANDLER(WM_VSCROLL, OnScroll)
        MESSAGE_HANDLER(WM_MOUSEWHEEL, OnMouseWheel)
        COMMAND_ID_HANDLER(IDC_CHANGE_ICON_BUTTON, OnChangeIcon)
        COMMAND_RANGE_HANDLER(IDC_PAGE_ITEM_LIST_BASE, IDC_PAGE_ITEM_LIST_BASE + kMaxItems - 1, OnListCommand)
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

private:
    struct EffectRow {
        CTALOStatic name;
        CMyProgress bar;
        bool batteryLife = false;  // on the AC page a text instead of the bar
    };
    struct ItemRow {
        CTALOStatic name;
        HWND list = nullptr;
    };

    BOOL OnInitDialog(HWND, LPARAM);
    void OnPaint(HDC);
    LRESULT OnSize(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnScroll(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnMouseWheel(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnChangeIcon(WORD, WORD, HWND, BOOL&);
    LRESULT OnListCommand(WORD code, WORD id, HWND, BOOL&);

    void BuildEffects();
    void BuildItems();
    // Fills item's list with the options allowed beside the other lists' choices and chooses
    // option, or, when it is not allowed, the one the rules give (see Refilter).
    void FillList(int item, int option);
    // After item's choice changed: the lists that depend on it offer what goes with it.
    void Refilter(int item);
    // Whether item's option may be offered beside the page's other choices.
    bool Allowed(int item, int option) const;
    // The option the page starts on: the catalogue's default for a new scheme, the stored
    // value's for an edited one.
    int InitialOption(int item) const;
    void UpdatePreview();
    void Layout();
    void PlaceRows();
    // After the item rows scrolled: placed again, the page repainted.
    void Scrolled();
    int RowCount() const;
    int ItemIndex(const wchar_t* variable) const;

    CSchemeEditDlg& m_dialog;
    int m_ac;
    bool m_visited = false;
    int m_visibleRows = 0;
    int m_itemTop = 0;
    CRowScroller m_rows;
    UniqueFont m_font;
    CTALOStatic m_effectsHeading;
    CTALOStatic m_settingsHeading;
    std::vector<std::unique_ptr<EffectRow>> m_effectRows;
    std::vector<std::unique_ptr<ItemRow>> m_itemRows;
    std::unique_ptr<CChangeIconBtn> m_iconButton;
};

}  // namespace talo
