#pragma once
// The framework the machine's hardware subsystems plug into: their own sections of the
// machine file, their part of every new default machine (and of the state they keep
// outside the file), the device paths they answer
// ("\\.\zoraebl", "\\.\HCD0", the batteries' interface paths "\\?\ACPI#PNP0C0A#...", ...), the
// device interfaces they expose and the functions of the driver "\\.\zoraebl".
//
// A subsystem registers itself with static registrar objects in its own source file;
// nothing here knows the subsystems.
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "MachineFile.h"

namespace vnb {

// "Key=Value" pairs of one section, in file order. Keys are compared without regard to case.
class Values {
public:
    bool Has(const std::string& key) const;
    std::string Get(const std::string& key, const std::string& fallback = std::string()) const;
    // Decimal or 0x-hexadecimal; fallback when absent or not a number.
    unsigned long long Number(const std::string& key, unsigned long long fallback = 0) const;
    void Set(const std::string& key, const std::string& value);
    void SetNumber(const std::string& key, unsigned long long value);  // written 0x-hexadecimal
    void Remove(const std::string& key);
    const std::vector<std::pair<std::string, std::string>>& Items() const { return m_items; }

private:
    std::vector<std::pair<std::string, std::string>> m_items;
};

// A named section kept in Machine::otherSections. Get is false when it is absent.
bool GetSection(const Machine& machine, const std::string& name, Values* values);
// The sections kept in Machine::otherSections whose names `wanted` accepts, found in one
// pass, by name in lower case (the first of each name).
std::map<std::string, Values> CollectSections(const Machine& machine, bool (*wanted)(const std::string& name));
// Replaces the section, or appends it.
void PutSection(Machine* machine, const std::string& name, const Values& values);
// The names of the sections kept in Machine::otherSections, in file order.
std::vector<std::string> SectionNames(const Machine& machine);
// Removes the section; false when there is none of that name.
bool RemoveSection(Machine* machine, const std::string& name);

// A request as the machine records it for the tests: "<input size>:<bytes in hex>", at
// most `maxBytes` of them (the driver's [DriverRequests], the batteries' [BatteryRequests]).
std::string RequestText(const void* in, DWORD inSize, DWORD maxBytes);

// Adds a subsystem's default state to every new default machine.
struct DefaultSection {
    explicit DefaultSection(void (*fill)(Machine* machine));
};
void AddSubsystemDefaults(Machine* machine);

// Puts back the state a subsystem keeps outside the machine file (in the system
// registry, say) as a new machine has it. VnbCreateDefaultMachine runs every reset
// after it has written the file.
struct MachineReset {
    explicit MachineReset(void (*reset)());
};
void ResetSubsystems();

// Puts back what a subsystem loses when the machine sleeps (power stays only on the
// always-on parts: the embedded controller, the batteries, the disks' contents): its
// power-on state, inside the update that VnbSleep makes.
struct SleepLoss {
    explicit SleepLoss(void (*lose)(Machine* machine));
};
void LoseVolatileState(Machine* machine);

// Told of a device that starts, inside the update that starts it: a started device that
// a property change (DICS_PROPCHANGE) restarts, or a stopped one that is enabled or
// started. It may change the machine's sections.
struct DeviceRestart {
    explicit DeviceRestart(void (*restarted)(Machine* machine, const Node& node));
};
void RestartDevice(Machine* machine, const Node& node);

// An open device object of the machine.
class DeviceObject {
public:
    virtual ~DeviceObject() = default;
    // DeviceIoControl semantics: FALSE with the last error set on failure.
    virtual BOOL Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) = 0;
};

// Claims a device path: returns false when the path is not its own; otherwise sets
// *object, or leaves it null and sets *error (the device is absent, say).
typedef bool (*DeviceOpener)(const std::wstring& path, std::unique_ptr<DeviceObject>* object, DWORD* error);
struct DevicePath {
    explicit DevicePath(DeviceOpener opener);
};

// The device interfaces of one interface class that a subsystem's devices expose: their
// device paths, in enumeration order, as SetupDiGetClassDevsW with DIGCF_DEVICEINTERFACE
// lists them (present ones only when presentOnly). Returns false when the class is not
// its own.
typedef bool (*InterfaceLister)(const Machine& machine, const GUID& interfaceClass, bool presentOnly,
                                std::vector<std::wstring>* paths);
struct DeviceInterfaces {
    explicit DeviceInterfaces(InterfaceLister lister);
};
// The paths of every subsystem that claims the class; false when none does.
bool ListDeviceInterfaces(const Machine& machine, const GUID& interfaceClass, bool presentOnly,
                          std::vector<std::wstring>* paths);

// One function of the driver "\\.\zoraebl" (control code 0x82260000 + 4 x function).
typedef BOOL (*DriverFunction)(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned);
struct DriverFunctionEntry {
    DriverFunctionEntry(DWORD function, DriverFunction handler);
};
DriverFunction FindDriverFunction(DWORD function);

// The processor identification the machine reports (leaf in, EAX..EDX out).
typedef void (*CpuidSource)(int regs[4], int leaf);
struct CpuidEntry {
    explicit CpuidEntry(CpuidSource source);
};

// For the exports: the machine file a caller names; null or empty means the attached
// one, else the configured one (null when there is none). scratch: MAX_PATH characters.
const wchar_t* ResolveMachine(const wchar_t* file, wchar_t* scratch);
// Sets the thread's last error; TRUE for ERROR_SUCCESS.
BOOL ExportResult(DWORD error);

}  // namespace vnb
