// The service program as the system and its users see it: registration in the
// registry and the service manager, the command line, the service started by the
// service manager answering clients and controls, and its worker's request protocol
// with the program running as a plain process.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include <psapi.h>
#include <tlhelp32.h>

#include <chrono>
#include <functional>
#include <optional>

#include "CpuAgent.h"
#include "DebuggeeOutput.h"
#include "DevMgr.h"
#include "EcAgent.h"
#include "InterProcessBoard.h"
#include "IpbProtocol.h"
#include "MachineSupport.h"
#include "ServiceSupport.h"
#include "LanAgent.h"
#include "SchemeEx.h"
#include "WinHandles.h"
#include "ZORACfg.h"
#include "ZoraPowerVariables.h"

namespace {
constexpr wchar_t kAppIdKey[] = L"AppID\\{BC3250F3-FCD9-415A-B62A-6274395DEFB6}";
constexpr wchar_t kExeKey[] = L"AppID\\ZORASrvc.EXE";
constexpr wchar_t kTypeLibKey[] = L"TypeLib\\{F0FF7A18-F942-4CA8-B6E4-661BB075A630}";
constexpr wchar_t kTypeLibVersionKey[] = L"TypeLib\\{F0FF7A18-F942-4CA8-B6E4-661BB075A630}\\1.0";
constexpr char kRefused[] = "Extra data length is beyond expectation in ZoraWorker.\n";

// HKEY_CLASSES_ROOT as the 64-bit service writes it.
bool KeyExists(const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// A value's data in the 64-bit view as wide characters (a REG_MULTI_SZ with its inner
// terminators); "(missing)" when the key or the value is absent.
std::wstring RegData(HKEY root, const std::wstring& path, const wchar_t* name, DWORD* type) {
    HKEY key = nullptr;
    wchar_t value[512] = {};
    DWORD bytes = sizeof(value);
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return L"(missing)";
    LONG rc = RegQueryValueExW(key, name, nullptr, type, reinterpret_cast<BYTE*>(value), &bytes);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::wstring(value, bytes / sizeof(wchar_t)) : L"(missing)";
}

// HKEY_CLASSES_ROOT as the 64-bit service writes it; "(not a string)" for other types.
std::wstring StringValue(const std::wstring& path, const wchar_t* name) {
    DWORD type = REG_SZ;
    std::wstring data = RegData(HKEY_CLASSES_ROOT, path, name, &type);
    return type != REG_SZ ? L"(not a string)" : data.c_str();
}

using test::Eventually;
using test::OpenZoraService;
using test::ServiceInstalled;
using test::WaitForState;
using test::WinlogonStandIn;
using test::WorkerAnswers;

long Call(unsigned code, const std::wstring& data, DWORD timeoutMs = 5000) {
    CZORACfg client;
    IpbDataHeader scratch{};
    return client.ServiceCall(code, data.c_str(), 0, &scratch, timeoutMs);
}

// The request event raised alone, with no new request on the board, as any process
// can raise it: the answer it gets (a zeroed header when none comes).
IpbDataHeader RaiseAlone(CInterProcessBoard& request, CInterProcessBoard& answer) {
    IpbDataHeader got{};
    answer.Flag(1);
    request.Flag(0);
    if (answer.IsDataAvailble(5000)) answer.Read(0, &got, sizeof(got));
    return got;
}

// The service program of the 64-bit build; every case leaves neither the service nor
// its keys behind. Its debugger output is seen by a 64-bit debugger only.
class ServiceModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_program = test::ServiceProgram();
        if (m_program.empty()) GTEST_SKIP() << "the 64-bit build with ZORASrvc.exe is missing";
        ASSERT_EQ(0, Run(L"/UnregServer"));
    }
    void TearDown() override {
        if (m_program.empty()) return;
        EXPECT_EQ(0, Run(L"/UnregServer"));
        EXPECT_FALSE(ServiceInstalled());
        EXPECT_FALSE(KeyExists(kAppIdKey));
    }

    int Run(const std::wstring& arguments) { return test::Run(m_program, arguments, &m_output); }
    void Debug(DWORD processId) {
        m_debugging = m_debugger.Attach(processId);
        if (sizeof(void*) == 8) {
            ASSERT_TRUE(m_debugging) << "attach failed with " << m_debugger.AttachError();
        }
    }

    std::wstring m_program;
    std::string m_output;
    test::DebuggeeOutput m_debugger;
    bool m_debugging = false;
};

