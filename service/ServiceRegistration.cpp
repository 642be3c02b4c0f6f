// Registration as a COM local server application and installation as a service.
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>

#include "WinHandles.h"
#include "ServiceModule.h"
#include "ZORABase.h"

namespace {
// The keys of the registration script (REGISTRY resource, ZORASrvc.rgs), applied
// here because the program carries no script registrar. "AppID" itself is never
// removed.
constexpr wchar_t kAppIdName[] = L"ZORASrvc";
constexpr wchar_t kExeKey[] = L"ZORASrvc.EXE";

constexpr wchar_t kLocalServiceValue[] = L"LocalService";
constexpr wchar_t kServiceParametersValue[] = L"ServiceParameters";
constexpr wchar_t kServiceParameters[] = L"-Service";
constexpr wchar_t kDependencies[] = L"RPCSS\0";

// How long removal waits for a running service to stop before deleting it.
constexpr DWORD kStopWaitMs = 10000;

HRESULT FromWin32(LONG rc) { return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc); }

LONG SetString(HKEY key, const wchar_t* name, const wchar_t* value) {
    DWORD bytes = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes);
}

LONG CreateKey(HKEY parent, const wchar_t* name, UniqueKey* key) {
    return RegCreateKeyExW(parent, name, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, key->put(), nullptr);
}

HRESULT ApplyRegistrationScript() {
    UniqueKey appIdRoot, appId, exe;
    LONG rc = CreateKey(HKEY_CLASSES_ROOT, kAppIdRoot, &appIdRoot);
    if (rc == ERROR_SUCCESS) rc = CreateKey(appIdRoot.get(), kAppIdGuid, &appId);
    if (rc == ERROR_SUCCESS) rc = SetString(appId.get(), nullptr, kAppIdName);
    if (rc == ERROR_SUCCESS) rc = CreateKey(appIdRoot.get(), kExeKey, &exe);
    if (rc == ERROR_SUCCESS) rc = SetString(exe.get(), L"AppID", kAppIdGuid);
    return FromWin32(rc);
}

// Keys already gone count as removed.
void RemoveRegistrationScript() {
    UniqueKey appIdRoot;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kAppIdRoot, 0, KEY_READ | KEY_WRITE, appIdRoot.put()) != ERROR_SUCCESS)
        return;
    RegDeleteTreeW(appIdRoot.get(), kAppIdGuid);
    RegDeleteTreeW(appIdRoot.get(), kExeKey);
}

HRESULT SetServiceValues(bool service) {
    UniqueKey appIdRoot, appId;
    LONG rc = RegOpenKeyExW(HKEY_CLASSES_ROOT, kAppIdRoot, 0, KEY_READ, appIdRoot.put());
    if (rc == ERROR_SUCCESS) rc = RegOpenKeyExW(appIdRoot.get(), kAppIdGuid, 0, KEY_READ | KEY_WRITE, appId.put());
    if (rc != ERROR_SUCCESS) return FromWin32(rc);
    RegDeleteValueW(appId.get(), kLocalServiceValue);
    if (!service) return S_OK;
    rc = SetString(appId.get(), kLocalServiceValue, _Module.ServiceName());
    if (rc == ERROR_SUCCESS) rc = SetString(appId.get(), kServiceParametersValue, kServiceParameters);
    return FromWin32(rc);
}

bool ModulePath(wchar_t* path, DWORD chars) {
    DWORD n = GetModuleFileNameW(nullptr, path, chars);
    return n > 0 && n < chars;
}

HRESULT RegisterTypeLibrary() {
    wchar_t path[MAX_PATH];
    if (!ModulePath(path, MAX_PATH)) return E_FAIL;
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    return RegisterTypeLib(library.get(), path, nullptr);
}

HRESULT UnregisterTypeLibrary() {
    wchar_t path[MAX_PATH];
    if (!ModulePath(path, MAX_PATH)) return E_FAIL;
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    TLIBATTR* attributes = nullptr;
    hr = library->GetLibAttr(&attributes);
    if (FAILED(hr)) return hr;
    ScopeExit releaseAttributes([&] { library->ReleaseTLibAttr(attributes); });
    return UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                             attributes->syskind);
}

// A started service needs a moment to reach "stopped"; deleting it before that
// only marks it, and a following installation would find it still there.
void WaitUntilStopped(SC_HANDLE service) {
    for (DWORD waited = 0; waited < kStopWaitMs; waited += 100) {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOPPED) return;
        Sleep(100);
    }
}

