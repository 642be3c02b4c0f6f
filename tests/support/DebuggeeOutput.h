#pragma once
// Receives another process's debugger output the way a debugger does: attaches to
// it on a thread of its own, collects every OutputDebugString text and lets the
// process run on. The process survives the detach.
#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test {

class DebuggeeOutput {
public:
    DebuggeeOutput() = default;
    DebuggeeOutput(const DebuggeeOutput&) = delete;
    DebuggeeOutput& operator=(const DebuggeeOutput&) = delete;
    ~DebuggeeOutput();

    // Attaches to the process; false with the system's error in AttachError() when
    // it refuses (a 32-bit debugger cannot debug a 64-bit process).
    bool Attach(DWORD processId);
    DWORD AttachError() const { return m_attachError; }

    // True as soon as one collected text contains the substring.
    bool WaitFor(const std::string& text, DWORD timeoutMs);
    // How many collected texts contain the substring.
    size_t Count(const std::string& text);

private:
    void Debug(DWORD processId, HANDLE attached);
    void Collect(const DEBUG_EVENT& event);
    DWORD Continuation(const DEBUG_EVENT& event);

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
    HANDLE m_process = nullptr;
    DWORD m_attachError = 0;
    volatile LONG m_stop = 0;
};

}  // namespace test