TEST_F(ServiceModuleTest, ServiceSwitchRegistersAppIdAndInstallsService) {
    ASSERT_EQ(0, Run(L"/Service")) << m_output;
    EXPECT_EQ(L"ZORASrvc", StringValue(kAppIdKey, nullptr));
    EXPECT_EQ(L"ZORASrvc", StringValue(kAppIdKey, L"LocalService"));
    EXPECT_EQ(L"-Service", StringValue(kAppIdKey, L"ServiceParameters"));
    EXPECT_EQ(L"{BC3250F3-FCD9-415A-B62A-6274395DEFB6}", StringValue(kExeKey, L"AppID"));
    EXPECT_EQ(L"ZORASrvc 1.0 Type Library", StringValue(kTypeLibVersionKey, nullptr));
    EXPECT_EQ(m_program, StringValue(std::wstring(kTypeLibVersionKey) + L"\\0\\win64", nullptr));

    SC_HANDLE service = OpenZoraService(SERVICE_QUERY_CONFIG);
    ASSERT_NE(nullptr, service) << GetLastError();
    std::vector<BYTE> buffer(8192);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigW(service, config, static_cast<DWORD>(buffer.size()), &needed)) << GetLastError();
    CloseServiceHandle(service);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), config->dwServiceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config->dwStartType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), config->dwErrorControl);
    EXPECT_EQ(L"\"" + m_program + L"\"", config->lpBinaryPathName);
    EXPECT_STREQ(L"LocalSystem", config->lpServiceStartName);
    EXPECT_STREQ(L"ZORASrvc", config->lpDisplayName);
    // Wine's QueryServiceConfigW leaves the dependencies empty; the service manager's own
    // record of the service holds them: RPCSS alone.
    DWORD type = 0;
    EXPECT_EQ(std::wstring(L"RPCSS\0", 7),
              RegData(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\ZORASrvc", L"DependOnService", &type));
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
}

TEST_F(ServiceModuleTest, RegServerAfterServiceRemovesServiceAndRunsPlain) {
    ASSERT_EQ(0, Run(L"/Service"));
    ASSERT_TRUE(ServiceInstalled());
    ASSERT_EQ(0, Run(L"/RegServer"));
    EXPECT_FALSE(ServiceInstalled());
    EXPECT_EQ(L"ZORASrvc", StringValue(kAppIdKey, nullptr));
    EXPECT_EQ(L"(missing)", StringValue(kAppIdKey, L"LocalService"));
    EXPECT_EQ(L"ZORASrvc 1.0 Type Library", StringValue(kTypeLibVersionKey, nullptr));

    test::Process plain;
    ASSERT_TRUE(plain.Start(m_program, L"", true));
    EXPECT_TRUE(plain.WaitForOutput("Service started\n", 10000)) << plain.Output();
    EXPECT_TRUE(WorkerAnswers());
    ASSERT_TRUE(plain.Quit());
    EXPECT_EQ(0, plain.Wait(10000));
}

TEST_F(ServiceModuleTest, UnregServerRemovesEverythingButAppId) {
    ASSERT_EQ(0, Run(L"/Service"));
    ASSERT_EQ(0, Run(L"/UnregServer"));
    EXPECT_FALSE(ServiceInstalled());
    EXPECT_FALSE(KeyExists(kAppIdKey));
    EXPECT_FALSE(KeyExists(kExeKey));
    EXPECT_FALSE(KeyExists(kTypeLibKey));
    EXPECT_TRUE(KeyExists(L"AppID"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Run(L"")) << "without its AppID the program has nothing to run as";
    EXPECT_EQ(0, Run(L"/UnregServer")) << "removing what is not there is no failure";
}

// From an unregistered state a recognised switch registers (exit 0, keys present);
// anything else runs the program, which finds no AppID and exits with that error.
TEST_F(ServiceModuleTest, CommandLineTokens) {
    const struct Case {
        const wchar_t* arguments;
        int exitCode;
        bool appId, service;
    } cases[] = {
        {L"/service", 0, true, true},
        {L"-SERVICE", 0, true, true},
        {L"/Service", 0, true, true},
        {L"-regserver", 0, true, false},
        {L"/REGSERVER", 0, true, false},
        {L"x/Servicey", ERROR_FILE_NOT_FOUND, false, false},
        {L"/Service extra", ERROR_FILE_NOT_FOUND, false, false},
        {L"Service", ERROR_FILE_NOT_FOUND, false, false},
        {L"/Serv", ERROR_FILE_NOT_FOUND, false, false},
        {L"--Service", 0, true, true},
        {L"/x -RegServer", 0, true, false},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        EXPECT_EQ(cases[i].exitCode, Run(cases[i].arguments)) << "case " << i;
        EXPECT_EQ(cases[i].appId, KeyExists(kAppIdKey)) << "case " << i;
        EXPECT_EQ(cases[i].service, ServiceInstalled()) << "case " << i;
        ASSERT_EQ(0, Run(L"-unregserver")) << "case " << i;
        EXPECT_FALSE(KeyExists(kAppIdKey)) << "case " << i;
    }
}

// Installed and started by the service manager, with the machine the case names (none
// unless it makes one).
class StartedService : public ServiceModuleTest {
protected:
    void SetUp() override {
        test::FreshMachine::SwitchOff();
        ServiceModuleTest::SetUp();
        if (!IsSkipped()) {
            ASSERT_EQ(0, Run(L"/Service"));
        }
    }
    void TearDown() override {
        if (m_service) {
            SERVICE_STATUS status{};
            ControlService(m_service, SERVICE_CONTROL_STOP, &status);
            WaitForState(m_service, SERVICE_STOPPED, 10000);
            CloseServiceHandle(m_service);
        }
        ServiceModuleTest::TearDown();
        test::FreshMachine::SwitchOff();
    }

    // Started, with its worker serving; its debugger output is followed from the first
    // start only.
    void StartService() {
        m_service = OpenZoraService(SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_USER_DEFINED_CONTROL);
        ASSERT_NE(nullptr, m_service) << GetLastError();
        ASSERT_TRUE(::StartServiceW(m_service, 0, nullptr)) << GetLastError();
        SERVICE_STATUS_PROCESS status = WaitForState(m_service, SERVICE_RUNNING, 10000);
        ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);
        EXPECT_EQ(0xC1u, status.dwControlsAccepted);
        m_processId = status.dwProcessId;
        if (!m_debugging) {
            ASSERT_NO_FATAL_FAILURE(Debug(m_processId));
        }
        ASSERT_TRUE(WorkerAnswers());
    }
    // Sends a control; its result and last error ("case i" in every message).
    BOOL Control(DWORD control, SERVICE_STATUS* status) {
        SetLastError(0xdeadbeef);
        return ControlService(m_service, control, status);
    }

    SC_HANDLE m_service = nullptr;
    DWORD m_processId = 0;
};

TEST_F(StartedService, AnswersA32BitClient) {
    if (!test::ArchRuns(L"i686")) GTEST_SKIP() << test::CannotRun(L"i686");
    ASSERT_NO_FATAL_FAILURE(StartService());
    std::string output;
    EXPECT_EQ(0, test::Run(test::ProgramPath(L"i686", L"zoractl.exe"), L"call 7 hello 5 5000", &output)) << output;
    EXPECT_NE(std::string::npos, output.find("request 7 answered: result 0x00000000 (0)")) << output;
    EXPECT_EQ(0, Call(7, L"own architecture"));
}

// The stop control ends the worker, then the service.
TEST_F(StartedService, StopEndsTheWorkerThenTheService) {
    ASSERT_NO_FATAL_FAILURE(StartService());
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, m_processId);
    ASSERT_NE(nullptr, process);
    SERVICE_STATUS status{};
    EXPECT_TRUE(Control(SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), WaitForState(m_service, SERVICE_STOPPED, 10000).dwCurrentState);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 10000));
    CloseHandle(process);
    if (m_debugging) {
        EXPECT_TRUE(m_debugger.WaitFor("Service stopped\n", 5000));
        EXPECT_EQ(1u, m_debugger.Count("ZoraWorkerThread: Leaving."));
    }
}

// User controls the virtual notebook does not translate reach the handler as bad
// requests; the service manager itself refuses control 15 and the power and session
// controls, so the handler never sees them.
TEST_F(StartedService, ControlsOutsideTheTranslatedRangeAreRefused) {
    ASSERT_NO_FATAL_FAILURE(StartService());
    const struct Case {
        DWORD control;
        BOOL accepted;
        DWORD error;
    } cases[] = {{150, TRUE, 0xdeadbeef},
                 {200, TRUE, 0xdeadbeef},
                 {170, TRUE, 0xdeadbeef},  // no virtual notebook: nothing translates it
                 {15, FALSE, ERROR_INVALID_PARAMETER},
                 {SERVICE_CONTROL_POWEREVENT, FALSE, ERROR_INVALID_PARAMETER},
                 {SERVICE_CONTROL_SESSIONCHANGE, FALSE, ERROR_INVALID_PARAMETER}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        SERVICE_STATUS status{};
        EXPECT_EQ(cases[i].accepted, Control(cases[i].control, &status)) << "case " << i;
        if (!cases[i].accepted) {
            EXPECT_EQ(cases[i].error, GetLastError()) << "case " << i;
        }
        if (cases[i].accepted) {
            EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState) << "case " << i;
        }
    }
    if (!m_debugging) return;
    for (int i = 0; i < 100 && m_debugger.Count("Bad service request\n") < 3; ++i) Sleep(50);
    EXPECT_EQ(3u, m_debugger.Count("Bad service request\n"));
    EXPECT_EQ(0u, m_debugger.Count("ZORASrvc event"));
}

