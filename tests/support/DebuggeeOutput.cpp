#include "DebuggeeOutput.h"

#include <chrono>

#include "TestSupport.h"

namespace test {
namespace {
// How often the debugger thread looks up from its wait to see whether it should detach.
constexpr DWORD kPollMs = 50;

void CloseEventHandles(const DEBUG_EVENT& event) {
    if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT && event.u.CreateProcessInfo.hFile)
        CloseHandle(event.u.CreateProcessInfo.hFile);
    if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
}

// Windows refuses a 32-bit debugger for a 64-bit process (ERROR_NOT_SUPPORTED).
// Wine 8 lets the attach through but then loses the process, so the refusal is
// made here, before the system is asked.
bool DebuggerTooNarrow(HANDLE process) {
    if (sizeof(void*) == 8) return false;
    BOOL selfWow64 = FALSE, targetWow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &selfWow64) || !IsWow64Process(process, &targetWow64)) return false;
    return selfWow64 && !targetWow64;
}
}  // namespace

DebuggeeOutput::~DebuggeeOutput() {
    InterlockedExchange(&m_stop, 1);
    if (m_thread.joinable()) m_thread.join();
    if (m_process) CloseHandle(m_process);
}

bool DebuggeeOutput::Attach(DWORD processId) {
    if (m_thread.joinable()) return false;
    m_process = OpenProcess(PROCESS_VM_READ | PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (!m_process) {
        m_attachError = GetLastError();
        return false;
    }
    if (DebuggerTooNarrow(m_process)) {
        m_attachError = ERROR_NOT_SUPPORTED;
        return false;
    }
    HANDLE attached = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!attached) {
        m_attachError = GetLastError();
        return false;
    }
    // The thread that attaches is the one that must wait for and continue the events.
    m_thread = std::thread([this, processId, attached] { Debug(processId, attached); });
    WaitForSingleObject(attached, INFINITE);
    CloseHandle(attached);
    if (m_attachError) {
        m_thread.join();
        return false;
    }
    return true;
}

void DebuggeeOutput::Debug(DWORD processId, HANDLE attached) {
    if (!DebugActiveProcess(processId)) {
        m_attachError = GetLastError();
        SetEvent(attached);
        return;
    }
    DebugSetProcessKillOnExit(FALSE);
    SetEvent(attached);
    Loop(processId);
}

bool DebuggeeOutput::Launch(const std::wstring& program, const std::wstring& arguments) {
    if (m_thread.joinable()) return false;
    HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!started) {
        m_attachError = GetLastError();
        return false;
    }
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    // The thread that creates the process is the one that receives its debug events.
    m_thread = std::thread([this, commandLine, started] { Run(commandLine, started); });
    WaitForSingleObject(started, INFINITE);
    CloseHandle(started);
    if (m_attachError) {
        m_thread.join();
        return false;
    }
    return true;
}

void DebuggeeOutput::Run(const std::wstring& commandLine, HANDLE started) {
    std::wstring line = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr,
                        &startup, &info)) {
        m_attachError = GetLastError();
        SetEvent(started);
        return;
    }
    CloseHandle(info.hThread);
    m_process = info.hProcess;
    SetEvent(started);
    Loop(info.dwProcessId);
}

int DebuggeeOutput::WaitExit(DWORD timeoutMs) {
    DWORD code = 0;
    if (!m_process || WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(m_process, &code))
        return -1;
    return static_cast<int>(code);
}

void DebuggeeOutput::Loop(DWORD processId) {
    bool exited = false;
    while (!exited) {
        DEBUG_EVENT event{};
        if (!WaitForDebugEvent(&event, kPollMs)) {
            if (m_stop) break;
            continue;
        }
        Collect(event);
        CloseEventHandles(event);
        exited = event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT;
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, Continuation(event));
    }
    if (!exited) DebugActiveProcessStop(processId);
}

// The attach break-in is the debugger's own; every other exception goes back to the
// process as if no debugger were there.
DWORD DebuggeeOutput::Continuation(const DEBUG_EVENT& event) {
    if (event.dwDebugEventCode != EXCEPTION_DEBUG_EVENT) return DBG_CONTINUE;
    DWORD code = event.u.Exception.ExceptionRecord.ExceptionCode;
    return code == EXCEPTION_BREAKPOINT ? DBG_CONTINUE : DBG_EXCEPTION_NOT_HANDLED;
}

void DebuggeeOutput::Collect(const DEBUG_EVENT& event) {
    if (event.dwDebugEventCode != OUTPUT_DEBUG_STRING_EVENT) return;
    const OUTPUT_DEBUG_STRING_INFO& info = event.u.DebugString;
    size_t unit = info.fUnicode ? sizeof(wchar_t) : 1;
    size_t chars = info.nDebugStringLength;
    if (chars == 0) return;
    std::string buffer(chars * unit, '\0');
    SIZE_T got = 0;
    if (!ReadProcessMemory(m_process, info.lpDebugStringData, buffer.data(), buffer.size(), &got)) return;
    buffer.resize(got);
    std::string text;
    if (info.fUnicode) {
        const wchar_t* wide = reinterpret_cast<const wchar_t*>(buffer.data());
        size_t length = 0;
        while (length < got / sizeof(wchar_t) && wide[length]) ++length;
        text = Narrow(std::wstring(wide, length));
    } else {
        text = buffer.substr(0, buffer.find('\0'));
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.push_back(std::move(text));
    m_changed.notify_all();
}

bool DebuggeeOutput::WaitFor(const std::string& text, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const std::string& line : m_lines)
            if (line.find(text) != std::string::npos) return true;
        return false;
    });
}

size_t DebuggeeOutput::Count(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t count = 0;
    for (const std::string& line : m_lines)
        if (line.find(text) != std::string::npos) ++count;
    return count;
}

std::string DebuggeeOutput::Text() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string text;
    for (const std::string& line : m_lines) text += line + "\n";
    return text;
}

}  // namespace test
