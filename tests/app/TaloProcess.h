// TALO as its own process in the tests: started on the virtual notebook, found by its
// hidden hub window, ended by closing that window; the user's profile file and TALO's
// registry values read back.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "ZORACfg.h"
#include "ZoraVnb.h"

namespace talo_test {

inline constexpr wchar_t kTaloKey[] = L"Software\\Korvex\\TALO";

// String id of a resource module beside the tests (the English one unless named).
inline std::wstring ModuleString(UINT id, const wchar_t* module = L"TALORes.dll") {
    HMODULE loaded = LoadLibraryExW((test::ExeDir() + L"\\" + module).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    wchar_t text[512] = L"";
    if (loaded != nullptr) {
        LoadStringW(loaded, id, text, 512);
        FreeLibrary(loaded);
    }
    return text;
}

// zoractl's scheme list (zoractl of the test's own architecture): the indexes in
// enumeration order, the names beside them, and the active one's index (-1: none marked).
struct SchemeListing {
    std::vector<int> indexes;
    std::vector<std::wstring> names;
    int active = -1;
};
inline SchemeListing ListSchemes() {
    std::string listing;
    test::Run(test::ProgramPath(test::OwnArch(), L"zoractl.exe"), L"scheme list", &listing);
    SchemeListing schemes;
    size_t at = 0;
    while (at < listing.size()) {
        size_t end = listing.find('\n', at);
        if (end == std::string::npos) end = listing.size();
        std::string line = listing.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > 5 && (line[0] == '*' || line[0] == ' ')) {
            schemes.indexes.push_back(atoi(line.c_str() + 1));
            if (line[0] == '*') schemes.active = schemes.indexes.back();
            // "* 2  Presentation": the name after the index.
            size_t name = line.find_first_not_of(' ', line.find_first_not_of("* 0123456789"));
            schemes.names.emplace_back(name == std::string::npos ? L"" : std::wstring(line.begin() + name, line.end()));
        }
        at = end + 1;
    }
    return schemes;
}

struct HubSearch {
    DWORD processId;
    bool visible;  // what is looked for: the hidden hub, or a dialog on screen
    HWND found;
    int count;
    const wchar_t* className = L"#32770";  // "#32768": a pop-up menu
    std::vector<HWND>* all = nullptr;      // every window found, when given
    bool topmost = false;                  // of hidden ones: the balloon instead of the hub
};

// EnumWindows' callback (WINAPI: a lambda would not be __stdcall in the 32-bit build).
inline BOOL CALLBACK FindHubWindow(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<HubSearch*>(param);
    DWORD owner = 0;
    wchar_t cls[16] = L"";
    GetWindowThreadProcessId(hwnd, &owner);
    GetClassNameW(hwnd, cls, 16);
    if (owner != s->processId || wcscmp(cls, s->className) != 0 || (IsWindowVisible(hwnd) != FALSE) != s->visible)
        return TRUE;
    // The balloon, hidden between its shows too, is the topmost one: never the hub.
    if (!s->visible && ((GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0) != s->topmost) return TRUE;
    if (s->found == nullptr) s->found = hwnd;
    if (s->all != nullptr) s->all->push_back(hwnd);
    ++s->count;
    return TRUE;
}

// The dialogs a process shows, and the first of them (null when none).
inline int CountVisibleDialogs(DWORD processId) {
    HubSearch search = {processId, true, nullptr, 0};
    EnumWindows(FindHubWindow, reinterpret_cast<LPARAM>(&search));
    return search.count;
}
inline HWND VisibleDialogOf(DWORD processId, const wchar_t* className = L"#32770") {
    HubSearch search = {processId, true, nullptr, 0, className};
    EnumWindows(FindHubWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Every dialog a process shows, in the window manager's order.
inline std::vector<HWND> VisibleDialogsOf(DWORD processId) {
    std::vector<HWND> all;
    HubSearch search = {processId, true, nullptr, 0, L"#32770", &all};
    EnumWindows(FindHubWindow, reinterpret_cast<LPARAM>(&search));
    return all;
}

// The balloon of a TALO process, shown or not: the last window its start-up makes, after
// the tray icon and the hotkey. Null before.
inline HWND BalloonOf(DWORD processId) {
    HubSearch search = {processId, false, nullptr, 0, L"#32770", nullptr, true};
    EnumWindows(FindHubWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The hidden top-level dialog window of a process, once its message loop answers.
inline HWND HubOf(DWORD processId, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        HubSearch search = {processId, false, nullptr, 0};
        EnumWindows(FindHubWindow, reinterpret_cast<LPARAM>(&search));
        DWORD_PTR answer = 0;
        if (search.found && SendMessageTimeoutW(search.found, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer))
            return search.found;
        Sleep(50);
    }
    return nullptr;
}

inline std::wstring Talo() { return test::ProgramPath(test::OwnArch(), L"TALO.exe"); }

inline std::wstring ProfilePath() {
    CZORAProfile profile;
    profile.Initialize(L"TALOScheme.ini", nullptr);
    return profile.GetFullPath();
}

inline int ProfileInt(int scheme, const wchar_t* key) {
    return static_cast<int>(GetPrivateProfileIntW((L"Scheme" + std::to_wstring(scheme)).c_str(), key, -1,
                                                  ProfilePath().c_str()));
}

inline void SetTaloFlag(const wchar_t* name, DWORD value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kTaloKey, name, REG_DWORD, &value, sizeof(value));
}

// What a TALO case starts from: a user whose first run is done (TALO's registry values
// anew, the device dialog on or off) on the fresh machine at machinePath, whose battery
// neither charges nor discharges by itself. False (the last error set) when the battery
// cannot be held.
inline bool ReturningUser(const std::wstring& machinePath, DWORD devShowFlag) {
    RegDeleteTreeW(HKEY_CURRENT_USER, kTaloKey);
    SetTaloFlag(L"TALOStartFlag", 1);
    SetTaloFlag(L"DevShowFlag", devShowFlag);
    return VnbSetBatteryRates(machinePath.c_str(), 0, 0, 0) != FALSE;
}

// A DWORD under HKCU\Software\Korvex\TALO; -1 when absent.
inline int TaloFlag(const wchar_t* name) {
    DWORD value = 0, size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, kTaloKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return -1;
    return static_cast<int>(value);
}


// A list view of another process, read and changed through memory in that process: the
// item records LVM_GETITEMTEXTW and LVM_SETITEMSTATE take, and the text, live there. The
// process must be of the test's own architecture (the record's layout).
class RemoteListView {
public:
    RemoteListView(HWND list, DWORD processId)
        : m_list(list), m_process(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId)) {
        if (m_process != nullptr)
            m_memory = static_cast<BYTE*>(VirtualAllocEx(m_process, nullptr, kBytes, MEM_COMMIT, PAGE_READWRITE));
    }
    RemoteListView(const RemoteListView&) = delete;
    RemoteListView& operator=(const RemoteListView&) = delete;
    ~RemoteListView() {
        if (m_memory != nullptr) VirtualFreeEx(m_process, m_memory, 0, MEM_RELEASE);
        if (m_process != nullptr) CloseHandle(m_process);
    }
    bool Ok() const { return m_memory != nullptr; }
    int Count() const { return static_cast<int>(SendMessageW(m_list, LVM_GETITEMCOUNT, 0, 0)); }
    // The row's text in a column (the first by default); "(unreadable)" when the memory
    // could not be used.
    std::wstring Text(int row, int column = 0) const {
        LVITEMW item = {};
        item.iSubItem = column;
        item.cchTextMax = kTextChars;
        item.pszText = reinterpret_cast<wchar_t*>(m_memory + sizeof(LVITEMW));
        wchar_t text[kTextChars] = L"";
        if (!Ok() || !WriteProcessMemory(m_process, m_memory, &item, sizeof(item), nullptr)) return L"(unreadable)";
        SendMessageW(m_list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(m_memory));
        if (!ReadProcessMemory(m_process, item.pszText, text, sizeof(text), nullptr)) return L"(unreadable)";
        text[kTextChars - 1] = L'\0';
        return text;
    }
    // Ticks or clears the row's check box (the state image 2 or 1).
    bool SetCheck(int row, bool checked) const {
        LVITEMW item = {};
        item.stateMask = LVIS_STATEIMAGEMASK;
        item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
        if (!Ok() || !WriteProcessMemory(m_process, m_memory, &item, sizeof(item), nullptr)) return false;
        return SendMessageW(m_list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(m_memory)) != 0;
    }
    bool Checked(int row) const {
        return (SendMessageW(m_list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK) & LVIS_STATEIMAGEMASK) ==
               INDEXTOSTATEIMAGEMASK(2);
    }

private:
    static constexpr int kTextChars = 260;
    static constexpr SIZE_T kBytes = sizeof(LVITEMW) + kTextChars * sizeof(wchar_t);

    HWND m_list;
    HANDLE m_process;
    BYTE* m_memory = nullptr;
};

// TALO in a Wine virtual desktop, where the notification area has a taskbar to live in.
//
// What Wine 8 does here (measured under Xvfb):
// - A program runs in a virtual desktop of its own when the key
//   HKCU\Software\Wine\AppDefaults\<exe>\Explorer has Desktop = <name>; the value <name> of
//   HKCU\Software\Wine\Explorer\Desktops gives its size. With the DWORD EnableShell = 1 in
//   the key Desktops\<name> (without it the taskbar is there but 0 x 0 pixels: only a
//   desktop started by `explorer /desktop=...` or named "shell" has a shell by default),
//   that desktop's explorer draws a taskbar (class "Shell_TrayWnd", the bottom
//   20 pixels) whose notification area shows the icons of the desktop's programs at
//   16 x 16 pixels. The AppDefaults setting holds for a program started from outside Wine;
//   one started by a Windows process inherits that process's desktop unless its
//   STARTUPINFO names another (lpDesktop), which is how the tests start TALO there
//   (DesktopProcess). `explorer /desktop=NAME,1024x768 TALO.exe` does the same, but the
//   process a test starts is then explorer's, not TALO's.
// - Without a virtual desktop Wine shows the icons in a small "Wine System Tray" window
//   of its own, one child window per icon; hotkeys are less reliable there.
// - Windows, the taskbar, Shell_NotifyIconW and hotkeys belong to a desktop: a test sees
//   TALO's only from a thread attached to TALO's desktop (SetThreadDesktop on a thread
//   with no window). There FindWindowW finds the taskbar and TALO's hub, GetDC(nullptr)
//   reads the desktop's pixels, RegisterHotKey fails for a combination TALO holds, and
//   Shell_NotifyIconW(NIM_MODIFY) with no flags tells whether TALO's icon is there
//   without changing it.
// - Nothing outside the shell names the icon a notification-area entry shows, so the tray
//   cases give TALO a resource module whose tray icons are squares of distinct colours
//   and read the taskbar's pixels.
class TaloDesktop {
public:
    static constexpr wchar_t kName[] = L"TaloTray";

    TaloDesktop() {
        RegSetKeyValueW(HKEY_CURRENT_USER, kAppKey, L"Desktop", REG_SZ, kName, sizeof(kName));
        RegSetKeyValueW(HKEY_CURRENT_USER, kDesktopsKey, kName, REG_SZ, kSize, sizeof(kSize));
        const DWORD enableShell = 1;
        RegSetKeyValueW(HKEY_CURRENT_USER, kShellKey, L"EnableShell", REG_DWORD, &enableShell, sizeof(enableShell));
        m_worker = std::thread([this] { Serve(); });
    }
    TaloDesktop(const TaloDesktop&) = delete;
    TaloDesktop& operator=(const TaloDesktop&) = delete;
    ~TaloDesktop() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_worker.join();
        RegDeleteTreeW(HKEY_CURRENT_USER, kAppKey);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kDesktopsKey, kName);
        RegDeleteTreeW(HKEY_CURRENT_USER, kShellKey);
    }

    // Runs task on the thread attached to the desktop (made when create is true and it
    // does not exist yet); false when the desktop could not be opened.
    bool Run(const std::function<void()>& task, bool create = false) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_task = &task;
        m_create = create;
        m_done = false;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_done; });
        return m_attached;
    }

