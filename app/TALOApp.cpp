#include "TALOApp.h"

#include <commctrl.h>

#include <cstdio>

#include "AppConfig.h"
#include "BalloonDlg.h"
#include "DummyDlg.h"
#include "HotKey.h"
#include "SchemeSeeding.h"

namespace talo {
namespace {

// The exit code of a start-up that was refused or failed.
constexpr int kStartFailed = 1;

CDummyDlg* g_hub = nullptr;
CBalloon2Dlg* g_balloon = nullptr;

// The debugger's line for a window start-up could not make, with the system's reason.
void SayNotMade(const wchar_t* window) {
    const DWORD error = GetLastError();
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
        wchar_t line[400];
        swprintf(line, 400, L"Load new resource module failed [%ls] for %lu.", m_resourcePath.c_str(),
                 GetLastError());
        OutputDebugStringW(line);
        return 0;
    }
    if (m_resourceModule != nullptr) FreeLibrary(m_resourceModule);
    m_resourceModule = module;
    SetResourceModule(module);
    return 1;
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

    GetCfgString(CfgFileName(), L"TALOCfg", L"TALOResource", m_resourcePath);
    if (!LoadResourceModule()) {
        OutputDebugStringW(L"Load resource Dll failed!!!\n");
        m_exitCode = kStartFailed;
        return false;
    }
    SetStartFlagValue(ReadStartFlag());

    g_hub = new CDummyDlg;
    if (g_hub->Create(nullptr) == nullptr) {
        // Without its hub TALO would run on with no window at all.
        SayNotMade(L"hub");
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
    g_balloon = new CBalloon2Dlg(g_hub);
    if (g_balloon->Create(nullptr) == nullptr) {
        SayNotMade(L"balloon");
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
