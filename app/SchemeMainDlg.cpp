#include "SchemeMainDlg.h"

#include <new>

#include "AppConfig.h"
#include "ConfirmDlg.h"
#include "DeviceItems.h"
#include "DeviceShowDlg.h"
#include "Gdi.h"
#include "PowerSnapshot.h"
#include "ResourceModule.h"
#include "SchemeOptionDlg.h"
#include "WarningDlg.h"

namespace talo {
namespace {

constexpr int kMargin = 10;
constexpr int kIconSize = 16;
constexpr int kScrollWidth = 16;

void FillRect(HDC dc, const RECT& rect, COLORREF colour) {
    UniqueBrush brush(CreateSolidBrush(colour));
    if (brush) ::FillRect(dc, &rect, brush.get());
}

void FrameRect(HDC dc, const RECT& rect, COLORREF colour) {
    UniqueBrush brush(CreateSolidBrush(colour));
    if (brush) ::FrameRect(dc, &rect, brush.get());
}

}  // namespace

void CSchemeMainDlg::Place(int id, int x, int y, int width, int height) const {
    HWND control = GetDlgItem(id);
    if (control != nullptr) ::MoveWindow(control, x, y, width, height, TRUE);
}

bool CSchemeMainDlg::OnPostInit() {
    LoadModel();
    if (Scheme() == nullptr) return true;
    m_active = Scheme()->GetActivePwrScheme();
    if (m_active < 0) return true;
    m_selected = m_active;

    // The title the hub looks for when the dialog is asked for a second time.
    SetWindowText(WindowTitle().c_str());
    m_bigIcon = LoadResIcon(IDI_SCHEME_DIALOG);
    if (m_bigIcon != nullptr) SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_bigIcon));
    m_acIcon = LoadResIcon(IDI_COLUMN_AC, kIconSize, kIconSize);
    m_dcIcon = LoadResIcon(IDI_COLUMN_DC, kIconSize, kIconSize);

    // The catalogue of every listed item, read once: the rows are redrawn from it.
    LoadOptions();

    Layout();
    BuildEffectTable();
    BuildItemTable();
    FillSchemeList();
    ShowScheme(m_selected);
    UpdateButtons();
    return true;
}

void CSchemeMainDlg::Layout() {
    const LayoutSettings& layout = talo::Layout();
    m_width = layout.mainDlgWidth;
    m_effectHeight = EffectCount() * layout.effectItemHeight + kEffectTableExtra;
    const int header = HeaderHeightFor(m_width);
    const int fixed = header + kSchemeRowHeight + m_effectHeight + kItemTableExtra + 116;
    // Every settings row, unless the window would then take more than nine tenths of the
    // work area's height (37 rows on Vista make it about 1150 pixels high, and the buttons
    // would be off a 768-pixel screen): then as many as fit, and a scroll bar for the rest.
    m_visibleRows = ItemCount();
    RECT work = {};
    const int room = SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0) ? (work.bottom - work.top) * 9 / 10 : 0;
    if (layout.schemeItemHeight > 0 && room > 0 && fixed + m_visibleRows * layout.schemeItemHeight > room) {
        const int fits = (room - fixed) / layout.schemeItemHeight;
        m_visibleRows = fits > 3 ? fits : 3;
    }
    m_itemHeight = m_visibleRows * layout.schemeItemHeight + kItemTableExtra;
    // The window's outer height; its client area is that less the system's caption and
    // borders, taken from the bottom margin.
    const int height = fixed - kItemTableExtra + m_itemHeight;
    RECT outer = {0, 0, m_width, height};
    AdjustWindowRectEx(&outer, static_cast<DWORD>(GetStyle()), FALSE,
                       static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE)));
    CenterInWorkArea(m_hWnd, outer.right - outer.left, height);

    // The scheme row: the label over the list, the three buttons beside the list.
    const int rowTop = header + 8;
    m_schemeLabel.SubclassDlgItem(IDC_MAIN_SCHEME_LABEL, m_hWnd);
    m_schemeLabel.SetLogFont(BodyFont());
    m_schemeLabel.SetText(ResString(IDS_SCHEME_NAME_LABEL).c_str());
    Place(IDC_MAIN_SCHEME_LABEL, 21, rowTop, 230, 16);
    Place(IDC_MAIN_SCHEME_LIST, 21, rowTop + 18, 230, 200);
    Place(IDC_MAIN_NEW, 271, rowTop + 15, 78, kButtonHeight);
    Place(IDC_MAIN_EDIT, 350, rowTop + 15, 78, kButtonHeight);
    Place(IDC_MAIN_DELETE, 430, rowTop + 15, 78, kButtonHeight);
    ::SendMessageW(GetDlgItem(IDC_MAIN_SCHEME_LIST), WM_SETFONT, reinterpret_cast<WPARAM>(m_bodyFontHandle.get()),
                   FALSE);

    m_effectTop = rowTop + 18 + kSchemeRowHeight;
    m_itemTop = m_effectTop + m_effectHeight + 8;
    const int buttons = m_itemTop + m_itemHeight + 6;
    Place(IDC_MAIN_OPTIONS, 16, buttons, kButtonWidth, kButtonHeight);
    Place(IDC_SCHEME_HELP, 96, buttons, kButtonWidth, kButtonHeight);
    Place(IDOK, m_width - 248, buttons, kButtonWidth, kButtonHeight);
    Place(IDC_MAIN_ACTIVATE, m_width - 169, buttons, kButtonWidth, kButtonHeight);
    Place(IDCANCEL, m_width - 88, buttons, kButtonWidth, kButtonHeight);
}

