#include "HwMachine.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "Platform.h"
#include "UsbState.h"

namespace vnb {
namespace hw {

// The roles of the hub's functions, by their fixed PCI addresses.
enum class Role { None, Lpc, Ehci, Uhci, Plain };
struct Bar {
    Role role;
    int device, function;
    int offset;        // configuration offset of the BAR
    uint32_t mask;     // address bits of the BAR
    uint32_t size;
    int firstPort;     // EHCI/UHCI: physical port of the controller's root port 0
    int ports;
    bool io;
};
namespace {

constexpr char kIndexSection[] = "HwPci";
constexpr char kMemorySection[] = "HwMemory";
constexpr char kIoSection[] = "HwIo";
constexpr char kPmSection[] = "HwPm";
const char* const kEntryKeys[3] = {"C2Entries", "C3Entries", "C4Entries"};

// Root-complex register block (behind the LPC bridge's RCBA).
constexpr uint32_t kRcbaSize = 0x4000;
constexpr uint32_t kUsbPortDisable = 0x359C;
constexpr uint32_t kUsbPortDisableWriteEnable = 0x3598;
constexpr uint32_t kUsbPortMask = (1u << kUsbPorts) - 1;
// Power-management I/O block (behind PMBASE).
constexpr uint32_t kPmSize = 0x80;
constexpr uint32_t kLevel2 = 0x14;

// Configuration bytes no write changes: IDs, revision and class, header type, subsystem.
bool ReadOnlyConfig(int offset) {
    return offset < 4 || (offset >= 8 && offset < 0x0C) || offset == 0x0E || (offset >= 0x2C && offset < 0x30);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseHex(const std::string& text, uint8_t* bytes, size_t count) {
    if (text.size() != count * 2) return false;
    for (size_t i = 0; i < count; ++i) {
        int high = HexDigit(text[2 * i]), low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        bytes[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return true;
}

bool ParseAddress(const std::string& text, int* bus, int* device, int* function) {
    unsigned b = 0, d = 0, f = 0;
    char tail = 0;
    if (sscanf(text.c_str(), "%2x:%2x.%1x%c", &b, &d, &f, &tail) != 3 || d > 31 || f > 7) return false;
    *bus = static_cast<int>(b);
    *device = static_cast<int>(d);
    *function = static_cast<int>(f);
    return true;
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    size_t at = 0;
    while (at <= text.size()) {
        size_t comma = text.find(',', at);
        if (comma == std::string::npos) comma = text.size();
        if (comma > at) items.push_back(text.substr(at, comma - at));
        at = comma + 1;
    }
    return items;
}

std::string HexNumber(unsigned long long value, int digits) {
    char text[24];
    snprintf(text, sizeof(text), "0x%0*llX", digits, value);
    return text;
}

const Bar kBars[] = {
    {Role::Lpc, 31, 0, 0xF0, 0xFFFFC000, kRcbaSize, 0, 0, false},
    {Role::Lpc, 31, 0, 0x40, 0x0000FF80, kPmSize, 0, 0, true},
    {Role::Ehci, 29, 7, 0x10, 0xFFFFFC00, 0x400, 0, 6, false},
    {Role::Ehci, 26, 7, 0x10, 0xFFFFFC00, 0x400, 6, 6, false},
    {Role::Uhci, 29, 0, 0x20, 0x0000FFE0, 0x20, 0, 2, true},
    {Role::Uhci, 29, 1, 0x20, 0x0000FFE0, 0x20, 2, 2, true},
    {Role::Uhci, 29, 2, 0x20, 0x0000FFE0, 0x20, 4, 2, true},
    {Role::Uhci, 26, 0, 0x20, 0x0000FFE0, 0x20, 6, 2, true},
    {Role::Uhci, 26, 1, 0x20, 0x0000FFE0, 0x20, 8, 2, true},
    {Role::Uhci, 26, 2, 0x20, 0x0000FFE0, 0x20, 10, 2, true},
    {Role::Plain, 27, 0, 0x10, 0xFFFFC000, 0x4000, 0, 0, false},  // HD audio
    {Role::Plain, 31, 2, 0x24, 0xFFFFF800, 0x800, 0, 0, false},   // SATA AHCI
    {Role::Plain, 31, 3, 0x20, 0x0000FFE0, 0x20, 0, 0, true},     // SMBus
    {Role::Plain, 31, 6, 0x10, 0xFFFFF000, 0x1000, 0, 0, false},  // thermal sensor
};
// The UHCI controllers follow in the order of their physical ports, two each.
constexpr int kFirstUhciBar = 4;

// The hub's registers behind its BARs (function disable, USB port disable, the port
// status registers) lose what was written when the machine sleeps.
void HubAfterSleep(Machine* machine) {
    RemoveSection(machine, kMemorySection);
    RemoveSection(machine, kIoSection);
}
SleepLoss g_sleep(HubAfterSleep);
}  // namespace

bool UsbAttachedAt(const Machine& machine, int device, int function, int port) {
    int hcd = UsbControllerAt(machine, 0, device, function);
    return hcd >= 0 && UsbDeviceAttached(machine, hcd, port);
}

bool UsbPortSwitchedOff(const Machine& machine, int bus, int device, int function, int port) {
    if (bus != 0) return false;
    for (const Bar& bar : kBars) {
        if ((bar.role != Role::Ehci && bar.role != Role::Uhci) || bar.device != device || bar.function != function)
            continue;
        HwState state;
        if (port < 0 || port >= bar.ports || !state.Load(machine)) return false;
        return (state.PortDisableBits() >> (bar.firstPort + port)) & 1;
    }
    return false;
}

struct HwState::Decode {
    const Bar* bar;
    uint32_t offset;
};

uint32_t PciFunction::Config32(int offset) const {
    uint32_t value = 0;
    memcpy(&value, config + offset, 4);
    return value;
}

std::string PciFunction::Address() const {
    char text[16];
    snprintf(text, sizeof(text), "%02X:%02X.%X", bus, device, function);
    return text;
}

std::string Hex(const uint8_t* bytes, size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text(count * 2, '0');
    for (size_t i = 0; i < count; ++i) {
        text[2 * i] = kDigits[bytes[i] >> 4];
        text[2 * i + 1] = kDigits[bytes[i] & 15];
    }
    return text;
}

namespace {
bool HubSection(const std::string& name) {
    return name.compare(0, 4, "Pci ") == 0 || lstrcmpiA(name.c_str(), kIndexSection) == 0 ||
           lstrcmpiA(name.c_str(), kMemorySection) == 0 || lstrcmpiA(name.c_str(), kIoSection) == 0 ||
           lstrcmpiA(name.c_str(), kPmSection) == 0;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

bool SameFunction(const PciFunction& a, const PciFunction& b) {
    return a.bus == b.bus && a.device == b.device && a.function == b.function && a.object == b.object &&
           a.name == b.name && memcmp(a.config, b.config, kConfigBytes) == 0;
}
}  // namespace

bool HwState::Load(const Machine& machine) {
    m_machine = &machine;
    // Every section of the hub in one pass over the machine's text: a request reads them all.
    std::map<std::string, Values> sections = CollectSections(machine, HubSection);
    auto index = sections.find(Lower(kIndexSection));
    if (index == sections.end()) return false;
    for (const std::string& address : SplitList(index->second.Get("Devices"))) {
        PciFunction f;
        if (!ParseAddress(address, &f.bus, &f.device, &f.function)) return false;
        auto values = sections.find(Lower("Pci " + address));
        if (values == sections.end() || !ParseHex(values->second.Get("Config"), f.config, kConfigBytes)) return false;
        f.object = static_cast<int>(values->second.Number("Object", 0xFFFF));
        f.name = values->second.Get("Name");
        m_functions.push_back(f);
    }
    auto memory = sections.find(Lower(kMemorySection));
    if (memory != sections.end())
        for (const auto& item : memory->second.Items())
            m_memory[static_cast<uint32_t>(strtoul(item.first.c_str(), nullptr, 0))] =
                static_cast<uint32_t>(strtoul(item.second.c_str(), nullptr, 0));
    auto io = sections.find(Lower(kIoSection));
    if (io != sections.end())
        for (const auto& item : io->second.Items())
            m_io[static_cast<uint16_t>(strtoul(item.first.c_str(), nullptr, 0))] =
                static_cast<uint8_t>(strtoul(item.second.c_str(), nullptr, 0));
    auto pm = sections.find(Lower(kPmSection));
    if (pm != sections.end())
        for (int i = 0; i < 3; ++i) m_entries[i] = pm->second.Number(kEntryKeys[i], 0);
    m_loaded = true;
    m_loadedFunctions = m_functions;
    m_loadedMemory = m_memory;
    m_loadedIo = m_io;
    memcpy(m_loadedEntries, m_entries, sizeof(m_entries));
    return true;
}

void HwState::Save(Machine* machine) const {
    bool listChanged = !m_loaded || m_functions.size() != m_loadedFunctions.size();
    std::string list;
    for (size_t i = 0; i < m_functions.size(); ++i) {
        const PciFunction& f = m_functions[i];
        list += (list.empty() ? "" : ",") + f.Address();
        bool known = m_loaded && i < m_loadedFunctions.size();
        if (known && SameFunction(f, m_loadedFunctions[i])) continue;
        if (known && f.Address() != m_loadedFunctions[i].Address()) listChanged = true;
        Values values;
        values.Set("Object", std::to_string(f.object));
        values.Set("Name", f.name);
        values.Set("Config", Hex(f.config, kConfigBytes));
        PutSection(machine, "Pci " + f.Address(), values);
    }
    if (listChanged) {
        Values index;
        index.Set("Devices", list);
        PutSection(machine, kIndexSection, index);
    }
    if (!m_loaded || m_memory != m_loadedMemory) {
        Values memory;
        for (const auto& item : m_memory) memory.Set(HexNumber(item.first, 8), HexNumber(item.second, 8));
        PutSection(machine, kMemorySection, memory);
    }
    if (!m_loaded || m_io != m_loadedIo) {
        Values io;
        for (const auto& item : m_io) io.Set(HexNumber(item.first, 4), HexNumber(item.second, 2));
        PutSection(machine, kIoSection, io);
    }
    if (!m_loaded || memcmp(m_entries, m_loadedEntries, sizeof(m_entries)) != 0) {
        Values pm;
        for (int i = 0; i < 3; ++i) pm.Set(kEntryKeys[i], std::to_string(m_entries[i]));
        PutSection(machine, kPmSection, pm);
    }
}

PciFunction* HwState::FindObject(int object) {
    for (PciFunction& f : m_functions)
        if (f.object == object) return &f;
    return nullptr;
}

PciFunction* HwState::FindAddress(int bus, int device, int function) {
    for (PciFunction& f : m_functions)
        if (f.bus == bus && f.device == device && f.function == function) return &f;
    return nullptr;
}

void HwState::WriteConfig(PciFunction* f, int offset, uint8_t value) {
    if (!ReadOnlyConfig(offset)) f->config[offset] = value;
}

bool HwState::DecodeMemory(uint32_t address, Decode* decode) const {
    for (const Bar& bar : kBars) {
        if (bar.io) continue;
        const PciFunction* f = const_cast<HwState*>(this)->FindAddress(0, bar.device, bar.function);
        if (!f) continue;
        uint32_t raw = f->Config32(bar.offset);
        if (bar.role == Role::Lpc && !(raw & 1)) continue;  // RCBA enable bit
        uint32_t base = raw & bar.mask;
        if (base == 0 || address < base || address - base >= bar.size) continue;
        *decode = Decode{&bar, address - base};
        return true;
    }
    return false;
}

bool HwState::DecodeIo(uint16_t port, Decode* decode) const {
    for (const Bar& bar : kBars) {
        if (!bar.io) continue;
        const PciFunction* f = const_cast<HwState*>(this)->FindAddress(0, bar.device, bar.function);
        if (!f) continue;
        uint32_t base = f->Config32(bar.offset) & bar.mask;
        if (base == 0 || port < base || port - base >= bar.size) continue;
        *decode = Decode{&bar, port - base};
        return true;
    }
    return false;
}

uint32_t HwState::StoredDword(uint32_t address) const {
    auto it = m_memory.find(address & ~3u);
    return it == m_memory.end() ? 0 : it->second;
}

uint32_t HwState::PortDisableBits() const {
    const PciFunction* lpc = const_cast<HwState*>(this)->FindAddress(0, 31, 0);
    if (!lpc) return 0;
    return StoredDword((lpc->Config32(0xF0) & 0xFFFFC000) + kUsbPortDisable) & kUsbPortMask;
}

// EHCI PORTSC: 32 bits at +64h + 4 x port; UHCI PORTSC: 16 bits at +10h + 2 x port.
// A device shows on the EHCI port when it is attached there (high speed), on the UHCI
// companion when it is attached there; the EHCI port then reads as handed over. A port
// switched off in the port disable register shows nothing on either side.
uint8_t HwState::UsbPortStatus(const Bar& bar, uint32_t offset) const {
    bool ehci = bar.role == Role::Ehci;
    int width = ehci ? 4 : 2;
    int local = static_cast<int>(offset) / width;
    int port = bar.firstPort + local;
    bool on = port < kUsbPorts && !(PortDisableBits() & (1u << port));
    bool here = on && UsbAttachedAt(*m_machine, bar.device, bar.function, local);
    uint32_t value = 0;
    if (ehci) {
        value = 1u << 12;  // port power
        if (here) value |= 1u | 4u;  // connected, enabled
        const Bar& uhci = kBars[kFirstUhciBar + port / kUhciPorts];
        if (!here && on && UsbAttachedAt(*m_machine, uhci.device, uhci.function, port % 2))
            value |= 1u << 13;  // owned by the companion controller
    } else {
        value = 1u << 7;  // reads as one
        if (here) value |= 1u | 4u;
    }
    return static_cast<uint8_t>(value >> (8 * (offset % width)));
}

uint8_t HwState::ReadMemory(uint32_t address) const {
    Decode d;
    if (!DecodeMemory(address, &d)) return 0xFF;
    if (d.bar->role == Role::Ehci) {
        switch (d.offset) {
        case 0x00: return 0x20;  // CAPLENGTH
        case 0x02: return 0x00;  // HCIVERSION 1.00
        case 0x03: return 0x01;
        case 0x04: return static_cast<uint8_t>(0x10 | d.bar->ports);  // HCSPARAMS: ports, port power control
        case 0x05: return static_cast<uint8_t>(0x02 | (d.bar->ports / 2) << 4);  // 2 ports per companion
        case 0x06: return 0x10;  // debug port 1
        }
        if (d.offset >= 0x64 && d.offset < 0x64 + 4u * d.bar->ports) return UsbPortStatus(*d.bar, d.offset - 0x64);
    }
    return static_cast<uint8_t>(StoredDword(address) >> (8 * (address & 3)));
}

void HwState::WriteMemory(uint32_t address, uint8_t value) {
    Decode d;
    if (!DecodeMemory(address, &d)) return;
    if (d.bar->role == Role::Ehci && (d.offset < 0x20 || (d.offset >= 0x64 && d.offset < 0x64 + 4u * d.bar->ports)))
        return;  // capability registers; port status follows the ports
    if (d.bar->role == Role::Lpc && (d.offset & ~3u) == kUsbPortDisable) {
        if (!(StoredDword(address - d.offset + kUsbPortDisableWriteEnable) & 1)) return;  // locked
        if (d.offset - kUsbPortDisable == 1) value &= static_cast<uint8_t>(kUsbPortMask >> 8);
        if (d.offset - kUsbPortDisable > 1) value = 0;
    }
    uint32_t shift = 8 * (address & 3);
    uint32_t dword = StoredDword(address);
    dword = (dword & ~(0xFFu << shift)) | (static_cast<uint32_t>(value) << shift);
    m_memory[address & ~3u] = dword;
}

uint8_t HwState::ReadIo(uint16_t port, bool count) {
    Decode d;
    if (!DecodeIo(port, &d)) return 0xFF;
    if (d.bar->role == Role::Lpc && d.offset >= kLevel2 && d.offset < kLevel2 + 3) {
        if (count) ++m_entries[d.offset - kLevel2];
        return 0;
    }
    if (d.bar->role == Role::Uhci && d.offset >= 0x10 && d.offset < 0x10 + 2 * kUhciPorts)
        return UsbPortStatus(*d.bar, d.offset - 0x10);
    auto it = m_io.find(port);
    return it == m_io.end() ? 0 : it->second;
}

void HwState::WriteIo(uint16_t port, uint8_t value) {
    Decode d;
    if (!DecodeIo(port, &d)) return;
    if (d.bar->role == Role::Lpc && d.offset >= kLevel2 && d.offset < kLevel2 + 3) return;
    if (d.bar->role == Role::Uhci && d.offset >= 0x10 && d.offset < 0x10 + 2 * kUhciPorts) return;
    m_io[port] = value;
}

}  // namespace hw
}  // namespace vnb
