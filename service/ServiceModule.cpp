#include "ServiceModule.h"

#include <objbase.h>

#include <cstdarg>
#include <cwchar>

#include "CommandLine.h"
#include "SchemeApply.h"
#include "ServiceEvents.h"
#include "WinHandles.h"
#include "ZORABase.h"
#include "ZoraSystemApi.h"
#include "ZoraWorker.h"
#include "resource.h"

namespace {
// Stop, power event, session change.
constexpr DWORD kAcceptedControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_POWEREVENT | SERVICE_ACCEPT_SESSIONCHANGE;
static_assert(kAcceptedControls == 0xC1);

// Controls a service may define for itself.
constexpr DWORD kFirstUserControl = 128;
constexpr DWORD kLastUserControl = 255;

// The module's class objects, ended by an empty entry. The module offers none: its
// type library declares no interfaces.
struct ClassObjectEntry {
    const CLSID* clsid;
    HRESULT (*createFactory)(IUnknown** factory);
    DWORD cookie;
};
ClassObjectEntry g_classObjects[] = {{nullptr, nullptr, 0}};

HRESULT RegisterClassObjects() {
    for (ClassObjectEntry* entry = g_classObjects; entry->clsid; ++entry) {
        ComPtr<IUnknown> factory;
        HRESULT hr = entry->createFactory(&factory);
        if (FAILED(hr)) return hr;
        hr = CoRegisterClassObject(*entry->clsid, factory.get(), CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                   REGCLS_MULTIPLEUSE, &entry->cookie);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

void RevokeClassObjects() {
    for (ClassObjectEntry* entry = g_classObjects; entry->clsid; ++entry) {
        if (entry->cookie) CoRevokeClassObject(entry->cookie);
        entry->cookie = 0;
    }
}

// A descriptor whose owner and group are those of the process token and which has
// no DACL, for the process's COM security.
class ProcessTokenSecurity {
public:
    bool Initialize() {
        UniqueHandle token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
        DWORD size = 0;
        bool ok = GetTokenInformation(token.get(), TokenOwner, m_owner, sizeof(m_owner), &size) &&
                  GetTokenInformation(token.get(), TokenPrimaryGroup, m_group, sizeof(m_group), &size);
        return ok && InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) &&
               SetSecurityDescriptorOwner(&m_descriptor, reinterpret_cast<TOKEN_OWNER*>(m_owner)->Owner, FALSE) &&
               SetSecurityDescriptorGroup(&m_descriptor, reinterpret_cast<TOKEN_PRIMARY_GROUP*>(m_group)->PrimaryGroup,
                                          FALSE);
    }
    PSECURITY_DESCRIPTOR Get() { return &m_descriptor; }

private:
    SECURITY_DESCRIPTOR m_descriptor{};
    alignas(void*) BYTE m_owner[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_OWNER)]{};
    alignas(void*) BYTE m_group[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_PRIMARY_GROUP)]{};
};

HRESULT InitializeComSecurity() {
    ProcessTokenSecurity security;
    if (!security.Initialize()) return HRESULT_FROM_WIN32(GetLastError());
    return CoInitializeSecurity(security.Get(), -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT,
                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
}

void WriteStandardOutput(const wchar_t* text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!out || out == INVALID_HANDLE_VALUE) return;
    char line[256 * 3 + 2];
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, line, sizeof(line) - 2, nullptr, nullptr);
    if (n <= 0) return;
    line[n - 1] = '\n';
    DWORD written = 0;
    WriteFile(out, line, static_cast<DWORD>(n), &written, nullptr);
}

void WriteEventLog(const wchar_t* source, const wchar_t* text) {
    UniqueEventSource eventSource(RegisterEventSourceW(nullptr, source));
    if (!eventSource) return;
    const wchar_t* strings[1] = {text};
    ReportEventW(eventSource.get(), EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
}

bool IsSystemControl(DWORD control) { return control < kFirstUserControl; }

// How long a stop may take. The worker, the application under way and the network
// adapter's last request are waited for at most kStopWorkMs of it; whatever is left then
// ends with the process, after the service has reported that it stopped.
constexpr DWORD kStopWaitHintMs = 10000;
constexpr DWORD kStopWorkMs = 8000;
}  // namespace

