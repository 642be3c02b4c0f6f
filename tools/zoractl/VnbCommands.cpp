// zoractl vnb: switching the virtual notebook on and off and looking into its machine.
//   vnb on [MACHINE_FILE]   names the machine (default <home>\vnb\notebook.machine; created
//                           with the default machine when missing) and the virtual
//                           notebook's module in the installation key
//   vnb off                 back to the real machine: removes both values
//   vnb reset               the default machine again
//   vnb devices             the whole device tree with status bits
//   vnb set-device ID STATUS PROBLEM, vnb present ID 0|1   change a node as the machine would
//   vnb power [ac|battery [PERCENT]]   show or change the power source (PERCENT: every
//                           present battery's charge); a change is announced to the
//                           running service as the system would
//   vnb battery [SLOT charge PERCENT | SLOT rate CHARGE_MW DISCHARGE_MW | SLOT present 0|1]
//                           show the battery slots, or change one
//   vnb sleep [ac|battery]  the machine sleeps (losing its volatile registers), the power
//                           source changes while it sleeps if asked, and it resumes; the
//                           resume is announced to the running service
//   vnb lan                 the wired adapter: its driver key's values and, from the
//                           vendor's WMI provider, each power property (supported,
//                           value in effect, value staged by an open transaction)
// Programs that are already running keep the machine they started with.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "WinHandles.h"
#include "ZORACfg.h"
#include "ZoraVnb.h"
#include "ZoractlCommands.h"

namespace {
struct VnbModule {
    decltype(&::VnbCreateDefaultMachine) createDefault = nullptr;
    decltype(&::VnbConfiguredMachine) configured = nullptr;
    decltype(&::VnbDeviceCount) deviceCount = nullptr;
    decltype(&::VnbGetDevice) getDevice = nullptr;
    decltype(&::VnbSetDeviceState) setDeviceState = nullptr;
    decltype(&::VnbSetDevicePresent) setDevicePresent = nullptr;
    decltype(&::VnbGetPower) getPower = nullptr;
    decltype(&::VnbSetPower) setPower = nullptr;
    decltype(&::VnbGetValue) getValue = nullptr;
    decltype(&::VnbSetBatteryCharge) setCharge = nullptr;
    decltype(&::VnbSetBatteryRates) setRates = nullptr;
    decltype(&::VnbSetBatteryPresent) setPresent = nullptr;
    decltype(&::VnbSleep) sleep = nullptr;

    template <class F>
    bool Bind(F* slot, const char* name) {
        *slot = VnbExport<F>(name);
        return *slot != nullptr;
    }

    bool Load() {
        return Bind(&createDefault, "VnbCreateDefaultMachine") && Bind(&configured, "VnbConfiguredMachine") &&
               Bind(&deviceCount, "VnbDeviceCount") && Bind(&getDevice, "VnbGetDevice") &&
               Bind(&setDeviceState, "VnbSetDeviceState") && Bind(&setDevicePresent, "VnbSetDevicePresent") &&
               Bind(&getPower, "VnbGetPower") && Bind(&setPower, "VnbSetPower") && Bind(&getValue, "VnbGetValue") &&
               Bind(&setCharge, "VnbSetBatteryCharge") && Bind(&setRates, "VnbSetBatteryRates") &&
               Bind(&setPresent, "VnbSetBatteryPresent") && Bind(&sleep, "VnbSleep");
    }
};

// Sets a string value of the installation key, or deletes it (text null; one that is
// already absent counts as deleted).
LONG SetInstallValue(HKEY key, const wchar_t* name, const wchar_t* text) {
    LONG rc = text ? RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                    static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)))
                   : RegDeleteValueW(key, name);
    return !text && rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

// Names the machine and the virtual notebook's module as the provider, or (machine
// null) removes both.
bool SetMachineValues(const wchar_t* machine) {
    UniqueKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, ZORA_INSTALL_KEY, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    LONG rc = SetInstallValue(key.get(), ZORA_INSTALL_MACHINE_FILE, machine);
    if (rc == ERROR_SUCCESS)
        rc = SetInstallValue(key.get(), ZORA_INSTALL_PROVIDER_MODULE, machine ? ZORA_VNB_MODULE : nullptr);
    return rc == ERROR_SUCCESS;
}

