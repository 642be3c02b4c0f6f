#pragma once
#include <windows.h>
#include <cstdarg>
#include <cstdio>

// Formats with the msvcrt formatter (Microsoft semantics: %s is a wide string) into
// a fixed buffer, cutting what does not fit, and sends it to the debugger output.
inline void DebugTextV(const wchar_t* format, va_list args) {
    wchar_t text[1024];
    int n = _vsnwprintf(text, 1023, format, args);
    if (n < 0 || n > 1023) n = 1023;
    text[n] = L'\0';
    OutputDebugStringW(text);
}

inline void DebugText(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    DebugTextV(format, args);
    va_end(args);
}