int CServiceModule::Start(HINSTANCE instance, const wchar_t* commandLine) {
    Init(instance);
    switch (ScanCommandLine(commandLine)) {
    case CommandToken::UnregServer:
        return UnregisterServer();
    case CommandToken::RegServer:
        return RegisterServer(FALSE);
    case CommandToken::Service:
        return RegisterServer(TRUE);
    case CommandToken::None:
        break;
    }
    return RunFromCommandLine();
}

void CServiceModule::Init(HINSTANCE instance) {
    if (LoadStringW(instance, IDS_SERVICENAME, m_szServiceName, 256) <= 0) m_szServiceName[0] = L'\0';
    m_hServiceStatus = nullptr;
    m_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    m_status.dwCurrentState = SERVICE_STOPPED;
    m_status.dwControlsAccepted = kAcceptedControls;
    m_status.dwWin32ExitCode = 0;
    m_status.dwServiceSpecificExitCode = 0;
    m_status.dwCheckPoint = 0;
    m_status.dwWaitHint = 0;
    m_bService = TRUE;
    m_hStopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

// Service mode when the AppID carries a "LocalService" value; a start by hand with
// the value present finds no service manager to connect to and runs in plain mode.
int CServiceModule::RunFromCommandLine() {
    UniqueKey appIdRoot, appId;
    LONG rc = RegOpenKeyExW(HKEY_CLASSES_ROOT, kAppIdRoot, 0, KEY_READ, appIdRoot.put());
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegOpenKeyExW(appIdRoot.get(), kAppIdGuid, 0, KEY_READ, appId.put());
    if (rc != ERROR_SUCCESS) return rc;
    m_bService = RegQueryValueExW(appId.get(), L"LocalService", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;

    if (m_bService) {
        SERVICE_TABLE_ENTRYW table[] = {{m_szServiceName, ServiceMainEntry}, {nullptr, nullptr}};
        if (!StartServiceCtrlDispatcherW(table)) m_bService = FALSE;
    }
    if (!m_bService) {
        Run();
        EndIfStuck();
    }
    return static_cast<int>(m_status.dwWin32ExitCode);
}

void WINAPI CServiceModule::ServiceMainEntry(DWORD, LPWSTR*) { _Module.ServiceMain(); }

DWORD WINAPI CServiceModule::HandlerEntry(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context) {
    return static_cast<CServiceModule*>(context)->Handler(control, eventType, eventData);
}

void CServiceModule::ServiceMain() {
    m_status.dwCurrentState = SERVICE_START_PENDING;
    m_hServiceStatus = RegisterServiceCtrlHandlerExW(m_szServiceName, HandlerEntry, this);
    if (!m_hServiceStatus) {
        LogEvent(L"Handler not installed");
        return;
    }
    ReportStatus(SERVICE_START_PENDING);
    m_status.dwWin32ExitCode = S_OK;
    m_status.dwCheckPoint = 0;
    m_status.dwWaitHint = 0;

    Run();

    ReportStatus(SERVICE_STOPPED);
    LogEvent(L"Service stopped");
    EndIfStuck();
}

// A step that never returned (a driver or a provider that hangs) may hold locks that the
// process's orderly end would wait for; the process then ends without them, so that the
// next start finds the boards free.
void CServiceModule::EndIfStuck() {
    if (!m_bEndedCleanly) TerminateProcess(GetCurrentProcess(), m_status.dwWin32ExitCode);
}

DWORD CServiceModule::Handler(DWORD control, DWORD eventType, void* eventData) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
        // A stop while the service is still starting is kept for the run routine: the
        // state stays START_PENDING until it has started, then it stops.
        m_status.dwWaitHint = kStopWaitHintMs;
        if (m_status.dwCurrentState != SERVICE_START_PENDING) ReportStatus(SERVICE_STOP_PENDING);
        SetEvent(m_hStopRequested);
        return 0;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_INTERROGATE:
    case SERVICE_CONTROL_SHUTDOWN:
        return 0;
    case SERVICE_CONTROL_HARDWAREPROFILECHANGE:
    case SERVICE_CONTROL_DEVICEEVENT:
    case SERVICE_CONTROL_POWEREVENT:
    case SERVICE_CONTROL_SESSIONCHANGE:
        return OnServiceEvent(control, eventType, eventData);
    default:
        break;
    }
    if (control >= kFirstUserControl && control <= kLastUserControl) return HandleUserControl(control);
    LogEvent(L"Bad service request");
    return 0;
}