int On(VnbModule& vnb, int argc, wchar_t** argv) {
    wchar_t machine[MAX_PATH];
    if (argc > 1) return 2;
    if (argc == 1) {
        if (!GetFullPathNameW(argv[0], MAX_PATH, machine, nullptr)) return 2;
    } else {
        CZORACfg cfg;
        if (!cfg.GetHomePath(machine, MAX_PATH)) return 1;
        wcscat(machine, L"\\vnb");
        CreateDirectoryW(machine, nullptr);
        wcscat(machine, L"\\notebook.machine");
    }
    if (GetFileAttributesW(machine) == INVALID_FILE_ATTRIBUTES && !vnb.createDefault(machine)) {
        wprintf(L"cannot create the machine file %ls (%lu)\n", machine, GetLastError());
        return 1;
    }
    if (!SetMachineValues(machine)) {
        wprintf(L"cannot record the machine in HKLM\\%ls (administrator rights needed)\n", ZORA_INSTALL_KEY);
        return 1;
    }
    wprintf(L"virtual notebook on: %ls (%ls)\n", machine, ZORA_VNB_MODULE);
    return 0;
}

int Devices(VnbModule& vnb, const wchar_t* machine) {
    int count = vnb.deviceCount(machine);
    if (count < 0) {
        wprintf(L"the machine file %ls cannot be read\n", machine);
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        VnbDevice d{};
        if (!vnb.getDevice(machine, i, &d)) continue;
        wprintf(L"%3d %ls status=0x%04lX problem=%-2lu %-38ls %ls\n", i, d.present ? L" " : L"-", d.status, d.problem,
                d.description, d.instanceId);
    }
    return 0;
}

// Prints the power status; after a change, announces it to the service as the system
// announces every change of the power status.
void ReportPower(const VnbPower& power, bool changed) {
    wprintf(L"power source: %ls, battery %u %%\n",
            power.acLineStatus == 1 ? L"mains" : power.acLineStatus == 0 ? L"battery" : L"unknown",
            power.batteryLifePercent);
    if (changed) {
        wchar_t event[] = L"power";
        wchar_t* eventArgs[] = {event};
        SendEvent(1, eventArgs);
    }
}

int Power(VnbModule& vnb, const wchar_t* machine, int argc, wchar_t** argv) {
    VnbPower power{};
    if (!vnb.getPower(machine, &power)) return 1;
    if (argc > 0) {
        unsigned long percent = power.batteryLifePercent;
        if (wcscmp(argv[0], L"ac") == 0)
            power.acLineStatus = 1;
        else if (wcscmp(argv[0], L"battery") == 0)
            power.acLineStatus = 0;
        else
            return 2;
        if (argc > 1 && (!ParseNumber(argv[1], &percent) || percent > 100)) return 2;
        power.batteryLifePercent = static_cast<BYTE>(percent);
        if (!vnb.setPower(machine, &power)) return 1;
    }
    ReportPower(power, argc > 0);
    return 0;
}
// The slots' values as the machine last brought them up to date.
void ShowBatteries(VnbModule& vnb, const wchar_t* machine) {
    const wchar_t* keys[] = {L"Present", L"RemainingCapacity", L"FullChargedCapacity", L"ChargeRate", L"DischargeRate"};
    for (int slot = 0; slot < 6; ++slot) {
        wchar_t section[16], values[5][32];
        swprintf(section, 16, L"Battery%d", slot);
        bool exists = true;
        for (int k = 0; k < 5 && exists; ++k) exists = vnb.getValue(machine, section, keys[k], values[k], 32) != FALSE;
        if (!exists) continue;
        wprintf(L"battery %d: %ls, %ls of %ls mWh, charges at %ls mW, discharges at %ls mW\n", slot,
                wcscmp(values[0], L"0") == 0 ? L"removed" : L"present", values[1], values[2], values[3], values[4]);
    }
}

