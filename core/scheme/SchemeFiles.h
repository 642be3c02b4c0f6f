#pragma once
// The files of the scheme model, opened afresh by every operation: ZORACfg.ini, the
// user's scheme file it names ([ZORACfg] PowerScheme) and the power-setting catalogue
// ([ZORACfg] PowerSetting); the installed files' names and GUIDs are kept while those files
// stay as they were. Internal to the library.
#include <windows.h>

#include <cstdio>

#include "ZORACfg.h"
#include "ZoraSchemeFile.h"

namespace scheme_files {

constexpr int kTextChars = 260;

inline bool OpenMachineCfg(CZORACfg& cfg) { return cfg.Initialize(L"ZORACfg.ini") != 0; }

// [section] key of an installed file (ZORACfg.ini, the catalogue) into text, as
// CZORACfg::GetString reads it, with an empty default; its length. The installed files
// change only with an installation, and a profile read costs as much as opening the file:
// what was read is kept while the file's size and last write stay the same (SchemeFileCheck.cpp).
int InstalledString(CZORACfg& file, const wchar_t* section, const wchar_t* key, wchar_t (&text)[kTextChars]);

// A file named by a key of ZORACfg.ini's [ZORACfg]; false when the key is empty.
inline bool NamedFile(const wchar_t* key, wchar_t (&name)[kTextChars]) {
    CZORACfg cfg;
    if (!OpenMachineCfg(cfg)) return false;
    return InstalledString(cfg, L"ZORACfg", key, name) > 0;
}

// The calling user's configuration folder, null when the shell cannot name it. Asking
// the shell costs more than reading a value, and a process's user does not change, so
// it is asked once per process.
inline const wchar_t* UserFolder() {
    struct Folder {
        wchar_t path[MAX_PATH];
        bool known;
    };
    static const Folder folder = [] {
        Folder found{};
        found.known = CZORAProfile().GetHomePath(found.path, MAX_PATH) != nullptr;
        return found;
    }();
    return folder.known ? folder.path : nullptr;
}

// The calling user's scheme file, its folder and the file created where missing
// (SchemeFileCheck.cpp). A file that cannot be a scheme file (empty, longer than
// kMaxFileBytes, not text of sections and keys, or with a SchemeMaxIndex beyond
// kMaxSchemeIndex) is never used nor written over: it is renamed "<name>.corrupt-<time>"
// beside itself and false is returned, with ERROR_FILE_CORRUPT as the last error and the
// reason and the new name in the diagnostics. The next opening starts a new file.
bool OpenSchemeFile(CZORAProfile& file);

// A stored value of the open scheme file (zora_scheme_file::StoredValue): `absent` when
// the key is not there, -1 for a text that is not a value.
int ReadStoredValue(CZORAProfile& file, const wchar_t* section, const wchar_t* key, int absent);

// [Schemes] SchemeMaxIndex of the open scheme file: -1 when absent or -1 (no index yet).
// A value that is not -1 nor 0 to kMaxSchemeIndex fails, with ERROR_FILE_CORRUPT as the
// last error and the reason in the diagnostics.
bool ReadMaxIndex(CZORAProfile& file, int* max);

// Vista: the GUID that [Scheme index] of the open scheme file maps the index to, when
// the system still knows that scheme; a section the system has forgotten is pruned
// (SchemeStore.cpp).
bool MapSchemeIndex(CZORAProfile& file, int index, GUID* guid);

// Vista: the first index from 0 to max whose [Scheme N] GUID is the given one, or -1. A
// GUID that does not parse counts as a missing entry.
int IndexOfGuid(CZORAProfile& file, int max, const GUID& guid);

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
