// The processor, embedded-controller and graphics agents inside one process, against
// the virtual notebook: the dual-core processor (ratios 6-12, voltage identifiers
// 0x13-0x29) and the MSRs the agent leaves on it, the firmware's features and battery
// record, the display driver's control object reached through COM by its ProgID; and
// the exact requests the driver receives.
#include <gtest/gtest.h>
#include <objbase.h>
#include <wbemcli.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BatAgent.h"
#include "CpuAgent.h"
#include "DebugCapture.h"
#include "EcAgent.h"
#include "GravoAgent.h"
#include "LanAgent.h"
#include "MachineSupport.h"
#include "WinHandles.h"
#include "ZoraEblContract.h"
#include "ZoraPanelBridge.h"
#include "ZoraSystemApi.h"

namespace {

constexpr int kMachineProcessors = 2;

const wchar_t* Bank(int processor) { return processor == 0 ? L"Processor0" : L"Processor1"; }
unsigned long long Msr(int processor, const std::wstring& name) {
    return test::Number(test::MachineValue(Bank(processor), name.c_str()));
}
unsigned long long Writes(int processor, const std::wstring& name) { return Msr(processor, name + L"Writes"); }
void SetOnBoth(const wchar_t* name, const wchar_t* value) {
    for (int p = 0; p < kMachineProcessors; ++p) test::SetMachineValue(Bank(p), name, value);
}

// The machine's processors the agent's per-processor writes reach: those of the first
// eight host processors of this process, folded onto the notebook's two. On a host
// with one processor that is processor 0 alone, and processor 1 must stay untouched.
std::vector<bool> ReachedProcessors() {
    DWORD_PTR process = 0, system = 0;
    GetProcessAffinityMask(GetCurrentProcess(), &process, &system);
    std::vector<bool> reached(kMachineProcessors, false);
    for (int i = 0; i < 8; ++i)
        if (process & (static_cast<DWORD_PTR>(1) << i)) reached[i % kMachineProcessors] = true;
    return reached;
}

bool HostHasTwoProcessors() {
    DWORD_PTR process = 0, system = 0;
    return GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && (process & 3) == 3;
}

// ---- Request layouts at the driver (functions 0-2) ----

// A method tag as the request carries it: the characters in reading order.
constexpr uint64_t Ascii(const char (&tag)[5]) {
    return uint64_t(uint8_t(tag[0])) | uint64_t(uint8_t(tag[1])) << 8 | uint64_t(uint8_t(tag[2])) << 16 |
           uint64_t(uint8_t(tag[3])) << 24;
}

std::function<void()> WithCpu(std::function<void(CCpuAgent&)> use) {
    return [use] {
        CCpuAgent agent;
        if (agent.Initialize() == 1) use(agent);
    };
}
std::function<void()> WithEc(std::function<void(CEcAgent&)> use) {
    return [use] {
        CEcAgent agent;
        if (agent.Setup() == 0) use(agent);
    };
}

// The last request of a function after one use of an agent on a fresh machine: its
// size (-1: none) and its four-byte fields in order.
// clang-format off
const struct AgentLayout {
    int function;
    long size;
    std::vector<uint64_t> dwords;
    std::function<void()> access;
} kLayouts[] = {
    {1, -1, {}, [] { CCpuAgent().SetEblLevel(60); }},                                // nothing before Initialize
    {1, 4, {0x19D}, WithCpu([](CCpuAgent&) {})},                                     // the lowest operating point last
    {1, 4, {0x19A}, WithCpu([](CCpuAgent& a) { a.SetEblLevel(60); })},               // 0x198, 0x199, then 0x19A
    {2, 12, {0x199, 0, 0x081A}, WithCpu([](CCpuAgent& a) { a.SetEblLevel(60); })},   // index, high, low
    {2, 12, {0x19A, 0, 0x1A}, WithCpu([](CCpuAgent& a) { a.SetEblLevel(30); })},     // duty 5 with bit 4 set
    {1, 4, {0x19D}, WithCpu([](CCpuAgent& a) { a.SetEblLevel(101); })},              // a refused level reads nothing
    {2, -1, {}, WithCpu([](CCpuAgent& a) { a.SetEblLevel(100); })},                  // nothing to change: no write
    {0, 16, {Ascii("GRDI"), 0xF8, 0, 0}, WithEc([](CEcAgent& a) { a.GetBacklightLevel(); })},
    {0, 16, {Ascii("GWRI"), 0xF8, 5, 0}, WithEc([](CEcAgent& a) { a.SetBacklightLevel(5); })},
    {0, 16, {Ascii("GWRI"), 0xF2, 0, 0}, WithEc([](CEcAgent& a) { a.SetWifiStatus(0); })},
    {0, 16, {Ascii("GWRI"), 0xF2, 1, 0}, WithEc([](CEcAgent& a) { a.SetBloothStatus(1); })},
    {0, 16, {Ascii("GRDI"), 0xF3, 0, 0}, WithEc([](CEcAgent& a) { a.GetCurrentDisplayMode(); })},
    {0, 16, {Ascii("_STA"), 0, 0, 0}, WithEc([](CEcAgent& a) { unsigned long r; a.GetStatus(&r); })},
    {0, 16, {Ascii("GDBG"), 0, 0, 0}, WithEc([](CEcAgent& a) { a.SelfTest(7); })},  // its argument unused
    {0, 16, {Ascii("EBTR"), 12, 0, 15},
     WithEc([](CEcAgent& a) { _BATTERY_EXTEND_FIELDS f; a.GetBatteryExtends(&f, 15); })},
};
// clang-format on

class AgentLayoutTest : public test::MachineCase, public ::testing::WithParamInterface<size_t> {};

TEST_P(AgentLayoutTest, RequestBytesAtTheDriver) {
    const AgentLayout& layout = kLayouts[GetParam()];
    layout.access();
    std::vector<test::RequestField> fields;
    for (size_t i = 0; i < layout.dwords.size(); ++i) fields.push_back({4 * i, 4, layout.dwords[i]});
    EXPECT_TRUE(test::LastRequest(layout.function).Is(layout.size, fields))
        << "case " << GetParam() << ", function " << layout.function;
}

INSTANTIATE_TEST_SUITE_P(Functions, AgentLayoutTest, ::testing::Range<size_t>(0, ARRAYSIZE(kLayouts)));

// ---- The processor ----

// A fresh machine and one agent for the case.
template <class Agent, class Base = test::MachineCase>
class AgentCase : public Base {
protected:
    Agent m_agent;
};
using CpuAgentTest = AgentCase<CCpuAgent>;

TEST_F(CpuAgentTest, InitializeReadsTheRangeOfThePart) {
    EXPECT_EQ(1000u, m_agent.GetVersion());
    ASSERT_EQ(1, m_agent.Initialize());
    EXPECT_TRUE(DebugCapture::Contains("m_nMinCBR6,m_nMaxCBR12,m_nMinVID19,m_nMaxVID41\n"));
    EXPECT_EQ(100, m_agent.GetEblLevel()) << "a fresh machine runs at full speed";
    for (int p = 0; p < kMachineProcessors; ++p) EXPECT_EQ(0u, Writes(p, L"PerfCtl") + Writes(p, L"ClockModulation"));
}

TEST_F(CpuAgentTest, Level60RunsRatio8OnEveryProcessorUnmodulated) {
    ASSERT_EQ(1, m_agent.Initialize());
    EXPECT_EQ(66, m_agent.SetEblLevel(60));
    // Ratio 8 of 6-12: voltage identifier trunc((41 - 19) x 2 / 6 + 19) = 26.
    EXPECT_TRUE(DebugCapture::Contains("Begin to write MSR with CBR:8, VID:26. \n"));
    std::vector<bool> reached = ReachedProcessors();
    for (int p = 0; p < kMachineProcessors; ++p) {
        SCOPED_TRACE(p);
        if (!reached[p]) {
            EXPECT_EQ(0x0C29u, Msr(p, L"PerfCtl")) << "a processor this host cannot run on keeps its state";
            continue;
        }
        EXPECT_EQ(0x081Au, Msr(p, L"PerfCtl"));
        EXPECT_EQ(8u, (Msr(p, L"PerfStatus") >> 8) & 0x1F) << "the current ratio follows the target";
        EXPECT_EQ(0x0C29u, Msr(p, L"PerfStatus") >> 32) << "the range is untouched";
        EXPECT_EQ(0u, Msr(p, L"ClockModulation") & 0x10) << "modulation stays off";
        EXPECT_EQ(0u, Writes(p, L"ClockModulation")) << "duty 8 was already in effect";
    }
    EXPECT_EQ(66, m_agent.GetEblLevel());
}

TEST_F(CpuAgentTest, LevelsPickTheSmallestRatioThenTheSmallestDuty) {
    // Ratio r: smallest with r x 100 / 12 >= level; duty d: smallest with r x 100 x d / 96 >= level.
    const struct {
        int level, result;
        unsigned ratio;
        unsigned long long modulation;
    } cases[] = {
        {1, 6, 6, 0x12},     {30, 31, 6, 0x1A}, {40, 43, 6, 0x1E}, {50, 50, 6, 0x2},
        {100, 100, 12, 0x2}, {60, 66, 8, 0x2},  {90, 91, 11, 0x2}, {75, 75, 9, 0x2},
    };
    ASSERT_EQ(1, m_agent.Initialize());
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i << " level " << cases[i].level);
        EXPECT_EQ(cases[i].result, m_agent.SetEblLevel(cases[i].level));
        EXPECT_EQ(cases[i].ratio, (Msr(0, L"PerfStatus") >> 8) & 0x1F);
        EXPECT_EQ(cases[i].modulation, Msr(0, L"ClockModulation"));
        EXPECT_EQ(cases[i].result, m_agent.GetEblLevel());
    }
}

