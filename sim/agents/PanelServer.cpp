// The in-process server of "Vidorra.PanelBridge": class factory, registration
// (ProgID and class, ThreadingModel Both) and the machine's [Graphics] section
// reached through ZoraVnb.dll beside this module.
#include <windows.h>
#include <olectl.h>

#include <cwchar>
#include <new>
#include <string>

#include "ComServerKit.h"
#include "PanelBridge.h"
#include "WinHandles.h"
#include "ZoraVnb.h"

namespace panel {
namespace {
HMODULE g_module = nullptr;
volatile LONG g_objects = 0;
volatile LONG g_locks = 0;

constexpr wchar_t kSection[] = L"Graphics";
constexpr wchar_t kDescription[] = L"Vidorra PanelBridge";
constexpr wchar_t kClassesKey[] = L"Software\\Classes";

struct VnbValues {
    decltype(&::VnbGetValue) get = nullptr;
    decltype(&::VnbSetValue) set = nullptr;
    DWORD error = ERROR_SUCCESS;
};

// Bound once per process; the module stays loaded with the server.
const VnbValues& Vnb() {
    static const VnbValues values = [] {
        VnbValues bound;
        HMODULE vnb = vnb_com::LoadBeside(g_module, L"ZoraVnb.dll");
        if (vnb) {
            bound.get = vnb_com::Export<decltype(&::VnbGetValue)>(vnb, "VnbGetValue");
            bound.set = vnb_com::Export<decltype(&::VnbSetValue)>(vnb, "VnbSetValue");
        }
        if (!bound.get || !bound.set) bound.error = ERROR_MOD_NOT_FOUND;
        return bound;
    }();
    return values;
}

// The class the ProgID names now, empty when none.
std::wstring ProgIdClass(HKEY classes) {
    wchar_t text[40] = {};
    DWORD bytes = sizeof(text) - sizeof(wchar_t);
    std::wstring key = std::wstring(ZORA_PANEL_PROGID) + L"\\CLSID";
    if (RegGetValueW(classes, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text, &bytes) != ERROR_SUCCESS)
        return std::wstring();
    return text;
}

HRESULT Register() {
    UniqueKey classes;
    LONG rc = vnb_com::RegisterInprocClass(g_module, CLSID_ZoraPanelBridge, kDescription, &classes);
    std::wstring clsid = vnb_com::GuidText(CLSID_ZoraPanelBridge);
    if (rc == ERROR_SUCCESS)
        rc = vnb_com::SetString(classes.get(), L"CLSID\\" + clsid + L"\\ProgID", nullptr, ZORA_PANEL_PROGID);
    if (rc == ERROR_SUCCESS) rc = vnb_com::SetString(classes.get(), ZORA_PANEL_PROGID, nullptr, kDescription);
    if (rc == ERROR_SUCCESS)
        rc = vnb_com::SetString(classes.get(), std::wstring(ZORA_PANEL_PROGID) + L"\\CLSID", nullptr, clsid);
    return rc == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

LONG DeleteTree(HKEY parent, const std::wstring& subKey) {
    LONG rc = RegDeleteTreeW(parent, subKey.c_str());
    if (rc == ERROR_SUCCESS) rc = RegDeleteKeyW(parent, subKey.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

HRESULT Unregister() {
    UniqueKey classes;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClassesKey, 0, KEY_ALL_ACCESS, classes.put());
    if (rc == ERROR_FILE_NOT_FOUND) return S_OK;
    if (rc != ERROR_SUCCESS) return SELFREG_E_CLASS;
    std::wstring clsid = vnb_com::GuidText(CLSID_ZoraPanelBridge);
    rc = DeleteTree(classes.get(), L"CLSID\\" + clsid);
    // A ProgID another server has taken over since is left to it.
    std::wstring named = ProgIdClass(classes.get());
    if (rc == ERROR_SUCCESS && (named.empty() || _wcsicmp(named.c_str(), clsid.c_str()) == 0))
        rc = DeleteTree(classes.get(), ZORA_PANEL_PROGID);
    return rc == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

vnb_com::StaticClassFactory<PanelBridge> g_factory(&g_locks);
}  // namespace

HMODULE Module() { return g_module; }
void ObjectCreated() { InterlockedIncrement(&g_objects); }
void ObjectDestroyed() { InterlockedDecrement(&g_objects); }
LONG LiveObjects() { return g_objects; }

DWORD ReadNumber(const wchar_t* key, uint32_t* value) {
    const VnbValues& vnb = Vnb();
    if (vnb.error != ERROR_SUCCESS) return vnb.error;
    wchar_t text[32];
    if (!vnb.get(nullptr, kSection, key, text, ARRAYSIZE(text))) return GetLastError();
    wchar_t* end = nullptr;
    unsigned long number = wcstoul(text, &end, 0);
    if (!text[0] || *end) return ERROR_INVALID_DATA;
    *value = static_cast<uint32_t>(number);
    return ERROR_SUCCESS;
}

DWORD WriteNumber(const wchar_t* key, uint32_t value) {
    const VnbValues& vnb = Vnb();
    if (vnb.error != ERROR_SUCCESS) return vnb.error;
    wchar_t text[16];
    _snwprintf(text, ARRAYSIZE(text), L"%u", static_cast<unsigned>(value));
    return vnb.set(nullptr, kSection, key, text) ? ERROR_SUCCESS : GetLastError();
}

}  // namespace panel

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        panel::g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_ZoraPanelBridge)) return CLASS_E_CLASSNOTAVAILABLE;
    return panel::g_factory.QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow() { return panel::g_objects == 0 && panel::g_locks == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() { return panel::Register(); }

STDAPI DllUnregisterServer() { return panel::Unregister(); }
