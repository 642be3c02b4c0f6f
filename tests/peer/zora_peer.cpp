// Helper program for the multi-process tests and the benchmark. One verb per run:
//   serve READY_EVENT STOP_EVENT [echo]   answer requests on the service's boards until told to
//                                     stop; echo: print each request on stdout
//   call COUNT TAG TIMEOUT_MS         make COUNT service calls, check every answer
//   lock BOARD READY_EVENT RELEASE_EVENT   hold a board's lock until told to let go
//   pingpong PING PONG ROUNDS         raw two-process event round trips
//   raise | grab | lock-exit | squat  what any local process can do to the boards (Attack)
//   where                             print where the library finds its configuration
//   dbgout NEW_DEBUG                  two DBGOUTs, with the switch rewritten between them
//   dbglong                           one DBGOUT far longer than its buffer
//   profile-put FOLDER|- FILE SECTION KEY VALUE
//   aero                              desktop composition switched and read
//   version                           the library's version test
// Output lines are "name=value"; the exit code is 0 on success.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "DebugCapture.h"
#include "InterProcessBoard.h"
#include "PeerProtocol.h"
#include "RequestServer.h"
#include "OsWin.h"
#include "ZORACfg.h"

namespace {
void Signal(const wchar_t* name) {
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
    if (event) {
        SetEvent(event);
        CloseHandle(event);
    }
}

// The service's own way of serving (RequestServer), with the test tasks of
// PeerProtocol.h in place of the service's: a stand-in service for clients of either
// architecture. Serves until STOP_EVENT is signalled.
TaskAnswer PeerTask(const IpbDataHeader& header, const wchar_t* data, void* echo) {
    if (echo) {
        wprintf(L"request code=%u param=%u data=%ls\n", header.dwCode, header.dwParam, data);
        fflush(stdout);
    }
    if (header.dwCode == PeerSwallowRequest) return TaskAnswer{kLeaveUnanswered, 0};
    if (header.dwCode == PeerSlowRequest) Sleep(header.dwParam);
    uint32_t status = header.dwCode == PeerFailureNotice ? 2u : static_cast<uint32_t>(AnswerStatus);
    return TaskAnswer{status, static_cast<long>(PeerResult(header.dwParam, data))};
}

int Serve(const wchar_t* readyEvent, const wchar_t* stopEvent, bool echo) {
    HANDLE stop = OpenEventW(SYNCHRONIZE, FALSE, stopEvent);
    RequestServer server;
    if (!stop || server.Open() != ERROR_SUCCESS) return 3;
    Signal(readyEvent);
    DWORD error = server.Serve(stop, PeerTask, echo ? &echo : nullptr);
    CloseHandle(stop);
    return error == ERROR_SUCCESS ? 0 : 4;
}

// Honest calls: "wrong" counts answers meant for another request, "failed" calls that
// got no answer.
int Call(int count, const wchar_t* tag, unsigned long timeoutMs) {
    CZORACfg client;
    int wrong = 0, failed = 0;
    for (int i = 0; i < count; ++i) {
        wchar_t data[64];
        _snwprintf(data, 63, L"%s-%lu-%d", tag, GetCurrentProcessId(), i);
        data[63] = L'\0';
        IpbDataHeader scratch{};
        long result = client.ServiceCall(DeviceStateRequest, data, static_cast<unsigned long>(i), &scratch, timeoutMs);
        if (result == E_FAIL)
            ++failed;
        else if (static_cast<uint32_t>(result) != PeerResult(static_cast<uint32_t>(i), data))
            ++wrong;
    }
    printf("wrong=%d\nfailed=%d\n", wrong, failed);
    return wrong || failed ? 1 : 0;
}

// What any local process can do to the boards, as the tests' attacker:
//   raise MS            raise the request event again and again for MS milliseconds
//   grab                take the request board's lock semaphore and exit holding it
//   lock-exit           take the request board's lock through the board and exit holding it
//   squat NAME READY RELEASE   hold a mutex under NAME until told to let go
int Attack(const std::wstring& verb, int argc, wchar_t** argv) {
    CInterProcessBoard request;
    if (verb == L"raise" && argc == 3) {
        if (request.Reset(kIpbRequestBoard, kIpbBoardSize, 0, kIpbBoardIndex) != S_OK) return 3;
        DWORD end = GetTickCount() + wcstoul(argv[2], nullptr, 10);
        int raised = 0;
        while (static_cast<LONG>(end - GetTickCount()) > 0) {
            request.Flag(0);
            ++raised;
            Sleep(raised % 16 ? 0 : 1);
        }
        printf("raised=%d\n", raised);
        return 0;
    }
    if (verb == L"grab" && argc == 2) {
        wchar_t name[260];
        if (!request.ConstructName(L"IPB_Semaphore", kIpbRequestBoard, name, 260, kIpbBoardIndex)) return 3;
        HANDLE semaphore = OpenSemaphoreW(SYNCHRONIZE, FALSE, name);
        return semaphore && WaitForSingleObject(semaphore, 5000) == WAIT_OBJECT_0 ? 0 : 4;
    }
    if (verb == L"lock-exit" && argc == 2)
        return request.Reset(kIpbRequestBoard, kIpbBoardSize, 0, kIpbBoardIndex) == S_OK && request.Lock(5000) == S_OK
                   ? 0
                   : 4;
    if (verb == L"squat" && argc == 5) {
        HANDLE squatter = CreateMutexW(nullptr, TRUE, argv[2]);
        if (!squatter) return 3;
        Signal(argv[3]);
        HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, argv[4]);
        if (release) WaitForSingleObject(release, 30000);
        ReleaseMutex(squatter);
        return 0;
    }
    return 2;
}

