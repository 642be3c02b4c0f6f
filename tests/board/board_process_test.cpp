// The board and the request channel across processes: a board locked by another
// process, and the client side against an answering process of either architecture,
// served exactly as the service's worker serves it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "DebugCapture.h"
#include "InterProcessBoard.h"
#include "PeerProtocol.h"
#include "TestSupport.h"
#include "ZORACfg.h"

namespace {

// A peer of the architecture holding a board's lock until Release().
class LockHolder {
public:
    LockHolder(const wchar_t* arch, const std::wstring& board) {
        std::wstring peer = test::ProgramPath(arch, L"zora_peer.exe");
        m_started =
            !peer.empty() && m_process.Start(peer, L"lock " + board + L" " + m_ready.Name() + L" " + m_release.Name());
    }
    bool Holding() { return m_started && WaitForSingleObject(m_ready.Get(), 10000) == WAIT_OBJECT_0; }
    int Release() {
        SetEvent(m_release.Get());
        return m_process.Wait();
    }

private:
    test::NamedEvent m_ready{L"lockready"}, m_release{L"lockrelease"};
    test::Process m_process;
    bool m_started = false;
};

// A board name no other test or run uses.
std::wstring UniqueBoardName(const wchar_t* purpose) {
    static int counter = 0;
    return std::wstring(L"ZoraTest") + purpose + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(counter++);
}

// Another process holds the board through Lock: a paste fails at once, without the
// one-second lock wait, writes nothing and says nothing.
TEST(BoardTest, PasteWhileAnotherProcessHoldsTheLock) {
    std::wstring name = L"ZoraTestHeld" + std::to_wstring(GetCurrentProcessId());
    CInterProcessBoard board;
    ASSERT_EQ(S_OK, board.Reset(name.c_str(), 1024, 1, 0));
    const char before[] = "before";
    ASSERT_EQ(S_OK, board.Paste(0, before, sizeof(before)));
    for (const wchar_t* arch : {test::OwnArch(), test::PeerArch()}) {
        LockHolder holder(arch, name);
        ASSERT_TRUE(holder.Holding()) << test::Narrow(arch);
        DebugCapture::Clear();
        const char after[] = "AFTER!";
        DWORD start = GetTickCount();
        EXPECT_EQ(E_FAIL, board.Paste(0, after, sizeof(after)));
        EXPECT_LT(GetTickCount() - start, 900u) << "the probe must not wait for the lock";
        EXPECT_TRUE(DebugCapture::Lines().empty());
        EXPECT_EQ(0, holder.Release());
        char back[sizeof(before)] = {};
        ASSERT_EQ(S_OK, board.Read(0, back, sizeof(back)));
        EXPECT_STREQ(before, back) << test::Narrow(arch);
    }
}

// The answerer runs the parameter's architecture.
class ServiceCallTest : public test::ArchCase {
protected:
    void SetUp() override {
        ArchCase::SetUp();
        if (!IsSkipped()) {
            ASSERT_TRUE(m_answerer.Start(GetParam())) << "answerer " << test::Narrow(GetParam());
        }
    }

    long Call(unsigned code, const wchar_t* data, unsigned long param, unsigned long timeoutMs = 5000) {
        IpbDataHeader scratch{};
        return m_client.ServiceCall(code, data, param, &scratch, timeoutMs);
    }
    static long Expected(uint32_t param, const wchar_t* data) { return static_cast<long>(PeerResult(param, data)); }

    test::Answerer m_answerer;
    CZORACfg m_client;
};

TEST_P(ServiceCallTest, AnswerCarriesTheResultDerivedFromTheRequest) {
    // 254 characters and the terminator: 510 bytes, the longest request the service takes.
    std::wstring longest(254, L'w');
    const wchar_t* data[] = {L"", L"ROOT\\LEGACY_ZORAEBL\\0000", L"C:\\users\\u\\AppData\\Local\\Korvex\\ZORA\\Cfg",
                             longest.c_str()};
    for (size_t i = 0; i < ARRAYSIZE(data); ++i) {
        uint32_t param = static_cast<uint32_t>(i * 1000 + 1);
        EXPECT_EQ(Expected(param, data[i]), Call(DeviceStateRequest, data[i], param)) << "case " << i;
    }
    EXPECT_TRUE(DebugCapture::Contains("CDevMgr::DoStateChangeRemote got result "));
}

TEST_P(ServiceCallTest, FailureNoticeIsAFailure) {
    EXPECT_EQ(E_FAIL, Call(PeerFailureNotice, L"x", 1));
    EXPECT_TRUE(DebugCapture::Contains("A failure notice received in CDevMgr\n"));
}

TEST_P(ServiceCallTest, DataTheServiceRefusesIsNotReportedAsSuccess) {
    ASSERT_NE(E_FAIL, Call(DeviceStateRequest, L"previous", 9));
    EXPECT_EQ(E_FAIL, Call(DeviceStateRequest, std::wstring(255, L'w').c_str(), 9)) << "512 bytes with the terminator";
    EXPECT_TRUE(DebugCapture::Contains("A failure notice received in CDevMgr\n"));
}

TEST_P(ServiceCallTest, TimedOutCallDoesNotHandItsAnswerToTheNextCaller) {
    DWORD start = GetTickCount();
    EXPECT_EQ(E_FAIL, Call(PeerSlowRequest, L"slow", 1500, 200));
    DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 150u);
    EXPECT_LT(waited, 1400u);
    EXPECT_TRUE(DebugCapture::Contains("Waiting inbound board data timeout.\n"));
    // The slow task is still running; the next call gets its own answer once it is done.
    EXPECT_EQ(Expected(42, L"next"), Call(DeviceStateRequest, L"next", 42, 5000));
}

