#include "SchemePage.h"

#include <new>

#include "AppConfig.h"
#include "Gdi.h"
#include "ResourceModule.h"
#include "SchemeEditDlg.h"

namespace talo {
namespace {

constexpr int kEffectRowHeight = 20;
constexpr int kHeadingHeight = 16;
constexpr int kScrollWidth = 16;
// The icon button on the battery page: the chooser's cell with its caption below.
constexpr int kIconButtonWidth = 90;
constexpr int kIconButtonHeight = 100;
constexpr int kDropHeight = 200;
constexpr int kLabelHeight = 14;

}  // namespace

CSchemePage::CSchemePage(CSchemeEditDlg& dialog, int ac) : m_dialog(dialog), m_ac(ac) {}

int CSchemePage::EffectAreaHeight() const {
    const int effects = m_dialog.EffectCount() * kEffectRowHeight + 50;
    const int button = kIconButtonHeight + 30;
    return effects > button ? effects : button;
}

int CSchemePage::HeightFor(int rows) const { return EffectAreaHeight() + kHeadingHeight + 10 + rows * kRowHeight + 6; }

int CSchemePage::RowCount() const { return (static_cast<int>(m_itemRows.size()) + kItemsPerRow - 1) / kItemsPerRow; }

int CSchemePage::ItemIndex(const wchar_t* variable) const {
    for (int i = 0; i < m_dialog.ItemCount() && i < static_cast<int>(m_itemRows.size()); ++i)
        if (m_dialog.GetItem(i)->variable == variable) return i;
    return -1;
}

BOOL CSchemePage::OnInitDialog(HWND, LPARAM) {
    // The page's window exists once its tab was shown: from now on OK writes its values.
    m_visited = true;
    m_font = MakeFont(m_dialog.BodyFont());
    BuildEffects();
    BuildItems();
    Layout();
    UpdatePreview();
    return TRUE;
}

void CSchemePage::BuildEffects() {
    CFrameDlg::MakeHeading(m_effectsHeading, m_hWnd, IDC_PAGE_EFFECTS_HEADING, IDS_EFFECTS_HEADING);
    CFrameDlg::MakeHeading(m_settingsHeading, m_hWnd, IDC_PAGE_SETTINGS_HEADING, IDS_SETTINGS_HEADING);

    const std::wstring notRelevant = ResString(IDS_NOT_RELEVANT_ON_AC);
    for (int k = 0; k < m_dialog.EffectCount(); ++k) {
        auto row = std::unique_ptr<EffectRow>(new (std::nothrow) EffectRow());
        if (!row) break;
        const wchar_t* name = m_dialog.GetEffect(k)->name.c_str();
        row->name.Create(m_hWnd, {0, 0, 1, 1}, IDC_PAGE_EFFECT_NAME_BASE + k, name, SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS);
        row->name.SetLogFont(m_dialog.BodyFont());
        row->name.SetText(name);
        row->bar.Create(m_hWnd, {0, 0, 1, 1}, IDC_PAGE_EFFECT_BAR_BASE + k);
        row->batteryLife = m_ac == 1 && m_dialog.IsBatteryLife(k);
        if (row->batteryLife) row->bar.SetText(notRelevant.c_str());
        m_effectRows.push_back(std::move(row));
    }
    if (m_ac == 0) {
        m_iconButton.reset(new (std::nothrow) CChangeIconBtn());
        if (m_iconButton && m_iconButton->Create(m_hWnd, {0, 0, kIconButtonWidth, kIconButtonHeight}))
            m_iconButton->SetImage(CChangeIconBtn::kFirstImage + static_cast<UINT>(m_dialog.IconNumber()));
    }
}

void CSchemePage::BuildItems() {
    for (int i = 0; i < m_dialog.ItemCount() && i < kMaxItems; ++i) {
        const CFrameDlg::Item& item = *m_dialog.GetItem(i);
        auto row = std::unique_ptr<ItemRow>(new (std::nothrow) ItemRow());
        if (!row) break;
        row->name.Create(m_hWnd, {0, 0, 1, 1}, IDC_PAGE_ITEM_NAME_BASE + i, item.name.c_str(),
                         SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_ENDELLIPSIS);
        row->name.SetLogFont(m_dialog.BodyFont());
        row->name.SetText(item.name.c_str());
        row->list = ::CreateWindowExW(0, L"COMBOBOX", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
                                      0, 0, 1, kDropHeight, m_hWnd,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PAGE_ITEM_LIST_BASE + i)),
                                      ::GetModuleHandleW(nullptr), nullptr);
        if (row->list == nullptr) break;
        ::SendMessageW(row->list, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
        ::EnableWindow(row->list, (m_ac ? item.acAvailable : item.dcAvailable) > 0);
        m_itemRows.push_back(std::move(row));
    }
    for (size_t i = 0; i < m_itemRows.size(); ++i) FillList(static_cast<int>(i), InitialOption(static_cast<int>(i)));
    // The lists that depend on another one start on what goes with its choice.
    for (const wchar_t* dependent : {L"HibernateTimeOut", L"CpuSpeedMin"}) {
        const int item = ItemIndex(dependent);
        if (item >= 0) FillList(item, ChosenOption(item));
    }
}

