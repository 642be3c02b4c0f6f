#pragma once
// Owners for the service manager's handles and registry keys, in the manner of
// UniqueHandle (WinHandles.h).
#include <windows.h>

#include <utility>

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