void CSchemeMainDlg::BuildEffectTable() {
    const int third = m_width / 3;
    struct Head {
        CTALOStatic& label;
        int id;
        UINT text;
        int x;
    } heads[] = {
        {m_effectsHeading, IDC_MAIN_EFFECTS_HEADING, IDS_EFFECTS_HEADING, kMargin + 11},
        {m_dcHeading, IDC_MAIN_DC_HEADING, IDS_ON_BATTERY, third + kMargin + kIconSize + 4},
        {m_acHeading, IDC_MAIN_AC_HEADING, IDS_ON_AC, 2 * third + kMargin + kIconSize + 4},
    };
    for (Head& head : heads) {
        MakeHeading(head.label, m_hWnd, head.id, head.text);
        Place(head.id, head.x, m_effectTop + 8, third - kIconSize - 2 * kMargin, 16);
    }

    const int rowHeight = talo::Layout().effectItemHeight;
    const std::wstring notRelevant = ResString(IDS_NOT_RELEVANT_ON_AC);
    for (int k = 0; k < EffectCount(); ++k) {
        auto row = std::unique_ptr<EffectRow>(new (std::nothrow) EffectRow());
        if (!row) break;
        const int top = m_effectTop + 32 + k * rowHeight;
        row->name.Create(m_hWnd, {kMargin + 11, top + 2, third - 4, top + rowHeight - 2}, IDC_MAIN_EFFECT_NAME_BASE + k,
                         GetEffect(k)->name.c_str(), SS_LEFT | SS_NOPREFIX);
        row->name.SetLogFont(BodyFont());
        row->name.SetText(GetEffect(k)->name.c_str());
        const int barTop = top + (rowHeight - CMyProgress::kBarHeight) / 2;
        row->dcBar.Create(m_hWnd, {third + kMargin, barTop, 2 * third - kMargin, barTop + CMyProgress::kBarHeight},
                          IDC_MAIN_EFFECT_DC_BAR_BASE + k);
        row->batteryLife = IsBatteryLife(k);
        if (row->batteryLife) {
            row->acBar.Create(m_hWnd, {2 * third + kMargin, top + 2, m_width - kMargin, top + rowHeight - 2},
                              IDC_MAIN_EFFECT_AC_BAR_BASE + k);
            row->acBar.SetText(notRelevant.c_str());
        } else {
            row->acBar.Create(m_hWnd,
                              {2 * third + kMargin, barTop, m_width - kMargin, barTop + CMyProgress::kBarHeight},
                              IDC_MAIN_EFFECT_AC_BAR_BASE + k);
        }
        m_effectRows.push_back(std::move(row));
    }
}

