// The scheme main dialog: one scheme at a time, chosen in a drop-down list that starts on
// the active scheme. A table of effects whose bars weigh the scheme's chosen options (the
// effect file's weights), a table of its settings with the mains and battery values in
// words, and the buttons that create, edit, delete and activate schemes, set the display
// options and open the help. The hub opens it from the tray; a second open brings this
// one forward (kBringForward), found by its title.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "FrameDlg.h"
#include "MyProgress.h"
#include "PwrDesp.h"
#include "SchemeEditDlg.h"
#include "TALOStatic.h"
#include "TaloResIds.h"

namespace talo {

class CSchemeMainDlg : public CFrameDlgImpl<CSchemeMainDlg> {
public:
    enum { IDD = IDD_SCHEME_MAIN };
    static constexpr COLORREF kTableFill = RGB(244, 245, 237);
    static constexpr COLORREF kTableFrame = RGB(218, 216, 210);
    static constexpr COLORREF kSeparator = RGB(230, 231, 223);
    static constexpr int kSchemeRowHeight = 30;
    static constexpr int kBottomRowHeight = 72;
    static constexpr int kButtonWidth = 80;
    static constexpr int kButtonHeight = 25;
    // Extra height of each table beyond its rows: the heading and the margins.
    static constexpr int kEffectTableExtra = 50;
    static constexpr int kItemTableExtra = 44;

    // What the scheme editor is asked to do.
    using EditMode = CSchemeEditDlg::Mode;

    CSchemeMainDlg() = default;

    int SelectedScheme() const { return m_selected; }
    int SelectionIsActive() const { return m_selectionActive; }
    // The settings rows in view: all of them, unless the window would outgrow the work area.
    int VisibleItemRows() const { return m_visibleRows; }

    bool OnPostInit() override;
    void DrawFrame(HDC dc, int width) override;

    BEGIN_MSG_MAP(CSchemeMainDlg)
        COMMAND_HANDLER(IDC_MAIN_SCHEME_LIST, CBN_SELCHANGE, OnSchemeChosen)
        COMMAND_ID_HANDLER(IDC_MAIN_NEW, OnNew)
        COMMAND_ID_HANDLER(IDC_MAIN_EDIT, OnEdit)
        COMMAND_ID_HANDLER(IDC_MAIN_DELETE, OnDelete)
        COMMAND_ID_HANDLER(IDC_MAIN_ACTIVATE, OnActivate)
        COMMAND_ID_HANDLER(IDC_MAIN_OPTIONS, OnOptions)
        COMMAND_ID_HANDLER(IDC_SCHEME_HELP, OnHelpButton)
        COMMAND_ID_HANDLER(IDOK, OnOk)
        COMMAND_ID_HANDLER(IDCANCEL, OnCloseCmd)
        MESSAGE_HANDLER(WM_VSCROLL, OnScroll)
        MESSAGE_HANDLER(WM_MOUSEWHEEL, OnMouseWheel)
        CHAIN_MSG_MAP(CFrameDlg)
    END_MSG_MAP()

protected:
    // The scheme editor: New (mode kNew, index -1, empty name) and Edit (mode kEdit, the
    // shown scheme and its name) run it modally; true when it changed the schemes (ended
    // with OK, or created a scheme before its Cancel), and the list or values are refreshed.
    virtual bool RunSchemeEditor(EditMode mode, int schemeIndex, const std::wstring& name);

private:
    struct EffectRow {
        CTALOStatic name;
        CMyProgress dcBar;
        CMyProgress acBar;
        bool batteryLife = false;  // the AC bar shows string 130 instead
        int value[2] = {0, 0};     // [ac]: the sum of (option + 1) x weight
    };
    struct ItemRow {
        CTALOStatic name;
        CTALOStatic acValue;
        CTALOStatic dcValue;
    };

    LRESULT OnSchemeChosen(WORD, WORD, HWND, BOOL&);
    LRESULT OnNew(WORD, WORD, HWND, BOOL&);
    LRESULT OnEdit(WORD, WORD, HWND, BOOL&);
    LRESULT OnDelete(WORD, WORD, HWND, BOOL&);
    LRESULT OnActivate(WORD, WORD, HWND, BOOL&);
    LRESULT OnOptions(WORD, WORD, HWND, BOOL&);
    LRESULT OnHelpButton(WORD, WORD, HWND, BOOL&);
    LRESULT OnOk(WORD, WORD, HWND, BOOL&);
    LRESULT OnScroll(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnMouseWheel(UINT, WPARAM, LPARAM, BOOL&);

    void Layout();
    void BuildEffectTable();
    void BuildItemTable();
    void FillSchemeList();
    void ShowScheme(int scheme);
    // Puts the settings rows from the first one in view into the table, the others away.
    void PlaceItemRows();
    // After the settings rows scrolled: placed again, the table repainted.
    void ItemsScrolled();
    void UpdateButtons();
    void Activate();
    void Place(int id, int x, int y, int width, int height) const;

    int m_active = -1;
    int m_selected = -1;
    int m_selectionActive = 0;
    int m_width = 0;
    int m_effectTop = 0;
    int m_effectHeight = 0;
    int m_itemTop = 0;
    int m_itemHeight = 0;
    int m_visibleRows = 0;
    CRowScroller m_rows;
    std::vector<PWRDESP> m_schemes;
    CTALOStatic m_schemeLabel;
    CTALOStatic m_effectsHeading;
    CTALOStatic m_dcHeading;
    CTALOStatic m_acHeading;
    CTALOStatic m_settingsHeading;
    std::vector<std::unique_ptr<EffectRow>> m_effectRows;
    std::vector<std::unique_ptr<ItemRow>> m_itemRows;
    HICON m_bigIcon = nullptr;
    HICON m_acIcon = nullptr;
    HICON m_dcIcon = nullptr;
};

}  // namespace talo
