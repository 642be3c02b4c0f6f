// The service under load, as the system and its clients drive it: stops and starts while
// clients call, bursts of power events, quick source changes that reach the network
// adapter, and a stop while the machine does not answer. The service runs as installed,
// on a fresh virtual notebook, and applies the scheme file the case writes.
#include <gtest/gtest.h>
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CpuAgent.h"
#include "IpbProtocol.h"
#include "LanAgent.h"
#include "MachineSupport.h"
#include "SchemeEx.h"
#include "ServiceSupport.h"
#include "WinHandles.h"
#include "ZORACfg.h"
#include "ZoraPowerVariables.h"

namespace {
using test::Eventually;

// Stop and start cycles of the load case; ZORA_SERVICE_CYCLES=55 makes it a soak.
int Cycles() {
    wchar_t text[16] = {};
    DWORD n = GetEnvironmentVariableW(L"ZORA_SERVICE_CYCLES", text, 16);
    int cycles = n > 0 && n < 16 ? _wtoi(text) : 0;
    return cycles > 0 ? cycles : 5;
}

long Call(unsigned code, const std::wstring& data, DWORD param, DWORD timeoutMs) {
    CZORACfg client;
    IpbDataHeader scratch{};
    return client.ServiceCall(code, data.c_str(), param, &scratch, timeoutMs);
}

int Packed(int ac, int dc) { return zora_vars::Pack(zora_vars::Pack(0, 1, ac), 0, dc); }

int LiveDevice(const wchar_t* name) {
    CSchemeEx schemes;
    int status = -1;
    return schemes.GetDeviceStatus(name, &status) < 0 ? -1 : status;
}
int LiveCpuLevel() {
    CCpuAgent cpu;
    return cpu.Initialize() ? cpu.GetEblLevel() : -1;
}

// The wired adapter as the machine has it: the speed in its driver key, the speed it
// runs at (read when it last started), and its power-saving bits.
struct Adapter {
    long keySpeed = -1;
    std::wstring speedInEffect;
    long bits = -1;

    static Adapter Now() {
        Adapter adapter;
        CLanAgent lan;
        int initialized = lan.Initialize();
        adapter.keySpeed = static_cast<long>(lan.GetLanSpeed());
        adapter.bits = initialized ? static_cast<long>(lan.GetEblLevel()) : -1;
        adapter.speedInEffect = test::MachineValue(L"Lan", L"InEffect.*SpeedDuplex");
        return adapter;
    }
    bool operator==(const Adapter& other) const {
        return keySpeed == other.keySpeed && speedInEffect == other.speedInEffect && bits == other.bits;
    }
    std::string Text() const {
        return "speed " + std::to_string(keySpeed) + " in the key, " + test::Narrow(speedInEffect) +
               " in effect, bits " + std::to_string(bits);
    }
};

// What the scheme of the cases sets, by source ("*SpeedDuplex" holds speeds 0 to 4 as
// they are).
struct SourceValues {
    BYTE source;
    int cpu, port2, speed, bits;
    Adapter adapter() const { return Adapter{speed, std::to_wstring(speed), bits}; }
};
constexpr SourceValues kMains{1, 100, 0, 4, 11};
constexpr SourceValues kBattery{0, 50, 1, 2, 123};
const SourceValues& ValuesOf(BYTE source) { return source ? kMains : kBattery; }

// The installed service on a fresh machine with the graphics control object, the
// adapter vendor's provider and the logon stand-in; the user's scheme file holds the
// case's scheme, with network values. Every case ends with the service removed.
class LoadedService : public ::testing::Test {
protected:
    void SetUp() override {
        m_program = test::ServiceProgram();
        if (m_program.empty()) GTEST_SKIP() << "the 64-bit build with ZORASrvc.exe is missing";
        test::FreshMachine::SwitchOff();
        ASSERT_EQ(0, test::Run(m_program, L"/UnregServer"));
        ASSERT_EQ(0, test::Run(m_program, L"/Service"));
        m_machine.emplace();
        ASSERT_TRUE(m_machine->Ok());
        ASSERT_EQ(S_OK, test::RegisterPanel());
        ASSERT_EQ(S_OK, test::RegisterServer(test::kWmiServer));
        ASSERT_TRUE(test::FreshSchemeFile(m_schemes, &m_file, &m_folder));
        int scheme = m_schemes.GetActivePwrScheme();
        ASSERT_GE(scheme, 0);
        m_section = L"Scheme " + std::to_wstring(scheme);
        WritePrivateProfileStringW(L"ZORACfg", L"CurrentScheme", std::to_wstring(scheme).c_str(), m_file.c_str());
        PutScheme(L"CpuAdaptive", Packed(0, 0));
        PutScheme(L"CpuSpeed", Packed(kMains.cpu, kBattery.cpu));
        PutScheme(L"USBPort 2", Packed(kMains.port2, kBattery.port2));
        PutScheme(L"LanSpeedVista", Packed(kMains.speed, kBattery.speed));
        PutScheme(L"LinkStepOption", Packed(kMains.bits, kBattery.bits));
        m_service = test::OpenZoraService(SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS |
                                          SERVICE_USER_DEFINED_CONTROL);
        ASSERT_NE(nullptr, m_service) << GetLastError();
        ASSERT_NO_FATAL_FAILURE(Start());
    }
    void TearDown() override {
        if (m_service) {
            SERVICE_STATUS status{};
            ControlService(m_service, SERVICE_CONTROL_STOP, &status);
            test::WaitForState(m_service, SERVICE_STOPPED, 10000);
            CloseServiceHandle(m_service);
        }
        if (!m_program.empty()) {
            EXPECT_EQ(0, test::Run(m_program, L"/UnregServer"));
        }
        if (!m_file.empty()) DeleteFileW(m_file.c_str());
        test::FreshMachine::SwitchOff();
    }

