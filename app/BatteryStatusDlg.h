// The battery status dialog: one battery at a time, chosen in the selector, as a table of
// labelled values in two halves, refreshed every three seconds. The rows are data: the
// items of [BatteryInforList] in ZORACfg.ini with their labels, scaling and number formats.
// Three names are computed here: "Battery Status", "Remaining Percentage" and
// "Remaining Time"; "Capabilities", "Technology" and "Chemistry" are shown in their own
// way; a name "A / B" shows the quotient of the two items A and B (a battery's health, its
// full-charge capacity over its design capacity); any other name is an item of
// CSchemeEx::GetBatteryInformation, scaled by its factor and put through its format.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "FrameDlg.h"
#include "PowerSnapshot.h"
#include "TALOStatic.h"
#include "TaloResIds.h"
#include "WinHandles.h"

namespace talo {

class CBatteryStatusDlg : public CFrameDlgImpl<CBatteryStatusDlg> {
public:
    enum { IDD = IDD_BATTERY_STATUS };

    // The window is this wide; its height grows with the rows.
    static constexpr int kWidth = 500;
    static constexpr int kHeightBase = 85 + 133;  // besides the header and the rows
    static constexpr UINT_PTR kRefreshTimer = 1;
    static constexpr UINT kRefreshMs = 3000;
    // The table inside the information group, in client pixels.
    static constexpr int kTableLeft = 8;
    static constexpr int kRowsTop = 34;  // below the table's upper edge
    static constexpr int kRowPitch = 20;
    static constexpr int kRowHeight = 15;
    static constexpr int kValueRight = 483;
    static constexpr int kRepaintRight = 490;

    // The special names.
    static constexpr wchar_t kStateItem[] = L"Battery Status";
    static constexpr wchar_t kPercentageItem[] = L"Remaining Percentage";
    static constexpr wchar_t kTimeItem[] = L"Remaining Time";
    static constexpr wchar_t kCapabilitiesItem[] = L"Capabilities";
    static constexpr wchar_t kTechnologyItem[] = L"Technology";
    static constexpr wchar_t kChemistryItem[] = L"Chemistry";
    static constexpr wchar_t kRatioSeparator[] = L" / ";

    // One item of [BatteryInforList], basic ("BA") or extended ("BEA").
    struct Item {
        const wchar_t* list = L"BA";
        int index = 0;  // d of BAName<d> / BEAName<d>
        std::wstring name;
        int shown = 0;
        std::wstring description;
    };

    CBatteryStatusDlg() = default;
    ~CBatteryStatusDlg() override;

    int BatteryCount() const { return m_batteryCount; }
    int SelectedBattery() const { return m_selected; }
    int ShownCount() const { return m_shownCount; }
    const std::vector<Item>& Items() const { return m_items; }

    // A number format that takes exactly what the dialog passes, one double: at most one
    // conversion, and that one of f, e, E, g, G ("%%" aside).
    static bool IsDoubleFormat(const wchar_t* format);
    // The value scaled as a factor says: positive multiplies, negative divides by its
    // magnitude, 0 leaves it (single precision, as the values are kept).
    static float Scale(float value, int factor);

    bool OnPostInit() override;
    // F1 opens the dialog's own page of the help.
    const wchar_t* HelpTopic() const override { return kHelpTopic; }
    static constexpr wchar_t kHelpTopic[] = L"battery.htm";

    BEGIN_MSG_MAP(CBatteryStatusDlg)
        MESSAGE_HANDLER(WM_TIMER, OnTimer)
        COMMAND_HANDLER(IDC_BATTERY_SELECTOR, CBN_SELCHANGE, OnSelect)
        COMMAND_ID_HANDLER(IDCANCEL, OnCloseCmd)
        COMMAND_ID_HANDLER(IDOK, OnCloseCmd)
        CHAIN_MSG_MAP(CFrameDlg)
    END_MSG_MAP()

private:
    LRESULT OnTimer(UINT, WPARAM wParam, LPARAM, BOOL& handled);
    LRESULT OnSelect(WORD, WORD, HWND, BOOL&);

    void ReadItems();
    void PlaceControls();
    void FillSelector();
    void CreateRows();
    // Reads the batteries once and sets every value; the value areas are repainted.
    void Refresh();
    std::wstring ValueText(const Item& item);
    std::wstring StateText();
    // The selected battery's charge (percent) and seconds to full or to empty (-1:
    // unknown): battery 0 of a single battery from the system's record, each of several
    // batteries from its own records.
    void Figures(int* percent, long long* seconds);
    std::wstring InformationText(const Item& item);
    // An item's value as GetBatteryInformation reads it for the selected battery; 0 when
    // no battery is present or nothing is read.
    unsigned long Information(const std::wstring& name);
    void RepaintValues();
    void Place(int id, int x, int y, int width, int height) const;

    int m_batteryCount = 0;
    int m_selected = -1;
    int m_shownCount = 0;
    std::vector<Item> m_items;
    // What the dialog last read of the power source and the batteries: its own, not the hub's.
    PowerSnapshot m_power;
    SYSTEM_BATTERY_STATE m_reading = {};
    CTALOStatic m_headings[4];
    std::vector<std::unique_ptr<CTALOStatic>> m_labels;
    std::vector<std::unique_ptr<CTALOStatic>> m_values;
    RECT m_leftValues = {};
    RECT m_rightValues = {};
    LOGFONTW m_logFont = {};
    UniqueFont m_font;
};

}  // namespace talo