TEST_P(ServiceCallTest, RequestThatIsNeverAnsweredTimesOutAndTheNextGetsThrough) {
    EXPECT_EQ(E_FAIL, Call(PeerSwallowRequest, L"lost", 0, 300));
    EXPECT_TRUE(DebugCapture::Contains("Waiting inbound board data timeout.\n"));
    EXPECT_EQ(Expected(3, L"after"), Call(DeviceStateRequest, L"after", 3));
}

TEST_P(ServiceCallTest, PasteFailsAtOnceWhileTheRequestBoardIsLocked) {
    LockHolder holder(test::PeerArch(), kIpbRequestBoard);
    ASSERT_TRUE(holder.Holding());
    EXPECT_EQ(E_FAIL, Call(DeviceStateRequest, L"blocked", 1));
    EXPECT_TRUE(DebugCapture::Contains("Paste data header to outbound board failed in CDevMgr.\n"));
    EXPECT_EQ(0, holder.Release());
    EXPECT_EQ(Expected(1, L"free"), Call(DeviceStateRequest, L"free", 1));
}

// Eight client processes of both architectures call at once; every answer each of
// them receives must be its own.
TEST_P(ServiceCallTest, ConcurrentClientsEachGetTheirOwnAnswers) {
    std::vector<std::unique_ptr<test::Process>> clients;
    for (int i = 0; i < 8; ++i) {
        clients.push_back(std::make_unique<test::Process>());
        ASSERT_TRUE(
            clients.back()->Start(test::ProgramPath(i % 2 ? test::OwnArch() : test::PeerArch(), L"zora_peer.exe"),
                                  L"call 1250 client" + std::to_wstring(i) + L" 10000", true));
    }
    for (size_t i = 0; i < clients.size(); ++i) {
        EXPECT_EQ(0, clients[i]->Wait(240000)) << "client " << i << ": " << clients[i]->Output();
        EXPECT_EQ("0", test::Field(clients[i]->Output(), "wrong")) << "client " << i;
        EXPECT_EQ("0", test::Field(clients[i]->Output(), "failed")) << "client " << i;
    }
}

// A third party raising the request event again and again makes the server answer
// requests nobody posted: no client ever takes such an answer, or another client's,
// for its own, and once the raising stops every call is answered again.
TEST_P(ServiceCallTest, RaisedEventsNeverHandAClientAnotherRequestsAnswer) {
    test::Process raiser;
    ASSERT_TRUE(raiser.Start(test::ProgramPath(test::PeerArch(), L"zora_peer.exe"), L"raise 6000", true));
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
    EXPECT_EQ(Expected(4, L"after"), Call(DeviceStateRequest, L"after", 4));
}

// One deadline for the whole call: waiting for an earlier, abandoned call's answer and
// then for its own never adds up to more than the time-out.
TEST_P(ServiceCallTest, ACallNeverOutlastsItsTimeOut) {
    EXPECT_EQ(E_FAIL, Call(PeerSlowRequest, L"abandoned", 800, 100));
    DWORD start = GetTickCount();
    EXPECT_EQ(E_FAIL, Call(PeerSlowRequest, L"own", 800, 1000));
    EXPECT_LE(GetTickCount() - start, 1000u + 100u);
}

// With the server gone, a call fails at once even while others hold the boards open.
TEST_P(ServiceCallTest, WithTheServerGoneACallFailsAtOnceWhileTheBoardsAreHeldOpen) {
    CInterProcessBoard request, answer;
    ASSERT_EQ(S_OK, request.Reset(kIpbRequestBoard, kIpbBoardSize, 0, kIpbBoardIndex));
    ASSERT_EQ(S_OK, answer.Reset(kIpbAnswerBoard, kIpbBoardSize, 0, kIpbBoardIndex));
    m_answerer.Stop();
    DWORD start = GetTickCount();
    EXPECT_EQ(E_FAIL, Call(DeviceStateRequest, L"nobody", 1, 3000));
    EXPECT_LT(GetTickCount() - start, 500u);
}

