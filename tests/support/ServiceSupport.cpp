#include "ServiceSupport.h"

#include "IpbProtocol.h"
#include "ZORACfg.h"

namespace test {
namespace {

constexpr wchar_t kStandInEnd[] = L"Global\\ZORA_WINLOGON_STANDIN_END";

}  // namespace

std::wstring ServiceProgram() { return ProgramPath(L"x86_64", L"ZORASrvc.exe"); }

SC_HANDLE OpenZoraService(DWORD access) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return nullptr;
    SC_HANDLE service = OpenServiceW(manager, L"ZORASrvc", access);
    CloseServiceHandle(manager);
    return service;
}

bool ServiceInstalled() {
    SC_HANDLE service = OpenZoraService(SERVICE_QUERY_STATUS);
    if (service) CloseServiceHandle(service);
    return service != nullptr;
}

SERVICE_STATUS_PROCESS WaitForState(SC_HANDLE service, DWORD state, DWORD timeoutMs) {
    SERVICE_STATUS_PROCESS status{};
    for (DWORD waited = 0;; waited += 50) {
        DWORD needed = 0;
        if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                                  &needed) ||
            status.dwCurrentState == state || waited >= timeoutMs)
            return status;
        Sleep(50);
    }
}

bool WorkerAnswers() {
    for (int i = 0; i < 200; Sleep(50), ++i) {
        CZORACfg client;
        IpbDataHeader scratch{};
        if (client.ServiceCall(7, L"ping", 0, &scratch, 200) == 0) return true;
    }
    return false;
}

RunningService::~RunningService() {
    if (m_service) {
        SERVICE_STATUS status{};
        ControlService(m_service, SERVICE_CONTROL_STOP, &status);
        WaitForState(m_service, SERVICE_STOPPED, 10000);
        CloseServiceHandle(m_service);
    }
    if (!m_program.empty()) Run(m_program, L"/UnregServer");
}

bool RunningService::Start() {
    m_program = ServiceProgram();
    if (m_program.empty() || Run(m_program, L"/UnregServer") != 0 || Run(m_program, L"/Service") != 0) return false;
    m_service = OpenZoraService(SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (m_service == nullptr || !StartServiceW(m_service, 0, nullptr)) return false;
    SERVICE_STATUS_PROCESS status = WaitForState(m_service, SERVICE_RUNNING, 10000);
    if (status.dwCurrentState != SERVICE_RUNNING) return false;
    m_processId = status.dwProcessId;
    return WorkerAnswers();
}

WinlogonStandIn::WinlogonStandIn() {
    m_end = CreateEventW(nullptr, TRUE, FALSE, kStandInEnd);
    if (m_end && GetLastError() != ERROR_ALREADY_EXISTS) {
        CloseHandle(m_end);  // nobody had it: start the stand-in, which makes it
        m_end = nullptr;
        m_process.Start(ProgramPath(L"x86_64", L"winlogon.exe"), L"");
        Eventually([] { return Running(); });
    }
}

WinlogonStandIn::~WinlogonStandIn() {
    if (m_end) CloseHandle(m_end);
}

void WinlogonStandIn::EndAll() {
    HANDLE end = OpenEventW(EVENT_MODIFY_STATE, FALSE, kStandInEnd);
    if (end) SetEvent(end), CloseHandle(end);
    Eventually([] { return !Running(); });
}

bool WinlogonStandIn::Running() {
    HANDLE end = OpenEventW(SYNCHRONIZE, FALSE, kStandInEnd);
    bool running = end && WaitForSingleObject(end, 0) == WAIT_TIMEOUT;
    if (end) CloseHandle(end);
    return running;
}

}  // namespace test
