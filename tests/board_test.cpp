// The inter-process board: object naming, the lock and its probe, the event, and
// the data area as seen from another process.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "DebugCapture.h"
#include "InterProcessBoard.h"
#include "TestSupport.h"

namespace {

// A board name no other test or run uses.
std::wstring UniqueBoardName(const wchar_t* purpose) {
    static int counter = 0;
    return std::wstring(L"ZoraTest") + purpose + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(counter++);
}

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override {
        DebugCapture::Clear();
        DebugCapture::Start();
    }
    void TearDown() override { DebugCapture::Stop(); }
};

TEST_F(BoardTest, ConstructNameBuildsTheGlobalNameOrRefuses) {
    CInterProcessBoard board;
    struct Case {
        const wchar_t* kind;
        const wchar_t* name;
        int outSize;
        unsigned long index;
        int expected;
        const wchar_t* text;
    } cases[] = {
        {L"IPB_Event", L"ZORA_IPB_PARA", 260, 0, 1, L"Global\\IPB_EventZORA_IPB_PARA0"},
        {L"IPB_Semaphore", L"ZORA_IPB_RSLT", 260, 12, 1, L"Global\\IPB_SemaphoreZORA_IPB_RSLT12"},
        // 7 + 10 + 10 = 27 > 20 - 1
        {L"IPB_Map", L"0123456789", 20, 0, 0, nullptr},
        // exactly at the bound: 7 + 2 + 10 = 19 = 20 - 1 is accepted
        {L"IPB_Map", L"AB", 20, 0, 1, L"Global\\IPB_MapAB0"},
        {nullptr, L"X", 260, 0, 0, nullptr},
        {L"IPB_Map", nullptr, 260, 0, 0, nullptr},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        wchar_t out[260];
        wcscpy(out, L"untouched");
        int got = board.ConstructName(cases[i].kind, cases[i].name, out, cases[i].outSize, cases[i].index);
        EXPECT_EQ(cases[i].expected, got) << "case " << i;
        if (cases[i].text) EXPECT_STREQ(cases[i].text, out) << "case " << i;
        else EXPECT_STREQ(L"untouched", out) << "case " << i;
    }
    wchar_t out[8];
    EXPECT_EQ(0, board.ConstructName(L"K", L"N", nullptr, 8, 0));
    EXPECT_EQ(0, board.ConstructName(L"K", L"N", out, 0, 0));
}

TEST_F(BoardTest, ResetCreatesTheThreeNamedObjects) {
    std::wstring name = UniqueBoardName(L"Names");
    CInterProcessBoard board;
    ASSERT_EQ(S_OK, board.Reset(name.c_str(), 1024, 1, 3));
    EXPECT_NE(nullptr, board.m_hEvent);
    EXPECT_NE(nullptr, board.m_hMap);
    EXPECT_NE(nullptr, board.m_hSemaphore);

    std::wstring suffix = name + L"3";
    HANDLE event = OpenEventW(EVENT_ALL_ACCESS, FALSE, (L"Global\\IPB_Event" + suffix).c_str());
    HANDLE map = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, (L"Global\\IPB_Map" + suffix).c_str());
    HANDLE semaphore = OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, (L"Global\\IPB_Semaphore" + suffix).c_str());
    EXPECT_NE(nullptr, event);
    EXPECT_NE(nullptr, map);
    ASSERT_NE(nullptr, semaphore);
    // Created free (count 1) with the maximum 0x7fffffff: releasing one more succeeds.
    LONG previous = -1;
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 1, &previous));
    EXPECT_EQ(1, previous);
    WaitForSingleObject(semaphore, 0);
    // The event starts lowered.
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 0));
    CloseHandle(event);
    CloseHandle(map);
    CloseHandle(semaphore);
}

TEST_F(BoardTest, OpeningABoardThatDoesNotExistFailsEmpty) {
    std::wstring name = UniqueBoardName(L"Missing");
    CInterProcessBoard board;
    EXPECT_EQ(E_FAIL, board.Reset(name.c_str(), 1024, 0, 0));
    EXPECT_EQ(nullptr, board.m_hEvent);
    EXPECT_EQ(nullptr, board.m_hMap);
    EXPECT_EQ(nullptr, board.m_hSemaphore);
    EXPECT_TRUE(DebugCapture::Contains("Cannot Reset for 0x2")) << "ERROR_FILE_NOT_FOUND expected";
}

