#pragma once
// The I/O controller hub of the virtual notebook and the devices behind it, as the
// machine file keeps them:
//
//   [HwPci]                   Devices=00:00.0,00:02.0,...   every PCI function, bus:device.function (hex)
//   [Pci 00:1F.0]             one per function:
//   Object=13                   its device object "\Device\NTPNP_PCI0013" (0-31)
//   Name=LPC Interface Controller
//   Config=86801929...          the 256 bytes of configuration space, hex
//   [HwMemory]                0xFED1F418=0x00000000   dwords of memory behind the BARs that were written
//   [HwIo]                    0x0500=0x00              bytes of I/O space behind the BARs that were written
//   [HwPm]                    C2Entries=0, C3Entries=0, C4Entries=0   reads of P_LVL2..P_LVL4
//
// Memory and I/O space are decoded from the BARs as configuration space holds them now:
// the LPC bridge's RCBA (function disable at +3418h, USB port disable at +359Ch, its
// write enable at +3598h bit 0) and PMBASE (P_LVL2..4 at +14h..+16h), the EHCI
// controllers' MEMBASE (PORTSC at +64h + 4 x port), the UHCI controllers' USBBASE
// (PORTSC at +10h/+12h), and plain storage behind the other devices' BARs. Addresses no
// device decodes read all ones and drop writes.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "MachineFile.h"

namespace vnb {
namespace hw {

constexpr int kConfigBytes = 256;
constexpr int kUsbPorts = 12;   // physical ports 0-11, one disable bit each
constexpr int kUhciPorts = 2;   // per UHCI controller (6)

struct PciFunction {
    int bus = 0, device = 0, function = 0;
    int object = 0;
    std::string name;
    uint8_t config[kConfigBytes] = {};

    uint32_t Config32(int offset) const;
    std::string Address() const;  // "00:1F.0"
};

struct Bar;

class HwState {
public:
    // False when the machine has no hub (a machine file older than it).
    bool Load(const Machine& machine);
    // Puts back the sections that differ from what Load found (every section for a state
    // that was not loaded): a request that only read puts nothing back.
    void Save(Machine* machine) const;

    std::vector<PciFunction>& Functions() { return m_functions; }
    PciFunction* FindObject(int object);
    PciFunction* FindAddress(int bus, int device, int function);

    uint8_t ReadConfig(const PciFunction& f, int offset) const { return f.config[offset]; }
    void WriteConfig(PciFunction* f, int offset, uint8_t value);

    // count: a read of a C-state level register is an entry into that state.
    uint8_t ReadMemory(uint32_t address) const;
    void WriteMemory(uint32_t address, uint8_t value);
    uint8_t ReadIo(uint16_t port, bool count);
    void WriteIo(uint16_t port, uint8_t value);

    // The USB port disable register (bit per port).
    uint32_t PortDisableBits() const;

private:
    struct Decode;
    bool DecodeMemory(uint32_t address, Decode* decode) const;
    bool DecodeIo(uint16_t port, Decode* decode) const;
    uint32_t StoredDword(uint32_t address) const;
    uint8_t UsbPortStatus(const Bar& bar, uint32_t offset) const;

    const Machine* m_machine = nullptr;
    std::vector<PciFunction> m_functions;
    std::map<uint32_t, uint32_t> m_memory;
    std::map<uint16_t, uint8_t> m_io;
    unsigned long long m_entries[3] = {};

    // As Load found them.
    bool m_loaded = false;
    std::vector<PciFunction> m_loadedFunctions;
    std::map<uint32_t, uint32_t> m_loadedMemory;
    std::map<uint16_t, uint8_t> m_loadedIo;
    unsigned long long m_loadedEntries[3] = {};
};

// The default hub and its functions.
void DefaultHub(Machine* machine);

// Whether a device is plugged into root port `port` of the controller at that PCI
// address, as the machine's USB section has it.
bool UsbAttachedAt(const Machine& machine, int device, int function, int port);

// Whether root port `port` of the USB controller at that PCI address is switched off in
// the hub's port disable register; false for anything that is not one of the hub's ports.
bool UsbPortSwitchedOff(const Machine& machine, int bus, int device, int function, int port);

std::string Hex(const uint8_t* bytes, size_t count);

}  // namespace hw
}  // namespace vnb
