#include "TestSupport.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include "InterProcessBoard.h"
#include "IpbProtocol.h"

namespace test {

const wchar_t* OwnArch() { return sizeof(void*) == 8 ? L"x86_64" : L"i686"; }
const wchar_t* OtherArch() { return sizeof(void*) == 8 ? L"i686" : L"x86_64"; }

bool ArchRuns(const wchar_t* arch) {
    if (wcscmp(arch, OwnArch()) == 0) return true;
    // Once per process: -1 not known yet, 0 cannot, 1 can. The test script has probed the
    // machine and says so in ZORA_WIN32; where it has, a 32-bit program that fails to start
    // must fail its case, not skip it. Without it, zoractl without arguments (usage, exit
    // 2) is the probe.
    static std::atomic<int> otherRuns{-1};
    if (otherRuns < 0) {
        wchar_t said[4] = {};
        if (GetEnvironmentVariableW(L"ZORA_WIN32", said, 4) == 1 && (said[0] == L'0' || said[0] == L'1')) {
            otherRuns = said[0] == L'1' || sizeof(void*) == 4 ? 1 : 0;
        } else {
            std::wstring zoractl = ProgramPath(arch, L"zoractl.exe");
            otherRuns = !zoractl.empty() && Run(zoractl, L"", nullptr) == 2 ? 1 : 0;
        }
    }
    return otherRuns == 1;
}

std::string CannotRun(const wchar_t* arch) {
    return "this machine cannot run " + Narrow(arch) + " programs (no 32-bit user mode for Wine's 32-bit side)";
}

const wchar_t* PeerArch() { return ArchRuns(OtherArch()) ? OtherArch() : OwnArch(); }

std::wstring ExeDir() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L'\\'));
}

std::wstring ProgramPath(const wchar_t* arch, const wchar_t* name) {
    // <build>/<arch>/bin/<name>: the two architectures are built side by side.
    std::wstring bin = ExeDir();
    std::wstring root = bin.substr(0, bin.find_last_of(L'\\'));
    root = root.substr(0, root.find_last_of(L'\\'));
    std::wstring path = root + L"\\" + arch + L"\\bin\\" + name;
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? std::wstring() : path;
}

Process::~Process() {
    if (Running()) {
        TerminateProcess(m_info.hProcess, 99);
        WaitForSingleObject(m_info.hProcess, 5000);
    }
    if (m_reader.joinable()) m_reader.join();
    if (m_info.hProcess) CloseHandle(m_info.hProcess);
    if (m_info.hThread) CloseHandle(m_info.hThread);
}

bool Process::Start(const std::wstring& program, const std::wstring& arguments, bool capture) {
    // The first program of a session that needs Wine's desktop (a window, COM's
    // apartment window, the system's WMI module) starts the desktop process, which
    // inherits that program's output pipe and keeps it open for as long as it runs: this
    // process brings the desktop up before any child can.
    static const HWND desktop = GetDesktopWindow();
    (void)desktop;
    std::wstring commandLine = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    HANDLE readPipe = nullptr, writePipe = nullptr;
    if (capture) {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        if (!CreatePipe(&readPipe, &writePipe, &inherit, 0)) return false;
        SetHandleInformation(readPipe, HANDLE_FLAG_INHERIT, 0);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = writePipe;
    }
    BOOL ok = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, capture, 0, nullptr, nullptr,
                             &startup, &m_info);
    if (writePipe) CloseHandle(writePipe);
    if (!ok) {
        if (readPipe) CloseHandle(readPipe);
        return false;
    }
    if (capture) {
        m_reader = std::thread([this, readPipe] {
            char buffer[1024];
            DWORD got = 0;
            while (ReadFile(readPipe, buffer, sizeof(buffer), &got, nullptr) && got) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_output.append(buffer, got);
                m_changed.notify_all();
            }
            CloseHandle(readPipe);
        });
    }
    return true;
}

int Process::Wait(DWORD timeoutMs) {
    if (WaitForSingleObject(m_info.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
    if (m_reader.joinable()) m_reader.join();  // the rest of its output
    DWORD code = 0;
    GetExitCodeProcess(m_info.hProcess, &code);
    return static_cast<int>(code);
}

bool Process::WaitForOutput(const std::string& text, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_output.find(text) != std::string::npos; });
}

std::string Process::Output() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_output;
}

bool Process::Quit() { return PostThreadMessageW(m_info.dwThreadId, WM_QUIT, 0, 0) != FALSE; }

bool Process::Running() const { return m_info.hProcess && WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT; }

