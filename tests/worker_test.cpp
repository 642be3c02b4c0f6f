// The service's worker across processes: the service program runs as a plain
// process (it serves the boards as it does under the service manager), the test is
// its client, on the boards directly or through ServiceCall.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "DebuggeeOutput.h"
#include "InterProcessBoard.h"
#include "IpbProtocol.h"
#include "TestSupport.h"
#include "ZORACfg.h"

namespace {
constexpr char kRefused[] = "Extra data length is beyond expectation in ZoraWorker.\n";

struct RawAnswer {
    bool answered = false;
    IpbDataHeader header{};
};

// One request written on the boards as a client writes it, with dataLen bytes of
// data (a wide string of 'A's, terminated where it fits).
RawAnswer SendRaw(uint32_t code, uint32_t param, uint32_t dataLen, DWORD waitMs) {
    RawAnswer out;
    CInterProcessBoard request, answer;
    if (answer.Reset(kIpbAnswerBoard, kIpbBoardSize, 0, kIpbBoardIndex) != S_OK ||
        request.Reset(kIpbRequestBoard, kIpbBoardSize, 0, kIpbBoardIndex) != S_OK)
        return out;
    std::string data(dataLen, 'A');
    if (dataLen >= 2) data[dataLen - 1] = data[dataLen - 2] = '\0';
    IpbDataHeader header{code, param, dataLen};
    if (request.Paste(0, &header, sizeof(header)) != S_OK) return out;
    if (dataLen && request.Paste(kIpbDataOffset, data.data(), static_cast<long>(dataLen)) != S_OK) return out;
    answer.Flag(1);
    request.Flag(0);
    out.answered = answer.IsDataAvailble(waitMs) != 0;
    if (out.answered) answer.Read(0, &out.header, sizeof(out.header));
    return out;
}

long Call(unsigned code, const std::wstring& data, DWORD timeoutMs = 5000) {
    CZORACfg client;
    IpbDataHeader scratch{};
    return client.ServiceCall(code, data.c_str(), 0, &scratch, timeoutMs);
}

bool RequestRaised() {
    CInterProcessBoard request;
    return request.Reset(kIpbRequestBoard, kIpbBoardSize, 0, kIpbBoardIndex) == S_OK && request.IsDataAvailble(0);
}

ULONGLONG CpuTime100ns(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    auto value = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return value(kernel) + value(user);
}

// Registered as a local server only, so that a start without arguments runs the
// service program in plain mode.
class WorkerProtocol : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_program = test::ProgramPath(L"x86_64", L"ZORASrvc.exe");
        if (!s_program.empty()) s_registered = test::Run(s_program, L"/RegServer") == 0;
    }
    static void TearDownTestSuite() {
        if (!s_program.empty()) test::Run(s_program, L"/UnregServer");
    }

    void SetUp() override {
        if (s_program.empty()) GTEST_SKIP() << "the 64-bit build with ZORASrvc.exe is missing";
        ASSERT_TRUE(s_registered);
        ASSERT_TRUE(m_service.Start(s_program, L""));
        ASSERT_TRUE(m_service.WaitForBoards(10000)) << m_service.Output();
        // A 32-bit debugger cannot attach to the 64-bit service; those checks are left
        // to the 64-bit run.
        m_debugging = m_debugger.Attach(m_service.Id());
        if (sizeof(void*) == 8) {
            ASSERT_TRUE(m_debugging) << "attach failed with " << m_debugger.AttachError();
        }
    }

    void TearDown() override {
        if (m_service.Running()) {
            EXPECT_TRUE(m_service.Quit());
            EXPECT_EQ(0, m_service.Wait(10000));
        }
    }

    static std::wstring s_program;
    static bool s_registered;
    test::ServiceProgram m_service;
    test::DebuggeeOutput m_debugger;
    bool m_debugging = false;
};

std::wstring WorkerProtocol::s_program;
bool WorkerProtocol::s_registered = false;

TEST_F(WorkerProtocol, PlainModeServesAndStopsOnQuitMessage) {
    EXPECT_EQ(0, Call(7, L"first"));
    EXPECT_TRUE(m_service.WaitForOutput("Service started", 5000)) << m_service.Output();
    ASSERT_TRUE(m_service.Quit());
    EXPECT_EQ(0, m_service.Wait(10000));
}

// Code 0 is no task: it is refused like any other request that cannot run, and the
// worker goes on serving. So is a request event raised again with no new request (the
// last one was consumed): nothing is run twice.
TEST_F(WorkerProtocol, CodeZeroAndARaiseWithoutARequestAreRefusedAndServingGoesOn) {
    RawAnswer zero = SendRaw(NoRequest, 0, 0, 5000);
    ASSERT_TRUE(zero.answered);
    EXPECT_EQ(FailureNotice, zero.header.dwCode);
    RawAnswer first = SendRaw(7, 1234, 8, 5000);
    ASSERT_TRUE(first.answered);
    EXPECT_EQ(AnswerStatus, first.header.dwCode);
    CInterProcessBoard request, answer;
    ASSERT_EQ(S_OK, answer.Reset(kIpbAnswerBoard, kIpbBoardSize, 0, kIpbBoardIndex));
    ASSERT_EQ(S_OK, request.Reset(kIpbRequestBoard, kIpbBoardSize, 0, kIpbBoardIndex));
    IpbDataHeader left{};
    ASSERT_EQ(S_OK, request.Read(0, &left, sizeof(left)));
    EXPECT_EQ(0u, left.dwCode + left.dwParam + left.dwDataLen) << "the request was consumed";
    answer.Flag(1);
    request.Flag(0);
    ASSERT_TRUE(answer.IsDataAvailble(5000));
    IpbDataHeader replay{};
    ASSERT_EQ(S_OK, answer.Read(0, &replay, sizeof(replay)));
    EXPECT_EQ(FailureNotice, replay.dwCode);
    EXPECT_EQ(0, Call(7, L"after"));
    EXPECT_TRUE(m_service.Running());
}

