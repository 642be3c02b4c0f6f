#pragma once
// Small RAII owners for kernel objects, modelled on WIL's unique_handle and
// scope_exit. Internal to the library.
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
