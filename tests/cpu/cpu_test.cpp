// The CPU throttling agent against the virtual notebook's dual-core processor (ratios
// 6-12, voltage identifiers 0x13-0x29): the level it reaches, the MSRs it leaves on each
// processor, the requests the driver sees and the calling thread's affinity.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CpuAgent.h"
#include "DebugCapture.h"
#include "MachineCase.h"
#include "MachineValues.h"
#include "TestSupport.h"

namespace {

constexpr int kMachineProcessors = 2;

const wchar_t* Bank(int processor) { return processor == 0 ? L"Processor0" : L"Processor1"; }

unsigned long long Msr(int processor, const wchar_t* name) { return test::MachineNumber(Bank(processor), name); }

unsigned long long Writes(int processor, const wchar_t* name) {
    return test::MachineNumber(Bank(processor), (std::wstring(name) + L"Writes").c_str());
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

class CpuAgentTest : public test::MachineCase {
protected:
    void SetOnBoth(const wchar_t* name, unsigned long long value) {
        for (int p = 0; p < kMachineProcessors; ++p) ASSERT_TRUE(test::SetMachineNumber(Bank(p), name, value));
    }
};

TEST_F(CpuAgentTest, InitializeReadsTheRangeOfThePart) {
    CCpuAgent agent;
    EXPECT_EQ(1000u, agent.GetVersion());
    ASSERT_EQ(1, agent.Initialize());
    EXPECT_TRUE(DebugCapture::Contains("m_nMinCBR6,m_nMaxCBR12,m_nMinVID19,m_nMaxVID41\n"));
    EXPECT_EQ("4:9D 01 00 00", test::LastRequest(1)) << "the lowest operating point is read last";
    EXPECT_EQ(100, agent.GetEblLevel()) << "a fresh machine runs at full speed";
    EXPECT_EQ("(absent)", test::LastRequest(2)) << "nothing is written";
}

TEST_F(CpuAgentTest, Level60RunsRatio8OnEveryProcessorUnmodulated) {
    CCpuAgent agent;
    ASSERT_EQ(1, agent.Initialize());
    EXPECT_EQ(66, agent.SetEblLevel(60));
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
    EXPECT_EQ(66, agent.GetEblLevel());
}

TEST_F(CpuAgentTest, LevelsPickTheSmallestRatioThenTheSmallestDuty) {
    struct Case {
        int level;
        int result;
        unsigned ratio;
        unsigned long long modulation;
    };
    // Ratio r: smallest with r x 100 / 12 >= level; duty d: smallest with r x 100 x d / 96 >= level.
    const Case cases[] = {
        {1, 6, 6, 0x12},  {30, 31, 6, 0x1A}, {40, 43, 6, 0x1E}, {50, 50, 6, 0x2},
        {100, 100, 12, 0x2}, {60, 66, 8, 0x2}, {90, 91, 11, 0x2}, {75, 75, 9, 0x2},
    };
    CCpuAgent agent;
    ASSERT_EQ(1, agent.Initialize());
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(c.result, agent.SetEblLevel(c.level)) << "case " << i << " level " << c.level;
        EXPECT_EQ(c.ratio, (Msr(0, L"PerfStatus") >> 8) & 0x1F) << "case " << i;
        EXPECT_EQ(c.modulation, Msr(0, L"ClockModulation")) << "case " << i;
        EXPECT_EQ(c.result, agent.GetEblLevel()) << "case " << i;
    }
}

TEST_F(CpuAgentTest, LevelsOutsideTheRangeTouchNothing) {
    CCpuAgent agent;
    EXPECT_EQ(-1, agent.SetEblLevel(60)) << "before Initialize";
    EXPECT_EQ(-1, agent.GetEblLevel()) << "before Initialize";
    EXPECT_EQ("(absent)", test::LastRequest(1)) << "nothing reaches the driver";
    ASSERT_EQ(1, agent.Initialize());
    for (int level : {0, 101, -5}) {
        EXPECT_EQ(-1, agent.SetEblLevel(level)) << "level " << level;
    }
    EXPECT_EQ("4:9D 01 00 00", test::LastRequest(1)) << "no read after Initialize's";
    EXPECT_EQ("(absent)", test::LastRequest(2));
    EXPECT_EQ(0x0C29u, Msr(0, L"PerfCtl"));
}

TEST_F(CpuAgentTest, WhatIsAlreadyInEffectIsNotWrittenAgain) {
    CCpuAgent agent;
    ASSERT_EQ(1, agent.Initialize());
    EXPECT_EQ(100, agent.SetEblLevel(100));
    EXPECT_EQ(0u, Writes(0, L"PerfCtl")) << "ratio 12 is already the current one";
    EXPECT_EQ(0u, Writes(0, L"ClockModulation"));
    EXPECT_EQ(31, agent.SetEblLevel(30));
    unsigned long long control = Writes(0, L"PerfCtl"), modulation = Writes(0, L"ClockModulation");
    EXPECT_EQ(1u, control);
    EXPECT_EQ(1u, modulation);
    EXPECT_EQ(31, agent.SetEblLevel(30));
    EXPECT_EQ(control, Writes(0, L"PerfCtl"));
    EXPECT_EQ(modulation, Writes(0, L"ClockModulation"));
}

TEST_F(CpuAgentTest, ModulationWithBit4ClearIsFullDuty) {
    SetOnBoth(L"ClockModulation", 0xE);  // duty 7 in bits 1-3, but not on
    CCpuAgent agent;
    ASSERT_EQ(1, agent.Initialize());
    EXPECT_EQ(100, agent.GetEblLevel());
    EXPECT_TRUE(DebugCapture::Contains("bDuty8\n"));
    EXPECT_EQ(100, agent.SetEblLevel(100));
    EXPECT_EQ(0u, Writes(0, L"ClockModulation"));
    EXPECT_EQ(0xEu, Msr(0, L"ClockModulation"));
}

TEST_F(CpuAgentTest, RequestLayoutsAtTheDriver) {
    CCpuAgent agent;
    ASSERT_EQ(1, agent.Initialize());
    EXPECT_EQ(66, agent.SetEblLevel(60));
    // Reads: 0x198, 0x199 (before the write), 0x19A last; the write: index, high, low.
    EXPECT_EQ("4:9A 01 00 00", test::LastRequest(1));
    EXPECT_EQ("12:99 01 00 00 00 00 00 00 1A 08 00 00", test::LastRequest(2));
    EXPECT_EQ(31, agent.SetEblLevel(30));
    EXPECT_EQ("12:9A 01 00 00 00 00 00 00 1A 00 00 00", test::LastRequest(2)) << "duty 5 with bit 4 set";
}

TEST_F(CpuAgentTest, HighWordOfThePerformanceControlIsKept) {
    SetOnBoth(L"PerfCtl", 0x100000C29ull);  // bit 32: the turbo opportunity disengaged
    CCpuAgent agent;
    ASSERT_EQ(1, agent.Initialize());
    EXPECT_EQ(66, agent.SetEblLevel(60));
    EXPECT_EQ(0x10000081Aull, Msr(0, L"PerfCtl"));
    EXPECT_EQ("12:99 01 00 00 01 00 00 00 1A 08 00 00", test::LastRequest(2));
}

TEST_F(CpuAgentTest, ThreadAffinityIsRestoredAfterTheWrites) {
    if (!HostHasTwoProcessors()) GTEST_SKIP() << "the host gives this process fewer than two processors";
    HANDLE thread = GetCurrentThread();
    DWORD_PTR original = SetThreadAffinityMask(thread, 2);
    ASSERT_NE(0u, original);
    ASSERT_EQ(1u, GetCurrentProcessorNumber());
    CCpuAgent agent;
    ASSERT_EQ(1, agent.Initialize());
    EXPECT_EQ(66, agent.SetEblLevel(60));
    EXPECT_EQ(1u, GetCurrentProcessorNumber());
    EXPECT_EQ(static_cast<DWORD_PTR>(2), SetThreadAffinityMask(thread, original)) << "pinned as before the call";
    // Started on processor 1: processor 0 holds the new target only if the agent moved there.
    for (int p = 0; p < kMachineProcessors; ++p) {
        EXPECT_EQ(0x081Au, Msr(p, L"PerfCtl")) << "processor " << p;
        EXPECT_EQ(1u, Writes(p, L"PerfCtl")) << "processor " << p;
    }
}

TEST_F(CpuAgentTest, AFailedWriteStopsAtThatProcessorAndRestoresAffinity) {
    if (!HostHasTwoProcessors()) GTEST_SKIP() << "the host gives this process fewer than two processors";
    ASSERT_TRUE(test::SetMachineText(L"Processor1", L"ClockModulation", L""));  // not implemented there
    HANDLE thread = GetCurrentThread();
    DWORD_PTR original = SetThreadAffinityMask(thread, 1);
    ASSERT_NE(0u, original);
    CCpuAgent agent;
    ASSERT_EQ(1, agent.Initialize());
    EXPECT_EQ(-1, agent.SetEblLevel(30));
    EXPECT_TRUE(DebugCapture::Contains("error code of calling DeviceIoControl: 0x57. \n"));
    EXPECT_EQ(0x1Au, Msr(0, L"ClockModulation")) << "the write already made stays";
    EXPECT_EQ(6u, (Msr(1, L"PerfStatus") >> 8) & 0x1F) << "the ratio was set before the duty";
    EXPECT_EQ(static_cast<DWORD_PTR>(1), SetThreadAffinityMask(thread, original));
}

TEST_F(CpuAgentTest, EqualRatiosTakeTheLowestVoltageIdentifier) {
    // A part locked to ratio 12 but currently running at 6.
    SetOnBoth(L"PerfStatus", (0x0C29ull << 32) | 0x0C000613);
    CCpuAgent agent;
    ASSERT_EQ(1, agent.Initialize());
    EXPECT_EQ(50, agent.SetEblLevel(50));
    EXPECT_TRUE(DebugCapture::Contains("Begin to write MSR with CBR:12, VID:19. \n"));
    EXPECT_EQ(0x0C13u, Msr(0, L"PerfCtl"));
    EXPECT_EQ(0x18u, Msr(0, L"ClockModulation")) << "duty 4 of 8";
}

TEST_F(CpuAgentTest, UnreadableControlRegisterFailsWithoutWriting) {
    for (int p = 0; p < kMachineProcessors; ++p) ASSERT_TRUE(test::SetMachineText(Bank(p), L"PerfCtl", L""));
    CCpuAgent agent;
    ASSERT_EQ(1, agent.Initialize());
    SetLastError(0xdeadbeef);
    EXPECT_EQ(-1, agent.SetEblLevel(60)) << "a level that was not set is not reported";
    EXPECT_TRUE(DebugCapture::Contains("error code of calling DeviceIoControl: 0x57. \n"));
    EXPECT_EQ("(absent)", test::LastRequest(2));
    EXPECT_EQ(0x0C29u, Msr(0, L"PerfStatus") & 0xFFFF);
    EXPECT_EQ(0u, Writes(0, L"ClockModulation"));
}

TEST_F(CpuAgentTest, ARangeWithoutAHighestRatioIsRefused) {
    SetOnBoth(L"PerfStatus", 0x06000C29);
    CCpuAgent agent;
    EXPECT_EQ(0, agent.Initialize());
    EXPECT_TRUE(DebugCapture::Contains("Invalid bus ratio range 6-0.\n"));
    EXPECT_EQ(-1, agent.SetEblLevel(60));
    EXPECT_EQ(-1, agent.GetEblLevel());
}

TEST_F(CpuAgentTest, ASecondInitializeLetsGoOfTheFirstHandle) {
    CCpuAgent agent;
    ASSERT_EQ(1, agent.Initialize());
    CCpuAgent copy(agent);  // shares the first handle
    EXPECT_EQ(100, copy.GetEblLevel());
    ASSERT_EQ(1, agent.Initialize());
    EXPECT_EQ(100, agent.GetEblLevel()) << "the new handle works";
    DebugCapture::Clear();
    EXPECT_EQ(100, copy.GetEblLevel()) << "the copy still holds the first handle, which stays open for it";
    EXPECT_FALSE(DebugCapture::Contains("error code of calling DeviceIoControl"));
}

TEST_F(CpuAgentTest, WithoutTheDriverEveryCallFailsAndTouchesNothing) {
    ASSERT_TRUE(test::SetMachineText(L"Driver", L"Installed", L"0"));
    CCpuAgent agent;
    EXPECT_EQ(0, agent.Initialize());
    EXPECT_TRUE(DebugCapture::Contains("Open connection with driver failed for 2.\n"));
    EXPECT_EQ(-1, agent.SetEblLevel(60));
    EXPECT_EQ(-1, agent.GetEblLevel());
    EXPECT_EQ("(absent)", test::LastRequest(1));
    EXPECT_EQ("(absent)", test::LastRequest(2));
    for (int p = 0; p < kMachineProcessors; ++p) {
        EXPECT_EQ(0x0C29u, Msr(p, L"PerfCtl")) << p;
        EXPECT_EQ(0u, Msr(p, L"ClockModulation")) << p;
    }
    std::string output;
    EXPECT_EQ(1, test::Run(test::ProgramPath(test::PeerArch(), L"zoractl.exe"), L"cpu set 60", &output)) << output;
    EXPECT_EQ(0x0C29u, Msr(0, L"PerfCtl"));
}

TEST_F(CpuAgentTest, LevelSetByTheOtherArchitectureIsSeenHere) {
    std::wstring zoractl = test::ProgramPath(test::PeerArch(), L"zoractl.exe");
    ASSERT_FALSE(zoractl.empty());
    std::string output;
    ASSERT_EQ(0, test::Run(zoractl, L"cpu set 60", &output)) << output;
    EXPECT_EQ("66", test::Field(output, "level"));
    EXPECT_EQ(0x081Au, Msr(0, L"PerfCtl"));
    CCpuAgent agent;
    ASSERT_EQ(1, agent.Initialize());
    EXPECT_EQ(66, agent.GetEblLevel());
    EXPECT_EQ(31, agent.SetEblLevel(30));
    ASSERT_EQ(0, test::Run(zoractl, L"cpu show", &output)) << output;
    EXPECT_EQ("31", test::Field(output, "level"));
    EXPECT_EQ(1, test::Run(zoractl, L"cpu set 0", &output)) << output;
    EXPECT_EQ(1, test::Run(zoractl, L"cpu", &output));
    EXPECT_NE(std::string::npos, output.find("usage: zoractl cpu"));
    EXPECT_EQ(31, agent.GetEblLevel()) << "refused commands change nothing";
}

}  // namespace

#include "ZoraSystemApi.h"

namespace {

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

}  // namespace