TEST_F(CpuAgentTest, LevelsOutsideTheRangeTouchNothing) {
    EXPECT_EQ(-1, m_agent.SetEblLevel(60)) << "before Initialize";
    EXPECT_EQ(-1, m_agent.GetEblLevel()) << "before Initialize";
    ASSERT_EQ(1, m_agent.Initialize());
    for (int level : {0, 101, -5}) EXPECT_EQ(-1, m_agent.SetEblLevel(level)) << "level " << level;
    EXPECT_EQ(0x0C29u, Msr(0, L"PerfCtl"));
    EXPECT_EQ(0u, Writes(0, L"PerfCtl") + Writes(0, L"ClockModulation"));
}

TEST_F(CpuAgentTest, WhatIsAlreadyInEffectIsNotWrittenAgain) {
    ASSERT_EQ(1, m_agent.Initialize());
    EXPECT_EQ(100, m_agent.SetEblLevel(100));
    EXPECT_EQ(0u, Writes(0, L"PerfCtl")) << "ratio 12 is already the current one";
    EXPECT_EQ(0u, Writes(0, L"ClockModulation"));
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(31, m_agent.SetEblLevel(30)) << round;
        EXPECT_EQ(1u, Writes(0, L"PerfCtl")) << round;
        EXPECT_EQ(1u, Writes(0, L"ClockModulation")) << round;
    }
}

TEST_F(CpuAgentTest, ModulationWithBit4ClearIsFullDuty) {
    SetOnBoth(L"ClockModulation", L"0xE");  // duty 7 in bits 1-3, but not on
    ASSERT_EQ(1, m_agent.Initialize());
    EXPECT_EQ(100, m_agent.GetEblLevel());
    EXPECT_TRUE(DebugCapture::Contains("bDuty8\n"));
    EXPECT_EQ(100, m_agent.SetEblLevel(100));
    EXPECT_EQ(0u, Writes(0, L"ClockModulation"));
    EXPECT_EQ(0xEu, Msr(0, L"ClockModulation"));
}

TEST_F(CpuAgentTest, HighWordOfThePerformanceControlIsKept) {
    SetOnBoth(L"PerfCtl", L"0x100000C29");  // bit 32: the turbo opportunity disengaged
    ASSERT_EQ(1, m_agent.Initialize());
    EXPECT_EQ(66, m_agent.SetEblLevel(60));
    EXPECT_EQ(0x10000081Aull, Msr(0, L"PerfCtl"));
}

TEST_F(CpuAgentTest, ThreadAffinityIsRestoredAfterTheWrites) {
    if (!HostHasTwoProcessors()) GTEST_SKIP() << "the host gives this process fewer than two processors";
    HANDLE thread = GetCurrentThread();
    DWORD_PTR original = SetThreadAffinityMask(thread, 2);
    ASSERT_NE(0u, original);
    ASSERT_EQ(1u, GetCurrentProcessorNumber());
    ASSERT_EQ(1, m_agent.Initialize());
    EXPECT_EQ(66, m_agent.SetEblLevel(60));
    EXPECT_EQ(1u, GetCurrentProcessorNumber());
    EXPECT_EQ(static_cast<DWORD_PTR>(2), SetThreadAffinityMask(thread, original)) << "pinned as before the call";
    // Started on processor 1: processor 0 holds the new target only if the m_agent moved there.
    for (int p = 0; p < kMachineProcessors; ++p) {
        EXPECT_EQ(0x081Au, Msr(p, L"PerfCtl")) << "processor " << p;
        EXPECT_EQ(1u, Writes(p, L"PerfCtl")) << "processor " << p;
    }
}

TEST_F(CpuAgentTest, AFailedWriteStopsAtThatProcessorAndRestoresAffinity) {
    if (!HostHasTwoProcessors()) GTEST_SKIP() << "the host gives this process fewer than two processors";
    test::SetMachineValue(L"Processor1", L"ClockModulation", L"");  // not implemented there
    HANDLE thread = GetCurrentThread();
    DWORD_PTR original = SetThreadAffinityMask(thread, 1);
    ASSERT_NE(0u, original);
    ASSERT_EQ(1, m_agent.Initialize());
    EXPECT_EQ(-1, m_agent.SetEblLevel(30));
    EXPECT_TRUE(DebugCapture::Contains("error code of calling DeviceIoControl: 0x57. \n"));
    EXPECT_EQ(0x1Au, Msr(0, L"ClockModulation")) << "the write already made stays";
    EXPECT_EQ(6u, (Msr(1, L"PerfStatus") >> 8) & 0x1F) << "the ratio was set before the duty";
    EXPECT_EQ(static_cast<DWORD_PTR>(1), SetThreadAffinityMask(thread, original));
}

TEST_F(CpuAgentTest, EqualRatiosTakeTheLowestVoltageIdentifier) {
    SetOnBoth(L"PerfStatus", L"0xC290C000613");  // a part locked to ratio 12 but currently running at 6
    ASSERT_EQ(1, m_agent.Initialize());
    EXPECT_EQ(50, m_agent.SetEblLevel(50));
    EXPECT_TRUE(DebugCapture::Contains("Begin to write MSR with CBR:12, VID:19. \n"));
    EXPECT_EQ(0x0C13u, Msr(0, L"PerfCtl"));
    EXPECT_EQ(0x18u, Msr(0, L"ClockModulation")) << "duty 4 of 8";
}

TEST_F(CpuAgentTest, UnreadableControlRegisterFailsWithoutWriting) {
    SetOnBoth(L"PerfCtl", L"");
    ASSERT_EQ(1, m_agent.Initialize());
    EXPECT_EQ(-1, m_agent.SetEblLevel(60)) << "a level that was not set is not reported";
    EXPECT_TRUE(DebugCapture::Contains("error code of calling DeviceIoControl: 0x57. \n"));
    EXPECT_EQ(0x0C29u, Msr(0, L"PerfStatus") & 0xFFFF);
    EXPECT_EQ(0u, Writes(0, L"PerfCtl") + Writes(0, L"ClockModulation"));
}

TEST_F(CpuAgentTest, ARangeWithoutAHighestRatioIsRefused) {
    SetOnBoth(L"PerfStatus", L"0x06000C29");
    EXPECT_EQ(0, m_agent.Initialize());
    EXPECT_TRUE(DebugCapture::Contains("Invalid bus ratio range 6-0.\n"));
    EXPECT_EQ(-1, m_agent.SetEblLevel(60));
    EXPECT_EQ(-1, m_agent.GetEblLevel());
}

TEST_F(CpuAgentTest, ASecondInitializeLetsGoOfTheFirstHandle) {
    ASSERT_EQ(1, m_agent.Initialize());
    CCpuAgent copy(m_agent);  // shares the first handle
    EXPECT_EQ(100, copy.GetEblLevel());
    ASSERT_EQ(1, m_agent.Initialize());
    EXPECT_EQ(100, m_agent.GetEblLevel()) << "the new handle works";
    DebugCapture::Clear();
    EXPECT_EQ(100, copy.GetEblLevel()) << "the copy still holds the first handle, which stays open for it";
    EXPECT_FALSE(DebugCapture::Contains("error code of calling DeviceIoControl"));
}

TEST_F(CpuAgentTest, WithoutTheDriverEveryCallFailsAndTouchesNothing) {
    test::SetMachineValue(L"Driver", L"Installed", L"0");
    EXPECT_EQ(0, m_agent.Initialize());
    EXPECT_TRUE(DebugCapture::Contains("Open connection with driver failed for 2.\n"));
    EXPECT_EQ(-1, m_agent.SetEblLevel(60));
    EXPECT_EQ(-1, m_agent.GetEblLevel());
    for (int p = 0; p < kMachineProcessors; ++p) {
        EXPECT_EQ(0x0C29u, Msr(p, L"PerfCtl")) << p;
        EXPECT_EQ(0u, Msr(p, L"ClockModulation")) << p;
    }
}

// Every device handle the system-API table opens and closes while the log lives.
class SeamHandleLog {
public:
    SeamHandleLog() : m_sys(ZoraSys()), m_open(m_sys->CreateFileW), m_close(m_sys->CloseHandle) {
        s_log = this;
        m_sys->CreateFileW = Open;
        m_sys->CloseHandle = Close;
    }
    SeamHandleLog(const SeamHandleLog&) = delete;
    SeamHandleLog& operator=(const SeamHandleLog&) = delete;
    ~SeamHandleLog() {
        m_sys->CreateFileW = m_open;
        m_sys->CloseHandle = m_close;
        s_log = nullptr;
    }
    const std::vector<HANDLE>& Opened() const { return m_opened; }
    const std::vector<HANDLE>& Closed() const { return m_closed; }

private:
    static HANDLE WINAPI Open(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templateFile) {
        HANDLE handle = s_log->m_open(path, access, share, security, disposition, flags, templateFile);
        if (handle != INVALID_HANDLE_VALUE) s_log->m_opened.push_back(handle);
        return handle;
    }
    static BOOL WINAPI Close(HANDLE handle) {
        s_log->m_closed.push_back(handle);
        return s_log->m_close(handle);
    }

