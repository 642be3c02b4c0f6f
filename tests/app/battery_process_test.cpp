// The battery status dialog as a user meets it: TALO runs as its own process on the virtual
// notebook, the tray menu's "Battery status" command opens the dialog, and what it shows is
// read from its windows (the row labels 5000 + r, the values 5200 + r, the battery
// selector) while the machine's batteries change under it.
#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "MachineSupport.h"
#include "TaloProcess.h"
#include "TestSupport.h"
#include "ZoraVnb.h"

namespace {

using namespace talo_test;
using test::Eventually;

constexpr UINT kBatteryStatusCommand = 32771;
constexpr int kLabelBase = 5000;
constexpr int kValueBase = 5200;
constexpr int kSelector = 2027;
// The dialog reads the batteries every 3 s; a change shows within that and the next poll.
constexpr DWORD kRefreshWaitMs = 10000;

std::wstring Text(HWND dialog, int id) {
    wchar_t text[256] = L"";
    GetDlgItemTextW(dialog, id, text, 256);
    return text;
}

// The value shown in the row labelled label (without its colon); "(no row)" when none is.
std::wstring Value(HWND dialog, const std::wstring& label) {
    for (int r = 0; GetDlgItem(dialog, kLabelBase + r) != nullptr; ++r)
        if (Text(dialog, kLabelBase + r) == label + L":") return Text(dialog, kValueBase + r);
    return L"(no row)";
}

// TALO on a fresh machine for a user whose first run is done. A case sets the batteries'
// charge and then stops their clock (it stands in the future, so no time passes for them
// while a battery charges or discharges); the values it sets keep a margin from the next
// whole percent and minute for the moment before the clock stops.
class BatteryDialogCase : public ::testing::Test {
protected:
    void SetUp() override {
        m_machine.emplace();
        ASSERT_TRUE(m_machine->Ok());
        RegDeleteTreeW(HKEY_CURRENT_USER, kTaloKey);
        SetTaloFlag(L"TALOStartFlag", 1);
        ASSERT_FALSE(Talo().empty());
    }
    void TearDown() override {
        if (m_hub != nullptr) {
            PostMessageW(m_hub, WM_CLOSE, 0, 0);
            EXPECT_EQ(0, m_talo.Wait(20000));
        }
        RegDeleteTreeW(HKEY_CURRENT_USER, kTaloKey);
    }

    // Starts TALO unless it runs and opens the dialog from the tray menu's command; null
    // when it did not come.
    HWND Open() {
        if (m_hub == nullptr && m_talo.Start(Talo(), L"")) m_hub = HubOf(m_talo.Id(), 60000);
        if (m_hub == nullptr) return nullptr;
        PostMessageW(m_hub, WM_COMMAND, kBatteryStatusCommand, 0);
        HWND dialog = nullptr;
        Eventually([&] { return (dialog = VisibleDialogOf(m_talo.Id())) != nullptr; }, 20000);
        return dialog;
    }
    // Sets a value of battery slot n.
    void SetBattery(int slot, const wchar_t* key, const std::wstring& value) {
        test::SetMachineValue((L"Battery" + std::to_wstring(slot)).c_str(), key, value);
    }
    // The charge of slot n in mWh, held there.
    void SetCharge(int slot, unsigned long remaining) {
        SetBattery(slot, L"RemainingCapacity", std::to_wstring(remaining));
        StopClock();
    }
    void StopClock() { test::SetMachineValue(L"Batteries", L"Clock", L"99999999999"); }
    // The dialog ends with Close; TALO runs on.
    void Close(HWND dialog) {
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(Eventually([&] { return !IsWindow(dialog); })) << "the dialog stays";
        EXPECT_EQ(m_hub, HubOf(m_talo.Id(), 5000));
    }

