// The service program as the system and its users see it: registration in the
// registry and the service manager, the command line, and the service started by
// the service manager, answering clients and controls.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "DebuggeeOutput.h"
#include "DevMgr.h"
#include "InterProcessBoard.h"
#include "IpbProtocol.h"
#include "MachineSupport.h"
#include "TestSupport.h"
#include "ZORACfg.h"

namespace {
constexpr wchar_t kServiceName[] = L"ZORASrvc";
constexpr wchar_t kAppIdKey[] = L"AppID\\{BC3250F3-FCD9-415A-B62A-6274395DEFB6}";
constexpr wchar_t kExeKey[] = L"AppID\\ZORASrvc.EXE";
constexpr wchar_t kTypeLibKey[] = L"TypeLib\\{F0FF7A18-F942-4CA8-B6E4-661BB075A630}";

// HKEY_CLASSES_ROOT as the 64-bit service writes it.
bool KeyExists(const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// "(missing)" when the key or the value is absent, "(not a string)" for other types.
std::wstring StringValue(const wchar_t* path, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return L"(missing)";
    wchar_t value[512] = {};
    DWORD type = 0, bytes = sizeof(value) - sizeof(wchar_t);
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return L"(missing)";
    return type == REG_SZ ? std::wstring(value) : L"(not a string)";
}

SC_HANDLE OpenZoraService(DWORD access) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return nullptr;
    SC_HANDLE service = OpenServiceW(manager, kServiceName, access);
    CloseServiceHandle(manager);
    return service;
}

bool ServiceInstalled() {
    SC_HANDLE service = OpenZoraService(SERVICE_QUERY_STATUS);
    if (service) CloseServiceHandle(service);
    return service != nullptr;
}

// Waits for the state; returns the last status seen.
SERVICE_STATUS_PROCESS WaitForState(SC_HANDLE service, DWORD state, DWORD timeoutMs) {
    SERVICE_STATUS_PROCESS status{};
    for (DWORD waited = 0;; waited += 50) {
        DWORD needed = 0;
        if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                                  &needed))
            return status;
        if (status.dwCurrentState == state || waited >= timeoutMs) return status;
        Sleep(50);
    }
}

// Every test leaves neither the service nor its keys behind.
class ServiceModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_program = test::ProgramPath(L"x86_64", L"ZORASrvc.exe");
        if (m_program.empty()) GTEST_SKIP() << "the 64-bit build with ZORASrvc.exe is missing";
        ASSERT_EQ(0, Run(L"/UnregServer"));
    }

    void TearDown() override {
        if (m_program.empty()) return;
        EXPECT_EQ(0, Run(L"/UnregServer"));
        EXPECT_FALSE(ServiceInstalled());
        EXPECT_FALSE(KeyExists(kAppIdKey));
    }

    int Run(const std::wstring& arguments, std::string* output = nullptr) {
        test::ServiceProgram program;
        if (!program.Start(m_program, arguments)) return -2;
        int code = program.Wait(30000);
        if (output) *output = program.Output();
        return code;
    }

    std::wstring QuotedProgram() const { return L"\"" + m_program + L"\""; }

    std::wstring m_program;
};

