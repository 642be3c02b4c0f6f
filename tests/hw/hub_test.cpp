// The hub agents against the virtual notebook's I/O hub: function switches and USB
// ports as the hub's registers hold them, the write lock, port status, C-states, two
// threads at once, and a change made by another process.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "DebugCapture.h"
#include "MachineCase.h"
#include "HwCPU.h"
#include "HwHubra.h"
#include "HwTestSupport.h"
#include "HwUSBPorts.h"
#include "MachineSupport.h"
#include "TestSupport.h"
#include "ZoraVnb.h"

namespace {

using hwtest::CfgOverride;
using hwtest::Memory32;

constexpr uint32_t kPcie3 = 1u << 18;
constexpr uint32_t kHdAudio = 1u << 4;

// The protected steps, as a caller that derives from the agent reaches them.
class Ports : public CHwUSBPorts {
public:
    using CHwUSBPorts::GetHCIPortConnected;
    using CHwUSBPorts::UnlockWriteBit;
};

class Cpu : public CHwCPU {
public:
    using CHwCPU::EnableC4State;
    using CHwCPU::EnableDeepC4;
};

class HubTest : public test::MachineCase {
protected:

};

TEST_F(HubTest, HubIsIdentifiedOnce) {
    CHwHubra hubra;
    EXPECT_EQ(0, hubra.Setup(0)) << "connection only";
    EXPECT_EQ(E_FAIL, hubra.FunctionDisable(L"PCIE3", 1)) << "not identified: section \" Devices\"";
    EXPECT_EQ(0, hubra.Setup(1));
    EXPECT_EQ(1, hubra.Setup(1));
    CHwHubra copy(hubra);
    EXPECT_EQ(1, copy.Setup(1)) << "the copy has the hub name";
}

TEST_F(HubTest, SwitchingAFunctionSetsItsFunctionDisableBit) {
    CHwHubra hubra;
    ASSERT_EQ(0, hubra.Setup(1));
    int disabled = -1;
    ASSERT_EQ(0, hubra.GetFunctionDisable(L"PCIE3", &disabled));
    EXPECT_EQ(0, disabled);
    ASSERT_EQ(0, hubra.FunctionDisable(L"PCIE3", 1));
    EXPECT_EQ(kPcie3, Memory32(hwtest::kFunctionDisable));
    ASSERT_EQ(0, hubra.GetFunctionDisable(L"PCIE3", &disabled));
    EXPECT_EQ(1, disabled);
    ASSERT_EQ(0, hubra.FunctionDisable(L"HD Audio", 2)) << "any other value sets the bit";
    EXPECT_EQ(kPcie3 | kHdAudio, Memory32(hwtest::kFunctionDisable));
    ASSERT_EQ(0, hubra.FunctionDisable(L"PCIE3", 0));
    EXPECT_EQ(kHdAudio, Memory32(hwtest::kFunctionDisable));
    ASSERT_EQ(0, hubra.GetFunctionDisable(L"PCIE3", &disabled));
    EXPECT_EQ(0, disabled);
    EXPECT_EQ(E_FAIL, hubra.GetFunctionDisable(L"PCIE3", nullptr));
}

TEST_F(HubTest, DisableTypeOneInvertsTheBitsSense) {
    CfgOverride cfg(L"HubraCfg.ini");
    cfg.Set(L"HD Audio", L"DisableType", L"1");
    CHwHubra hubra;
    ASSERT_EQ(0, hubra.Setup(1));
    int disabled = -1;
    ASSERT_EQ(0, hubra.GetFunctionDisable(L"HD Audio", &disabled));
    EXPECT_EQ(1, disabled) << "bit clear means off";
    ASSERT_EQ(0, hubra.FunctionDisable(L"HD Audio", 0));
    EXPECT_EQ(kHdAudio, Memory32(hwtest::kFunctionDisable));
    ASSERT_EQ(0, hubra.GetFunctionDisable(L"HD Audio", &disabled));
    EXPECT_EQ(0, disabled);
    ASSERT_EQ(0, hubra.FunctionDisable(L"HD Audio", 1));
    EXPECT_EQ(0u, Memory32(hwtest::kFunctionDisable));
    ASSERT_EQ(0, hubra.FunctionDisable(L"HD Audio", 2));
    EXPECT_EQ(kHdAudio, Memory32(hwtest::kFunctionDisable)) << "value 2 sets the bit for either type";
}

TEST_F(HubTest, BadFunctionEntriesFailWithoutTouchingTheHardware) {
    CfgOverride cfg(L"HubraCfg.ini");
    cfg.Set(L"PCIE1", L"RegisterType", L"io");
    cfg.Set(L"PCIE2", L"Bit", nullptr);
    CHwHubra hubra;
    ASSERT_EQ(0, hubra.Setup(1));
    const wchar_t* names[] = {L"PCIE1", L"PCIE2", L"pcie3", L"No Such Function", L""};
    for (size_t i = 0; i < ARRAYSIZE(names); ++i) {
        EXPECT_EQ(E_FAIL, hubra.FunctionDisable(names[i], 1)) << "case " << i;
        int disabled = -1;
        EXPECT_EQ(E_FAIL, hubra.GetFunctionDisable(names[i], &disabled)) << "case " << i;
        EXPECT_EQ(-1, disabled) << "case " << i;
    }
    EXPECT_EQ(0u, Memory32(hwtest::kFunctionDisable));
    EXPECT_EQ("(missing)", hwtest::MachineValue(L"DriverRequests", L"Function7")) << "nothing was mapped";
}

TEST_F(HubTest, FunctionRegisterInConfigurationSpace) {
    CfgOverride cfg(L"HubraCfg.ini");
    cfg.Set(L"SM Bus", L"RegisterType", L"PCIConfig");
    cfg.Set(L"SM Bus", L"Device", L"31");
    cfg.Set(L"SM Bus", L"Function", L"3");
    cfg.Set(L"SM Bus", L"ValueOffset", L"0x40");
    cfg.Set(L"SM Bus", L"ValueSize", L"1");
    cfg.Set(L"SM Bus", L"Bit", L"0");
    cfg.Set(L"SM Bus", L"DisableType", L"1");
    CHwHubra hubra;
    ASSERT_EQ(0, hubra.Setup(1));
    ASSERT_EQ(0, hubra.FunctionDisable(L"SM Bus", 0));
    EXPECT_EQ(1u, hwtest::Config32(0, 31, 3, 0x40) & 0xFF) << "host enable set";
    int disabled = -1;
    ASSERT_EQ(0, hubra.GetFunctionDisable(L"SM Bus", &disabled));
    EXPECT_EQ(0, disabled);
}

TEST_F(HubTest, IdentificationRules) {
    struct Case {
        const wchar_t* key;
        const wchar_t* value;
        long expected;
    } cases[] = {
        {L"RegisterType", L"Memory", 0},  // section 0 skipped, section 1 tried
        {L"Bus", nullptr, E_FAIL},        // the search ends here
        {L"Value", L"672537391", E_FAIL}, // decimal never matches; section 1 (8086h) does not either
        {L"ValueSize", L"3", E_FAIL},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        CfgOverride cfg(L"HubraCfg.ini");
        cfg.Set(L"Hubra Identification 0", cases[i].key, cases[i].value);
        if (cases[i].expected == 0) {
            cfg.Set(L"Hubra Identification 1", L"Value", L"0x29191b2f");
            cfg.Set(L"Hubra Identification 1", L"Name", L"ICH9M");
        }
        CHwHubra hubra;
        EXPECT_EQ(cases[i].expected, hubra.Setup(1)) << "case " << i;
    }
}

TEST_F(HubTest, SetupOpensTheUsbWriteLock) {
    EXPECT_EQ(0u, Memory32(hwtest::kUsbWriteEnable));
    Ports ports;
    ASSERT_EQ(0, ports.Setup(0));
    EXPECT_EQ(0u, Memory32(hwtest::kUsbWriteEnable)) << "connection only";
    ASSERT_EQ(0, ports.Setup(1));
    EXPECT_EQ(1u, Memory32(hwtest::kUsbWriteEnable));
    EXPECT_EQ(1, ports.Setup(1));
}

TEST_F(HubTest, ClosedWriteLockBlocksPortSwitching) {
    Ports ports;
    ASSERT_EQ(0, ports.Setup(1));
    ASSERT_EQ(0, ports.UnlockWriteBit(0));
    EXPECT_EQ(0u, Memory32(hwtest::kUsbWriteEnable));
    EXPECT_EQ(0, ports.PortDisable(2, 1)) << "the write itself goes through";
    EXPECT_EQ(0u, Memory32(hwtest::kUsbPortDisable)) << "but the locked register keeps its value";
    int disabled = -1;
    ASSERT_EQ(0, ports.GetPortDisable(2, &disabled));
    EXPECT_EQ(0, disabled);
    ASSERT_EQ(0, ports.UnlockWriteBit(1));
    ASSERT_EQ(0, ports.PortDisable(2, 1));
    EXPECT_EQ(1u << 2, Memory32(hwtest::kUsbPortDisable));
    ASSERT_EQ(0, ports.GetPortDisable(2, &disabled));
    EXPECT_EQ(1, disabled);
    ASSERT_EQ(0, ports.PortDisable(2, 0));
    EXPECT_EQ(0u, Memory32(hwtest::kUsbPortDisable));
    {
        CfgOverride cfg(L"USBCfg.ini");
        cfg.Set(L"ICH9M USBPorts", L"WLEnableType", L"2");
        EXPECT_EQ(0, ports.UnlockWriteBit(1));
        EXPECT_EQ(0u, Memory32(hwtest::kUsbWriteEnable)) << "type 2 clears the bit";
    }
}

TEST_F(HubTest, PortArgumentsAndEntriesAreChecked) {
    Ports ports;
    ASSERT_EQ(0, ports.Setup(1));
    int value = -1;
    EXPECT_EQ(E_FAIL, ports.PortDisable(12, 1));
    EXPECT_EQ(E_FAIL, ports.PortDisable(-1, 1));
    EXPECT_EQ(E_FAIL, ports.GetPortDisable(12, &value));
    EXPECT_EQ(E_FAIL, ports.GetPortDisable(0, nullptr));
    EXPECT_EQ(E_FAIL, ports.GetPortConnected(-1, &value));
    EXPECT_EQ(E_FAIL, ports.GetPortConnected(12, &value)) << "two EHCI controllers of six ports";
    {
        CfgOverride cfg(L"USBCfg.ini");
        cfg.Set(L"ICH9M USBPorts Status", L"EHCIPortNumber", L"4");
        cfg.Set(L"ICH9M EHCI 1", L"ValueOffset1", L"0x6c");  // read port 2's register as port 1's
        ASSERT_TRUE(VnbAttachUsbDevice(m_machine.Path().c_str(), 2, 2, L"Four-Port Probe"));
        value = -1;
        EXPECT_EQ(0, ports.GetHCIPortConnected(5, &value, 1)) << "port 5: EHCI controller 1, its port 1";
        EXPECT_EQ(1, value);
        EXPECT_EQ(E_FAIL, ports.GetHCIPortConnected(8, &value, 1)) << "2 x 4 EHCI ports end at 7";
        ASSERT_TRUE(VnbDetachUsbDevice(m_machine.Path().c_str(), 2, 2));
    }
    {
        CfgOverride cfg(L"USBCfg.ini");
        cfg.Set(L"ICH9M USBPorts", L"RegisterType", L"PCIConfig");
        EXPECT_EQ(E_FAIL, ports.PortDisable(1, 1));
    }
    {
        CfgOverride cfg(L"USBCfg.ini");
        cfg.Set(L"ICH9M USBPorts", L"RegisterType", nullptr);
        DebugCapture::Clear();
        EXPECT_EQ(E_FAIL, ports.PortDisable(1, 1));
        EXPECT_TRUE(DebugCapture::Contains("Cannot get RegisterType"));
    }
    EXPECT_EQ(0u, Memory32(hwtest::kUsbPortDisable));
}

TEST_F(HubTest, PortStatusFollowsAttachedDevicesAndSwitchedOffPorts) {
    Ports ports;
    ASSERT_EQ(0, ports.Setup(1));
    // Default devices: the webcam (high speed) on EHCI D29:F7 port 3, the Bluetooth radio
    // on UHCI D29:F2 port 0 (physical port 4), the fingerprint sensor on UHCI D26:F1 port 0
    // (physical port 8).
    struct Case {
        int port;
        int ehci, uhci, any;
    } cases[] = {{0, 0, 0, 0}, {3, 1, 0, 1}, {4, 0, 1, 1}, {8, 0, 1, 1}, {9, 0, 0, 0}, {11, 0, 0, 0}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        int ehci = -1, uhci = -1, any = -1;
        ASSERT_EQ(0, ports.GetHCIPortConnected(cases[i].port, &ehci, 1)) << "case " << i;
        ASSERT_EQ(0, ports.GetHCIPortConnected(cases[i].port, &uhci, 0)) << "case " << i;
        ASSERT_EQ(0, ports.GetPortConnected(cases[i].port, &any)) << "case " << i;
        EXPECT_EQ(cases[i].ehci, ehci) << "case " << i;
        EXPECT_EQ(cases[i].uhci, uhci) << "case " << i;
        EXPECT_EQ(cases[i].any, any) << "case " << i;
    }
    EXPECT_EQ(0x0085u, hwtest::Io16(0x1840 + 0x10)) << "UHCI #3 PORTSC0: connected, enabled";
    ASSERT_EQ(0, ports.PortDisable(4, 1));
    int any = -1;
    ASSERT_EQ(0, ports.GetPortConnected(4, &any));
    EXPECT_EQ(0, any) << "a switched-off port shows nothing";
    EXPECT_EQ(0x0080u, hwtest::Io16(0x1840 + 0x10));
    EXPECT_EQ(0x1000u, Memory32(0xFE227000 + 0x64 + 4 * 4)) << "EHCI port 4: powered, not handed over";

    ASSERT_TRUE(VnbAttachUsbDevice(m_machine.Path().c_str(), 6, 0, L"USB Flash Disk"));
    ASSERT_EQ(0, ports.GetPortConnected(0, &any));
    EXPECT_EQ(1, any) << "attached on EHCI D29:F7 port 0";
    EXPECT_EQ(0x1005u, Memory32(0xFE227000 + 0x64));
    ASSERT_TRUE(VnbDetachUsbDevice(m_machine.Path().c_str(), 6, 0));
    ASSERT_EQ(0, ports.GetPortConnected(0, &any));
    EXPECT_EQ(0, any);

    // The last physical port: UHCI #6 (D26:F2, HCD7) port 1, behind EHCI D26:F7 port 5.
    ASSERT_TRUE(VnbAttachUsbDevice(m_machine.Path().c_str(), 7, 1, L"USB Optical Mouse"));
    ASSERT_EQ(0, ports.GetPortConnected(11, &any));
    EXPECT_EQ(1, any);
    EXPECT_EQ(0x0085u, hwtest::Io16(0x18A0 + 0x12)) << "UHCI #6 PORTSC1";
    EXPECT_EQ(0x3000u, Memory32(0xFE226C00 + 0x64 + 4 * 5)) << "EHCI #2 port 5: handed to the companion";
    ASSERT_EQ(0, ports.PortDisable(11, 1));
    EXPECT_EQ(1u << 11, Memory32(hwtest::kUsbPortDisable) & (1u << 11));
    ASSERT_EQ(0, ports.GetPortConnected(11, &any));
    EXPECT_EQ(0, any);
    ASSERT_TRUE(VnbDetachUsbDevice(m_machine.Path().c_str(), 7, 1));
}

TEST_F(HubTest, PortDeviceNamesComeFromTheSharedEnumerator) {
    Ports ports;
    ASSERT_EQ(0, ports.Setup(1));
    wchar_t name[260] = {};
    ASSERT_EQ(0, ports.GetPortDeviceName(4, name, 260));
    EXPECT_STREQ(L"Integrated Bluetooth Radio", name);
    ASSERT_EQ(0, ports.GetPortDeviceName(0, name, 260));
    EXPECT_STREQ(L"Empty", name);
    Ports second;
    EXPECT_EQ(0, second.Setup(1)) << "its own identification, the enumeration is shared";
    ASSERT_EQ(0, second.GetPortDeviceName(4, name, 260));
    EXPECT_STREQ(L"Integrated Bluetooth Radio", name);
    // A switched-off port has nothing on it for the root hubs either.
    ASSERT_EQ(0, ports.PortDisable(4, 1));
    ASSERT_EQ(0, ports.GetPortDeviceName(4, name, 260));
    EXPECT_STREQ(L"Empty", name);
    ASSERT_EQ(0, ports.PortDisable(4, 0));
    ASSERT_EQ(0, ports.GetPortDeviceName(4, name, 260));
    EXPECT_STREQ(L"Integrated Bluetooth Radio", name);
}

TEST_F(HubTest, TwoThreadsSwitchingAtOnceLoseNothing) {
    const int kRounds = 3;
    auto ports = [&](int first) {
        Ports agent;
        if (agent.Setup(1) != 0) return;
        for (int round = 0; round < kRounds; ++round)
            for (int port = first; port < 12; port += 2) {
                agent.PortDisable(port, 1);
                if (round + 1 < kRounds) agent.PortDisable(port, 0);
            }
    };
    auto functions = [&](int first) {
        CHwHubra agent;
        if (agent.Setup(1) != 0) return;
        for (int round = 0; round < kRounds; ++round)
            for (int n = first; n <= 6; n += 2) {
                std::wstring name = L"PCIE" + std::to_wstring(n);
                agent.FunctionDisable(name.c_str(), 1);
                if (round + 1 < kRounds) agent.FunctionDisable(name.c_str(), 0);
            }
    };
    std::thread a(ports, 0), b(ports, 1), c(functions, 1), d(functions, 2);
    a.join();
    b.join();
    c.join();
    d.join();
    EXPECT_EQ(0xFFFu, Memory32(hwtest::kUsbPortDisable));
    EXPECT_EQ(0x3Fu << 16, Memory32(hwtest::kFunctionDisable));
}

TEST_F(HubTest, CpuSetupEnablesC4AndEntersLevels) {
    Cpu cpu;
    ASSERT_EQ(0, cpu.Setup(0));
    EXPECT_EQ(0x80u, hwtest::Config32(0, 31, 0, 0xA0) & 0xFFFF) << "C4onC3_EN set";
    EXPECT_TRUE(DebugCapture::Contains("0x80"));
    EXPECT_TRUE(DebugCapture::Contains("PMG_CST_CONFIG_CTRL valuse is 0x"));
    struct Case {
        int state, mwait;
        long expected;
        const char* counter;
    } cases[] = {
        {2, 0, 0, "C2Entries"},  {3, 0, 0, "C3Entries"}, {4, 0, 0, "C4Entries"},
        {1, 0, E_FAIL, nullptr}, {5, 0, E_FAIL, nullptr}, {3, 1, E_FAIL, nullptr},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        EXPECT_EQ(cases[i].expected, cpu.SetCState(cases[i].state, cases[i].mwait)) << "case " << i;
        if (cases[i].counter) {
            std::string key = cases[i].counter;
            EXPECT_EQ("1", hwtest::MachineValue(L"HwPm", std::wstring(key.begin(), key.end()).c_str())) << "case " << i;
        }
    }
    EXPECT_EQ("1", hwtest::MachineValue(L"HwPm", L"C3Entries")) << "refused requests enter nothing";
}

TEST_F(HubTest, C4EnableBitFollowsItsEnableType) {
    struct Case {
        const wchar_t* type;
        int enable;
        uint32_t start, expected;
    } cases[] = {{L"1", 1, 0x00, 0x80}, {L"1", 0, 0x80, 0x00}, {L"0", 1, 0x80, 0x00},
                 {L"0", 0, 0x00, 0x80}, {L"2", 1, 0x80, 0x00}, {L"2", 0, 0x80, 0x00}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        CfgOverride cfg(L"CPUCfg.ini");
        cfg.Set(L"Core 2 Duo Mobile Penryn Devices", L"C4EnableType", cases[i].type);
        Cpu cpu;
        ASSERT_EQ(0, cpu.Setup(0)) << "case " << i;
        uint16_t start = static_cast<uint16_t>(cases[i].start);
        std::wstring lpc = hwtest::ObjectName(0, 31, 0);
        ASSERT_EQ(0, cpu.WritePCIConfig(lpc.c_str(), 0xA0, &start, 2)) << "case " << i;
        EXPECT_EQ(0, cpu.EnableC4State(cases[i].enable)) << "case " << i;
        EXPECT_EQ(cases[i].expected, hwtest::Config32(0, 31, 0, 0xA0) & 0xFFFF) << "case " << i;
    }
}

TEST_F(HubTest, CpuIdentificationNeedsAHexSignature) {
    CfgOverride cfg(L"CPUCfg.ini");
    cfg.Set(L"CPU Identification 0", L"Value", L"1067");
    Cpu cpu;
    EXPECT_EQ(E_FAIL, cpu.Setup(0)) << "ends the search rather than skipping the section";
    EXPECT_EQ(0u, hwtest::Config32(0, 31, 0, 0xA0) & 0xFFFF);
    cfg.Set(L"CPU Identification 0", L"Value", L"0x7a");
    cfg.Set(L"CPU Identification 1", L"Value", L"0x6f");
    DebugCapture::Clear();
    EXPECT_EQ(E_FAIL, cpu.Setup(0));
    EXPECT_TRUE(DebugCapture::Contains("Cannot find matched cpu."));
}

TEST_F(HubTest, ChangesByTheOtherArchitecturesToolAreSeen) {
    std::wstring zoractl = test::ProgramPath(test::PeerArch(), L"zoractl.exe");
    ASSERT_FALSE(zoractl.empty());
    std::string output;
    ASSERT_EQ(0, test::Run(zoractl, L"hub off PCIE2", &output)) << output;
    ASSERT_EQ(0, test::Run(zoractl, L"usb off 5", &output)) << output;
    ASSERT_EQ(0, test::Run(zoractl, L"hub renumber 0 31 0 29", &output)) << output;
    CHwHubra hubra;
    ASSERT_EQ(0, hubra.Setup(1));
    int disabled = -1;
    ASSERT_EQ(0, hubra.GetFunctionDisable(L"PCIE2", &disabled));
    EXPECT_EQ(1, disabled);
    Ports ports;
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

}  // namespace