private:
    static constexpr wchar_t kAppKey[] = L"Software\\Wine\\AppDefaults\\TALO.exe\\Explorer";
    static constexpr wchar_t kDesktopsKey[] = L"Software\\Wine\\Explorer\\Desktops";
    static constexpr wchar_t kShellKey[] = L"Software\\Wine\\Explorer\\Desktops\\TaloTray";
    static constexpr wchar_t kSize[] = L"1024x768";

    void Serve() {
        HDESK desktop = nullptr;
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_stop || m_task != nullptr; });
            if (m_stop) break;
            if (desktop == nullptr) {
                desktop = OpenDesktopW(kName, 0, FALSE, GENERIC_ALL);
                if (desktop == nullptr && m_create) desktop = CreateDesktopW(kName, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
                m_attached = desktop != nullptr && SetThreadDesktop(desktop);
            }
            if (m_attached) (*m_task)();
            m_task = nullptr;
            m_done = true;
            m_changed.notify_all();
        }
        if (desktop != nullptr) CloseDesktop(desktop);
    }

    std::thread m_worker;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    const std::function<void()>* m_task = nullptr;
    bool m_create = false;
    bool m_done = false;
    bool m_attached = false;
    bool m_stop = false;
};

// A program started on TaloDesktop's desktop; killed on destruction if still running.
class DesktopProcess {
public:
    DesktopProcess() = default;
    DesktopProcess(const DesktopProcess&) = delete;
    DesktopProcess& operator=(const DesktopProcess&) = delete;
    ~DesktopProcess() {
        if (m_info.hProcess != nullptr && WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(m_info.hProcess, 99);
            WaitForSingleObject(m_info.hProcess, 5000);
        }
        if (m_info.hProcess != nullptr) CloseHandle(m_info.hProcess);
        if (m_info.hThread != nullptr) CloseHandle(m_info.hThread);
    }
    bool Start(const std::wstring& program) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        wchar_t desktop[32];
        wcscpy(desktop, TaloDesktop::kName);
        startup.lpDesktop = desktop;
        std::wstring commandLine = L"\"" + program + L"\"";
        return CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &m_info) != FALSE;
    }
    DWORD Id() const { return m_info.dwProcessId; }
    // Exit code, or -1 on time-out.
    int Wait(DWORD timeoutMs) {
        DWORD code = 0;
        if (WaitForSingleObject(m_info.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
        GetExitCodeProcess(m_info.hProcess, &code);
        return static_cast<int>(code);
    }

private:
    PROCESS_INFORMATION m_info = {};
};

}  // namespace talo_test
