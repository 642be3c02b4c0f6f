// The client side of the request channel against an answering process of either
// architecture, served exactly as the service's worker serves it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DebugCapture.h"
#include "InterProcessBoard.h"
#include "PeerProtocol.h"
#include "TestSupport.h"
#include "ZORACfg.h"

namespace {

class ServiceCallTest : public ::testing::TestWithParam<const wchar_t*> {
protected:
    void SetUp() override {
        if (!test::ArchRuns(GetParam())) GTEST_SKIP() << test::CannotRun(GetParam());
        DebugCapture::Clear();
        DebugCapture::Start();
    }
    void TearDown() override { DebugCapture::Stop(); }

    long Call(unsigned code, const wchar_t* data, unsigned long param, unsigned long timeoutMs = 5000) {
        IpbDataHeader scratch{0xdeadbeef, 0xdeadbeef, 0xdeadbeef};
        long result = m_client.ServiceCall(code, data, param, &scratch, timeoutMs);
        EXPECT_EQ(0xdeadbeefu, scratch.dwCode) << "the header argument is not written";
        return result;
    }

    CZORACfg m_client;
};

TEST(ServiceCallNoAnswerer, FailsAtOnceWhenNoBoardExists) {
    DebugCapture::Clear();
    DebugCapture::Start();
    CZORACfg client;
    IpbDataHeader scratch{};
    DWORD start = GetTickCount();
    EXPECT_EQ(E_FAIL, client.ServiceCall(DeviceStateRequest, L"x", 0, &scratch, 10000));
    EXPECT_LT(GetTickCount() - start, 5000u) << "no answerer: the call must not wait its time-out";
    EXPECT_TRUE(DebugCapture::Contains("Failed in open IPB board for results with 80004005."));
    DebugCapture::Stop();
}

TEST(ServiceCallNoAnswerer, FailsWhenOnlyTheAnswerBoardExists) {
    DebugCapture::Clear();
    DebugCapture::Start();
    CInterProcessBoard answer;
    ASSERT_EQ(S_OK, answer.Reset(kIpbAnswerBoard, kIpbBoardSize, 1, kIpbBoardIndex));
    CZORACfg client;
    IpbDataHeader scratch{};
    EXPECT_EQ(E_FAIL, client.ServiceCall(DeviceStateRequest, L"x", 0, &scratch, 10000));
    EXPECT_TRUE(DebugCapture::Contains("Failed in open IPB board for parameters with 80004005."));
    DebugCapture::Stop();
}

// The request as it lands on the board: header fields and the terminated string.
TEST(ServiceCallWire, RequestLayoutOnTheBoard) {
    CInterProcessBoard request, answer;
    ASSERT_EQ(S_OK, request.Reset(kIpbRequestBoard, kIpbBoardSize, 1, kIpbBoardIndex));
    ASSERT_EQ(S_OK, answer.Reset(kIpbAnswerBoard, kIpbBoardSize, 1, kIpbBoardIndex));
    // A server that never answers: another thread holds the server lock.
    HANDLE serving = CreateEventW(nullptr, TRUE, FALSE, nullptr), done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread server([&] {
        HANDLE lock = CreateMutexW(nullptr, TRUE, kIpbServerLockName);
        SetEvent(serving);
        WaitForSingleObject(done, INFINITE);
        ReleaseMutex(lock);
        CloseHandle(lock);
    });
    WaitForSingleObject(serving, 5000);
    struct Case {
        const wchar_t* data;
        uint32_t expectedLen;
    } cases[] = {{L"", 2}, {L"PCI\\VEN_8086", 26}, {nullptr, 2}};
    for (size_t i = 0; i < 3; ++i) {
        request.Clear(0, kIpbBoardSize);
        CZORACfg client;
        IpbDataHeader scratch{};
        // Nobody answers: the call times out, leaving its request on the board.
        EXPECT_EQ(E_FAIL, client.ServiceCall(7, cases[i].data, 0x11223344, &scratch, 50)) << "case " << i;
        IpbDataHeader header{};
        ASSERT_EQ(S_OK, request.Read(0, &header, sizeof(header)));
        EXPECT_EQ(7u, header.dwCode) << "case " << i;
        EXPECT_EQ(0x11223344u, header.dwParam) << "case " << i;
        EXPECT_EQ(cases[i].expectedLen, header.dwDataLen) << "case " << i;
        wchar_t data[256] = {};
        ASSERT_EQ(S_OK, request.Read(kIpbDataOffset, data, static_cast<long>(header.dwDataLen) + 2));
        EXPECT_STREQ(cases[i].data ? cases[i].data : L"", data) << "case " << i;
        EXPECT_TRUE(request.IsDataAvailble(0)) << "the request event is raised, case " << i;
        IpbToken token{};
        ASSERT_EQ(S_OK, request.Read(kIpbTokenOffset, &token, sizeof(token)));
        EXPECT_EQ(kIpbTokenMagic, token.magic) << "case " << i;
        EXPECT_NE(0u, token.token) << "case " << i;
        request.Flag(1);
    }
    SetEvent(done);
    server.join();
    CloseHandle(serving);
    CloseHandle(done);
}

TEST_P(ServiceCallTest, AnswerCarriesTheResultDerivedFromTheRequest) {
    test::Answerer answerer;
    ASSERT_TRUE(answerer.Start(GetParam())) << "answerer " << test::Narrow(GetParam());
    const wchar_t* data[] = {L"", L"ROOT\\LEGACY_ZORAEBL\\0000", L"C:\\users\\u\\AppData\\Local\\Korvex\\ZORA\\Cfg"};
    for (size_t i = 0; i < 3; ++i) {
        uint32_t param = static_cast<uint32_t>(i * 1000 + 1);
        EXPECT_EQ(static_cast<long>(PeerResult(param, data[i])), Call(DeviceStateRequest, data[i], param)) << i;
    }
    EXPECT_TRUE(DebugCapture::Contains("CDevMgr::DoStateChangeRemote got result "));
    // 254 characters and the terminator: 510 bytes, the longest request the service takes.
    std::wstring longest(254, L'w');
    EXPECT_EQ(static_cast<long>(PeerResult(5, longest.c_str())), Call(DeviceStateRequest, longest.c_str(), 5));
}

TEST_P(ServiceCallTest, FailureNoticeIsAFailure) {
    test::Answerer answerer;
    ASSERT_TRUE(answerer.Start(GetParam()));
    EXPECT_EQ(E_FAIL, Call(PeerFailureNotice, L"x", 1));
    EXPECT_TRUE(DebugCapture::Contains("A failure notice received in CDevMgr\n"));
}

TEST_P(ServiceCallTest, DataTheServiceRefusesIsNotReportedAsSuccess) {
    test::Answerer answerer;
    ASSERT_TRUE(answerer.Start(GetParam()));
    ASSERT_NE(E_FAIL, Call(DeviceStateRequest, L"previous", 9));
    std::wstring tooLong(255, L'w');  // 512 bytes with the terminator
    EXPECT_EQ(E_FAIL, Call(DeviceStateRequest, tooLong.c_str(), 9));
    EXPECT_TRUE(DebugCapture::Contains("A failure notice received in CDevMgr\n"));
}

TEST_P(ServiceCallTest, TimedOutCallDoesNotHandItsAnswerToTheNextCaller) {
    test::Answerer answerer;
    ASSERT_TRUE(answerer.Start(GetParam()));
    DWORD start = GetTickCount();
    EXPECT_EQ(E_FAIL, Call(PeerSlowRequest, L"slow", 1500, 200));
    DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 150u);
    EXPECT_LT(waited, 1400u);
    EXPECT_TRUE(DebugCapture::Contains("Waiting inbound board data timeout.\n"));
    // The slow task is still running; the next call gets its own answer once it is done.
    EXPECT_EQ(static_cast<long>(PeerResult(42, L"next")), Call(DeviceStateRequest, L"next", 42, 5000));
}