// A user-defined control stands for a system notification when the machine
// translates it; it is then handled as that notification would be.
DWORD CServiceModule::HandleUserControl(DWORD control) {
    DWORD systemControl = 0, eventType = 0;
    alignas(void*) BYTE eventData[256] = {};
    if (ZoraSys()->TranslateServiceControl(control, &systemControl, &eventType, eventData, sizeof(eventData)) &&
        IsSystemControl(systemControl))
        return Handler(systemControl, eventType, eventData);
    LogEvent(L"Bad service request");
    return 0;
}

void CServiceModule::Run() {
    m_dwThreadID = GetCurrentThreadId();
    // The thread's message queue exists from here on, so a WM_QUIT posted to it
    // from now is not lost.
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);

    SYSTEM_POWER_STATUS power{};
    if (ZoraSys()->GetSystemPowerStatus(&power)) m_lastPowerSource = power.ACLineStatus;

    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    InitializeComSecurity();
    RegisterClassObjects();

    DWORD error = RunWorker();
    m_status.dwWin32ExitCode = error;
    if (!m_bEndedCleanly) {
        LogEvent(L"Service stopped while a scheme was still being applied");
        return;
    }

    RevokeClassObjects();
    if (SUCCEEDED(com)) CoUninitialize();
}

// The service is running exactly while its worker serves: it reports running only
// once the worker serves, and stopped (with the worker's error) when the worker ends
// for any reason but a stop.
DWORD CServiceModule::RunWorker() {
    ZoraWorkerContext context{CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr),
                              ERROR_SUCCESS};
    UniqueHandle stopWorker(context.stop), ready(context.ready);
    UniqueHandle worker(stopWorker && ready ? CreateThread(nullptr, 0, ZoraWorker, &context, 0, nullptr) : nullptr);
    if (!worker) {
        DWORD error = GetLastError();
        LogEvent(L"Service cannot start its worker: error %lu", error);
        return error ? error : ERROR_NOT_ENOUGH_MEMORY;
    }
    WaitForSingleObject(ready.get(), INFINITE);
    if (context.error != ERROR_SUCCESS) {
        WaitForSingleObject(worker.get(), INFINITE);
        LogEvent(L"Service cannot open its boards: error %lu", context.error);
        m_bEndedCleanly = StopApplying(kStopWorkMs);
        return context.error;
    }
    LogEvent(L"Service started");
    if (m_bService) ReportStatus(SERVICE_RUNNING);

    HANDLE waits[2] = {m_hStopRequested, worker.get()};
    DWORD error = ERROR_SUCCESS;
    bool quit = false;
    while (!quit) {
        DWORD wait = MsgWaitForMultipleObjects(2, waits, FALSE, INFINITE, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) break;
        if (wait == WAIT_OBJECT_0 + 1) {
            error = context.error != ERROR_SUCCESS ? context.error : ERROR_SERVICE_SPECIFIC_ERROR;
            LogEvent(L"Service worker ended: error %lu", error);
            m_bEndedCleanly = StopApplying(kStopWorkMs);
            return error;
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) quit = true;
            DispatchMessageW(&msg);
        }
    }
    if (m_bService) ReportStatus(SERVICE_STOP_PENDING);
    // Applications first: a request waiting for its turn gives up, so the worker is free
    // to see its stop; the application under way ends its writes.
    ULONGLONG deadline = GetTickCount64() + kStopWorkMs;
    SetEvent(stopWorker.get());
    bool applied = StopApplying(kStopWorkMs);
    ULONGLONG now = GetTickCount64();
    DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    m_bEndedCleanly = WaitForSingleObject(worker.get(), left) == WAIT_OBJECT_0 && applied;
    return ERROR_SUCCESS;
}

void CServiceModule::ReportStatus(DWORD state) {
    m_status.dwCurrentState = state;
    if (m_hServiceStatus) ::SetServiceStatus(m_hServiceStatus, &m_status);
}

void CServiceModule::LogEvent(const wchar_t* format, ...) {
    wchar_t text[256];
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(text, 255, format, args);
    va_end(args);
    if (n < 0 || n > 255) n = 255;
    text[n] = L'\0';

    if (m_bService)
        WriteEventLog(m_szServiceName, text);
    else
        WriteStandardOutput(text);
    CZORABase::DBGOUT(L"%s\n", text);
}