    static SeamHandleLog* s_log;
    ZoraSystemApi* m_sys;
    decltype(ZoraSystemApi::CreateFileW) m_open;
    decltype(ZoraSystemApi::CloseHandle) m_close;
    std::vector<HANDLE> m_opened, m_closed;
};
SeamHandleLog* SeamHandleLog::s_log = nullptr;

// An agent assigned to itself keeps its driver handle, and the handle's count of
// holders stays as it was: a copy that comes and goes leaves it open, and the agent's
// own end closes it.
TEST_F(CpuAgentTest, SelfAssignmentKeepsTheHandleAndItsHoldCount) {
    SeamHandleLog log;
    {
        CCpuAgent agent;
        ASSERT_EQ(1, agent.Initialize());
        ASSERT_EQ(1u, log.Opened().size());
        const CCpuAgent& same = agent;
        agent = same;
        EXPECT_EQ(66, agent.SetEblLevel(60)) << "the self-assignment dropped the driver handle";
        { CCpuAgent copy(agent); }
        EXPECT_EQ(31, agent.SetEblLevel(30)) << "a copy that went closed the handle under the agent";
        EXPECT_TRUE(log.Closed().empty());
    }
    ASSERT_EQ(1u, log.Closed().size()) << "the last holder closes the handle; a leaked hold keeps it open";
    EXPECT_EQ(log.Opened()[0], log.Closed()[0]);
}

// ---- The embedded controller ----

constexpr long kFail = static_cast<long>(0x80004005);
constexpr long kNoDriver = static_cast<long>(0x80070006);
constexpr long kNullPointer = static_cast<long>(0x80070057);

unsigned long long EcValue(const wchar_t* key) { return test::Number(test::MachineValue(L"EmbeddedController", key)); }

using EcAgentTest = AgentCase<CEcAgent>;

TEST_F(EcAgentTest, SetupLoadsTheDefaultCommandsAndLevels) {
    EXPECT_EQ(1000u, m_agent.GetVersion());
    ASSERT_EQ(0, m_agent.Setup());
    EXPECT_EQ(1, m_agent.Setup()) << "already open";
    // The tests' ZORACfg.ini has no "GCWCMD" section and no backlight range.
    EXPECT_EQ(8, m_agent.GetMaxLevels());
    EXPECT_EQ(1, m_agent.GetMinLevel());
    EXPECT_EQ(8u, m_agent.GetBacklightLevel());
    EXPECT_EQ(0, m_agent.Cleanup());
    EXPECT_EQ(0u, m_agent.GetBacklightLevel()) << "closed again";
}

TEST_F(EcAgentTest, BacklightRoundTrip) {
    ASSERT_EQ(0, m_agent.Setup());
    EXPECT_EQ(5u, m_agent.SetBacklightLevel(5));
    EXPECT_EQ(5u, EcValue(L"Backlight"));
    EXPECT_EQ(5u, m_agent.GetBacklightLevel());
    EXPECT_EQ(0xFFFFFFFFu, m_agent.SetBacklightLevel(9)) << "beyond the panel's levels";
    EXPECT_EQ(5u, EcValue(L"Backlight")) << "a refused level changes nothing";
}

TEST_F(EcAgentTest, WifiAndBluetoothShareCommand242ByDefault) {
    ASSERT_EQ(0, m_agent.Setup());
    EXPECT_EQ(1u, m_agent.GetWifiStatus());
    EXPECT_EQ(0u, m_agent.SetWifiStatus(0));
    EXPECT_EQ(0u, EcValue(L"Radio"));
    EXPECT_EQ(0u, m_agent.GetBluetoothStatus());
    EXPECT_EQ(1u, m_agent.SetBloothStatus(1));
    EXPECT_EQ(1u, m_agent.GetWifiStatus());
    EXPECT_EQ(1u, EcValue(L"Radio"));
}

TEST_F(EcAgentTest, DisplayModeSwitchesInTurn) {
    ASSERT_EQ(0, m_agent.Setup());
    EXPECT_EQ(1u, m_agent.GetCurrentDisplayMode());
    const unsigned long expected[] = {2, 3, 1, 2};
    for (size_t i = 0; i < ARRAYSIZE(expected); ++i) {
        EXPECT_EQ(expected[i], m_agent.SwitchDisplayMode()) << "switch " << i;
        EXPECT_EQ(expected[i], m_agent.GetCurrentDisplayMode()) << "switch " << i;
    }
    EXPECT_EQ(2u, EcValue(L"DisplayMode"));
}

TEST_F(EcAgentTest, StatusCallsReturnStatusCodes) {
    unsigned long result = 0x1234;
    EXPECT_EQ(kNullPointer, m_agent.GeneralRead(0xF8, nullptr)) << "checked before the driver";
    EXPECT_EQ(kNoDriver, m_agent.GeneralRead(0xF8, &result));
    EXPECT_EQ(kNoDriver, m_agent.GetStatus(&result));
    EXPECT_EQ(0x1234u, result);
    ASSERT_EQ(0, m_agent.Setup());
    EXPECT_EQ(0, m_agent.GetStatus(&result));
    EXPECT_EQ(0xFu, result);
    EXPECT_EQ(0u, m_agent.SelfTest(7));
    EXPECT_EQ(0, m_agent.GeneralWrite(0xF8, 3, &result));
    EXPECT_EQ(3u, result);
    EXPECT_EQ(0, m_agent.GeneralRead(0xF8, &result));
    EXPECT_EQ(3u, result);
    EXPECT_EQ(kNullPointer, m_agent.GeneralWrite(0xF8, 4, nullptr));
    EXPECT_EQ(kNullPointer, m_agent.ToExecCtrlMethod(kEblMethodStatus, nullptr, 0, 0, 0));
    EXPECT_EQ(3u, EcValue(L"Backlight"));
    EXPECT_EQ(kFail, m_agent.ToExecCtrlMethod(ZoraEblMethodTag("NOPE"), &result, 0, 0, 0));
    EXPECT_TRUE(DebugCapture::Contains("Calling driver function error. 50")) << "the firmware has no such method";
    EXPECT_EQ(3u, result);
    EXPECT_EQ(kFail, m_agent.GetAudioJackin());
    EXPECT_EQ(kFail, m_agent.GetBatteryTemp());
    EXPECT_EQ(kFail, m_agent.GetHotkeyIndex());
}

TEST_F(EcAgentTest, FeaturesBeforeSetupChangeNothing) {
    EXPECT_EQ(0u, m_agent.SetBacklightLevel(3));
    EXPECT_EQ(0u, m_agent.SetWifiStatus(0));
    EXPECT_EQ(0u, m_agent.GetBluetoothStatus());
    EXPECT_EQ(0u, m_agent.SwitchDisplayMode());
    _BATTERY_EXTEND_FIELDS fields{};
    EXPECT_EQ(kNoDriver, m_agent.GetBatteryExtends(&fields, 15));
    EXPECT_EQ(8u, EcValue(L"Backlight"));
    EXPECT_EQ(1u, EcValue(L"Radio"));
    EXPECT_EQ(1u, EcValue(L"DisplayMode"));
}

TEST_F(EcAgentTest, BatteryExtendsAssemblesFieldsFromRowPairs) {
    const wchar_t* rows[12] = {L"0x112", L"0x34", L"0x56", L"0x78", L"0x9A", L"0xBC",
                               L"0xDE",  L"0xF0", L"0x1E", L"0x01", L"0x02", L"0x03"};
    for (int i = 0; i < 12; ++i) test::SetMachineValue(L"BatteryRows", (L"Row" + std::to_wstring(i)).c_str(), rows[i]);
    ASSERT_EQ(0, m_agent.Setup());
    _BATTERY_EXTEND_FIELDS fields{};
    ASSERT_EQ(0, m_agent.GetBatteryExtends(&fields, 15));
    EXPECT_EQ(0x5678u, fields.Field1) << "rows 2 and 3";
    EXPECT_EQ(0x1234u, fields.Field2) << "rows 0 and 1, the low byte of each";
    EXPECT_EQ(0x9ABCu, fields.Field3) << "rows 4 and 5";
    EXPECT_EQ(0xDEF0u, fields.Field4) << "rows 6 and 7";
    EXPECT_TRUE(DebugCapture::Contains("BatteryExtRow[0] = 274"));
    EXPECT_TRUE(DebugCapture::Contains("BatteryExtRow[11] = 3"));
    EXPECT_EQ(kNullPointer, m_agent.GetBatteryExtends(nullptr, 15));
}

TEST_F(EcAgentTest, AnEmptyBatteryRecordIsAFailure) {
    test::SetMachineValue(L"BatteryRows", L"Present", L"0");
    ASSERT_EQ(0, m_agent.Setup());
    _BATTERY_EXTEND_FIELDS fields{0xAAAA, 0xBBBB, 0xCCCC, 0xDDDD};
    EXPECT_EQ(kFail, m_agent.GetBatteryExtends(&fields, 15));
    EXPECT_TRUE(
        DebugCapture::Contains("Calling driver function ZORA_GCW_BATTERY_METHOD error. Last error 0 ulReturn 0"));
    EXPECT_EQ(0xAAAAu, fields.Field1);
    EXPECT_EQ(0xBBBBu, fields.Field2);
    EXPECT_EQ(0xCCCCu, fields.Field3);
    EXPECT_EQ(0xDDDDu, fields.Field4);
}

