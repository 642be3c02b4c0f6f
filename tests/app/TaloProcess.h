// TALO as its own process in the tests: started on the virtual notebook, found by its
// hidden hub window, ended by closing that window; the user's profile file and TALO's
// registry values read back.
#pragma once

#include <windows.h>

#include <string>

#include "TestSupport.h"
#include "ZORACfg.h"

namespace talo_test {

inline constexpr wchar_t kTaloKey[] = L"Software\\Korvex\\TALO";

struct HubSearch {
    DWORD processId;
    HWND found;
};

// A named callback: the 32-bit build needs EnumWindows' callback to be WINAPI.
inline BOOL CALLBACK FindHubWindow(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<HubSearch*>(param);
    DWORD owner = 0;
    wchar_t cls[16] = L"";
    GetWindowThreadProcessId(hwnd, &owner);
    GetClassNameW(hwnd, cls, 16);
    if (owner != s->processId || wcscmp(cls, L"#32770") != 0) return TRUE;
    s->found = hwnd;
    return FALSE;
}

// The top-level dialog window of a process, once its message loop answers.
inline HWND HubOf(DWORD processId, DWORD timeoutMs) {
    HubSearch search = {processId, nullptr};
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        EnumWindows(FindHubWindow, reinterpret_cast<LPARAM>(&search));
        DWORD_PTR answer = 0;
        if (search.found && SendMessageTimeoutW(search.found, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer))
            return search.found;
        Sleep(50);
    }
    return nullptr;
}

inline std::wstring Talo() { return test::ProgramPath(test::OwnArch(), L"TALO.exe"); }

inline std::wstring ProfilePath() {
    CZORAProfile profile;
    profile.Initialize(L"TALOScheme.ini", nullptr);
    return profile.GetFullPath();
}

inline int ProfileInt(int scheme, const wchar_t* key) {
    return static_cast<int>(GetPrivateProfileIntW((L"Scheme" + std::to_wstring(scheme)).c_str(), key, -1,
                                                  ProfilePath().c_str()));
}

inline void SetTaloFlag(const wchar_t* name, DWORD value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kTaloKey, name, REG_DWORD, &value, sizeof(value));
}

// A DWORD under HKCU\Software\Korvex\TALO; -1 when absent.
inline int TaloFlag(const wchar_t* name) {
    DWORD value = 0, size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, kTaloKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return -1;
    return static_cast<int>(value);
}

}  // namespace talo_test
