// The scheme editor: a scheme's name, a status line, and two setting pages, battery (DC)
// first and then mains (AC), in a property sheet inside the dialog. OK checks the name,
// creates the scheme when it is new, and writes the chosen option of every item of the
// pages that were shown. A value the system refuses keeps the dialog open, the setting
// named in the status line; the scheme then exists, and OK writes into it.
#pragma once

#include <windows.h>

#include <string>

#include "FrameDlg.h"
#include "PropertySheet.h"
#include "SchemePage.h"
#include "TALOStatic.h"
#include "TaloResIds.h"

namespace talo {

class CSchemeEditDlg : public CFrameDlgImpl<CSchemeEditDlg> {
public:
    enum { IDD = IDD_SCHEME_EDIT };
    enum class Mode { kEdit = 0, kNew = 1 };
    static constexpr COLORREF kStatusColor = RGB(255, 0, 0);
    static constexpr int kNameRowHeight = 27;
    static constexpr int kButtonWidth = 80;
    static constexpr int kButtonHeight = 25;

    // A new scheme, until SetScheme says otherwise.
    CSchemeEditDlg();

    // What to edit, before DoModal: kNew with index -1 and an empty name, or kEdit with the
    // scheme's index and name.
    void SetScheme(Mode mode, int index, const std::wstring& name);
    Mode EditMode() const { return m_mode; }
    int SchemeIndex() const { return m_index; }
    // Whether this dialog created a scheme (it stays, whatever the dialog ends with).
    bool Created() const { return m_created; }
    int IconNumber() const { return m_iconNumber; }
    void SetIconNumber(int number) { m_iconNumber = number; }
    // The item rows each page shows at once; the others scroll.
    int VisibleItemRows() const { return m_visibleRows; }

    bool OnPostInit() override;
    const wchar_t* HelpTopic() const override { return L"editor.htm"; }

    BEGIN_MSG_MAP(CSchemeEditDlg)
        COMMAND_ID_HANDLER(IDOK, OnOk)
        COMMAND_ID_HANDLER(IDCANCEL, OnCloseCmd)
        COMMAND_ID_HANDLER(IDC_SCHEME_HELP, OnHelpButton)
        CHAIN_MSG_MAP(CFrameDlg)
    END_MSG_MAP()

private:
    LRESULT OnOk(WORD, WORD, HWND, BOOL&);
    LRESULT OnHelpButton(WORD, WORD, HWND, BOOL&);

    void Layout();
    CSchemePage& Page(int ac) { return ac ? m_acPage : m_dcPage; }
    void SetStatus(const std::wstring& text);
    // The validation failure's string for name, 0 when it passes.
    UINT Validate(const std::wstring& name);
    // Creates the scheme and its profile entries; false (and said) when the system refuses.
    bool CreateScheme(const std::wstring& name);
    // Writes item's choice on the page of source ac; SetPwrVariable's answer, 0 for a list
    // without a choice (nothing to write).
    int SaveItem(int item, int ac);
    // Writes every item of the shown pages, those the system refuses once more at the end
    // (one may depend on another written after it); false with the first still refused in
    // item and ac.
    bool SaveValues(int* item, int* ac);

    Mode m_mode = Mode::kNew;
    int m_index = -1;
    std::wstring m_name;
    int m_iconNumber = 0;
    bool m_created = false;
    int m_width = 0;
    int m_visibleRows = 0;
    CTALOStatic m_nameLabel;
    CTALOStatic m_status;
    CSchemePage m_dcPage;
    CSchemePage m_acPage;
    CChildPropertySheet m_sheet;
    HICON m_bigIcon = nullptr;
};

}  // namespace talo
