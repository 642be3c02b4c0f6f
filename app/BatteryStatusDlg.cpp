#include "BatteryStatusDlg.h"

#include <batclass.h>

#include <algorithm>
#include <cwchar>
#include <new>

#include "AppConfig.h"
#include "BalloonDlg.h"
#include "BatAgent.h"
#include "CatalogueTexts.h"
#include "ResourceModule.h"
#include "SchemeEx.h"

namespace talo {
namespace {

constexpr wchar_t kSection[] = L"BatteryInforList";
// More items than this are taken for a damaged file.
constexpr int kMaxItems = 200;

std::wstring ResText(UINT id) {
    wchar_t text[256] = L"";
    LoadResString(id, text, 256);
    return text;
}

std::wstring Key(const wchar_t* list, const wchar_t* field, int index) {
    return Numbered((std::wstring(list) + field).c_str(), index);
}

int ListInt(const std::wstring& key) { return GetCfgInt(0, CfgFileName(), kSection, key.c_str(), 0); }

std::wstring ListString(const std::wstring& key) {
    std::wstring value;
    GetCfgString(CfgFileName(), kSection, key.c_str(), value);
    return value;
}

}  // namespace

CBatteryStatusDlg::~CBatteryStatusDlg() = default;

// ---- formatting ----

bool CBatteryStatusDlg::IsDoubleFormat(const wchar_t* format) {
    if (format == nullptr || *format == L'\0') return false;
    int conversions = 0;
    for (const wchar_t* p = format; *p != L'\0'; ++p) {
        if (*p != L'%') continue;
        if (p[1] == L'%') {
            ++p;
            continue;
        }
        ++p;
        while (*p != L'\0' && wcschr(L"-+ #0123456789.", *p) != nullptr) ++p;
        if (*p == L'\0' || wcschr(L"feEgG", *p) == nullptr) return false;
        ++conversions;
    }
    return conversions <= 1;
}

float CBatteryStatusDlg::Scale(float value, int factor) {
    if (factor > 0) return value * static_cast<float>(factor);
    if (factor < 0) return value / static_cast<float>(-static_cast<long long>(factor));
    return value;
}

// ---- initialisation ----

bool CBatteryStatusDlg::OnPostInit() {
    SetWindowText(ResText(IDS_BATTERY_STATUS).c_str());
    m_scheme.reset(new (std::nothrow) CSchemeEx());
    if (m_scheme) {
        m_scheme->Initialize();
        if (StartFlag() == 0) {
            m_scheme->InitCfgFile();
            SetStartFlag();
        }
    }
    // The dialog's own reading of the batteries: the count when a battery is present.
    PollPower(m_power, m_reading);
    m_batteryCount = m_power.batteryCount;
    ReadItems();

    m_logFont = MakeLogFont(L"Tahoma", 13, 5, FW_NORMAL);
    m_font = MakeFont(m_logFont);
    const int rows = CeilMultiple(m_shownCount, 2, 1);
    CenterInWorkArea(m_hWnd, kWidth, HeaderHeightFor(kWidth) + kHeightBase + kRowPitch * rows);
    PlaceControls();
    FillSelector();
    CreateRows();
    Refresh();
    SetTimer(m_hWnd, kRefreshTimer, kRefreshMs, nullptr);
    return true;
}

void CBatteryStatusDlg::ReadItems() {
    m_items.clear();
    m_shownCount = 0;
    const struct {
        const wchar_t* list;
        CatalogueText label;
    } lists[] = {{L"BA", CatalogueText::kBatteryBasicLabel}, {L"BEA", CatalogueText::kBatteryExtendedLabel}};
    for (const auto& list : lists) {
        const int count = std::min(ListInt(std::wstring(list.list) + L"ItemNum"), kMaxItems);
        for (int d = 0; d < count; ++d) {
            Item item;
            item.list = list.list;
            item.index = d;
            item.name = ListString(Key(list.list, L"Name", d));
            item.shown = ListInt(Key(list.list, L"Show", d));
            item.description =
                CatalogueString(list.label, nullptr, d, ListString(Key(list.list, L"Description", d)));
            if (item.shown == 1) ++m_shownCount;
            m_items.push_back(std::move(item));
        }
    }
}

void CBatteryStatusDlg::Place(int id, int x, int y, int width, int height) const {
    HWND control = GetDlgItem(id);
    if (control != nullptr) ::MoveWindow(control, x, y, width, height, TRUE);
}

// Below the header: the selection group, then the information group with the four column
// headings and the rows, and Close in the bottom right corner.
void CBatteryStatusDlg::PlaceControls() {
    RECT client = {};
    GetClientRect(&client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    const int top = HeaderHeight();
    const int* column = talo::Layout().batteryColumn;

    const UINT groups[] = {IDS_BATTERY_SELECT_GROUP, IDS_BATTERY_INFO_GROUP};
    const int groupIds[] = {IDC_BATTERY_SELECT_GROUP, IDC_BATTERY_INFO_GROUP};
    for (int g = 0; g < 2; ++g) {
        HWND group = GetDlgItem(groupIds[g]);
        if (group != nullptr) ::SetWindowTextW(group, ResText(groups[g]).c_str());
    }
    Place(IDC_BATTERY_SELECT_GROUP, kTableLeft, top + 6, width - 2 * kTableLeft, 46);
    Place(IDC_BATTERY_SELECTOR_LABEL, kTableLeft + column[0], top + 26, 90, 16);
    Place(IDC_BATTERY_SELECTOR, kTableLeft + column[1], top + 22, 160, 200);

    const int tableTop = top + 60;
    Place(IDC_BATTERY_INFO_GROUP, kTableLeft, tableTop, width - 2 * kTableLeft, height - 44 - tableTop);
    const int headingIds[] = {IDC_BATTERY_LEFT_NAME_HEADING, IDC_BATTERY_LEFT_VALUE_HEADING,
                              IDC_BATTERY_RIGHT_NAME_HEADING, IDC_BATTERY_RIGHT_VALUE_HEADING};
    const UINT headingTexts[] = {IDS_BATTERY_LEFT_NAME_HEADING, IDS_BATTERY_LEFT_VALUE_HEADING,
                                 IDS_BATTERY_RIGHT_NAME_HEADING, IDS_BATTERY_RIGHT_VALUE_HEADING};
    LOGFONTW headingFont = m_logFont;
    headingFont.lfWeight = FW_BOLD;
    for (int k = 0; k < 4; ++k) {
        const int right = k < 3 ? kTableLeft + column[k + 1] : kValueRight;
        Place(headingIds[k], kTableLeft + column[k], tableTop + 16, right - kTableLeft - column[k], kRowHeight);
        if (m_headings[k].m_hWnd == nullptr) m_headings[k].SubclassDlgItem(headingIds[k], m_hWnd);
        m_headings[k].SetLogFont(headingFont);
        m_headings[k].SetText(ResText(headingTexts[k]).c_str());
    }
    Place(IDCANCEL, width - kTableLeft - 80, height - 34, 80, 25);

    const int rows = CeilMultiple(m_shownCount, 2, 1);
    const int rowsTop = tableTop + kRowsTop;
    const int rowsBottom = rowsTop + kRowPitch * rows;
    m_leftValues = RECT{kTableLeft + column[1], rowsTop, kTableLeft + column[2], rowsBottom};
    m_rightValues = RECT{kTableLeft + column[3], rowsTop, kRepaintRight, rowsBottom};
}

void CBatteryStatusDlg::FillSelector() {
    HWND selector = GetDlgItem(IDC_BATTERY_SELECTOR);
    if (selector == nullptr) return;
    ::SendMessageW(selector, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
    ::SendMessageW(selector, CB_RESETCONTENT, 0, 0);
    const std::wstring name = ResText(IDS_BATTERY_NAME);
    for (int n = 1; n <= m_batteryCount; ++n) {
        const std::wstring entry = name + L" " + std::to_wstring(n);
        ::SendMessageW(selector, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    }
    ::SendMessageW(selector, CB_SETCURSEL, 0, 0);
    m_selected = static_cast<int>(::SendMessageW(selector, CB_GETCURSEL, 0, 0));
}

// The first half of the shown items (rounded up) on the left, the rest on the right, row
// k of each half at the same height.
void CBatteryStatusDlg::CreateRows() {
    const int* column = talo::Layout().batteryColumn;
    const int rows = CeilMultiple(m_shownCount, 2, 1);
    int shown = 0;
    for (const Item& item : m_items) {
        if (item.shown != 1) continue;
        const bool left = shown < rows;
        const int row = left ? shown : shown - rows;
        const int top = m_leftValues.top + kRowPitch * row;
        const int labelLeft = kTableLeft + (left ? column[0] : column[2]);
        const int valueLeft = kTableLeft + (left ? column[1] : column[3]);
        const int valueRight = left ? kTableLeft + column[2] : kValueRight;
        auto label = std::make_unique<CTALOStatic>();
        auto value = std::make_unique<CTALOStatic>();
        const RECT labelRect = {labelLeft, top, valueLeft, top + kRowHeight};
        const RECT valueRect = {valueLeft, top, valueRight, top + kRowHeight};
        const std::wstring text = item.description + L":";
        label->Create(m_hWnd, labelRect, IDC_BATTERY_ROW_LABEL_BASE + shown, text.c_str(),
                      SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS);
        value->Create(m_hWnd, valueRect, IDC_BATTERY_ROW_VALUE_BASE + shown, L" ",
                      SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS);
        label->SetLogFont(m_logFont);
        value->SetLogFont(m_logFont);
        m_labels.push_back(std::move(label));
        m_values.push_back(std::move(value));
        ++shown;
    }
}

// ---- refresh ----

LRESULT CBatteryStatusDlg::OnTimer(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    if (wParam != kRefreshTimer) {
        handled = FALSE;
        return 0;
    }
    Refresh();
    return 0;
}

// A battery chosen shows its values at once, not at the next refresh.
LRESULT CBatteryStatusDlg::OnSelect(WORD, WORD, HWND, BOOL&) {
    Refresh();
    return 0;
}

void CBatteryStatusDlg::Refresh() {
    PollPower(m_power, m_reading);
    // A battery put in or taken out while the dialog is open changes the selector.
    if (m_power.batteryCount != m_batteryCount) {
        const int selected = static_cast<int>(SendDlgItemMessageW(m_hWnd, IDC_BATTERY_SELECTOR, CB_GETCURSEL, 0, 0));
        m_batteryCount = m_power.batteryCount;
        FillSelector();
        if (selected > 0 && selected < m_batteryCount)
            SendDlgItemMessageW(m_hWnd, IDC_BATTERY_SELECTOR, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
    }
    m_selected = static_cast<int>(SendDlgItemMessageW(m_hWnd, IDC_BATTERY_SELECTOR, CB_GETCURSEL, 0, 0));
    size_t row = 0;
    for (const Item& item : m_items) {
        if (item.shown != 1) continue;
        if (row < m_values.size()) m_values[row]->SetText(ValueText(item).c_str());
        ++row;
    }
    RepaintValues();
}

// The value labels are transparent: a new text is drawn over what the dialog paints
// beneath, so both value columns are erased and drawn again.
void CBatteryStatusDlg::RepaintValues() {
    for (const RECT* area : {&m_leftValues, &m_rightValues})
        RedrawWindow(m_hWnd, area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

std::wstring CBatteryStatusDlg::ValueText(const Item& item) {
    const bool present = m_reading.BatteryPresent != 0;
    if (item.name == kStateItem) return StateText();
    if (item.name == kPercentageItem) {
        if (m_selected < 0) return L"0%";
        int percent = 0;
        long long seconds = 0;
        if (present) Figures(&percent, &seconds);
        return std::to_wstring(percent) + L"%";
    }
    if (item.name == kTimeItem) {
        if (m_power.sourceState == PowerSnapshot::kAcIdle) return L"--";
        if (m_selected < 0) return L"0 " + ResText(IDS_BATTERY_TIME_UNIT);
        int percent = 0;
        long long seconds = 0;
        if (present) Figures(&percent, &seconds);
        // The time as the balloon writes it: all the hours, "N/A" while unknown.
        return RemainingTimeText(static_cast<int>(seconds)) + L" " + ResText(IDS_BATTERY_TIME_UNIT);
    }
    return InformationText(item);
}

// The last matching bit wins: a battery that is charging and critical shows "critical".
std::wstring CBatteryStatusDlg::StateText() {
    if (m_selected < 0) return ResText(IDS_NO_BATTERY);
    if (!m_reading.BatteryPresent) return L"";
    UINT text = IDS_BATTERY_UNKNOWN;
    BATTERY_STATUS status = {};
    if (m_scheme && m_scheme->GetBatteryStatus(m_selected, status) == 0) {
        if (status.PowerState & BATTERY_DISCHARGING) text = IDS_BATTERY_DISCHARGING;
        if (status.PowerState & BATTERY_POWER_ON_LINE) text = IDS_BATTERY_POWER_ONLINE;
        if (status.PowerState & BATTERY_CHARGING) text = IDS_BATTERY_CHARGING;
        if (status.PowerState & BATTERY_CRITICAL) text = IDS_BATTERY_CRITICAL;
    }
    return ResText(text);
}

// The system's record sums every battery, and the library answers battery 0 only from it:
// with one battery that is the battery's own figure, with several each battery's comes from
// its status (charge, rate) and its information (full-charge capacity).
void CBatteryStatusDlg::Figures(int* percent, long long* seconds) {
    *percent = 0;
    *seconds = 0;
    if (m_batteryCount <= 1) {
        if (m_selected != 0 || !m_scheme) return;
        *percent = static_cast<int>(m_scheme->GetRemainBatPer(0) * 100.0);
        // 0xFFFFFFFF, unknown, is -1 as a signed number.
        *seconds = static_cast<int>(m_scheme->GetCompleteTime(0));
        return;
    }
    CBatAgent agent;
    if (agent.Setup() != 0) return;
    BATTERY_INFORMATION info = {};
    BATTERY_STATUS status = {};
    const bool read = agent.GetInfo(m_selected, info) == 0 && agent.GetStatus(m_selected, status) == 0;
    agent.Cleanup();
    if (!read) {
        *seconds = -1;
        return;
    }
    const unsigned long long full = info.FullChargedCapacity;
    const unsigned long long capacity = status.Capacity == BATTERY_UNKNOWN_CAPACITY ? 0 : status.Capacity;
    if (full != 0) *percent = static_cast<int>(std::min<unsigned long long>(100, capacity * 100 / full));
    const bool rateKnown = static_cast<ULONG>(status.Rate) != BATTERY_UNKNOWN_RATE;
    *seconds = -1;
    if ((status.PowerState & BATTERY_CHARGING) && rateKnown && status.Rate > 0)
        *seconds = static_cast<long long>((full > capacity ? full - capacity : 0) * 3600 /
                                          static_cast<unsigned long long>(status.Rate));
    else if ((status.PowerState & BATTERY_DISCHARGING) && rateKnown && status.Rate < 0)
        *seconds = static_cast<long long>(capacity * 3600 / static_cast<unsigned long long>(-static_cast<long long>(status.Rate)));
}

unsigned long CBatteryStatusDlg::Information(const std::wstring& name) {
    unsigned long value = 0;
    if (m_reading.BatteryPresent && m_scheme && m_selected >= 0 &&
        m_scheme->GetBatteryInformation(m_selected, name.c_str(), &value) != 0)
        value = 0;
    return value;
}

std::wstring CBatteryStatusDlg::InformationText(const Item& item) {
    // Factor and format are read on every refresh.
    const int factor = ListInt(Key(item.list, L"Factor", item.index));
    std::wstring format = ListString(Key(item.list, L"Format", item.index));
    wchar_t text[256] = L"";
    if (item.name == kCapabilitiesItem) {
        _snwprintf(text, 256, L"0x%lx", Information(item.name));
    } else if (item.name == kTechnologyItem) {
        const unsigned long value = Information(item.name);
        return ResText(value == 0 ? IDS_TECHNOLOGY_PRIMARY : value == 1 ? IDS_TECHNOLOGY_RECHARGEABLE
                                                                          : IDS_BATTERY_UNKNOWN);
    } else if (item.name == kChemistryItem) {
        const unsigned long value = Information(item.name);
        const char chars[4] = {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                               static_cast<char>(value >> 24)};
        const int length = static_cast<int>(std::find(chars, chars + 4, '\0') - chars);
        const int written = MultiByteToWideChar(CP_ACP, 0, chars, length, text, 255);
        text[written > 0 ? written : 0] = L'\0';
    } else {
        float value = 0.0f;
        const size_t separator = item.name.find(kRatioSeparator);
        if (separator != std::wstring::npos) {
            // "A / B": the quotient, 0 while B reads 0 (no battery, or nothing read).
            const unsigned long numerator = Information(item.name.substr(0, separator));
            const unsigned long denominator = Information(item.name.substr(separator + wcslen(kRatioSeparator)));
            if (denominator != 0) value = static_cast<float>(numerator) / static_cast<float>(denominator);
        } else {
            value = static_cast<float>(Information(item.name));
        }
        // The format comes from an installed file and is handed one double: one that asks
        // for anything else would read what was never passed.
        if (!IsDoubleFormat(format.c_str())) format = L"%.0f";
        _snwprintf(text, 256, format.c_str(), static_cast<double>(Scale(value, factor)));
    }
    text[255] = L'\0';
    return text;
}

}  // namespace talo
