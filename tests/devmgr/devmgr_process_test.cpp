// The device manager switching by index across processes: through the request channel
// to an answering process, and zoractl of either architecture switching by itself.
#include <gtest/gtest.h>

#include <string>

#include "DebugCapture.h"
#include "DevMgr.h"
#include "MachineSupport.h"
#include "PeerProtocol.h"

namespace {

// DmOptions=1 (the tests' installation): the switch is a request to the service,
// here answered by a test answerer of the other architecture, which changes nothing.
TEST(DevMgr, ChangeStateAsksTheServiceWithTheInstanceIdAndAction) {
    test::FreshMachine machine;
    ASSERT_TRUE(machine.Ok());
    test::Answerer answerer;
    ASSERT_TRUE(answerer.Start(test::PeerArch()));
    CDevMgr manager;
    ASSERT_EQ(S_OK, manager.Setup());
    for (unsigned long i = 0; i < static_cast<unsigned long>(manager.GetDeviceCount()); ++i) {
        wchar_t id[260];
        ASSERT_EQ(S_OK, manager.GetInstID(i, id, 260));
        VnbDevice before = test::Device(id);
        EXPECT_EQ(static_cast<long>(PeerResult(CDevMgr::Disable, id)), manager.ChangeState(i, CDevMgr::Disable));
        EXPECT_EQ(before.status, test::Device(id).status);
    }
    EXPECT_EQ(static_cast<long>(PeerResult(CDevMgr::Enable, L"X\\Y\\0")), manager.DoStateChangeRemote(L"X\\Y\\0", 1));
    EXPECT_EQ(E_FAIL, manager.ChangeState(999, CDevMgr::Disable));
    EXPECT_TRUE(DebugCapture::Contains("DoStateChange failed in GetInstID()."));
}

// DmOptions=0: zoractl of the parameter's architecture switches the wireless adapter
// by its index in the network class.
class DevMgrLocalTest : public test::ArchCase {};

TEST_P(DevMgrLocalTest, ZoractlSwitchesByIndexWithoutTheService) {
    test::FreshMachine machine;
    test::TempInstall install(GetParam(),
                              {{L"ZORADLL.dll", nullptr}, {L"ZoraVnb.dll", nullptr}, {L"zoractl.exe", nullptr}});
    ASSERT_TRUE(machine.Ok() && install.Ok());
    ASSERT_TRUE(
        install.SetConfig("[ZoraDevMgr]\r\nDmOptions=0\r\n[DevGUIDs]\r\nNum=1\r\n"
                          "GUID0={4d36e972-e325-11ce-bfc1-08002be10318}\r\n"));
    std::wstring zoractl = install.Bin() + L"\\zoractl.exe";
    std::string listing, output;
    ASSERT_EQ(0, test::Run(zoractl, L"devices", &listing)) << listing;
    int index = test::ListedIndex(listing, test::kVnbWireless);
    ASSERT_GE(index, 0) << listing;
    EXPECT_EQ(0, test::Run(zoractl, L"device disable " + std::to_wstring(index), &output)) << output;
    EXPECT_EQ(22u, test::Device(test::kVnbWireless).problem);
    EXPECT_EQ(0, test::Run(zoractl, L"device enable " + std::to_wstring(index), &output)) << output;
    EXPECT_EQ(0u, test::Device(test::kVnbWireless).problem);
    EXPECT_NE(0, test::Run(zoractl, L"device disable 999", &output));

    // No class named: said so, not "0 devices".
    ASSERT_TRUE(install.SetConfig("[ZoraDevMgr]\r\nDmOptions=0\r\n"));
    EXPECT_EQ(1, test::Run(zoractl, L"devices", &output));
    EXPECT_NE(std::string::npos, output.find("names no device class")) << output;
}

ZORA_FOR_BOTH_ARCHS(Arch, DevMgrLocalTest);

}  // namespace
