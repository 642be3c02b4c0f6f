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
                                  L"call 300 client" + std::to_wstring(i) + L" 10000", true));
    }
    for (size_t i = 0; i < clients.size(); ++i) {
        EXPECT_EQ(0, clients[i]->Wait(120000)) << "client " << i << ": " << clients[i]->Output();
        EXPECT_EQ("0", test::Field(clients[i]->Output(), "wrong")) << "client " << i;
    }
}

ZORA_FOR_BOTH_ARCHS(Answerer, ServiceCallTest);

}  // namespace
