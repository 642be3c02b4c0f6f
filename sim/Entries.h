#pragma once
// The virtual notebook's entries of the system-API table: vnb::<Name> for every entry
// the list in ZoraSystemEntries.h marks VNB, with the signature of the system function
// it stands for. They answer from the attached machine file; VnbAttach puts them into
// the library's table. Where each is defined: the power status and the service-control
// translation in VnbApi.cpp, the device tree in devmgr/, the device objects and CPUID
// in Platform.cpp, the system battery state in agents/Batteries.cpp, the power functions of
// Windows XP and Vista in scheme/.
//
// Inside namespace vnb these names hide the system's: call the real function as
// ::Name there.
#include <windows.h>

#include <string>

#include "MachineFile.h"
#include "ZoraSystemEntries.h"

namespace vnb {

#define VNB_ENTRY_DECLARATION(result, name, parameters, from, provider) \
    VNB_ENTRY_DECLARATION_##provider(result, name, parameters)
#define VNB_ENTRY_DECLARATION_VNB(result, name, parameters) result WINAPI name parameters;
#define VNB_ENTRY_DECLARATION_REAL(result, name, parameters)
ZORA_SYSTEM_ENTRIES(VNB_ENTRY_DECLARATION)
#undef VNB_ENTRY_DECLARATION
#undef VNB_ENTRY_DECLARATION_VNB
#undef VNB_ENTRY_DECLARATION_REAL

// The table's entry that is no system function (ZoraSystemApi.h).
BOOL WINAPI TranslateServiceControl(DWORD control, DWORD* systemControl, DWORD* eventType, void* eventData,
                                    DWORD eventDataSize);

// A node's DEVINST: its position in the machine file, counted from 1 (the root).
inline DEVINST DevInstOf(int index) { return static_cast<DEVINST>(index + 1); }
inline int IndexOf(DEVINST node) { return static_cast<int>(node) - 1; }

// A device registry property (SPDRP_* code) of a node as REG_SZ text; false when the
// node has no such value.
bool NodeProperty(const Node& node, DWORD property, std::wstring* value);

}  // namespace vnb
