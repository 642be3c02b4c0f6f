#pragma once
// The shell's GUID-from-string parser (ordinal 270 of Shlwapi.dll): the brace form, with
// or without the leading blank the INI reader strips. Loaded on each use; when the
// library or the entry cannot be had the parse fails.
#include <windows.h>

#include "WinHandles.h"

inline bool ParseShellGuid(const wchar_t* text, GUID* guid) {
    typedef BOOL(WINAPI * GuidFromStringFn)(LPCWSTR, GUID*);
    if (!text || !guid) return false;
    UniqueModule shlwapi(LoadLibraryW(L"Shlwapi.dll"));
    if (!shlwapi) return false;
    auto parse = reinterpret_cast<GuidFromStringFn>(
        reinterpret_cast<void*>(GetProcAddress(shlwapi.get(), MAKEINTRESOURCEA(270))));
    return parse && parse(text, guid);
}
