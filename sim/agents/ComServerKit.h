#pragma once
// What the virtual notebook's in-process COM servers (ZoraVnbPanel.dll, ZoraVnbWmi.dll)
// share: their class factory, their registry writes and their way to ZoraVnb.dll beside
// them. Header-only: each server is a module of its own.
#include <windows.h>

#include <cwchar>
#include <new>
#include <string>

#include "WinHandles.h"

namespace vnb_com {

template <class F>
F Export(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The module `name` in the folder of `self`, loaded; null when it cannot be.
inline HMODULE LoadBeside(HMODULE self, const wchar_t* name) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    wchar_t* slash = n && n < MAX_PATH ? wcsrchr(path, L'\\') : nullptr;
    if (!slash || (slash - path) + 1 + wcslen(name) >= MAX_PATH) return nullptr;
    wcscpy(slash + 1, name);
    return LoadLibraryW(path);
}

inline std::wstring GuidText(const GUID& guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

inline LONG SetString(HKEY parent, const std::wstring& subKey, const wchar_t* name, const std::wstring& value) {
    UniqueKey key;
    LONG rc = RegCreateKeyExW(parent, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// Registers `clsid` as an in-process server of `module` (ThreadingModel Both) under
// HKLM\Software\Classes of the caller's view; the classes key is left open in *classes
// for further values. ERROR_SUCCESS or the failing call's error.
inline LONG RegisterInprocClass(HMODULE module, const GUID& clsid, const wchar_t* description, UniqueKey* classes) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return ERROR_BAD_PATHNAME;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              classes->put(), nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    std::wstring classKey = L"CLSID\\" + GuidText(clsid);
    rc = SetString(classes->get(), classKey, nullptr, description);
    if (rc == ERROR_SUCCESS) rc = SetString(classes->get(), classKey + L"\\InprocServer32", nullptr, path);
    if (rc == ERROR_SUCCESS) rc = SetString(classes->get(), classKey + L"\\InprocServer32", L"ThreadingModel", L"Both");
    return rc;
}

// The module's one class factory, static: it lives with the module. `Object` has a
// default constructor, starts with one reference and answers QueryInterface; `locks`
// counts LockServer for DllCanUnloadNow.
template <class Object>
class StaticClassFactory final : public IClassFactory {
public:
    explicit StaticClassFactory(volatile LONG* locks) : m_locks(locks) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        // The new object's one reference is the pointer's; the caller's comes from QueryInterface.
        ComPtr<Object> created;
        created.attach(new (std::nothrow) Object());
        if (!created) return E_OUTOFMEMORY;
        return created->QueryInterface(iid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            InterlockedIncrement(m_locks);
        else
            InterlockedDecrement(m_locks);
        return S_OK;
    }

private:
    volatile LONG* m_locks;
};

}  // namespace vnb_com
