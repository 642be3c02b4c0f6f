// zoractl hub: the I/O controller hub's functions, C-states and PCI device objects.
//   hub list                       every function of the hub with "on" or "off"
//   hub on NAME | hub off NAME     switches a function ("PCIE3", "HD Audio", ...)
//   hub cstate STATE               enters C-state STATE (2-4) through its level register
//   hub name BUS DEVICE FUNCTION   the driver's device-object name of a PCI function
//   hub renumber BUS DEVICE FUNCTION OBJECT
//                                  virtual notebook: re-enumerates the function under
//                                  "\Device\NTPNP_PCI<OBJECT>"
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "HwCPU.h"
#include "HwHubra.h"
#include "ZORACfg.h"
#include "ZoraVnb.h"
#include "ZoractlCommands.h"

namespace {

class Hub : public CHwHubra {
public:
    const wchar_t* Name() const { return m_szHubName; }
};

void Usage() {
    wprintf(L"usage: zoractl hub list | on NAME | off NAME | cstate STATE | name BUS DEVICE FUNCTION\n"
            L"       zoractl hub renumber BUS DEVICE FUNCTION OBJECT\n");
}

int Identified(Hub* hub) {
    long hr = hub->Setup(1);
    if (hr != 0 && hr != 1) {
        wprintf(L"the I/O hub cannot be identified (0x%08lx)\n", static_cast<unsigned long>(hr));
        return 0;
    }
    return 1;
}

int List() {
    Hub hub;
    if (!Identified(&hub)) return 1;
    CZORACfg cfg;
    if (!cfg.Initialize(L"HubraCfg.ini")) return 1;
    wchar_t section[300];
    _snwprintf(section, 300, L"%s Devices", hub.Name());
    section[299] = L'\0';
    int count = cfg.GetInt(section, L"DeviceNumbers", 0);
    wprintf(L"hub %ls\n", hub.Name());
    for (int i = 0; i < count; ++i) {
        wchar_t key[32], name[260];
        _snwprintf(key, 32, L"Name%d", i);
        key[31] = L'\0';
        cfg.GetString(section, key, L"", name, 260);
        int disabled = 0;
        long hr = hub.GetFunctionDisable(name, &disabled);
        if (hr == 0)
            wprintf(L"%-20ls %ls\n", name, disabled ? L"off" : L"on");
        else
            wprintf(L"%-20ls error 0x%08lx\n", name, static_cast<unsigned long>(hr));
    }
    return 0;
}

int Switch(const wchar_t* name, int disable) {
    Hub hub;
    if (!Identified(&hub)) return 1;
    long hr = hub.FunctionDisable(name, disable);
    int disabled = -1;
    if (hr == 0) hr = hub.GetFunctionDisable(name, &disabled);
    if (hr != 0) {
        wprintf(L"%ls: failed (0x%08lx)\n", name, static_cast<unsigned long>(hr));
        return 1;
    }
    wprintf(L"%ls %ls\n", name, disabled ? L"off" : L"on");
    return 0;
}

int CState(unsigned long state) {
    CHwCPU cpu;
    long hr = cpu.Setup(0);
    if (hr == 0) hr = cpu.SetCState(static_cast<int>(state), 0);
    if (hr != 0) {
        wprintf(L"C%lu: failed (0x%08lx)\n", state, static_cast<unsigned long>(hr));
        return 1;
    }
    wprintf(L"C%lu entered\n", state);
    return 0;
}

int Name(unsigned long bus, unsigned long device, unsigned long function) {
    CHwIA ia;
    wchar_t name[64];
    if (ia.Setup() != 0 || ia.GetDeviceName(bus, device, function, name, 64) != 0) {
        wprintf(L"%02lx:%02lx.%lx: no device object\n", bus, device, function);
        return 1;
    }
    wprintf(L"%02lx:%02lx.%lx %ls\n", bus, device, function, name);
    return 0;
}

int Renumber(unsigned long bus, unsigned long device, unsigned long function, unsigned long object) {
    auto renumber = VnbExport<decltype(&::VnbRenumberPciDevice)>("VnbRenumberPciDevice");
    if (!renumber) return 1;
    if (!renumber(nullptr, bus, device, function, object)) {
        wprintf(L"renumbering failed (%lu)\n", GetLastError());
        return 1;
    }
    wprintf(L"%02lx:%02lx.%lx is now \\Device\\NTPNP_PCI%04lu\n", bus, device, function, object);
    return 0;
}

}  // namespace

int HubCommand(int argc, wchar_t** argv) {
    unsigned long n[4] = {};
    if (argc == 1 && wcscmp(argv[0], L"list") == 0) return List();
    if (argc == 2 && wcscmp(argv[0], L"on") == 0) return Switch(argv[1], 0);
    if (argc == 2 && wcscmp(argv[0], L"off") == 0) return Switch(argv[1], 1);
    if (argc == 2 && wcscmp(argv[0], L"cstate") == 0 && ParseNumber(argv[1], &n[0])) return CState(n[0]);
    if (argc == 4 && wcscmp(argv[0], L"name") == 0 && ParseNumber(argv[1], &n[0]) && ParseNumber(argv[2], &n[1]) &&
        ParseNumber(argv[3], &n[2]))
        return Name(n[0], n[1], n[2]);
    if (argc == 5 && wcscmp(argv[0], L"renumber") == 0 && ParseNumber(argv[1], &n[0]) &&
        ParseNumber(argv[2], &n[1]) && ParseNumber(argv[3], &n[2]) && ParseNumber(argv[4], &n[3]))
        return Renumber(n[0], n[1], n[2], n[3]);
    Usage();
    return 1;
}
