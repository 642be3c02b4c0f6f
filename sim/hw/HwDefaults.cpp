// The default machine's PCI functions: a mobile memory controller hub with its graphics
// (GM45-like), and a mobile I/O controller hub of the ICH9-M kind (82801IBM) with the
// register layout of its datasheet, reporting the machine maker's vendor ID 1B2Fh. The device objects
// are numbered in the order the bus scan finds the functions.
#include <cstring>

#include "HwMachine.h"
#include "Platform.h"

namespace vnb {
namespace hw {
namespace {

constexpr uint16_t kVendor = 0x1B2F;
constexpr uint32_t kSubsystem = 0x30A11B2F;

struct DefaultFunction {
    int bus, device, function;
    uint16_t deviceId;
    uint8_t revision;
    uint32_t classCode;  // class, subclass, interface
    uint8_t header;      // header type, bit 7 multi-function
    const char* name;
    // BARs and other configuration registers the firmware set: offset, width, value.
    struct Reg {
        int offset, size;
        uint32_t value;
    } regs[6];
};

const DefaultFunction kFunctions[] = {
    {0, 0, 0, 0x2A40, 0x07, 0x060000, 0x00, "Mobile Memory Controller Hub", {}},
    {0, 2, 0, 0x2A42, 0x07, 0x030000, 0x80, "Mobile Integrated Graphics Controller",
     {{0x10, 4, 0xFE000004}, {0x18, 4, 0xD000000C}, {0x20, 4, 0x00001801}}},
    {0, 2, 1, 0x2A43, 0x07, 0x038000, 0x80, "Mobile Integrated Graphics Controller", {{0x10, 4, 0xFE100004}}},
    {0, 26, 0, 0x2937, 0x03, 0x0C0300, 0x80, "USB Universal Host Controller #4", {{0x20, 4, 0x00001861}}},
    {0, 26, 1, 0x2938, 0x03, 0x0C0300, 0x80, "USB Universal Host Controller #5", {{0x20, 4, 0x00001881}}},
    {0, 26, 2, 0x2939, 0x03, 0x0C0300, 0x80, "USB Universal Host Controller #6", {{0x20, 4, 0x000018A1}}},
    {0, 26, 7, 0x293C, 0x03, 0x0C0320, 0x80, "USB2 Enhanced Host Controller #2", {{0x10, 4, 0xFE226C00}}},
    {0, 27, 0, 0x293E, 0x03, 0x040300, 0x00, "High Definition Audio Controller", {{0x10, 4, 0xFE220004}}},
    {0, 28, 0, 0x2940, 0x03, 0x060400, 0x80, "PCI Express Root Port 1", {{0x18, 4, 0x00020200}}},
    {0, 28, 1, 0x2942, 0x03, 0x060400, 0x80, "PCI Express Root Port 2", {{0x18, 4, 0x00030300}}},
    {0, 28, 2, 0x2944, 0x03, 0x060400, 0x80, "PCI Express Root Port 3", {{0x18, 4, 0x00040400}}},
    {0, 28, 3, 0x2946, 0x03, 0x060400, 0x80, "PCI Express Root Port 4", {{0x18, 4, 0x00050500}}},
    {0, 28, 4, 0x2948, 0x03, 0x060400, 0x80, "PCI Express Root Port 5", {{0x18, 4, 0x00060600}}},
    {0, 28, 5, 0x294A, 0x03, 0x060400, 0x80, "PCI Express Root Port 6", {{0x18, 4, 0x00070700}}},
    {0, 29, 0, 0x2934, 0x03, 0x0C0300, 0x80, "USB Universal Host Controller #1", {{0x20, 4, 0x00001801}}},
    {0, 29, 1, 0x2935, 0x03, 0x0C0300, 0x80, "USB Universal Host Controller #2", {{0x20, 4, 0x00001821}}},
    {0, 29, 2, 0x2936, 0x03, 0x0C0300, 0x80, "USB Universal Host Controller #3", {{0x20, 4, 0x00001841}}},
    {0, 29, 7, 0x293A, 0x03, 0x0C0320, 0x80, "USB2 Enhanced Host Controller #1", {{0x10, 4, 0xFE227000}}},
    {0, 30, 0, 0x2448, 0x93, 0x060401, 0x01, "Mobile PCI Bridge", {{0x18, 4, 0x20080800}}},
    // PMBASE 500h, ACPI decode on, GPIOBASE 580h, GEN_PMCON_1 (C4onC3 off), RCBA FED1C000h enabled.
    {0, 31, 0, 0x2919, 0x03, 0x060100, 0x80, "LPC Interface Controller",
     {{0x40, 4, 0x00000501}, {0x44, 1, 0x80}, {0x48, 4, 0x00000581}, {0x4C, 1, 0x10}, {0xA0, 2, 0x0000},
      {0xF0, 4, 0xFED1C001}}},
    // PCS: the mobile hub's SATA ports 0, 1, 4 and 5 enabled (the optical drive on port 1).
    {0, 31, 2, 0x2929, 0x03, 0x010601, 0x80, "SATA AHCI Controller",
     {{0x20, 4, 0x000018E1}, {0x24, 4, 0xFE226000}, {0x92, 2, 0x0033}}},
    {0, 31, 3, 0x2930, 0x03, 0x0C0500, 0x80, "SMBus Controller", {{0x10, 4, 0xFE226B00}, {0x20, 4, 0x00001C61}}},
    {0, 31, 6, 0x2932, 0x03, 0x118000, 0x80, "Thermal Subsystem", {{0x10, 4, 0xFE228004}}},
    {2, 0, 0, 0x4229, 0x61, 0x028000, 0x00, "Wireless Network Adapter", {{0x10, 4, 0xF8000004}}},
    {3, 0, 0, 0x10F5, 0x03, 0x020000, 0x00, "Gigabit Ethernet Controller", {{0x10, 4, 0xF8100004}}},
};

void Put(uint8_t* config, int offset, int size, uint32_t value) { memcpy(config + offset, &value, size); }

PciFunction Build(const DefaultFunction& d, int object) {
    PciFunction f;
    f.bus = d.bus;
    f.device = d.device;
    f.function = d.function;
    f.object = object;
    f.name = d.name;
    uint16_t vendor = d.bus == 0 ? kVendor : (d.bus == 2 ? 0x1C7A : 0x1D12);
    Put(f.config, 0x00, 2, vendor);
    Put(f.config, 0x02, 2, d.deviceId);
    Put(f.config, 0x04, 2, 0x0007);  // I/O, memory, bus master
    Put(f.config, 0x06, 2, 0x0010);  // capabilities list
    f.config[0x08] = d.revision;
    Put(f.config, 0x09, 3, d.classCode);
    f.config[0x0E] = d.header;
    if ((d.header & 0x7F) == 0) Put(f.config, 0x2C, 4, kSubsystem);
    for (const auto& reg : d.regs)
        if (reg.size) Put(f.config, reg.offset, reg.size, reg.value);
    return f;
}

void DefaultHubSection(Machine* machine) { DefaultHub(machine); }
DefaultSection g_defaults(DefaultHubSection);
}  // namespace

void DefaultHub(Machine* machine) {
    HwState state;
    int object = 0;
    for (const DefaultFunction& d : kFunctions) state.Functions().push_back(Build(d, object++));
    state.Save(machine);
}

}  // namespace hw
}  // namespace vnb