// Failures are told to whoever started the program: on its error stream when that
// is redirected (an installer script, a log), else in a message box.
bool ErrorStreamRedirected() {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (!error || error == INVALID_HANDLE_VALUE) return false;
    DWORD type = GetFileType(error);
    return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
}

void WriteErrorStream(const wchar_t* caption, const wchar_t* text) {
    char line[600];
    int n = _snprintf(line, sizeof(line) - 1, "%ls: %ls\n", caption, text);
    if (n < 0 || n >= static_cast<int>(sizeof(line))) n = sizeof(line) - 1;
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(n), &written, nullptr);
}

struct ComScope {
    HRESULT hr = CoInitialize(nullptr);
    ~ComScope() {
        if (SUCCEEDED(hr)) CoUninitialize();
    }
};
}  // namespace

void CServiceModule::ReportFailure(const wchar_t* text) {
    CZORABase::DBGOUT(L"%s\n", text);
    if (ErrorStreamRedirected())
        WriteErrorStream(m_szServiceName, text);
    else
        MessageBoxW(nullptr, text, m_szServiceName, MB_OK);
}

HRESULT CServiceModule::RegisterServer(BOOL service) {
    ComScope com;
    if (FAILED(com.hr)) return com.hr;
    HRESULT hr = Uninstall();
    if (FAILED(hr)) return hr;
    hr = ApplyRegistrationScript();
    if (FAILED(hr)) return hr;
    hr = SetServiceValues(service != FALSE);
    if (SUCCEEDED(hr) && service) hr = Install();
    if (FAILED(hr)) return hr;
    return RegisterTypeLibrary();
}

HRESULT CServiceModule::UnregisterServer() {
    ComScope com;
    if (FAILED(com.hr)) return com.hr;
    RemoveRegistrationScript();
    Uninstall();
    UnregisterTypeLibrary();
    return S_OK;
}

BOOL CServiceModule::IsInstalled() {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return FALSE;
    UniqueServiceHandle service(OpenServiceW(manager.get(), m_szServiceName, SERVICE_QUERY_CONFIG));
    return service ? TRUE : FALSE;
}

HRESULT CServiceModule::Install() {
    if (IsInstalled()) return S_OK;
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        ReportFailure(L"Couldn't open service manager");
        return hr;
    }
    // Quoted, so that a folder with spaces cannot be taken for another program.
    wchar_t path[MAX_PATH];
    wchar_t binary[MAX_PATH + 2];
    if (!ModulePath(path, MAX_PATH)) return E_FAIL;
    _snwprintf(binary, MAX_PATH + 2, L"\"%s\"", path);
    binary[MAX_PATH + 1] = L'\0';

    UniqueServiceHandle created(CreateServiceW(manager.get(), m_szServiceName, m_szServiceName, SERVICE_ALL_ACCESS,
                                               SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                               binary, nullptr, nullptr, kDependencies, nullptr, nullptr));
    if (!created) {
        HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        ReportFailure(L"Couldn't create service");
        return hr;
    }
    SetRestartOnFailure(created.get());
    return S_OK;
}

// A service that ends with an error (its worker ended, its boards could not be made)
// is started again by the service manager: after 5 s, twice, then after a minute.
// Best effort: a service manager without failure actions still installs the service.
void CServiceModule::SetRestartOnFailure(SC_HANDLE service) {
    SC_ACTION actions[3] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 60000}};
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = 24 * 60 * 60;
    failure.cActions = ARRAYSIZE(actions);
    failure.lpsaActions = actions;
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure))
        CZORABase::DBGOUT(L"Couldn't set the service's failure actions: %lu\n", GetLastError());
    // Also when the service stops itself with an error, not only when its process dies.
    SERVICE_FAILURE_ACTIONS_FLAG onError{TRUE};
    ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onError);
}

HRESULT CServiceModule::Uninstall() {
    if (!IsInstalled()) return S_OK;
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        ReportFailure(L"Couldn't open service manager");
        return hr;
    }
    UniqueServiceHandle service(
        OpenServiceW(manager.get(), m_szServiceName, SERVICE_STOP | DELETE | SERVICE_QUERY_STATUS));
    if (!service) {
        HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        ReportFailure(L"Couldn't open service");
        return hr;
    }
    SERVICE_STATUS status{};
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) WaitUntilStopped(service.get());
    if (!DeleteService(service.get())) {
        HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        ReportFailure(L"Service could not be deleted");
        return hr;
    }
    return S_OK;
}
