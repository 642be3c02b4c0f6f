// TALO's settings read from the installed files of the tests' own installation, each
// case changing only the keys it is about (restored afterwards).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "AppConfig.h"
#include "DeviceItems.h"
#include "MachineSupport.h"
#include "TestSupport.h"
#include "WindowsVersion.h"

namespace {

// The version this program runs as, major x 10 + minor, as items name versions.
int OwnVersion() {
    DWORD major = 0, minor = 0;
    WindowsVersion(&major, &minor);
    return static_cast<int>(major * 10 + minor);
}

// Layout values below their least are raised to it; a missing count stays 0 (the store
// reads it so); the battery dialog's later columns are taken as they stand.
TEST(TaloSettings, LayoutValuesAreBroughtIntoTheirBounds) {
    test::CfgOverride cfg(L"ZORACfg.ini");
    const struct {
        const wchar_t* key;
        const wchar_t* value;  // null: absent
        int talo::LayoutSettings::*field;
        int expected;
    } cases[] = {
        {L"MainDlgWidth", L"500", &talo::LayoutSettings::mainDlgWidth, 610},
        {L"EditDlgWidth", L"800", &talo::LayoutSettings::editDlgWidth, 800},
        {L"EffectItemHeight", nullptr, &talo::LayoutSettings::effectItemHeight, 20},
        {L"SchemeItemWidth", L"-7", &talo::LayoutSettings::schemeItemWidth, 150},
        {L"StaticSchemeNameWidth", L"90", &talo::LayoutSettings::staticSchemeNameWidth, 90},
        {L"MaxNameLen", nullptr, &talo::LayoutSettings::maxNameLen, 0},
        {L"MaxSchemeNum", L"9", &talo::LayoutSettings::maxSchemeNum, 9},
    };
    for (const auto& c : cases) cfg.Set(L"TALOCfg", c.key, c.value);
    cfg.Set(L"TALOCfg", L"BatteryStatus1ColLPos", L"3");
    cfg.Set(L"TALOCfg", L"BatteryStatus3ColLPos", L"5");
    talo::LoadLayoutSettings();
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].expected, talo::Layout().*cases[i].field) << "case " << i;
    EXPECT_EQ(27, talo::Layout().batteryColumn[0]);
    EXPECT_EQ(5, talo::Layout().batteryColumn[2]);
}

// An item's Windows versions, as a table around the version this program runs as: a
// minimum without a maximum allows none, an exclusion removes one version.
TEST(TaloSettings, ItemOsSupportFollowsItsVersionLimits) {
    const int v = OwnVersion();
    const struct {
        int minimum, maximum, excluded, supported;
    } cases[] = {{0, 0, 0, 1},         {v, 0, 0, 0},         {v - 1, v + 1, 0, 1}, {v, v, 0, 1},
                 {v + 1, v + 5, 0, 0}, {v - 5, v - 1, 0, 0}, {0, 0, v, 0},         {0, 0, v - 10, 1},
                 {v - 1, v + 1, v, 0}};
    test::CfgOverride settings(L"ZORASetting.ini");
    for (size_t i = 0; i < std::size(cases); ++i) {
        settings.Set(L"Test Item", L"OSVerMin", std::to_wstring(cases[i].minimum).c_str());
        settings.Set(L"Test Item", L"OSVerMax", std::to_wstring(cases[i].maximum).c_str());
        settings.Set(L"Test Item", L"OSExclude", std::to_wstring(cases[i].excluded).c_str());
        EXPECT_EQ(cases[i].supported, talo::IsItemOsSupported(L"Test Item")) << "case " << i << ", version " << v;
    }
}

// The device items: [SchemeItemList]'s devices in their order, less those the platform
// does not support; each with its item number, variable and display name.
TEST(TaloSettings, DeviceItemsAreTheSupportedDevicesOfTheItemList) {
    const std::wstring cfg = test::ExeDir() + L"\\..\\cfg\\ZORACfg.ini";
    test::CfgOverride settings(L"ZORASetting.ini");
    // Nothing supported but what this case says.
    for (UINT i = 0; i < GetPrivateProfileIntW(L"SchemeItemList", L"ItemNum", 0, cfg.c_str()); ++i) {
        wchar_t key[32], item[256];
        swprintf(key, 32, L"Item%u", i);
        GetPrivateProfileStringW(L"SchemeItemList", key, L"", item, 256, cfg.c_str());
        settings.Set(item, L"SupportStatus", L"0");
    }
    for (const wchar_t* item : {L"Wifi", L"BTStatus", L"HD Audio", L"Modem", L"DVD Drive", L"USBPort 0",
                                L"USBPort 11", L"LinkStepOption"})
        settings.Set(item, L"SupportStatus", L"1");
    settings.Set(L"Modem", L"SupportStatus", L"0");
    settings.Set(L"DVD Drive", L"SupportStatus", nullptr);
    settings.Set(L"USBPort 11", L"OSExclude", std::to_wstring(OwnVersion()).c_str());
    settings.Set(L"USBPort 11", L"OSVerMin", L"0");
    settings.Set(L"USBPort 11", L"OSVerMax", L"0");
    talo::LoadDeviceItems();
    std::vector<std::wstring> listed;
    for (const talo::DeviceDesp& device : talo::DeviceItems()) {
        wchar_t key[32], name[256];
        swprintf(key, 32, L"Item%d", device.item);
        GetPrivateProfileStringW(L"SchemeItemList", key, L"", name, 256, cfg.c_str());
        EXPECT_EQ(device.key, name) << device.item;
        EXPECT_EQ(-1, device.state);
        listed.push_back(device.key + L"=" + device.name);
    }
    const std::vector<std::wstring> expected = {L"Wifi=Wireless LAN", L"BTStatus=Bluetooth",
                                                L"HD Audio=Audio controller", L"USBPort 0=USB port 0 (left, front)"};
    EXPECT_EQ(expected, listed);
    talo::FreeDeviceItems();
    EXPECT_TRUE(talo::DeviceItems().empty());
}

}  // namespace
