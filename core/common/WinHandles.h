#pragma once
// The project's one handle kit, modelled on WIL: one owner template (UniqueAny) with a
// policy per kind of resource, a small COM pointer (ComPtr), BSTR and VARIANT owners
// (Bstr, Variant), ScopeExit and the
// everyone-may-open security attributes. Used by the library, the service, the tools and
// the virtual notebook; never exported. Owners live inside functions and in internal
// classes only: the exported classes keep the raw members their headers declare, since
// their layout is the library's binary interface (their shared handles are counted by
// SharedHandles.h instead).
//
// No owner throws; closing ignores the close function's result.
#include <windows.h>
#include <oleauto.h>
#include <setupapi.h>

#include <cstddef>
#include <type_traits>
#include <utility>

#include "ZoraSystemApi.h"

// How one kind of resource is closed, and which value means "none". `Empty` is the
// value as an integer (0 or -1), cast to the resource's type, because a pointer such as
// INVALID_HANDLE_VALUE cannot be a template argument. Null never names an open
// resource, so it is empty for every kind.
template <class T, auto CloseFunction, INT_PTR Empty = 0>
struct ResourcePolicy {
    using Type = T;
    static T Invalid() noexcept {
        if constexpr (std::is_pointer_v<T>)
            return reinterpret_cast<T>(Empty);
        else
            return static_cast<T>(Empty);
    }
    static bool IsValid(T value) noexcept { return value != Invalid() && value != T{}; }
    static void Close(T value) noexcept { CloseFunction(value); }
};

// Owns one resource and closes it when it goes. Moves, never copies.
template <class Policy>
class UniqueAny {
public:
    using pointer = typename Policy::Type;

    UniqueAny() noexcept : m_value(Policy::Invalid()) {}
    explicit UniqueAny(pointer value) noexcept : m_value(value) {}
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    UniqueAny(UniqueAny&& other) noexcept : m_value(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueAny() { reset(); }

    pointer get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return Policy::IsValid(m_value); }
    // Hands the resource over to the caller, who closes it.
    pointer release() noexcept { return std::exchange(m_value, Policy::Invalid()); }
    void reset(pointer value = Policy::Invalid()) noexcept {
        pointer previous = std::exchange(m_value, value);
        if (Policy::IsValid(previous)) Policy::Close(previous);
    }
    // For an out parameter (RegOpenKeyExW and the like): closes what is held first.
    pointer* put() noexcept {
        reset();
        return &m_value;
    }

private:
    pointer m_value;
};

namespace handle_kit {
// Resources of the system-API table go back to the table that gave them out.
inline void CloseSeamHandle(HANDLE handle) { ZoraSys()->CloseHandle(handle); }
inline void DestroyDeviceInfoList(HDEVINFO set) { ZoraSys()->SetupDiDestroyDeviceInfoList(set); }
inline void UnmapView(void* view) { UnmapViewOfFile(view); }
inline void FreeLocalGuid(GUID* guid) { LocalFree(guid); }
}  // namespace handle_kit

// Kernel objects whose opener fails with null: events, mutexes, semaphores, sections,
// threads, tokens.
using UniqueHandle = UniqueAny<ResourcePolicy<HANDLE, CloseHandle>>;
// Kernel objects whose opener fails with INVALID_HANDLE_VALUE: files (CreateFileW),
// toolhelp snapshots.
using UniqueFile = UniqueAny<ResourcePolicy<HANDLE, CloseHandle, -1>>;
using UniqueSnapshot = UniqueFile;
// FindFirstFileW's search handles.
using UniqueFind = UniqueAny<ResourcePolicy<HANDLE, FindClose, -1>>;
// Registry keys.
using UniqueKey = UniqueAny<ResourcePolicy<HKEY, RegCloseKey>>;
// Service-manager and service handles.
using UniqueServiceHandle = UniqueAny<ResourcePolicy<SC_HANDLE, CloseServiceHandle>>;
// Event-log sources (RegisterEventSourceW).
using UniqueEventSource = UniqueAny<ResourcePolicy<HANDLE, DeregisterEventSource>>;
// Views of a file mapping (MapViewOfFile).
using UniqueView = UniqueAny<ResourcePolicy<void*, handle_kit::UnmapView>>;
// Modules loaded for a while (LoadLibraryW); one kept for the process needs no owner.
using UniqueModule = UniqueAny<ResourcePolicy<HMODULE, FreeLibrary>>;
// GDI objects a window draws with (DeleteObject), and memory device contexts (DeleteDC).
using UniqueFont = UniqueAny<ResourcePolicy<HFONT, DeleteObject>>;
using UniqueBitmap = UniqueAny<ResourcePolicy<HBITMAP, DeleteObject>>;
using UniquePen = UniqueAny<ResourcePolicy<HPEN, DeleteObject>>;
using UniqueBrush = UniqueAny<ResourcePolicy<HBRUSH, DeleteObject>>;
using UniqueMemoryDc = UniqueAny<ResourcePolicy<HDC, DeleteDC>>;
// A GUID the system allocated with LocalAlloc (the power-policy functions' results).
using UniqueLocalGuid = UniqueAny<ResourcePolicy<GUID*, handle_kit::FreeLocalGuid>>;
// Device information sets of the system-API table.
using UniqueDevInfo = UniqueAny<ResourcePolicy<HDEVINFO, handle_kit::DestroyDeviceInfoList, -1>>;
// Device paths opened through the system-API table's CreateFileW (the driver, USB host
// controllers and root hubs).
using UniqueSeamHandle = UniqueAny<ResourcePolicy<HANDLE, handle_kit::CloseSeamHandle, -1>>;

// A COM interface pointer holding one reference. Copies add a reference; the address-of
// operator releases what is held and hands out the storage for an out parameter.
template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    ComPtr(const ComPtr& other) noexcept : m_p(other.m_p) {
        if (m_p) m_p->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr(other).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).swap(*this);
        return *this;
    }
    ~ComPtr() { reset(); }

    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }
    void reset() noexcept {
        if (T* p = std::exchange(m_p, nullptr)) p->Release();
    }
    // Takes over a reference the caller holds (a fresh object, a raw member).
    void attach(T* p) noexcept {
        reset();
        m_p = p;
    }
    // Hands the reference over to the caller.
    T* detach() noexcept { return std::exchange(m_p, nullptr); }
    T** put() noexcept {
        reset();
        return &m_p;
    }
    T** operator&() noexcept { return put(); }
    // For the void** out parameter of CoCreateInstance and QueryInterface.
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    void swap(ComPtr& other) noexcept { std::swap(m_p, other.m_p); }

private:
    T* m_p = nullptr;
};

// Runs a function when the scope ends, unless dismissed.
template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : m_f(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() {
        if (m_armed) m_f();
    }
    void dismiss() noexcept { m_armed = false; }

private:
    F m_f;
    bool m_armed = true;
};

// Security attributes whose descriptor has a present, null DACL: every account, the
// service's and any user's, may open the object with full access.
struct NullDaclSecurity {
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes;
    NullDaclSecurity() {
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
        attributes.nLength = sizeof(attributes);
        attributes.lpSecurityDescriptor = &descriptor;
        attributes.bInheritHandle = TRUE;
    }
};

// A BSTR for the length of one call (SysAllocString, SysFreeString).
class Bstr {
public:
    explicit Bstr(const wchar_t* text) : m_text(SysAllocString(text)) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(m_text); }
    BSTR get() const { return m_text; }

private:
    BSTR m_text;
};

// A VARIANT cleared when it goes.
struct Variant {
    VARIANT value;
    Variant() { VariantInit(&value); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&value); }
};
