// TALO's hub inside this process, on the tray cases' resource module: the icon chosen
// for each power source and charge band, the tray menu, and a scheme chosen from the
// menu before the first power poll (nothing switches) and after it.
#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "AppConfig.h"
#include "Hub.h"
#include "MachineSupport.h"
#include "PowerSnapshot.h"
#include "PwrDesp.h"
#include "ResourceModule.h"
#include "SchemeEx.h"
#include "TestSupport.h"
#include "Tray.h"

namespace {

class TaloHubCase : public test::MachineCase {
protected:
    void SetUp() override {
        test::MachineCase::SetUp();
        m_module = LoadLibraryW((test::ExeDir() + L"\\TaloTrayRes.dll").c_str());
        ASSERT_NE(nullptr, m_module) << GetLastError();
        talo::SetResourceModule(m_module);
        talo::WriteDevShowFlag(0);
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Korvex\\TALO");
        talo::SetResourceModule(nullptr);
        if (m_module != nullptr) FreeLibrary(m_module);
    }
    static int Active() {
        CSchemeEx scheme;
        scheme.Initialize();
        return scheme.GetActivePwrScheme();
    }

    HMODULE m_module = nullptr;
};

TEST(TaloTrayIcon, IconBySourceAndChargeBand) {
    const struct {
        int source, percentage;
        UINT icon;
    } cases[] = {
        {1, 100, 2071}, {1, 10, 2071}, {2, 50, 2070}, {2, -1, 2070}, {4, 0, 2067},  {4, 29, 2067},
        {4, 30, 2068},  {4, 59, 2068}, {4, 60, 2069}, {4, 100, 2069}, {0, -1, 130}, {0, 80, 130},
        {3, 50, 130},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].icon, talo::TrayIconId(cases[i].source, cases[i].percentage)) << "case " << i;
}

// The poll reads the battery record once and counts the batteries only when they may have
// changed; poll after poll it answers what the single queries answer at that moment, as a
// battery comes, goes and changes between charging and discharging.
TEST_F(TaloHubCase, PollAnswersAsTheSingleQueries) {
    const std::wstring machine = test::FreshMachine::MachinePath();
    // 10 mW: one mWh in six minutes, so the charge holds still for the case.
    ASSERT_TRUE(VnbSetBatteryRates(machine.c_str(), 0, 10, 10));
    const struct {
        BYTE ac;
        int slot;  // the battery the row changes: 0 or 1 (a second slot the row adds), -1 none
        BOOL present;
        DWORD charge;
    } rows[] = {
        {1, -1, TRUE, 0},  {1, 0, TRUE, 50}, {0, -1, TRUE, 0}, {0, 1, TRUE, 60}, {0, 0, FALSE, 0},
        {0, 1, FALSE, 0},  {1, 0, TRUE, 80}, {1, -1, TRUE, 0},
    };
    talo::PowerSnapshot snapshot;
    SYSTEM_BATTERY_STATE battery = {};
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        test::SetAcLine(rows[i].ac);
        if (rows[i].slot == 1 && test::MachineValue(L"Battery1", L"Tag") == L"(absent)") {
            for (const auto& [key, value] : {std::pair<const wchar_t*, const wchar_t*>{L"Tag", L"2"},
                                             {L"FullChargedCapacity", L"40000"},
                                             {L"ChargeRate", L"10"},
                                             {L"DischargeRate", L"10"}})
                test::SetMachineValue(L"Battery1", key, value);
        }
        if (rows[i].slot >= 0) {
            ASSERT_TRUE(VnbSetBatteryPresent(machine.c_str(), rows[i].slot, rows[i].present));
            if (rows[i].present) {
                ASSERT_TRUE(VnbSetBatteryCharge(machine.c_str(), rows[i].slot, rows[i].charge));
            }
        }
        talo::PollPower(snapshot, battery);
        CSchemeEx scheme;
        scheme.Initialize();
        const bool present = battery.BatteryPresent != 0;
        EXPECT_EQ(snapshot.sourceState,
                  !rows[i].ac ? talo::PowerSnapshot::kBattery
                              : (battery.Charging ? talo::PowerSnapshot::kAcCharging : talo::PowerSnapshot::kAcIdle));
        EXPECT_EQ(snapshot.batteryCount, present ? static_cast<int>(scheme.GetBatteryCount()) : 0);
        EXPECT_EQ(snapshot.remainingTime, present ? static_cast<int>(scheme.GetCompleteTime(0)) : 0);
        EXPECT_EQ(snapshot.percentage, present ? static_cast<int>(scheme.GetRemainBatPer(0) * 100.0) : 0);
    }
    EXPECT_EQ(snapshot.batteryCount, 2) << "the second battery's slot stays";
}

