#pragma once
// A REG_SZ value read into a caller's buffer of `chars` characters, terminated. The
// stored data may or may not carry its terminator: a value of chars - 1 characters with
// its terminator fits exactly, one that leaves no room for a terminator does not.
// (RegGetValueW does this too, but 32-bit XP lacks it.)
#include <windows.h>

inline LONG ReadRegistryText(HKEY key, const wchar_t* name, wchar_t* text, DWORD chars) {
    if (!text || chars == 0) return ERROR_INVALID_PARAMETER;
    text[0] = L'\0';
    DWORD type = 0, bytes = chars * sizeof(wchar_t);
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes);
    if (rc == ERROR_SUCCESS && type != REG_SZ) rc = ERROR_INVALID_DATA;
    DWORD count = bytes / sizeof(wchar_t);
    if (rc == ERROR_SUCCESS && (count == 0 || text[count - 1] != L'\0')) {
        if (count >= chars)
            rc = ERROR_MORE_DATA;
        else
            text[count] = L'\0';
    }
    if (rc != ERROR_SUCCESS) text[0] = L'\0';
    return rc;
}