TEST_F(StartedService, VirtualNotebookPowerControlArrivesAsPowerEvent) {
    test::FreshMachine machine;
    ASSERT_TRUE(machine.Ok());
    ASSERT_NO_FATAL_FAILURE(StartService());
    if (!m_debugging) GTEST_SKIP() << "the service's log is seen only by a 64-bit debugger";
    SERVICE_STATUS status{};
    EXPECT_TRUE(Control(kVnbControlPowerBase + PBT_APMPOWERSTATUSCHANGE, &status)) << GetLastError();
    EXPECT_TRUE(m_debugger.WaitFor("ZORASrvc event 13 type 10\n", 5000));
    EXPECT_TRUE(Control(kVnbControlSessionBase + WTS_SESSION_LOGON, &status)) << GetLastError();
    EXPECT_TRUE(m_debugger.WaitFor("ZORASrvc event 14 type 5\n", 5000));
    EXPECT_EQ(0u, m_debugger.Count("Bad service request"));
}

// The whole path: a 32-bit program's device manager (DmOptions=1) asks the running
// 64-bit service, whose worker switches the device on the virtual notebook.
TEST_F(StartedService, A32BitDeviceManagerSwitchesAVirtualDeviceThroughTheService) {
    if (!test::ArchRuns(L"i686")) GTEST_SKIP() << test::CannotRun(L"i686");
    std::wstring client = test::ProgramPath(L"i686", L"zoractl.exe");
    test::FreshMachine machine;
    ASSERT_TRUE(machine.Ok());
    ASSERT_NO_FATAL_FAILURE(StartService());
    std::string listing, output;
    ASSERT_EQ(0, test::Run(client, L"devices", &listing)) << listing;
    auto switchDevice = [&](const wchar_t* verb, const wchar_t* instanceId) {
        int index = test::ListedIndex(listing, instanceId);
        EXPECT_GE(index, 0) << listing;
        EXPECT_EQ(0, test::Run(client, std::wstring(L"device ") + verb + L" " + std::to_wstring(index), &output))
            << output;
        EXPECT_NE(std::string::npos, output.find("result 0x00000000")) << output;
    };
    switchDevice(L"disable", test::kVnbWireless);
    EXPECT_EQ(22u, test::Device(test::kVnbWireless).problem);
    EXPECT_EQ(0u, test::Device(test::kVnbWireless).status & 0x8);
    if (m_debugging) {
        EXPECT_TRUE(m_debugger.WaitFor(
            "ZoraWorker executed state change for " + test::Narrow(test::kVnbWireless) + " to 2 got 0", 5000));
    }
    switchDevice(L"enable", test::kVnbWireless);
    EXPECT_EQ(0u, test::Device(test::kVnbWireless).problem);
    EXPECT_NE(0u, test::Device(test::kVnbWireless).status & 0x8);

    // Not disableable, and not started: S_OK, nothing changes.
    VnbDevice before = test::Device(test::kVnbWanMiniport);
    switchDevice(L"disable", test::kVnbWanMiniport);
    EXPECT_EQ(before.status, test::Device(test::kVnbWanMiniport).status);
    EXPECT_EQ(before.problem, test::Device(test::kVnbWanMiniport).problem);
    switchDevice(L"disable", test::kVnbSoftModem);
    EXPECT_EQ(22u, test::Device(test::kVnbSoftModem).problem);

    // A device the service cannot find: the answer carries the device manager's failure.
    EXPECT_NE(0, test::Run(client, L"call 2 PCI\\NOWHERE\\0 2 5000", &output)) << output;
    if (m_debugging) {
        EXPECT_TRUE(m_debugger.WaitFor("ExecStateChange failed in SetupDiOpenDeviceInfo(PCI\\NOWHERE\\0)", 5000));
        EXPECT_TRUE(m_debugger.WaitFor("ZoraWorker executed state change for PCI\\NOWHERE\\0 to 2 got 80004005", 5000));
    }
}

// A service that ends with an error is started again by the service manager.
TEST_F(ServiceModuleTest, AServiceThatEndsWithAnErrorIsRestarted) {
    ASSERT_EQ(0, Run(L"/Service"));
    SC_HANDLE service = OpenZoraService(SERVICE_QUERY_CONFIG);
    ASSERT_NE(nullptr, service);
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    SetLastError(0xdeadbeef);
    BOOL queried = QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, buffer.data(),
                                        static_cast<DWORD>(buffer.size()), &needed);
    DWORD error = GetLastError();
    CloseServiceHandle(service);
    if (!queried && error == ERROR_INVALID_LEVEL)
        GTEST_SKIP() << "this service manager keeps no failure actions (Wine's does not)";
    ASSERT_TRUE(queried) << error;
    auto* failure = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer.data());
    ASSERT_EQ(3u, failure->cActions);
    for (DWORD i = 0; i < failure->cActions; ++i)
        EXPECT_EQ(SC_ACTION_RESTART, failure->lpsaActions[i].Type) << "action " << i;
}

// A request is carried out once: raising the request event again, with no new request,
// is refused and does not switch the device back after the user switched it.
TEST_F(StartedService, ARequestIsCarriedOutOnceAndARaisedEventReplaysNothing) {
    test::FreshMachine machine;
    ASSERT_TRUE(machine.Ok());
    ASSERT_NO_FATAL_FAILURE(StartService());
    CZORACfg client;
    IpbDataHeader scratch{};
    ASSERT_EQ(0, client.ServiceCall(DeviceStateRequest, test::kVnbWireless, CDevMgr::Disable, &scratch, 5000));
    ASSERT_EQ(22u, test::Device(test::kVnbWireless).problem);
    ASSERT_EQ(S_OK, CDevMgr::ExecStateChange(test::kVnbWireless, CDevMgr::Enable)) << "the user switches it on";
    CInterProcessBoard request, answer;
    ASSERT_EQ(S_OK, answer.Reset(kIpbAnswerBoard, kIpbBoardSize, 0, kIpbBoardIndex));
    ASSERT_EQ(S_OK, request.Reset(kIpbRequestBoard, kIpbBoardSize, 0, kIpbBoardIndex));
    EXPECT_EQ(FailureNotice, RaiseAlone(request, answer).dwCode);
    EXPECT_EQ(0u, test::Device(test::kVnbWireless).problem) << "the device stays on";
}

// A board object of another kind under a board's name (made before the service starts)
// fails the start with an error the service manager shows; the service never reports
// running without its worker.
TEST_F(StartedService, ABoardNameTakenByAnotherKindOfObjectFailsTheStart) {
    test::NamedEvent ready(L"squatready"), release(L"squatrelease");
    test::Process squatter;
    ASSERT_TRUE(squatter.Start(test::ProgramPath(test::PeerArch(), L"zora_peer.exe"),
                               std::wstring(L"squat Global\\IPB_Event") + kIpbRequestBoard + L"0 " + ready.Name() + L" " +
                                   release.Name()));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.Get(), 10000));
    m_service = OpenZoraService(SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    ASSERT_NE(nullptr, m_service);
    ASSERT_TRUE(::StartServiceW(m_service, 0, nullptr)) << GetLastError();
    SERVICE_STATUS_PROCESS status = WaitForState(m_service, SERVICE_STOPPED, 10000);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
    EXPECT_NE(0u, status.dwWin32ExitCode);
    SetEvent(release.Get());
    EXPECT_EQ(0, squatter.Wait());
}

