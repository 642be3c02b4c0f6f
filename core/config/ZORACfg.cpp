#include "ZORACfg.h"

#include <windows.h>
#include <shlwapi.h>

#include <cwchar>

#include "WinHandles.h"
#include "ZoraInstallKey.h"

namespace {
constexpr int kPathSize = 260;
constexpr wchar_t kModuleName[] = L"ZORADLL.DLL";

// Appends src to dst (capacity size characters); 0 when it does not fit.
int AppendText(wchar_t* dst, int size, const wchar_t* src) {
    size_t used = wcslen(dst), add = wcslen(src);
    if (used + add + 1 > static_cast<size_t>(size)) return 0;
    wmemcpy(dst + used, src, add + 1);
    return 1;
}

// Cuts the path at its last backslash; 0 when there is none.
int CutAtLastBackslash(wchar_t* path) {
    wchar_t* slash = wcsrchr(path, L'\\');
    if (!slash) return 0;
    *slash = L'\0';
    return 1;
}

// The module that holds the library: "ZORADLL.DLL" as loaded, else (a static link or a
// renamed build) whatever module contains this code.
HMODULE LibraryModule() {
    HMODULE module = GetModuleHandleW(kModuleName);
    if (module) return module;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&LibraryModule), &module);
    return module;
}

// The module's file name cut `cuts` times at a backslash.
wchar_t* ModuleFolder(wchar_t* buffer, int size, int cuts) {
    if (!buffer || size <= 0) return nullptr;
    HMODULE module = LibraryModule();
    if (!module) return nullptr;
    wchar_t path[kPathSize];
    DWORD n = GetModuleFileNameW(module, path, kPathSize);
    if (n == 0 || n >= static_cast<DWORD>(kPathSize)) return nullptr;
    for (int i = 0; i < cuts; ++i)
        if (!CutAtLastBackslash(path)) return nullptr;
    if (wcslen(path) + 1 > static_cast<size_t>(size)) return nullptr;
    wcscpy(buffer, path);
    return buffer;
}

int FileExists(const wchar_t* path) { return PathFileExistsW(path) ? 1 : 0; }

// The installation folder recorded by the installer. Both builds of the library read
// the 64-bit view, so a 32-bit caller finds the same installation as the service.
int InstallFolder(wchar_t* out, int size) {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ZORA_INSTALL_KEY, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        return 0;
    wchar_t value[kPathSize + 1] = {};
    DWORD type = 0, bytes = 520;
    LONG rc = RegQueryValueExW(key.get(), ZORA_INSTALL_SDK_FOLDER, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return 0;
    value[kPathSize - 1] = L'\0';
    if (wcslen(value) + 1 > static_cast<size_t>(size)) return 0;
    wcscpy(out, value);
    return 1;
}
}  // namespace

CZORACfg::CZORACfg() { m_szPath[0] = L'\0'; }
CZORACfg::~CZORACfg() = default;
unsigned long CZORACfg::GetVersion() { return 1000; }

const wchar_t* CZORACfg::GetFullPath() { return m_szPath; }

wchar_t* CZORACfg::GetDllPath(wchar_t* buffer, int size) { return ModuleFolder(buffer, size, 1); }

wchar_t* CZORACfg::GetHomePath(wchar_t* buffer, int size) { return ModuleFolder(buffer, size, 2); }

int CZORACfg::Initialize(const wchar_t* fileName) {
    m_szPath[0] = L'\0';
    if (!fileName) return 0;
    if (ModuleFolder(m_szPath, kPathSize, 2) && AppendText(m_szPath, kPathSize, L"\\cfg\\") &&
        AppendText(m_szPath, kPathSize, fileName) && FileExists(m_szPath))
        return 1;

    wchar_t folder[kPathSize];
    if (!InstallFolder(folder, kPathSize)) return 0;
    // The installer writes the folder with a trailing backslash; one written without
    // it still names the same folder.
    size_t len = wcslen(folder);
    wcscpy(m_szPath, folder);
    if ((len && folder[len - 1] != L'\\' && !AppendText(m_szPath, kPathSize, L"\\")) ||
        !AppendText(m_szPath, kPathSize, L"cfg\\") || !AppendText(m_szPath, kPathSize, fileName)) {
        m_szPath[0] = L'\0';
        return 0;
    }
    return FileExists(m_szPath);
}

int CZORACfg::GetInt(const wchar_t* section, const wchar_t* key, int defaultValue) {
    return static_cast<int>(GetPrivateProfileIntW(section, key, defaultValue, m_szPath));
}

int CZORACfg::PutInt(const wchar_t* section, const wchar_t* key, int value) {
    wchar_t text[20];
    _snwprintf(text, 20, L"%d", value);
    text[19] = L'\0';
    return WritePrivateProfileStringW(section, key, text, m_szPath) ? 1 : 0;
}

int CZORACfg::GetString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                        wchar_t* out, int size) {
    if (!out || size <= 0) return 0;
    return static_cast<int>(
        GetPrivateProfileStringW(section, key, defaultValue, out, static_cast<DWORD>(size), m_szPath));
}

int CZORACfg::PutString(const wchar_t* section, const wchar_t* key, const wchar_t* value) {
    return WritePrivateProfileStringW(section, key, value, m_szPath) ? 1 : 0;
}

int CZORACfg::GetHex(const wchar_t* section, const wchar_t* key, int defaultValue) {
    wchar_t text[20];
    DWORD n = GetPrivateProfileStringW(section, key, L"", text, 20, m_szPath);
    if (n < 3 || text[0] != L'0' || text[1] != L'x') return defaultValue;
    // Hex digits right after "0x", read as far as they go (as "%x" does).
    unsigned value = 0;
    int digits = 0;
    for (const wchar_t* p = text + 2; iswxdigit(*p); ++p, ++digits)
        value = value * 16 + static_cast<unsigned>(iswdigit(*p) ? *p - L'0' : (towlower(*p) - L'a' + 10));
    return digits ? static_cast<int>(value) : defaultValue;
}

int CZORACfg::PutHex(const wchar_t* section, const wchar_t* key, int value) {
    wchar_t text[20];
    _snwprintf(text, 20, L"0x%x", static_cast<unsigned>(value));
    text[19] = L'\0';
    return WritePrivateProfileStringW(section, key, text, m_szPath) ? 1 : 0;
}
