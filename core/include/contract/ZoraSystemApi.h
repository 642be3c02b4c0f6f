#pragma once
// The library's one seam to the machine: every call that reaches hardware, the
// device tree or the power policy goes through this table. Each entry has the exact
// signature of the system function it stands for and defaults to that function.
//
// A machine provider may replace entries at start-up. It is named by configuration:
// the string value "VirtualNotebook" under HKLM\Software\Korvex\ZORA (64-bit view)
// holds the machine file; the provider module "ZoraVnb.dll", found beside ZORADLL,
// then receives the table through its export "VnbAttach" (ZoraVnbAttachFn).
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include "ZoraExport.h"

struct ZoraSystemApi {
    DWORD cbSize;  // sizeof(ZoraSystemApi) of the library that filled it

    // Power status.
    BOOL(WINAPI* GetSystemPowerStatus)(LPSYSTEM_POWER_STATUS status);

    // Device installation (SetupAPI).
    HDEVINFO(WINAPI* SetupDiCreateDeviceInfoList)(const GUID* classGuid, HWND parent);
    HDEVINFO(WINAPI* SetupDiGetClassDevsW)(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags);
    BOOL(WINAPI* SetupDiEnumDeviceInfo)(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data);
    BOOL(WINAPI* SetupDiGetDeviceInstanceIdW)(HDEVINFO set, PSP_DEVINFO_DATA data, PWSTR id, DWORD idSize,
                                              PDWORD required);
    BOOL(WINAPI* SetupDiOpenDeviceInfoW)(HDEVINFO set, PCWSTR instanceId, HWND parent, DWORD flags,
                                         PSP_DEVINFO_DATA data);
    BOOL(WINAPI* SetupDiGetDeviceRegistryPropertyW)(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property,
                                                    PDWORD type, PBYTE buffer, DWORD size, PDWORD required);
    BOOL(WINAPI* SetupDiGetDeviceInfoListDetailW)(HDEVINFO set, PSP_DEVINFO_LIST_DETAIL_DATA_W detail);
    BOOL(WINAPI* SetupDiSetClassInstallParamsW)(HDEVINFO set, PSP_DEVINFO_DATA data,
                                                PSP_CLASSINSTALL_HEADER params, DWORD size);
    BOOL(WINAPI* SetupDiChangeState)(HDEVINFO set, PSP_DEVINFO_DATA data);
    BOOL(WINAPI* SetupDiCallClassInstaller)(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data);
    BOOL(WINAPI* SetupDiDestroyDeviceInfoList)(HDEVINFO set);

    // Configuration manager.
    CONFIGRET(WINAPI* CM_Get_DevNode_Status_Ex)(PULONG status, PULONG problem, DEVINST node, ULONG flags,
                                                HMACHINE machine);
    CONFIGRET(WINAPI* CM_Locate_DevNodeW)(PDEVINST node, DEVINSTID_W id, ULONG flags);
    CONFIGRET(WINAPI* CM_Get_Child)(PDEVINST child, DEVINST node, ULONG flags);
    CONFIGRET(WINAPI* CM_Get_Sibling)(PDEVINST sibling, DEVINST node, ULONG flags);
    CONFIGRET(WINAPI* CM_Get_Parent)(PDEVINST parent, DEVINST node, ULONG flags);
    CONFIGRET(WINAPI* CM_Get_DevNode_Registry_PropertyW)(DEVINST node, ULONG property, PULONG type, PVOID buffer,
                                                         PULONG length, ULONG flags);
    CONFIGRET(WINAPI* CM_Get_Device_ID_Size)(PULONG length, DEVINST node, ULONG flags);
    CONFIGRET(WINAPI* CM_Get_Device_IDW)(DEVINST node, PWSTR buffer, ULONG length, ULONG flags);

    // Device objects: the driver "\\.\\zoraebl", USB host controllers and root hubs.
    // Handles that CreateFileW gives for a device path go back to the same table's
    // DeviceIoControl and CloseHandle.
    HANDLE(WINAPI* CreateFileW)(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE templateFile);
    BOOL(WINAPI* DeviceIoControl)(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                  LPDWORD returned, LPOVERLAPPED overlapped);
    BOOL(WINAPI* CloseHandle)(HANDLE handle);

    // The processor's identification: CPUID with the leaf in EAX; registers EAX, EBX,
    // ECX, EDX into regs.
    void(WINAPI* Cpuid)(int regs[4], int leaf);

    // Service controls that stand for a system notification the platform cannot send
    // (a power-source change, a session logon). Fills the control, event type and
    // event data the system would have delivered and returns TRUE; the default, the
    // real machine, translates nothing and returns FALSE.
    BOOL(WINAPI* TranslateServiceControl)(DWORD control, DWORD* systemControl, DWORD* eventType,
                                          void* eventData, DWORD eventDataSize);
};

// The process's table, filled on first use (defaults, then the configured provider).
ZORADLL_API ZoraSystemApi* ZoraSys();

// Export of a machine provider: replaces entries of the table and returns TRUE, or
// leaves it untouched and returns FALSE.
typedef BOOL(WINAPI* ZoraVnbAttachFn)(ZoraSystemApi* table, const wchar_t* machineFile);
