#include "SchemeEditDlg.h"

#include <cwchar>
#include <utility>
#include <vector>

#include "AppConfig.h"
#include "Gdi.h"
#include "PwrDesp.h"
#include "ResourceModule.h"

namespace talo {
namespace {

constexpr int kMargin = 10;
constexpr int kOffset = 50;  // right of and below the centre, over the main dialog
// The sheet's tabs and borders around a page.
constexpr int kSheetFrame = 32;
constexpr int kNameChars = 1024;

}  // namespace

CSchemeEditDlg::CSchemeEditDlg() : m_dcPage(*this, 0), m_acPage(*this, 1) {}

void CSchemeEditDlg::SetScheme(Mode mode, int index, const std::wstring& name) {
    m_mode = mode;
    m_index = mode == Mode::kEdit ? index : -1;
    m_name = mode == Mode::kEdit ? name : L"";
}

bool CSchemeEditDlg::OnPostInit() {
    LoadModel();
    LoadOptions();
    if (m_mode == Mode::kEdit) {
        m_iconNumber = GetSchemeIconNum(m_index);
        if (m_iconNumber < 0) m_iconNumber = 0;
    }
    SetWindowText(WindowTitle().c_str());
    m_bigIcon = LoadResIcon(IDI_SCHEME_DIALOG);
    if (m_bigIcon != nullptr) SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_bigIcon));
    Layout();
    return true;
}