void CSchemeMainDlg::BuildItemTable() {
    const int third = m_width / 3;
    MakeHeading(m_settingsHeading, m_hWnd, IDC_MAIN_SETTINGS_HEADING, IDS_SETTINGS_HEADING);
    Place(IDC_MAIN_SETTINGS_HEADING, kMargin + 11, m_itemTop + 8, third - kMargin - 15, 16);

    const int rowHeight = talo::Layout().schemeItemHeight;
    for (int i = 0; i < ItemCount(); ++i) {
        const Item& item = m_items[static_cast<size_t>(i)];
        auto row = std::unique_ptr<ItemRow>(new (std::nothrow) ItemRow());
        if (!row) break;
        const int top = m_itemTop + 28 + i * rowHeight;
        const struct {
            CTALOStatic& label;
            int id;
            int left;
            int right;
        } cells[] = {
            {row->name, IDC_MAIN_ITEM_NAME_BASE + i, kMargin + 11, third - 4},
            {row->dcValue, IDC_MAIN_ITEM_DC_VALUE_BASE + i, third + kMargin, 2 * third - 4},
            {row->acValue, IDC_MAIN_ITEM_AC_VALUE_BASE + i, 2 * third + kMargin, m_width - kMargin},
        };
        for (const auto& cell : cells) {
            cell.label.Create(m_hWnd, {cell.left, top + 2, cell.right, top + rowHeight - 2}, cell.id, L"",
                              SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS);
            cell.label.SetLogFont(BodyFont());
        }
        row->name.SetText(item.name.c_str());
        m_itemRows.push_back(std::move(row));
    }
    const int top = m_itemTop + 28;
    const int left = m_width - kMargin - kScrollWidth - 1;
    m_rows.Set(m_hWnd, IDC_MAIN_ITEM_SCROLL, {left, top, left + kScrollWidth, top + m_visibleRows * rowHeight},
               m_visibleRows, ItemCount());
    PlaceItemRows();
}

void CSchemeMainDlg::PlaceItemRows() {
    const int third = m_width / 3;
    const int rowHeight = talo::Layout().schemeItemHeight;
    const int right = m_width - kMargin - (m_rows.Bar() != nullptr ? kScrollWidth + 2 : 0);
    for (size_t i = 0; i < m_itemRows.size(); ++i) {
        int place = 0;
        const bool shown = m_rows.InView(static_cast<int>(i), &place);
        const int top = m_itemTop + 28 + (shown ? place : 0) * rowHeight + 2;
        ItemRow& row = *m_itemRows[i];
        const struct {
            CTALOStatic& label;
            int left;
            int right;
        } cells[] = {
            {row.name, kMargin + 11, third - 4},
            {row.dcValue, third + kMargin, 2 * third - 4},
            {row.acValue, 2 * third + kMargin, right},
        };
        for (const auto& cell : cells) {
            ::SetWindowPos(cell.label, nullptr, cell.left, top, cell.right - cell.left, rowHeight - 4,
                           SWP_NOZORDER | SWP_NOACTIVATE | (shown ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
        }
    }
}

void CSchemeMainDlg::ItemsScrolled() {
    PlaceItemRows();
    const RECT table = {kMargin, m_itemTop, m_width - kMargin, m_itemTop + m_itemHeight - 8};
    ::InvalidateRect(m_hWnd, &table, FALSE);
}

LRESULT CSchemeMainDlg::OnScroll(UINT, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    if (m_rows.OnScroll(wParam, lParam, handled)) ItemsScrolled();
    return 0;
}

LRESULT CSchemeMainDlg::OnMouseWheel(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    if (m_rows.OnWheel(wParam, handled)) ItemsScrolled();
    return 0;
}

void CSchemeMainDlg::FillSchemeList() {
    HWND list = GetDlgItem(IDC_MAIN_SCHEME_LIST);
    ::SendMessageW(list, CB_RESETCONTENT, 0, 0);
    m_schemes.clear();
    if (Scheme() == nullptr || !EnumSchemes(*Scheme(), m_schemes)) return;
    m_active = Scheme()->GetActivePwrScheme();
    if (m_active < 0) return;
    m_selected = m_active;
    for (const PWRDESP& scheme : m_schemes) {
        const LRESULT at = ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(scheme.name.c_str()));
        if (scheme.index == m_active && at >= 0) ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(at), 0);
    }
}

