#pragma once
// The library's one seam to the machine: every call that reaches hardware, the
// device tree or the power policy goes through this table. Each entry has the exact
// signature of the system function it stands for and defaults to that function; the
// entries are listed once, in ZoraSystemEntries.h.
//
// A machine provider may replace entries at start-up. It is named by configuration,
// under the installation key (ZoraInstallKey.h, 64-bit view): the value
// "VirtualNotebook" holds the machine file, the value "VirtualNotebookModule" the file
// name of the provider module beside ZORADLL, which then receives the table through its
// export "VnbAttach" (ZoraVnbAttachFn).
#include <windows.h>

#include <cstddef>

#include "ZoraExport.h"
#include "ZoraSystemEntries.h"

struct ZoraSystemApi {
    DWORD cbSize;  // sizeof(ZoraSystemApi) of the library that filled it

#define ZORA_SYSTEM_MEMBER(result, name, parameters, from, provider) result(WINAPI* name) parameters;
    ZORA_SYSTEM_ENTRIES(ZORA_SYSTEM_MEMBER)
#undef ZORA_SYSTEM_MEMBER

    // ---- Not a system function: the platform's stand-in for notifications ----
    // Service controls that stand for a system notification the platform cannot send
    // (a power-source change, a session logon). Fills the control, event type and
    // event data the system would have delivered and returns TRUE; the default, the
    // real machine, translates nothing and returns FALSE.
    BOOL(WINAPI* TranslateServiceControl)(DWORD control, DWORD* systemControl, DWORD* eventType,
                                          void* eventData, DWORD eventDataSize);
};

// The layout both sides of the seam rely on: cbSize, then one pointer per entry in the
// list's order, then TranslateServiceControl.
namespace zora_system_layout {
enum Index {
#define ZORA_SYSTEM_INDEX(result, name, parameters, from, provider) name,
    ZORA_SYSTEM_ENTRIES(ZORA_SYSTEM_INDEX)
#undef ZORA_SYSTEM_INDEX
    kEntryCount
};
#define ZORA_SYSTEM_OFFSET(result, name, parameters, from, provider)             \
    static_assert(offsetof(ZoraSystemApi, name) == sizeof(void*) * (1 + name), \
                  "ZoraSystemApi: " #name " out of place");
ZORA_SYSTEM_ENTRIES(ZORA_SYSTEM_OFFSET)
#undef ZORA_SYSTEM_OFFSET
static_assert(offsetof(ZoraSystemApi, TranslateServiceControl) == sizeof(void*) * (1 + kEntryCount));
static_assert(sizeof(ZoraSystemApi) == sizeof(void*) * (2 + kEntryCount));
}  // namespace zora_system_layout

// The process's table, filled on first use (defaults, then the configured provider).
ZORADLL_API ZoraSystemApi* ZoraSys();

// Export of a machine provider: replaces entries of the table and returns TRUE, or
// leaves it untouched and returns FALSE.
typedef BOOL(WINAPI* ZoraVnbAttachFn)(ZoraSystemApi* table, const wchar_t* machineFile);
