#pragma once
// The six power schemes a fresh Windows XP installation has, as XpPowerProfile.cpp
// writes them into the registry of every new machine.
#include <windows.h>

// <powrprof.h> has no include guard: it comes once, with the list of system functions.
#include "ZoraSystemEntries.h"

namespace vnb {

// The records as XP stores them: their sizes are the stored values' sizes, the same in
// 32-bit and 64-bit processes (the records hold no pointers).
static_assert(sizeof(USER_POWER_POLICY) == 80, "HKCU ...\\PowerPolicies\\<n> Policies");
static_assert(sizeof(MACHINE_POWER_POLICY) == 64, "HKLM ...\\PowerPolicies\\<n> Policies");
static_assert(sizeof(MACHINE_PROCESSOR_POWER_POLICY) == 156, "HKLM ...\\ProcessorPolicies\\<n> Policies");
static_assert(sizeof(POWER_POLICY) == 144, "ReadPwrScheme's record: the user part, then the machine part");
static_assert(sizeof(GLOBAL_POWER_POLICY) == 0xB0 + 16, "SetActivePwrScheme's global record");

struct XpBuiltInScheme {
    UINT id;
    const wchar_t* name;
    const wchar_t* description;
    USER_POWER_POLICY user;
    MACHINE_POWER_POLICY machine;
    MACHINE_PROCESSOR_POWER_POLICY processor;
};

constexpr UINT kXpBuiltInSchemeCount = 6;
// Ids 0 to 5 in that order.
const XpBuiltInScheme& XpBuiltInSchemeAt(UINT id);

// The active scheme of a fresh notebook: Portable/Laptop.
constexpr UINT kXpFreshActiveScheme = 1;

}  // namespace vnb