    std::optional<test::FreshMachine> m_machine;
    test::CfgOverride m_cfg{L"ZORACfg.ini"};
    test::Process m_talo;
    HWND m_hub = nullptr;
};

// Every configured row with its label and the machine's value, the first half of the rows
// on the left and the rest on the right, row k of each half at the same height. The design
// voltage's factor of -1000 turns the controller's 12345 mV into 12.345; a factor of 0
// leaves the cycle count as it is; the health is the full-charge over the design capacity.
// Menu commands while the dialog is open open no second one; Close ends it.
TEST_F(BatteryDialogCase, ShowsEachConfiguredRowWithTheMachinesValues) {
    m_cfg.Set(L"BatteryInforList", L"BEAFormat3", L"%.3f V");
    // The controller's design voltage, rows 6 and 7 of its record: 0x3039 = 12345 mV.
    test::SetMachineValue(L"BatteryRows", L"Row6", L"0x30");
    test::SetMachineValue(L"BatteryRows", L"Row7", L"0x39");
    HWND dialog = Open();
    ASSERT_NE(nullptr, dialog);

    const struct {
        std::wstring label, value;
    } rows[] = {
        // Left: the state and the kind of battery. On mains and full: no time to go.
        {ModuleString(10400), ModuleString(168)},  // "On mains power"
        {ModuleString(10401), L"100%"},
        {ModuleString(10402), L"--"},
        {ModuleString(10403), L"LION"},
        {ModuleString(10404), ModuleString(166)},  // "Rechargeable"
        // Right: its wear.
        {ModuleString(10405), L"53280 mWh"},
        {ModuleString(10406), L"51150 mWh"},
        {ModuleString(10407), L"96 %"},
        {ModuleString(10408), L"37"},
        {ModuleString(10453), L"12.345 V"},
    };
    constexpr int kRows = static_cast<int>(std::size(rows));
    for (int r = 0; r < kRows; ++r) {
        EXPECT_EQ(rows[r].label + L":", Text(dialog, kLabelBase + r)) << "row " << r;
        EXPECT_TRUE(Eventually([&] { return Text(dialog, kValueBase + r) == rows[r].value; }))
            << "row " << r << ": " << test::Narrow(Text(dialog, kValueBase + r));
    }
    EXPECT_EQ(nullptr, GetDlgItem(dialog, kLabelBase + kRows)) << "a row not configured to show";
    RECT first = {}, left = {}, right = {};
    GetWindowRect(GetDlgItem(dialog, kLabelBase), &first);
    for (int k = 0; k < kRows / 2; ++k) {
        GetWindowRect(GetDlgItem(dialog, kLabelBase + k), &left);
        GetWindowRect(GetDlgItem(dialog, kLabelBase + kRows / 2 + k), &right);
        EXPECT_EQ(left.top, right.top) << "row " << k;
        EXPECT_EQ(first.top + 20 * k, left.top) << "row " << k;
        EXPECT_LT(left.left, right.left) << "row " << k;
    }

    PostMessageW(m_hub, WM_COMMAND, kBatteryStatusCommand, 0);
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(m_hub, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
    EXPECT_EQ(1, CountVisibleDialogs(m_talo.Id()));
    Close(dialog);
}

// The rows read when the dialog opens: seven shown rows make four on the left and three on
// the right, level with the first three; without [BatteryInforList] there are no rows, only
// the headings and the selector.
TEST_F(BatteryDialogCase, SplitsTheShownRowsIntoTwoHalves) {
    const struct {
        const wchar_t* what;
        std::vector<std::pair<const wchar_t*, const wchar_t*>> keys;
        int left, right;
    } cases[] = {
        {L"seven", {{L"BAShow5", L"0"}, {L"BAShow6", L"0"}, {L"BAShow7", L"0"}}, 4, 3},
        {L"no list", {{nullptr, nullptr}}, 0, 0},  // the whole section deleted
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(test::Narrow(c.what));
        for (const auto& [key, value] : c.keys) m_cfg.Set(L"BatteryInforList", key, value);
        HWND dialog = Open();
        ASSERT_NE(nullptr, dialog);
        EXPECT_EQ(nullptr, GetDlgItem(dialog, kLabelBase + c.left + c.right));
        EXPECT_EQ(1, SendDlgItemMessageW(dialog, kSelector, CB_GETCOUNT, 0, 0));
        for (int k = 0; k < c.left; ++k) {
            RECT left = {}, right = {};
            ASSERT_TRUE(GetWindowRect(GetDlgItem(dialog, kLabelBase + k), &left)) << k;
            if (k >= c.right) continue;
            ASSERT_TRUE(GetWindowRect(GetDlgItem(dialog, kLabelBase + c.left + k), &right)) << k;
            EXPECT_EQ(left.top, right.top) << k;
            EXPECT_LT(left.right, right.left + 1) << k;
        }
        Close(dialog);
    }
}

// With the dialog open, the machine changes and the dialog follows within its refresh:
// the state, the charge and the time for charging, discharging, on mains without charging
// ("--"), critical while charging (the last state wins), and with no battery in.
TEST_F(BatteryDialogCase, FollowsTheChargeAndTheStateOfTheBattery) {
    const std::wstring machine = m_machine->Path();
    ASSERT_TRUE(VnbSetBatteryRates(machine.c_str(), 0, 25000, 15000));
    HWND dialog = Open();
    ASSERT_NE(nullptr, dialog);
    const std::wstring unit = L" " + ModuleString(169);
    const struct {
        const char* what;
        BYTE ac;
        unsigned long remaining;  // mWh of the full charge's 51150
        bool present;
        std::wstring state, charge, time, design;
    } cases[] = {
        // (51150 - 25700) mWh to go at 25 W: 3664 s.
        {"charging", 1, 25700, true, ModuleString(171), L"50%", L"01:01" + unit, L"53280 mWh"},
        // 25700 mWh at 15 W: 6168 s.
        {"discharging", 0, 25700, true, ModuleString(170), L"50%", L"01:42" + unit, L"53280 mWh"},
        {"on mains, full", 1, 51150, true, ModuleString(168), L"100%", L"--", L"53280 mWh"},
        // Below 5 %: charging and critical. (51150 - 1600) mWh at 25 W: 7135 s.
        {"critical while charging", 1, 1600, true, ModuleString(172), L"3%", L"01:58" + unit, L"53280 mWh"},
        // No battery: an empty selector, the rows as for no battery.
        {"no battery", 0, 25700, false, ModuleString(156), L"0%", L"0" + unit, L"0 mWh"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::SetAcLine(c.ac);
        ASSERT_TRUE(VnbSetBatteryPresent(machine.c_str(), 0, c.present)) << GetLastError();
        SetCharge(0, c.remaining);
        const std::wstring expected[] = {c.state, c.charge, c.time, c.design};
        const std::wstring labels[] = {ModuleString(10400), ModuleString(10401), ModuleString(10402),
                                       ModuleString(10405)};
        for (size_t i = 0; i < std::size(labels); ++i)
            EXPECT_TRUE(Eventually([&] { return Value(dialog, labels[i]) == expected[i]; }, kRefreshWaitMs))
                << test::Narrow(labels[i]) << ": " << test::Narrow(Value(dialog, labels[i]));
        const LRESULT entries = SendDlgItemMessageW(dialog, kSelector, CB_GETCOUNT, 0, 0);
        EXPECT_EQ(c.present ? 1 : 0, entries);
        EXPECT_EQ(c.present ? 0 : CB_ERR, SendDlgItemMessageW(dialog, kSelector, CB_GETCURSEL, 0, 0));
    }
    Close(dialog);
}

// Two batteries: the selector offers both, and each shows its own values when chosen,
// its charge and time from its own records (the system's record sums both).
TEST_F(BatteryDialogCase, SwitchesBetweenTwoBatteries) {
    const std::wstring machine = m_machine->Path();
    ASSERT_TRUE(VnbSetBatteryRates(machine.c_str(), 0, 25000, 15000));
    // A worn second pack, half charged, charging at 10 W on mains.
    const struct {
        const wchar_t *key, *value;
    } second[] = {{L"Present", L"1"},           {L"Tag", L"7"},
                  {L"DesignCapacity", L"40000"}, {L"FullChargedCapacity", L"30000"},
                  {L"Voltage", L"11800"},       {L"ChargeRate", L"10000"},
                  {L"DischargeRate", L"15000"}, {L"CycleCount", L"210"},
                  {L"Chemistry", L"NiMH"},       {L"OpenError", L"0"}};
    for (const auto& value : second) SetBattery(1, value.key, value.value);
    SetCharge(1, 15100);
    HWND dialog = Open();
    ASSERT_NE(nullptr, dialog);
    ASSERT_EQ(2, SendDlgItemMessageW(dialog, kSelector, CB_GETCOUNT, 0, 0));
    wchar_t entry[64] = L"";
    SendDlgItemMessageW(dialog, kSelector, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(entry));
    EXPECT_EQ(ModuleString(163) + L" 2", entry);

    const struct {
        int battery;
        std::wstring state, charge, time, chemistry, design, full, health, cycles;
    } batteries[] = {
        // (30000 - 15100) mWh at 10 W: 5364 s.
        {1, ModuleString(171), L"50%", L"01:29 " + ModuleString(169), L"NiMH", L"40000 mWh", L"30000 mWh", L"75 %",
         L"210"},
        // Full on mains: no time to full while the other charges.
        {0, ModuleString(168), L"100%", L"N/A " + ModuleString(169), L"LION", L"53280 mWh", L"51150 mWh", L"96 %",
         L"37"},
    };
    for (const auto& b : batteries) {
        SCOPED_TRACE("battery " + std::to_string(b.battery + 1));
        // As the user's choice in the list sends it.
        SendDlgItemMessageW(dialog, kSelector, CB_SETCURSEL, static_cast<WPARAM>(b.battery), 0);
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kSelector, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, kSelector)));
        const std::wstring expected[] = {b.state, b.charge, b.time, b.chemistry, b.design, b.full, b.health, b.cycles};
        const UINT labels[] = {10400, 10401, 10402, 10403, 10405, 10406, 10407, 10408};
        for (size_t i = 0; i < std::size(labels); ++i) {
            const std::wstring label = ModuleString(labels[i]);
            EXPECT_TRUE(Eventually([&] { return Value(dialog, label) == expected[i]; }, kRefreshWaitMs))
                << test::Narrow(label) << ": " << test::Narrow(Value(dialog, label));
        }
        // The choice survives the refreshes.
        Sleep(3500);
        EXPECT_EQ(b.battery, SendDlgItemMessageW(dialog, kSelector, CB_GETCURSEL, 0, 0));
        EXPECT_EQ(b.design, Value(dialog, ModuleString(10405)));
    }
    Close(dialog);
}

}  // namespace