TEST_F(BoardTest, ANameTooLongForTheBufferFailsWithNoHandles) {
    std::wstring name(250, L'N');
    CInterProcessBoard board;
    EXPECT_EQ(E_FAIL, board.Reset(name.c_str(), 1024, 1, 0));
    EXPECT_EQ(nullptr, board.m_hEvent);
    EXPECT_EQ(nullptr, board.m_hMap);
    EXPECT_EQ(nullptr, board.m_hSemaphore);
    EXPECT_TRUE(DebugCapture::Contains("Cannot Reset for 0x"));
}

TEST_F(BoardTest, SecondResetReplacesTheHandles) {
    std::wstring first = UniqueBoardName(L"First"), second = UniqueBoardName(L"Second");
    CInterProcessBoard board;
    ASSERT_EQ(S_OK, board.Reset(first.c_str(), 64, 1, 0));
    ASSERT_EQ(S_OK, board.Reset(second.c_str(), 64, 1, 0));
    // The first board's objects are gone with their only handles.
    CInterProcessBoard probe;
    EXPECT_EQ(E_FAIL, probe.Reset(first.c_str(), 64, 0, 0));
    EXPECT_EQ(S_OK, probe.Reset(second.c_str(), 64, 0, 0));
}

TEST_F(BoardTest, PasteReadAndClearAcrossTwoOpenings) {
    std::wstring name = UniqueBoardName(L"Data");
    CInterProcessBoard owner, user;
    ASSERT_EQ(S_OK, owner.Reset(name.c_str(), 1024, 1, 0));
    ASSERT_EQ(S_OK, user.Reset(name.c_str(), 1024, 0, 0));

    const char text[] = "board data";
    ASSERT_EQ(S_OK, owner.Paste(1000, text, sizeof(text)));
    char back[sizeof(text)] = {};
    ASSERT_EQ(S_OK, user.Read(1000, back, sizeof(back)));
    EXPECT_STREQ(text, back);

    unsigned char bytes[8];
    memset(bytes, 0xAB, sizeof(bytes));
    ASSERT_EQ(S_OK, owner.Paste(10, bytes, sizeof(bytes)));
    ASSERT_EQ(S_OK, user.Paste(12, nullptr, 2));  // a null source zero-fills
    ASSERT_EQ(S_OK, owner.Read(10, bytes, sizeof(bytes)));
    const unsigned char afterNull[8] = {0xAB, 0xAB, 0, 0, 0xAB, 0xAB, 0xAB, 0xAB};
    EXPECT_EQ(0, memcmp(afterNull, bytes, sizeof(bytes)));
    ASSERT_EQ(S_OK, user.Clear(15, 3));
    ASSERT_EQ(S_OK, owner.Read(10, bytes, sizeof(bytes)));
    const unsigned char afterClear[8] = {0xAB, 0xAB, 0, 0, 0xAB, 0, 0, 0};
    EXPECT_EQ(0, memcmp(afterClear, bytes, sizeof(bytes)));
    // Every access released its lock.
    EXPECT_FALSE(owner.IsLocked());
}

TEST_F(BoardTest, AccessBeyondTheSectionFailsAndReleasesTheLock) {
    std::wstring name = UniqueBoardName(L"Beyond");
    CInterProcessBoard board;
    ASSERT_EQ(S_OK, board.Reset(name.c_str(), 4096, 1, 0));
    char data[16] = {};
    EXPECT_EQ(E_FAIL, board.Paste(8192, data, sizeof(data)));
    EXPECT_TRUE(DebugCapture::Contains("Failed in calling MapViewOfFile in CInterProcessBoard::Paste() with last Error"));
    EXPECT_EQ(E_FAIL, board.Read(8192, data, sizeof(data)));
    EXPECT_TRUE(DebugCapture::Contains("Failed in calling MapViewOfFile in CInterProcessBoard::Read()."));
    EXPECT_EQ(E_FAIL, board.Paste(-1, data, 1));
    EXPECT_FALSE(board.IsLocked());
    EXPECT_EQ(S_OK, board.Paste(0, data, sizeof(data)));
}

