#include "GraphicsHelper.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>

#include "WinHandles.h"
#include "ZORACfg.h"
#include "ZoraInstallKey.h"

namespace {
constexpr wchar_t kHelper[] = L"GRAVO.exe";
constexpr DWORD kHelperWaitMs = 30000;
constexpr DWORD kHelperStopGraceMs = 2000;

// The installation folder with its trailing backslash; false when the key has none.
bool InstallationFolder(wchar_t (&folder)[MAX_PATH]) {
    DWORD bytes = sizeof(folder) - sizeof(wchar_t);
    folder[0] = L'\0';
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ZORA_INSTALL_KEY, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) !=
            ERROR_SUCCESS ||
        RegGetValueW(key.get(), nullptr, ZORA_INSTALL_SDK_FOLDER, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr, folder,
                     &bytes) != ERROR_SUCCESS ||
        !folder[0])
        return false;
    size_t n = wcslen(folder);
    if (folder[n - 1] != L'\\' && n + 1 < MAX_PATH) wcscat(folder, L"\\");
    return true;
}

bool HelperIn(const wchar_t* folder, wchar_t (&path)[MAX_PATH]) {
    if (!folder[0]) return false;
    int n = _snwprintf(path, MAX_PATH, L"%s%s%s", folder, folder[wcslen(folder) - 1] == L'\\' ? L"" : L"\\", kHelper);
    return n > 0 && n < MAX_PATH && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// The helper's path: in the installation folder (else the library's home folder),
// then beside the library, where the build installs it.
bool HelperPath(wchar_t (&path)[MAX_PATH]) {
    wchar_t folder[MAX_PATH] = {};
    CZORACfg cfg;
    if (!InstallationFolder(folder) && !cfg.GetHomePath(folder, MAX_PATH)) folder[0] = L'\0';
    if (HelperIn(folder, path)) return true;
    return cfg.GetDllPath(folder, MAX_PATH) && HelperIn(folder, path);
}

// The primary token of the console session's "winlogon.exe"; null when there is none.
HANDLE ConsoleWinlogonToken() {
    DWORD console = WTSGetActiveConsoleSessionId();
    UniqueSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return nullptr;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        DWORD session = 0;
        if (_wcsicmp(entry.szExeFile, L"winlogon.exe") != 0 ||
            !ProcessIdToSessionId(entry.th32ProcessID, &session) || session != console)
            continue;
        UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID));
        HANDLE token = nullptr;
        if (process && OpenProcessToken(process.get(), TOKEN_ALL_ACCESS, &token)) return token;
    }
    return nullptr;
}
}  // namespace

bool RunGraphicsHelper(int argument, bool vista, HANDLE stop) {
    wchar_t path[MAX_PATH] = {};
    if (!HelperPath(path)) {
        CZORABase::DBGOUT(L"The graphics helper %s is not installed.", kHelper);
        return false;
    }
    // The program's path is quoted on every version: unquoted, a path with blanks could
    // start another program.
    wchar_t commandLine[2 * MAX_PATH];
    _snwprintf(commandLine, ARRAYSIZE(commandLine), L"\"%s\" %d", path, argument);
    commandLine[ARRAYSIZE(commandLine) - 1] = L'\0';
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    BOOL ok = FALSE;
    if (vista) {
        UniqueHandle token(ConsoleWinlogonToken());
        if (!token) {
            CZORABase::DBGOUT(L"No winlogon.exe in the console session: the graphics helper is not started.");
            return false;
        }
        ok = CreateProcessAsUserW(token.get(), nullptr, commandLine, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                  nullptr, &startup, &started);
    } else {
        ok = CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started);
    }
    if (!ok) {
        CZORABase::DBGOUT(L"The graphics helper did not start: %lu", GetLastError());
        return false;
    }
    UniqueHandle process(started.hProcess), thread(started.hThread);
    // A helper that hangs (a driver that never answers) must not hold every later
    // application, nor a stop of the service, behind it. Once the service stops, the
    // helper has a short while left to finish.
    HANDLE waits[2] = {process.get(), stop};
    DWORD wait = WaitForMultipleObjects(stop ? 2 : 1, waits, FALSE, kHelperWaitMs);
    if (wait == WAIT_OBJECT_0 + 1) wait = WaitForSingleObject(process.get(), kHelperStopGraceMs);
    if (wait == WAIT_OBJECT_0) return true;
    CZORABase::DBGOUT(L"The graphics helper did not end in time and was ended.");
    TerminateProcess(process.get(), ERROR_TIMEOUT);
    return false;
}
