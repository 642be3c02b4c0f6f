#include "TALOApp.h"

#include <commctrl.h>

#include <cstdio>
#include <string>

#include "AppConfig.h"
#include "DeviceItems.h"
#include "BalloonDlg.h"
#include "Hub.h"
#include "HotKey.h"
#include "SchemeSeeding.h"
#include "ZORACfg.h"

namespace talo {
namespace {

// The exit code of a start-up that was refused or failed.
constexpr int kStartFailed = 1;

CDummyDlg* g_hub = nullptr;
CBalloon2Dlg* g_balloon = nullptr;

// The system's text for an error code, without its line end; empty when it has none.
std::wstring SystemText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring result = length != 0 && text != nullptr ? std::wstring(text, length) : std::wstring();
    if (text != nullptr) LocalFree(text);
    while (!result.empty() && (result.back() == L'\n' || result.back() == L'\r' || result.back() == L' '))
        result.pop_back();
    return result;
}

// "<the system's text> (<code>)", or "error <code>" when the system has no text.
std::wstring Reason(DWORD error) {
    std::wstring text = SystemText(error);
    return text.empty() ? L"error " + std::to_wstring(error) : text + L" (" + std::to_wstring(error) + L")";
}

// A start that cannot go on says which file and why: one debugger line and a message box.
// The texts are English: without a resource module there is none to take them from.
// The box shows whenever start-up ends so, for whoever started TALO (at logon too); it
// blocks until it is answered, and a test answers it as a user does (it is a visible
// dialog of TALO's process with the text below).
void SayCannotStart(const std::wstring& what) {
    const std::wstring line = L"TALO cannot start: " + what + L"\n";
    OutputDebugStringW(line.c_str());
    const std::wstring text = L"TALO cannot start.\n\n" + what;
    MessageBoxW(nullptr, text.c_str(), kProductLongName, MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
}

// The debugger's line for a window start-up could not make, with the system's reason.
void SayNotMade(const wchar_t* window, DWORD error) {
    wchar_t line[100];
    swprintf(line, 100, L"TALO: the %ls window could not be made (%lu).\n", window, error);
    OutputDebugStringW(line);
}

}  // namespace

CDummyDlg* Hub() { return g_hub; }
CBalloon2Dlg* Balloon() { return g_balloon; }

CTALOApp::~CTALOApp() {
    if (m_resourceModule != nullptr) {
        SetResourceModule(nullptr);
        FreeLibrary(m_resourceModule);
    }
}

int CTALOApp::LoadResourceModule() {
    HINSTANCE module = LoadLibraryW(m_resourcePath.c_str());
    if (module == nullptr) {
        m_loadError = GetLastError();
        wchar_t line[400];
        swprintf(line, 400, L"Load new resource module failed [%ls] for %lu.", m_resourcePath.c_str(), m_loadError);
        OutputDebugStringW(line);
        return 0;
    }
    if (m_resourceModule != nullptr) FreeLibrary(m_resourceModule);
    m_resourceModule = module;
    SetResourceModule(module);
    return 1;
}

bool CTALOApp::ReadResourcePath(std::wstring* problem) {
    CZORACfg cfg;
    const bool found = cfg.Initialize(CfgFileName()) != 0;
    const std::wstring path = cfg.GetFullPath();
    if (!found) {
        // Where TALO looked first: cfg\ beside the library's folder.
        wchar_t home[MAX_PATH] = L"";
        CZORACfg().GetHomePath(home, MAX_PATH);
        std::wstring expected = std::wstring(home) + L"\\cfg\\" + CfgFileName();
        *problem = L"the configuration file " + expected + L" is missing";
        if (!path.empty() && _wcsicmp(path.c_str(), expected.c_str()) != 0)
            *problem += L" (and so is " + path + L", where the installation key points)";
        *problem += L".";
        return false;
    }
    GetCfgString(CfgFileName(), L"TALOCfg", L"TALOResource", m_resourcePath);
    if (!m_resourcePath.empty()) return true;
    // An empty value, no such key, or a file that is no settings file at all.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *problem = L"the configuration file " + path + L" cannot be read: " + Reason(GetLastError()) + L".";
        return false;
    }
    CloseHandle(file);
    *problem = L"the configuration file " + path +
               L" names no resource module: its [TALOCfg] section has no TALOResource value"
               L" (the file is damaged or not TALO's).";
    return false;
}

bool CTALOApp::InitInstance() {
    INITCOMMONCONTROLSEX controls = {8, 0xFF};
    InitCommonControlsEx(&controls);

    // One TALO per session: a second one leaves without a word.
    m_instanceMutex = CreateMutexW(nullptr, FALSE, L"TALO.exe");
    if (m_instanceMutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(m_instanceMutex);
        m_instanceMutex = nullptr;
        m_exitCode = kStartFailed;
        return false;
    }

    // "Load resource Dll failed!!!" whenever no module is loaded, and
    // before it "Load new resource module failed [...]" where a load was tried; then the
    // line that names the file and the cause, and the box.
    std::wstring problem;
    if (!ReadResourcePath(&problem)) {
        OutputDebugStringW(L"Load resource Dll failed!!!\n");
        SayCannotStart(problem);
        m_exitCode = kStartFailed;
        return false;
    }
    if (!LoadResourceModule()) {
        OutputDebugStringW(L"Load resource Dll failed!!!\n");
        CZORACfg cfg;
        cfg.Initialize(CfgFileName());
        SayCannotStart(L"the resource module " + m_resourcePath + L" cannot be loaded: " + Reason(m_loadError) +
                       L". It is named by [TALOCfg] TALOResource in " + cfg.GetFullPath() + L".");
        m_exitCode = kStartFailed;
        return false;
    }
    SetStartFlagValue(ReadStartFlag());

    g_hub = new CDummyDlg;
    if (g_hub->Create(nullptr) == nullptr) {
        // Without its hub TALO would run on with no window at all.
        const DWORD error = GetLastError();
        SayNotMade(L"hub", error);
        SayCannotStart(L"its hidden window (dialog template " + std::to_wstring(CDummyDlg::IDD) +
                       L" of the resource module " + m_resourcePath + L") cannot be made: " + Reason(error) + L".");
        delete g_hub;
        g_hub = nullptr;
        m_exitCode = kStartFailed;
        return false;
    }
    SeedSchemeSettings();
    LoadDeviceItems();
    g_hub->StartTray();
    LoadHotKeyText();
    RegisterQuickSwitchHotKey(g_hub->m_hWnd, HotKeyText().c_str());
    // The balloon, hidden until the hub shows it; TALO works on without it.
    g_balloon = new CBalloon2Dlg(true);
    if (g_balloon->Create(nullptr) == nullptr) {
        SayNotMade(L"balloon", GetLastError());
        delete g_balloon;
        g_balloon = nullptr;
    }

    RunMessageLoop();
    return false;
}

int CTALOApp::ExitInstance() {
    if (g_balloon != nullptr) {
        if (g_balloon->m_hWnd != nullptr) g_balloon->DestroyWindow();
        delete g_balloon;
        g_balloon = nullptr;
    }
    FreeDeviceItems();
    if (g_hub != nullptr) {
        if (g_hub->m_hWnd != nullptr) {
            UnregisterHotKey(g_hub->m_hWnd, kQuickSwitchHotKeyId);
            g_hub->DestroyWindow();
        }
        delete g_hub;
        g_hub = nullptr;
    }
    if (m_instanceMutex != nullptr) {
        CloseHandle(m_instanceMutex);
        m_instanceMutex = nullptr;
    }
    return CTaloAppBase::ExitInstance();
}

}  // namespace talo