TEST_F(ServiceModuleTest, ServiceSwitchRegistersAppIdAndInstallsService) {
    std::string output;
    ASSERT_EQ(0, Run(L"/Service", &output)) << output;
    EXPECT_EQ(L"ZORASrvc", StringValue(kAppIdKey, nullptr));
    EXPECT_EQ(L"ZORASrvc", StringValue(kAppIdKey, L"LocalService"));
    EXPECT_EQ(L"-Service", StringValue(kAppIdKey, L"ServiceParameters"));
    EXPECT_EQ(L"{BC3250F3-FCD9-415A-B62A-6274395DEFB6}", StringValue(kExeKey, L"AppID"));
    EXPECT_EQ(L"ZORASrvc 1.0 Type Library", StringValue((std::wstring(kTypeLibKey) + L"\\1.0").c_str(), nullptr));
    EXPECT_EQ(m_program, StringValue((std::wstring(kTypeLibKey) + L"\\1.0\\0\\win64").c_str(), nullptr));

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
    EXPECT_EQ(QuotedProgram(), config->lpBinaryPathName);
    EXPECT_STREQ(L"LocalSystem", config->lpServiceStartName);
    EXPECT_STREQ(L"ZORASrvc", config->lpDisplayName);
    // Wine's QueryServiceConfigW leaves the dependencies empty; the service
    // manager's own record of the service holds them.
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\ZORASrvc", 0,
                                           KEY_READ | KEY_WOW64_64KEY, &key));
    wchar_t dependencies[64] = {};
    DWORD type = 0, bytes = sizeof(dependencies) - 2 * sizeof(wchar_t);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"DependOnService", nullptr, &type,
                                              reinterpret_cast<BYTE*>(dependencies), &bytes));
    RegCloseKey(key);
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
    EXPECT_STREQ(L"RPCSS", dependencies);
    EXPECT_EQ(L'\0', dependencies[wcslen(dependencies) + 1]) << "one dependency only";

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

TEST_F(ServiceModuleTest, RegServerAfterServiceRemovesServiceAndRunsPlain) {
    ASSERT_EQ(0, Run(L"/Service"));
    ASSERT_TRUE(ServiceInstalled());
    ASSERT_EQ(0, Run(L"/RegServer"));
    EXPECT_FALSE(ServiceInstalled());
    EXPECT_EQ(L"ZORASrvc", StringValue(kAppIdKey, nullptr));
    EXPECT_EQ(L"(missing)", StringValue(kAppIdKey, L"LocalService"));
    EXPECT_EQ(L"ZORASrvc 1.0 Type Library", StringValue((std::wstring(kTypeLibKey) + L"\\1.0").c_str(), nullptr));

    test::ServiceProgram plain;
    ASSERT_TRUE(plain.Start(m_program, L""));
    EXPECT_TRUE(plain.WaitForOutput("Service started\n", 10000)) << plain.Output();
    ASSERT_TRUE(plain.WaitForBoards(10000));
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
    // Without its AppID the program has nothing to run as.
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Run(L""));
    // Removing what is not there is no failure.
    EXPECT_EQ(0, Run(L"/UnregServer"));
}

// From an unregistered state a recognised switch registers (exit 0, keys present);
// anything else runs the program, which finds no AppID and exits with that error.
TEST_F(ServiceModuleTest, CommandLineTokens) {
    struct Case {
        const wchar_t* arguments;
        int exitCode;
        bool appId;
        bool service;
    };
    const Case cases[] = {
        {L"/service", 0, true, true},         {L"-SERVICE", 0, true, true},
        {L"/Service", 0, true, true},         {L"-regserver", 0, true, false},
        {L"/REGSERVER", 0, true, false},      {L"x/Servicey", ERROR_FILE_NOT_FOUND, false, false},
        {L"/Service extra", ERROR_FILE_NOT_FOUND, false, false}, {L"Service", ERROR_FILE_NOT_FOUND, false, false},
        {L"/Serv", ERROR_FILE_NOT_FOUND, false, false},          {L"--Service", 0, true, true},
        {L"/x -RegServer", 0, true, false},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(c.exitCode, Run(c.arguments)) << "case " << i;
        EXPECT_EQ(c.appId, KeyExists(kAppIdKey)) << "case " << i;
        EXPECT_EQ(c.service, ServiceInstalled()) << "case " << i;
        ASSERT_EQ(0, Run(L"-unregserver")) << "case " << i;
        EXPECT_FALSE(KeyExists(kAppIdKey)) << "case " << i;
    }
}