void CSchemeMainDlg::ShowScheme(int scheme) {
    if (scheme < 0 || Scheme() == nullptr) return;
    for (auto& row : m_effectRows) row->value[0] = row->value[1] = 0;
    for (size_t i = 0; i < m_itemRows.size(); ++i) {
        const Item& item = m_items[i];
        for (int ac : {1, 0}) {
            CTALOStatic& text = ac ? m_itemRows[i]->acValue : m_itemRows[i]->dcValue;
            if ((ac ? item.acAvailable : item.dcAvailable) <= 0) {
                text.SetText(L"-");
                continue;
            }
            const int value = Scheme()->GetPwrVariable(scheme, ac, item.variable.c_str());
            const int option = ShownOption(static_cast<int>(i), value);
            if (option < 0) {
                text.SetText(L"");
                continue;
            }
            text.SetText(Options(static_cast<int>(i))[static_cast<size_t>(option)].text.c_str());
            for (size_t k = 0; k < m_effectRows.size(); ++k)
                m_effectRows[k]->value[ac] += (option + 1) * Weight(static_cast<int>(k), static_cast<int>(i));
        }
    }
    for (size_t k = 0; k < m_effectRows.size(); ++k) {
        EffectRow& row = *m_effectRows[k];
        for (int ac : {1, 0}) {
            if (ac && row.batteryLife) continue;
            int first = 0, second = 0;
            GetEffectRange(ac, static_cast<int>(k), &first, &second);
            // first is the highest sum the options can give, second lies below the lowest.
            const int span = first - second;
            const int position = span != 0 ? (row.value[ac] - second) * 100 / span : 0;
            (ac ? row.acBar : row.dcBar).SetPos(position);
        }
    }
    Invalidate(false);
}

void CSchemeMainDlg::UpdateButtons() {
    const int isDefault = GetSchemeIfDefault(m_selected);
    const bool active = m_selected == m_active;
    ::EnableWindow(GetDlgItem(IDC_MAIN_EDIT), !active && isDefault == 0);
    ::EnableWindow(GetDlgItem(IDC_MAIN_DELETE), !active && isDefault == 0);
    ::EnableWindow(GetDlgItem(IDC_MAIN_ACTIVATE), !active);
    ::EnableWindow(GetDlgItem(IDOK), TRUE);
    m_selectionActive = active ? 1 : 0;
}

void CSchemeMainDlg::DrawFrame(HDC dc, int width) {
    CFrameDlg::DrawFrame(dc, width);
    if (m_width == 0) return;
    const int third = m_width / 3;
    const RECT tables[] = {
        {kMargin, m_effectTop, m_width - kMargin, m_effectTop + m_effectHeight - 8},
        {kMargin, m_itemTop, m_width - kMargin, m_itemTop + m_itemHeight - 8},
    };
    for (const RECT& table : tables) {
        FillRect(dc, table, kTableFill);
        FrameRect(dc, table, kTableFrame);
        for (int x : {third, 2 * third}) {
            const RECT line = {x, table.top + 1, x + 1, table.bottom - 1};
            FillRect(dc, line, kSeparator);
        }
    }
    // The source icons head the middle and right columns of the effect table.
    if (m_dcIcon != nullptr)
        DrawIconEx(dc, third + kMargin, m_effectTop + 8, m_dcIcon, kIconSize, kIconSize, 0, nullptr, DI_NORMAL);
    if (m_acIcon != nullptr)
        DrawIconEx(dc, 2 * third + kMargin, m_effectTop + 8, m_acIcon, kIconSize, kIconSize, 0, nullptr, DI_NORMAL);
}

LRESULT CSchemeMainDlg::OnSchemeChosen(WORD, WORD, HWND, BOOL&) {
    wchar_t text[MAX_PATH] = L"";
    ::GetWindowTextW(GetDlgItem(IDC_MAIN_SCHEME_LIST), text, MAX_PATH);
    std::vector<PWRDESP> schemes;
    if (Scheme() == nullptr || !EnumSchemes(*Scheme(), schemes)) {
        OutputDebugStringW(L"Enumerate power scheme Failed with error code.\n");
        return 0;
    }
    for (const PWRDESP& scheme : schemes) {
        if (scheme.name != text) continue;
        m_selected = scheme.index;
        ShowScheme(m_selected);
        UpdateButtons();
        break;
    }
    return 0;
}

