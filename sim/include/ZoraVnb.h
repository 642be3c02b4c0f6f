#pragma once
// The virtual notebook: a simulated machine behind the library's system-API table.
// All its state lives in one machine file shared by every process, guarded by the
// global mutex "Global\ZORA_VNB_MACHINE". The library attaches it when the installation
// key (ZoraInstallKey.h) names a machine file and this module, ZORA_VNB_MODULE, as the
// provider that answers for it.
#include <windows.h>

#include "ZoraInstallKey.h"
#include "ZoraSystemApi.h"

#ifdef ZORAVNB_EXPORTS
#define ZORAVNB_API extern "C" __declspec(dllexport)
#else
#define ZORAVNB_API extern "C" __declspec(dllimport)
#endif

// The virtual notebook's module, installed beside ZORADLL: the provider module that
// switching it on names in the installation key (ZORA_INSTALL_PROVIDER_MODULE), beside
// the machine file (ZORA_INSTALL_MACHINE_FILE).
#define ZORA_VNB_MODULE L"ZoraVnb.dll"

// Service controls (user-defined range) that stand for notifications the platform
// cannot deliver. Power: the power event (13) with event type (code - base).
// Session: the session change (14) with event type (code - base) for the session
// recorded in the machine file.
enum : DWORD {
    kVnbControlPowerBase = 160,    // 160 + event type, e.g. 170 = power status change (10)
    kVnbControlSessionBase = 176,  // 176 + event type, e.g. 181 = session logon (5)
    kVnbControlResume = 192,       // the power event (13) of an automatic resume (18)
    kVnbControlLast = 192,
};

struct VnbDevice {
    wchar_t instanceId[200];
    wchar_t parentId[200];   // instance ID of the parent node; the root's is empty
    wchar_t classGuid[40];   // brace form; empty for bus nodes without a setup class
    wchar_t description[128];
    wchar_t friendlyName[128];
    DWORD status;            // node status bits (DN_*): started 0x8, disableable 0x2000, problem 0x400
    DWORD problem;           // problem number; 22 = disabled
    BOOL present;
};

struct VnbPower {
    BYTE acLineStatus;       // 0 battery, 1 mains, 255 unknown
    BYTE batteryFlag;
    BYTE batteryLifePercent;
    DWORD batteryLifeTime;
    DWORD batteryFullLifeTime;
    DWORD sessionId;         // session the session-change controls report
};

// Filled into the library's table by ZORADLL itself.
ZORAVNB_API BOOL WINAPI VnbAttach(ZoraSystemApi* table, const wchar_t* machineFile);

// The time spent in the virtual notebook since the first process attached a machine,
// by every process together: microseconds, and how many entries of the table (and
// accesses to the machine file from outside an entry) it took. A benchmark reads it before
// and after an operation to tell the notebook's share from the product's own.
ZORAVNB_API BOOL WINAPI VnbGetMachineTime(ULONGLONG* microseconds, ULONGLONG* entries);

// The machine sleeps and wakes again: every subsystem loses its volatile state (the
// processor's performance target and clock modulation, the I/O hub's registers) back to
// its power-on values. The service learns of the resume from kVnbControlResume.
ZORAVNB_API BOOL WINAPI VnbSleep(const wchar_t* machineFile);

// Writes the default machine to the file (replacing whatever it held).
ZORAVNB_API BOOL WINAPI VnbCreateDefaultMachine(const wchar_t* machineFile);
// The machine file the registry names (MAX_PATH characters); FALSE when none.
ZORAVNB_API BOOL WINAPI VnbConfiguredMachine(wchar_t* machineFile, DWORD chars);

// Device tree, in the machine file's order (the root node first).
ZORAVNB_API int WINAPI VnbDeviceCount(const wchar_t* machineFile);
ZORAVNB_API BOOL WINAPI VnbGetDevice(const wchar_t* machineFile, int index, VnbDevice* device);
ZORAVNB_API BOOL WINAPI VnbFindDevice(const wchar_t* machineFile, const wchar_t* instanceId, VnbDevice* device);
// Sets status and problem of a node, as the machine's own doing (not a device switch).
ZORAVNB_API BOOL WINAPI VnbSetDeviceState(const wchar_t* machineFile, const wchar_t* instanceId, DWORD status,
                                          DWORD problem);