// A stop control that arrives while the service is still starting (here: waiting for the
// server lock another process holds for a moment) stops it once it has started.
TEST_F(StartedService, AStopWhileStartingStopsTheServiceOnceStarted) {
    test::NamedEvent ready(L"holdready"), release(L"holdrelease");
    test::Process holder;
    ASSERT_TRUE(holder.Start(test::ProgramPath(test::PeerArch(), L"zora_peer.exe"),
                             std::wstring(L"squat ") + kIpbServerLockName + L" " + ready.Name() + L" " + release.Name()));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.Get(), 10000));
    m_service = OpenZoraService(SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    ASSERT_NE(nullptr, m_service);
    ASSERT_TRUE(::StartServiceW(m_service, 0, nullptr)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_START_PENDING),
              WaitForState(m_service, SERVICE_START_PENDING, 5000).dwCurrentState);
    SERVICE_STATUS control{};
    BOOL sent = Control(SERVICE_CONTROL_STOP, &control);
    DWORD error = GetLastError();
    Sleep(300);
    SetEvent(release.Get());
    EXPECT_EQ(0, holder.Wait());
    if (!sent && error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL)
        GTEST_SKIP() << "this service manager refuses a stop while the service starts";
    ASSERT_TRUE(sent) << error;
    SERVICE_STATUS_PROCESS status = WaitForState(m_service, SERVICE_STOPPED, 10000);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
    EXPECT_EQ(0u, status.dwWin32ExitCode);
}

// The worker's protocol: the program registered as a local server only, so that a start
// without arguments runs it in plain mode; the test is its client on the boards directly.
class WorkerProtocol : public ServiceModuleTest {
protected:
    void SetUp() override {
        ServiceModuleTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_EQ(0, Run(L"/RegServer"));
        ASSERT_TRUE(m_plain.Start(m_program, L"", true));
        ASSERT_TRUE(m_plain.WaitForOutput("Service started", 10000)) << m_plain.Output();
        for (int i = 0; i < 200 && !OpenBoards(); ++i) Sleep(20);  // the answer board comes second
        ASSERT_NO_FATAL_FAILURE(Debug(m_plain.Id()));
    }
    void TearDown() override {
        if (m_plain.Running()) {
            EXPECT_TRUE(m_plain.Quit());
            EXPECT_EQ(0, m_plain.Wait(10000));
        }
        ServiceModuleTest::TearDown();
    }

    bool OpenBoards() {
        return m_answer.Reset(kIpbAnswerBoard, kIpbBoardSize, 0, kIpbBoardIndex) == S_OK &&
               m_request.Reset(kIpbRequestBoard, kIpbBoardSize, 0, kIpbBoardIndex) == S_OK;
    }
    // One request written on the boards as a client writes it, with dataLen bytes of
    // data (a wide string of 'A's, terminated where it fits); false when not answered.
    bool SendRaw(uint32_t code, uint32_t dataLen, IpbDataHeader* answer, DWORD waitMs = 5000) {
        std::string data(dataLen, 'A');
        if (dataLen >= 2) data[dataLen - 1] = data[dataLen - 2] = '\0';
        IpbDataHeader header{code, 1234, dataLen};
        EXPECT_EQ(S_OK, m_request.Paste(0, &header, sizeof(header)));
        if (dataLen) {
            EXPECT_EQ(S_OK, m_request.Paste(kIpbDataOffset, data.data(), static_cast<long>(dataLen)));
        }
        m_answer.Flag(1);
        m_request.Flag(0);
        return m_answer.IsDataAvailble(waitMs) && m_answer.Read(0, answer, sizeof(*answer)) == S_OK;
    }

    test::Process m_plain;
    CInterProcessBoard m_request, m_answer;
};

TEST_F(WorkerProtocol, PlainModeServesAndStopsOnQuitMessage) {
    EXPECT_EQ(0, Call(7, L"first"));
    ASSERT_TRUE(m_plain.Quit());
    EXPECT_EQ(0, m_plain.Wait(10000));
}

// Code 0 is no task: it is refused like any other request that cannot run, and the
// worker goes on serving. So is a request event raised again with no new request (the
// last one was consumed): nothing is run twice.
TEST_F(WorkerProtocol, CodeZeroAndARaiseWithoutARequestAreRefusedAndServingGoesOn) {
    IpbDataHeader answer{};
    ASSERT_TRUE(SendRaw(NoRequest, 0, &answer));
    EXPECT_EQ(FailureNotice, answer.dwCode);
    ASSERT_TRUE(SendRaw(7, 8, &answer));
    EXPECT_EQ(AnswerStatus, answer.dwCode);
    IpbDataHeader left{};
    ASSERT_EQ(S_OK, m_request.Read(0, &left, sizeof(left)));
    EXPECT_EQ(0u, left.dwCode + left.dwParam + left.dwDataLen) << "the request was consumed";
    EXPECT_EQ(FailureNotice, RaiseAlone(m_request, m_answer).dwCode);
    EXPECT_EQ(0, Call(7, L"after"));
    EXPECT_TRUE(m_plain.Running());
}

TEST_F(WorkerProtocol, UnknownCodesAnsweredWithStatusOneAndResultZero) {
    const uint32_t codes[] = {1, 7, 100, 0xFFFFFFFF};
    for (size_t i = 0; i < ARRAYSIZE(codes); ++i) {
        IpbDataHeader answer{};
        ASSERT_TRUE(SendRaw(codes[i], 8, &answer)) << "case " << i;
        EXPECT_EQ(AnswerStatus, answer.dwCode) << "case " << i;
        EXPECT_EQ(0u, answer.dwParam) << "case " << i;
        EXPECT_EQ(0u, answer.dwDataLen) << "case " << i;
        EXPECT_FALSE(m_request.IsDataAvailble(0)) << "case " << i;
    }
    EXPECT_EQ(0, Call(7, L"through the library"));
}

// 254 characters and the terminator are 510 bytes; one more character is 512, which
// the worker refuses with a failure notice (status 0).
TEST_F(WorkerProtocol, DataOf512BytesRefusedWithFailureNotice) {
    const struct Case {
        uint32_t dataLen;
        uint32_t status;
    } cases[] = {{kIpbMaxDataLen, 0}, {kIpbMaxDataLen - 1, AnswerStatus}, {600, 0}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        IpbDataHeader answer{};
        ASSERT_TRUE(SendRaw(7, cases[i].dataLen, &answer)) << "case " << i;
        EXPECT_EQ(cases[i].status, answer.dwCode) << "case " << i;
        EXPECT_EQ(0u, answer.dwParam) << "case " << i;
    }
    EXPECT_EQ(0, Call(7, std::wstring(254, L'x')));
    EXPECT_EQ(E_FAIL, Call(7, std::wstring(255, L'x')));
    if (m_debugging) {
        EXPECT_TRUE(m_debugger.WaitFor(kRefused, 5000));
        for (int i = 0; i < 100 && m_debugger.Count(kRefused) < 3; ++i) Sleep(50);
        EXPECT_EQ(3u, m_debugger.Count(kRefused));
    }
}

