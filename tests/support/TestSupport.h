#pragma once
// What the multi-process tests share: starting the peer programs of either
// architecture, temporary folders, named events for hand-shakes.
#include <windows.h>

#include <memory>
#include <string>

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
    // commandLine is quoted by the caller; stdout is collected when capture is set.
    bool Start(const std::wstring& program, const std::wstring& arguments, bool capture = false);
    // Exit code, or -1 on time-out.
    int Wait(DWORD timeoutMs = 30000);
    const std::string& Output();
    DWORD Id() const { return m_info.dwProcessId; }

private:
    PROCESS_INFORMATION m_info{};
    HANDLE m_readPipe = nullptr;
    std::string m_output;
};

// Runs a program to its end; returns the exit code and its output.
int Run(const std::wstring& program, const std::wstring& arguments, std::string* output = nullptr,
        DWORD timeoutMs = 30000);

// Value of "name=value" in a peer's output, or "(missing)".
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
    // Returns false when the program is missing or did not come up.
    bool Start(const wchar_t* arch);
    // Ends it as the service ends its worker.
    void Stop();
    ~Answerer();

private:
    Process m_process;
    std::unique_ptr<NamedEvent> m_stop;
    bool m_running = false;
};

bool WriteTextFile(const std::wstring& path, const char* text);
bool CopyInto(const std::wstring& source, const std::wstring& folder);
std::string Narrow(const std::wstring& text);

}  // namespace test
