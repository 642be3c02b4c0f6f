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
    // Starts a program under this debugger, so that nothing it says from its first
    // instruction on is missed; false with the system's error in AttachError().
    bool Launch(const std::wstring& program, const std::wstring& arguments);
    DWORD AttachError() const { return m_attachError; }
    // The exit code of the process, -1 when it is still running after timeoutMs.
    int WaitExit(DWORD timeoutMs);

    // True as soon as one collected text contains the substring.
    bool WaitFor(const std::string& text, DWORD timeoutMs);
    // How many collected texts contain the substring.
    size_t Count(const std::string& text);
    // Every collected text, one per line: for a failure's message.
    std::string Text();

private:
    void Debug(DWORD processId, HANDLE attached);
    void Run(const std::wstring& commandLine, HANDLE started);
    void Loop(DWORD processId);
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
