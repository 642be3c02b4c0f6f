// TALO's hub inside this process, on the tray cases' resource module: a scheme chosen
// from the tray menu before the first power poll switches nothing; after it, the same
// choice switches.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "AppConfig.h"
#include "DummyDlg.h"
#include "MachineSupport.h"
#include "PwrDesp.h"
#include "ResourceModule.h"
#include "SchemeEx.h"
#include "TestSupport.h"

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