// A failed task before the refusal: the refused request must not carry its result.
TEST_F(WorkerProtocol, RefusedRequestDoesNotRepeatPreviousResult) {
    EXPECT_EQ(E_ACCESSDENIED, Call(ApplySchemeRequest, L"C:\\nowhere"));
    IpbDataHeader answer{};
    ASSERT_TRUE(SendRaw(ApplySchemeRequest, 8, &answer));
    EXPECT_EQ(AnswerStatus, answer.dwCode);
    EXPECT_EQ(static_cast<uint32_t>(E_ACCESSDENIED), answer.dwParam);
    ASSERT_TRUE(SendRaw(7, 600, &answer));
    EXPECT_EQ(0u, answer.dwCode);
    EXPECT_EQ(0u, answer.dwParam);
}

TEST_F(WorkerProtocol, RefusedRequestLowersRequestEventAndWorkerStaysIdle) {
    ASSERT_EQ(0, Call(7, L"warm")) << "served once first, so that the program's own start-up work is behind it";
    IpbDataHeader answer{};
    ASSERT_TRUE(SendRaw(7, 1000, &answer));
    EXPECT_FALSE(m_request.IsDataAvailble(0));
    // A worker spinning on a raised event would burn the whole gap; an idle one burns
    // next to nothing. The bound is generous on purpose.
    auto cpuTime = [&] {
        FILETIME created, exited, kernel, user;
        GetProcessTimes(m_plain.Handle(), &created, &exited, &kernel, &user);
        auto value = [](const FILETIME& t) {
            return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
        };
        return value(kernel) + value(user);
    };
    ULONGLONG before = cpuTime();
    Sleep(500);
    ULONGLONG spent = cpuTime() - before;
    EXPECT_LT(spent, 3000000ull) << "CPU time in 500 ms idle: " << spent / 10000 << " ms";
    EXPECT_EQ(0, Call(7, L"still served"));
}

// Task 2 switches one device on or off: any other action, an empty or over-long
// instance ID and the root of the device tree are refused before the device manager
// is asked; a well-formed request carries the device manager's own result.
TEST_F(WorkerProtocol, DeviceRequestsAreCheckedAndReportTheirResults) {
    if (!m_debugging) GTEST_SKIP() << "the service's debugger output is seen only by a 64-bit debugger";
    const std::wstring missing = L"ROOT\\NO_SUCH_DEVICE\\0000", overLong(201, L'X');
    const struct {
        std::wstring instance;
        unsigned long action;
    } refused[] = {{missing, 0}, {missing, 5}, {missing, 0xFFFFFFFF}, {L"", 2}, {overLong, 2}, {L"HTREE\\ROOT\\0", 2},
                   {L"htree\\root\\0", 1}};
    CZORACfg client;
    for (size_t i = 0; i < ARRAYSIZE(refused); ++i) {
        IpbDataHeader scratch{};
        EXPECT_EQ(E_INVALIDARG, client.ServiceCall(DeviceStateRequest, refused[i].instance.c_str(), refused[i].action,
                                                   &scratch, 5000))
            << "case " << i;
    }
    EXPECT_EQ(0u, m_debugger.Count("ZoraWorker going to execute state change"));
    IpbDataHeader scratch{};
    EXPECT_EQ(E_FAIL, client.ServiceCall(DeviceStateRequest, missing.c_str(), 2, &scratch, 5000));
    EXPECT_TRUE(
        m_debugger.WaitFor("ZoraWorker going to execute state change for ROOT\\NO_SUCH_DEVICE\\0000 to 2", 5000));
    EXPECT_TRUE(
        m_debugger.WaitFor("ZoraWorker executed state change for ROOT\\NO_SUCH_DEVICE\\0000 to 2 got 80004005", 5000));
    EXPECT_TRUE(m_debugger.WaitFor("A new task 2 has been got, go...\n", 5000));
    EXPECT_EQ(E_ACCESSDENIED, Call(ApplySchemeRequest, L"C:\\no such profile"));
    EXPECT_TRUE(m_debugger.WaitFor("Excuting 3 finished with result -2147024891 in ZoraWorker.\n", 5000));
}

// ---- the service applies the user's scheme ----

using zora_vars::Pack;

int Packed(int ac, int dc) { return Pack(Pack(0, 1, ac), 0, dc); }

// The machine as the scheme's variables see it (-1: cannot be read).
int LiveDevice(const wchar_t* name) {
    CSchemeEx schemes;
    int status = -1;
    return schemes.GetDeviceStatus(name, &status) < 0 ? -1 : status;
}
int LiveCpuLevel() {
    CCpuAgent cpu;
    return cpu.Initialize() ? cpu.GetEblLevel() : -1;
}
int LiveBacklight() {
    CEcAgent ec;
    return ec.Setup() < 0 ? -1 : static_cast<int>(ec.GetBacklightLevel());
}
std::wstring Vxps() {
    return test::MachineValue(L"Graphics", L"VXPS.Enabled") + L"/" + test::MachineValue(L"Graphics", L"VXPS.Strength");
}

// The started service on a fresh machine with the graphics control object and the logon
// stand-in; the user's scheme file written by the case, the active scheme's section
// cleared. Each case applies with the request a client sends, or with the events.
class AppliedScheme : public StartedService {
protected:
    void SetUp() override {
        StartedService::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        m_machine.emplace();
        ASSERT_TRUE(m_machine->Ok());
        ASSERT_EQ(S_OK, test::RegisterPanel());
        ASSERT_EQ(S_OK, test::RegisterServer(test::kWmiServer));
        ASSERT_TRUE(test::FreshSchemeFile(m_schemes, &m_file, &m_folder));
        m_scheme = m_schemes.GetActivePwrScheme();
        ASSERT_GE(m_scheme, 0);
        m_section = L"Scheme " + std::to_wstring(m_scheme);
        Put(L"ZORACfg", L"CurrentScheme", m_scheme);
        ASSERT_NO_FATAL_FAILURE(StartService());
    }
    void TearDown() override {
        StartedService::TearDown();
        if (!m_file.empty()) DeleteFileW(m_file.c_str());
    }
    void Put(const wchar_t* section, const wchar_t* key, int value) {
        WritePrivateProfileStringW(section, key, std::to_wstring(value).c_str(), m_file.c_str());
    }
    void PutScheme(const wchar_t* key, int packed) { Put(m_section.c_str(), key, packed); }
    long Apply() { return Call(ApplySchemeRequest, m_folder, 15000); }

    std::optional<test::FreshMachine> m_machine;
    test::CfgOverride m_cfg{L"ZORACfg.ini", test::ServiceProgram()};
    WinlogonStandIn m_winlogon;
    CSchemeEx m_schemes;
    std::wstring m_file, m_folder, m_section;
    int m_scheme = -1;
};