// Installed and started by the service manager, with the machine the test names.
class StartedService : public ServiceModuleTest {
protected:
    void SetUp() override {
        ServiceModuleTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_EQ(0, Run(L"/Service"));
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

    void StartService() {
        m_service = OpenZoraService(SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_USER_DEFINED_CONTROL);
        ASSERT_NE(nullptr, m_service) << GetLastError();
        ASSERT_TRUE(::StartServiceW(m_service, 0, nullptr)) << GetLastError();
        SERVICE_STATUS_PROCESS status = WaitForState(m_service, SERVICE_RUNNING, 10000);
        ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);
        EXPECT_EQ(0xC1u, status.dwControlsAccepted);
        m_processId = status.dwProcessId;
        m_debugging = m_debugger.Attach(m_processId);
        if (sizeof(void*) == 8) {
            ASSERT_TRUE(m_debugging) << "attach failed with " << m_debugger.AttachError();
        }
    }

    // The worker comes up after the service reports running.
    void WaitForWorker() {
        for (int i = 0; i < 200 && Call(7, L"ping", 200) != 0; ++i) Sleep(50);
    }

    static long Call(unsigned code, const wchar_t* data, DWORD timeoutMs) {
        CZORACfg client;
        IpbDataHeader scratch{};
        return client.ServiceCall(code, data, 0, &scratch, timeoutMs);
    }

    SC_HANDLE m_service = nullptr;
    DWORD m_processId = 0;
    test::DebuggeeOutput m_debugger;
    bool m_debugging = false;
};

TEST_F(StartedService, AnswersA32BitClient) {
    if (!test::ArchRuns(L"i686")) GTEST_SKIP() << test::CannotRun(L"i686");
    test::FreshMachine::SwitchOff();
    ASSERT_NO_FATAL_FAILURE(StartService());
    WaitForWorker();
    std::wstring client = test::ProgramPath(L"i686", L"zoractl.exe");
    if (client.empty()) GTEST_SKIP() << "the 32-bit build with zoractl.exe is missing";
    std::string output;
    EXPECT_EQ(0, test::Run(client, L"call 7 hello 5 5000", &output)) << output;
    EXPECT_NE(std::string::npos, output.find("request 7 answered: result 0x00000000 (0)")) << output;
    EXPECT_EQ(0, Call(7, L"own architecture", 5000));
}

// No request handler blocks yet, so the stop is sent while the worker waits for its
// next client: the service stops without waiting for the worker, which is never ended.
// The stop control ends the worker, then the service.
TEST_F(StartedService, StopEndsTheWorkerThenTheService) {
    test::FreshMachine::SwitchOff();
    ASSERT_NO_FATAL_FAILURE(StartService());
    WaitForWorker();
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, m_processId);
    ASSERT_NE(nullptr, process);

    SERVICE_STATUS status{};
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(ControlService(m_service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), WaitForState(m_service, SERVICE_STOPPED, 10000).dwCurrentState);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 10000));
    CloseHandle(process);
    if (m_debugging) {
        EXPECT_TRUE(m_debugger.WaitFor("Service stopped\n", 5000));
        EXPECT_EQ(1u, m_debugger.Count("ZoraWorkerThread: Leaving."));
    }
}

TEST_F(StartedService, UntranslatedUserControlsAreBadRequests) {
    test::FreshMachine::SwitchOff();
    ASSERT_NO_FATAL_FAILURE(StartService());
    if (!m_debugging) GTEST_SKIP() << "the service's log is seen only by a 64-bit debugger";
    const DWORD controls[] = {150, 200, 170};
    for (size_t i = 0; i < sizeof(controls) / sizeof(controls[0]); ++i) {
        SERVICE_STATUS status{};
        SetLastError(0xdeadbeef);
        EXPECT_TRUE(ControlService(m_service, controls[i], &status)) << "case " << i << " error " << GetLastError();
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState) << "case " << i;
        EXPECT_TRUE(m_debugger.WaitFor("Bad service request\n", 5000)) << "case " << i;
    }
    EXPECT_EQ(3u, m_debugger.Count("Bad service request\n"));
    EXPECT_EQ(0u, m_debugger.Count("ZORASrvc event"));
}

