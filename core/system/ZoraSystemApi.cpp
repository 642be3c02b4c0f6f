#include "ZoraSystemApi.h"

#include <intrin.h>

#include <cwchar>

#include "ZORACfg.h"

namespace {
constexpr wchar_t kInstallKey[] = L"Software\\Korvex\\ZORA";
constexpr wchar_t kProviderValue[] = L"VirtualNotebook";
constexpr wchar_t kProviderModule[] = L"ZoraVnb.dll";

void WINAPI RealCpuid(int regs[4], int leaf) { __cpuid(regs, leaf); }

BOOL WINAPI TranslateNothing(DWORD, DWORD*, DWORD*, void*, DWORD) { return FALSE; }

ZoraSystemApi g_table;
INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;

void FillDefaults(ZoraSystemApi* t) {
    t->cbSize = sizeof(ZoraSystemApi);
    t->GetSystemPowerStatus = ::GetSystemPowerStatus;
    t->SetupDiCreateDeviceInfoList = ::SetupDiCreateDeviceInfoList;
    t->SetupDiGetClassDevsW = ::SetupDiGetClassDevsW;
    t->SetupDiEnumDeviceInfo = ::SetupDiEnumDeviceInfo;
    t->SetupDiGetDeviceInstanceIdW = ::SetupDiGetDeviceInstanceIdW;
    t->SetupDiOpenDeviceInfoW = ::SetupDiOpenDeviceInfoW;
    t->SetupDiGetDeviceRegistryPropertyW = ::SetupDiGetDeviceRegistryPropertyW;
    t->SetupDiGetDeviceInfoListDetailW = ::SetupDiGetDeviceInfoListDetailW;
    t->SetupDiSetClassInstallParamsW = ::SetupDiSetClassInstallParamsW;
    t->SetupDiChangeState = ::SetupDiChangeState;
    t->SetupDiCallClassInstaller = ::SetupDiCallClassInstaller;
    t->SetupDiDestroyDeviceInfoList = ::SetupDiDestroyDeviceInfoList;
    t->CM_Get_DevNode_Status_Ex = ::CM_Get_DevNode_Status_Ex;
    t->CM_Locate_DevNodeW = ::CM_Locate_DevNodeW;
    t->CM_Get_Child = ::CM_Get_Child;
    t->CM_Get_Sibling = ::CM_Get_Sibling;
    t->CM_Get_Parent = ::CM_Get_Parent;
    t->CM_Get_DevNode_Registry_PropertyW = ::CM_Get_DevNode_Registry_PropertyW;
    t->CM_Get_Device_ID_Size = ::CM_Get_Device_ID_Size;
    t->CM_Get_Device_IDW = ::CM_Get_Device_IDW;
    t->CreateFileW = ::CreateFileW;
    t->DeviceIoControl = ::DeviceIoControl;
    t->CloseHandle = ::CloseHandle;
    t->Cpuid = RealCpuid;
    t->TranslateServiceControl = TranslateNothing;
}

// The machine file named by the installation, or 0 when the real machine is used.
int ConfiguredMachine(wchar_t* path, DWORD chars) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return 0;
    DWORD type = 0, bytes = (chars - 1) * sizeof(wchar_t);
    LONG rc = RegQueryValueExW(key, kProviderValue, nullptr, &type, reinterpret_cast<BYTE*>(path), &bytes);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return 0;
    path[bytes / sizeof(wchar_t)] = L'\0';
    return path[0] != L'\0';
}

// Loads the provider beside the library and lets it take its entries. A provider
// that is configured but cannot be loaded leaves the real functions in place.
void AttachProvider(ZoraSystemApi* t) {
    wchar_t machine[MAX_PATH];
    if (!ConfiguredMachine(machine, MAX_PATH)) return;
    CZORACfg cfg;
    wchar_t module[MAX_PATH];
    if (!cfg.GetDllPath(module, MAX_PATH) || wcslen(module) + 1 + wcslen(kProviderModule) >= MAX_PATH) return;
    wcscat(module, L"\\");
    wcscat(module, kProviderModule);
    HMODULE provider = LoadLibraryW(module);
    if (!provider) return;
    auto attach = reinterpret_cast<ZoraVnbAttachFn>(reinterpret_cast<void*>(GetProcAddress(provider, "VnbAttach")));
    if (!attach || !attach(t, machine)) {
        FillDefaults(t);
        FreeLibrary(provider);
    }
    // An attached provider stays loaded for the life of the process.
}

BOOL CALLBACK Fill(PINIT_ONCE, PVOID, PVOID*) {
    FillDefaults(&g_table);
    AttachProvider(&g_table);
    return TRUE;
}
}  // namespace

ZoraSystemApi* ZoraSys() {
    InitOnceExecuteOnce(&g_once, Fill, nullptr, nullptr);
    return &g_table;
}