    void PutScheme(const wchar_t* key, int packed) {
        WritePrivateProfileStringW(m_section.c_str(), key, std::to_wstring(packed).c_str(), m_file.c_str());
    }

    // Started, and answering a client.
    void Start() {
        ASSERT_TRUE(StartServiceW(m_service, 0, nullptr)) << GetLastError();
        SERVICE_STATUS_PROCESS status = test::WaitForState(m_service, SERVICE_RUNNING, 10000);
        ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);
        m_processId = status.dwProcessId;
        ASSERT_EQ(0, Call(7, L"ping", 0, 15000)) << "the started service does not answer";
    }
    // Stopped within the wait hint the service gives with its stop-pending state, and its
    // process gone.
    ::testing::AssertionResult StopsWithinItsWaitHint() {
        UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, m_processId));
        SERVICE_STATUS status{};
        if (!ControlService(m_service, SERVICE_CONTROL_STOP, &status))
            return ::testing::AssertionFailure() << "the stop control failed with " << GetLastError();
        DWORD hint = status.dwWaitHint;
        if (status.dwCurrentState != SERVICE_STOPPED && hint == 0)
            return ::testing::AssertionFailure() << "stop pending without a wait hint";
        SERVICE_STATUS_PROCESS now = test::WaitForState(m_service, SERVICE_STOPPED, hint);
        if (now.dwCurrentState != SERVICE_STOPPED)
            return ::testing::AssertionFailure() << "state " << now.dwCurrentState << " after the wait hint of "
                                                 << hint << " ms";
        if (process && WaitForSingleObject(process.get(), hint) != WAIT_OBJECT_0)
            return ::testing::AssertionFailure() << "the stopped service's process did not end";
        return ::testing::AssertionSuccess();
    }
    BOOL SourceChange(BYTE source) {
        test::SetAcLine(source);
        SERVICE_STATUS status{};
        return ControlService(m_service, kVnbControlPowerBase + PBT_APMPOWERSTATUSCHANGE, &status);
    }
    long Apply() { return Call(ApplySchemeRequest, m_folder, 0, 15000); }
    bool MachineOn(const SourceValues& v) {
        return LiveCpuLevel() == v.cpu && LiveDevice(L"USBPort 2") == v.port2 && Adapter::Now() == v.adapter();
    }

    int Threads() {
        int count = 0;
        UniqueSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
        THREADENTRY32 entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
            count += entry.th32OwnerProcessID == m_processId;
        return count;
    }

    std::wstring m_program;
    std::optional<test::FreshMachine> m_machine;
    test::CfgOverride m_cfg{L"ZORACfg.ini", test::ServiceProgram()};
    test::WinlogonStandIn m_winlogon;
    CSchemeEx m_schemes;
    std::wstring m_file, m_folder, m_section;
    SC_HANDLE m_service = nullptr;
    DWORD m_processId = 0;
};