TEST_F(BoardTest, LockUnlockAndTheProbe) {
    std::wstring name = UniqueBoardName(L"Lock");
    CInterProcessBoard board, other;
    ASSERT_EQ(S_OK, board.Reset(name.c_str(), 64, 1, 0));
    ASSERT_EQ(S_OK, other.Reset(name.c_str(), 64, 0, 0));
    EXPECT_FALSE(other.IsLocked());
    ASSERT_EQ(S_OK, board.Lock(100));
    EXPECT_TRUE(other.IsLocked());
    // A held lock makes a second Lock time out.
    EXPECT_EQ(E_FAIL, other.Lock(50));
    EXPECT_TRUE(DebugCapture::Contains("Fatal,CInterProcessBoard::Lock failed.\r\n"));
    DebugCapture::Clear();
    char data = 'x';
    EXPECT_EQ(E_FAIL, other.Paste(0, &data, 1));
    EXPECT_EQ(E_FAIL, other.Read(0, &data, 1));
    EXPECT_TRUE(DebugCapture::Lines().empty()) << "a probe refusal writes no message";
    ASSERT_EQ(S_OK, board.UnLock());
    EXPECT_FALSE(other.IsLocked());
    EXPECT_EQ(S_OK, other.Paste(0, &data, 1));
}

TEST_F(BoardTest, FlagRaisesWithZeroAndLowersWithOne) {
    std::wstring name = UniqueBoardName(L"Flag");
    CInterProcessBoard board, other;
    ASSERT_EQ(S_OK, board.Reset(name.c_str(), 64, 1, 0));
    ASSERT_EQ(S_OK, other.Reset(name.c_str(), 64, 0, 0));
    EXPECT_FALSE(other.IsDataAvailble(0));
    EXPECT_TRUE(board.Flag(0));
    EXPECT_TRUE(other.IsDataAvailble(0));
    EXPECT_TRUE(other.IsDataAvailble(0)) << "manual reset: waiting does not lower it";
    EXPECT_TRUE(board.Flag(1));
    EXPECT_FALSE(other.IsDataAvailble(0));
}

TEST_F(BoardTest, OperationsOnAnEmptyBoardFail) {
    CInterProcessBoard board;
    char data = 0;
    EXPECT_EQ(E_FAIL, board.Paste(0, &data, 1));
    EXPECT_EQ(E_FAIL, board.Read(0, &data, 1));
    EXPECT_EQ(E_FAIL, board.UnLock());
    EXPECT_FALSE(board.IsDataAvailble(0));
    EXPECT_FALSE(board.Flag(0));
}

// Another process holds the board through Lock: a paste fails at once, without the
// one-second lock wait, writes nothing and says nothing.
TEST_F(BoardTest, PasteWhileAnotherProcessHoldsTheLock) {
    std::wstring peer = test::ProgramPath(test::OwnArch(), L"zora_peer.exe");
    ASSERT_FALSE(peer.empty());
    std::wstring name = UniqueBoardName(L"Held");
    CInterProcessBoard board;
    ASSERT_EQ(S_OK, board.Reset(name.c_str(), 1024, 1, 0));
    const char before[] = "before";
    ASSERT_EQ(S_OK, board.Paste(0, before, sizeof(before)));

    for (const wchar_t* arch : {test::OwnArch(), test::PeerArch()}) {
        std::wstring holderPath = test::ProgramPath(arch, L"zora_peer.exe");
        if (holderPath.empty()) {
            ADD_FAILURE() << "peer of the other architecture is not built";
            continue;
        }
        test::NamedEvent ready(L"lockready"), release(L"lockrelease");
        test::Process holder;
        ASSERT_TRUE(holder.Start(holderPath, L"lock " + name + L" " + ready.Name() + L" " + release.Name()));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.Get(), 10000));
        DebugCapture::Clear();
        const char after[] = "AFTER!";
        DWORD start = GetTickCount();
        EXPECT_EQ(E_FAIL, board.Paste(0, after, sizeof(after)));
        EXPECT_LT(GetTickCount() - start, 900u) << "the probe must not wait for the lock";
        EXPECT_TRUE(DebugCapture::Lines().empty());
        SetEvent(release.Get());
        EXPECT_EQ(0, holder.Wait());
        char back[sizeof(before)] = {};
        ASSERT_EQ(S_OK, board.Read(0, back, sizeof(back)));
        EXPECT_STREQ(before, back) << test::Narrow(arch);
    }
}

}  // namespace

namespace {

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
TEST_F(BoardTest, ACopyThatGoesLeavesTheBoardToTheOriginalAndToOtherProcesses) {
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
TEST_F(BoardTest, AssignmentLetsGoOfTheTargetsBoardAndSharesTheSources) {
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

}  // namespace
