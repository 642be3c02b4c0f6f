#pragma once
// What the scheme model knows of the two generations of the system's power policy.
// Internal to the library.
#include <windows.h>

#include <cstdlib>

#include "SchemeEx.h"
#include "WinHandles.h"

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

// The system's own schemes, which cannot be deleted: power saver, high performance and
// balanced.
constexpr GUID kBuiltIn[3] = {
    {0xA1841308, 0x3541, 0x4FAB, {0xBC, 0x81, 0xF7, 0x15, 0x56, 0xF2, 0x0B, 0x4A}},
    {0x8C5E7FDA, 0xE8BF, 0x4A96, {0x9A, 0x85, 0xA6, 0xE2, 0x3A, 0x8C, 0x63, 0x5C}},
    {0x381B4222, 0xF694, 0x41F0, {0x96, 0x85, 0xFF, 0x5B, 0xB2, 0x60, 0xDF, 0x2E}},
};
inline bool IsBuiltIn(const GUID& guid) {
    for (const GUID& builtIn : kBuiltIn)
        if (IsEqualGUID(guid, builtIn)) return true;
    return false;
}

// The processor subgroup and its settings.
constexpr GUID kProcessor = {0x54533251, 0x82BE, 0x4824, {0x96, 0xC1, 0x47, 0xB6, 0x0B, 0x74, 0x0D, 0x00}};
constexpr GUID kThrottleMin = {0x893DEE8E, 0x2BEF, 0x41E0, {0x89, 0xC6, 0xB5, 0x5D, 0x09, 0x29, 0x96, 0x4C}};
constexpr GUID kThrottleMax = {0xBC5038F7, 0x23E0, 0x4960, {0x96, 0xDA, 0x33, 0xAB, 0xAF, 0x59, 0x35, 0xEC}};
constexpr GUID kPolicyFirst = {0x68F262A7, 0xF621, 0x4069, {0xB9, 0xA5, 0x48, 0x74, 0x16, 0x9B, 0xE2, 0x3C}};
constexpr GUID kPolicySecond = {0xBBDC3814, 0x18E9, 0x4463, {0x8A, 0x55, 0xD1, 0x97, 0x32, 0x7C, 0x45, 0xC0}};

}  // namespace vista_policy
