#pragma once
// The system functions behind the library's seam, one line each. The table's members
// (ZoraSystemApi.h), the library's defaults (core/system/ZoraSystemApi.cpp) and the
// virtual notebook's entries (sim/) are all generated from this list:
//
//   X(result, Name, (parameters), default, provider)
//
//   result, Name, (parameters)  the system function's exact signature (called WINAPI);
//                               Name is also the table member's name.
//   default    where the library's default comes from, evaluated in ZoraSystemApi.cpp:
//              ::Name          the function the library links against;
//              ByName(L"x.dll") the export Name of that system DLL, found at run time.
//                              When the DLL or the export is missing, the entry is a
//                              function that fails as a missing system function does:
//                              ERROR_CALL_NOT_IMPLEMENTED returned (DWORD results) or
//                              FALSE (BOOL, BOOLEAN), with that last error either way;
//              anything else   a function of the library's own (ZoraSystemApi.cpp).
//   provider   VNB: the virtual notebook answers it (vnb::Name, declared in sim/Entries.h);
//              REAL: the real default stays in place when the virtual notebook is attached.
//
// Entries are in table order; a new one goes at the end of the list.
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <powrprof.h>

// clang-format off
#define ZORA_SYSTEM_ENTRIES(X)                                                                                        \
    /* Power status. */                                                                                               \
    X(BOOL, GetSystemPowerStatus, (LPSYSTEM_POWER_STATUS status), ::GetSystemPowerStatus, VNB)                        \
                                                                                                                      \
    /* Device installation (SetupAPI). */                                                                             \
    X(HDEVINFO, SetupDiCreateDeviceInfoList, (const GUID* classGuid, HWND parent),                                    \
      ::SetupDiCreateDeviceInfoList, VNB)                                                                             \
    X(HDEVINFO, SetupDiGetClassDevsW, (const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags),           \
      ::SetupDiGetClassDevsW, VNB)                                                                                    \
    X(BOOL, SetupDiEnumDeviceInfo, (HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data), ::SetupDiEnumDeviceInfo, VNB)  \
    X(BOOL, SetupDiGetDeviceInstanceIdW,                                                                              \
      (HDEVINFO set, PSP_DEVINFO_DATA data, PWSTR id, DWORD idSize, PDWORD required),                                 \
      ::SetupDiGetDeviceInstanceIdW, VNB)                                                                             \
    X(BOOL, SetupDiOpenDeviceInfoW,                                                                                   \
      (HDEVINFO set, PCWSTR instanceId, HWND parent, DWORD flags, PSP_DEVINFO_DATA data),                             \
      ::SetupDiOpenDeviceInfoW, VNB)                                                                                  \
    X(BOOL, SetupDiGetDeviceRegistryPropertyW,                                                                        \
      (HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, PDWORD type, PBYTE buffer, DWORD size, PDWORD required),  \
      ::SetupDiGetDeviceRegistryPropertyW, VNB)                                                                       \
    X(BOOL, SetupDiGetDeviceInfoListDetailW, (HDEVINFO set, PSP_DEVINFO_LIST_DETAIL_DATA_W detail),                   \
      ::SetupDiGetDeviceInfoListDetailW, VNB)                                                                         \
    X(BOOL, SetupDiSetClassInstallParamsW,                                                                            \
      (HDEVINFO set, PSP_DEVINFO_DATA data, PSP_CLASSINSTALL_HEADER params, DWORD size),                              \
      ::SetupDiSetClassInstallParamsW, VNB)                                                                           \
    X(BOOL, SetupDiChangeState, (HDEVINFO set, PSP_DEVINFO_DATA data), ::SetupDiChangeState, VNB)                     \
    X(BOOL, SetupDiCallClassInstaller, (DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data),                   \
      ::SetupDiCallClassInstaller, VNB)                                                                               \
    X(BOOL, SetupDiDestroyDeviceInfoList, (HDEVINFO set), ::SetupDiDestroyDeviceInfoList, VNB)                        \
                                                                                                                      \
    /* Configuration manager. */                                                                                      \
    X(CONFIGRET, CM_Get_DevNode_Status_Ex,                                                                            \
      (PULONG status, PULONG problem, DEVINST node, ULONG flags, HMACHINE machine), ::CM_Get_DevNode_Status_Ex, VNB)  \
    X(CONFIGRET, CM_Locate_DevNodeW, (PDEVINST node, DEVINSTID_W id, ULONG flags), ::CM_Locate_DevNodeW, VNB)         \
    X(CONFIGRET, CM_Get_Child, (PDEVINST child, DEVINST node, ULONG flags), ::CM_Get_Child, VNB)                      \
    X(CONFIGRET, CM_Get_Sibling, (PDEVINST sibling, DEVINST node, ULONG flags), ::CM_Get_Sibling, VNB)                \
    X(CONFIGRET, CM_Get_Parent, (PDEVINST parent, DEVINST node, ULONG flags), ::CM_Get_Parent, VNB)                   \
    X(CONFIGRET, CM_Get_DevNode_Registry_PropertyW,                                                                   \
      (DEVINST node, ULONG property, PULONG type, PVOID buffer, PULONG length, ULONG flags),                          \
      ::CM_Get_DevNode_Registry_PropertyW, VNB)                                                                       \
    X(CONFIGRET, CM_Get_Device_ID_Size, (PULONG length, DEVINST node, ULONG flags), ::CM_Get_Device_ID_Size, VNB)     \
    X(CONFIGRET, CM_Get_Device_IDW, (DEVINST node, PWSTR buffer, ULONG length, ULONG flags), ::CM_Get_Device_IDW, VNB)\
                                                                                                                      \
    /* Device objects: the driver "\\.\zoraebl", USB host controllers, root hubs, batteries. Handles */               \
    /* that CreateFileW gives for a device path go back to the same table's DeviceIoControl    */                    \
    /* and CloseHandle.                                                                         */                    \
    X(HANDLE, CreateFileW,                                                                                            \
      (LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,       \
       HANDLE templateFile),                                                                                          \
      ::CreateFileW, VNB)                                                                                             \
    X(BOOL, DeviceIoControl,                                                                                          \
      (HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,               \
       LPOVERLAPPED overlapped),                                                                                      \
      ::DeviceIoControl, VNB)                                                                                         \
    X(BOOL, CloseHandle, (HANDLE handle), ::CloseHandle, VNB)                                                         \
                                                                                                                      \
    /* The processor's identification: CPUID with the leaf in EAX; EAX, EBX, ECX, EDX into regs. */                   \
    X(void, Cpuid, (int regs[4], int leaf), RealCpuid, VNB)                                                           \
                                                                                                                      \
    /* Power information (its result is an NTSTATUS). */                                                              \
    X(LONG, CallNtPowerInformation,                                                                                   \
      (POWER_INFORMATION_LEVEL informationLevel, PVOID inputBuffer, ULONG inputBufferLength, PVOID outputBuffer,      \
       ULONG outputBufferLength),                                                                                     \
      ::CallNtPowerInformation, VNB)                                                                                  \
                                                                                                                      \
    /* The power-profile functions of Windows XP: linked, as every PowrProf.dll since XP     */                       \
    /* exports them (mingw's import library and Wine's stubs have all nine); the virtual     */                       \
    /* notebook keeps their schemes in XP's own registry keys (sim/scheme/).                 */                       \
    X(BOOLEAN, ReadPwrScheme, (UINT id, PPOWER_POLICY powerPolicy), ::ReadPwrScheme, VNB)                             \
    X(BOOLEAN, WritePwrScheme, (PUINT id, LPWSTR schemeName, LPWSTR description, PPOWER_POLICY scheme),               \
      ::WritePwrScheme, VNB)                                                                                          \
    X(BOOLEAN, ReadProcessorPwrScheme, (UINT id, PMACHINE_PROCESSOR_POWER_POLICY machineProcessorPowerPolicy),        \
      ::ReadProcessorPwrScheme, VNB)                                                                                  \
    X(BOOLEAN, WriteProcessorPwrScheme, (UINT id, PMACHINE_PROCESSOR_POWER_POLICY machineProcessorPowerPolicy),       \
      ::WriteProcessorPwrScheme, VNB)                                                                                 \
    X(BOOLEAN, EnumPwrSchemes, (PWRSCHEMESENUMPROC callback, LPARAM param), ::EnumPwrSchemes, VNB)                    \
    X(BOOLEAN, GetActivePwrScheme, (PUINT id), ::GetActivePwrScheme, VNB)                                             \
    X(BOOLEAN, SetActivePwrScheme, (UINT id, PGLOBAL_POWER_POLICY globalPowerPolicy, PPOWER_POLICY powerPolicy),      \
      ::SetActivePwrScheme, VNB)                                                                                      \
    X(BOOLEAN, DeletePwrScheme, (UINT id), ::DeletePwrScheme, VNB)                                                    \
    X(BOOLEAN, IsPwrHibernateAllowed, (), ::IsPwrHibernateAllowed, VNB)                                               \
                                                                                                                      \
    /* The power-policy functions of Windows Vista: not there on XP, so found by name; the */                         \
    /* virtual notebook answers them from its power-policy store (sim/scheme/).            */                         \
    X(DWORD, PowerEnumerate,                                                                                          \
      (HKEY rootPowerKey, const GUID* schemeGuid, const GUID* subGroupOfPowerSettingsGuid,                            \
       POWER_DATA_ACCESSOR accessFlags, ULONG index, UCHAR* buffer, DWORD* bufferSize),                               \
      ByName(L"PowrProf.dll"), VNB)                                                                                   \
    X(DWORD, PowerDeleteScheme, (HKEY rootPowerKey, const GUID* schemeGuid), ByName(L"PowrProf.dll"), VNB)            \
    X(DWORD, PowerDuplicateScheme, (HKEY rootPowerKey, const GUID* sourceSchemeGuid, GUID** destinationSchemeGuid),   \
      ByName(L"PowrProf.dll"), VNB)                                                                                   \
    X(DWORD, PowerWriteFriendlyName,                                                                                  \
      (HKEY rootPowerKey, const GUID* schemeGuid, const GUID* subGroupOfPowerSettingsGuid,                            \
       const GUID* powerSettingGuid, UCHAR* buffer, DWORD bufferSize),                                                \
      ByName(L"PowrProf.dll"), VNB)                                                                                   \
    X(DWORD, PowerWriteDescription,                                                                                   \
      (HKEY rootPowerKey, const GUID* schemeGuid, const GUID* subGroupOfPowerSettingsGuid,                            \
       const GUID* powerSettingGuid, UCHAR* buffer, DWORD bufferSize),                                                \
      ByName(L"PowrProf.dll"), VNB)                                                                                   \
    X(DWORD, PowerWriteACValueIndex,                                                                                  \
      (HKEY rootPowerKey, const GUID* schemeGuid, const GUID* subGroupOfPowerSettingsGuid,                            \
       const GUID* powerSettingGuid, DWORD acValueIndex),                                                             \
      ByName(L"PowrProf.dll"), VNB)                                                                                   \
    X(DWORD, PowerReadACValueIndex,                                                                                   \
      (HKEY rootPowerKey, const GUID* schemeGuid, const GUID* subGroupOfPowerSettingsGuid,                            \
       const GUID* powerSettingGuid, LPDWORD acValueIndex),                                                           \
      ByName(L"PowrProf.dll"), VNB)                                                                                   \
    X(DWORD, PowerWriteDCValueIndex,                                                                                  \
      (HKEY rootPowerKey, const GUID* schemeGuid, const GUID* subGroupOfPowerSettingsGuid,                            \
       const GUID* powerSettingGuid, DWORD dcValueIndex),                                                             \
      ByName(L"PowrProf.dll"), VNB)                                                                                   \
    X(DWORD, PowerReadDCValueIndex,                                                                                   \
      (HKEY rootPowerKey, const GUID* schemeGuid, const GUID* subGroupOfPowerSettingsGuid,                            \
       const GUID* powerSettingGuid, LPDWORD dcValueIndex),                                                           \
      ByName(L"PowrProf.dll"), VNB)                                                                                   \
    X(DWORD, PowerReadDescription,                                                                                    \
      (HKEY rootPowerKey, const GUID* schemeGuid, const GUID* subGroupOfPowerSettingsGuid,                            \
       const GUID* powerSettingGuid, PUCHAR buffer, LPDWORD bufferSize),                                              \
      ByName(L"PowrProf.dll"), VNB)                                                                                   \
    X(DWORD, PowerReadFriendlyName,                                                                                   \
      (HKEY rootPowerKey, const GUID* schemeGuid, const GUID* subGroupOfPowerSettingsGuid,                            \
       const GUID* powerSettingGuid, PUCHAR buffer, LPDWORD bufferSize),                                              \
      ByName(L"PowrProf.dll"), VNB)                                                                                   \
    X(DWORD, PowerSetActiveScheme, (HKEY userRootPowerKey, const GUID* schemeGuid), ByName(L"PowrProf.dll"), VNB)     \
    X(DWORD, PowerGetActiveScheme, (HKEY userRootPowerKey, GUID** activePolicyGuid), ByName(L"PowrProf.dll"), VNB)   \
                                                                                                                      \
    /* A setup class's registry key: the network adapters' driver keys (sim/agents/). */                            \
    X(HKEY, SetupDiOpenClassRegKeyExW,                                                                                \
      (const GUID* classGuid, REGSAM access, DWORD flags, PCWSTR machineName, PVOID reserved),                        \
      ::SetupDiOpenClassRegKeyExW, VNB)                                                                               \
    /* Device interfaces (SetupAPI): the battery-class interfaces and their device paths. */                        \
    X(BOOL, SetupDiEnumDeviceInterfaces,                                                                              \
      (HDEVINFO set, PSP_DEVINFO_DATA data, const GUID* interfaceClass, DWORD index,                                  \
       PSP_DEVICE_INTERFACE_DATA interfaceData),                                                                      \
      ::SetupDiEnumDeviceInterfaces, VNB)                                                                             \
    X(BOOL, SetupDiGetDeviceInterfaceDetailW,                                                                         \
      (HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData, PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,              \
       DWORD detailSize, PDWORD required, PSP_DEVINFO_DATA data),                                                     \
      ::SetupDiGetDeviceInterfaceDetailW, VNB)
// clang-format on
