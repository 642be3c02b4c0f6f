// zoractl's device and service-event commands.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "DevMgr.h"
#include "SchemeEx.h"
#include "WinHandles.h"
#include "ZORACfg.h"
#include "ZoraVnb.h"
#include "ZoractlCommands.h"

namespace {
constexpr wchar_t kServiceName[] = L"ZORASrvc";

const wchar_t* StateWord(long hr, unsigned long status, unsigned long problem) {
    if (hr != S_OK) return L"not present";
    if (problem == 22) return L"disabled";
    if (problem) return L"problem";
    return (status & 0x8) ? L"started" : L"stopped";
}

// Sends a control to the running service; 0 when it was delivered.
int SendControl(DWORD control) {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        wprintf(L"cannot open the service manager (%lu)\n", GetLastError());
        return 1;
    }
    UniqueServiceHandle service(
        OpenServiceW(manager.get(), kServiceName, SERVICE_USER_DEFINED_CONTROL | SERVICE_QUERY_STATUS));
    if (!service) {
        wprintf(L"service %ls is not installed (%lu)\n", kServiceName, GetLastError());
        return 1;
    }
    SERVICE_STATUS status{};
    if (!ControlService(service.get(), control, &status)) {
        wprintf(L"control %lu not delivered to %ls (%lu)\n", control, kServiceName, GetLastError());
        return 1;
    }
    wprintf(L"control %lu delivered to %ls\n", control, kServiceName);
    return 0;
}
}  // namespace

int ListDevices(int argc, wchar_t**) {
    if (argc != 0) return 2;
    // Without a class to list, "0 devices" would read as a machine without devices.
    CZORACfg cfg;
    if (!cfg.Initialize(L"ZORACfg.ini") || cfg.GetInt(L"DevGUIDs", L"Num", 0) <= 0) {
        wprintf(L"ZORACfg.ini names no device class ([DevGUIDs] Num): there is nothing to list\n");
        return 1;
    }
    CDevMgr manager;
    if (FAILED(manager.Setup())) {
        wprintf(L"the device list could not be built\n");
        return 1;
    }
    long count = manager.GetDeviceCount();
    wprintf(L"%ld devices\n", count);
    for (long i = 0; i < count; ++i) {
        wchar_t id[260] = L"", desc[260] = L"", name[260] = L"";
        unsigned long status = 0, problem = 0;
        manager.GetInstID(static_cast<unsigned long>(i), id, 260);
        manager.GetDesc(static_cast<unsigned long>(i), desc, sizeof(desc));
        if (manager.GetName(static_cast<unsigned long>(i), name, sizeof(name)) != S_OK) name[0] = L'\0';
        long hr = manager.GetDeviceStatus(static_cast<unsigned long>(i), &status, &problem);
        wprintf(L"%3ld  %-11ls status=0x%04lX problem=%-2lu  %ls%ls%ls%ls  [%ls]\n", i, StateWord(hr, status, problem),
                status, problem, desc, name[0] ? L" (" : L"", name, name[0] ? L")" : L"", id);
    }
    return 0;
}

namespace {
// A device that a scheme variable switches, by that variable's name: its state now, or
// switched. Radios read 1 for on; hub functions and USB ports 1 for off.
int DeviceByName(int argc, wchar_t** argv) {
    bool set = wcscmp(argv[0], L"set") == 0;
    unsigned long value = 0;
    if (argc != (set ? 3 : 2) || (set && (!ParseNumber(argv[2], &value) || value > 1))) return 2;
    CSchemeEx scheme;
    const wchar_t* name = argv[1];
    int status = -1;
    int result = set ? scheme.SetDeviceStatus(name, static_cast<int>(value)) : scheme.GetDeviceStatus(name, &status);
    if (result == -1) {
        wprintf(L"%ls: unknown, or the hardware cannot be reached\n", name);
        return 1;
    }
    if (set) {
        wprintf(L"%ls set to %lu\n", name, value);
    } else if (status == -1) {
        wprintf(L"%ls is not a device\n", name);
    } else {
        wprintf(L"%ls=%d\n", name, status);
    }
    return 0;
}
}  // namespace

int SwitchDevice(int argc, wchar_t** argv) {
    if (argc >= 1 && (wcscmp(argv[0], L"get") == 0 || wcscmp(argv[0], L"set") == 0)) return DeviceByName(argc, argv);
    unsigned long index = 0;
    if (argc != 2 || !ParseNumber(argv[1], &index)) return 2;
    CDevMgr::ZoraDeviceAction action;
    if (wcscmp(argv[0], L"enable") == 0)
        action = CDevMgr::Enable;
    else if (wcscmp(argv[0], L"disable") == 0)
        action = CDevMgr::Disable;
    else
        return 2;
    CDevMgr manager;
    if (FAILED(manager.Setup())) {
        wprintf(L"the device list could not be built\n");
        return 1;
    }
    if (static_cast<long>(index) >= manager.GetDeviceCount()) {
        wprintf(L"no device %lu: the list has %ld\n", index, manager.GetDeviceCount());
        return 1;
    }
    wchar_t id[260] = L"";
    manager.GetInstID(index, id, 260);
    long hr = manager.ChangeState(index, action);
    wprintf(L"%ls %ls: result 0x%08lX\n", argv[0], id, static_cast<unsigned long>(hr));
    return hr == S_OK ? 0 : 1;
}

int SendEvent(int argc, wchar_t** argv) {
    if (argc != 1) return 2;
    if (wcscmp(argv[0], L"power") == 0) return SendControl(kVnbControlPowerBase + PBT_APMPOWERSTATUSCHANGE);
    if (wcscmp(argv[0], L"logon") == 0) return SendControl(kVnbControlSessionBase + WTS_SESSION_LOGON);
    if (wcscmp(argv[0], L"connect") == 0) return SendControl(kVnbControlSessionBase + WTS_CONSOLE_CONNECT);
    if (wcscmp(argv[0], L"resume") == 0) return SendControl(kVnbControlResume);
    return 2;
}