// The whole road: a program of the other architecture (where the machine runs one)
// activates the scheme; the service applies its mains values to every device, the
// processor, the backlight, the graphics policy and the network adapter; an unplug
// applies the battery values; an event with the same source applies nothing; a logon
// applies the user's scheme and keeps the source it found.
TEST_F(AppliedScheme, ActivationUnplugAndLogonApplyTheHalvesOfTheSource) {
    m_cfg.Set(L"ZORASrvc", L"UseBacklightScheme", L"0");
    m_cfg.Set(L"ZORASrvc", L"CheckCpuTimes", L"0");
    const struct {
        const wchar_t* name;
        int ac, dc;
    } values[] = {{L"HD Audio", 0, 1}, {L"USBPort 3", 0, 1}, {L"PCIE2", 1, 1}, {L"Wifi", 1, 0},
                  {L"BTStatus", 1, 0}, {L"CpuAdaptive", 0, 0}, {L"CpuSpeed", 100, 50}, {L"BacklightLevel", 7, 3},
                  {L"LanSpeedVista", 4, 2}, {L"LinkStepOption", 11, 123}, {L"Modem", 1, 0}};
    for (const auto& v : values) {
        ASSERT_GE(m_schemes.SetPwrVariable(m_scheme, 1, v.name, v.ac), 0) << test::Narrow(v.name);
        ASSERT_GE(m_schemes.SetPwrVariable(m_scheme, 0, v.name, v.dc), 0) << test::Narrow(v.name);
    }
    PutScheme(L"VXPS", 75);
    std::string output;
    ASSERT_EQ(0, test::Run(test::ProgramPath(test::PeerArch(), L"zoractl.exe"),
                           L"scheme activate " + std::to_wstring(m_scheme), &output))
        << output;
    EXPECT_NE(std::string::npos, output.find("applied")) << output;

    auto expectHalves = [&](bool ac, const char* when) {
        for (const auto& v : values) {
            int want = ac ? v.ac : v.dc;
            std::wstring name = v.name;
            if (name == L"CpuAdaptive") continue;
            std::function<int()> live = [&] { return LiveDevice(v.name); };
            if (name == L"CpuSpeed") live = LiveCpuLevel;
            // Switched through the device manager, by its description.
            if (name == L"Modem") live = [] { return test::Device(test::kVnbSoftModem).problem == 22 ? 0 : 1; };
            if (name == L"BacklightLevel") live = LiveBacklight;
            if (name == L"LanSpeedVista") live = [] {
                CLanAgent lan;
                lan.Initialize();
                return static_cast<int>(lan.GetLanSpeed());
            };
            if (name == L"LinkStepOption") live = [] {
                CLanAgent lan;
                return lan.Initialize() ? static_cast<int>(lan.GetEblLevel()) : -1;
            };
            EXPECT_TRUE(Eventually([&] { return live() == want; })) << when << ": " << test::Narrow(v.name) << " is "
                                                                   << live() << ", not " << want;
        }
        EXPECT_EQ(ac ? L"0/0" : L"1/75", Vxps()) << when;
    };
    expectHalves(true, "activated on mains");
    // zoractl status sees the scheme applied, and what something else changes behind it.
    std::wstring zoractl = test::ProgramPath(test::PeerArch(), L"zoractl.exe");
    EXPECT_EQ(0, test::Run(zoractl, L"status --json", &output)) << output;
    EXPECT_EQ(std::string::npos, output.find("\"differs\":true")) << output;
    EXPECT_NE(std::string::npos, output.find("{\"name\":\"USBPort 3\",\"scheme\":0,\"applied\":0,\"live\":0,"))
        << output;
    EXPECT_NE(std::string::npos, output.find("{\"name\":\"Modem\",\"scheme\":1,\"applied\":1,\"live\":1,")) << output;
    ASSERT_EQ(0, m_schemes.SetDeviceStatus(L"USBPort 3", 1));
    EXPECT_EQ(0, test::Run(zoractl, L"status --json", &output)) << output;
    EXPECT_NE(std::string::npos, output.find("\"USBPort 3\",\"scheme\":0,\"applied\":0,\"live\":1,\"differs\":true"))
        << output;
    EXPECT_EQ(0, test::Run(zoractl, L"apply", &output)) << output;
    EXPECT_EQ(0, LiveDevice(L"USBPort 3"));

    auto started = std::chrono::steady_clock::now();
    test::SetAcLine(0);
    SERVICE_STATUS status{};
    ASSERT_TRUE(Control(kVnbControlPowerBase + PBT_APMPOWERSTATUSCHANGE, &status));
    ASSERT_TRUE(Eventually([] { return LiveCpuLevel() == 50 && LiveDevice(L"BTStatus") == 0; }));
    printf("[ measured ] unplug to the battery values in the machine: %lld ms\n",
           static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - started)
                                      .count()));
    expectHalves(false, "unplugged");

    // Something else switches the audio back on: an event for the same source leaves it.
    ASSERT_EQ(0, m_schemes.SetDeviceStatus(L"HD Audio", 0));
    ASSERT_TRUE(Control(kVnbControlPowerBase + PBT_APMPOWERSTATUSCHANGE, &status));
    Sleep(500);
    EXPECT_EQ(0, LiveDevice(L"HD Audio")) << "the source did not change: nothing is applied";

    // Plugged in without an event; the logon applies the mains values and keeps the
    // source, so the power event after it applies nothing.
    test::SetAcLine(1);
    ASSERT_TRUE(Control(kVnbControlSessionBase + WTS_SESSION_LOGON, &status));
    expectHalves(true, "after the logon");
    ASSERT_EQ(0, m_schemes.SetDeviceStatus(L"PCIE2", 0));
    ASSERT_TRUE(Control(kVnbControlPowerBase + PBT_APMPOWERSTATUSCHANGE, &status));
    Sleep(500);
    EXPECT_EQ(0, LiveDevice(L"PCIE2"));
    if (m_debugging) {
        EXPECT_EQ(1u, m_debugger.Count("Power supplier changed...."));
    }
}