// The service manager refuses control 15 itself, as it refuses the power and
// session controls: the service's handler never sees it.
TEST_F(StartedService, ServiceManagerRefusesControlsOutsideTheUserRange) {
    test::FreshMachine::SwitchOff();
    ASSERT_NO_FATAL_FAILURE(StartService());
    const DWORD controls[] = {15, SERVICE_CONTROL_POWEREVENT, SERVICE_CONTROL_SESSIONCHANGE};
    for (size_t i = 0; i < sizeof(controls) / sizeof(controls[0]); ++i) {
        SERVICE_STATUS status{};
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(ControlService(m_service, controls[i], &status)) << "case " << i;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError()) << "case " << i;
    }
    if (m_debugging) {
        EXPECT_EQ(0u, m_debugger.Count("Bad service request"));
    }
}

TEST_F(StartedService, VirtualNotebookPowerControlArrivesAsPowerEvent) {
    if (test::ProgramPath(L"x86_64", L"ZoraVnb.dll").empty()) GTEST_SKIP() << "the virtual notebook is not built";
    test::FreshMachine machine;
    ASSERT_TRUE(machine.Ok());
    ASSERT_NO_FATAL_FAILURE(StartService());
    if (!m_debugging) GTEST_SKIP() << "the service's log is seen only by a 64-bit debugger";
    SERVICE_STATUS status{};
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(ControlService(m_service, kVnbControlPowerBase + PBT_APMPOWERSTATUSCHANGE, &status)) << GetLastError();
    EXPECT_TRUE(m_debugger.WaitFor("ZORASrvc event 13 type 10\n", 5000));
    EXPECT_TRUE(ControlService(m_service, kVnbControlSessionBase + WTS_SESSION_LOGON, &status)) << GetLastError();
    EXPECT_TRUE(m_debugger.WaitFor("ZORASrvc event 14 type 5\n", 5000));
    EXPECT_EQ(0u, m_debugger.Count("Bad service request"));
}

// The index of a device in "zoractl devices" output, or -1.
int ListedIndex(const std::string& listing, const wchar_t* instanceId) {
    size_t at = listing.find("[" + test::Narrow(instanceId) + "]");
    if (at == std::string::npos) return -1;
    size_t line = listing.rfind('\n', at);
    return atoi(listing.c_str() + (line == std::string::npos ? 0 : line + 1));
}