TEST_F(EcAgentTest, WithoutTheDriverEveryCallFailsAndTouchesNothing) {
    test::SetMachineValue(L"Driver", L"Installed", L"0");
    EXPECT_EQ(kFail, m_agent.Setup());
    EXPECT_TRUE(DebugCapture::Contains("Open connection with driver failed for 2"));
    EXPECT_EQ(0u, m_agent.SetBacklightLevel(2));
    EXPECT_EQ(0u, m_agent.GetWifiStatus());
    unsigned long result = 0;
    EXPECT_EQ(kNoDriver, m_agent.GeneralWrite(0xF8, 2, &result));
    _BATTERY_EXTEND_FIELDS fields{};
    EXPECT_EQ(kNoDriver, m_agent.GetBatteryExtends(&fields, 15));
    EXPECT_EQ(8u, EcValue(L"Backlight"));
}

// ---- The graphics agent ----

using GravoAgentTest = AgentCase<CGravoAgent, test::GraphicsCase>;

TEST_F(GravoAgentTest, LevelBitsWriteThePolicies) {
    struct Case {
        unsigned long level;
        const wchar_t *vxfg, *field1, *field2, *vxps, *strength;
    } cases[] = {
        {0x44000032, L"1", L"0", L"0", L"1", L"50"},
        {0x30000000, L"0", L"1", L"1", L"0", L"0"},
        {0x140FFFFF, L"0", L"1", L"0", L"1", L"1048575"},
        {0x00000000, L"0", L"0", L"0", L"0", L"0"},
    };
    ASSERT_EQ(0, m_agent.Setup());
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i);
        EXPECT_EQ(cases[i].level, m_agent.SetEblLevel(static_cast<int>(cases[i].level)));
        EXPECT_EQ(cases[i].vxfg, Graphics(L"VXFG.Enabled"));
        EXPECT_EQ(cases[i].field1, Graphics(L"VXAB.Field1"));
        EXPECT_EQ(cases[i].field2, Graphics(L"VXAB.Field2"));
        EXPECT_EQ(cases[i].vxps, Graphics(L"VXPS.Enabled"));
        EXPECT_EQ(cases[i].strength, Graphics(L"VXPS.Strength"));
        EXPECT_EQ(cases[i].level, m_agent.GetEblLevel());
    }
}

TEST_F(GravoAgentTest, MachineStateReadsAsLevel) {
    SetGraphics({{L"VXFG.Enabled", L"1"}, {L"VXAB.Field2", L"1"}, {L"VXPS.Enabled", L"0"}, {L"VXPS.Strength", L"9"}});
    ASSERT_EQ(0, m_agent.Setup());
    EXPECT_EQ(0x60000000ul, m_agent.GetEblLevel()) << "a disabled saving reports no strength";
    SetGraphics({{L"VXPS.Enabled", L"1"}});
    EXPECT_EQ(0x64000009ul, m_agent.GetEblLevel());
    EXPECT_EQ(0x7ul, m_agent.CheckSupportStatus());
}

TEST_F(GravoAgentTest, UnsupportedVxpsKeepsTheOtherPolicies) {
    SetGraphics({{L"Capabilities", L"0x5"}, {L"VXFG.Enabled", L"1"}, {L"VXAB.Field1", L"1"}, {L"VXPS.Enabled", L"1"}});
    ASSERT_EQ(0, m_agent.Setup());
    EXPECT_EQ(0x5ul, m_agent.CheckSupportStatus());
    EXPECT_EQ(0x50000000ul, m_agent.GetEblLevel());
    EXPECT_TRUE(DebugCapture::Contains("Unsupported power policy VXPS!"));
    EXPECT_EQ(0x24000010ul, m_agent.SetEblLevel(0x24000010)) << "an unsupported VXPS is not a failure";
    EXPECT_EQ(L"0", Graphics(L"VXFG.Enabled"));
    EXPECT_EQ(L"1", Graphics(L"VXAB.Field2"));
    EXPECT_EQ(L"0", Graphics(L"VXPS.Strength")) << "the unsupported policy is left alone";
}

TEST_F(GravoAgentTest, UnsupportedAndLockedAnswers) {
    SetGraphics({{L"Capabilities", L"0x2"}});
    ASSERT_EQ(0, m_agent.Setup());
    EXPECT_EQ(0x74000003ul, m_agent.SetEblLevel(0x74000003)) << "VXFG and VXAB failures do not fail";
    EXPECT_TRUE(DebugCapture::Contains("Unsupported power policy VXFG!"));
    EXPECT_TRUE(DebugCapture::Contains("Unsupported power policy VXAB!"));
    EXPECT_EQ(L"3", Graphics(L"VXPS.Strength"));

    DebugCapture::Clear();
    SetGraphics({{L"Capabilities", L"0x7"}, {L"LockedPolicies", L"0x1"}});
    EXPECT_EQ(0x04000003ul, m_agent.GetEblLevel());
    EXPECT_TRUE(DebugCapture::Contains("GetPowerPolicy Locked! Need release the previous one!"));
    EXPECT_TRUE(DebugCapture::Contains("GetPowerPolicy for VXFG failed"));

    DebugCapture::Clear();
    SetGraphics({{L"LockedPolicies", L"0x2"}});
    EXPECT_EQ(0xFFFFFFFFul, m_agent.GetEblLevel());
    EXPECT_TRUE(DebugCapture::Contains("GetPowerPolicy for VXPS failed"));
    EXPECT_EQ(0xFFFFFFFFul, m_agent.SetEblLevel(0x04000001));
    EXPECT_TRUE(DebugCapture::Contains("SetPowerPolicy for VXPS failed"));
    EXPECT_EQ(L"3", Graphics(L"VXPS.Strength"));
}

TEST_F(GravoAgentTest, WrongLevelAndNoSetupChangeNothing) {
    CGravoAgent idle;
    EXPECT_EQ(0xFFFFFFFFul, idle.GetEblLevel());
    EXPECT_EQ(0xFFFFFFFFul, idle.SetEblLevel(0x04000005));
    EXPECT_EQ(0ul, idle.CheckSupportStatus());
    EXPECT_TRUE(DebugCapture::Contains("call setup first."));
    EXPECT_EQ(0, idle.Cleanup());

    ASSERT_EQ(0, m_agent.Setup());
    EXPECT_EQ(0xFFFFFFFFul, m_agent.SetEblLevel(-1));
    EXPECT_TRUE(DebugCapture::Contains("Wrong level!"));
    EXPECT_EQ(L"0", Graphics(L"VXPS.Enabled"));
    EXPECT_EQ(L"0", Graphics(L"VXFG.Enabled"));
}

TEST_F(GravoAgentTest, SetupOnceAndHandlesClosed) {
    {
        CGravoAgent agent;
        ASSERT_EQ(0, agent.Setup());
        EXPECT_EQ(0, agent.Setup());
        EXPECT_EQ(L"1", Graphics(L"Clients")) << "no second object or handle";
        EXPECT_EQ(0, agent.Cleanup());
        EXPECT_EQ(L"0", Graphics(L"Clients"));
        EXPECT_EQ(0, agent.Setup());
        EXPECT_EQ(L"1", Graphics(L"Clients"));
    }
    EXPECT_EQ(L"0", Graphics(L"Clients")) << "destruction closes the handle";
}

TEST_F(GravoAgentTest, OpenRefusals) {
    struct Case {
        const wchar_t* openError;
        long result;
        const char* message;
    } cases[] = {
        {L"19", static_cast<long>(0x80004001), "PowerAPI Not Supported.19"},
        {L"20", static_cast<long>(0x80070005), "PowerAPI Locked.20"},
        {L"5", static_cast<long>(0x80004005), "PowerApiOpen() failed.5"},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i);
        DebugCapture::Clear();
        SetGraphics({{L"OpenError", cases[i].openError}});
        CGravoAgent agent;
        EXPECT_EQ(cases[i].result, agent.Setup());
        EXPECT_TRUE(DebugCapture::Contains(cases[i].message));
        EXPECT_EQ(L"0", Graphics(L"Clients")) << "a locked handle is closed again";
        EXPECT_EQ(0xFFFFFFFFul, agent.GetEblLevel()) << "the agent stays closed";
        SetGraphics({{L"OpenError", L"0"}});
        EXPECT_EQ(0, agent.Setup()) << "a later Setup may succeed";
    }
}

TEST_F(GravoAgentTest, PlaceholderAgents) {
    CDisplayAgent display;
    CEblTuner tuner;
    EXPECT_EQ(0xFFFFFFFFul, display.SetEblLevel(50));
    EXPECT_EQ(0xFFFFFFFFul, display.GetEblLevel());
    EXPECT_EQ(0ul, display.CheckSupportStatus());
    EXPECT_EQ(0ul, tuner.SetEblLevel(50));
    EXPECT_EQ(0ul, tuner.GetEblLevel());
    EXPECT_EQ(0ul, tuner.CheckSupportStatus());
    EXPECT_EQ(1000ul, display.GetVersion());
    EXPECT_EQ(1000ul, tuner.GetVersion());
    EXPECT_EQ(1000ul, CGravoAgent().GetVersion());
}

