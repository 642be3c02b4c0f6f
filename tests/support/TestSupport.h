#pragma once
// What every test shares: the programs of either architecture and starting them,
// temporary folders and installations, named events for hand-shakes.
#include <gtest/gtest.h>
#include <windows.h>

#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>

namespace test {

// "i686" or "x86_64": this test's build, and the other one.
const wchar_t* OwnArch();
const wchar_t* OtherArch();

// Whether this machine runs programs of the architecture. Some machines run 64-bit
// programs only (no 32-bit user mode, so Wine's 32-bit side cannot start): creating a
// 32-bit process fails there. Taken from ZORA_WIN32 (set by the test script), else
// probed once by starting that build's zoractl.
bool ArchRuns(const wchar_t* arch);
// The reason a case is skipped where ArchRuns(arch) is false.
std::string CannotRun(const wchar_t* arch);
// The architecture of a second process: the other one where this machine runs it, else
// this test's own, so that a case still crosses processes where it cannot cross
// architectures.
const wchar_t* PeerArch();

// Folder of this test executable (<build>/<arch>/bin).
std::wstring ExeDir();
// Path of a program of the given architecture's build; empty when that build is missing.
std::wstring ProgramPath(const wchar_t* arch, const wchar_t* name);

// A started program; killed on destruction if still running.
class Process {
public:
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();
    // With capture, its standard output and error are collected as they come.
    bool Start(const std::wstring& program, const std::wstring& arguments, bool capture = false);
    // Exit code, or -1 on time-out.
    int Wait(DWORD timeoutMs = 30000);
    bool WaitForOutput(const std::string& text, DWORD timeoutMs);
    std::string Output();
    // Posts WM_QUIT to its main thread: how a program running a message loop is ended
    // where no service manager sends it a stop.
    bool Quit();
    bool Running() const;
    DWORD Id() const { return m_info.dwProcessId; }
    HANDLE Handle() const { return m_info.hProcess; }

private:
    PROCESS_INFORMATION m_info{};
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_output;
};

// Runs a program to its end; returns the exit code (-2 when it does not start) and its output.
int Run(const std::wstring& program, const std::wstring& arguments, std::string* output = nullptr,
        DWORD timeoutMs = 30000);

// Value of "name=value" in a program's output, or "(missing)".
std::string Field(const std::string& output, const std::string& name);

// A fresh folder under %TEMP%, removed with all its contents at the end.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
};

// The installation layout in a temporary folder: <root>\bin holds copies of the
// programs of one architecture, <root>\cfg the machine files.
class TempInstall {
public:
    // copies[i] lands in bin as copies[i].second (its own name where that is null).
    TempInstall(const wchar_t* arch, std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> copies);
    bool Ok() const { return m_ok; }
    const std::wstring& Root() const { return m_dir.Path(); }
    std::wstring Bin() const { return Root() + L"\\bin"; }
    std::wstring Cfg() const { return Root() + L"\\cfg"; }
    // Writes <root>\cfg\ZORACfg.ini.
    bool SetConfig(const char* text) const;

private:
    TempDir m_dir;
    bool m_ok = true;
};

// The Windows version this program runs as: Wine sets it per executable
// (HKCU\Software\Wine\AppDefaults\<exe>\Version, scripts/wine-env.sh).
bool RunsAsVista();

// While it lives, programs named `exe` that start run as the given Windows version
// ("winxp", "vista"); the previous setting comes back afterwards.
class WindowsVersionOf {
public:
    WindowsVersionOf(const wchar_t* exe, const wchar_t* version);
    WindowsVersionOf(const WindowsVersionOf&) = delete;
    WindowsVersionOf& operator=(const WindowsVersionOf&) = delete;
    ~WindowsVersionOf();

private:
    std::wstring m_key;
    std::wstring m_previous;  // empty: there was none
};

// An event in the global name space with a name unique to this test run.
class NamedEvent {
public:
    explicit NamedEvent(const wchar_t* purpose, BOOL manualReset = TRUE);
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;
    ~NamedEvent();
    const std::wstring& Name() const { return m_name; }
    HANDLE Get() const { return m_handle; }

private:
    std::wstring m_name;
    HANDLE m_handle = nullptr;
};

// The test answerer of the given architecture, serving the service's boards.
class Answerer {
public:
    // Returns false when the program is missing or did not come up. With echo it
    // prints each request it serves, "request code=C param=P data=D", for Requests().
    bool Start(const wchar_t* arch, bool echo = false);
    std::string Requests() { return m_process.Output(); }
    // Ends it as the service ends its worker.
    void Stop();
    ~Answerer();

private:
    Process m_process;
    std::unique_ptr<NamedEvent> m_stop;
    bool m_running = false;
};

// A case run once for each architecture (its parameter), skipped where this machine
// cannot run that architecture's programs.
class ArchCase : public ::testing::TestWithParam<const wchar_t*> {
protected:
    void SetUp() override {
        if (!ArchRuns(GetParam())) GTEST_SKIP() << CannotRun(GetParam());
    }
};
#define ZORA_FOR_BOTH_ARCHS(prefix, fixture)                                         \
    INSTANTIATE_TEST_SUITE_P(prefix, fixture, ::testing::Values(L"i686", L"x86_64"), \
                             [](const auto& info) { return test::Narrow(info.param); })

// Polls the condition every 20 ms until it holds; false when it still does not after
// timeoutMs. What another process or thread does is waited for this way.
template <class Condition>
bool Eventually(Condition condition, DWORD timeoutMs = 5000) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 20, Sleep(20))
        if (condition()) return true;
    return condition();
}

// Calls `call` with the last error set to 0xdeadbeef first: a success when the call
// fails (FALSE, or INVALID_HANDLE_VALUE) and leaves `error` as the last error.
template <class Call>
::testing::AssertionResult FailsWith(DWORD error, Call call) {
    SetLastError(0xdeadbeef);
    auto result = call();
    DWORD got = GetLastError();
    bool failed;
    if constexpr (std::is_pointer_v<decltype(result)>)
        failed = result == INVALID_HANDLE_VALUE;
    else
        failed = !result;
    if (failed && got == error) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << (failed ? "failed" : "succeeded") << " with last error " << got;
}

bool WriteTextFile(const std::wstring& path, const char* text);
std::string ReadTextFile(const std::wstring& path);
std::string Narrow(const std::wstring& text);

}  // namespace test
