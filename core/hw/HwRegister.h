#pragma once
// What the hub agents share: reading their INI keys by the rules of the installed files,
// identifying the hub, and one register reached through PCI configuration space or
// through a base address register in memory or I/O space. Internal to the library.
#include <cstdint>

#include "HwIA.h"
#include "InstalledCfg.h"
#include "WinHandles.h"

namespace hw {

constexpr int kMissing = -1;
constexpr int kNameChars = 260;
constexpr int kDeviceNameSize = 51;
constexpr wchar_t kHubraCfg[] = L"HubraCfg.ini";

inline bool ValidWidth(int size) { return size == 1 || size == 2 || size == 4; }

// The rule of the "DisableType"/"EnableType" keys: the request (disable or enable, 0 or
// 1) matches the type (0 or 1); any other type matches nothing.
inline bool TypeMatches(int type, int request) { return (type == 1 && request == 1) || (type == 0 && request == 0); }

// "Bus", "Device" and "Function" of a section: the PCI device that holds a register.
struct PciAddress {
    int bus = kMissing;
    int device = kMissing;
    int function = kMissing;
};
// False when one of the three keys is missing.
bool ReadPciAddress(InstalledCfg* cfg, const wchar_t* section, PciAddress* pci);
// The driver's device-object name of the device (kDeviceNameSize characters).
long DeviceObject(CHwIA* ia, const PciAddress& pci, wchar_t* name);

// Opens an installed hardware file (read once until it changes); logs "Cannot initialize cfg file %s" on failure.
bool OpenCfg(InstalledCfg* cfg, const wchar_t* fileName);

// The hub agents' identification: opens "HubraCfg.ini" (0 at once when identify is 0),
// then tries its "Hubra Identification %d" sections in order against the hub's PCI
// registers; the matching section's "Name" goes to hubName (kNameChars), which is left
// as it was on failure.
long IdentifyHub(CHwIA* ia, int identify, wchar_t* hubName);

enum class Space { PciConfig, Memory, Io };

// The text of a register type key: false for anything but "PCIConfig", "Memory", "IO"
// (exact), or when allowConfig is false and the text is "PCIConfig".
bool ParseSpace(const wchar_t* text, bool allowConfig, Space* space);

// A register of one width. For PciConfig `address` is the configuration offset in
// `device`; otherwise the physical or I/O address.
struct Register {
    Space space = Space::PciConfig;
    wchar_t device[kDeviceNameSize] = {};
    uint32_t address = 0;
    int size = 4;
};

// Translates the PCI address and reads the base address register at baseOffset for
// baseSize bytes; address = (base & mask) + valueOffset.
long LocateBehindBar(CHwIA* ia, Space space, const PciAddress& pci, int baseOffset, int baseSize,
                     uint32_t mask, uint32_t valueOffset, int valueSize, Register* reg);

// One read, then possibly one write, of a register; a memory register stays mapped
// from the read until the object goes. The object holds the machine-wide hub register
// lock for its whole life, so that two agents (threads of the service, TALO) switching
// bits of the same register never write back each other's stale image.
class RegisterAccess {
public:
    RegisterAccess(CHwIA* ia, const Register& reg);
    RegisterAccess(const RegisterAccess&) = delete;
    RegisterAccess& operator=(const RegisterAccess&) = delete;
    ~RegisterAccess();

    long Read(uint32_t* value);
    long Write(uint32_t value);
    // Read, set or clear one bit, write back; `written` (optional) gets the new image.
    long SwitchBit(int bit, bool set, uint32_t* written = nullptr);

private:
    long Map();

    CHwIA* m_ia;
    Register m_reg;
    void* m_mapping = nullptr;
    HANDLE m_lock = nullptr;  // the module's lock, held (owned) while set
};

// One read under the register lock, the mapping (if any) released after it.
long ReadRegister(CHwIA* ia, const Register& reg, uint32_t* value);

}  // namespace hw