// The schemes in enumeration order with the system's active one checked, then battery
// status, the main dialog (the default item), about and exit with the module's texts.
TEST_F(TaloHubCase, MenuListsTheSchemesThenTheCommands) {
    CSchemeEx scheme;
    scheme.Initialize();
    ASSERT_EQ(1, scheme.InitCfgFile());
    std::vector<talo::PWRDESP> list;
    ASSERT_TRUE(talo::EnumSchemes(scheme, list));
    const int active = Active();
    ASSERT_GE(active, 0);

    HMENU menu = CreatePopupMenu();
    ASSERT_EQ(1, talo::BuildTrayMenu(menu));
    const struct {
        UINT id;  // 0: a separator
        const wchar_t* text;
    } tail[] = {{0, L""}, {32771, L"Battery status"}, {0, L""}, {32772, L"Power schemes"},
                {0, L""}, {32774, L"About"},          {32773, L"Exit"}};
    ASSERT_EQ(static_cast<int>(list.size() + std::size(tail)), GetMenuItemCount(menu));
    for (size_t i = 0; i < list.size() + std::size(tail); ++i) {
        wchar_t text[64] = L"";
        MENUITEMINFOW item = {};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
        item.dwTypeData = text;
        item.cch = 64;
        ASSERT_TRUE(GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item)) << "item " << i;
        if (i < list.size()) {
            EXPECT_EQ(talo::kCmdFirstScheme + i, item.wID) << "item " << i;
            EXPECT_EQ(list[i].name, text) << "item " << i;
            EXPECT_EQ(list[i].index == active, (item.fState & MFS_CHECKED) != 0) << "item " << i;
            continue;
        }
        const auto& expected = tail[i - list.size()];
        EXPECT_EQ(expected.id == 0, (item.fType & MFT_SEPARATOR) != 0) << "item " << i;
        if (expected.id == 0) continue;
        EXPECT_EQ(expected.id, item.wID) << "item " << i;
        EXPECT_STREQ(expected.text, text) << "item " << i;
    }
    EXPECT_EQ(32772u, GetMenuDefaultItem(menu, FALSE, 0));
    DestroyMenu(menu);
}

// The main dialog's item carries the module's menu bitmap (none in the tray cases' module),
// its 0xFF00FF key turned into the menu's colour.
TEST_F(TaloHubCase, MainDialogItemCarriesTheModulesMarkWithoutItsKey) {
    for (const wchar_t* name : {L"TaloTrayRes.dll", L"TALORes.dll"}) {
        const bool hasMark = wcscmp(name, L"TALORes.dll") == 0;
        HMODULE module = LoadLibraryExW((test::ExeDir() + L"\\" + name).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module) << test::Narrow(name);
        talo::SetResourceModule(module);
        HMENU menu = CreatePopupMenu();
        ASSERT_EQ(1, talo::BuildTrayMenu(menu));
        MENUITEMINFOW item = {};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_BITMAP;
        ASSERT_TRUE(GetMenuItemInfoW(menu, 32772, FALSE, &item));
        EXPECT_EQ(hasMark, item.hbmpItem != nullptr) << test::Narrow(name);
        if (item.hbmpItem != nullptr) {
            BITMAP info = {};
            ASSERT_TRUE(GetObjectW(item.hbmpItem, sizeof(info), &info));
            ASSERT_NE(nullptr, info.bmBits);
            EXPECT_EQ(16, info.bmWidth);
            const DWORD* pixel = static_cast<const DWORD*>(info.bmBits);
            int keyed = 0;
            for (LONG i = 0; i < info.bmWidth * info.bmHeight; ++i) keyed += (pixel[i] & 0xFFFFFF) == 0xFF00FF;
            EXPECT_EQ(0, keyed);
        }
        DestroyMenu(menu);
        talo::SetResourceModule(m_module);
        FreeLibrary(module);
    }
}

TEST_F(TaloHubCase, SchemeChosenBeforeTheFirstPollSwitchesNothing) {
    CSchemeEx scheme;
    scheme.Initialize();
    ASSERT_EQ(1, scheme.InitCfgFile()) << "the first run's preparation";
    std::vector<talo::PWRDESP> list;
    ASSERT_TRUE(talo::EnumSchemes(scheme, list));
    int active = Active();
    ASSERT_GE(active, 0);
    size_t item = 0;
    while (item < list.size() && list[item].index == active) ++item;
    ASSERT_LT(item, list.size()) << "a second scheme to choose";

    talo::CDummyDlg hub;
    ASSERT_NE(nullptr, hub.Create(nullptr)) << GetLastError();
    EXPECT_EQ(talo::PowerSnapshot::kUnknown, talo::CurrentPower().sourceState);
    const WPARAM choose = talo::kCmdFirstScheme + item;
    hub.SendMessage(WM_COMMAND, choose, 0);
    EXPECT_EQ(active, Active()) << "no poll yet: the power source is not known";

    hub.PowerPoll();
    EXPECT_EQ(talo::PowerSnapshot::kAcIdle, talo::CurrentPower().sourceState) << "the machine's mains, full battery";
    EXPECT_EQ(100, talo::CurrentPower().percentage);
    hub.SendMessage(WM_COMMAND, choose, 0);
    EXPECT_EQ(list[item].index, Active());
    hub.DestroyWindow();
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {}
}

}  // namespace
