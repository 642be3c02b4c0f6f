#include "ZoraSystemApi.h"

#include <intrin.h>

#include <cwchar>
#include <type_traits>

#include "RegistryText.h"
#include "WinHandles.h"
#include "ZORACfg.h"
#include "ZoraInstallKey.h"

namespace {

void WINAPI RealCpuid(int regs[4], int leaf) { __cpuid(regs, leaf); }

BOOL WINAPI TranslateNothing(DWORD, DWORD*, DWORD*, void*, DWORD) { return FALSE; }

// A default found at run time: the export of the entry's name in a system DLL.
struct ExportOf {
    const wchar_t* dll;
};
constexpr ExportOf ByName(const wchar_t* dll) { return ExportOf{dll}; }

// What a system function that is not there does when it is called: it fails with
// ERROR_CALL_NOT_IMPLEMENTED, as the result (DWORD) or as the last error.
template <class Result, class... Parameters>
Result WINAPI NotImplemented(Parameters...) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    if constexpr (std::is_same_v<Result, DWORD>) {
        return ERROR_CALL_NOT_IMPLEMENTED;
    } else {
        static_assert(std::is_same_v<Result, BOOL> || std::is_same_v<Result, BOOLEAN>,
                      "a by-name entry needs its failure result here");
        return FALSE;
    }
}

template <class Result, class... Parameters>
void SetDefault(Result(WINAPI** slot)(Parameters...), ExportOf from, const char* name) {
    // Only from the system folder: the library's own folder or the current one never
    // supplies a system DLL.
    HMODULE module = GetModuleHandleW(from.dll);
    wchar_t path[MAX_PATH];
    UINT n = module ? 0 : GetSystemDirectoryW(path, MAX_PATH);
    if (n > 0 && n + 1 + wcslen(from.dll) < MAX_PATH) {
        wcscat(path, L"\\");
        wcscat(path, from.dll);
        module = LoadLibraryW(path);  // kept for the life of the process, as the table is
    }
    FARPROC proc = module ? GetProcAddress(module, name) : nullptr;
    *slot = proc ? reinterpret_cast<Result(WINAPI*)(Parameters...)>(reinterpret_cast<void*>(proc))
                 : NotImplemented<Result, Parameters...>;
}

template <class Function>
void SetDefault(Function* slot, Function function, const char*) {
    *slot = function;
}

ZoraSystemApi g_table;
INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;

void FillDefaults(ZoraSystemApi* t) {
    t->cbSize = sizeof(ZoraSystemApi);
#define ZORA_SYSTEM_DEFAULT(result, name, parameters, from, provider) SetDefault(&t->name, from, #name);
    ZORA_SYSTEM_ENTRIES(ZORA_SYSTEM_DEFAULT)
#undef ZORA_SYSTEM_DEFAULT
    t->TranslateServiceControl = TranslateNothing;
}

// A string value of the installation key; false when it is absent, empty or no REG_SZ.
bool InstallValue(const wchar_t* name, wchar_t* text, DWORD chars) {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ZORA_INSTALL_KEY, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        return false;
    return ReadRegistryText(key.get(), name, text, chars) == ERROR_SUCCESS && text[0] != L'\0';
}

// The provider module the installation names, as a path beside the library; false when
// none is named or the name is more than a file name.
bool ConfiguredProvider(wchar_t* path, DWORD chars) {
    wchar_t module[MAX_PATH];
    if (!InstallValue(ZORA_INSTALL_PROVIDER_MODULE, module, MAX_PATH) || wcspbrk(module, L"\\/:")) return false;
    CZORACfg cfg;
    if (!cfg.GetDllPath(path, static_cast<int>(chars)) || wcslen(path) + 1 + wcslen(module) >= chars) return false;
    wcscat(path, L"\\");
    wcscat(path, module);
    return true;
}

// Loads the configured provider and lets it take its entries. A machine named without
// a provider, or a provider that cannot be loaded or refuses, leaves the real
// functions in place.
void AttachProvider(ZoraSystemApi* t) {
    wchar_t machine[MAX_PATH], module[MAX_PATH];
    if (!InstallValue(ZORA_INSTALL_MACHINE_FILE, machine, MAX_PATH) || !ConfiguredProvider(module, MAX_PATH)) return;
    HMODULE provider = LoadLibraryW(module);
    if (!provider) return;
    auto attach = reinterpret_cast<ZoraVnbAttachFn>(reinterpret_cast<void*>(GetProcAddress(provider, "VnbAttach")));
    if (!attach || !attach(t, machine)) {
        FillDefaults(t);
        FreeLibrary(provider);
    }
    // An attached provider stays loaded for the life of the process.
}

BOOL CALLBACK Fill(PINIT_ONCE, PVOID, PVOID*) {
    FillDefaults(&g_table);
    AttachProvider(&g_table);
    return TRUE;
}
}  // namespace

ZoraSystemApi* ZoraSys() {
    InitOnceExecuteOnce(&g_once, Fill, nullptr, nullptr);
    return &g_table;
}