// The object called as a C caller calls it: by method-table entries 20 to 24.
TEST_F(GravoAgentTest, PowerCallsAtTheirTableEntries) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    CLSID clsid{};
    ASSERT_EQ(S_OK, CLSIDFromProgID(ZORA_PANEL_PROGID, &clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_ZoraPanelBridge, clsid));
    IZoraPanelBridge* bridge = nullptr;
    ASSERT_EQ(S_OK,
              CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IZoraPanelBridge, reinterpret_cast<void**>(&bridge)));
    const IZoraPanelBridgeVtbl* table = *reinterpret_cast<IZoraPanelBridgeVtbl* const*>(bridge);
    uint32_t handle = 0, error = 99, caps = 0;
    EXPECT_EQ(S_OK, table->PowerApiOpen(bridge, &handle, &error));
    EXPECT_EQ(0u, error);
    EXPECT_EQ(S_OK, table->GetPowerConsCaps(bridge, handle, &caps, &error));
    EXPECT_EQ(0x7u, caps);
    PanelVxpsPolicy vxps{1, 0, 0, 77, 0};
    EXPECT_EQ(S_OK, table->SetPowerPolicy(bridge, handle, kPanelPolicyVxps, &kPanelPolicyVxpsId, sizeof(vxps), &vxps,
                                          &error));
    EXPECT_EQ(0u, error);
    EXPECT_EQ(L"77", Graphics(L"VXPS.Strength"));
    PanelVxfgPolicy vxfg{};
    EXPECT_EQ(S_OK, table->GetPowerPolicy(bridge, handle, kPanelPolicyVxfg, &kPanelPolicyVxpsId, sizeof(vxfg), &vxfg,
                                          &error));
    EXPECT_EQ(kPanelErrorBadRecord, error) << "identifier of another policy";
    EXPECT_EQ(S_OK, table->GetPowerConsCaps(bridge, handle + 1, &caps, &error));
    EXPECT_EQ(kPanelErrorInvalidHandle, error);
    EXPECT_EQ(S_OK, table->PowerApiClose(bridge, handle, &error));
    EXPECT_EQ(0u, error);
    EXPECT_EQ(0u, table->Release(bridge));
    CoUninitialize();
}

// ---- LAN agent ----

// The wired adapter's driver key, 0001 of the network class key the virtual notebook
// owns (64-bit view), and its values as text; "(absent)" for a missing value.
constexpr wchar_t kLanDriverKey[] =
    L"Software\\Korvex\\ZORA\\VirtualNotebook\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\0001";

std::wstring LanValue(const wchar_t* name) {
    wchar_t text[260] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLanDriverKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return L"(no key)";
    DWORD type = 0;
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_SZ ? text : L"(absent)";
}

// value null deletes it.
void SetLanValue(const wchar_t* name, const wchar_t* value) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLanDriverKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key));
    if (value)
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                                static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t))));
    else
        RegDeleteValueW(key, name);
    RegCloseKey(key);
}

std::wstring Lan(const wchar_t* key) { return test::MachineValue(L"Lan", key); }

// Section [DovnetWmi]: the adapter vendor's WMI provider's adapters and transaction.
std::wstring Wmi(const wchar_t* key) { return test::MachineValue(L"DovnetWmi", key); }
void SetWmi(const std::wstring& key, const std::wstring& value) {
    test::SetMachineValue(L"DovnetWmi", key.c_str(), value);
}

// A fresh machine with the vendor's WMI provider registered (CLSID_WbemLocator treated
// as its locator).
class LanAgentTest : public test::MachineCase {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(S_OK, test::RegisterServer(test::kWmiServer)); }
    void SetUp() override {
        test::MachineCase::SetUp();
        DebugCapture::Clear();
    }
    CLanAgent m_agent;
};

// A client of a namespace as the agent is one (COM initialised by the agent it sits beside).
class WmiClient {
public:
    HRESULT Connect(const wchar_t* name) {
        ComPtr<IWbemLocator> locator;
        HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                      locator.put_void());
        if (FAILED(hr)) return hr;
        return locator->ConnectServer(Bstr(name).get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &m_services);
    }
    // Whether the namespace has the vendor's net service: the provider's own namespace.
    bool HasNetService() {
        ComPtr<IEnumWbemClassObject> instances;
        ComPtr<IWbemClassObject> instance;
        ULONG returned = 0;
        return m_services &&
               SUCCEEDED(m_services->CreateInstanceEnum(Bstr(L"Dovnet_NetService").get(), WBEM_FLAG_FORWARD_ONLY,
                                                        nullptr, &instances)) &&
               SUCCEEDED(instances->Next(static_cast<LONG>(WBEM_INFINITE), 1, &instance, &returned)) && returned == 1;
    }
    // Runs a method with at most one input value (name null: no input), under a context
    // carrying clientSetId when it is non-zero.
    HRESULT Exec(const wchar_t* className, const wchar_t* path, const wchar_t* method, const wchar_t* name,
                 long value, unsigned long clientSetId, ComPtr<IWbemClassObject>* out = nullptr) {
        ComPtr<IWbemClassObject> cls, signature, input, output;
        if (name) {
            HRESULT hr = m_services->GetObject(Bstr(className).get(), 0, nullptr, &cls, nullptr);
            if (SUCCEEDED(hr)) hr = cls->GetMethod(method, 0, &signature, nullptr);
            if (SUCCEEDED(hr)) hr = signature->SpawnInstance(0, &input);
            Variant v;
            v.value.vt = VT_I4;
            v.value.lVal = value;
            if (SUCCEEDED(hr)) hr = input->Put(name, 0, &v.value, 0);
            if (FAILED(hr)) return hr;
        }
        ComPtr<IWbemContext> context;
        if (clientSetId) {
            Variant id;
            id.value.vt = VT_I4;
            id.value.lVal = static_cast<LONG>(clientSetId);
            HRESULT hr = CoCreateInstance(CLSID_WbemContext, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemContext,
                                          context.put_void());
            if (SUCCEEDED(hr)) hr = context->SetValue(L"ClientSetId", 0, &id.value);
            if (FAILED(hr)) return hr;
        }
        HRESULT hr = m_services->ExecMethod(Bstr(path).get(), Bstr(method).get(), 0, context.get(), input.get(),
                                            &output, nullptr);
        if (out) *out = output;
        return hr;
    }

private:
    ComPtr<IWbemServices> m_services;
};

// Which speed values the adapter's driver has decides what SetLanSpeed writes and
// GetLanSpeed reads (the Vista path: NICParaVista is "SpeedDuplex").
TEST_F(LanAgentTest, SpeedByTheParametersTheDriverHas) {
    constexpr unsigned long kFail = 0xFFFFFFFF;
    const wchar_t* kAbsent = L"(absent)";
    struct {
        const wchar_t* speedDuplex;      // before; null: absent
        const wchar_t* starSpeedDuplex;  // before; null: absent
        int speed;
        unsigned long result;
        const wchar_t* speedDuplexAfter;
        const wchar_t* starSpeedDuplexAfter;
        unsigned long readBack;
    } cases[] = {
        {nullptr, L"0", 5, 5, kAbsent, L"6", 5},         // 5 is written as the standard value 6
        {nullptr, L"0", 3, 3, kAbsent, L"3", 3},
        {nullptr, L"0", 0, 0, kAbsent, L"0", 0},
        {nullptr, L"2", 6, kFail, kAbsent, L"2", 2},     // no standard value above index 5
        {nullptr, L"2", -1, kFail, kAbsent, L"2", 2},
        {nullptr, L"5", 1, 1, kAbsent, L"1", 1},
        {L"1", nullptr, 7, 7, L"7", kAbsent, 7},         // the driver's own parameter, written as given
        {L"1", L"4", 5, 5, L"5", L"4", 5},               // the configured parameter comes first
        {nullptr, nullptr, 2, kFail, kAbsent, kAbsent, kFail},
    };
    m_agent.Initialize();
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i);
        SetLanValue(L"SpeedDuplex", cases[i].speedDuplex);
        SetLanValue(L"*SpeedDuplex", cases[i].starSpeedDuplex);
        EXPECT_EQ(cases[i].result, m_agent.SetLanSpeed(cases[i].speed));
        EXPECT_EQ(cases[i].speedDuplexAfter, LanValue(L"SpeedDuplex"));
        EXPECT_EQ(cases[i].starSpeedDuplexAfter, LanValue(L"*SpeedDuplex"));
        EXPECT_EQ(cases[i].readBack, m_agent.GetLanSpeed());
    }
    EXPECT_TRUE(DebugCapture::Contains("Cannot find the hardware.\n"));
    EXPECT_TRUE(DebugCapture::Contains("The input value is invalid.\n"));
}