int CSchemePage::InitialOption(int item) const {
    const CFrameDlg::Item& entry = *m_dialog.GetItem(item);
    const int count = static_cast<int>(m_dialog.Options(item).size());
    if (m_dialog.EditMode() == CSchemeEditDlg::Mode::kNew) {
        const int option = GetCfgInt(0, PowerSettingFile().c_str(), entry.variable.c_str(),
                                     m_ac ? L"DefaultAC" : L"DefaultDC", 0);
        return option >= 0 && option < count ? option : -1;
    }
    CSchemeEx* scheme = m_dialog.Scheme();
    if (scheme == nullptr) return -1;
    return m_dialog.ShownOption(item, scheme->GetPwrVariable(m_dialog.SchemeIndex(), m_ac, entry.variable.c_str()));
}

bool CSchemePage::Allowed(int item, int option) const {
    const std::wstring& variable = m_dialog.GetItem(item)->variable;
    const bool hibernation = variable == L"HibernateTimeOut";
    if (!hibernation && variable != L"CpuSpeedMin") return true;
    const int master = ItemIndex(hibernation ? L"StandbyTimeOut" : L"CpuSpeedMax");
    const int chosen = master >= 0 ? ChosenOption(master) : -1;
    if (chosen < 0) return true;
    const int limit = m_dialog.Options(master)[static_cast<size_t>(chosen)].value;
    const int value = m_dialog.Options(item)[static_cast<size_t>(option)].value;
    // Hibernation comes after standby, or never; the minimum is not above the maximum.
    return hibernation ? value > limit || value == 0 : value <= limit;
}

void CSchemePage::FillList(int item, int option) {
    HWND list = m_itemRows[static_cast<size_t>(item)]->list;
    const std::vector<CFrameDlg::Option>& options = m_dialog.Options(item);
    ::SendMessageW(list, CB_RESETCONTENT, 0, 0);
    LRESULT chosen = -1, never = -1;
    for (size_t o = 0; o < options.size(); ++o) {
        if (!Allowed(item, static_cast<int>(o))) continue;
        const LRESULT at = ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(options[o].text.c_str()));
        if (at < 0) continue;
        ::SendMessageW(list, CB_SETITEMDATA, static_cast<WPARAM>(at), static_cast<LPARAM>(o));
        if (static_cast<int>(o) == option) chosen = at;
        if (options[o].value == 0) never = at;
    }
    if (chosen < 0 && ::SendMessageW(list, CB_GETCOUNT, 0, 0) > 0) {
        // Not allowed beside the other choice: hibernation "Never" after standby "Never",
        // else the first entry; the first minimum. Any other list keeps no choice.
        const std::wstring& variable = m_dialog.GetItem(item)->variable;
        const int standby = ItemIndex(L"StandbyTimeOut");
        const int standbyOption = standby >= 0 ? ChosenOption(standby) : -1;
        if (variable == L"HibernateTimeOut") {
            const bool standbyNever =
                standbyOption >= 0 && m_dialog.Options(standby)[static_cast<size_t>(standbyOption)].value == 0;
            chosen = standbyNever && never >= 0 ? never : 0;
        } else if (variable == L"CpuSpeedMin") {
            chosen = 0;
        }
    }
    ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(chosen), 0);
}

int CSchemePage::ChosenOption(int item) const {
    if (item < 0 || static_cast<size_t>(item) >= m_itemRows.size()) return -1;
    HWND list = m_itemRows[static_cast<size_t>(item)]->list;
    const LRESULT at = ::SendMessageW(list, CB_GETCURSEL, 0, 0);
    if (at < 0) return -1;
    return static_cast<int>(::SendMessageW(list, CB_GETITEMDATA, static_cast<WPARAM>(at), 0));
}

void CSchemePage::Refilter(int item) {
    const std::wstring& variable = m_dialog.GetItem(item)->variable;
    const int dependent = variable == L"StandbyTimeOut" ? ItemIndex(L"HibernateTimeOut")
                          : variable == L"CpuSpeedMax"  ? ItemIndex(L"CpuSpeedMin")
                                                        : -1;
    if (dependent >= 0) FillList(dependent, -1);
}

LRESULT CSchemePage::OnListCommand(WORD code, WORD id, HWND, BOOL&) {
    // A choice, not a focus or a drop-down: only a new choice changes the lists after it.
    if (code != CBN_SELCHANGE) return 0;
    const int item = id - IDC_PAGE_ITEM_LIST_BASE;
    if (item < 0 || static_cast<size_t>(item) >= m_itemRows.size()) return 0;
    Refilter(item);
    UpdatePreview();
    return 0;
}