// Four clients call all the time, applying the scheme (with its network values) and
// switching a device, while power events come and the service stops and starts again:
// it answers after every start and stops within its wait hint every time.
TEST_F(LoadedService, StopsAndStartsUnderLoadAndServesAfterEachStart) {
    std::atomic<bool> done{false};
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    ScopeExit joined([&] {
        done = true;
        for (std::thread& client : clients) client.join();
    });
    for (int client = 0; client < 4; ++client)
        clients.emplace_back([&, client] {
            for (int call = 0; !done; ++call) {
                long result = (call + client) % 2
                                  ? Call(ApplySchemeRequest, m_folder, 0, 1000)
                                  : Call(DeviceStateRequest, test::kVnbCamera, call % 4 ? 1 : 2, 1000);
                if (result != E_FAIL) ++answered;
                Sleep(5);
            }
        });
    const int cycles = Cycles();
    ULONGLONG longestStop = 0;
    for (int cycle = 0; cycle < cycles && !HasFailure(); ++cycle) {
        if (cycle > 0) {
            ASSERT_NO_FATAL_FAILURE(Start()) << "cycle " << cycle;
        }
        int before = answered;
        EXPECT_TRUE(SourceChange(cycle % 2 ? 1 : 0)) << "cycle " << cycle;
        EXPECT_TRUE(Eventually([&] { return answered > before + 2; }, 15000)) << "cycle " << cycle;
        EXPECT_TRUE(SourceChange(cycle % 2 ? 0 : 1)) << "cycle " << cycle;
        ULONGLONG stopped = GetTickCount64();
        EXPECT_TRUE(StopsWithinItsWaitHint()) << "cycle " << cycle;
        longestStop = std::max(longestStop, GetTickCount64() - stopped);
    }
    joined.dismiss();
    done = true;
    for (std::thread& client : clients) client.join();
    printf("[ measured ] %d stop and start cycles, %d answers to the clients, the longest stop %llu ms\n", cycles,
           answered.load(), static_cast<unsigned long long>(longestStop));
    ASSERT_NO_FATAL_FAILURE(Start());
}

// A burst of source changes leaves one application running and one pending: the
// service's threads stay as they were, and the machine ends on the last source.
TEST_F(LoadedService, ABurstOfSourceChangesKeepsTheThreadsAndEndsOnTheLastSource) {
    m_cfg.Set(L"ZORASrvc", L"CheckCpuTimes", L"0");
    ASSERT_EQ(0, Apply());
    ASSERT_TRUE(SourceChange(0));
    ASSERT_TRUE(Eventually([&] { return MachineOn(kBattery); }));
    UniqueHandle service(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, m_processId));
    ASSERT_TRUE(service);
    auto privateBytes = [&] {
        PROCESS_MEMORY_COUNTERS memory{};
        GetProcessMemoryInfo(service.get(), &memory, sizeof(memory));
        return memory.PagefileUsage;
    };
    const int threadsBefore = Threads();
    const SIZE_T bytesBefore = privateBytes();
    // Something else sets the devices and the adapter: only an application after the
    // burst brings them back.
    CCpuAgent cpu;
    ASSERT_TRUE(cpu.Initialize());
    ASSERT_EQ(75, cpu.SetEblLevel(75));
    ASSERT_EQ(0, m_schemes.SetDeviceStatus(L"USBPort 2", 0));

    constexpr int kChanges = 200;
    int mostThreads = 0;
    SIZE_T mostBytes = 0;
    for (int change = 1; change <= kChanges; ++change) {
        ASSERT_TRUE(SourceChange(change % 2 ? 1 : 0)) << "change " << change;
        mostThreads = std::max(mostThreads, Threads());
        mostBytes = std::max(mostBytes, privateBytes());
    }
    EXPECT_TRUE(Eventually([&] { return MachineOn(kBattery); }, 15000))
        << "processor " << LiveCpuLevel() << ", port " << LiveDevice(L"USBPort 2") << ", adapter "
        << Adapter::Now().Text();
    printf("[ measured ] %d source changes: threads %d -> at most %d, private bytes %llu -> at most %llu KiB\n",
           kChanges, threadsBefore, mostThreads, static_cast<unsigned long long>(bytesBefore / 1024),
           static_cast<unsigned long long>(mostBytes / 1024));
    EXPECT_LE(mostThreads, threadsBefore + 2) << "an application's threads: one pending at most";
    EXPECT_LE(mostBytes, bytesBefore + 8 * 1024 * 1024);
}

