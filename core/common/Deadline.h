#pragma once
// One deadline shared by several waits: each waits only for what is left of it.
#include <windows.h>

class Deadline {
public:
    explicit Deadline(unsigned long timeoutMs) : m_end(GetTickCount64() + timeoutMs) {}
    // Milliseconds left; 0 once it has passed.
    DWORD Remaining() const {
        ULONGLONG now = GetTickCount64();
        return now >= m_end ? 0 : static_cast<DWORD>(m_end - now);
    }

private:
    ULONGLONG m_end;
};