TEST_P(ServiceCallTest, RequestThatIsNeverAnsweredTimesOutAndTheNextGetsThrough) {
    test::Answerer answerer;
    ASSERT_TRUE(answerer.Start(GetParam()));
    EXPECT_EQ(E_FAIL, Call(PeerSwallowRequest, L"lost", 0, 300));
    EXPECT_TRUE(DebugCapture::Contains("Waiting inbound board data timeout.\n"));
    EXPECT_EQ(static_cast<long>(PeerResult(3, L"after")), Call(DeviceStateRequest, L"after", 3));
}

TEST_P(ServiceCallTest, PasteFailsAtOnceWhileTheRequestBoardIsLocked) {
    test::Answerer answerer;
    ASSERT_TRUE(answerer.Start(GetParam()));
    std::wstring peer = test::ProgramPath(test::PeerArch(), L"zora_peer.exe");
    ASSERT_FALSE(peer.empty());
    test::NamedEvent ready(L"ready"), release(L"release");
    test::Process holder;
    ASSERT_TRUE(holder.Start(peer, std::wstring(L"lock ") + kIpbRequestBoard + L" " + ready.Name() + L" " +
                                       release.Name()));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.Get(), 10000));
    EXPECT_EQ(E_FAIL, Call(DeviceStateRequest, L"blocked", 1));
    EXPECT_TRUE(DebugCapture::Contains("Paste data header to outbound board failed in CDevMgr.\n"));
    SetEvent(release.Get());
    EXPECT_EQ(0, holder.Wait());
    EXPECT_EQ(static_cast<long>(PeerResult(1, L"free")), Call(DeviceStateRequest, L"free", 1));
}