// A board lock its holder took with it when it ended is recovered within a few seconds,
// whether the holder took it through the board or raw.
TEST_P(ServiceCallTest, ALockLeftByAProcessThatEndedIsRecovered) {
    const wchar_t* ways[] = {L"lock-exit", L"grab"};
    for (size_t i = 0; i < ARRAYSIZE(ways); ++i) {
        EXPECT_EQ(0, test::Run(test::ProgramPath(test::PeerArch(), L"zora_peer.exe"), ways[i])) << "case " << i;
        DWORD start = GetTickCount();
        long result = E_FAIL;
        while (result == E_FAIL && GetTickCount() - start < 8000) {
            result = Call(DeviceStateRequest, L"recovered", 6, 500);
            if (result == E_FAIL) Sleep(100);
        }
        EXPECT_EQ(Expected(6, L"recovered"), result) << "case " << i;
        EXPECT_LT(GetTickCount() - start, 5000u) << "case " << i;
    }
}

// Whether a process of the peer architecture can open the board and take its lock; it
// lets go at once (its release event is already raised).
bool AnotherProcessOpens(const std::wstring& name) {
    test::NamedEvent ready(L"copyready"), release(L"copyrelease");
    SetEvent(release.Get());
    std::wstring peer = test::ProgramPath(test::PeerArch(), L"zora_peer.exe");
    int code = test::Run(peer, L"lock " + name + L" " + ready.Name() + L" " + release.Name());
    return code == 0 && WaitForSingleObject(ready.Get(), 0) == WAIT_OBJECT_0;
}

// A second holder of the board's handles comes and goes: the original must go on
// working, and the board must stay there for other processes.
TEST(BoardTest, ACopyThatGoesLeavesTheBoardToTheOriginalAndToOtherProcesses) {
    ASSERT_FALSE(test::ProgramPath(test::PeerArch(), L"zora_peer.exe").empty());
    const struct {
        const char* how;
        void (*holdAndLetGo)(const CInterProcessBoard& original);
    } cases[] = {
        {"copy construction", [](const CInterProcessBoard& original) { CInterProcessBoard copy(original); }},
        {"a copy of a copy",
         [](const CInterProcessBoard& original) {
             CInterProcessBoard first(original);
             CInterProcessBoard second(first);
         }},
        {"assignment to an empty board",
         [](const CInterProcessBoard& original) {
             CInterProcessBoard copy;
             copy = original;
         }},
        {"assignment over an open board",
         [](const CInterProcessBoard& original) {
             CInterProcessBoard copy;
             copy.Reset(UniqueBoardName(L"Over").c_str(), 64, 1, 0);
             copy = original;
         }},
        {"a copy that resets to another board",
         [](const CInterProcessBoard& original) {
             CInterProcessBoard copy(original);
             copy.Reset(UniqueBoardName(L"Elsewhere").c_str(), 64, 1, 0);
         }},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i << ": " << cases[i].how);
        std::wstring name = UniqueBoardName(L"Copied");
        CInterProcessBoard board;
        ASSERT_EQ(S_OK, board.Reset(name.c_str(), 1024, 1, 0));
        cases[i].holdAndLetGo(board);
        const char text[] = "still here";
        EXPECT_EQ(S_OK, board.Paste(100, text, sizeof(text))) << "the copy closed the original's handles";
        char back[sizeof(text)] = {};
        EXPECT_EQ(S_OK, board.Read(100, back, sizeof(back)));
        EXPECT_STREQ(text, back);
        EXPECT_TRUE(board.Flag(0));
        EXPECT_TRUE(board.IsDataAvailble(0));
        EXPECT_TRUE(AnotherProcessOpens(name)) << "the board's objects went with the copy";
    }
}

// Assignment gives up the target's own board (gone for every process when the target
// was its only holder) and shares the source's, which outlives the source.
TEST(BoardTest, AssignmentLetsGoOfTheTargetsBoardAndSharesTheSources) {
    std::wstring left = UniqueBoardName(L"Left"), right = UniqueBoardName(L"Right");
    CInterProcessBoard target;
    ASSERT_EQ(S_OK, target.Reset(left.c_str(), 64, 1, 0));
    {
        CInterProcessBoard source;
        ASSERT_EQ(S_OK, source.Reset(right.c_str(), 64, 1, 0));
        target = source;
        const char text[] = "right";
        ASSERT_EQ(S_OK, source.Paste(0, text, sizeof(text)));
        char back[sizeof(text)] = {};
        EXPECT_EQ(S_OK, target.Read(0, back, sizeof(back)));
        EXPECT_STREQ(text, back);
    }
    EXPECT_FALSE(AnotherProcessOpens(left)) << "the target's old handles leaked";
    CInterProcessBoard probe;
    EXPECT_EQ(E_FAIL, probe.Reset(left.c_str(), 64, 0, 0));

    const CInterProcessBoard& same = target;
    target = same;
    EXPECT_EQ(S_OK, target.Paste(0, "after", 6)) << "the source's handles went with the source";
    EXPECT_TRUE(AnotherProcessOpens(right));
}

ZORA_FOR_BOTH_ARCHS(Answerer, ServiceCallTest);

}  // namespace
