// The virtual notebook's exports: attaching to the library's table, and the machine's
// own controls for tests and tools (its device tree and power status, the battery
// fields of which follow the batteries, agents/Batteries.cpp).
#include "Entries.h"
#include "Platform.h"
#include "agents/Batteries.h"

#include <wtsapi32.h>

#include <cwchar>

#include "RegistryText.h"
#include "WinHandles.h"

namespace vnb {
namespace {
void CopyField(wchar_t* out, size_t chars, const std::wstring& text) { lstrcpynW(out, text.c_str(), int(chars)); }

void ToDevice(const Node& node, VnbDevice* device) {
    CopyField(device->instanceId, ARRAYSIZE(device->instanceId), node.instanceId);
    CopyField(device->parentId, ARRAYSIZE(device->parentId), node.parentId);
    CopyField(device->classGuid, ARRAYSIZE(device->classGuid), node.classGuid);
    CopyField(device->description, ARRAYSIZE(device->description), node.description);
    CopyField(device->friendlyName, ARRAYSIZE(device->friendlyName), node.friendlyName);
    device->status = node.status;
    device->problem = node.problem;
    device->present = node.present;
}

// Session notifications carry this record; the service reads the session from it.
DWORD SessionOfMachine(DWORD* session) {
    Machine machine;
    DWORD error = ReadMachine(AttachedMachine(), &machine);
    if (error == ERROR_SUCCESS) *session = machine.power.sessionId;
    return error;
}
}  // namespace

BOOL WINAPI GetSystemPowerStatus(LPSYSTEM_POWER_STATUS status) {
    if (!status) return ExportResult(ERROR_INVALID_PARAMETER);
    Machine machine;
    DWORD error = UpdateMachine(AttachedMachine(), [&](Machine& m) {
        SettleBatteries(&m);
        machine.power = m.power;
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
    if (error != ERROR_SUCCESS) return ExportResult(error);
    const VnbPower& p = machine.power;
    status->ACLineStatus = p.acLineStatus;
    status->BatteryFlag = p.batteryFlag;
    status->BatteryLifePercent = p.batteryLifePercent;
    status->Reserved1 = 0;
    status->BatteryLifeTime = p.batteryLifeTime;
    status->BatteryFullLifeTime = p.batteryFullLifeTime;
    return TRUE;
}

BOOL WINAPI TranslateServiceControl(DWORD control, DWORD* systemControl, DWORD* eventType, void* eventData,
                                    DWORD eventDataSize) {
    if (!systemControl || !eventType) return FALSE;
    if (control >= kVnbControlPowerBase && control < kVnbControlSessionBase) {
        *systemControl = SERVICE_CONTROL_POWEREVENT;
        *eventType = control - kVnbControlPowerBase;
        return TRUE;
    }
    if (control == kVnbControlResume) {
        *systemControl = SERVICE_CONTROL_POWEREVENT;
        *eventType = PBT_APMRESUMEAUTOMATIC;
        return TRUE;
    }
    if (control < kVnbControlSessionBase || control >= kVnbControlResume) return FALSE;
    if (!eventData || eventDataSize < sizeof(WTSSESSION_NOTIFICATION)) return FALSE;
    DWORD session = 0;
    if (SessionOfMachine(&session) != ERROR_SUCCESS) return FALSE;
    WTSSESSION_NOTIFICATION notification{sizeof(WTSSESSION_NOTIFICATION), session};
    memcpy(eventData, &notification, sizeof(notification));
    *systemControl = SERVICE_CONTROL_SESSIONCHANGE;
    *eventType = control - kVnbControlSessionBase;
    return TRUE;
}

}  // namespace vnb

using vnb::Machine;

namespace {
// An entry of the table as the library calls it: the machine's own answer, timed on the
// machine's clock (vnb::MachineClock).
template <class Entry, Entry entry>
struct Clocked;
template <class R, class... A, R(WINAPI* entry)(A...)>
struct Clocked<R(WINAPI*)(A...), entry> {
    static R WINAPI Call(A... arguments) {
        vnb::MachineClock clock;
        return entry(arguments...);
    }
};
}  // namespace

ZORAVNB_API BOOL WINAPI VnbAttach(ZoraSystemApi* table, const wchar_t* machineFile) {
    if (!table || table->cbSize < sizeof(ZoraSystemApi) || !machineFile || !machineFile[0] ||
        wcslen(machineFile) >= MAX_PATH)
        return vnb::ExportResult(ERROR_INVALID_PARAMETER);
    DWORD error = vnb::CreateMachineIfMissing(machineFile);
    if (error != ERROR_SUCCESS) return vnb::ExportResult(error);
    vnb::SetAttachedMachine(machineFile);
    // The entries the list marks VNB; the others keep the library's defaults.
#define VNB_ATTACH_ENTRY(result, name, parameters, from, provider) VNB_ATTACH_ENTRY_##provider(name)
#define VNB_ATTACH_ENTRY_VNB(name) table->name = Clocked<decltype(&vnb::name), &vnb::name>::Call;
#define VNB_ATTACH_ENTRY_REAL(name)
    ZORA_SYSTEM_ENTRIES(VNB_ATTACH_ENTRY)
#undef VNB_ATTACH_ENTRY
#undef VNB_ATTACH_ENTRY_VNB
#undef VNB_ATTACH_ENTRY_REAL
    table->TranslateServiceControl =
        Clocked<decltype(&vnb::TranslateServiceControl), &vnb::TranslateServiceControl>::Call;
    return TRUE;
}

ZORAVNB_API BOOL WINAPI VnbGetMachineTime(ULONGLONG* microseconds, ULONGLONG* entries) {
    if (!microseconds || !entries) return vnb::ExportResult(ERROR_INVALID_PARAMETER);
    vnb::MachineTime(microseconds, entries);
    return TRUE;
}

ZORAVNB_API BOOL WINAPI VnbSleep(const wchar_t* machineFile) {
    wchar_t scratch[MAX_PATH];
    const wchar_t* file = vnb::ResolveMachine(machineFile, scratch);
    if (!file) return vnb::ExportResult(ERROR_FILE_NOT_FOUND);
    return vnb::ExportResult(vnb::UpdateMachine(file, [](Machine& m) {
        vnb::LoseVolatileState(&m);
        return static_cast<DWORD>(ERROR_SUCCESS);
    }));
}

ZORAVNB_API BOOL WINAPI VnbCreateDefaultMachine(const wchar_t* machineFile) {
    Machine machine;
    vnb::DefaultMachine(&machine);
    DWORD error = vnb::ReplaceMachine(machineFile, machine);
    if (error == ERROR_SUCCESS) vnb::ResetSubsystems();
    return vnb::ExportResult(error);
}

ZORAVNB_API BOOL WINAPI VnbConfiguredMachine(wchar_t* machineFile, DWORD chars) {
    if (!machineFile || chars < 2) return vnb::ExportResult(ERROR_INVALID_PARAMETER);
    machineFile[0] = L'\0';
    UniqueKey key;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, ZORA_INSTALL_KEY, 0, KEY_READ | KEY_WOW64_64KEY, key.put());
    if (rc != ERROR_SUCCESS) return vnb::ExportResult(static_cast<DWORD>(rc));
    rc = ReadRegistryText(key.get(), ZORA_INSTALL_MACHINE_FILE, machineFile, chars);
    if (rc != ERROR_SUCCESS) return vnb::ExportResult(static_cast<DWORD>(rc));
    return machineFile[0] ? TRUE : vnb::ExportResult(ERROR_FILE_NOT_FOUND);
}

ZORAVNB_API int WINAPI VnbDeviceCount(const wchar_t* machineFile) {
    wchar_t scratch[MAX_PATH];
    Machine machine;
    DWORD error = vnb::ReadMachine(vnb::ResolveMachine(machineFile, scratch), &machine);
    SetLastError(error);
    return error == ERROR_SUCCESS ? static_cast<int>(machine.nodes.size()) : -1;
}

ZORAVNB_API BOOL WINAPI VnbGetDevice(const wchar_t* machineFile, int index, VnbDevice* device) {
    if (!device) return vnb::ExportResult(ERROR_INVALID_PARAMETER);
    wchar_t scratch[MAX_PATH];
    Machine machine;
    DWORD error = vnb::ReadMachine(vnb::ResolveMachine(machineFile, scratch), &machine);
    if (error != ERROR_SUCCESS) return vnb::ExportResult(error);
    if (index < 0 || index >= static_cast<int>(machine.nodes.size())) return vnb::ExportResult(ERROR_NO_MORE_ITEMS);
    vnb::ToDevice(machine.nodes[index], device);
    return TRUE;
}

ZORAVNB_API BOOL WINAPI VnbFindDevice(const wchar_t* machineFile, const wchar_t* instanceId, VnbDevice* device) {
    if (!device || !instanceId) return vnb::ExportResult(ERROR_INVALID_PARAMETER);
    wchar_t scratch[MAX_PATH];
    Machine machine;
    DWORD error = vnb::ReadMachine(vnb::ResolveMachine(machineFile, scratch), &machine);
    if (error != ERROR_SUCCESS) return vnb::ExportResult(error);
    int index = machine.Find(instanceId);
    if (index < 0) return vnb::ExportResult(ERROR_NOT_FOUND);
    vnb::ToDevice(machine.nodes[index], device);
    return TRUE;
}

ZORAVNB_API BOOL WINAPI VnbSetDeviceState(const wchar_t* machineFile, const wchar_t* instanceId, DWORD status,
                                          DWORD problem) {
    if (!instanceId) return vnb::ExportResult(ERROR_INVALID_PARAMETER);
    wchar_t scratch[MAX_PATH];
    return vnb::ExportResult(vnb::UpdateMachine(vnb::ResolveMachine(machineFile, scratch), [&](Machine& machine) {
        int index = machine.Find(instanceId);
        if (index < 0) return static_cast<DWORD>(ERROR_NOT_FOUND);
        machine.nodes[index].status = status;
        machine.nodes[index].problem = problem;
        return static_cast<DWORD>(ERROR_SUCCESS);
    }));
}

ZORAVNB_API BOOL WINAPI VnbSetDevicePresent(const wchar_t* machineFile, const wchar_t* instanceId, BOOL present) {
    if (!instanceId) return vnb::ExportResult(ERROR_INVALID_PARAMETER);
    wchar_t scratch[MAX_PATH];
    return vnb::ExportResult(vnb::UpdateMachine(vnb::ResolveMachine(machineFile, scratch), [&](Machine& machine) {
        int index = machine.Find(instanceId);
        // The root is the tree itself: it cannot go away.
        if (index <= 0) return static_cast<DWORD>(index < 0 ? ERROR_NOT_FOUND : ERROR_INVALID_PARAMETER);
        machine.nodes[index].present = present != FALSE;
        return static_cast<DWORD>(ERROR_SUCCESS);
    }));
}

ZORAVNB_API BOOL WINAPI VnbGetPower(const wchar_t* machineFile, VnbPower* power) {
    if (!power) return vnb::ExportResult(ERROR_INVALID_PARAMETER);
    wchar_t scratch[MAX_PATH];
    Machine machine;
    DWORD error = vnb::ReadMachine(vnb::ResolveMachine(machineFile, scratch), &machine);
    if (error == ERROR_SUCCESS) {
        vnb::SettleBatteries(&machine);
        *power = machine.power;
    }
    return vnb::ExportResult(error);
}

ZORAVNB_API BOOL WINAPI VnbSetPower(const wchar_t* machineFile, const VnbPower* power) {
    if (!power) return vnb::ExportResult(ERROR_INVALID_PARAMETER);
    wchar_t scratch[MAX_PATH];
    return vnb::ExportResult(vnb::UpdateMachine(vnb::ResolveMachine(machineFile, scratch), [&](Machine& machine) {
        // The charge so far ran under the old AC line.
        vnb::SettleBatteries(&machine);
        BYTE percent = machine.power.batteryLifePercent;
        machine.power = *power;
        if (power->batteryLifePercent <= 100 && power->batteryLifePercent != percent)
            vnb::SetBatteryPercent(&machine, power->batteryLifePercent);
        vnb::SettleBatteries(&machine);
        return static_cast<DWORD>(ERROR_SUCCESS);
    }));
}

namespace {
std::string Narrowed(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    return out;
}
}  // namespace

ZORAVNB_API BOOL WINAPI VnbGetValue(const wchar_t* machineFile, const wchar_t* section, const wchar_t* key,
                                    wchar_t* value, DWORD chars) {
    if (!section || !key || !value || chars == 0) return vnb::ExportResult(ERROR_INVALID_PARAMETER);
    wchar_t scratch[MAX_PATH];
    Machine machine;
    DWORD error = vnb::ReadMachine(vnb::ResolveMachine(machineFile, scratch), &machine);
    if (error != ERROR_SUCCESS) return vnb::ExportResult(error);
    vnb::Values values;
    std::string name = Narrowed(key);
    if (!vnb::GetSection(machine, Narrowed(section), &values) || !values.Has(name))
        return vnb::ExportResult(ERROR_NOT_FOUND);
    std::string text = values.Get(name);
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, value, static_cast<int>(chars));
    if (n == 0) {
        value[0] = L'\0';
        return vnb::ExportResult(ERROR_INSUFFICIENT_BUFFER);
    }
    return vnb::ExportResult(ERROR_SUCCESS);
}

ZORAVNB_API BOOL WINAPI VnbSetValue(const wchar_t* machineFile, const wchar_t* section, const wchar_t* key,
                                    const wchar_t* value) {
    if (!section || !key || !value || !section[0] || !key[0]) return vnb::ExportResult(ERROR_INVALID_PARAMETER);
    std::string name = Narrowed(section), k = Narrowed(key), v = Narrowed(value);
    if (name.find_first_of("[]\r\n") != std::string::npos || k.find_first_of("=\r\n") != std::string::npos ||
        v.find_first_of("\r\n") != std::string::npos)
        return vnb::ExportResult(ERROR_INVALID_PARAMETER);
    wchar_t scratch[MAX_PATH];
    return vnb::ExportResult(vnb::UpdateMachine(vnb::ResolveMachine(machineFile, scratch), [&](Machine& machine) {
        vnb::Values values;
        vnb::GetSection(machine, name, &values);
        values.Set(k, v);
        vnb::PutSection(&machine, name, values);
        return static_cast<DWORD>(ERROR_SUCCESS);
    }));
}