int Battery(VnbModule& vnb, const wchar_t* machine, int argc, wchar_t** argv) {
    unsigned long slot = 0, a = 0, b = 0;
    BOOL done = TRUE;
    if (argc == 0) {
        done = TRUE;
    } else if (argc == 3 && ParseNumber(argv[0], &slot) && wcscmp(argv[1], L"charge") == 0 && ParseNumber(argv[2], &a)) {
        done = vnb.setCharge(machine, static_cast<int>(slot), a);
    } else if (argc == 4 && ParseNumber(argv[0], &slot) && wcscmp(argv[1], L"rate") == 0 && ParseNumber(argv[2], &a) &&
               ParseNumber(argv[3], &b)) {
        done = vnb.setRates(machine, static_cast<int>(slot), a, b);
    } else if (argc == 3 && ParseNumber(argv[0], &slot) && wcscmp(argv[1], L"present") == 0 &&
               ParseNumber(argv[2], &a)) {
        done = vnb.setPresent(machine, static_cast<int>(slot), a != 0);
    } else {
        return 2;
    }
    if (!done) {
        wprintf(L"battery %lu cannot be changed (%lu)\n", slot, GetLastError());
        return 1;
    }
    ShowBatteries(vnb, machine);
    VnbPower power{};
    if (vnb.getPower(machine, &power)) ReportPower(power, argc > 0);
    return 0;
}
// The adapter's driver key (section [Lan] names it) and its WMI side, [DovnetWmi].
int Lan(VnbModule& vnb, const wchar_t* machine) {
    wchar_t driver[16] = {}, text[256] = {};
    if (!vnb.getValue(machine, L"Lan", L"Driver", driver, 16)) return 1;
    wchar_t path[200];
    swprintf(path, 200, L"%ls\\VirtualNotebook\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\%ls",
             ZORA_INSTALL_KEY, driver);
    UniqueKey key;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | KEY_WOW64_64KEY, key.put());
    wprintf(L"driver key %ls:\n", driver);
    for (const wchar_t* name : {L"DriverDesc", L"SpeedDuplex", L"*SpeedDuplex"}) {
        DWORD bytes = sizeof(text) - sizeof(wchar_t);
        bool read = key && RegGetValueW(key.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, text, &bytes) == ERROR_SUCCESS;
        wprintf(L"  %-14ls %ls\n", name, read ? text : L"(absent)");
    }
    const wchar_t* properties[] = {L"ACBSMode", L"ReduceSpeedOnPowerDown", L"SavePowerNowEnabled", L"SmartPowerDown",
                                   L"AutoPowerSaveModeEnabled", L"EnhancedASPMPowerSaver", L"LinkSpeedBatterySaver",
                                   L"SystemIdlePowerSaver"};
    wchar_t count[16] = L"1", transaction[32] = L"none";
    vnb.getValue(machine, L"DovnetWmi", L"Adapters", count, 16);
    vnb.getValue(machine, L"DovnetWmi", L"Transaction", transaction, 32);
    wprintf(L"WMI adapters: %ls, last transaction: %ls\n", count, transaction);
    for (unsigned long a = 0; a < wcstoul(count, nullptr, 0) && a < 8; ++a) {
        wchar_t field[32], status[16] = L"0", supported[16] = L"0xFF", values[64] = L"", pending[64] = L"";
        const struct { const wchar_t* name; wchar_t* out; DWORD chars; } keys[] = {
            {L"Status", status, 16}, {L"Supported", supported, 16}, {L"Values", values, 64}, {L"Pending", pending, 64}};
        for (const auto& k : keys) {
            swprintf(field, 32, L"Adapter%lu.%ls", a, k.name);
            vnb.getValue(machine, L"DovnetWmi", field, k.out, k.chars);
        }
        wprintf(L"adapter %lu: AdapterStatus %ls, supported %ls\n", a, status, supported);
        const wchar_t *value = values, *staged = pending;
        unsigned long mask = wcstoul(supported, nullptr, 0);
        for (unsigned i = 0; i < 8; ++i) {
            size_t v = wcscspn(value, L","), p = wcscspn(staged, L",");
            wprintf(L"  %-26ls %-13ls value %-4.*ls pending %.*ls\n", properties[i],
                    (mask & (1u << i)) ? L"supported" : L"not supported", static_cast<int>(v), value,
                    p ? static_cast<int>(p) : 1, p ? staged : L"-");
            value += v + (value[v] ? 1 : 0);
            staged += p + (staged[p] ? 1 : 0);
        }
    }
    return 0;
}
}  // namespace

