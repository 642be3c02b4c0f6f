#pragma once
// The Windows version the program runs as (5.1 XP, 6.0 Vista and its successors the
// library serves on its Vista path). GetVersionExW is what the library asks: unlike the
// version helpers, it reports the version a compatibility setting makes the program see.
#include <windows.h>

// False when the system does not answer.
inline bool WindowsVersion(DWORD* major, DWORD* minor) {
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) return false;
#pragma GCC diagnostic pop
    *major = version.dwMajorVersion;
    if (minor != nullptr) *minor = version.dwMinorVersion;
    return true;
}

inline bool WindowsMajorVersion(DWORD* major) { return WindowsVersion(major, nullptr); }
