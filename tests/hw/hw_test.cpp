// Hardware access inside one process, against the virtual notebook: the driver
// interface (request layouts, replies, device-object names, mapped memory, a machine
// without the driver), the hub agents (function switches, USB ports and their write
// lock, port status, C-states) and the USB host controller enumerator.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "CpuAgent.h"
#include "DebugCapture.h"
#include "EcAgent.h"
#include "HwCPU.h"
#include "HwHubra.h"
#include "HwIA.h"
#include "HwUSBPorts.h"
#include "MachineSupport.h"
#include "USBEnum.h"
#include "ZoraEblContract.h"
#include "ZoraSystemApi.h"
#include "ZoraUsbContract.h"

namespace {

// The default machine's hub (see cfg/HubraCfg.ini, cfg/USBCfg.ini, cfg/CPUCfg.ini).
constexpr uint32_t kRcba = 0xFED1C000;
constexpr uint32_t kFunctionDisable = kRcba + 0x3418;
constexpr uint32_t kUsbPortDisable = kRcba + 0x359C;
constexpr uint32_t kUsbWriteEnable = kRcba + 0x3598;
constexpr uint32_t kPmBase = 0x500;
constexpr uint32_t kPcie3 = 1u << 18;
constexpr uint32_t kHdAudio = 1u << 4;
// The LPC interface, 0:31:0, as the default machine numbers its device object.
constexpr wchar_t kLpc[] = L"\\Device\\NTPNP_PCI0019";
void* const kFunctionDisableAddress = reinterpret_cast<void*>(uintptr_t{kFunctionDisable});

// Registers as the hardware holds them (no side effects of a driver access).
uint32_t Peek(DWORD space, DWORD address, DWORD length) {
    DWORD value = 0;
    if (!VnbPeekHw(test::FreshMachine::MachinePath().c_str(), space, address, &value, length)) return 0xDEADBEEF;
    return value;
}
uint32_t Memory32(uint32_t address) { return Peek(0, address, 4); }
uint32_t Io16(uint32_t port) { return Peek(1, port, 2); }
// Configuration space of the function at bus:device.function.
uint32_t Config32(int bus, int device, int function, int offset) {
    DWORD object = 0;
    if (!VnbGetPciDeviceObject(test::FreshMachine::MachinePath().c_str(), bus, device, function, &object))
        return 0xDEADBEEF;
    return Peek(2, (object << 16) | static_cast<DWORD>(offset), 4);
}

// ---- The driver interface ----

class HwIATest : public test::MachineCase {
protected:
    std::wstring Name(int bus, int device, int function) {
        wchar_t name[64] = {};
        EXPECT_EQ(0, m_ia.GetDeviceName(bus, device, function, name, 64));
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
    EXPECT_EQ(1000u, CHwHubra().GetVersion());
    EXPECT_EQ(1000u, CHwUSBPorts().GetVersion());
    EXPECT_EQ(1000u, CHwCPU().GetVersion());
}

// Room for a device name is 51 characters, however long the name: one short of that,
// the exact fit, and a function that does not exist.
TEST_F(HwIATest, DeviceNamesNeedRoomForFiftyOneCharacters) {
    ASSERT_EQ(0, m_ia.Setup());
    wchar_t name[64];
    wcscpy(name, L"untouched");
    EXPECT_EQ(E_FAIL, m_ia.GetDeviceName(0, 31, 0, name, 50));
    EXPECT_STREQ(L"untouched", name);
    wmemset(name, L'#', 64);
    EXPECT_EQ(0, m_ia.GetDeviceName(0, 31, 0, name, 51));
    EXPECT_STREQ(kLpc, name);
    EXPECT_EQ(L'#', name[51]);
    EXPECT_EQ(E_FAIL, m_ia.GetDeviceName(0, 31, 0, nullptr, 64));
    EXPECT_EQ(E_FAIL, m_ia.GetDeviceName(0, 9, 0, name, 64)) << "no such function";
    EXPECT_EQ(L"\\Device\\NTPNP_PCI0024", Name(3, 0, 0)) << "a function on another bus";
}

TEST_F(HwIATest, ReEnumeratedDeviceIsFoundUnderItsNewName) {
    ASSERT_EQ(0, m_ia.Setup());
    ASSERT_EQ(kLpc, Name(0, 31, 0));
    const struct {
        DWORD object;
        const wchar_t* name;
    } cases[] = {{30, L"\\Device\\NTPNP_PCI0030"}, {3, L"\\Device\\NTPNP_PCI0003"}, {0, L"\\Device\\NTPNP_PCI0000"}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        ASSERT_TRUE(VnbRenumberPciDevice(m_machine.Path().c_str(), 0, 31, 0, cases[i].object)) << i;
        EXPECT_EQ(cases[i].name, Name(0, 31, 0)) << "case " << i;
        uint32_t id = 0;
        EXPECT_EQ(0, m_ia.ReadPCIConfig(cases[i].name, 0, &id, 4)) << "case " << i;
        EXPECT_EQ(0x29191B2Fu, id) << "case " << i;
    }
    EXPECT_EQ(L"\\Device\\NTPNP_PCI0003", Name(0, 0, 0)) << "the function that gave up its number took the moved one's";
    EXPECT_TRUE(test::FailsWith(ERROR_INVALID_PARAMETER,
                                [&] { return VnbRenumberPciDevice(m_machine.Path().c_str(), 0, 31, 0, 32); }));
}

// What each access leaves in the hardware, and what a read brings back.
TEST_F(HwIATest, AccessesReachTheHardware) {
    ASSERT_EQ(0, m_ia.Setup());
    uint32_t value = 0;
    ASSERT_EQ(0, m_ia.ReadPCIConfig(kLpc, 0xF0, &value, 4));
    EXPECT_EQ(0xFED1C001u, value) << "the root-complex base, enabled";
    uint8_t pci[2] = {0x5A, 0x01};
    ASSERT_EQ(0, m_ia.WritePCIConfig(kLpc, 0xA0, pci, 2));
    EXPECT_EQ(0x015Au, Config32(0, 31, 0, 0xA0) & 0xFFFF);
    value = 0x00C0FFEE;
    ASSERT_EQ(0, m_ia.WriteIoPort(kPmBase + 0x28, &value, 4));
    EXPECT_EQ(0xFFEEu, Io16(kPmBase + 0x28));
    value = 0;
    ASSERT_EQ(0, m_ia.ReadIoPort(kPmBase + 0x28, &value, 4));
    EXPECT_EQ(0x00C0FFEEu, value);
    void* mapping = nullptr;
    ASSERT_EQ(0, m_ia.MapMemorySpace(kFunctionDisableAddress, 4, &mapping));
    const MemorySpaceHandle record = *static_cast<MemorySpaceHandle*>(mapping);
    EXPECT_NE(0u, record.address);
    EXPECT_EQ(4u, record.length);
    EXPECT_EQ(0u, record.reserved);
    value = 0x00040000;
    ASSERT_EQ(0, m_ia.WriteMemory(mapping, &value, 4));
    EXPECT_EQ(0x00040000u, Memory32(kFunctionDisable));
    value = 0;
    ASSERT_EQ(0, m_ia.ReadMemory(mapping, &value, 4));
    EXPECT_EQ(0x00040000u, value);
    ASSERT_EQ(0, m_ia.UnmapMemorySpace(mapping));
}

// The exact bytes the driver receives for each function (3-11), one access a row, with
// a mapping of the function-disable register made first.
struct Layout {
    int function;
    long size;
    std::vector<test::RequestField> fields;  // value kMapped: the mapping's address
    size_t unsetAt, unsetCount;              // bytes the library leaves as they were
    std::function<long(CHwIA&, void* mapping)> access;
};
constexpr uint64_t kMapped = ~0ull;

// clang-format off
const Layout kLayouts[] = {
    {3, 112, {{0, 0, 0, kLpc}, {100, 4, 0xF0}, {104, 4, 4}}, 108, 4,
     [](CHwIA& ia, void*) { uint32_t v; return ia.ReadPCIConfig(kLpc, 0xF0, &v, 4); }},
    {4, 2 + 111, {{0, 0, 0, kLpc}, {100, 4, 0xA0}, {104, 4, 2}, {108, 2, 0x015A}}, 110, 3,
     [](CHwIA& ia, void*) { uint8_t d[2] = {0x5A, 0x01}; return ia.WritePCIConfig(kLpc, 0xA0, d, 2); }},
    {5, 12, {{0, 2, 0x1810}, {2, 2, 2}, {4, 4, 2}}, 8, 4,
     [](CHwIA& ia, void*) { uint16_t v; return ia.ReadIoPort(0x1810, &v, 2); }},
    {6, 4 + 11, {{0, 2, kPmBase + 0x28}, {2, 2, 4}, {4, 4, 4}, {8, 4, 0x00C0FFEE}}, 12, 3,
     [](CHwIA& ia, void*) { uint32_t v = 0x00C0FFEE; return ia.WriteIoPort(kPmBase + 0x28, &v, 4); }},
    // A port write whose data is shorter than its size field says: refused, and recorded.
    {6, 8 + 2, {{0, 2, kPmBase}, {2, 2, 4}, {4, 4, 4}, {8, 2, 0xBEEF}}, 0, 0,
     [](CHwIA&, void*) -> long {
         HANDLE driver = ZoraSys()->CreateFileW(ZORAEBL_DEVICE_PATH, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                                nullptr);
         uint8_t in[10] = {kPmBase & 0xFF, kPmBase >> 8, 4, 0, 4, 0, 0, 0, 0xEF, 0xBE};
         DWORD returned = 0;
         bool refused = test::FailsWith(ERROR_INVALID_PARAMETER, [&] {
             return ZoraSys()->DeviceIoControl(driver, IOCTL_WRITE_PORT, in, sizeof(in), nullptr, 0, &returned,
                                               nullptr);
         });
         ZoraSys()->CloseHandle(driver);
         return refused ? 0 : E_FAIL;
     }},
    {7, 16, {{0, 8, kFunctionDisable}, {8, 4, 4}, {12, 4, 0}}, 0, 0, [](CHwIA&, void*) { return 0L; }},
    {8, 16, {{0, 8, kMapped}, {8, 4, 4}, {12, 4, 0}}, 0, 0,
     [](CHwIA& ia, void* mapping) { return ia.UnmapMemorySpace(mapping); }},
    {9, 16, {{0, 8, kMapped}, {8, 4, 4}, {12, 4, 0}}, 0, 0,
     [](CHwIA& ia, void* mapping) { uint32_t v; return ia.ReadMemory(mapping, &v, 4); }},
    {10, 4 + 15, {{0, 8, kMapped}, {8, 4, 4}, {12, 4, 0x00040000}}, 0, 0,
     [](CHwIA& ia, void* mapping) { uint32_t v = 0x00040000; return ia.WriteMemory(mapping, &v, 4); }},
    // A name found in the table the first lookup built is confirmed by its address property.
    {11, 104, {{0, 4, kEblPropertyAddress}, {4, 0, 0, kLpc}}, 0, 0,
     [](CHwIA& ia, void*) {
         wchar_t n[64];
         return ia.GetDeviceName(0, 31, 0, n, 64) | ia.GetDeviceName(0, 31, 0, n, 64);
     }},
};
// clang-format on

class HwLayoutTest : public test::MachineCase, public ::testing::WithParamInterface<size_t> {};

TEST_P(HwLayoutTest, RequestBytesAtTheDriver) {
    const Layout& layout = kLayouts[GetParam()];
    CHwIA ia;
    ASSERT_EQ(0, ia.Setup());
    void* mapping = nullptr;
    ASSERT_EQ(0, ia.MapMemorySpace(kFunctionDisableAddress, 4, &mapping));
    uint64_t address = static_cast<MemorySpaceHandle*>(mapping)->address;
    ASSERT_EQ(0, layout.access(ia, mapping)) << "case " << GetParam();
    std::vector<test::RequestField> fields = layout.fields;
    for (test::RequestField& field : fields)
        if (field.value == kMapped) field.value = address;
    EXPECT_TRUE(test::LastRequest(layout.function).Is(layout.size, fields, layout.unsetAt, layout.unsetCount))
        << "case " << GetParam() << ", function " << layout.function;
    if (layout.function != 8) ia.UnmapMemorySpace(mapping);
}

INSTANTIATE_TEST_SUITE_P(Functions, HwLayoutTest, ::testing::Range<size_t>(0, ARRAYSIZE(kLayouts)));

// Widths other than 1, 2 and 4 are refused before the driver: the port keeps its value.
TEST_F(HwIATest, PortWritesOfOtherWidthsAreRefusedBeforeTheDriver) {
    ASSERT_EQ(0, m_ia.Setup());
    uint8_t data[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    uint32_t before = Io16(kPmBase + 0x28);
    const unsigned short sizes[] = {3, 8, 0};
    for (size_t i = 0; i < ARRAYSIZE(sizes); ++i) {
        DebugCapture::Clear();
        EXPECT_EQ(E_FAIL, m_ia.WriteIoPort(kPmBase + 0x28, data, sizes[i])) << "case " << i;
        EXPECT_TRUE(DebugCapture::Contains("The uPortSize is invalid " + std::to_string(sizes[i]) + ".")) << i;
        EXPECT_EQ(before, Io16(kPmBase + 0x28)) << "case " << i;
    }
}

TEST_F(HwIATest, ShortRepliesAreFailures) {
    ASSERT_EQ(0, m_ia.Setup());
    uint8_t buffer[16] = {};
    DebugCapture::Clear();
    EXPECT_EQ(E_FAIL, m_ia.ReadPCIConfig(kLpc, 250, buffer, 10)) << "only 6 bytes are left";
    EXPECT_TRUE(DebugCapture::Contains("IOCTL_READ_PCI_CONFIG failed"));
    EXPECT_FALSE(DebugCapture::Contains("IOCTL_READ_PCI_CONFIG failed for"));
    DebugCapture::Clear();
    EXPECT_EQ(E_FAIL, m_ia.ReadIoPort(kPmBase, buffer, 8)) << "a port access is at most 4 bytes";
    EXPECT_FALSE(DebugCapture::Contains("IOCTL_ZORAEBL_PORT_READ failed")) << "a short reply has no text";
    EXPECT_EQ(0, m_ia.ReadIoPort(kPmBase, buffer, 3)) << "no width check on reads";
    EXPECT_EQ(E_FAIL, m_ia.ReadPCIConfig(L"\\Device\\NTPNP_PCI0031", 0, buffer, 4)) << "no such object";
    EXPECT_TRUE(DebugCapture::Contains("IOCTL_READ_PCI_CONFIG failed for 2"));
    EXPECT_EQ(E_FAIL, m_ia.ReadPCIConfig(kLpc, 0, nullptr, 4));
    EXPECT_TRUE(DebugCapture::Contains("Invalidate parameters."));
    wchar_t longName[60];
    wmemset(longName, L'x', 59);
    longName[59] = L'\0';
    uint32_t property = 0;
    EXPECT_EQ(E_FAIL, m_ia.GetDeviceProperty(14, longName, &property, 4));
    EXPECT_TRUE(DebugCapture::Contains("The device name is too long"));
}

TEST_F(HwIATest, MalformedRequestsFailAsTheDriverFailsThem) {
    HANDLE driver = ZoraSys()->CreateFileW(ZORAEBL_DEVICE_PATH, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, driver);
    uint8_t in[200] = {}, out[64] = {};
    const struct {
        DWORD code, inSize;
    } cases[] = {
        {IOCTL_READ_PCI_CONFIG, 20}, {IOCTL_WRITE_PCI_CONFIG, 100}, {IOCTL_ZORAEBL_PORT_READ, 4},
        {IOCTL_WRITE_PORT, 6},       {IOCTL_MAP_MEMORY, 8},         {IOCTL_UNMAP_MEMEMORY, 16},
        {IOCTL_READ_MEMORY, 16},     {IOCTL_WRITE_MEMORY, 10},      {IOCTL_GET_DEVICE_PROPERTY, 50},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        DWORD returned = 99;
        EXPECT_TRUE(test::FailsWith(ERROR_INVALID_PARAMETER,
                                    [&] {
                                        return ZoraSys()->DeviceIoControl(driver, cases[i].code, in, cases[i].inSize,
                                                                          out, sizeof(out), &returned, nullptr);
                                    }))
            << "case " << i;
        EXPECT_EQ(0u, returned) << "case " << i;
    }
    ZoraSys()->CloseHandle(driver);
}

TEST_F(HwIATest, MappedMemoryIsTheCallersAndKeepsOtherWritersChanges) {
    ASSERT_EQ(0, m_ia.Setup());
    void* first = nullptr;
    void* second = nullptr;
    ASSERT_EQ(0, m_ia.MapMemorySpace(kFunctionDisableAddress, 4, &first));
    ASSERT_EQ(0, m_ia.MapMemorySpace(kFunctionDisableAddress, 4, &second));
    auto* direct =
        reinterpret_cast<volatile uint8_t*>(static_cast<uintptr_t>(static_cast<MemorySpaceHandle*>(first)->address));
    direct[2] = 0x01;             // PCIE1 off, written straight into the mapping
    uint32_t other = 0x01000000;  // Thermal Throttle off, through the second mapping
    ASSERT_EQ(0, m_ia.WriteMemory(second, &other, 4));
    EXPECT_EQ(0x01000000u, Memory32(kFunctionDisable)) << "the direct write is not back yet";
    ASSERT_EQ(0, m_ia.UnmapMemorySpace(first));
    EXPECT_EQ(0x01010000u, Memory32(kFunctionDisable)) << "the unmap wrote back the changed byte only";
    uint32_t read = 0;
    ASSERT_EQ(0, m_ia.ReadMemory(second, &read, 4));
    EXPECT_EQ(0x01010000u, read);
    ASSERT_EQ(0, m_ia.UnmapMemorySpace(second));
    EXPECT_EQ(E_FAIL, m_ia.MapMemorySpace(nullptr, 4, &first));
    EXPECT_TRUE(DebugCapture::Contains("Invalidate parameters."));
    EXPECT_EQ(E_FAIL, m_ia.MapMemorySpace(kFunctionDisableAddress, 0x200000, &first)) << "more than the driver maps";
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

TEST_F(HwIATest, WithoutTheDriverEveryAgentFailsCleanlyAndTouchesNothing) {
    test::SetMachineValue(L"Driver", L"Installed", L"0");
    EXPECT_EQ(E_FAIL, m_ia.Setup());
    EXPECT_TRUE(DebugCapture::Contains("Open connection with driver failed for 2"));
    DebugCapture::Clear();
    uint32_t value = 0;
    unsigned __int64 msr = 0;
    void* mapping = nullptr;
    long results[] = {
        m_ia.ReadMSR(0xE2, &msr),
        m_ia.WriteMSR(0xE2, &msr),
        m_ia.ReadIoPort(kPmBase, &value, 4),
        m_ia.WriteIoPort(kPmBase, &value, 4),
        m_ia.MapMemorySpace(kFunctionDisableAddress, 4, &mapping),
        m_ia.ReadPCIConfig(kLpc, 0, &value, 4),
        m_ia.WritePCIConfig(kLpc, 0xA0, &value, 2),
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
    EXPECT_EQ(0u, Memory32(kFunctionDisable));
    EXPECT_EQ(0u, Memory32(kUsbWriteEnable));
    EXPECT_EQ(0u, Memory32(kUsbPortDisable));
    EXPECT_EQ(0u, Config32(0, 31, 0, 0xA0) & 0xFFFF);
    EXPECT_EQ(0u, test::Number(test::MachineValue(L"HwPm", L"C2Entries")));
}

// ---- The hub agents ----

// The protected steps, as a caller that derives from the agent reaches them.
class Ports : public CHwUSBPorts {
public:
    using CHwUSBPorts::GetHCIPortConnected;
    using CHwUSBPorts::UnlockWriteBit;
};

class Cpu : public CHwCPU {
public:
    using CHwCPU::EnableC4State;
};

using HubTest = test::MachineCase;

TEST_F(HubTest, HubIsIdentifiedOnce) {
    CHwHubra hubra;
    EXPECT_EQ(0, hubra.Setup(0)) << "connection only";
    EXPECT_EQ(E_FAIL, hubra.FunctionDisable(L"PCIE3", 1)) << "not identified: section \" Devices\"";
    EXPECT_EQ(0, hubra.Setup(1));
    EXPECT_EQ(1, hubra.Setup(1));
    CHwHubra copy(hubra);
    EXPECT_EQ(1, copy.Setup(1)) << "the copy has the hub name";
}

// Value 1 sets a function's disable bit, 0 clears it, any other value sets it; with
// DisableType 1 the bit's sense is inverted for 0 and 1.
TEST_F(HubTest, SwitchingAFunctionSetsItsFunctionDisableBit) {
    test::CfgOverride cfg(L"HubraCfg.ini");
    cfg.Set(L"HD Audio", L"DisableType", L"1");
    CHwHubra hubra;
    ASSERT_EQ(0, hubra.Setup(1));
    const struct {
        const wchar_t* name;
        int value;  // -1: read only
        uint32_t bits;
        int disabled;
    } cases[] = {{L"PCIE3", -1, 0, 0},     {L"HD Audio", -1, 0, 1},      {L"PCIE3", 1, kPcie3, 1},
                 {L"PCIE3", 2, kPcie3, 1}, {L"PCIE3", 0, 0, 0},          {L"HD Audio", 0, kHdAudio, 0},
                 {L"HD Audio", 1, 0, 1},   {L"HD Audio", 2, kHdAudio, 0}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        if (cases[i].value >= 0) {
            ASSERT_EQ(0, hubra.FunctionDisable(cases[i].name, cases[i].value)) << "case " << i;
        }
        EXPECT_EQ(cases[i].bits, Memory32(kFunctionDisable)) << "case " << i;
        int disabled = -1;
        ASSERT_EQ(0, hubra.GetFunctionDisable(cases[i].name, &disabled)) << "case " << i;
        EXPECT_EQ(cases[i].disabled, disabled) << "case " << i;
    }
    EXPECT_EQ(E_FAIL, hubra.GetFunctionDisable(L"PCIE3", nullptr));
}

// The hub and processor agents keep what they read of an installed file while the file
// stays as it was; a change is seen at the next switch all the same, also one that keeps
// the file's size, and also while the file is still being changed.
TEST_F(HubTest, AChangedInstalledFileTakesEffectAtTheNextSwitch) {
    test::CfgOverride cfg(L"HubraCfg.ini");
    const struct {
        const wchar_t* disableType;
        bool settled;  // the change dated back: the copy read after it is kept
        uint32_t bits;  // after FunctionDisable("HD Audio", 1)
    } cases[] = {{L"0", true, kHdAudio}, {L"1", false, 0}, {L"0", false, kHdAudio},
                 {L"1", true, 0},        {L"0", true, kHdAudio}, {L"1", false, 0}};
    CHwHubra hubra;
    ASSERT_EQ(0, hubra.Setup(1));
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        cfg.Set(L"HD Audio", L"DisableType", cases[i].disableType);
        if (cases[i].settled) cfg.BackdateWrite(60);
        for (int round = 0; round < 2; ++round) {
            ASSERT_EQ(0, hubra.FunctionDisable(L"HD Audio", 1)) << "case " << i;
            EXPECT_EQ(cases[i].bits, Memory32(kFunctionDisable) & kHdAudio) << "case " << i << " round " << round;
        }
    }
}

TEST_F(HubTest, BadFunctionEntriesFailWithoutTouchingTheHardware) {
    test::CfgOverride cfg(L"HubraCfg.ini");
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
    EXPECT_EQ(0u, Memory32(kFunctionDisable));
}

TEST_F(HubTest, FunctionRegisterInConfigurationSpace) {
    test::CfgOverride cfg(L"HubraCfg.ini");
    const wchar_t* keys[][2] = {{L"RegisterType", L"PCIConfig"}, {L"Device", L"31"},   {L"Function", L"3"},
                                {L"ValueOffset", L"0x40"},       {L"ValueSize", L"1"}, {L"Bit", L"0"},
                                {L"DisableType", L"1"}};
    for (auto& key : keys) cfg.Set(L"SM Bus", key[0], key[1]);
    CHwHubra hubra;
    ASSERT_EQ(0, hubra.Setup(1));
    ASSERT_EQ(0, hubra.FunctionDisable(L"SM Bus", 0));
    EXPECT_EQ(1u, Config32(0, 31, 3, 0x40) & 0xFF) << "host enable set";
    int disabled = -1;
    ASSERT_EQ(0, hubra.GetFunctionDisable(L"SM Bus", &disabled));
    EXPECT_EQ(0, disabled);
}

TEST_F(HubTest, IdentificationRules) {
    struct Case {
        const wchar_t *key, *value;
        long expected;
    } cases[] = {
        {L"RegisterType", L"Memory", 0},   // section 0 skipped, section 1 tried
        {L"Bus", nullptr, E_FAIL},         // the search ends here
        {L"Value", L"672537391", E_FAIL},  // decimal never matches; section 1 (8086h) does not either
        {L"ValueSize", L"3", E_FAIL},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        test::CfgOverride cfg(L"HubraCfg.ini");
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
    Ports ports;
    ASSERT_EQ(0, ports.Setup(0));
    EXPECT_EQ(0u, Memory32(kUsbWriteEnable)) << "connection only";
    ASSERT_EQ(0, ports.Setup(1));
    EXPECT_EQ(1u, Memory32(kUsbWriteEnable));
    EXPECT_EQ(1, ports.Setup(1));
}

TEST_F(HubTest, ClosedWriteLockBlocksPortSwitching) {
    Ports ports;
    ASSERT_EQ(0, ports.Setup(1));
    ASSERT_EQ(0, ports.UnlockWriteBit(0));
    EXPECT_EQ(0u, Memory32(kUsbWriteEnable));
    EXPECT_EQ(0, ports.PortDisable(2, 1)) << "the write itself goes through";
    EXPECT_EQ(0u, Memory32(kUsbPortDisable)) << "but the locked register keeps its value";
    int disabled = -1;
    ASSERT_EQ(0, ports.GetPortDisable(2, &disabled));
    EXPECT_EQ(0, disabled);
    ASSERT_EQ(0, ports.UnlockWriteBit(1));
    ASSERT_EQ(0, ports.PortDisable(2, 1));
    EXPECT_EQ(1u << 2, Memory32(kUsbPortDisable));
    ASSERT_EQ(0, ports.GetPortDisable(2, &disabled));
    EXPECT_EQ(1, disabled);
    ASSERT_EQ(0, ports.PortDisable(2, 0));
    EXPECT_EQ(0u, Memory32(kUsbPortDisable));
    test::CfgOverride cfg(L"USBCfg.ini");
    cfg.Set(L"ICH9M USBPorts", L"WLEnableType", L"2");
    EXPECT_EQ(0, ports.UnlockWriteBit(1));
    EXPECT_EQ(0u, Memory32(kUsbWriteEnable)) << "type 2 clears the bit";
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
        test::CfgOverride cfg(L"USBCfg.ini");
        cfg.Set(L"ICH9M USBPorts Status", L"EHCIPortNumber", L"4");
        cfg.Set(L"ICH9M EHCI 1", L"ValueOffset1", L"0x6c");  // read port 2's register as port 1's
        ASSERT_TRUE(VnbAttachUsbDevice(m_machine.Path().c_str(), 2, 2, L"Four-Port Probe"));
        EXPECT_EQ(0, ports.GetHCIPortConnected(5, &value, 1)) << "port 5: EHCI controller 1, its port 1";
        EXPECT_EQ(1, value);
        EXPECT_EQ(E_FAIL, ports.GetHCIPortConnected(8, &value, 1)) << "2 x 4 EHCI ports end at 7";
        ASSERT_TRUE(VnbDetachUsbDevice(m_machine.Path().c_str(), 2, 2));
    }
    const wchar_t* registerTypes[] = {L"PCIConfig", nullptr};
    for (size_t i = 0; i < ARRAYSIZE(registerTypes); ++i) {
        test::CfgOverride cfg(L"USBCfg.ini");
        cfg.Set(L"ICH9M USBPorts", L"RegisterType", registerTypes[i]);
        EXPECT_EQ(E_FAIL, ports.PortDisable(1, 1)) << "case " << i;
    }
    EXPECT_TRUE(DebugCapture::Contains("Cannot get RegisterType"));
    EXPECT_EQ(0u, Memory32(kUsbPortDisable));
}

TEST_F(HubTest, PortStatusFollowsAttachedDevicesAndSwitchedOffPorts) {
    Ports ports;
    ASSERT_EQ(0, ports.Setup(1));
    // Default devices: the webcam (high speed) on EHCI D29:F7 port 3, the Bluetooth radio
    // on UHCI D29:F2 port 0 (physical port 4), the fingerprint sensor on UHCI D26:F1 port 0
    // (physical port 8).
    struct Case {
        int port, ehci, uhci, any;
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
    EXPECT_EQ(0x0085u, Io16(0x1840 + 0x10)) << "UHCI #3 PORTSC0: connected, enabled";
    int any = -1;
    ASSERT_EQ(0, ports.PortDisable(4, 1));
    ASSERT_EQ(0, ports.GetPortConnected(4, &any));
    EXPECT_EQ(0, any) << "a switched-off port shows nothing";
    EXPECT_EQ(0x0080u, Io16(0x1840 + 0x10));
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
    EXPECT_EQ(0x0085u, Io16(0x18A0 + 0x12)) << "UHCI #6 PORTSC1";
    EXPECT_EQ(0x3000u, Memory32(0xFE226C00 + 0x64 + 4 * 5)) << "EHCI #2 port 5: handed to the companion";
    ASSERT_EQ(0, ports.PortDisable(11, 1));
    EXPECT_EQ(1u << 11, Memory32(kUsbPortDisable) & (1u << 11));
    ASSERT_EQ(0, ports.GetPortConnected(11, &any));
    EXPECT_EQ(0, any);
    ASSERT_TRUE(VnbDetachUsbDevice(m_machine.Path().c_str(), 7, 1));
}

TEST_F(HubTest, PortDeviceNamesComeFromTheSharedEnumerator) {
    Ports ports, second;
    ASSERT_EQ(0, ports.Setup(1));
    EXPECT_EQ(0, second.Setup(1)) << "its own identification, the enumeration is shared";
    const struct {
        Ports* agent;
        int port, disable;
        const wchar_t* name;
    } cases[] = {{&ports, 4, -1, L"Integrated Bluetooth Radio"},
                 {&ports, 0, -1, L"Empty"},
                 {&second, 4, -1, L"Integrated Bluetooth Radio"},
                 {&ports, 4, 1, L"Empty"},  // a switched-off port has nothing on it for the root hubs either
                 {&ports, 4, 0, L"Integrated Bluetooth Radio"}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        if (cases[i].disable >= 0) {
            ASSERT_EQ(0, ports.PortDisable(cases[i].port, cases[i].disable)) << "case " << i;
        }
        wchar_t name[260] = {};
        ASSERT_EQ(0, cases[i].agent->GetPortDeviceName(cases[i].port, name, 260)) << "case " << i;
        EXPECT_STREQ(cases[i].name, name) << "case " << i;
    }
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
    EXPECT_EQ(0xFFFu, Memory32(kUsbPortDisable));
    EXPECT_EQ(0x3Fu << 16, Memory32(kFunctionDisable));
}

TEST_F(HubTest, CpuSetupEnablesC4AndEntersLevels) {
    Cpu cpu;
    ASSERT_EQ(0, cpu.Setup(0));
    EXPECT_EQ(0x80u, Config32(0, 31, 0, 0xA0) & 0xFFFF) << "C4onC3_EN set";
    EXPECT_TRUE(DebugCapture::Contains("PMG_CST_CONFIG_CTRL valuse is 0x"));
    struct Case {
        int state, mwait;
        long expected;
        const wchar_t* counter;
    } cases[] = {
        {2, 0, 0, L"C2Entries"}, {3, 0, 0, L"C3Entries"}, {4, 0, 0, L"C4Entries"},
        {1, 0, E_FAIL, nullptr}, {5, 0, E_FAIL, nullptr}, {3, 1, E_FAIL, nullptr},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        EXPECT_EQ(cases[i].expected, cpu.SetCState(cases[i].state, cases[i].mwait)) << "case " << i;
        if (cases[i].counter) {
            EXPECT_EQ(L"1", test::MachineValue(L"HwPm", cases[i].counter)) << "case " << i;
        }
    }
    EXPECT_EQ(L"1", test::MachineValue(L"HwPm", L"C3Entries")) << "refused requests enter nothing";
}

TEST_F(HubTest, C4EnableBitFollowsItsEnableType) {
    struct Case {
        const wchar_t* type;
        int enable;
        uint16_t start;
        uint32_t expected;
    } cases[] = {{L"1", 1, 0x00, 0x80}, {L"1", 0, 0x80, 0x00}, {L"0", 1, 0x80, 0x00},
                 {L"0", 0, 0x00, 0x80}, {L"2", 1, 0x80, 0x00}, {L"2", 0, 0x80, 0x00}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        test::CfgOverride cfg(L"CPUCfg.ini");
        cfg.Set(L"Core 2 Duo Mobile Penryn Devices", L"C4EnableType", cases[i].type);
        Cpu cpu;
        ASSERT_EQ(0, cpu.Setup(0)) << "case " << i;
        ASSERT_EQ(0, cpu.WritePCIConfig(kLpc, 0xA0, &cases[i].start, 2)) << "case " << i;
        EXPECT_EQ(0, cpu.EnableC4State(cases[i].enable)) << "case " << i;
        EXPECT_EQ(cases[i].expected, Config32(0, 31, 0, 0xA0) & 0xFFFF) << "case " << i;
    }
}

TEST_F(HubTest, CpuIdentificationNeedsAHexSignature) {
    test::CfgOverride cfg(L"CPUCfg.ini");
    cfg.Set(L"CPU Identification 0", L"Value", L"1067");
    Cpu cpu;
    EXPECT_EQ(E_FAIL, cpu.Setup(0)) << "ends the search rather than skipping the section";
    EXPECT_EQ(0u, Config32(0, 31, 0, 0xA0) & 0xFFFF);
    cfg.Set(L"CPU Identification 0", L"Value", L"0x7a");
    cfg.Set(L"CPU Identification 1", L"Value", L"0x6f");
    DebugCapture::Clear();
    EXPECT_EQ(E_FAIL, cpu.Setup(0));
    EXPECT_TRUE(DebugCapture::Contains("Cannot find matched cpu."));
}

// ---- The USB host controller enumerator ----

// The UHCI companions in device-identifier order cover physical ports 0-11 (HCD7,
// started last, holds the last two), and the two EHCI controllers (6 + 6 ports) the
// same twelve ports.
const wchar_t* const kDefaultPorts[] = {
    L"Empty", L"Empty", L"Empty",          L"Integrated USB 1.3M Webcam", L"Integrated Bluetooth Radio",
    L"Empty", L"Empty", L"Unknown Device", L"Fingerprint Sensor",         L"Empty",
    L"Empty", L"Empty"};

class UsbEnumTest : public test::MachineCase {
protected:
    void Set(const wchar_t* key, const wchar_t* value) { test::SetMachineValue(L"Usb", key, value); }

    static std::wstring Name(CUSBEnum& usb, int port, long* status = nullptr) {
        wchar_t name[64] = L"untouched";
        long hr = usb.GetPortDeviceName(port, name, 64);
        if (status) *status = hr;
        return hr == 0 ? name : L"(failed)";
    }
};

TEST_F(UsbEnumTest, DefaultMachineNamesEveryPhysicalPort) {
    CUSBEnum usb;
    ASSERT_EQ(0, usb.Setup());
    EXPECT_EQ(1000u, usb.GetVersion());
    for (int port = 0; port < 12; ++port) EXPECT_EQ(kDefaultPorts[port], Name(usb, port)) << "port " << port;
    EXPECT_TRUE(DebugCapture::Contains("IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME failed:0x"))
        << "the device without a driver";
    for (int port : {12, -1}) {
        long status = 0;
        EXPECT_EQ(L"(failed)", Name(usb, port, &status));
        EXPECT_EQ(E_FAIL, status);
        EXPECT_TRUE(DebugCapture::Contains("Invalid port number:" + std::to_string(port)));
    }
    EXPECT_EQ(0, usb.Setup()) << "a second Setup returns at once";
    EXPECT_EQ(0, usb.Cleanup());
    EXPECT_FALSE(usb.IsEnumerated());
    EXPECT_EQ(E_FAIL, usb.GetPortDeviceName(3, nullptr, 64));
}

// Machines without some controllers: the ports that are left, renumbered.
TEST_F(UsbEnumTest, PortsRunAcrossControllersInDeviceIdentifierOrder) {
    // Two UHCI controllers of 2 ports left (and one EHCI controller, where an empty UHCI
    // port is looked up next); HCD0 now sorts after HCD1.
    for (const wchar_t* key : {L"HCD2.Present", L"HCD3.Present", L"HCD4.Present", L"HCD5.Present", L"HCD7.Present"})
        Set(key, L"0");
    Set(L"HCD0.DeviceId", L"0x293B");
    ASSERT_TRUE(VnbDetachUsbDevice(m_machine.Path().c_str(), 0, 1));
    ASSERT_TRUE(VnbAttachUsbDevice(m_machine.Path().c_str(), 0, 1, L"Test Storage Stick"));
    CUSBEnum usb;
    ASSERT_EQ(0, usb.Setup());
    const wchar_t* expected[] = {L"Fingerprint Sensor", L"Empty", L"Empty", L"Test Storage Stick", L"(failed)"};
    for (int port = 0; port < 5; ++port) EXPECT_EQ(expected[port], Name(usb, port)) << "port " << port;
    EXPECT_TRUE(DebugCapture::Contains("Invalid port number:4"));
    ASSERT_TRUE(VnbDetachUsbDevice(m_machine.Path().c_str(), 0, 1));
}

TEST_F(UsbEnumTest, PortBeyondTheUsb11TotalFailsThoughUsb20HasIt) {
    Set(L"HCD3.Present", L"0");  // UHCI ports now 10, EHCI ports still 12
    CUSBEnum usb;
    ASSERT_EQ(0, usb.Setup());
    EXPECT_EQ(L"Fingerprint Sensor", Name(usb, 6)) << "HCD1 moved down by two ports";
    EXPECT_EQ(L"(failed)", Name(usb, 10));
    EXPECT_TRUE(DebugCapture::Contains("Invalid port number:10"));
}

// "Empty", "Unknown Device" and a device's own name into one short and the exact fit.
TEST_F(UsbEnumTest, NamesNeedRoomForTheirTerminator) {
    CUSBEnum usb;
    wchar_t name[32];
    EXPECT_EQ(E_FAIL, usb.GetPortDeviceName(0, name, 32)) << "before Setup";
    EXPECT_TRUE(DebugCapture::Lines().empty()) << "no diagnostic before Setup";
    ASSERT_EQ(0, usb.Setup());
    struct Case {
        int port;
        unsigned size;
        long status;
        const wchar_t* text;
    } cases[] = {
        {0, 5, E_FAIL, L"#"},          {0, 6, 0, L"Empty"},   {7, 14, E_FAIL, L"#"},
        {7, 15, 0, L"Unknown Device"}, {4, 26, E_FAIL, L"#"}, {4, 27, 0, L"Integrated Bluetooth Radio"},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        wmemset(name, L'#', 32);
        name[cases[i].status ? 1 : 31] = L'\0';
        EXPECT_EQ(cases[i].status, usb.GetPortDeviceName(cases[i].port, name, cases[i].size)) << "case " << i;
        EXPECT_STREQ(cases[i].text, name) << "case " << i;
        if (!cases[i].status) {
            EXPECT_EQ(L'#', name[cases[i].size]) << "case " << i;
        }
    }
    EXPECT_TRUE(DebugCapture::Contains("Input Buffer is too small"));
}

TEST_F(UsbEnumTest, AttachRejectsWhatTheMachineDoesNotHave) {
    struct Case {
        int controller, port;
        const wchar_t* description;
        DWORD error;
    } cases[] = {
        {8, 0, L"x", ERROR_INVALID_PARAMETER},          {-1, 0, L"x", ERROR_INVALID_PARAMETER},
        {3, 2, L"x", ERROR_INVALID_PARAMETER},          {3, -1, L"x", ERROR_INVALID_PARAMETER},
        {3, 0, L"two\nlines", ERROR_INVALID_PARAMETER}, {6, 3, L"x", ERROR_BUSY},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        EXPECT_TRUE(test::FailsWith(cases[i].error,
                                    [&] {
                                        return VnbAttachUsbDevice(m_machine.Path().c_str(), cases[i].controller,
                                                                  cases[i].port, cases[i].description);
                                    }))
            << "case " << i;
    }
    EXPECT_EQ(L"Integrated USB 1.3M Webcam", test::MachineValue(L"Usb", L"HCD6.Port3"));
    EXPECT_EQ(L"(absent)", test::MachineValue(L"Usb", L"HCD3.Port0"));
}

TEST_F(UsbEnumTest, MissingControllerIsSkippedWithItsPath) {
    Set(L"HCD2.Present", L"0");
    for (const wchar_t* path : {L"\\\\.\\HCD2", L"\\\\.\\HCD8", L"\\\\.\\HCD02", L"\\\\.\\HCD32", L"\\\\.\\HCDx"}) {
        EXPECT_TRUE(test::FailsWith(ERROR_FILE_NOT_FOUND, [&] {
            return ZoraSys()->CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        })) << test::Narrow(path);
    }
    CUSBEnum usb;
    ASSERT_EQ(0, usb.Setup()) << "enumeration never fails";
    EXPECT_TRUE(DebugCapture::Contains("Cannot get hcd handle:\\\\.\\HCD2\n"));
    EXPECT_TRUE(DebugCapture::Contains("Cannot get hcd handle:\\\\.\\HCD31\n"));
    EXPECT_FALSE(DebugCapture::Contains("Cannot get hcd handle:\\\\.\\HCD6\n"));
    EXPECT_EQ(L"Fingerprint Sensor", Name(usb, 8)) << "the UHCI side is whole";
    EXPECT_EQ(L"(failed)", Name(usb, 6)) << "the EHCI list ends after 6 ports now";
    EXPECT_TRUE(DebugCapture::Contains("Invalid port number:6"));
    EXPECT_EQ(L"Integrated USB 1.3M Webcam", Name(usb, 3));
}

TEST_F(UsbEnumTest, ControllerTakenAwayFailsTheNameQuery) {
    CUSBEnum usb;
    ASSERT_EQ(0, usb.Setup());
    ASSERT_EQ(L"Integrated Bluetooth Radio", Name(usb, 4));
    Set(L"HCD5.Present", L"0");
    long status = 0;
    EXPECT_EQ(L"(failed)", Name(usb, 4, &status));
    EXPECT_EQ(E_FAIL, status);
    EXPECT_TRUE(DebugCapture::Contains("IOCTL_USB_GET_NODE_CONNECTION_INFORMATION failed:0x"));
}

TEST_F(UsbEnumTest, DriverKeyWithoutItsClassKeyFails) {
    ASSERT_TRUE(VnbAttachUsbDevice(m_machine.Path().c_str(), 4, 0, L"Vanishing Keyboard"));
    std::wstring driver = test::MachineValue(L"Usb", L"HCD4.Port0.Driver");
    ASSERT_TRUE(test::UsbDriverKeyExists(driver));
    ASSERT_EQ(ERROR_SUCCESS,
              RegDeleteKeyW(HKEY_LOCAL_MACHINE, (L"SYSTEM\\CurrentControlSet\\Control\\Class\\" + driver).c_str()));
    CUSBEnum usb;
    ASSERT_EQ(0, usb.Setup());
    long status = 0;
    EXPECT_EQ(L"(failed)", Name(usb, 2, &status));
    EXPECT_EQ(E_FAIL, status);
    EXPECT_TRUE(DebugCapture::Contains("failed to open SYSTEM\\CurrentControlSet\\Control\\Class\\" +
                                       test::Narrow(driver) + " to read."));
    EXPECT_TRUE(DebugCapture::Contains("COsWin::ReadRegValue failed for:0x2"));
    VnbDetachUsbDevice(m_machine.Path().c_str(), 4, 0);
}

TEST_F(UsbEnumTest, RootHubsAnswerTheSystemRequests) {
    HANDLE hcd =
        ZoraSys()->CreateFileW(L"\\\\.\\HCD6", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hcd);
    USB_ROOT_HUB_NAME probe{};
    DWORD returned = 0;
    ASSERT_TRUE(ZoraSys()->DeviceIoControl(hcd, IOCTL_USB_GET_ROOT_HUB_NAME, nullptr, 0, &probe, sizeof(probe),
                                           &returned, nullptr));
    EXPECT_EQ(sizeof(probe), returned);
    std::vector<BYTE> reply(probe.ActualLength);
    ASSERT_TRUE(ZoraSys()->DeviceIoControl(hcd, IOCTL_USB_GET_ROOT_HUB_NAME, nullptr, 0, reply.data(),
                                           probe.ActualLength, &returned, nullptr));
    EXPECT_EQ(probe.ActualLength, returned);
    std::wstring hubName = reinterpret_cast<USB_ROOT_HUB_NAME*>(reply.data())->RootHubName;
    EXPECT_EQ(0u, hubName.find(L"USB#ROOT_HUB20#")) << test::Narrow(hubName);
    EXPECT_EQ((hubName.size() + 1) * 2 + 4, probe.ActualLength) << "the length counts the whole reply";

    USBUSER_CONTROLLER_INFO_0 info{};
    info.Header.UsbUserRequest = USBUSER_GET_CONTROLLER_INFO_0;
    info.Header.RequestBufferLength = sizeof(info);
    ASSERT_TRUE(ZoraSys()->DeviceIoControl(hcd, IOCTL_USB_USER_REQUEST, &info, sizeof(info), &info, sizeof(info),
                                           &returned, nullptr));
    EXPECT_EQ(sizeof(info), returned);
    EXPECT_EQ(static_cast<ULONG>(UsbUserSuccess), static_cast<ULONG>(info.Header.UsbUserStatusCode));
    EXPECT_EQ(0x1B2Fu, info.Info0.PciVendorId);
    EXPECT_EQ(0x293Au, info.Info0.PciDeviceId);
    EXPECT_EQ(6u, info.Info0.NumberOfRootPorts);
    info.Header.UsbUserRequest = 0x77;
    ASSERT_TRUE(ZoraSys()->DeviceIoControl(hcd, IOCTL_USB_USER_REQUEST, &info, sizeof(info), &info, sizeof(info),
                                           &returned, nullptr));
    EXPECT_EQ(sizeof(USBUSER_REQUEST_HEADER), returned);
    EXPECT_EQ(static_cast<ULONG>(UsbUserInvalidRequestCode), static_cast<ULONG>(info.Header.UsbUserStatusCode));
    EXPECT_TRUE(ZoraSys()->CloseHandle(hcd));

    HANDLE hub = ZoraSys()->CreateFileW((L"\\\\.\\" + hubName).c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hub);
    USB_NODE_INFORMATION node{};
    ASSERT_TRUE(ZoraSys()->DeviceIoControl(hub, IOCTL_USB_GET_NODE_INFORMATION, &node, sizeof(node), &node,
                                           sizeof(node), &returned, nullptr));
    EXPECT_EQ(76u, returned);
    EXPECT_EQ(6, node.u.HubInformation.HubDescriptor.bNumberOfPorts);
    for (DWORD code : {IOCTL_USB_GET_HUB_CAPABILITIES, IOCTL_USB_GET_HUB_CAPABILITIES_EX}) {
        ULONG caps = 0;
        ASSERT_TRUE(ZoraSys()->DeviceIoControl(hub, code, &caps, 4, &caps, 4, &returned, nullptr)) << code;
        EXPECT_EQ(1u, caps & 1) << "high-speed capable, " << code;
    }
    USB_NODE_CONNECTION_DRIVERKEY_NAME key{};
    key.ConnectionIndex = 4;  // the camera on port 3
    ASSERT_TRUE(ZoraSys()->DeviceIoControl(hub, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, &key, sizeof(key), &key,
                                           sizeof(key), &returned, nullptr));
    EXPECT_EQ(sizeof(key), returned);
    EXPECT_EQ(8u + 2 * (wcslen(L"{6bdd1fc6-810f-11d0-bec7-08002be10318}\\0000") + 1), key.ActualLength);
    key.ConnectionIndex = 7;
    EXPECT_TRUE(test::FailsWith(ERROR_INVALID_PARAMETER, [&] {
        return ZoraSys()->DeviceIoControl(hub, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, &key, sizeof(key), &key,
                                          sizeof(key), &returned, nullptr);
    })) << "a hub of 6 ports has no port 7";
    EXPECT_TRUE(ZoraSys()->CloseHandle(hub));
}

TEST_F(UsbEnumTest, SharedEnumeratorServesSeveralThreads) {
    std::atomic<int> wrong{0}, failed{0};
    auto work = [&](int first) {
        if (CUSBEnum::Shared()->Setup() != 0) ++failed;
        for (int round = 0; round < 40; ++round) {
            int port = (first + round) % 12;
            wchar_t name[64];
            if (CUSBEnum::Shared()->GetPortDeviceName(port, name, 64) != 0)
                ++failed;
            else if (wcscmp(name, kDefaultPorts[port]) != 0)
                ++wrong;
            CUSBEnum copy(*CUSBEnum::Shared());  // shares the root hubs; dropping it must leave them open
        }
    };
    std::thread a(work, 0), b(work, 6);
    a.join();
    b.join();
    EXPECT_EQ(0, failed.load());
    EXPECT_EQ(0, wrong.load());
    EXPECT_EQ(L"Integrated USB 1.3M Webcam", Name(*CUSBEnum::Shared(), 3)) << "the copies closed nothing";
    CUSBEnum assigned;
    assigned = *CUSBEnum::Shared();
    EXPECT_EQ(0, assigned.Cleanup());
    EXPECT_EQ(L"Fingerprint Sensor", Name(*CUSBEnum::Shared(), 8));
}

// A write with no value sends nothing: the port or MSR never takes bytes nobody chose.
TEST_F(HwIATest, WritesWithoutAValueAreRefusedBeforeTheDriver) {
    ASSERT_EQ(0, m_ia.Setup());
    std::wstring perfCtl = test::MachineValue(L"Processor0", L"PerfCtl");
    DebugCapture::Clear();
    EXPECT_EQ(E_FAIL, m_ia.WriteIoPort(kPmBase, nullptr, 1));
    EXPECT_EQ(E_FAIL, m_ia.WriteMSR(0x199, nullptr));
    EXPECT_TRUE(DebugCapture::Contains("Invalidate parameters."));
    EXPECT_EQ(-1, test::LastRequest(6).size) << "no port write was sent";
    EXPECT_EQ(-1, test::LastRequest(2).size) << "no MSR write was sent";
    EXPECT_EQ(perfCtl, test::MachineValue(L"Processor0", L"PerfCtl"));
}

}  // namespace