// Two source changes 10 ms apart: the later source's application writes the adapter
// last, and its speed is the one the adapter runs at, though the scheme sets the
// power-saving bits too.
TEST_F(LoadedService, TwoQuickSourceChangesLeaveTheLaterSettingsOnTheAdapter) {
    const struct Case {
        BYTE first, later;
    } cases[] = {{0, 1}, {1, 0}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        const SourceValues& later = ValuesOf(cases[i].later);
        // The service starts on the later source (the machine's own, mains, at first),
        // so that both changes are changes.
        test::SetAcLine(cases[i].later);
        if (i > 0) {
            ASSERT_NO_FATAL_FAILURE(Start()) << "case " << i;
        }
        ASSERT_EQ(0, Apply()) << "case " << i;
        {
            CLanAgent lan;
            ASSERT_TRUE(lan.Initialize()) << "case " << i;
            ASSERT_EQ(0ul, lan.SetLanSpeed(0));
            ASSERT_EQ(1ul, lan.ApplySettings());
            ASSERT_EQ(0ul, lan.SetEblLevel(0));
        }
        ASSERT_TRUE(SourceChange(cases[i].first)) << "case " << i;
        Sleep(10);
        ASSERT_TRUE(SourceChange(cases[i].later)) << "case " << i;
        EXPECT_TRUE(Eventually([&] { return Adapter::Now() == later.adapter(); }, 15000))
            << "case " << i << ": " << Adapter::Now().Text();
        // The stop waits for the adapter's last writer; nothing older writes after it.
        ASSERT_TRUE(StopsWithinItsWaitHint()) << "case " << i;
        EXPECT_EQ(later.adapter().Text(), Adapter::Now().Text()) << "case " << i;
    }
}

// The machine stops answering (its driver is stuck: the machine's lock is held) while an
// event's application runs, and a client's application waits behind it. The stop
// completes within its wait hint all the same, and the next start serves.
TEST_F(LoadedService, AStopBehindAStuckApplicationEndsWithinTheWaitHint) {
    m_cfg.Set(L"ZORASrvc", L"CheckCpuTimes", L"0");
    UniqueHandle lock(CreateMutexW(nullptr, FALSE, L"Global\\ZORA_VNB_MACHINE"));
    ASSERT_TRUE(lock) << GetLastError();
    // The event reads the source before the lock is taken; its application then waits
    // for the machine.
    ASSERT_TRUE(SourceChange(0));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(lock.get(), 10000));
    {
        ScopeExit release([&] { ReleaseMutex(lock.get()); });
        Call(ApplySchemeRequest, m_folder, 0, 1000);
        EXPECT_TRUE(StopsWithinItsWaitHint());
    }
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_EQ(0, Apply());
    EXPECT_TRUE(MachineOn(kBattery)) << "processor " << LiveCpuLevel() << ", adapter " << Adapter::Now().Text();
}

}  // namespace