// The adapter is the first driver key whose description contains the configured name,
// case-sensitively; the speed parameter's name is configured per Windows version.
TEST_F(LanAgentTest, AdapterFoundByAPartOfItsDescription) {
    struct {
        const wchar_t* description;
        const wchar_t* nicName;        // null: as installed
        const wchar_t* nicParaVista;   // null: as installed
        unsigned long result;
        const wchar_t* starSpeedDuplexAfter;
    } cases[] = {
        {L"Gigabit Ethernet Controller", nullptr, nullptr, 5, L"6"},
        {L"Korvex(R) NL400 Gigabit Ethernet Controller #2", nullptr, nullptr, 5, L"6"},
        {L"Korvex(R) NL400 Gigabit Ethernet Controller", L"Korvex(R) NL400", nullptr, 5, L"6"},
        {L"gigabit ethernet controller", nullptr, nullptr, 0xFFFFFFFF, L"0"},
        {L"Gigabit Ethernet", nullptr, nullptr, 0xFFFFFFFF, L"0"},
        {L"Gigabit Ethernet Controller", L"Korvex(R) NL400", nullptr, 0xFFFFFFFF, L"0"},
        {L"Gigabit Ethernet Controller", nullptr, L"*SpeedDuplex", 5, L"5"},  // named: written as given
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i);
        test::CfgOverride cfg(L"ZORACfg.ini");
        if (cases[i].nicName) cfg.Set(L"ZORACfg", L"NICName", cases[i].nicName);
        if (cases[i].nicParaVista) cfg.Set(L"ZORACfg", L"NICParaVista", cases[i].nicParaVista);
        SetLanValue(L"DriverDesc", cases[i].description);
        SetLanValue(L"*SpeedDuplex", L"0");
        CLanAgent agent;
        agent.Initialize();
        EXPECT_EQ(cases[i].result, agent.SetLanSpeed(5));
        EXPECT_EQ(cases[i].starSpeedDuplexAfter, LanValue(L"*SpeedDuplex"));
    }
}

// The adapter reads its parameters when the device installer restarts it: a new speed
// is in effect only after ApplySettings, and only a started adapter restarts.
TEST_F(LanAgentTest, NewSpeedInEffectOnlyAfterTheRestart) {
    m_agent.Initialize();
    ASSERT_EQ(2ul, m_agent.SetLanSpeed(2));
    EXPECT_EQ(L"2", LanValue(L"*SpeedDuplex"));
    EXPECT_EQ(L"0", Lan(L"InEffect.*SpeedDuplex")) << "not before the restart";
    EXPECT_EQ(0ull, test::Number(Lan(L"Restarts")));
    EXPECT_EQ(1ul, m_agent.ApplySettings());
    EXPECT_EQ(1ull, test::Number(Lan(L"Restarts")));
    EXPECT_EQ(L"2", Lan(L"InEffect.*SpeedDuplex"));
    EXPECT_EQ(L"(absent)", Lan(L"InEffect.SpeedDuplex"));
    EXPECT_TRUE(DebugCapture::Contains("Setup the lan speed successfully!"));

    SetLanValue(L"SpeedDuplex", L"3");
    EXPECT_EQ(1ul, m_agent.ApplySettings());
    EXPECT_EQ(2ull, test::Number(Lan(L"Restarts")));
    EXPECT_EQ(L"3", Lan(L"InEffect.SpeedDuplex"));

    VnbDevice device = test::Device(test::kVnbEthernet);
    ASSERT_TRUE(VnbSetDeviceState(nullptr, test::kVnbEthernet, (device.status | DN_HAS_PROBLEM) & ~DN_STARTED,
                                  CM_PROB_DISABLED));
    EXPECT_EQ(1ul, m_agent.SetLanSpeed(1));
    EXPECT_EQ(1ul, m_agent.ApplySettings()) << "the device was found";
    EXPECT_EQ(2ull, test::Number(Lan(L"Restarts"))) << "a stopped adapter does not restart";
    EXPECT_EQ(L"2", Lan(L"InEffect.*SpeedDuplex"));
}

TEST_F(LanAgentTest, ApplySettingsWithoutTheAdapterRestartsNothing) {
    test::CfgOverride cfg(L"ZORACfg.ini");
    cfg.Set(L"ZORACfg", L"NICName", L"Korvex(R) NL400");
    CLanAgent agent;
    agent.Initialize();
    EXPECT_EQ(0xFFFFFFFFul, agent.ApplySettings());
    EXPECT_EQ(0ull, test::Number(Lan(L"Restarts")));
    EXPECT_EQ(1000ul, agent.GetVersion());
}

// The first adapter whose "AdapterStatus" is below 2048 is the one; one at 2048 or above
// only while none below is found, the last of those then.
TEST_F(LanAgentTest, AdapterChosenByItsStatus) {
    // Adapter i reads back as the EBL level 1 << i.
    const wchar_t* kValues[] = {L"1,0,1,0,0,0,0,0", L"0,1,1,0,0,0,0,0", L"0,0,2,0,0,0,0,0"};
    struct {
        std::vector<const wchar_t*> statuses;
        int initialized;
        unsigned long level;
    } cases[] = {
        {{L"2048"}, 1, 0x01},                     // the only one
        {{L"0x800", L"0"}, 1, 0x02},              // not when one below exists
        {{L"2047", L"2048"}, 1, 0x01},
        {{L"0x800", L"0xFFFF"}, 1, 0x02},         // the last provisional one
        {{L"0x900", L"0x7FF", L"0"}, 1, 0x02},    // the search stops at the first below
        {{}, 0, 0xFFFFFFFF},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i);
        test::FreshMachine machine;
        SetWmi(L"Adapters", std::to_wstring(cases[i].statuses.size()));
        for (size_t a = 0; a < cases[i].statuses.size(); ++a) {
            SetWmi(L"Adapter" + std::to_wstring(a) + L".Status", cases[i].statuses[a]);
            SetWmi(L"Adapter" + std::to_wstring(a) + L".Values", kValues[a]);
        }
        CLanAgent agent;
        EXPECT_EQ(cases[i].initialized, agent.Initialize());
        EXPECT_EQ(cases[i].level, agent.GetEblLevel());
    }
    EXPECT_TRUE(DebugCapture::Contains("the AdapterStatus property of the adapter: 0x2048\n"));
    EXPECT_TRUE(DebugCapture::Contains("Cannot Get the next instance of the adapter: 0x"));
}

// Each supported feature is written by its bit (SavePowerNowEnabled 2 when set, 1 when
// clear), an unsupported one is left as it is whatever its bit, and GetEblLevel reads
// back what was set. Without a supported feature no transaction begins.
TEST_F(LanAgentTest, EblLevelWrittenByTheFeatureTable) {
    constexpr unsigned long kFail = 0xFFFFFFFF;
    const wchar_t* kBefore = L"0,1,2,0,1,0,0,0";
    struct {
        const wchar_t* supported;
        int level;
        unsigned long result;
        const wchar_t* values;
        unsigned long readBack;
        const wchar_t* transaction;
    } cases[] = {
        {L"0xFF", 0xFF, 0xFF, L"1,1,2,1,1,1,1,1", 0xFF, L"1 applied"},
        {L"0xFF", 0x00, 0x00, L"0,0,1,0,0,0,0,0", 0x00, L"1 applied"},  // bit 2 clear writes 1
        {L"0xFF", 0x04, 0x04, L"0,0,2,0,0,0,0,0", 0x04, L"1 applied"},
        {L"0xFF", 0x1A5, 0x1A5, L"1,0,2,0,0,1,0,1", 0xA5, L"1 applied"},  // bits above 7 mean nothing
        {L"0x7B", 0xFF, 0xFF, L"1,1,2,1,1,1,1,0", 0x7B, L"1 applied"},  // 2 and 7 unsupported: untouched
        {L"0x7B", 0x00, 0x00, L"0,0,2,0,0,0,0,0", 0x00, L"1 applied"},
        {L"0x00", 0xFF, kFail, kBefore, 0x00, L"none"},
        {L"0xFF", -1, kFail, kBefore, 0x16, L"none"},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i);
        test::FreshMachine machine;
        SetWmi(L"Adapter0.Supported", cases[i].supported);
        SetWmi(L"Adapter0.Values", kBefore);
        CLanAgent agent;
        ASSERT_EQ(1, agent.Initialize());
        EXPECT_EQ(test::Number(cases[i].supported), agent.CheckSupportStatus());
        EXPECT_EQ(cases[i].result, agent.SetEblLevel(cases[i].level));
        EXPECT_EQ(cases[i].values, Wmi(L"Adapter0.Values"));
        EXPECT_EQ(L"", Wmi(L"Adapter0.Pending"));
        EXPECT_EQ(cases[i].readBack, agent.GetEblLevel());
        EXPECT_EQ(cases[i].transaction, Wmi(L"Transaction"));
    }
}

// Options the adapter refuses (a feature it has lost since the agent asked) only get
// logged: the transaction is applied all the same, with nothing staged.
TEST_F(LanAgentTest, RefusedOptionsStillApplyTheTransaction) {
    ASSERT_EQ(1, m_agent.Initialize());
    ASSERT_EQ(0xFFul, m_agent.CheckSupportStatus());
    SetWmi(L"Adapter0.Supported", L"0x7F");
    EXPECT_EQ(0xFFul, m_agent.SetEblLevel(0xFF));
    EXPECT_TRUE(DebugCapture::Contains("Cannot ExecMethod : SetPowerUsageOptions: 0x80041008\n"));
    EXPECT_EQ(L"0,1,1,1,0,0,0,0", Wmi(L"Adapter0.Values"));
    EXPECT_EQ(L"1 applied", Wmi(L"Transaction"));
}