// What one application writes, by the scheme file, the configuration and the source.
TEST_F(AppliedScheme, EnforcedValuesUnsetHalvesBacklightAndGraphicsHelper) {
    const struct Case {
        BYTE source;
        int enforcedScheme, enforcedSource;  // -1: no enforce record
        int audio;                           // the scheme's packed "HD Audio"
        const wchar_t* useBacklightScheme;   // null: absent
        int vxps;
        int audioAfter, backlightAfter;      // from audio 0 and backlight 5 before
        const wchar_t* vxpsAfter;            // from "0/0" before
    } cases[] = {
        // The enforce record wins for its scheme and its source only.
        {1, 0, 1, Packed(0, 0), nullptr, -1, 1, 5, L"0/0"},
        {0, 0, 1, Packed(0, 0), nullptr, -1, 0, 5, L"0/0"},
        {1, 7, 1, Packed(0, 0), nullptr, -1, 0, 5, L"0/0"},
        // A battery half of 0xFFFF is not set on battery. (A mains half of 0xFFFF is 65535,
        // which the catalogue does not offer: service_input_process_test.cpp.)
        {0, -1, -1, static_cast<int>(0xFFFF0001u), nullptr, -1, 0, 5, L"0/0"},
        {1, -1, -1, static_cast<int>(0xFFFF0001u), nullptr, -1, 1, 5, L"0/0"},
        // On Vista the backlight is the system's unless "UseBacklightScheme" is 0.
        {1, -1, -1, -1, nullptr, -1, 0, 5, L"0/0"},
        {1, -1, -1, -1, L"1", -1, 0, 5, L"0/0"},
        {1, -1, -1, -1, L"0", -1, 0, 2, L"0/0"},
        // The graphics helper: 0 on mains, the scheme's strength on battery.
        {1, -1, -1, -1, nullptr, 75, 0, 5, L"0/0"},
        {0, -1, -1, -1, nullptr, 75, 0, 5, L"1/75"},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        const Case& c = cases[i];
        test::SetAcLine(c.source);
        ASSERT_EQ(0, m_schemes.SetDeviceStatus(L"HD Audio", 0)) << "case " << i;
        CEcAgent ec;
        ASSERT_GE(ec.Setup(), 0);
        ASSERT_NE(0xFFFFFFFFul, ec.SetBacklightLevel(5)) << "case " << i;
        test::SetMachineValue(L"Graphics", L"VXPS.Enabled", L"0");
        test::SetMachineValue(L"Graphics", L"VXPS.Strength", L"0");
        WritePrivateProfileStringW(L"EnforceSetting", nullptr, nullptr, m_file.c_str());
        PutScheme(L"HD Audio", c.audio);
        PutScheme(L"BacklightLevel", Packed(2, 2));
        PutScheme(L"VXPS", c.vxps);
        if (c.enforcedScheme != -1) {
            Put(L"EnforceSetting", L"SchemeID", c.enforcedScheme == 0 ? m_scheme : c.enforcedScheme);
            Put(L"EnforceSetting", L"bIfAC", c.enforcedSource);
            Put(L"EnforceSetting", L"HD Audio", 1);
        }
        m_cfg.Set(L"ZORASrvc", L"UseBacklightScheme", c.useBacklightScheme);
        EXPECT_EQ(0, Apply()) << "case " << i;
        EXPECT_EQ(c.audioAfter, LiveDevice(L"HD Audio")) << "case " << i;
        EXPECT_EQ(c.backlightAfter, LiveBacklight()) << "case " << i;
        EXPECT_EQ(c.vxpsAfter, Vxps()) << "case " << i;
    }
}

// Without a "winlogon.exe" in the console session the helper cannot start as the user:
// the application says so, and still switches every device.
TEST_F(AppliedScheme, AHelperThatCannotStartFailsTheApplicationButNotTheDevices) {
    WinlogonStandIn::EndAll();
    PutScheme(L"VXPS", 75);
    PutScheme(L"USBPort 5", Packed(1, 1));
    EXPECT_EQ(E_FAIL, Apply());
    EXPECT_EQ(1, LiveDevice(L"USBPort 5"));
    EXPECT_EQ(L"0/0", Vxps());
}

// A device the power-setting file routes through the device manager is switched with
// the opposite sense (1 enables); a switch that fails is the application's result.
TEST_F(AppliedScheme, DevicesRoutedThroughTheDeviceManager) {
    test::CfgOverride settings(L"ZORASetting.ini", test::ServiceProgram());
    settings.Set(L"USBPort 3", L"UseDrvMgr", L"1");
    const struct {
        const wchar_t* description;
        int value;
        long result;
        DWORD problem;
    } cases[] = {{L"Integrated USB 1.3M Webcam", 0, 0, 22},
                 {L"Integrated USB 1.3M Webcam", 1, 0, 0},
                 {L"No Such Camera", 0, E_FAIL, 0}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        settings.Set(L"USBPort 3", L"DrvDesc", cases[i].description);
        PutScheme(L"USBPort 3", Packed(cases[i].value, cases[i].value));
        EXPECT_EQ(cases[i].result, Apply()) << "case " << i;
        EXPECT_EQ(cases[i].problem, test::Device(test::kVnbCamera).problem) << "case " << i;
        EXPECT_EQ(0, LiveDevice(L"USBPort 3")) << "case " << i << ": the port itself stays on";
    }
}

// The processor level a scheme sets comes back when something changes it, every
// "CheckCpuInterval" (at least 1000 ms), while "CheckCpuTimes" is not 0.
TEST_F(AppliedScheme, TheProcessorLevelIsCheckedAgain) {
    const struct {
        const wchar_t* times;
        bool restored;
    } cases[] = {{L"10", true}, {L"0", false}};
    m_cfg.Set(L"ZORASrvc", L"CheckCpuInterval", L"200");
    PutScheme(L"CpuAdaptive", Packed(0, 0));
    PutScheme(L"CpuSpeed", Packed(50, 50));
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        m_cfg.Set(L"ZORASrvc", L"CheckCpuTimes", cases[i].times);
        ASSERT_EQ(0, Apply()) << "case " << i;
        ASSERT_EQ(50, LiveCpuLevel()) << "case " << i;
        CCpuAgent cpu;
        ASSERT_TRUE(cpu.Initialize());
        ASSERT_EQ(100, cpu.SetEblLevel(100));
        auto changed = std::chrono::steady_clock::now();
        bool restored = Eventually([] { return LiveCpuLevel() == 50; }, 2500);
        EXPECT_EQ(cases[i].restored, restored) << "case " << i;
        if (restored) {
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - changed);
            EXPECT_LE(ms.count(), 1500) << "case " << i << ": the interval is at least 1000 ms, not 200";
        }
    }
}

// A simulated sleep loses the processor's and the hub's registers; the resume applies
// the scheme again, for the source the machine wakes on.
TEST_F(AppliedScheme, AResumeAppliesTheSchemeAgainForTheSourceItWakesOn) {
    PutScheme(L"CpuAdaptive", Packed(0, 0));
    PutScheme(L"CpuSpeed", Packed(75, 37));
    PutScheme(L"HD Audio", Packed(1, 0));
    PutScheme(L"USBPort 7", Packed(1, 1));
    m_cfg.Set(L"ZORASrvc", L"CheckCpuTimes", L"0");
    ASSERT_EQ(0, Apply());
    const struct {
        BYTE wakesOn;
        int cpu, audio;
    } cases[] = {{1, 75, 1}, {0, 37, 0}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        ASSERT_TRUE(VnbSleep(m_machine->Path().c_str()));
        EXPECT_EQ(100, LiveCpuLevel()) << "case " << i << ": lost in the sleep";
        EXPECT_EQ(0, LiveDevice(L"USBPort 7")) << "case " << i << ": lost in the sleep";
        test::SetAcLine(cases[i].wakesOn);
        SERVICE_STATUS status{};
        ASSERT_TRUE(Control(kVnbControlResume, &status));
        EXPECT_TRUE(Eventually([&] { return LiveCpuLevel() == cases[i].cpu && LiveDevice(L"USBPort 7") == 1; }))
            << "case " << i;
        EXPECT_EQ(cases[i].audio, LiveDevice(L"HD Audio")) << "case " << i;
    }
}