int Run(const std::wstring& program, const std::wstring& arguments, std::string* output, DWORD timeoutMs) {
    Process process;
    if (!process.Start(program, arguments, output != nullptr)) return -2;
    int code = process.Wait(timeoutMs);
    if (output) *output = process.Output();
    return code;
}

std::string Field(const std::string& output, const std::string& name) {
    std::string key = name + "=";
    size_t at = output.rfind("\n" + key);
    at = at == std::string::npos ? (output.compare(0, key.size(), key) == 0 ? 0 : std::string::npos) : at + 1;
    if (at == std::string::npos) return "(missing)";
    size_t end = output.find_first_of("\r\n", at);
    return output.substr(at + key.size(), end == std::string::npos ? std::string::npos : end - at - key.size());
}

namespace {
std::atomic<int> g_counter{0};

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName, child = path + L"\\" + name;
            if (name == L"." || name == L"..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}
}  // namespace

TempDir::TempDir() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    m_path = std::wstring(base) + L"zora-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(g_counter++);
    CreateDirectoryW(m_path.c_str(), nullptr);
}

TempDir::~TempDir() { RemoveTree(m_path); }

TempInstall::TempInstall(const wchar_t* arch, std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> copies) {
    CreateDirectoryW(Bin().c_str(), nullptr);
    CreateDirectoryW(Cfg().c_str(), nullptr);
    for (const auto& [name, as] : copies) {
        std::wstring target = Bin() + L"\\" + (as ? as : name);
        m_ok = m_ok && CopyFileW(ProgramPath(arch, name).c_str(), target.c_str(), FALSE);
    }
}

bool TempInstall::SetConfig(const char* text) const { return WriteTextFile(Cfg() + L"\\ZORACfg.ini", text); }

NamedEvent::NamedEvent(const wchar_t* purpose, BOOL manualReset) {
    m_name = std::wstring(L"Global\\zora_test_") + purpose + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
             std::to_wstring(g_counter++);
    m_handle = CreateEventW(nullptr, manualReset, FALSE, m_name.c_str());
}

NamedEvent::~NamedEvent() {
    if (m_handle) CloseHandle(m_handle);
}

bool Answerer::Start(const wchar_t* arch, bool echo) {
    std::wstring peer = ProgramPath(arch, L"zora_peer.exe");
    NamedEvent ready(L"ready");
    m_stop = std::make_unique<NamedEvent>(L"stop");
    if (peer.empty() || !m_process.Start(peer, L"serve " + ready.Name() + L" " + m_stop->Name() + (echo ? L" echo" : L""), echo))
        return false;
    m_running = WaitForSingleObject(ready.Get(), 10000) == WAIT_OBJECT_0;
    return m_running;
}

void Answerer::Stop() {
    if (!m_running) return;
    m_running = false;
    SetEvent(m_stop->Get());
    m_process.Wait(10000);
}

Answerer::~Answerer() { Stop(); }

bool WriteTextFile(const std::wstring& path, const char* text) {
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file) return false;
    fputs(text, file);
    return fclose(file) == 0;
}

std::string ReadTextFile(const std::wstring& path) {
    std::string text;
    if (FILE* file = _wfopen(path.c_str(), L"rb")) {
        char buffer[4096];
        for (size_t got; (got = fread(buffer, 1, sizeof(buffer), file)) > 0;) text.append(buffer, got);
        fclose(file);
    }
    return text;
}

std::string Narrow(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    return out;
}


bool RunsAsVista() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&version);
#pragma GCC diagnostic pop
    return version.dwMajorVersion == 6;
}

WindowsVersionOf::WindowsVersionOf(const wchar_t* exe, const wchar_t* version)
    : m_key(std::wstring(L"Software\\Wine\\AppDefaults\\") + exe) {
    wchar_t previous[64] = {};
    DWORD bytes = sizeof(previous) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, m_key.c_str(), L"Version", RRF_RT_REG_SZ, nullptr, previous, &bytes) ==
        ERROR_SUCCESS)
        m_previous = previous;
    RegSetKeyValueW(HKEY_CURRENT_USER, m_key.c_str(), L"Version", REG_SZ, version,
                    static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
}

WindowsVersionOf::~WindowsVersionOf() {
    if (m_previous.empty())
        RegDeleteKeyValueW(HKEY_CURRENT_USER, m_key.c_str(), L"Version");
    else
        RegSetKeyValueW(HKEY_CURRENT_USER, m_key.c_str(), L"Version", REG_SZ, m_previous.c_str(),
                        static_cast<DWORD>((m_previous.size() + 1) * sizeof(wchar_t)));
}

}  // namespace test