// The net service's transaction as every client shares it through the machine: options
// are taken only inside the open transaction with its handle as "ClientSetId", take
// effect on "Apply" with that handle, and a new "BeginApply" gives up one left open.
TEST_F(LanAgentTest, TransactionOfTheNetService) {
    const wchar_t* kAdapter = L"Dovnet_PhysicalEthernetAdapter.Index=0";
    const wchar_t* kService = L"Dovnet_NetService=@";
    const wchar_t* kDefault = L"0,1,1,1,0,0,0,0";
    const wchar_t* kApplied = L"1,1,1,1,0,0,0,0";
    enum Call { kBegin, kSet, kApply, kSupport };
    // handle: 0 none, 1 the last BeginApply's, 2 the one before, 3 one never given.
    struct Step {
        Call call;
        int handle;
        const wchar_t* property;
        long value;
        unsigned long hr;
        const wchar_t* values;
        const wchar_t* pending;
    } steps[] = {
        {kSet, 0, L"ACBSMode", 1, WBEM_E_INVALID_OPERATION, kDefault, L""},  // outside a transaction
        {kApply, 3, nullptr, 0, WBEM_E_INVALID_OPERATION, kDefault, L""},
        {kBegin, 0, nullptr, 0, S_OK, kDefault, L""},
        {kSet, 0, L"ACBSMode", 1, WBEM_E_ACCESS_DENIED, kDefault, L""},      // no ClientSetId
        {kSet, 3, L"ACBSMode", 1, WBEM_E_ACCESS_DENIED, kDefault, L""},      // another one
        {kSet, 1, L"ACBSMode", 1, S_OK, kDefault, L"1,,,,,,,"},              // staged only
        {kSet, 1, L"SavePowerNowEnabled", 0, WBEM_E_INVALID_PARAMETER, kDefault, L"1,,,,,,,"},
        {kApply, 3, nullptr, 0, WBEM_E_ACCESS_DENIED, kDefault, L"1,,,,,,,"},
        {kApply, 1, nullptr, 0, S_OK, kApplied, L""},
        {kApply, 1, nullptr, 0, WBEM_E_INVALID_OPERATION, kApplied, L""},   // ended
        {kBegin, 0, nullptr, 0, S_OK, kApplied, L""},
        {kSet, 1, L"SmartPowerDown", 0, S_OK, kApplied, L",,,0,,,,"},
        {kBegin, 0, nullptr, 0, S_OK, kApplied, L""},                         // the stale one goes
        {kSet, 2, L"SmartPowerDown", 0, WBEM_E_ACCESS_DENIED, kApplied, L""},
        {kApply, 2, nullptr, 0, WBEM_E_ACCESS_DENIED, kApplied, L""},
        {kSupport, 0, L"0xFE", 0, S_OK, kApplied, L""},
        {kSet, 1, L"ACBSMode", 0, WBEM_E_INVALID_PARAMETER, kApplied, L""},  // not supported
        {kSet, 1, L"ReduceSpeedOnPowerDown", 0, S_OK, kApplied, L",0,,,,,,"},
        {kApply, 1, nullptr, 0, S_OK, L"1,0,1,1,0,0,0,0", L""},
    };
    WmiClient client;
    ASSERT_EQ(S_OK, client.Connect(L"\\\\.\\root\\DovnetWmi"));
    unsigned long handles[4] = {0, 0, 0, 0x7777};
    for (size_t i = 0; i < ARRAYSIZE(steps); ++i) {
        SCOPED_TRACE(testing::Message() << "step " << i);
        const Step& step = steps[i];
        HRESULT hr = S_OK;
        if (step.call == kBegin) {
            ComPtr<IWbemClassObject> out;
            hr = client.Exec(nullptr, kService, L"BeginApply", nullptr, 0, 0, std::addressof(out));
            Variant handle;
            ASSERT_TRUE(out && SUCCEEDED(out->Get(L"ClientSetHandle", 0, &handle.value, nullptr, nullptr)));
            handles[2] = handles[1];
            handles[1] = static_cast<unsigned long>(handle.value.lVal);
            EXPECT_NE(0ul, handles[1]);
        } else if (step.call == kSet) {
            hr = client.Exec(L"Dovnet_PhysicalEthernetAdapter", kAdapter, L"SetPowerUsageOptions", step.property,
                             step.value, handles[step.handle]);
        } else if (step.call == kApply) {
            hr = client.Exec(L"Dovnet_NetService", kService, L"Apply", L"ClientSetHandle",
                             static_cast<long>(handles[step.handle]), 0);
        } else {
            SetWmi(L"Adapter0.Supported", step.property);
        }
        EXPECT_EQ(step.hr, static_cast<unsigned long>(hr)) << std::hex << hr;
        EXPECT_EQ(step.values, Wmi(L"Adapter0.Values"));
        EXPECT_EQ(step.pending, Wmi(L"Adapter0.Pending"));
    }
    // A client that stopped half-way leaves its transaction open; the agent's goes on.
    ComPtr<IWbemClassObject> out;
    ASSERT_EQ(S_OK, client.Exec(nullptr, kService, L"BeginApply", nullptr, 0, 0, std::addressof(out)));
    ASSERT_EQ(1, m_agent.Initialize());
    EXPECT_EQ(0x0Ful, m_agent.SetEblLevel(0x0F));
    EXPECT_EQ(L"1,1,2,1,0,0,0,0", Wmi(L"Adapter0.Values")) << "ACBSMode is not supported";
    EXPECT_EQ(0x0Eul, m_agent.GetEblLevel());
}

// The provider answers its own namespace while the virtual notebook is on; every other
// namespace, and its own while the notebook is off, is the system's WMI.
TEST_F(LanAgentTest, NamespacesServedAndForwarded) {
    struct {
        const wchar_t* name;
        bool on;
        unsigned long hr;
        bool ours;
    } cases[] = {
        {L"\\\\.\\root\\DovnetWmi", true, S_OK, true},
        {L"ROOT\\dovnetwmi", true, S_OK, true},
        {L"root\\cimv2", true, S_OK, false},
        {L"root\\DovnetWmi", false, WBEM_E_INVALID_NAMESPACE, false},
        {L"\\\\.\\root\\cimv2", false, S_OK, false},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i);
        if (!cases[i].on) test::FreshMachine::SwitchOff();
        WmiClient client;
        EXPECT_EQ(cases[i].hr, static_cast<unsigned long>(client.Connect(cases[i].name)));
        EXPECT_EQ(cases[i].ours, client.HasNetService());
    }
    EXPECT_EQ(0, m_agent.Initialize());
    EXPECT_TRUE(DebugCapture::Contains("Cannot connect to the server: 0x8004100e\n"));
}

// Battery agent

constexpr long kBatInvalidArg = static_cast<long>(0x80070057);
constexpr long kBatFail = static_cast<long>(0x80004005);
constexpr unsigned long kUnknownTime = 0xFFFFFFFF;

// The last request of a kind ("Tag", "Information", "Status") a battery slot received, as
// the battery recorded it in [BatteryRequests], with the reply buffer's size.
test::DriverRequest BatteryRequest(const std::wstring& kind, int slot, unsigned long* replySize = nullptr) {
    std::wstring key = kind + std::to_wstring(slot);
    if (replySize) *replySize = static_cast<unsigned long>(test::Number(test::MachineValue(L"BatteryRequests", (key + L"Out").c_str())));
    return test::RecordedRequest(L"BatteryRequests", key);
}

// A further battery slot like the default one.
void AddBattery(int slot) {
    std::wstring section = L"Battery" + std::to_wstring(slot);
    for (const auto& [key, value] : {std::pair<const wchar_t*, const wchar_t*>{L"Present", L"1"}, {L"Tag", L"7"},
                                     {L"DesignCapacity", L"28800"}, {L"FullChargedCapacity", L"28000"},
                                     {L"RemainingCapacity", L"28000"}, {L"Voltage", L"11100"}})
        test::SetMachineValue(section.c_str(), key, value);
}

using BatAgentTest = AgentCase<CBatAgent>;