// Eight client processes of both architectures call at once; every answer each of
// them receives must be its own.
TEST_P(ServiceCallTest, ConcurrentClientsEachGetTheirOwnAnswers) {
    test::Answerer answerer;
    ASSERT_TRUE(answerer.Start(GetParam()));
    std::vector<std::unique_ptr<test::Process>> clients;
    for (int i = 0; i < 8; ++i) {
        std::wstring peer = test::ProgramPath(i % 2 ? test::OwnArch() : test::PeerArch(), L"zora_peer.exe");
        ASSERT_FALSE(peer.empty());
        clients.push_back(std::make_unique<test::Process>());
        ASSERT_TRUE(clients.back()->Start(peer, L"call 1250 client" + std::to_wstring(i) + L" 10000", true));
    }
    for (size_t i = 0; i < clients.size(); ++i) {
        EXPECT_EQ(0, clients[i]->Wait(240000)) << "client " << i;
        EXPECT_EQ("0", test::Field(clients[i]->Output(), "wrong")) << "client " << i;
        EXPECT_EQ("0", test::Field(clients[i]->Output(), "failed")) << "client " << i;
    }
}

// A third party raising the request event again and again makes the server answer
// requests nobody posted: no client ever takes such an answer, or another client's,
// for its own, and once the raising stops every call is answered again.
TEST_P(ServiceCallTest, RaisedEventsNeverHandAClientAnotherRequestsAnswer) {
    test::Answerer answerer;
    ASSERT_TRUE(answerer.Start(GetParam()));
    std::wstring attacker = test::ProgramPath(test::PeerArch(), L"zora_peer.exe");
    test::Process raiser;
    ASSERT_TRUE(raiser.Start(attacker, L"raise 6000", true));
    std::vector<std::unique_ptr<test::Process>> clients;
    for (int i = 0; i < 2; ++i) {
        clients.push_back(std::make_unique<test::Process>());
        ASSERT_TRUE(clients.back()->Start(test::ProgramPath(i ? test::OwnArch() : test::PeerArch(), L"zora_peer.exe"),
                                          L"call 300 honest" + std::to_wstring(i) + L" 1000", true));
    }
    for (size_t i = 0; i < clients.size(); ++i) {
        clients[i]->Wait(120000);
        EXPECT_EQ("0", test::Field(clients[i]->Output(), "wrong")) << "client " << i << ": " << clients[i]->Output();
    }
    EXPECT_EQ(0, raiser.Wait(30000));
    EXPECT_EQ(static_cast<long>(PeerResult(4, L"after")), Call(DeviceStateRequest, L"after", 4));
}

// One deadline for the whole call: waiting for an earlier, abandoned call's answer and
// then for its own never adds up to more than the time-out.
TEST_P(ServiceCallTest, ACallNeverOutlastsItsTimeOut) {
    test::Answerer answerer;
    ASSERT_TRUE(answerer.Start(GetParam()));
    EXPECT_EQ(E_FAIL, Call(PeerSlowRequest, L"abandoned", 800, 100));
    DWORD start = GetTickCount();
    EXPECT_EQ(E_FAIL, Call(PeerSlowRequest, L"own", 800, 1000));
    EXPECT_LE(GetTickCount() - start, 1000u + 100u);
}

// With the server gone, a call fails at once even while others hold the boards open.
TEST_P(ServiceCallTest, WithTheServerGoneACallFailsAtOnceWhileTheBoardsAreHeldOpen) {
    test::Answerer answerer;
    ASSERT_TRUE(answerer.Start(GetParam()));
    CInterProcessBoard request, answer;
    ASSERT_EQ(S_OK, request.Reset(kIpbRequestBoard, kIpbBoardSize, 0, kIpbBoardIndex));
    ASSERT_EQ(S_OK, answer.Reset(kIpbAnswerBoard, kIpbBoardSize, 0, kIpbBoardIndex));
    answerer.Stop();
    DWORD start = GetTickCount();
    EXPECT_EQ(E_FAIL, Call(DeviceStateRequest, L"nobody", 1, 3000));
    EXPECT_LT(GetTickCount() - start, 500u);
}

// A board lock its holder took with it when it ended is recovered within a few seconds,
// whether the holder took it through the board or raw.
TEST_P(ServiceCallTest, ALockLeftByAProcessThatEndedIsRecovered) {
    test::Answerer answerer;
    ASSERT_TRUE(answerer.Start(GetParam()));
    const wchar_t* ways[] = {L"lock-exit", L"grab"};
    for (size_t i = 0; i < ARRAYSIZE(ways); ++i) {
        EXPECT_EQ(0, test::Run(test::ProgramPath(test::PeerArch(), L"zora_peer.exe"), ways[i])) << "case " << i;
        DWORD start = GetTickCount();
        long result = E_FAIL;
        while (result == E_FAIL && GetTickCount() - start < 8000) {
            result = Call(DeviceStateRequest, L"recovered", 6, 500);
            if (result == E_FAIL) Sleep(100);
        }
        EXPECT_EQ(static_cast<long>(PeerResult(6, L"recovered")), result) << "case " << i;
        EXPECT_LT(GetTickCount() - start, 5000u) << "case " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Answerer, ServiceCallTest, ::testing::Values(L"i686", L"x86_64"),
                         [](const auto& info) { return test::Narrow(info.param); });

}  // namespace
