#include "OsWin.h"

#include "WinHandles.h"

namespace {
typedef HRESULT(WINAPI* DwmEnableCompositionFn)(UINT);
typedef HRESULT(WINAPI* DwmIsCompositionEnabledFn)(BOOL*);

// The named export of dwmapi.dll, loading the library first where needed.
FARPROC DwmFunction(const char* name) {
    if (!COsWin::m_hDwmLibrary) {
        COsWin::m_hDwmLibrary = LoadLibraryW(L"dwmapi.dll");
        if (!COsWin::m_hDwmLibrary) {
            CZORABase::DBGOUT(L"Failed to load dwmapi.dll %d", static_cast<int>(GetLastError()));
            return nullptr;
        }
    }
    FARPROC function = GetProcAddress(COsWin::m_hDwmLibrary, name);
    if (!function) CZORABase::DBGOUT(L"Failed to get function in dwmapi.dll");
    return function;
}
}  // namespace

HMODULE COsWin::m_hDwmLibrary = nullptr;

unsigned long COsWin::GetVersion() { return 1000; }

int COsWin::IsVista() {
    DWORD packed = ::GetVersion();
    DWORD major = LOBYTE(LOWORD(packed)), minor = HIBYTE(LOWORD(packed));
    DBGOUT(L"Windows version %d.%d", static_cast<int>(major), static_cast<int>(minor));
    return major >= 6;
}

long COsWin::LoadDwmLibrary() {
    if (m_hDwmLibrary) return S_OK;
    m_hDwmLibrary = LoadLibraryW(L"dwmapi.dll");
    return m_hDwmLibrary ? S_OK : E_FAIL;
}

long COsWin::SetAero(int enable) {
    auto function = reinterpret_cast<DwmEnableCompositionFn>(
        reinterpret_cast<void*>(DwmFunction("DwmEnableComposition")));
    if (!function) return E_FAIL;
    return function(static_cast<UINT>(enable));
}

long COsWin::IsAeroOn(int* enabled) {
    auto function = reinterpret_cast<DwmIsCompositionEnabledFn>(
        reinterpret_cast<void*>(DwmFunction("DwmIsCompositionEnabled")));
    if (!function) return E_FAIL;
    BOOL on = FALSE;
    HRESULT hr = function(&on);
    if (enabled) *enabled = on;
    return hr;
}

long COsWin::SetLinkPowerMgr(int) { return S_OK; }

long COsWin::ReadRegValue(HKEY root, const wchar_t* subkey, const wchar_t* name, unsigned long* type,
                          unsigned char* data, unsigned long* size) {
    if (!root || !subkey || !name || !type) return E_FAIL;
    UniqueKey key;
    LONG rc = RegOpenKeyExW(root, subkey, 0, KEY_READ, key.put());
    if (rc != ERROR_SUCCESS) {
        DBGOUT(L"failed to open %s to read.", subkey);
        return rc;
    }
    DWORD valueType = 0;
    rc = RegQueryValueExW(key.get(), name, nullptr, &valueType, data, reinterpret_cast<DWORD*>(size));
    *type = valueType;
    if (rc != ERROR_SUCCESS) {
        DBGOUT(L"failed to query value %s", name);
        return rc;
    }
    return 0;
}

long COsWin::WriteRegValue(HKEY root, const wchar_t* subkey, const wchar_t* name, unsigned long,
                           const unsigned long* type, const void* data, const unsigned long* size) {
    if (!root || !subkey || !name || !type || !data || !size) return E_FAIL;
    UniqueKey key;
    LONG rc = RegOpenKeyExW(root, subkey, 0, KEY_ALL_ACCESS, key.put());
    if (rc != ERROR_SUCCESS) {
        DBGOUT(L"failed to open %s to write.", subkey);
        return rc;
    }
    rc = RegSetValueExW(key.get(), name, 0, *type, static_cast<const BYTE*>(data), *size);
    if (rc != ERROR_SUCCESS) {
        DBGOUT(L"failed to set value %s .", name);
        return rc;
    }
    return 0;
}