void CSchemeEditDlg::Layout() {
    m_width = talo::Layout().editDlgWidth;
    const int header = HeaderHeightFor(m_width);
    const int nameTop = header + 6;
    const int sheetTop = nameTop + kNameRowHeight + 4;
    const int below = 8 + kButtonHeight + kMargin;
    const int rows = CeilMultiple(ItemCount(), CSchemePage::kItemsPerRow, 1);
    const DWORD style = static_cast<DWORD>(GetStyle());
    const DWORD exStyle = static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE));
    auto outer = [&](int visibleRows) {
        RECT rect = {0, 0, m_width, sheetTop + kSheetFrame + m_dcPage.HeightFor(visibleRows) + below};
        AdjustWindowRectEx(&rect, style, FALSE, exStyle);
        return rect;
    };
    // Every item row, unless the window would then take more than nine tenths of the work
    // area's height: then as many as fit, and the pages scroll the rest.
    RECT work = {};
    const bool haveWork = SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0) != FALSE;
    const int room = haveWork ? (work.bottom - work.top) * 9 / 10 : 0;
    m_visibleRows = rows;
    while (room > 0 && m_visibleRows > 3 && outer(m_visibleRows).bottom - outer(m_visibleRows).top > room)
        --m_visibleRows;
    const RECT window = outer(m_visibleRows);
    CenterInWorkArea(m_hWnd, window.right - window.left, window.bottom - window.top);
    // Then a little right and down, over the main dialog, as far as the work area lets it.
    RECT placed = {};
    ::GetWindowRect(m_hWnd, &placed);
    const int dx = haveWork && placed.right + kOffset > work.right ? work.right - placed.right : kOffset;
    const int dy = haveWork && placed.bottom + kOffset > work.bottom ? work.bottom - placed.bottom : kOffset;
    ::SetWindowPos(m_hWnd, nullptr, placed.left + (dx > 0 ? dx : 0), placed.top + (dy > 0 ? dy : 0), 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    RECT client = {};
    GetClientRect(&client);
    auto place = [this](int id, int x, int y, int width, int height) {
        HWND control = GetDlgItem(id);
        if (control != nullptr) ::MoveWindow(control, x, y, width, height, TRUE);
    };
    // The name row: the label, the name (fixed once the scheme exists), the status line.
    m_nameLabel.SubclassDlgItem(IDC_EDIT_NAME_LABEL, m_hWnd);
    m_nameLabel.SetLogFont(BodyFont());
    m_nameLabel.SetText(ResString(IDS_SCHEME_NAME_LABEL).c_str());
    place(IDC_EDIT_NAME_LABEL, 14, nameTop + 4, 94, 16);
    HWND name = GetDlgItem(IDC_EDIT_NAME);
    ::SendMessageW(name, WM_SETFONT, reinterpret_cast<WPARAM>(m_bodyFontHandle.get()), FALSE);
    ::SetWindowTextW(name, m_name.c_str());
    ::EnableWindow(name, m_mode == Mode::kNew);
    place(IDC_EDIT_NAME, 110, nameTop, 240, 22);
    m_status.SubclassDlgItem(IDC_EDIT_STATUS, m_hWnd);
    m_status.SetLogFont(BodyFont());
    m_status.SetTextColor(kStatusColor);
    m_status.SetText(L"");
    place(IDC_EDIT_STATUS, 360, nameTop - 3, m_width - 360 - kMargin, kNameRowHeight + 2);

    // The sheet: the battery page first, then the mains page, each with its tab's icon.
    const int buttons = client.bottom - kMargin - kButtonHeight;
    m_sheet.AddPage(m_dcPage.Describe(ResString(IDS_ON_BATTERY).c_str()));
    m_sheet.AddPage(m_acPage.Describe(ResString(IDS_ON_AC).c_str()));
    if (m_sheet.Create(m_hWnd, {6, sheetTop, m_width - 6, buttons - 8}, IDC_EDIT_SHEET)) {
        m_sheet.SetTabIcons({LoadResIcon(IDI_TAB_DC, 16, 16), LoadResIcon(IDI_TAB_AC, 16, 16)});
        // In the tab order after the name row, before the buttons.
        ::SetWindowPos(m_sheet, GetDlgItem(IDC_EDIT_STATUS), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    place(IDC_SCHEME_HELP, kMargin, buttons, kButtonWidth, kButtonHeight);
    place(IDOK, m_width - 170, buttons, kButtonWidth, kButtonHeight);
    place(IDCANCEL, m_width - 90, buttons, kButtonWidth, kButtonHeight);
}

void CSchemeEditDlg::SetStatus(const std::wstring& text) { m_status.SetText(text.c_str()); }

UINT CSchemeEditDlg::Validate(const std::wstring& name) {
    if (name.empty()) return IDS_NAME_EMPTY;
    // The configured limit, or the system's where it keeps less (29 characters on XP):
    // a name accepted here is one the system takes.
    int limit = talo::Layout().maxNameLen;
    if (Scheme() != nullptr && Scheme()->GetMaxSchemeNameLength() < limit) limit = Scheme()->GetMaxSchemeNameLength();
    if (static_cast<int>(name.size()) > limit) return IDS_NAME_TOO_LONG;
    if (m_mode != Mode::kNew) return 0;
    std::vector<PWRDESP> schemes;
    if (Scheme() != nullptr) EnumSchemes(*Scheme(), schemes);
    for (const PWRDESP& scheme : schemes)
        if (scheme.name == name) return IDS_NAME_EXISTS;
    if (!m_acPage.Visited()) return IDS_AC_PAGE_UNSEEN;
    if (!m_dcPage.Visited()) return IDS_DC_PAGE_UNSEEN;
    return 0;
}

bool CSchemeEditDlg::CreateScheme(const std::wstring& name) {
    std::vector<PWRDESP> schemes;
    const int base = Scheme() != nullptr && EnumSchemes(*Scheme(), schemes) && !schemes.empty() ? schemes.front().index : 0;
    const int index = Scheme() != nullptr ? Scheme()->AddPwrScheme(name.c_str(), L"", base) : -1;
    if (index < 0) {
        MessageBoxW(m_hWnd, ResString(IDS_CREATE_FAILED).c_str(), nullptr, MB_OK);
        return false;
    }
    const std::wstring profile = ProfileFile();
    const std::wstring section = Numbered(L"Scheme", index);
    PutProfileInt(profile.c_str(), section.c_str(), L"IfDefault", 0);
    PutProfileInt(profile.c_str(), section.c_str(), L"IconNum", m_iconNumber);
    PutProfileInt(profile.c_str(), section.c_str(), L"IfShow", 1);
    // From here on the scheme exists: a later OK writes into it and keeps its name.
    m_index = index;
    m_created = true;
    m_mode = Mode::kEdit;
    ::EnableWindow(GetDlgItem(IDC_EDIT_NAME), FALSE);
    return true;
}

int CSchemeEditDlg::SaveItem(int item, int ac) {
    const int option = Page(ac).ChosenOption(item);
    const std::vector<Option>& options = Options(item);
    if (option < 0 || static_cast<size_t>(option) >= options.size() || Scheme() == nullptr) return 0;
    return Scheme()->SetPwrVariable(m_index, ac, GetItem(item)->variable.c_str(),
                                    options[static_cast<size_t>(option)].value);
}

bool CSchemeEditDlg::SaveValues(int* refusedItem, int* refusedAc) {
    std::vector<std::pair<int, int>> refused;  // (item, ac)
    for (int i = 0; i < ItemCount(); ++i) {
        const Item& item = *GetItem(i);
        for (int ac : {1, 0}) {
            if ((ac ? item.acAvailable : item.dcAvailable) <= 0 || !Page(ac).Visited()) continue;
            const int result = SaveItem(i, ac);
            if (result != -1 && result != -2) continue;
            wchar_t line[64];
            swprintf(line, 64, L"Set %ls scheme values failed: item%d.\n", ac ? L"AC" : L"DC", i);
            OutputDebugStringW(line);
            refused.emplace_back(i, ac);
        }
    }
    // A value may have been refused for the old value of one written after it (on XP a
    // standby time at or beyond the hibernation time still stored): once more at the end.
    for (const auto& [item, ac] : refused) {
        const int result = SaveItem(item, ac);
        if (result == -1 || result == -2) {
            *refusedItem = item;
            *refusedAc = ac;
            return false;
        }
    }
    return true;
}

LRESULT CSchemeEditDlg::OnOk(WORD, WORD, HWND, BOOL&) {
    wchar_t text[kNameChars] = L"";
    ::GetWindowTextW(GetDlgItem(IDC_EDIT_NAME), text, kNameChars);
    const std::wstring name = text;
    if (const UINT failure = Validate(name)) {
        SetStatus(ResString(failure));
        return 0;
    }
    if (m_mode == Mode::kNew && !CreateScheme(name)) return 0;
    int item = -1, ac = -1;
    if (!SaveValues(&item, &ac)) {
        // Not dropped in silence: the user learns which setting the system did not take,
        // and the dialog stays open to choose another value.
        wchar_t line[512] = L"";
        swprintf(line, 512, ResString(IDS_VALUE_REFUSED).c_str(), GetItem(item)->name.c_str(),
                 ResString(ac ? IDS_ON_AC : IDS_ON_BATTERY).c_str());
        SetStatus(line);
        return 0;
    }
    PutProfileInt(ProfileFile().c_str(), Numbered(L"Scheme", m_index).c_str(), L"IconNum", m_iconNumber);
    EndDialog(IDOK);
    return 0;
}

LRESULT CSchemeEditDlg::OnHelpButton(WORD, WORD, HWND, BOOL&) {
    ShowHelp(HelpTopic());
    return 0;
}

}  // namespace talo