TEST_F(BatAgentTest, InformationItemsOfTheDefaultBattery) {
    ASSERT_EQ(0, m_agent.Setup());
    EXPECT_EQ(1u, m_agent.GetBatteryCount());
    EXPECT_TRUE(DebugCapture::Contains("SetupDiEnumDeviceInterfaces enumerated 1 batteries"));
    EXPECT_TRUE(DebugCapture::Contains("IOCTL_BATTERY_QUERY_TAG got return 1 with tag 1"));
    EXPECT_TRUE(BatteryRequest(L"Tag", 0).Is(4, {{0, 4, 5000}}));
    BATTERY_INFORMATION info{};
    ASSERT_EQ(0, m_agent.GetInfo(0, info));
    EXPECT_EQ(53280u, info.DesignedCapacity);
    EXPECT_EQ(51150u, info.FullChargedCapacity);
    EXPECT_EQ(37u, info.CycleCount);
    EXPECT_EQ(0, memcmp(info.Chemistry, "LION", 4));
    unsigned long reply = 0;
    EXPECT_TRUE(BatteryRequest(L"Information", 0, &reply).Is(12, {{0, 4, 1}, {4, 4, BatteryInformation}}));
    EXPECT_EQ(36u, reply);
    unsigned long temperature = 0;
    ASSERT_EQ(0, m_agent.GetTemperature(0, temperature));
    EXPECT_EQ(3031u, temperature);
    BATTERY_MANUFACTURE_DATE date{};
    ASSERT_EQ(0, m_agent.GetManufactureDate(0, date));
    EXPECT_EQ(14, date.Day);
    EXPECT_EQ(3, date.Month);
    EXPECT_EQ(2007, date.Year);
    const struct {
        long (CBatAgent::*query)(int, wchar_t*, int);
        BATTERY_QUERY_INFORMATION_LEVEL level;
        const wchar_t* text;
    } texts[] = {
        {&CBatAgent::GetManufactureName, BatteryManufactureName, L"Sanvika Energy"},
        {&CBatAgent::GetUniqueID, BatteryUniqueID, L"4107Sanvika EnergyPrimary 6-cell"},
        {&CBatAgent::GetSerialNumber, BatterySerialNumber, L"4107"},
    };
    for (size_t i = 0; i < ARRAYSIZE(texts); ++i) {
        wchar_t text[64];
        wmemset(text, L'#', 64);
        ASSERT_EQ(0, (m_agent.*texts[i].query)(0, text, sizeof(text))) << i;
        EXPECT_STREQ(texts[i].text, text) << i;
        EXPECT_TRUE(BatteryRequest(L"Information", 0, &reply).Is(12, {{0, 4, 1}, {4, 4, texts[i].level}})) << i;
        EXPECT_EQ(sizeof(text), reply) << i;
        EXPECT_EQ(kBatFail, (m_agent.*texts[i].query)(0, text, 4)) << i << ": a reply that does not fit";
    }
    EXPECT_TRUE(DebugCapture::Contains("IOCTL_BATTERY_QUERY_INFORMATION failed with return 0"));
}

TEST_F(BatAgentTest, StatusBitsFollowTheLineAndTheCharge) {
    const struct {
        BYTE ac;
        DWORD percent;
        ULONG powerState;
        LONG rate;
    } cases[] = {
        {1, 100, BATTERY_POWER_ON_LINE, 0},
        {1, 50, BATTERY_POWER_ON_LINE | BATTERY_CHARGING, 25000},
        {0, 50, BATTERY_DISCHARGING, -15000},
        {0, 3, BATTERY_DISCHARGING | BATTERY_CRITICAL, -15000},
    };
    ASSERT_EQ(0, m_agent.Setup());
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        test::SetAcLine(cases[i].ac);
        ASSERT_TRUE(VnbSetBatteryCharge(nullptr, 0, cases[i].percent));
        BATTERY_STATUS status{};
        ASSERT_EQ(0, m_agent.GetStatus(0, status)) << i;
        EXPECT_EQ(cases[i].powerState, status.PowerState) << i;
        EXPECT_EQ(cases[i].rate, status.Rate) << i;
        EXPECT_EQ(12450u, status.Voltage) << i;
        EXPECT_NEAR(51150.0 * cases[i].percent / 100, status.Capacity, 30) << i;
    }
    unsigned long reply = 0;
    EXPECT_TRUE(BatteryRequest(L"Status", 0, &reply).Is(20, {{0, 4, 1}, {8, 4, BATTERY_POWER_ON_LINE}}));
    EXPECT_EQ(16u, reply);
}

TEST_F(BatAgentTest, CompleteTimeWhileChargingDischargingAndNeither) {
    const struct {
        BYTE ac;
        DWORD percent, chargeRate;
        unsigned long seconds;  // kUnknownTime, or about this many
    } cases[] = {
        {1, 50, 25000, (51150 - 25575) * 3600ul / 25000},  // to full
        {1, 50, 0, kUnknownTime},                           // charging at no rate
        {0, 50, 25000, 25575 * 3600ul / 15000},             // to empty
        {1, 100, 25000, kUnknownTime},                      // full on mains
    };
    ASSERT_EQ(0, m_agent.Setup());
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        test::SetAcLine(cases[i].ac);
        ASSERT_TRUE(VnbSetBatteryRates(nullptr, 0, cases[i].chargeRate, 15000));
        ASSERT_TRUE(VnbSetBatteryCharge(nullptr, 0, cases[i].percent));
        unsigned long seconds = m_agent.GetCompleteTime(0);
        if (cases[i].seconds == kUnknownTime)
            EXPECT_EQ(kUnknownTime, seconds) << i;
        else
            EXPECT_NEAR(cases[i].seconds, seconds, 10) << i;
        EXPECT_EQ(0u, m_agent.GetCompleteTime(1)) << i;
    }
}

TEST_F(BatAgentTest, IndexesOutsideTheSlotsAreRefused) {
    BATTERY_INFORMATION info{};
    EXPECT_EQ(kBatInvalidArg, m_agent.GetInfo(0, info)) << "before Setup";
    ASSERT_EQ(0, m_agent.Setup());
    BATTERY_STATUS status{};
    unsigned long value = 0;
    for (int i : {5, -1, 1}) {
        EXPECT_EQ(kBatInvalidArg, m_agent.GetInfo(i, info)) << i;
        EXPECT_EQ(kBatInvalidArg, m_agent.GetStatus(i, status)) << i;
        EXPECT_EQ(kBatInvalidArg, m_agent.GetTemperature(i, value)) << i;
    }
}

TEST_F(BatAgentTest, ASixthBatteryIsNeitherOpenedNorCounted) {
    for (int slot = 1; slot <= 5; ++slot) AddBattery(slot);
    ASSERT_EQ(0, m_agent.Setup());
    EXPECT_EQ(5u, m_agent.GetBatteryCount());
    EXPECT_EQ(4, BatteryRequest(L"Tag", 4).size);
    EXPECT_EQ(-1, BatteryRequest(L"Tag", 5).size);
    BATTERY_INFORMATION info{};
    ASSERT_EQ(0, m_agent.GetInfo(4, info));
    EXPECT_EQ(28000u, info.FullChargedCapacity);
    EXPECT_TRUE(BatteryRequest(L"Information", 4).Is(12, {{0, 4, 7}}));
}

TEST_F(BatAgentTest, ARemovedBatteryFailsCleanly) {
    ASSERT_EQ(0, m_agent.Setup());
    ASSERT_TRUE(VnbSetBatteryPresent(nullptr, 0, FALSE));
    BATTERY_INFORMATION info{};
    BATTERY_STATUS status{};
    EXPECT_EQ(kBatFail, m_agent.GetInfo(0, info));
    EXPECT_EQ(kBatFail, m_agent.GetStatus(0, status));
    EXPECT_TRUE(DebugCapture::Contains("IOCTL_BATTERY_QUERY_STATUS failed for 2 with 0"));
    // Put back, it is a new battery: the old tag stays stale until Setup asks again.
    ASSERT_TRUE(VnbSetBatteryPresent(nullptr, 0, TRUE));
    EXPECT_EQ(kBatFail, m_agent.GetInfo(0, info));
    CBatAgent fresh;
    ASSERT_EQ(0, fresh.Setup());
    EXPECT_EQ(0, fresh.GetInfo(0, info));
    EXPECT_TRUE(BatteryRequest(L"Information", 0).Is(12, {{0, 4, 2}}));
}

TEST_F(BatAgentTest, ABatteryWhoseOpenFailedIsCountedAndRefused) {
    AddBattery(1);
    test::SetMachineValue(L"Battery0", L"OpenError", L"5");
    ASSERT_EQ(0, m_agent.Setup());
    EXPECT_EQ(2u, m_agent.GetBatteryCount());
    EXPECT_TRUE(DebugCapture::Contains(
        "Open battery \\\\?\\ACPI#PNP0C0A#1#{72631e54-78a4-11d0-bcf7-00aa00b7b32a} failed with 5"));
    BATTERY_INFORMATION info{};
    BATTERY_STATUS status{};
    BATTERY_MANUFACTURE_DATE date{};
    wchar_t text[32];
    EXPECT_EQ(kBatInvalidArg, m_agent.GetInfo(0, info));
    EXPECT_EQ(kBatInvalidArg, m_agent.GetStatus(0, status));
    EXPECT_EQ(kBatInvalidArg, m_agent.GetManufactureDate(0, date));
    EXPECT_EQ(kBatInvalidArg, m_agent.GetSerialNumber(0, text, sizeof(text)));
    EXPECT_EQ(-1, BatteryRequest(L"Tag", 0).size);
    EXPECT_EQ(0, m_agent.GetInfo(1, info));
    EXPECT_EQ(28000u, info.FullChargedCapacity);
}

TEST_F(BatAgentTest, CopiesShareTheOpenBatteries) {
    ASSERT_EQ(0, m_agent.Setup());
    BATTERY_INFORMATION info{};
    {
        CBatAgent copy(m_agent);
        EXPECT_EQ(1u, copy.GetBatteryCount());
        EXPECT_EQ(0, copy.GetInfo(0, info));
    }
    EXPECT_EQ(0, m_agent.GetInfo(0, info)) << "the copy's end leaves the handle open";
    EXPECT_EQ(0, m_agent.Cleanup());
    EXPECT_EQ(kBatInvalidArg, m_agent.GetInfo(0, info));
    SYSTEM_POWER_STATUS power{};
    ASSERT_TRUE(CBatAgent::GetSystemPowerStatus(&power));
    EXPECT_EQ(100, power.BatteryLifePercent);
}

}  // namespace
