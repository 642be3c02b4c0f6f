#pragma once
// The Windows major version the program runs as (5 XP, 6 Vista and its successors the
// library serves on its Vista path). GetVersionExW is what the library asks: unlike the
// version helpers, it reports the version a compatibility setting makes the program see.
#include <windows.h>

// False when the system does not answer.
inline bool WindowsMajorVersion(DWORD* major) {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&version)) return false;
#pragma GCC diagnostic pop
    *major = version.dwMajorVersion;
    return true;
}
