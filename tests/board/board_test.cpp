// The inter-process board inside one process: object naming, the lock and its probe,
// the event, the data area through two openings; and the client side of the request
// channel where nobody answers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "DebugCapture.h"
#include "InterProcessBoard.h"
#include "TestSupport.h"
#include "ZORACfg.h"

namespace {

// A board name no other test or run uses.
std::wstring UniqueBoardName(const wchar_t* purpose) {
    static int counter = 0;
    return std::wstring(L"ZoraTest") + purpose + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(counter++);
}

// Two openings of one fresh board: the owner creates it, the user opens it.
struct TwoOpenings {
    explicit TwoOpenings(const wchar_t* purpose, long size = 1024) : name(UniqueBoardName(purpose)) {
        EXPECT_EQ(S_OK, owner.Reset(name.c_str(), size, 1, 0));
        EXPECT_EQ(S_OK, user.Reset(name.c_str(), size, 0, 0));
    }
    std::wstring name;
    CInterProcessBoard owner, user;
};

TEST(BoardTest, ConstructNameBuildsTheGlobalNameOrRefuses) {
    CInterProcessBoard board;
    struct Case {
        const wchar_t *kind, *name;
        int outSize;
        unsigned long index;
        const wchar_t* text;  // null: refused, the buffer untouched
    } cases[] = {
        {L"IPB_Event", L"ZORA_IPB_PARA", 260, 0, L"Global\\IPB_EventZORA_IPB_PARA0"},
        {L"IPB_Semaphore", L"ZORA_IPB_RSLT", 260, 12, L"Global\\IPB_SemaphoreZORA_IPB_RSLT12"},
        {L"IPB_Map", L"0123456789", 20, 0, nullptr},        // 7 + 10 + 10 = 27 > 20 - 1
        {L"IPB_Map", L"AB", 20, 0, L"Global\\IPB_MapAB0"},  // 7 + 2 + 10 = 19 = 20 - 1: the exact fit
        {L"IPB_Map", L"AB", 19, 0, nullptr},                // one short
        {nullptr, L"X", 260, 0, nullptr},
        {L"IPB_Map", nullptr, 260, 0, nullptr},
        {L"K", L"N", 0, 0, nullptr},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        wchar_t out[260];
        wcscpy(out, L"untouched");
        EXPECT_EQ(cases[i].text ? 1 : 0,
                  board.ConstructName(cases[i].kind, cases[i].name, out, cases[i].outSize, cases[i].index))
            << "case " << i;
        EXPECT_STREQ(cases[i].text ? cases[i].text : L"untouched", out) << "case " << i;
    }
    EXPECT_EQ(0, board.ConstructName(L"K", L"N", nullptr, 8, 0));
}

TEST(BoardTest, ResetCreatesTheThreeNamedObjects) {
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
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 0)) << "the event starts lowered";
    CloseHandle(event);
    CloseHandle(map);
    CloseHandle(semaphore);
}

// A board that is not there, and a name too long for the object names: no handles.
TEST(BoardTest, ResetThatFailsLeavesNoHandles) {
    struct Case {
        std::wstring name;
        int create;
        const char* message;
    } cases[] = {{UniqueBoardName(L"Missing"), 0, "Cannot Reset for 0x2"},
                 {std::wstring(250, L'N'), 1, "Cannot Reset for 0x"}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        CInterProcessBoard board;
        EXPECT_EQ(E_FAIL, board.Reset(cases[i].name.c_str(), 1024, cases[i].create, 0)) << "case " << i;
        EXPECT_EQ(nullptr, board.m_hEvent) << "case " << i;
        EXPECT_EQ(nullptr, board.m_hMap) << "case " << i;
        EXPECT_EQ(nullptr, board.m_hSemaphore) << "case " << i;
        EXPECT_TRUE(DebugCapture::Contains(cases[i].message)) << "case " << i;
    }
}

TEST(BoardTest, SecondResetReplacesTheHandles) {
    std::wstring first = UniqueBoardName(L"First"), second = UniqueBoardName(L"Second");
    CInterProcessBoard board;
    ASSERT_EQ(S_OK, board.Reset(first.c_str(), 64, 1, 0));
    ASSERT_EQ(S_OK, board.Reset(second.c_str(), 64, 1, 0));
    // The first board's objects are gone with their only handles.
    CInterProcessBoard probe;
    EXPECT_EQ(E_FAIL, probe.Reset(first.c_str(), 64, 0, 0));
    EXPECT_EQ(S_OK, probe.Reset(second.c_str(), 64, 0, 0));
}

TEST(BoardTest, PasteReadAndClearAcrossTwoOpenings) {
    TwoOpenings board(L"Data");
    const char text[] = "board data";
    ASSERT_EQ(S_OK, board.owner.Paste(1000, text, sizeof(text)));
    char back[sizeof(text)] = {};
    ASSERT_EQ(S_OK, board.user.Read(1000, back, sizeof(back)));
    EXPECT_STREQ(text, back);

    unsigned char bytes[8];
    memset(bytes, 0xAB, sizeof(bytes));
    ASSERT_EQ(S_OK, board.owner.Paste(10, bytes, sizeof(bytes)));
    ASSERT_EQ(S_OK, board.user.Paste(12, nullptr, 2));  // a null source zero-fills
    ASSERT_EQ(S_OK, board.user.Clear(15, 3));
    ASSERT_EQ(S_OK, board.owner.Read(10, bytes, sizeof(bytes)));
    const unsigned char expected[8] = {0xAB, 0xAB, 0, 0, 0xAB, 0, 0, 0};
    EXPECT_EQ(0, memcmp(expected, bytes, sizeof(bytes)));
    EXPECT_FALSE(board.owner.IsLocked()) << "every access released its lock";
}