void CSchemePage::UpdatePreview() {
    for (size_t k = 0; k < m_effectRows.size(); ++k) {
        EffectRow& row = *m_effectRows[k];
        if (row.batteryLife) continue;
        const int effect = static_cast<int>(k);
        int value = 0;
        for (size_t i = 0; i < m_itemRows.size(); ++i) {
            const CFrameDlg::Item& item = *m_dialog.GetItem(static_cast<int>(i));
            if ((m_ac ? item.acAvailable : item.dcAvailable) <= 0) continue;
            value += (ChosenOption(static_cast<int>(i)) + 1) * m_dialog.Weight(effect, static_cast<int>(i));
        }
        int first = 0, second = 0;
        m_dialog.GetEffectRange(m_ac, effect, &first, &second);
        // first is the highest sum the options can give, second lies below the lowest.
        const int span = first - second;
        row.bar.SetPos(span != 0 ? (value - second) * 100 / span : 0);
    }
}

LRESULT CSchemePage::OnChangeIcon(WORD, WORD, HWND, BOOL&) {
    CChangeIconDlg chooser(*this);
    chooser.DoModal(::GetAncestor(m_hWnd, GA_ROOT));
    return 0;
}

int CSchemePage::IconCount() const { return m_dialog.GetIconCount(); }
int CSchemePage::ChosenIcon() const { return m_dialog.IconNumber(); }
void CSchemePage::SetChosenIcon(int number) { m_dialog.SetIconNumber(number); }

LRESULT CSchemePage::OnSize(UINT, WPARAM, LPARAM, BOOL& handled) {
    handled = FALSE;
    if (!m_itemRows.empty() || !m_effectRows.empty()) Layout();
    return 0;
}

void CSchemePage::Layout() {
    RECT client = {};
    GetClientRect(&client);
    const int width = client.right;
    auto place = [](HWND control, int x, int y, int w, int h) {
        if (control != nullptr) ::MoveWindow(control, x, y, w, h, TRUE);
    };
    place(m_effectsHeading, 10, 6, width / 2, kHeadingHeight);
    const int barRight = width - (m_iconButton ? kIconButtonWidth + 30 : 20);
    for (size_t k = 0; k < m_effectRows.size(); ++k) {
        EffectRow& row = *m_effectRows[k];
        const int top = 28 + static_cast<int>(k) * kEffectRowHeight;
        place(row.name, 20, top + 2, 150, kEffectRowHeight - 4);
        if (row.batteryLife) {
            place(row.bar, 180, top + 2, barRight - 180, kEffectRowHeight - 4);
        } else {
            place(row.bar, 180, top + (kEffectRowHeight - CMyProgress::kBarHeight) / 2, barRight - 180,
                  CMyProgress::kBarHeight);
        }
    }
    if (m_iconButton) place(*m_iconButton, width - kIconButtonWidth - 15, 22, kIconButtonWidth, kIconButtonHeight);
    const int effectArea = EffectAreaHeight();
    place(m_settingsHeading, 10, effectArea + 4, width / 2, kHeadingHeight);

    m_itemTop = effectArea + kHeadingHeight + 10;
    const int fits = (client.bottom - m_itemTop - 6) / kRowHeight;
    m_visibleRows = fits < 1 ? 1 : fits > RowCount() ? RowCount() : fits;
    m_rows.Set(m_hWnd, IDC_PAGE_ITEM_SCROLL,
               {width - kScrollWidth - 4, m_itemTop, width - 4, m_itemTop + m_visibleRows * kRowHeight}, m_visibleRows,
               RowCount());
    PlaceRows();
    Invalidate();
}

void CSchemePage::PlaceRows() {
    RECT client = {};
    GetClientRect(&client);
    const int column = (client.right - 20 - (m_rows.Bar() != nullptr ? kScrollWidth + 4 : 0)) / kItemsPerRow;
    // The item's name on a line of its own (German names are long), its list below it.
    for (size_t i = 0; i < m_itemRows.size(); ++i) {
        int row = 0;
        const bool shown = m_rows.InView(static_cast<int>(i) / kItemsPerRow, &row);
        const int top = m_itemTop + (shown ? row : 0) * kRowHeight;
        const int left = 14 + static_cast<int>(i % kItemsPerRow) * column;
        const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | (shown ? SWP_SHOWWINDOW : SWP_HIDEWINDOW);
        ::SetWindowPos(m_itemRows[i]->name, nullptr, left, top, column - 20, kLabelHeight, flags);
        ::SetWindowPos(m_itemRows[i]->list, nullptr, left, top + kLabelHeight, column - 20, kDropHeight, flags);
    }
}

LRESULT CSchemePage::OnScroll(UINT, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    if (m_rows.OnScroll(wParam, lParam, handled)) Scrolled();
    return 0;
}

LRESULT CSchemePage::OnMouseWheel(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    if (m_rows.OnWheel(wParam, handled)) Scrolled();
    return 0;
}

void CSchemePage::Scrolled() {
    PlaceRows();
    Invalidate();
}

void CSchemePage::OnPaint(HDC) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    if (dc == nullptr) return;
    RECT client = {};
    GetClientRect(&client);
    // The separator between the effects and the settings.
    const RECT line = {0, EffectAreaHeight() - 2, client.right, EffectAreaHeight() - 1};
    UniqueBrush brush(CreateSolidBrush(kSeparator));
    if (brush) ::FillRect(dc, &line, brush.get());
    EndPaint(m_hWnd, &paint);
}

}  // namespace talo