// The whole path: a 32-bit program's device manager (DmOptions=1) asks the running
// 64-bit service, whose worker switches the device on the virtual notebook.
TEST_F(StartedService, A32BitDeviceManagerSwitchesAVirtualDeviceThroughTheService) {
    if (!test::ArchRuns(L"i686")) GTEST_SKIP() << test::CannotRun(L"i686");
    std::wstring client = test::ProgramPath(L"i686", L"zoractl.exe");
    if (client.empty()) GTEST_SKIP() << "the 32-bit build with zoractl.exe is missing";
    test::FreshMachine machine;
    ASSERT_TRUE(machine.Ok());
    ASSERT_NO_FATAL_FAILURE(StartService());
    WaitForWorker();
    std::string listing;
    ASSERT_EQ(0, test::Run(client, L"devices", &listing)) << listing;
    int wireless = ListedIndex(listing, test::kVnbWireless);
    int fixed = ListedIndex(listing, test::kVnbWanMiniport);
    int disabled = ListedIndex(listing, test::kVnbSoftModem);
    ASSERT_TRUE(wireless >= 0 && fixed >= 0 && disabled >= 0) << listing;

    std::string output;
    EXPECT_EQ(0, test::Run(client, L"device disable " + std::to_wstring(wireless), &output)) << output;
    EXPECT_NE(std::string::npos, output.find("result 0x00000000")) << output;
    VnbDevice off = test::Device(test::kVnbWireless);
    EXPECT_EQ(22u, off.problem);
    EXPECT_EQ(0u, off.status & 0x8);
    if (m_debugging) {
        EXPECT_TRUE(m_debugger.WaitFor("ZoraWorker executed state change for " + test::Narrow(test::kVnbWireless) +
                                           " to 2 got 0",
                                       5000));
    }
    EXPECT_EQ(0, test::Run(client, L"device enable " + std::to_wstring(wireless), &output)) << output;
    EXPECT_EQ(0u, test::Device(test::kVnbWireless).problem);
    EXPECT_NE(0u, test::Device(test::kVnbWireless).status & 0x8);

    // Not disableable, and not started: S_OK, nothing changes.
    VnbDevice before = test::Device(test::kVnbWanMiniport);
    EXPECT_EQ(0, test::Run(client, L"device disable " + std::to_wstring(fixed), &output)) << output;
    EXPECT_EQ(before.status, test::Device(test::kVnbWanMiniport).status);
    EXPECT_EQ(before.problem, test::Device(test::kVnbWanMiniport).problem);
    EXPECT_EQ(0, test::Run(client, L"device disable " + std::to_wstring(disabled), &output)) << output;
    EXPECT_EQ(22u, test::Device(test::kVnbSoftModem).problem);

    // A device the service cannot find: the answer carries the device manager's failure.
    EXPECT_NE(0, test::Run(client, L"call 2 PCI\\NOWHERE\\0 2 5000", &output)) << output;
    if (m_debugging) {
        EXPECT_TRUE(m_debugger.WaitFor("ExecStateChange failed in SetupDiOpenDeviceInfo(PCI\\NOWHERE\\0)", 5000));
        EXPECT_TRUE(m_debugger.WaitFor("ZoraWorker executed state change for PCI\\NOWHERE\\0 to 2 got 80004005", 5000));
    }
}
// A request is carried out once: raising the request event again, with no new request,
// is refused and does not switch the device back after the user switched it.
TEST_F(StartedService, ARequestIsCarriedOutOnceAndARaisedEventReplaysNothing) {
    test::FreshMachine machine;
    ASSERT_TRUE(machine.Ok());
    ASSERT_NO_FATAL_FAILURE(StartService());
    WaitForWorker();
    CZORACfg client;
    IpbDataHeader scratch{};
    ASSERT_EQ(0, client.ServiceCall(DeviceStateRequest, test::kVnbWireless, CDevMgr::Disable, &scratch, 5000));
    ASSERT_EQ(22u, test::Device(test::kVnbWireless).problem);
    ASSERT_EQ(S_OK, CDevMgr::ExecStateChange(test::kVnbWireless, CDevMgr::Enable)) << "the user switches it on";
    CInterProcessBoard request, answer;
    ASSERT_EQ(S_OK, answer.Reset(kIpbAnswerBoard, kIpbBoardSize, 0, kIpbBoardIndex));
    ASSERT_EQ(S_OK, request.Reset(kIpbRequestBoard, kIpbBoardSize, 0, kIpbBoardIndex));
    answer.Flag(1);
    request.Flag(0);
    ASSERT_TRUE(answer.IsDataAvailble(5000));
    IpbDataHeader replay{};
    ASSERT_EQ(S_OK, answer.Read(0, &replay, sizeof(replay)));
    EXPECT_EQ(FailureNotice, replay.dwCode);
    EXPECT_EQ(0u, test::Device(test::kVnbWireless).problem) << "the device stays on";
}

// A board object of another kind under a board's name (made before the service starts)
// fails the start with an error the service manager shows; the service never reports
// running without its worker.
TEST_F(StartedService, ABoardNameTakenByAnotherKindOfObjectFailsTheStart) {
    test::FreshMachine::SwitchOff();
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
    test::FreshMachine::SwitchOff();
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
    SetLastError(0xdeadbeef);
    BOOL sent = ControlService(m_service, SERVICE_CONTROL_STOP, &control);
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
}  // namespace
