// Helper program for the virtual notebook's multi-process tests: switches devices
// through the library's system-API table, as the device manager does. One verb per run:
//   switch INSTANCE_ID ACTION   one switch (1 enable, 2 disable)
//   flip INSTANCE_ID COUNT      COUNT switches, disable first, then enable, and so on
//   status INSTANCE_ID          the node's status and problem number
// Output lines are "name=value"; the exit code is 0 on success.
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include <cstdio>
#include <cwchar>

#include "ZoraSystemApi.h"

namespace {

// Set params, change state, call the class installer: the library's sequence.
DWORD Switch(const wchar_t* instanceId, DWORD action) {
    ZoraSystemApi* sys = ZoraSys();
    HDEVINFO set = sys->SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) return GetLastError();
    DWORD error = ERROR_SUCCESS;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    SP_PROPCHANGE_PARAMS params{};
    params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    params.StateChange = action;
    params.Scope = DICS_FLAG_GLOBAL;
    if (!sys->SetupDiOpenDeviceInfoW(set, instanceId, nullptr, 0, &device) ||
        !sys->SetupDiSetClassInstallParamsW(set, &device, &params.ClassInstallHeader, sizeof(params))) {
        error = GetLastError();
    } else {
        sys->SetupDiChangeState(set, &device);
        if (!sys->SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &device)) error = GetLastError();
    }
    sys->SetupDiDestroyDeviceInfoList(set);
    return error;
}

int SwitchVerb(const wchar_t* instanceId, const wchar_t* action) {
    DWORD error = Switch(instanceId, wcstoul(action, nullptr, 10));
    wprintf(L"error=0x%lx\n", error);
    return error == ERROR_SUCCESS ? 0 : 1;
}

int Flip(const wchar_t* instanceId, const wchar_t* countText) {
    int count = _wtoi(countText), failures = 0;
    for (int i = 0; i < count; ++i) {
        DWORD error = Switch(instanceId, i % 2 == 0 ? DICS_DISABLE : DICS_ENABLE);
        if (error != ERROR_SUCCESS) {
            wprintf(L"failed=%d error=0x%lx\n", i, error);
            ++failures;
        }
    }
    wprintf(L"failures=%d\n", failures);
    return failures ? 1 : 0;
}

int Status(const wchar_t* instanceId) {
    ZoraSystemApi* sys = ZoraSys();
    DEVINST node = 0;
    ULONG status = 0, problem = 0;
    CONFIGRET cr = sys->CM_Locate_DevNodeW(&node, const_cast<DEVINSTID_W>(instanceId), CM_LOCATE_DEVNODE_NORMAL);
    if (cr == CR_SUCCESS) cr = sys->CM_Get_DevNode_Status_Ex(&status, &problem, node, 0, nullptr);
    wprintf(L"cr=%lu\nstatus=0x%08lx\nproblem=%lu\n", cr, status, problem);
    return cr == CR_SUCCESS ? 0 : 1;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && wcscmp(argv[1], L"switch") == 0) return SwitchVerb(argv[2], argv[3]);
    if (argc == 4 && wcscmp(argv[1], L"flip") == 0) return Flip(argv[2], argv[3]);
    if (argc == 3 && wcscmp(argv[1], L"status") == 0) return Status(argv[2]);
    fwprintf(stderr, L"usage: vnb_peer switch ID ACTION | flip ID COUNT | status ID\n");
    return 2;
}
