#pragma once
// The project's one handle kit: small RAII owners for kernel objects, registry keys and
// service-manager handles, modelled on WIL's unique_handle and scope_exit. Used by the
// library, the service, the tools and the virtual notebook; never exported.
#include <windows.h>
#include <utility>

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : m_h(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_h(other.release()) {}
    ~UniqueHandle() { reset(); }
    HANDLE get() const { return m_h; }
    HANDLE release() { return std::exchange(m_h, nullptr); }
    void reset(HANDLE h = nullptr) {
        if (m_h) CloseHandle(m_h);
        m_h = h;
    }
    explicit operator bool() const { return m_h != nullptr; }

private:
    HANDLE m_h = nullptr;
};

class UniqueServiceHandle {
public:
    UniqueServiceHandle() = default;
    explicit UniqueServiceHandle(SC_HANDLE h) : m_h(h) {}
    UniqueServiceHandle(const UniqueServiceHandle&) = delete;
    UniqueServiceHandle& operator=(const UniqueServiceHandle&) = delete;
    ~UniqueServiceHandle() { reset(); }
    SC_HANDLE get() const { return m_h; }
    void reset(SC_HANDLE h = nullptr) {
        if (m_h) CloseServiceHandle(m_h);
        m_h = h;
    }
    explicit operator bool() const { return m_h != nullptr; }

private:
    SC_HANDLE m_h = nullptr;
};

class UniqueKey {
public:
    UniqueKey() = default;
    UniqueKey(const UniqueKey&) = delete;
    UniqueKey& operator=(const UniqueKey&) = delete;
    ~UniqueKey() { reset(); }
    HKEY get() const { return m_h; }
    // For the out parameter of RegOpenKeyExW and RegCreateKeyExW.
    HKEY* put() {
        reset();
        return &m_h;
    }
    void reset() {
        if (m_h) RegCloseKey(std::exchange(m_h, nullptr));
    }

private:
    HKEY m_h = nullptr;
};

template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : m_f(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() { m_f(); }

private:
    F m_f;
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
