#pragma once
#include <windows.h>

// The service program: a Windows service that is also registered as a COM local
// server application. One instance, _Module, runs the whole program.
class CServiceModule {
public:
    CServiceModule() = default;
    CServiceModule(const CServiceModule&) = delete;
    CServiceModule& operator=(const CServiceModule&) = delete;

    // The program from its command line to its exit code.
    int Start(HINSTANCE instance, const wchar_t* commandLine);

    // One line to the application event log (service mode) or to standard output,
    // and always to the debugger output.
    void LogEvent(const wchar_t* format, ...);

    const wchar_t* ServiceName() const { return m_szServiceName; }
    // The ACLineStatus last acted on; read and written by the control handler thread.
    BYTE LastPowerSource() const { return m_lastPowerSource; }
    void SetLastPowerSource(BYTE status) { m_lastPowerSource = status; }

private:
    void Init(HINSTANCE instance);
    int RunFromCommandLine();

    // Registration (ServiceRegistration.cpp).
    HRESULT RegisterServer(BOOL service);
    HRESULT UnregisterServer();
    BOOL IsInstalled();
    HRESULT Install();
    HRESULT Uninstall();
    void ReportFailure(const wchar_t* text);
    void SetRestartOnFailure(SC_HANDLE service);

    static void WINAPI ServiceMainEntry(DWORD argc, LPWSTR* argv);
    static DWORD WINAPI HandlerEntry(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);
    void ServiceMain();
    DWORD Handler(DWORD control, DWORD eventType, void* eventData);
    DWORD HandleUserControl(DWORD control);
    void Run();
    // Runs the worker until a stop (control, WM_QUIT) or the worker's end: the
    // worker's error, ERROR_SUCCESS for a stop.
    DWORD RunWorker();
    void ReportStatus(DWORD state);
    void EndIfStuck();

    wchar_t m_szServiceName[256] = {};
    SERVICE_STATUS_HANDLE m_hServiceStatus = nullptr;
    SERVICE_STATUS m_status = {};
    BOOL m_bService = TRUE;
    DWORD m_dwThreadID = 0;
    // Raised by a stop control, also one that arrives while the service is starting;
    // the run routine stops as soon as it is running.
    HANDLE m_hStopRequested = nullptr;
    // False when the stop left the worker or an application running past its bound.
    bool m_bEndedCleanly = true;
    BYTE m_lastPowerSource = 255;
};

extern CServiceModule _Module;

// The module's AppID under HKEY_CLASSES_ROOT, as its registration script names it.
inline constexpr wchar_t kAppIdRoot[] = L"AppID";
inline constexpr wchar_t kAppIdGuid[] = L"{BC3250F3-FCD9-415A-B62A-6274395DEFB6}";
