#pragma once
// The virtual notebook's entries of the system-API table, with the signatures of the
// system functions they stand for. They answer from the attached machine file.
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include <string>

#include "MachineFile.h"

namespace vnb {

BOOL WINAPI GetSystemPowerStatus(LPSYSTEM_POWER_STATUS status);
BOOL WINAPI TranslateServiceControl(DWORD control, DWORD* systemControl, DWORD* eventType, void* eventData,
                                    DWORD eventDataSize);

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* classGuid, HWND parent);
HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags);
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data);
BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO set, PSP_DEVINFO_DATA data, PWSTR id, DWORD idSize,
                                        PDWORD required);
BOOL WINAPI SetupDiOpenDeviceInfoW(HDEVINFO set, PCWSTR instanceId, HWND parent, DWORD flags, PSP_DEVINFO_DATA data);
BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, PDWORD type,
                                              PBYTE buffer, DWORD size, PDWORD required);
BOOL WINAPI SetupDiGetDeviceInfoListDetailW(HDEVINFO set, PSP_DEVINFO_LIST_DETAIL_DATA_W detail);
BOOL WINAPI SetupDiSetClassInstallParamsW(HDEVINFO set, PSP_DEVINFO_DATA data, PSP_CLASSINSTALL_HEADER params,
                                          DWORD size);
BOOL WINAPI SetupDiChangeState(HDEVINFO set, PSP_DEVINFO_DATA data);
BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data);
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set);

CONFIGRET WINAPI CM_Get_DevNode_Status_Ex(PULONG status, PULONG problem, DEVINST node, ULONG flags, HMACHINE machine);
CONFIGRET WINAPI CM_Locate_DevNodeW(PDEVINST node, DEVINSTID_W id, ULONG flags);
CONFIGRET WINAPI CM_Get_Child(PDEVINST child, DEVINST node, ULONG flags);
CONFIGRET WINAPI CM_Get_Sibling(PDEVINST sibling, DEVINST node, ULONG flags);
CONFIGRET WINAPI CM_Get_Parent(PDEVINST parent, DEVINST node, ULONG flags);
CONFIGRET WINAPI CM_Get_DevNode_Registry_PropertyW(DEVINST node, ULONG property, PULONG type, PVOID buffer,
                                                   PULONG length, ULONG flags);
CONFIGRET WINAPI CM_Get_Device_ID_Size(PULONG length, DEVINST node, ULONG flags);
CONFIGRET WINAPI CM_Get_Device_IDW(DEVINST node, PWSTR buffer, ULONG length, ULONG flags);

// A node's DEVINST: its position in the machine file, counted from 1 (the root).
inline DEVINST DevInstOf(int index) { return static_cast<DEVINST>(index + 1); }
inline int IndexOf(DEVINST node) { return static_cast<int>(node) - 1; }

// A device registry property (SPDRP_* code) of a node as REG_SZ text; false when the
// node has no such value.
bool NodeProperty(const Node& node, DWORD property, std::wstring* value);

}  // namespace vnb
