// The hardware access interface against the virtual notebook's driver: request layouts
// as the driver receives them, replies the caller relies on, device-object names after
// re-enumeration, mapped memory, and a machine without the driver.
#include <gtest/gtest.h>

#include <string>

#include "CpuAgent.h"
#include "DebugCapture.h"
#include "MachineCase.h"
#include "EcAgent.h"
#include "HwCPU.h"
#include "HwHubra.h"
#include "HwIA.h"
#include "HwTestSupport.h"
#include "HwUSBPorts.h"
#include "MachineSupport.h"
#include "TestSupport.h"
#include "ZoraEblContract.h"
#include "ZoraSystemApi.h"
#include "ZoraVnb.h"

namespace {

using hwtest::Field;
using hwtest::LastRequest;

class HwIATest : public test::MachineCase {
protected:
    std::wstring Lpc() {
        wchar_t name[64] = {};
        EXPECT_EQ(0, m_ia.GetDeviceName(0, 31, 0, name, 64));
        return name;
    }

    CHwIA m_ia;
};

TEST_F(HwIATest, SetupOpensOnceAndEveryAgentIsVersion1000) {
    EXPECT_EQ(0, m_ia.Setup());
    EXPECT_EQ(1, m_ia.Setup());
    EXPECT_EQ(1000u, m_ia.GetVersion());
    EXPECT_EQ(0, m_ia.Cleanup());
    EXPECT_EQ(0, m_ia.Setup()) << "opens again after Cleanup";
    CHwHubra hubra;
    CHwUSBPorts ports;
    CHwCPU cpu;
    EXPECT_EQ(1000u, hubra.GetVersion());
    EXPECT_EQ(1000u, ports.GetVersion());
    EXPECT_EQ(1000u, cpu.GetVersion());
}

TEST_F(HwIATest, DeviceNamesNeedRoomForFiftyOneCharacters) {
    ASSERT_EQ(0, m_ia.Setup());
    wchar_t name[64];
    EXPECT_EQ(E_FAIL, m_ia.GetDeviceName(0, 31, 0, name, 50));
    EXPECT_EQ(0, m_ia.GetDeviceName(0, 31, 0, name, 51));
    EXPECT_EQ(hwtest::ObjectName(0, 31, 0), name);
    EXPECT_EQ(E_FAIL, m_ia.GetDeviceName(0, 31, 0, nullptr, 64));
    EXPECT_EQ(E_FAIL, m_ia.GetDeviceName(0, 9, 0, name, 64)) << "no such function";
    EXPECT_EQ(0, m_ia.GetDeviceName(3, 0, 0, name, 64)) << "a function on another bus";
    EXPECT_EQ(hwtest::ObjectName(3, 0, 0), name);
}

TEST_F(HwIATest, ReEnumeratedDeviceIsFoundUnderItsNewName) {
    ASSERT_EQ(0, m_ia.Setup());
    std::wstring before = Lpc();
    ASSERT_EQ(hwtest::ObjectName(0, 31, 0), before);
    struct Case {
        DWORD object;
    } cases[] = {{30}, {3}, {0}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        ASSERT_TRUE(VnbRenumberPciDevice(m_machine.Path().c_str(), 0, 31, 0, cases[i].object)) << i;
        wchar_t expected[64];
        _snwprintf(expected, 64, L"\\Device\\NTPNP_PCI%04lu", cases[i].object);
        EXPECT_EQ(std::wstring(expected), Lpc()) << "case " << i;
        uint32_t id = 0;
        EXPECT_EQ(0, m_ia.ReadPCIConfig(Lpc().c_str(), 0, &id, 4)) << "case " << i;
        EXPECT_EQ(0x29191B2Fu, id) << "case " << i;
    }
    wchar_t name[64];
    ASSERT_EQ(0, m_ia.GetDeviceName(0, 26, 0, name, 64));
    EXPECT_EQ(hwtest::ObjectName(0, 26, 0), name) << "the function that gave up its number has another";
    EXPECT_FALSE(VnbRenumberPciDevice(m_machine.Path().c_str(), 0, 31, 0, 32));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST_F(HwIATest, RequestsReachTheDriverInTheirLayouts) {
    ASSERT_EQ(0, m_ia.Setup());
    std::wstring lpc = Lpc();
    EXPECT_EQ(lpc, Lpc()) << "found in the table and confirmed";
    size_t size = 0;
    std::string bytes;

    ASSERT_TRUE(LastRequest(11, &size, &bytes));
    EXPECT_EQ(104u, size);
    EXPECT_EQ(16u, Field(bytes, 0, 4)) << "the address property confirms the cached entry last";
    EXPECT_EQ(lpc, hwtest::NameField(bytes, 4));

    uint32_t value = 0;
    ASSERT_EQ(0, m_ia.ReadPCIConfig(lpc.c_str(), 0xF0, &value, 4));
    EXPECT_EQ(0xFED1C001u, value);
    ASSERT_TRUE(LastRequest(3, &size, &bytes));
    EXPECT_EQ(112u, size);
    EXPECT_EQ(lpc, hwtest::NameField(bytes, 0));
    EXPECT_EQ(0xF0u, Field(bytes, 100, 4));
    EXPECT_EQ(4u, Field(bytes, 104, 4));

    uint8_t pci[2] = {0x5A, 0x01};
    ASSERT_EQ(0, m_ia.WritePCIConfig(lpc.c_str(), 0xA0, pci, 2));
    ASSERT_TRUE(LastRequest(4, &size, &bytes));
    EXPECT_EQ(2u + 111u, size);
    EXPECT_EQ(lpc, hwtest::NameField(bytes, 0));
    EXPECT_EQ(0xA0u, Field(bytes, 100, 4));
    EXPECT_EQ(2u, Field(bytes, 104, 4));
    EXPECT_EQ(0x015Au, Field(bytes, 108, 2));
    EXPECT_EQ(0x015Au, hwtest::Config32(0, 31, 0, 0xA0) & 0xFFFF) << "written to configuration space";

    uint16_t io = 0;
    ASSERT_EQ(0, m_ia.ReadIoPort(0x1810, &io, 2));
    ASSERT_TRUE(LastRequest(5, &size, &bytes));
    EXPECT_EQ(12u, size);
    EXPECT_EQ(0x1810u, Field(bytes, 0, 2));
    EXPECT_EQ(2u, Field(bytes, 2, 2));
    EXPECT_EQ(2u, Field(bytes, 4, 4));

    uint32_t out = 0x00C0FFEE;
    ASSERT_EQ(0, m_ia.WriteIoPort(hwtest::kPmBase + 0x28, &out, 4));
    ASSERT_TRUE(LastRequest(6, &size, &bytes));
    EXPECT_EQ(4u + 11u, size);
    EXPECT_EQ(hwtest::kPmBase + 0x28, Field(bytes, 0, 2));
    EXPECT_EQ(4u, Field(bytes, 2, 2));
    EXPECT_EQ(4u, Field(bytes, 4, 4));
    EXPECT_EQ(0x00C0FFEEu, Field(bytes, 8, 4));

    void* mapping = nullptr;
    ASSERT_EQ(0, m_ia.MapMemorySpace(reinterpret_cast<void*>(uintptr_t{hwtest::kFunctionDisable}), 4, &mapping));
    ASSERT_NE(nullptr, mapping);
    MemorySpaceHandle record = *static_cast<MemorySpaceHandle*>(mapping);
    EXPECT_NE(0u, record.address);
    EXPECT_EQ(4u, record.length);
    EXPECT_EQ(0u, record.reserved);
    ASSERT_TRUE(LastRequest(7, &size, &bytes));
    EXPECT_EQ(16u, size);
    EXPECT_EQ(hwtest::kFunctionDisable, Field(bytes, 0, 4));
    EXPECT_EQ(0u, Field(bytes, 4, 4));
    EXPECT_EQ(4u, Field(bytes, 8, 4));
    EXPECT_EQ(0u, Field(bytes, 12, 4));

    uint32_t fd = 0x00040000;
    ASSERT_EQ(0, m_ia.WriteMemory(mapping, &fd, 4));
    ASSERT_TRUE(LastRequest(10, &size, &bytes));
    EXPECT_EQ(4u + 15u, size);
    EXPECT_EQ(static_cast<uint32_t>(record.address), Field(bytes, 0, 4));
    EXPECT_EQ(static_cast<uint32_t>(record.address >> 32), Field(bytes, 4, 4));
    EXPECT_EQ(4u, Field(bytes, 8, 4));
    EXPECT_EQ(0x00040000u, Field(bytes, 12, 4));
    EXPECT_EQ(0u, Field(bytes, 16, 3)) << "the three trailing bytes are zero";
    EXPECT_EQ(0x00040000u, hwtest::Memory32(hwtest::kFunctionDisable));

    fd = 0;
    ASSERT_EQ(0, m_ia.ReadMemory(mapping, &fd, 4));
    EXPECT_EQ(0x00040000u, fd);
    ASSERT_TRUE(LastRequest(9, &size, &bytes));
    EXPECT_EQ(16u, size);
    EXPECT_EQ(static_cast<uint32_t>(record.address), Field(bytes, 0, 4));
    EXPECT_EQ(4u, Field(bytes, 8, 4));
    EXPECT_EQ(0u, Field(bytes, 12, 4));

    ASSERT_EQ(0, m_ia.UnmapMemorySpace(mapping));
    ASSERT_TRUE(LastRequest(8, &size, &bytes));
    EXPECT_EQ(16u, size);
    EXPECT_EQ(static_cast<uint32_t>(record.address), Field(bytes, 0, 4));
    EXPECT_EQ(4u, Field(bytes, 8, 4));
}

TEST_F(HwIATest, PortWritesOfOtherWidthsAreRefusedBeforeTheDriver) {
    ASSERT_EQ(0, m_ia.Setup());
    uint8_t data[8] = {};
    size_t size = 0;
    std::string bytes;
    const unsigned short sizes[] = {3, 8, 0};
    for (size_t i = 0; i < ARRAYSIZE(sizes); ++i) {
        DebugCapture::Clear();
        EXPECT_EQ(E_FAIL, m_ia.WriteIoPort(hwtest::kPmBase, data, sizes[i])) << i;
        EXPECT_TRUE(DebugCapture::Contains("The uPortSize is invalid " + std::to_string(sizes[i]) + ".")) << i;
        EXPECT_FALSE(LastRequest(6, &size, &bytes)) << "nothing was sent, case " << i;
    }
}

TEST_F(HwIATest, ShortRepliesAreFailures) {
    ASSERT_EQ(0, m_ia.Setup());
    std::wstring lpc = Lpc();
    uint8_t buffer[16] = {};
    DebugCapture::Clear();
    EXPECT_EQ(E_FAIL, m_ia.ReadPCIConfig(lpc.c_str(), 250, buffer, 10)) << "only 6 bytes are left";
    EXPECT_TRUE(DebugCapture::Contains("IOCTL_READ_PCI_CONFIG failed"));
    EXPECT_FALSE(DebugCapture::Contains("IOCTL_READ_PCI_CONFIG failed for"));
    DebugCapture::Clear();
    EXPECT_EQ(E_FAIL, m_ia.ReadIoPort(hwtest::kPmBase, buffer, 8)) << "a port access is at most 4 bytes";
    EXPECT_FALSE(DebugCapture::Contains("IOCTL_ZORAEBL_PORT_READ failed")) << "a short reply has no text";
    EXPECT_EQ(0, m_ia.ReadIoPort(hwtest::kPmBase, buffer, 3)) << "no width check on reads";
    EXPECT_EQ(E_FAIL, m_ia.ReadPCIConfig(L"\\Device\\NTPNP_PCI0031", 0, buffer, 4)) << "no such object";
    EXPECT_TRUE(DebugCapture::Contains("IOCTL_READ_PCI_CONFIG failed for 2"));
    EXPECT_EQ(E_FAIL, m_ia.ReadPCIConfig(lpc.c_str(), 0, nullptr, 4));
    EXPECT_TRUE(DebugCapture::Contains("Invalidate parameters."));
    wchar_t longName[60];
    wmemset(longName, L'x', 59);
    longName[59] = L'\0';
    DebugCapture::Clear();
    uint32_t property = 0;
    EXPECT_EQ(E_FAIL, m_ia.GetDeviceProperty(14, longName, &property, 4));
    EXPECT_TRUE(DebugCapture::Contains("The device name is too long"));
}

TEST_F(HwIATest, MalformedRequestsFailAsTheDriverFailsThem) {
    HANDLE driver = ZoraSys()->CreateFileW(ZORAEBL_DEVICE_PATH, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, driver);
    uint8_t in[200] = {}, out[64] = {};
    struct Case {
        DWORD code;
        DWORD inSize;
    } cases[] = {
        {IOCTL_READ_PCI_CONFIG, 20},  {IOCTL_WRITE_PCI_CONFIG, 100}, {IOCTL_ZORAEBL_PORT_READ, 4},
        {IOCTL_WRITE_PORT, 6},        {IOCTL_MAP_MEMORY, 8},         {IOCTL_UNMAP_MEMEMORY, 16},
        {IOCTL_READ_MEMORY, 16},      {IOCTL_WRITE_MEMORY, 10},      {IOCTL_GET_DEVICE_PROPERTY, 50},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        DWORD returned = 99;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(ZoraSys()->DeviceIoControl(driver, cases[i].code, in, cases[i].inSize, out, sizeof(out),
                                                &returned, nullptr))
            << "case " << i;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError()) << "case " << i;
        EXPECT_EQ(0u, returned) << "case " << i;
    }
    // A port write whose data is shorter than its size field says.
    EblPortWriteHeader header{static_cast<uint16_t>(hwtest::kPmBase), 4, 4};
    memcpy(in, &header, sizeof(header));
    DWORD returned = 0;
    EXPECT_FALSE(ZoraSys()->DeviceIoControl(driver, IOCTL_WRITE_PORT, in, sizeof(header) + 2, nullptr, 0, &returned,
                                            nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    size_t size = 0;
    std::string bytes;
    ASSERT_TRUE(LastRequest(6, &size, &bytes)) << "malformed requests are recorded too";
    EXPECT_EQ(sizeof(header) + 2, size);
    ZoraSys()->CloseHandle(driver);
}

TEST_F(HwIATest, MappedMemoryIsTheCallersAndKeepsOtherWritersChanges) {
    ASSERT_EQ(0, m_ia.Setup());
    void* first = nullptr;
    void* second = nullptr;
    void* physical = reinterpret_cast<void*>(uintptr_t{hwtest::kFunctionDisable});
    ASSERT_EQ(0, m_ia.MapMemorySpace(physical, 4, &first));
    ASSERT_EQ(0, m_ia.MapMemorySpace(physical, 4, &second));
    auto* direct = reinterpret_cast<volatile uint8_t*>(static_cast<uintptr_t>(
        static_cast<MemorySpaceHandle*>(first)->address));
    direct[2] = 0x01;  // PCIE1 off, written straight into the mapping
    uint32_t other = 0x01000000;  // Thermal Throttle off, through the second mapping
    ASSERT_EQ(0, m_ia.WriteMemory(second, &other, 4));
    EXPECT_EQ(0x01000000u, hwtest::Memory32(hwtest::kFunctionDisable)) << "the direct write is not back yet";
    ASSERT_EQ(0, m_ia.UnmapMemorySpace(first));
    EXPECT_EQ(0x01010000u, hwtest::Memory32(hwtest::kFunctionDisable))
        << "the unmap wrote back the changed byte only";
    uint32_t read = 0;
    ASSERT_EQ(0, m_ia.ReadMemory(second, &read, 4));
    EXPECT_EQ(0x01010000u, read);
    ASSERT_EQ(0, m_ia.UnmapMemorySpace(second));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(E_FAIL, m_ia.MapMemorySpace(nullptr, 4, &first));
    EXPECT_TRUE(DebugCapture::Contains("Invalidate parameters."));
    EXPECT_EQ(E_FAIL, m_ia.MapMemorySpace(physical, 0x200000, &first)) << "more than the driver maps";
    EXPECT_EQ(nullptr, first) << "a failed mapping is not handed out";
    EXPECT_TRUE(DebugCapture::Contains("IOCTL_MAP_MEMORY failed for 87"));
}

// Copies hold the same driver handle; whichever goes first must leave it open for the
// other, and the last one closes it.
TEST_F(HwIATest, CopiesKeepTheSharedDriverHandleOpenUntilTheLastGoes) {
    CHwHubra hub;
    ASSERT_EQ(0, hub.Setup(1));
    {
        CHwHubra copy(hub);
        CHwHubra assigned;
        assigned = copy;
        ASSERT_EQ(0, assigned.FunctionDisable(L"PCIE3", 1));
    }
    int off = -1;
    EXPECT_EQ(0, hub.GetFunctionDisable(L"PCIE3", &off)) << "the copies closed the original's handle";
    EXPECT_EQ(1, off);
    {
        CHwHubra last(hub);
        hub.Cleanup();
        EXPECT_EQ(0, last.FunctionDisable(L"PCIE3", 0)) << "Cleanup of one holder closed it for the other";
    }

    CCpuAgent cpu;
    ASSERT_EQ(1, cpu.Initialize());
    { CCpuAgent copy(cpu); }
    EXPECT_EQ(66, cpu.SetEblLevel(60));

    CEcAgent ec;
    ASSERT_EQ(0, ec.Setup());
    {
        CEcAgent copy(ec);
        CEcAgent assigned;
        assigned = copy;
    }
    EXPECT_EQ(4u, ec.SetBacklightLevel(4));
}

TEST(HwMissingDriver, EveryAgentFailsCleanlyAndTouchesNothing) {
    test::FreshMachine machine;
    ASSERT_TRUE(machine.Ok());
    ASSERT_TRUE(VnbSetValue(machine.Path().c_str(), L"Driver", L"Installed", L"0"));
    DebugCapture::Clear();
    DebugCapture::Start();
    CHwIA ia;
    EXPECT_EQ(E_FAIL, ia.Setup());
    EXPECT_TRUE(DebugCapture::Contains("Open connection with driver failed for 2"));
    DebugCapture::Clear();
    uint32_t value = 0;
    unsigned __int64 msr = 0;
    void* mapping = nullptr;
    long results[] = {
        ia.ReadMSR(0xE2, &msr),
        ia.WriteMSR(0xE2, &msr),
        ia.ReadIoPort(hwtest::kPmBase, &value, 4),
        ia.WriteIoPort(hwtest::kPmBase, &value, 4),
        ia.MapMemorySpace(reinterpret_cast<void*>(uintptr_t{hwtest::kFunctionDisable}), 4, &mapping),
        ia.ReadPCIConfig(L"\\Device\\NTPNP_PCI0018", 0, &value, 4),
        ia.WritePCIConfig(L"\\Device\\NTPNP_PCI0018", 0xA0, &value, 2),
    };
    for (size_t i = 0; i < ARRAYSIZE(results); ++i) EXPECT_EQ(E_FAIL, results[i]) << "operation " << i;
    EXPECT_EQ(ARRAYSIZE(results), DebugCapture::Lines().size());
    EXPECT_TRUE(DebugCapture::Contains("The handle of the device doesn't exist."));

    CHwHubra hubra;
    CHwUSBPorts ports;
    CHwCPU cpu;
    EXPECT_EQ(E_FAIL, hubra.Setup(1));
    EXPECT_EQ(E_FAIL, hubra.FunctionDisable(L"PCIE3", 1));
    EXPECT_EQ(E_FAIL, ports.Setup(1));
    EXPECT_EQ(E_FAIL, ports.PortDisable(0, 1));
    EXPECT_EQ(E_FAIL, cpu.Setup(0));
    EXPECT_EQ(E_FAIL, cpu.SetCState(2, 0));
    DebugCapture::Stop();
    EXPECT_EQ("(missing)", hwtest::MachineValue(L"DriverRequests", L"Function3")) << "no request reached a driver";
    EXPECT_EQ(0u, hwtest::Memory32(hwtest::kFunctionDisable));
    EXPECT_EQ(0u, hwtest::Memory32(hwtest::kUsbWriteEnable));
    EXPECT_EQ(0u, hwtest::Config32(0, 31, 0, 0xA0) & 0xFFFF);
}

}  // namespace

// A write with no value sends nothing: the port or MSR never takes bytes nobody chose.
TEST_F(HwIATest, WritesWithoutAValueAreRefusedBeforeTheDriver) {
    ASSERT_EQ(0, m_ia.Setup());
    std::string perfCtl = hwtest::MachineValue(L"Processor0", L"PerfCtl");
    DebugCapture::Clear();
    EXPECT_EQ(E_FAIL, m_ia.WriteIoPort(hwtest::kPmBase, nullptr, 1));
    EXPECT_EQ(E_FAIL, m_ia.WriteMSR(0x199, nullptr));
    EXPECT_TRUE(DebugCapture::Contains("Invalidate parameters."));
    size_t size = 0;
    std::string bytes;
    EXPECT_FALSE(LastRequest(6, &size, &bytes)) << "no port write was sent";
    EXPECT_FALSE(LastRequest(2, &size, &bytes)) << "no MSR write was sent";
    EXPECT_EQ(perfCtl, hwtest::MachineValue(L"Processor0", L"PerfCtl"));
}
