#pragma once
// The files of the scheme model, opened afresh by every operation: ZORACfg.ini, the
// user's scheme file it names ([ZORACfg] PowerScheme) and the power-setting catalogue
// ([ZORACfg] PowerSetting). Internal to the library.
#include <windows.h>

#include <cstdio>

#include "ZORACfg.h"

namespace scheme_files {

constexpr int kTextChars = 260;

inline bool OpenMachineCfg(CZORACfg& cfg) { return cfg.Initialize(L"ZORACfg.ini") != 0; }

// A file named by a key of ZORACfg.ini's [ZORACfg]; false when the key is empty.
inline bool NamedFile(const wchar_t* key, wchar_t (&name)[kTextChars]) {
    CZORACfg cfg;
    if (!OpenMachineCfg(cfg)) return false;
    return cfg.GetString(L"ZORACfg", key, L"", name, kTextChars) > 0;
}

// The calling user's scheme file, its folder and the file created where missing.
inline bool OpenSchemeFile(CZORAProfile& file) {
    wchar_t name[kTextChars];
    return NamedFile(L"PowerScheme", name) && file.Initialize(name, nullptr) != 0;
}

// The power-setting catalogue.
inline bool OpenSettingFile(CZORACfg& file) {
    wchar_t name[kTextChars];
    return NamedFile(L"PowerSetting", name) && file.Initialize(name) != 0;
}

// "Scheme N", the section of scheme N in the scheme file.
struct SchemeSection {
    explicit SchemeSection(int index) { swprintf(text, 32, L"Scheme %d", index); }
    operator const wchar_t*() const { return text; }
    wchar_t text[32];
};

}  // namespace scheme_files