int HoldLock(const wchar_t* board, const wchar_t* readyEvent, const wchar_t* releaseEvent) {
    CInterProcessBoard target;
    if (target.Reset(board, kIpbBoardSize, 0, 0) != S_OK || target.Lock(1000) != S_OK) return 3;
    Signal(readyEvent);
    HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, releaseEvent);
    if (release) {
        WaitForSingleObject(release, 30000);
        CloseHandle(release);
    }
    return target.UnLock() == S_OK ? 0 : 4;
}

int PingPong(const wchar_t* pingName, const wchar_t* pongName, int rounds) {
    HANDLE ping = OpenEventW(SYNCHRONIZE, FALSE, pingName);
    HANDLE pong = OpenEventW(EVENT_MODIFY_STATE, FALSE, pongName);
    if (!ping || !pong) return 3;
    for (int i = 0; i < rounds; ++i) {
        if (WaitForSingleObject(ping, 10000) != WAIT_OBJECT_0) return 4;
        SetEvent(pong);
    }
    return 0;
}

int Where() {
    CZORACfg cfg;
    wchar_t folder[260];
    printf("dll=%ls\n", cfg.GetDllPath(folder, 260) ? folder : L"");
    printf("home=%ls\n", cfg.GetHomePath(folder, 260) ? folder : L"");
    printf("init=%d\n", cfg.Initialize(L"ZORACfg.ini"));
    printf("path=%ls\n", cfg.GetFullPath());
    printf("marker=%d\n", cfg.GetInt(L"Test", L"Marker", -1));
    return 0;
}

void PrintCaptured() {
    for (const auto& line : DebugCapture::Lines()) printf("DBG:%s\n", line.c_str());
}

// The switch is read once per process: the second message follows the first
// message's setting whatever the file says by then.
int DbgOut(const wchar_t* newDebug) {
    DebugCapture::Start();
    CZORABase::DBGOUT(L"first %s %d|", L"wide", 7);
    CZORACfg cfg;
    cfg.Initialize(L"ZORACfg.ini");
    cfg.PutString(L"ZORACfg", L"Debug", newDebug);
    CZORABase::DBGOUT(L"second|");
    PrintCaptured();
    return 0;
}

int DbgLong() {
    DebugCapture::Start();
    std::wstring text(3000, L'x');
    CZORABase::DBGOUT(L"%s", text.c_str());
    for (const auto& line : DebugCapture::Lines()) printf("length=%u\n", static_cast<unsigned>(line.size()));
    return 0;
}

int ProfilePut(const wchar_t* folder, const wchar_t* file, const wchar_t* section, const wchar_t* key,
               const wchar_t* value) {
    CZORAProfile profile;
    int init = profile.Initialize(file, wcscmp(folder, L"-") == 0 ? nullptr : folder);
    printf("init=%d\n", init);
    printf("path=%ls\n", profile.GetFullPath());
    return init && profile.PutString(section, key, value) ? 0 : 1;
}
// Desktop composition switched twice, and its state read: each call loads the
// library again when it is missing.
int Aero() {
    DebugCapture::Start();
    printf("set1=%lx\n", static_cast<unsigned long>(COsWin::SetAero(1)));
    printf("set2=%lx\n", static_cast<unsigned long>(COsWin::SetAero(1)));
    int on = -1;
    printf("ison=%lx\n", static_cast<unsigned long>(COsWin::IsAeroOn(&on)));
    printf("load=%lx\n", static_cast<unsigned long>(COsWin::LoadDwmLibrary()));
    PrintCaptured();
    return 0;
}

int Version() {
    DebugCapture::Start();
    printf("vista=%d\n", COsWin::IsVista());
    PrintCaptured();
    return 0;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    std::wstring verb = argv[1];
    if (verb == L"serve" && (argc == 4 || (argc == 5 && std::wstring(argv[4]) == L"echo")))
        return Serve(argv[2], argv[3], argc == 5);
    if (verb == L"call" && argc == 5) return Call(_wtoi(argv[2]), argv[3], wcstoul(argv[4], nullptr, 10));
    if (verb == L"lock" && argc == 5) return HoldLock(argv[2], argv[3], argv[4]);
    if (verb == L"pingpong" && argc == 5) return PingPong(argv[2], argv[3], _wtoi(argv[4]));
    if (verb == L"raise" || verb == L"grab" || verb == L"lock-exit" || verb == L"squat") return Attack(verb, argc, argv);
    if (verb == L"where") return Where();
    if (verb == L"dbgout" && argc == 3) return DbgOut(argv[2]);
    if (verb == L"dbglong") return DbgLong();
    if (verb == L"aero") return Aero();
    if (verb == L"version") return Version();
    if (verb == L"profile-put" && argc == 7) return ProfilePut(argv[2], argv[3], argv[4], argv[5], argv[6]);
    return 2;
}