bool CSchemeMainDlg::RunSchemeEditor(EditMode mode, int schemeIndex, const std::wstring& name) {
    CSchemeEditDlg editor;
    editor.SetScheme(mode, schemeIndex, name);
    const INT_PTR result = editor.DoModal(m_hWnd);
    return result == IDOK || editor.Created();
}

LRESULT CSchemeMainDlg::OnNew(WORD, WORD, HWND, BOOL&) {
    std::vector<PWRDESP> schemes;
    if (Scheme() != nullptr) EnumSchemes(*Scheme(), schemes);
    if (static_cast<int>(schemes.size()) < talo::Layout().maxSchemeNum) {
        if (RunSchemeEditor(EditMode::kNew, -1, L"")) {
            FillSchemeList();
            ShowScheme(m_selected);
            UpdateButtons();
        }
        return 0;
    }
    CWarningDlg warning;
    warning.SetTexts(kProductLongName, ResString(IDS_TOO_MANY_SCHEMES).c_str());
    warning.DoModal(m_hWnd);
    return 0;
}

LRESULT CSchemeMainDlg::OnEdit(WORD, WORD, HWND, BOOL&) {
    if (m_selected == m_active || GetSchemeIfDefault(m_selected) != 0) return 0;
    std::wstring name;
    for (const PWRDESP& scheme : m_schemes)
        if (scheme.index == m_selected) name = scheme.name;
    if (RunSchemeEditor(EditMode::kEdit, m_selected, name)) ShowScheme(m_selected);
    return 0;
}

LRESULT CSchemeMainDlg::OnDelete(WORD, WORD, HWND, BOOL&) {
    // Neither the active scheme nor one of the product's own is deleted, whatever state the
    // button is in.
    if (m_selected == m_active || GetSchemeIfDefault(m_selected) != 0 || Scheme() == nullptr) return 0;
    CConfirmDlg confirm;
    confirm.SetTexts(kProductLongName, ResString(IDS_DELETE_CONFIRM).c_str());
    if (confirm.DoModal(m_hWnd) == IDCANCEL) return 0;
    const bool deleted = Scheme()->DeletePwrScheme(m_selected) > 0;
    MessageBoxW(m_hWnd, ResString(deleted ? IDS_DELETE_DONE : IDS_DELETE_FAILED).c_str(), kProductLongName, MB_OK);
    FillSchemeList();
    ShowScheme(m_selected);
    UpdateButtons();
    return 0;
}

void CSchemeMainDlg::Activate() {
    const int ac = CurrentPower().AcFlag();
    if (ac < 0 || Scheme() == nullptr) return;  // no poll yet: the power source is not known
    if (ReadDevShowFlag() == 1) {
        // One device dialog at a time: while another one asks, nothing is switched.
        CDeviceShowDlg devices;
        if (devices.Show(m_selected, ac, m_hWnd) == CDeviceShowDlg::kAlreadyOpen) return;
    } else {
        ComputeDeviceStates(DeviceItems(), m_selected, ac);
    }
    Scheme()->SetActivePwrScheme(m_selected);
    m_active = Scheme()->GetActivePwrScheme();
    UpdateButtons();
}

LRESULT CSchemeMainDlg::OnActivate(WORD, WORD, HWND, BOOL&) {
    Activate();
    return 0;
}

LRESULT CSchemeMainDlg::OnOk(WORD, WORD, HWND, BOOL&) {
    if (!m_selectionActive) Activate();
    EndDialog(IDOK);
    return 0;
}

LRESULT CSchemeMainDlg::OnOptions(WORD, WORD, HWND, BOOL&) {
    CSchemeOptionDlg options;
    options.DoModal(m_hWnd);
    return 0;
}

LRESULT CSchemeMainDlg::OnHelpButton(WORD, WORD, HWND, BOOL&) {
    ShowHelp();
    return 0;
}

}  // namespace talo
