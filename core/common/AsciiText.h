#pragma once
// Comparison of names that ignores the letter case of ASCII letters only, as the
// library matches device descriptions and power-variable names.

inline bool EqualsAsciiNoCase(const wchar_t* a, const wchar_t* b) {
    for (;; ++a, ++b) {
        wchar_t x = *a, y = *b;
        if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
        if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
        if (x != y) return false;
        if (!x) return true;
    }
}
