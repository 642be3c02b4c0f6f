#pragma once
// What the scheme model knows of the two generations of the system's power policy.
// Internal to the library.
#include <windows.h>

#include <cstdlib>

#include "SchemeEx.h"
#include "WinHandles.h"
#include "ZoraPowerPolicy.h"

namespace xp_policy {

// XP keeps each scheme under a key named by its decimal number: the user's part (name,
// description, user policy) under HKCU, the machine's part under HKLM.
constexpr wchar_t kUserPolicies[] = L"Control Panel\\PowerCfg\\PowerPolicies";
constexpr wchar_t kPowerCfg[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\PowerCfg";
constexpr wchar_t kMachinePolicies[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\PowerCfg\\PowerPolicies";

// Calls each(id) for every scheme key of HKCU or HKLM whose name is a decimal number,
// until it returns false. HKLM is read in its 64-bit view, which 32-bit and 64-bit
// programs share.
template <class Each>
void ForEachScheme(HKEY root, Each each) {
    UniqueKey key;
    REGSAM access = KEY_READ | (root == HKEY_LOCAL_MACHINE ? KEY_WOW64_64KEY : 0);
    if (RegOpenKeyExW(root, root == HKEY_LOCAL_MACHINE ? kMachinePolicies : kUserPolicies, 0, access, key.put()) !=
        ERROR_SUCCESS)
        return;
    for (DWORD i = 0;; ++i) {
        wchar_t name[64];
        DWORD chars = 64;
        LONG rc = RegEnumKeyExW(key.get(), i, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_MORE_DATA) continue;
        if (rc != ERROR_SUCCESS) return;
        wchar_t* end = nullptr;
        long id = wcstol(name, &end, 10);
        if (end == name || *end != L'\0' || id < 0) continue;
        if (!each(static_cast<int>(id))) return;
    }
}

// The system's enumeration, handed on to the scheme model's callback.
int Enumerate(EnumPwrSchemesProc callback, LONG_PTR userValue);

}  // namespace xp_policy

namespace vista_policy {

using namespace zora_policy;

// The system's own schemes, which cannot be deleted.
inline bool IsBuiltIn(const GUID& guid) {
    return IsEqualGUID(guid, kBalanced) || IsEqualGUID(guid, kHighPerformance) || IsEqualGUID(guid, kPowerSaver);
}

}  // namespace vista_policy