TEST_F(WorkerProtocol, UnknownCodesAnsweredWithStatusOneAndResultZero) {
    const uint32_t codes[] = {1, 7, 100, 0xFFFFFFFF};
    for (size_t i = 0; i < sizeof(codes) / sizeof(codes[0]); ++i) {
        RawAnswer answer = SendRaw(codes[i], 1234, 8, 5000);
        ASSERT_TRUE(answer.answered) << "case " << i;
        EXPECT_EQ(AnswerStatus, answer.header.dwCode) << "case " << i;
        EXPECT_EQ(0u, answer.header.dwParam) << "case " << i;
        EXPECT_EQ(0u, answer.header.dwDataLen) << "case " << i;
        EXPECT_FALSE(RequestRaised()) << "case " << i;
    }
    EXPECT_EQ(0, Call(7, L"through the library"));
}

TEST_F(WorkerProtocol, DataOf512BytesRefusedWithFailureNotice) {
    RawAnswer refused = SendRaw(7, 0, kIpbMaxDataLen, 5000);
    ASSERT_TRUE(refused.answered);
    EXPECT_NE(AnswerStatus, refused.header.dwCode);
    if (m_debugging) {
        EXPECT_TRUE(m_debugger.WaitFor(kRefused, 5000));
    }

    // 254 characters and the terminator are 510 bytes; one more character is 512.
    EXPECT_EQ(0, Call(7, std::wstring(254, L'x')));
    EXPECT_EQ(E_FAIL, Call(7, std::wstring(255, L'x')));

    RawAnswer accepted = SendRaw(7, 0, kIpbMaxDataLen - 1, 5000);
    ASSERT_TRUE(accepted.answered);
    EXPECT_EQ(AnswerStatus, accepted.header.dwCode);
    EXPECT_EQ(0u, accepted.header.dwParam);
    if (m_debugging) {
        EXPECT_EQ(2u, m_debugger.Count(kRefused));
    }
}

// A failed task before the refusal: the refused request must not carry its result.
TEST_F(WorkerProtocol, RefusedRequestDoesNotRepeatPreviousResult) {
    EXPECT_EQ(E_FAIL, Call(ApplySchemeRequest, L"C:\\nowhere"));
    RawAnswer answered = SendRaw(ApplySchemeRequest, 0, 8, 5000);
    ASSERT_TRUE(answered.answered);
    EXPECT_EQ(AnswerStatus, answered.header.dwCode);
    EXPECT_EQ(static_cast<uint32_t>(E_FAIL), answered.header.dwParam);
    RawAnswer refused = SendRaw(7, 0, 600, 5000);
    ASSERT_TRUE(refused.answered);
    EXPECT_EQ(0u, refused.header.dwCode);
    EXPECT_EQ(0u, refused.header.dwParam);
}

TEST_F(WorkerProtocol, RefusedRequestLowersRequestEventAndWorkerStaysIdle) {
    // Served once first, so that the program's own start-up work is behind it.
    ASSERT_EQ(0, Call(7, L"warm"));
    RawAnswer refused = SendRaw(7, 0, 1000, 5000);
    ASSERT_TRUE(refused.answered);
    EXPECT_FALSE(RequestRaised());
    // A worker spinning on a raised event would burn the whole gap; an idle one
    // burns next to nothing. The bound is generous on purpose.
    ULONGLONG before = CpuTime100ns(m_service.Handle());
    Sleep(500);
    ULONGLONG after = CpuTime100ns(m_service.Handle());
    EXPECT_LT(after - before, 3000000ull) << "CPU time in 500 ms idle: " << (after - before) / 10000 << " ms";
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
    long result = client.ServiceCall(DeviceStateRequest, missing.c_str(), 2, &scratch, 5000);
    EXPECT_NE(0, result);
    EXPECT_NE(E_INVALIDARG, result);
    EXPECT_TRUE(m_debugger.WaitFor("ZoraWorker going to execute state change for ROOT\\NO_SUCH_DEVICE\\0000 to 2", 5000));
    // The answer carries the device manager's own result.
    char executed[160];
    snprintf(executed, sizeof(executed), "ZoraWorker executed state change for ROOT\\NO_SUCH_DEVICE\\0000 to 2 got %lx",
             static_cast<unsigned long>(result));
    EXPECT_TRUE(m_debugger.WaitFor(executed, 5000));
    EXPECT_TRUE(m_debugger.WaitFor("A new task 2 has been got, go...\n", 5000));

    EXPECT_EQ(E_FAIL, Call(ApplySchemeRequest, L"C:\\profile"));
    EXPECT_TRUE(m_debugger.WaitFor("Excuting 3 finished with result -2147467259 in ZoraWorker.\n", 5000));
}
}  // namespace