ZORAVNB_API BOOL WINAPI VnbSetDevicePresent(const wchar_t* machineFile, const wchar_t* instanceId, BOOL present);

// The power status. Where the machine has battery slots, the battery fields are the
// batteries' (at this moment): Set takes the AC line and the session from `power`, and
// a percentage other than the batteries' as a new charge of every present battery.
ZORAVNB_API BOOL WINAPI VnbGetPower(const wchar_t* machineFile, VnbPower* power);
ZORAVNB_API BOOL WINAPI VnbSetPower(const wchar_t* machineFile, const VnbPower* power);

// ---- Batteries (sections "Batteries", "Battery0" ... "Battery5", described in
// sim/agents/Batteries.cpp) ----
// Each acts on slot 0-5 after letting the time since the battery clock pass;
// ERROR_INVALID_PARAMETER for a slot beyond 5 or a charge above 100, ERROR_NOT_FOUND for
// a slot the machine does not have. The charge: percent of the full-charged capacity.
// The rates: mW taken in on mains until full, given off on battery. A battery put in
// gets a new battery tag.
ZORAVNB_API BOOL WINAPI VnbSetBatteryCharge(const wchar_t* machineFile, int slot, DWORD percent);
ZORAVNB_API BOOL WINAPI VnbSetBatteryRates(const wchar_t* machineFile, int slot, DWORD chargeRate, DWORD dischargeRate);
ZORAVNB_API BOOL WINAPI VnbSetBatteryPresent(const wchar_t* machineFile, int slot, BOOL present);

// Any value of the machine's hardware sections ("Driver", and the sections each
// subsystem documents in its source), as text. Get copies at most `chars` characters
// (terminated) and is FALSE when the section or key is absent; Set creates either.
ZORAVNB_API BOOL WINAPI VnbGetValue(const wchar_t* machineFile, const wchar_t* section, const wchar_t* key,
                                    wchar_t* value, DWORD chars);
ZORAVNB_API BOOL WINAPI VnbSetValue(const wchar_t* machineFile, const wchar_t* section, const wchar_t* key,
                                    const wchar_t* value);

// ---- USB host controllers (section "Usb", described in sim/hw/UsbState.h) ----
// Plugs a device into port `port` (from 0) of controller `controller` (the n of
// "\\.\HCD<n>"). Its driver's class key, with "DriverDesc" = description, is written
// under HKLM\SYSTEM\CurrentControlSet\Control\Class; a null or empty description is a
// device without a driver. ERROR_INVALID_PARAMETER for a controller or port that does
// not exist or a description with a line break, ERROR_BUSY when the port is in use.
ZORAVNB_API BOOL WINAPI VnbAttachUsbDevice(const wchar_t* machineFile, int controller, int port,
                                           const wchar_t* description);
// Unplugs it (and removes the class key the attach wrote); ERROR_NOT_FOUND when the
// port is empty.
ZORAVNB_API BOOL WINAPI VnbDetachUsbDevice(const wchar_t* machineFile, int controller, int port);

// ---- I/O controller hub and PCI devices (sections "HwPci", "Pci ...", "HwMemory",
// "HwIo", "HwPm", described in sim/hw/HwMachine.h) ----
// Moves the PCI function bus:device.function to device object `object` (0-31, the
// "\Device\NTPNP_PCI%04d" name), as a re-enumeration does; a function that held that
// number takes the moved one's old number. ERROR_NOT_FOUND for an unknown function,
// ERROR_INVALID_PARAMETER for an object number beyond 31.
ZORAVNB_API BOOL WINAPI VnbRenumberPciDevice(const wchar_t* machineFile, DWORD bus, DWORD device, DWORD function,
                                             DWORD object);
// The device-object number of a function; FALSE (ERROR_NOT_FOUND) when there is none.
ZORAVNB_API BOOL WINAPI VnbGetPciDeviceObject(const wchar_t* machineFile, DWORD bus, DWORD device, DWORD function,
                                              DWORD* object);
// Register contents as the hardware holds them, without the side effects a driver
// access has (a level register read does not enter a C-state). Space 0: physical
// memory at `address`; 1: I/O ports; 2: configuration space of the function whose
// device object is (address >> 16), at offset (address & 0xFFFF).
ZORAVNB_API BOOL WINAPI VnbPeekHw(const wchar_t* machineFile, DWORD space, DWORD address, void* buffer, DWORD length);