// Many source changes in a row: each ends with that source's values, and the service
// keeps neither handles, memory nor threads.
TEST_F(AppliedScheme, AThousandSourceChangesLeaveNothingBehind) {
    PutScheme(L"CpuAdaptive", Packed(0, 0));
    PutScheme(L"CpuSpeed", Packed(100, 50));
    PutScheme(L"USBPort 2", Packed(0, 1));
    m_cfg.Set(L"ZORASrvc", L"CheckCpuTimes", L"0");
    UniqueHandle service(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, m_processId));
    ASSERT_TRUE(service);
    auto threads = [&] {
        int count = 0;
        UniqueSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
        THREADENTRY32 entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
            count += entry.th32OwnerProcessID == m_processId;
        return count;
    };
    // Handle counts of another process are not available everywhere (Wine answers 0).
    bool countsHandles = true;
    auto usage = [&](DWORD* handles, SIZE_T* bytes) {
        PROCESS_MEMORY_COUNTERS memory{};
        countsHandles = countsHandles && GetProcessHandleCount(service.get(), handles) && *handles > 0;
        GetProcessMemoryInfo(service.get(), &memory, sizeof(memory));
        *bytes = memory.PagefileUsage;
    };
    ASSERT_EQ(0, Apply());
    DWORD handlesBefore = 0, handlesAfter = 0;
    SIZE_T bytesBefore = 0, bytesAfter = 0;
    usage(&handlesBefore, &bytesBefore);
    int threadsBefore = threads();
    constexpr int kChanges = 1000;
    int wrong = 0;
    for (int i = 0; i < kChanges; ++i) {
        BYTE source = i % 2 ? 1 : 0;
        test::SetAcLine(source);
        SERVICE_STATUS status{};
        ASSERT_TRUE(Control(kVnbControlPowerBase + PBT_APMPOWERSTATUSCHANGE, &status)) << "change " << i;
        int cpu = source ? 100 : 50, port = source ? 0 : 1;
        if (!Eventually([&] { return LiveCpuLevel() == cpu && LiveDevice(L"USBPort 2") == port; }, 5000)) ++wrong;
    }
    EXPECT_EQ(0, wrong);
    ASSERT_TRUE(Eventually([&] { return threads() <= threadsBefore; }, 5000))
        << threads() << " threads, " << threadsBefore << " before";
    usage(&handlesAfter, &bytesAfter);
    printf("[ measured ] %d changes: handles %s, private bytes %llu -> %llu KiB, threads %d -> %d\n", kChanges,
           countsHandles ? (std::to_string(handlesBefore) + " -> " + std::to_string(handlesAfter)).c_str()
                         : "not counted by this system",
           static_cast<unsigned long long>(bytesBefore / 1024), static_cast<unsigned long long>(bytesAfter / 1024),
           threadsBefore, threads());
    if (countsHandles) {
        EXPECT_LE(handlesAfter, handlesBefore + 16);
    }
    EXPECT_LE(bytesAfter, bytesBefore + 2 * 1024 * 1024);
}

// A stop while an application runs waits for it: the service stops within its wait
// hint, and the application's every value is in the machine.
TEST_F(AppliedScheme, AStopWhileApplyingEndsWithEveryValueWritten) {
    PutScheme(L"VXPS", 75);
    for (int port = 0; port < 12; ++port) PutScheme((L"USBPort " + std::to_wstring(port)).c_str(), Packed(0, 1));
    test::SetAcLine(0);
    SERVICE_STATUS status{};
    ASSERT_TRUE(Control(kVnbControlPowerBase + PBT_APMPOWERSTATUSCHANGE, &status));
    auto stopped = std::chrono::steady_clock::now();
    ASSERT_TRUE(Control(SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), WaitForState(m_service, SERVICE_STOPPED, 10000).dwCurrentState);
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(10));
    int applied = 0;
    for (int port = 0; port < 12; ++port) applied += LiveDevice((L"USBPort " + std::to_wstring(port)).c_str());
    EXPECT_TRUE(applied == 0 || (applied == 12 && Vxps() == L"1/75"))
        << applied << " ports of 12, graphics " << test::Narrow(Vxps());
}

// The service on Windows XP: the backlight is the scheme's, the processor the system's,
// the link speed "LanSpeed", and the helper starts plainly (no logon process needed).
TEST_F(AppliedScheme, OnXpTheServiceKeepsToTheXpSettings) {
    SERVICE_STATUS status{};
    ASSERT_TRUE(Control(SERVICE_CONTROL_STOP, &status));
    ASSERT_EQ(static_cast<DWORD>(SERVICE_STOPPED), WaitForState(m_service, SERVICE_STOPPED, 10000).dwCurrentState);
    CloseServiceHandle(m_service);
    m_service = nullptr;
    test::WindowsVersionOf xp(L"ZORASrvc.exe", L"winxp");
    ASSERT_NO_FATAL_FAILURE(StartService());
    WinlogonStandIn::EndAll();
    test::SetAcLine(0);
    PutScheme(L"VXPS", 75);
    PutScheme(L"BacklightLevel", Packed(6, 2));
    PutScheme(L"CpuAdaptive", Packed(0, 0));
    PutScheme(L"CpuSpeed", Packed(50, 50));
    PutScheme(L"LanSpeed", Packed(3, 1));
    PutScheme(L"LanSpeedVista", Packed(4, 4));
    EXPECT_EQ(0, Apply());
    EXPECT_EQ(2, LiveBacklight());
    EXPECT_EQ(L"1/75", Vxps());
    EXPECT_EQ(100, LiveCpuLevel()) << "XP's processor policy is the system's";
    EXPECT_TRUE(Eventually([] {
        CLanAgent lan;
        lan.Initialize();
        return lan.GetLanSpeed() == 1;
    }));
}

// A power event's application, with the hub's functions to switch before the ports, and
// a request that begins after it and sets only the ports (the user has made another
// scheme current meanwhile): the request began last, so its values are in every port,
// though it reaches the ports first.
TEST_F(AppliedScheme, TheApplicationThatBeganLastWinsEverySetting) {
    const int other = m_scheme + 100;
    const std::wstring otherSection = L"Scheme " + std::to_wstring(other);
    for (int number = zora_vars::HDAudio; number <= zora_vars::ThermalThrottle; ++number)
        if (number != zora_vars::HDAudio + 1) PutScheme(zora_vars::kNames[number], Packed(0, 0));  // not the modem
    for (int port = 0; port < 12; ++port) {
        std::wstring name = L"USBPort " + std::to_wstring(port);
        PutScheme(name.c_str(), Packed(1, 1));
        Put(otherSection.c_str(), name.c_str(), Packed(0, 0));
    }
    for (int round = 0; round < 2; ++round) {
        Put(L"ZORACfg", L"CurrentScheme", m_scheme);
        test::SetAcLine(round % 2 ? 1 : 0);
        SERVICE_STATUS status{};
        ASSERT_TRUE(Control(kVnbControlPowerBase + PBT_APMPOWERSTATUSCHANGE, &status));
        Sleep(100);  // the event's application has begun
        Put(L"ZORACfg", L"CurrentScheme", other);
        EXPECT_EQ(0, Call(ApplySchemeRequest, m_folder, 15000)) << "round " << round;
        int disabled = 0;
        for (int port = 0; port < 12; ++port) disabled += LiveDevice((L"USBPort " + std::to_wstring(port)).c_str());
        EXPECT_EQ(0, disabled) << "round " << round << ": ports the earlier application switched off";
    }
}

}  // namespace
