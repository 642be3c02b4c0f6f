// TALO running with the German resource module, as a German user meets it: the device
// dialog lists the devices a scheme switches off by their German names, and the balloon's
// device view names them in German too, though the installed item list is English.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "MachineSupport.h"
#include "TaloProcess.h"
#include "TaloResIds.h"
#include "TestSupport.h"
#include "ZoraPowerVariables.h"
#include "ZoraVnb.h"

namespace {

using namespace talo_test;
using test::Eventually;

constexpr UINT kFirstSchemeCommand = 32800;
constexpr UINT kTrayCallbackMessage = WM_USER;
constexpr UINT kBalloonToggleView = WM_USER + 101;

// The devices the chosen scheme switches off on mains, in the item list's order.
constexpr int kOffDevices[] = {zora_vars::Wifi, zora_vars::HDAudio, zora_vars::USBPort0 + 2};

std::wstring WindowText(HWND window) {
    wchar_t text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return text;
}

// zoractl's scheme list: the indexes in enumeration order and the active one.
std::vector<int> Schemes(int* active) {
    SchemeListing listing = ListSchemes();
    *active = listing.active;
    return listing.indexes;
}

class GermanTalo : public ::testing::Test {
protected:
    void SetUp() override {
        m_machine.emplace();
        ASSERT_TRUE(m_machine->Ok());
        ASSERT_TRUE(ReturningUser(m_machine->Path(), 1)) << GetLastError();
        m_cfg.Set(L"TALOCfg", L"TALOResource", L"TALOResDE.dll");
        // The platform supports the three devices and no other device item.
        const std::wstring cfg = test::ExeDir() + L"\\..\\cfg\\ZORACfg.ini";
        for (UINT i = 0; i < GetPrivateProfileIntW(L"SchemeItemList", L"ItemNum", 0, cfg.c_str()); ++i) {
            wchar_t item[256] = L"";
            GetPrivateProfileStringW(L"SchemeItemList", (L"Item" + std::to_wstring(i)).c_str(), L"", item, 256,
                                     cfg.c_str());
            if (GetPrivateProfileIntW(L"SchemeItemList", (L"IfDevice" + std::to_wstring(i)).c_str(), 0, cfg.c_str()))
                m_settings.Set(item, L"SupportStatus", L"0");
        }
        for (const auto device : kOffDevices) m_settings.Set(zora_vars::kNames[device], L"SupportStatus", L"1");
        CZORAProfile file;
        ASSERT_TRUE(file.Initialize(L"ZORAScheme.ini", nullptr));
        m_file = file.GetFullPath();
        DeleteFileW(m_file.c_str());
    }
    void TearDown() override {
        if (m_hub != nullptr) {
            PostMessageW(m_hub, WM_CLOSE, 0, 0);
            EXPECT_EQ(0, m_talo->Wait(20000));
        }
        RegDeleteTreeW(HKEY_CURRENT_USER, kTaloKey);
        if (!m_file.empty()) DeleteFileW(m_file.c_str());
    }
    HWND ShownDialog() {
        HWND dialog = nullptr;
        m_desktop.Run([&] { dialog = VisibleDialogOf(m_talo->Id()); });
        return dialog;
    }

    std::optional<test::FreshMachine> m_machine;
    test::CfgOverride m_cfg{L"ZORACfg.ini"};
    test::CfgOverride m_settings{L"ZORASetting.ini"};
    test::WindowsVersionOf m_taloVersion{L"TALO.exe", L"winxp"};
    test::WindowsVersionOf m_zoractlVersion{L"zoractl.exe", L"winxp"};
    TaloDesktop m_desktop;
    std::optional<DesktopProcess> m_talo;
    std::wstring m_file;
    HWND m_hub = nullptr;
};

TEST_F(GermanTalo, DeviceDialogAndBalloonNameTheDevicesInGerman) {
    std::vector<std::wstring> german;
    std::wstring joined;
    for (const auto device : kOffDevices) {
        german.push_back(ModuleString(IDS_DEVICE_NAME_BASE + device, L"TALOResDE.dll"));
        ASSERT_FALSE(german.back().empty()) << device;
        ASSERT_NE(german.back(), ModuleString(IDS_DEVICE_NAME_BASE + device, L"TALORes.dll")) << device;
        joined += (joined.empty() ? L"" : L", ") + german.back();
    }
    int active = -1;
    const std::vector<int> schemes = Schemes(&active);
    ASSERT_GE(schemes.size(), 2u);
    const size_t item = schemes[0] == active ? 1 : 0;
    const int scheme = schemes[item];
    // Off on mains, on on battery.
    for (const auto device : kOffDevices)
        WritePrivateProfileStringW((L"Scheme " + std::to_wstring(scheme)).c_str(), zora_vars::kNames[device],
                                   std::to_wstring(zora_vars::Pack(zora_vars::Pack(0, 1, 0), 0, 1)).c_str(),
                                   m_file.c_str());

    m_talo.emplace();
    ASSERT_TRUE(m_talo->Start(Talo()));
    const DWORD id = m_talo->Id();
    Eventually([&] { return m_desktop.Run([&] { m_hub = HubOf(id, 1000); }, true) && m_hub != nullptr; }, 60000);
    ASSERT_NE(nullptr, m_hub);

    PostMessageW(m_hub, WM_COMMAND, kFirstSchemeCommand + item, 0);
    HWND dialog = nullptr;
    Eventually([&] { return (dialog = ShownDialog()) != nullptr; }, 10000);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(ModuleString(IDS_DEVICE_TITLE, L"TALOResDE.dll"), WindowText(dialog));
    RemoteListView list(GetDlgItem(dialog, IDC_DEVICE_LIST), id);
    ASSERT_TRUE(list.Ok()) << GetLastError();
    ASSERT_EQ(static_cast<int>(german.size()), list.Count());
    for (int row = 0; row < list.Count(); ++row) EXPECT_EQ(german[row], list.Text(row)) << "row " << row;
    // Cancel: the scheme's own values apply, so it switches the three off on mains.
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    ASSERT_TRUE(Eventually([&] { return !IsWindow(dialog); }, 5000));
    ASSERT_TRUE(Eventually([&] { return Schemes(&active).size() > 0 && active == scheme; }, 20000)) << active;

    // The hover shows the balloon; its link's message turns it to the device view.
    PostMessageW(m_hub, kTrayCallbackMessage, 1, WM_MOUSEMOVE);
    HWND balloon = nullptr;
    Eventually([&] { return (balloon = ShownDialog()) != nullptr; }, 6000);
    ASSERT_NE(nullptr, balloon);
    SendMessageW(balloon, kBalloonToggleView, IDC_BALLOON_LINK, 0);
    EXPECT_EQ(ModuleString(IDS_BALLOON_DEVICES_OFF, L"TALOResDE.dll") + L"\r\n" + joined, WindowText(balloon));
}

}  // namespace