FARPROC VnbProc(const char* name) {
    CZORACfg cfg;
    wchar_t path[MAX_PATH];
    HMODULE module = nullptr;
    if (cfg.GetDllPath(path, MAX_PATH) && wcslen(path) + 1 + wcslen(ZORA_VNB_MODULE) < MAX_PATH) {
        wcscat(path, L"\\" ZORA_VNB_MODULE);
        module = LoadLibraryW(path);
    }
    FARPROC proc = module ? GetProcAddress(module, name) : nullptr;
    if (!proc) wprintf(L"the virtual notebook module %ls is not installed beside ZORADLL\n", ZORA_VNB_MODULE);
    return proc;
}

int SleepAndResume(VnbModule& vnb, const wchar_t* machine, int argc, wchar_t** argv) {
    VnbPower power{};
    if (!vnb.getPower(machine, &power)) return 1;
    if (argc == 1 && (wcscmp(argv[0], L"ac") == 0 || wcscmp(argv[0], L"battery") == 0))
        power.acLineStatus = wcscmp(argv[0], L"ac") == 0 ? 1 : 0;
    else if (argc != 0)
        return 2;
    if (!vnb.sleep(machine) || !vnb.setPower(machine, &power)) return 1;
    wprintf(L"slept and resumed on %ls\n", power.acLineStatus ? L"mains" : L"battery");
    wchar_t event[] = L"resume";
    wchar_t* eventArgs[] = {event};
    return SendEvent(1, eventArgs);
}

int VnbCommand(int argc, wchar_t** argv) {
    if (argc < 1) return 2;
    if (wcscmp(argv[0], L"off") == 0) {
        if (!SetMachineValues(nullptr)) return 1;
        wprintf(L"virtual notebook off\n");
        return 0;
    }
    VnbModule vnb;
    if (!vnb.Load()) {
        return 1;
    }
    if (wcscmp(argv[0], L"on") == 0) return On(vnb, argc - 1, argv + 1);

    wchar_t machine[MAX_PATH];
    if (!vnb.configured(machine, MAX_PATH)) {
        wprintf(L"the virtual notebook is off (zoractl vnb on)\n");
        return 1;
    }
    if (wcscmp(argv[0], L"reset") == 0 && argc == 1) return vnb.createDefault(machine) ? 0 : 1;
    if (wcscmp(argv[0], L"devices") == 0 && argc == 1) return Devices(vnb, machine);
    if (wcscmp(argv[0], L"power") == 0 && argc <= 3) return Power(vnb, machine, argc - 1, argv + 1);
    if (wcscmp(argv[0], L"battery") == 0) return Battery(vnb, machine, argc - 1, argv + 1);
    if (wcscmp(argv[0], L"sleep") == 0) return SleepAndResume(vnb, machine, argc - 1, argv + 1);
    if (wcscmp(argv[0], L"lan") == 0 && argc == 1) return Lan(vnb, machine);
    unsigned long status = 0, problem = 0;
    if (wcscmp(argv[0], L"set-device") == 0 && argc == 4 && ParseNumber(argv[2], &status) &&
        ParseNumber(argv[3], &problem))
        return vnb.setDeviceState(machine, argv[1], status, problem) ? 0 : 1;
    if (wcscmp(argv[0], L"present") == 0 && argc == 3 && ParseNumber(argv[2], &status))
        return vnb.setDevicePresent(machine, argv[1], status != 0) ? 0 : 1;
    return 2;
}
