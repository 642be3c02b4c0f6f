#pragma once
// The service program in tests: the 64-bit ZORASrvc.exe of the build, installed with the
// service manager, started, its worker answering, and stopped and removed again; and the
// console session's logon stand-in the service takes a user's token from.
#include <windows.h>

#include <string>

#include "TestSupport.h"

namespace test {

// <build>/x86_64/bin/ZORASrvc.exe; empty when that build is missing.
std::wstring ServiceProgram();
// The service's entry in the service manager; null when it is not installed.
SC_HANDLE OpenZoraService(DWORD access);
bool ServiceInstalled();
// Waits for the state; returns the last status seen.
SERVICE_STATUS_PROCESS WaitForState(SC_HANDLE service, DWORD state, DWORD timeoutMs);
// The worker comes up after the program says it started: true once it answers a ping.
bool WorkerAnswers();

// The service installed (/Service) and started for the life of the object, then stopped
// and removed (/UnregServer).
class RunningService {
public:
    RunningService() = default;
    RunningService(const RunningService&) = delete;
    RunningService& operator=(const RunningService&) = delete;
    ~RunningService();
    // Installs and starts it and waits for its worker; false when any step fails.
    bool Start();
    DWORD ProcessId() const { return m_processId; }

private:
    std::wstring m_program;
    SC_HANDLE m_service = nullptr;
    DWORD m_processId = 0;
};

// The service's console-session "winlogon.exe" (sim/session), running while the object
// lives unless one already runs.
class WinlogonStandIn {
public:
    WinlogonStandIn();
    WinlogonStandIn(const WinlogonStandIn&) = delete;
    WinlogonStandIn& operator=(const WinlogonStandIn&) = delete;
    ~WinlogonStandIn();
    // Ends every stand-in of the session.
    static void EndAll();
    static bool Running();

private:
    HANDLE m_end = nullptr;
    Process m_process;
};

}  // namespace test
