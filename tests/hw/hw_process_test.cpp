// Hardware changed by another process of the other architecture: the hub agents and the
// USB enumerator see what zoractl and usb_peer did to the shared machine.
#include <gtest/gtest.h>

#include <string>

#include "HwHubra.h"
#include "HwUSBPorts.h"
#include "MachineSupport.h"
#include "USBEnum.h"

namespace {

using HwProcessTest = test::MachineCase;

TEST_F(HwProcessTest, HubChangesByTheOtherArchitecturesToolAreSeen) {
    std::wstring zoractl = test::ProgramPath(test::PeerArch(), L"zoractl.exe");
    std::string output;
    for (const wchar_t* command : {L"hub off PCIE2", L"usb off 5", L"hub renumber 0 31 0 29"})
        ASSERT_EQ(0, test::Run(zoractl, command, &output)) << output;
    CHwHubra hubra;
    ASSERT_EQ(0, hubra.Setup(1));
    int disabled = -1;
    ASSERT_EQ(0, hubra.GetFunctionDisable(L"PCIE2", &disabled));
    EXPECT_EQ(1, disabled);
    CHwUSBPorts ports;
    ASSERT_EQ(0, ports.Setup(1));
    ASSERT_EQ(0, ports.GetPortDisable(5, &disabled));
    EXPECT_EQ(1, disabled);
    wchar_t name[64];
    ASSERT_EQ(0, hubra.GetDeviceName(0, 31, 0, name, 64));
    EXPECT_STREQ(L"\\Device\\NTPNP_PCI0029", name);
    ASSERT_EQ(0, test::Run(zoractl, L"usb list", &output)) << output;
    EXPECT_NE(std::string::npos, output.find("Integrated Bluetooth Radio")) << output;
    EXPECT_NE(std::string::npos, output.find("port  5 off")) << output;
    EXPECT_EQ(1, test::Run(zoractl, L"hub", &output)) << "usage";
}

// Physical port 1: UHCI HCD3 port 1 (full speed) and EHCI HCD6 port 1 (high speed).
// The open root hubs answer from the machine as it is now.
TEST_F(HwProcessTest, UsbDevicePluggedInByTheOtherArchitectureIsSeen) {
    std::wstring peer = test::ProgramPath(test::PeerArch(), L"usb_peer.exe");
    CUSBEnum usb;
    ASSERT_EQ(0, usb.Setup());
    auto name = [&] {
        wchar_t text[64] = {};
        return usb.GetPortDeviceName(1, text, 64) == 0 ? std::wstring(text) : L"(failed)";
    };
    ASSERT_EQ(L"Empty", name());
    std::string output;
    ASSERT_EQ(0, test::Run(peer, L"attach 3 1 \"USB Card Reader\"", &output)) << output;
    EXPECT_EQ(L"USB Card Reader", name());
    std::wstring driver = test::MachineValue(L"Usb", L"HCD3.Port1.Driver");
    EXPECT_TRUE(test::UsbDriverKeyExists(driver)) << test::Narrow(driver);
    EXPECT_EQ(static_cast<int>(ERROR_BUSY), test::Run(peer, L"attach 3 1 Another", &output)) << output;
    EXPECT_EQ(L"USB Card Reader", name()) << "a refused attach changes nothing";

    ASSERT_EQ(0, test::Run(peer, L"detach 3 1", &output)) << output;
    EXPECT_EQ(L"Empty", name());
    EXPECT_FALSE(test::UsbDriverKeyExists(driver)) << "the driver key goes with the device";
    EXPECT_EQ(static_cast<int>(ERROR_NOT_FOUND), test::Run(peer, L"detach 3 1", &output)) << output;

    ASSERT_EQ(0, test::Run(peer, L"attach 6 1 \"High-Speed Disk\"", &output)) << output;
    EXPECT_EQ(L"High-Speed Disk", name()) << "found on the EHCI side";
    EXPECT_TRUE(VnbDetachUsbDevice(m_machine.Path().c_str(), 6, 1));
}

}  // namespace
