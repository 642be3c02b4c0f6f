// The virtual notebook shared by processes of either architecture: a switch made in
// one process is seen in the other, two processes switching at once lose nothing, and
// the hardware sections keep their values across processes.
#include <gtest/gtest.h>
#include <windows.h>
#include <cfgmgr32.h>

#include <string>
#include <vector>

#include "DevMgr.h"
#include "MachineSupport.h"
#include "ZoraSystemApi.h"

namespace {

using VnbProcessTest = test::MachineCase;

std::string VnbPeer(const wchar_t* arguments, const wchar_t* arch = test::PeerArch()) {
    std::string output;
    EXPECT_EQ(0, test::Run(test::ProgramPath(arch, L"vnb_peer.exe"), arguments, &output)) << output;
    return output;
}

// The device manager's switch here, then one there, through the library's table each time.
TEST_F(VnbProcessTest, ASwitchIsSeenByAnotherProcessAndTheOtherWayRound) {
    ASSERT_EQ(S_OK, CDevMgr::ExecStateChange(test::kVnbBluetooth, CDevMgr::Disable));
    EXPECT_EQ("22", test::Field(VnbPeer((std::wstring(L"status ") + test::kVnbBluetooth).c_str()), "problem"));

    VnbPeer((std::wstring(L"switch ") + test::kVnbBluetooth + L" 1").c_str());
    ZoraSystemApi* sys = ZoraSys();
    DEVINST node = 0;
    ULONG status = 0, problem = 99;
    ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&node, const_cast<wchar_t*>(test::kVnbBluetooth), 0));
    ASSERT_EQ(CR_SUCCESS, sys->CM_Get_DevNode_Status_Ex(&status, &problem, node, 0, nullptr));
    EXPECT_EQ(0u, problem);
    EXPECT_EQ(static_cast<ULONG>(DN_STARTED), status & (DN_STARTED | DN_HAS_PROBLEM));
}

// An odd number of switches each: both devices end disabled unless a write of one
// process overwrote the other's.
TEST_F(VnbProcessTest, ConcurrentSwitchingFromTwoProcessesLosesNothing) {
    const wchar_t* path = m_machine.Path().c_str();
    std::vector<VnbDevice> before(VnbDeviceCount(path));
    for (size_t i = 0; i < before.size(); ++i) ASSERT_TRUE(VnbGetDevice(path, static_cast<int>(i), &before[i]));
    test::Process first, second;
    ASSERT_TRUE(first.Start(test::ProgramPath(test::OwnArch(), L"vnb_peer.exe"),
                            std::wstring(L"flip ") + test::kVnbWireless + L" 41", true));
    ASSERT_TRUE(second.Start(test::ProgramPath(test::PeerArch(), L"vnb_peer.exe"),
                             std::wstring(L"flip ") + test::kVnbCamera + L" 41", true));
    EXPECT_EQ(0, first.Wait(120000)) << first.Output();
    EXPECT_EQ(0, second.Wait(120000)) << second.Output();

    ASSERT_EQ(static_cast<int>(before.size()), VnbDeviceCount(path)) << GetLastError();
    for (size_t i = 0; i < before.size(); ++i) {
        VnbDevice d{};
        ASSERT_TRUE(VnbGetDevice(path, static_cast<int>(i), &d)) << i;
        EXPECT_STREQ(before[i].instanceId, d.instanceId) << i;
        bool flipped = wcscmp(d.instanceId, test::kVnbWireless) == 0 || wcscmp(d.instanceId, test::kVnbCamera) == 0;
        EXPECT_EQ(flipped ? static_cast<DWORD>(CM_PROB_DISABLED) : before[i].problem, d.problem) << i;
        EXPECT_EQ(flipped ? 0u : before[i].status, flipped ? d.status & DN_STARTED : d.status) << i;
    }
}

TEST_F(VnbProcessTest, HardwareSectionsKeepTheirValuesAcrossProcesses) {
    int nodes = VnbDeviceCount(m_machine.Path().c_str());
    test::SetMachineValue(L"Scratch", L"Marker", L"0x1234");
    std::string output;
    ASSERT_EQ(0, test::Run(test::ProgramPath(test::PeerArch(), L"zoractl.exe"), L"vnb devices", &output)) << output;
    EXPECT_EQ(L"0x1234", test::MachineValue(L"Scratch", L"Marker"));
    EXPECT_EQ(L"1", test::MachineValue(L"Driver", L"Installed"));
    EXPECT_EQ(nodes, VnbDeviceCount(m_machine.Path().c_str()))
        << "the device tree is untouched by a hardware section's write";
}

}  // namespace