TEST(BoardTest, AccessBeyondTheSectionFailsAndReleasesTheLock) {
    CInterProcessBoard board;
    ASSERT_EQ(S_OK, board.Reset(UniqueBoardName(L"Beyond").c_str(), 4096, 1, 0));
    char data[16] = {};
    EXPECT_EQ(E_FAIL, board.Paste(8192, data, sizeof(data)));
    EXPECT_TRUE(
        DebugCapture::Contains("Failed in calling MapViewOfFile in CInterProcessBoard::Paste() with last Error"));
    EXPECT_EQ(E_FAIL, board.Read(8192, data, sizeof(data)));
    EXPECT_TRUE(DebugCapture::Contains("Failed in calling MapViewOfFile in CInterProcessBoard::Read()."));
    EXPECT_EQ(E_FAIL, board.Paste(-1, data, 1));
    EXPECT_FALSE(board.IsLocked());
    EXPECT_EQ(S_OK, board.Paste(0, data, sizeof(data)));
}

TEST(BoardTest, LockUnlockAndTheProbe) {
    TwoOpenings board(L"Lock", 64);
    EXPECT_FALSE(board.user.IsLocked());
    ASSERT_EQ(S_OK, board.owner.Lock(100));
    EXPECT_TRUE(board.user.IsLocked());
    EXPECT_EQ(E_FAIL, board.user.Lock(50)) << "a held lock makes a second Lock time out";
    EXPECT_TRUE(DebugCapture::Contains("Fatal,CInterProcessBoard::Lock failed.\r\n"));
    DebugCapture::Clear();
    char data = 'x';
    EXPECT_EQ(E_FAIL, board.user.Paste(0, &data, 1));
    EXPECT_EQ(E_FAIL, board.user.Read(0, &data, 1));
    EXPECT_TRUE(DebugCapture::Lines().empty()) << "a probe refusal writes no message";
    ASSERT_EQ(S_OK, board.owner.UnLock());
    EXPECT_FALSE(board.user.IsLocked());
    EXPECT_EQ(S_OK, board.user.Paste(0, &data, 1));
}

TEST(BoardTest, FlagRaisesWithZeroAndLowersWithOne) {
    TwoOpenings board(L"Flag", 64);
    EXPECT_FALSE(board.user.IsDataAvailble(0));
    EXPECT_TRUE(board.owner.Flag(0));
    EXPECT_TRUE(board.user.IsDataAvailble(0));
    EXPECT_TRUE(board.user.IsDataAvailble(0)) << "manual reset: waiting does not lower it";
    EXPECT_TRUE(board.owner.Flag(1));
    EXPECT_FALSE(board.user.IsDataAvailble(0));
}

TEST(BoardTest, OperationsOnAnEmptyBoardFail) {
    CInterProcessBoard board;
    char data = 0;
    EXPECT_EQ(E_FAIL, board.Paste(0, &data, 1));
    EXPECT_EQ(E_FAIL, board.Read(0, &data, 1));
    EXPECT_EQ(E_FAIL, board.UnLock());
    EXPECT_FALSE(board.IsDataAvailble(0));
    EXPECT_FALSE(board.Flag(0));
}

// No answerer: the call fails at once, naming the board it could not open.
TEST(ServiceCallNoAnswerer, FailsAtOnceWithoutTheBoards) {
    CInterProcessBoard answer;
    for (int withAnswerBoard = 0; withAnswerBoard < 2; ++withAnswerBoard) {
        if (withAnswerBoard) {
            ASSERT_EQ(S_OK, answer.Reset(kIpbAnswerBoard, kIpbBoardSize, 1, kIpbBoardIndex));
        }
        CZORACfg client;
        IpbDataHeader scratch{};
        DWORD start = GetTickCount();
        EXPECT_EQ(E_FAIL, client.ServiceCall(DeviceStateRequest, L"x", 0, &scratch, 10000)) << withAnswerBoard;
        EXPECT_LT(GetTickCount() - start, 5000u) << "the call must not wait its time-out";
    }
    EXPECT_TRUE(DebugCapture::Contains("Failed in open IPB board for results with 80004005."));
    EXPECT_TRUE(DebugCapture::Contains("Failed in open IPB board for parameters with 80004005."));
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
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        request.Clear(0, kIpbBoardSize);
        CZORACfg client;
        IpbDataHeader scratch{0xdeadbeef, 0xdeadbeef, 0xdeadbeef};
        // Nobody answers: the call times out, leaving its request on the board.
        EXPECT_EQ(E_FAIL, client.ServiceCall(7, cases[i].data, 0x11223344, &scratch, 50)) << "case " << i;
        EXPECT_EQ(0xdeadbeefu, scratch.dwCode) << "the header argument is not written, case " << i;
        IpbDataHeader header{};
        ASSERT_EQ(S_OK, request.Read(0, &header, sizeof(header)));
        EXPECT_EQ(7u, header.dwCode) << "case " << i;
        EXPECT_EQ(0x11223344u, header.dwParam) << "case " << i;
        EXPECT_EQ(cases[i].expectedLen, header.dwDataLen) << "case " << i;
        wchar_t data[256];
        wmemset(data, L'#', 256);
        ASSERT_EQ(S_OK, request.Read(kIpbDataOffset, data, static_cast<long>(header.dwDataLen)));
        EXPECT_STREQ(cases[i].data ? cases[i].data : L"", data) << "terminated on the board, case " << i;
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

}  // namespace
