#include "ZORABase.h"

#include <windows.h>

#include <cwchar>

#include "Deadline.h"
#include "DebugText.h"
#include "InterProcessBoard.h"
#include "WinHandles.h"
#include "ZORACfg.h"

namespace {
// -1 until the first DBGOUT of the process reads it from ZORACfg.ini.
volatile LONG g_debugSwitch = -1;

LONG DebugSwitch() {
    LONG value = g_debugSwitch;
    if (value >= 0) return value;
    CZORACfg cfg;
    cfg.Initialize(L"ZORACfg.ini");
    value = cfg.GetInt(L"ZORACfg", L"Debug", 0);
    if (value < 0) value = 0;
    // Racing first calls read the same file; the first one to finish wins.
    InterlockedCompareExchange(&g_debugSwitch, value, -1);
    return g_debugSwitch;
}

// The lock that spans one whole call, created on first use and kept for the life of
// the process: it belongs to the clients alone, so keeping it costs nothing.
HANDLE CallLock() {
    static HANDLE volatile s_lock = nullptr;
    HANDLE lock = s_lock;
    if (lock) return lock;
    NullDaclSecurity security;
    security.attributes.bInheritHandle = FALSE;
    UniqueHandle created(CreateMutexW(&security.attributes, FALSE, kIpbCallLockName));
    if (!created) return nullptr;
    // A racing first call may have stored its own: that one is kept, ours closed.
    HANDLE previous =
        InterlockedCompareExchangePointer(const_cast<PVOID volatile*>(&s_lock), created.get(), nullptr);
    return previous ? previous : created.release();
}

// Whether the server lock can be taken now: then nothing serves (or the server has
// just ended), and the lock is given back at once.
bool Unserved(HANDLE serverLock) {
    DWORD wait = WaitForSingleObject(serverLock, 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return false;
    ReleaseMutex(serverLock);
    return true;
}

// Waits for `object` until the deadline, or until the server ends: true only when
// `object` was signalled. An abandoned mutex counts as taken.
bool WaitWhileServed(HANDLE object, HANDLE serverLock, const Deadline& deadline) {
    HANDLE waits[2] = {object, serverLock};
    DWORD wait = WaitForMultipleObjects(2, waits, FALSE, deadline.Remaining());
    if (wait == WAIT_OBJECT_0 + 1 || wait == WAIT_ABANDONED_0 + 1) ReleaseMutex(serverLock);
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED_0;
}

// A token no other call of this process uses for a long while, and that another
// process's is unlikely to equal.
uint32_t NewToken() {
    static volatile LONG s_calls = 0;
    uint32_t calls = static_cast<uint32_t>(InterlockedIncrement(&s_calls));
    uint32_t token = (GetCurrentProcessId() << 16) ^ (calls & 0xFFFF) ^ (GetTickCount() & 0xFFFF0000u);
    return token ? token : 1;
}

// The answer on the board, when it is this call's: it carries this call's token, or
// no token record at all (a server that echoes none).
bool ReadOwnAnswer(CInterProcessBoard& answerBoard, uint32_t token, IpbDataHeader* answer) {
    IpbToken echo{};
    return answerBoard.Read(0, answer, sizeof(*answer)) == S_OK &&
           answerBoard.Read(kIpbTokenOffset, &echo, sizeof(echo)) == S_OK &&
           (echo.magic != kIpbTokenMagic || echo.token == token);
}
}  // namespace

CZORABase::~CZORABase() = default;

void CZORABase::DBGOUT(const wchar_t* format, ...) {
    if (!format || DebugSwitch() < 1) return;
    va_list args;
    va_start(args, format);
    DebugTextV(format, args);
    va_end(args);
}

long CZORABase::ServiceCall(unsigned int code, const wchar_t* data, unsigned long param,
                            IpbDataHeader* /*header*/, unsigned long timeoutMs) {
    if (!data) data = L"";
    IpbDataHeader local{};
    local.dwCode = code;
    local.dwParam = static_cast<uint32_t>(param);
    local.dwDataLen = static_cast<uint32_t>((wcslen(data) + 1) * sizeof(wchar_t));

    CInterProcessBoard answerBoard;
    long hr = answerBoard.Reset(kIpbAnswerBoard, kIpbBoardSize, 0, kIpbBoardIndex);
    if (hr != S_OK) {
        DBGOUT(L"Failed in open IPB board for results with %X.", static_cast<unsigned>(hr));
        return E_FAIL;
    }
    CInterProcessBoard requestBoard;
    hr = requestBoard.Reset(kIpbRequestBoard, kIpbBoardSize, 0, kIpbBoardIndex);
    if (hr != S_OK) {
        DBGOUT(L"Failed in open IPB board for parameters with %X.", static_cast<unsigned>(hr));
        return E_FAIL;
    }

    // Fails at once while nothing serves the boards, even when other clients still
    // hold them open.
    UniqueHandle serverLock(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kIpbServerLockName));
    if (!serverLock || Unserved(serverLock.get())) {
        DBGOUT(L"Failed in open IPB board for results with %X.",
               static_cast<unsigned>(HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE)));
        return E_FAIL;
    }
    HANDLE server = serverLock.get();

    Deadline deadline(timeoutMs);
    HANDLE callLock = CallLock();
    if (!callLock || !WaitWhileServed(callLock, server, deadline)) {
        DBGOUT(L"Waiting inbound board data timeout.\n");
        return E_FAIL;
    }
    ScopeExit releaseCallLock([callLock] { ReleaseMutex(callLock); });

    // A request still raised here belongs to a client that gave up waiting: the
    // service is still working on it, or has not read it yet. Its answer must come
    // before ours is posted, or the service would lower our request with it.
    if (requestBoard.IsDataAvailble(0) && !WaitWhileServed(answerBoard.m_hEvent, server, deadline)) {
        DBGOUT(L"Waiting inbound board data timeout.\n");
        return E_FAIL;
    }

    // The task code last: a server woken early (by a third party) finds either no
    // request (code 0) or a whole one with its token.
    IpbToken token{kIpbTokenMagic, NewToken()};
    IpbDataHeader unposted = local;
    unposted.dwCode = NoRequest;
    if (requestBoard.Paste(0, &unposted, sizeof(unposted)) != S_OK) {
        DBGOUT(L"Paste data header to outbound board failed in CDevMgr.\n");
        return E_FAIL;
    }
    if (requestBoard.Paste(kIpbDataOffset, data, static_cast<long>(local.dwDataLen)) != S_OK ||
        requestBoard.Paste(kIpbTokenOffset, &token, sizeof(token)) != S_OK) {
        DBGOUT(L"Paste data to outbound board failed in CDevMgr.\n");
        return E_FAIL;
    }
    // The whole header again: a server woken early may have consumed the unposted one.
    if (requestBoard.Paste(0, &local, sizeof(local)) != S_OK) {
        DBGOUT(L"Paste data header to outbound board failed in CDevMgr.\n");
        return E_FAIL;
    }
    if (!answerBoard.Flag(1)) {
        DBGOUT(L"Reset inbound board event failed in CDevMgr\n");
        return E_FAIL;
    }
    if (!requestBoard.Flag(0)) {
        DBGOUT(L"Set outbound board event failed in CDevMgr\n");
        return E_FAIL;
    }
    // Answers to other requests (a third party raising the request event makes the
    // service answer it) are passed over until this call's own arrives.
    for (;;) {
        if (!WaitWhileServed(answerBoard.m_hEvent, server, deadline)) {
            DBGOUT(L"Waiting inbound board data timeout.\n");
            return E_FAIL;
        }
        if (ReadOwnAnswer(answerBoard, token.token, &local)) break;
        answerBoard.Flag(1);
        // Ours may have landed between the read and the lowering.
        if (ReadOwnAnswer(answerBoard, token.token, &local)) break;
    }
    if (local.dwCode != AnswerStatus) {
        DBGOUT(L"A failure notice received in CDevMgr\n");
        return E_FAIL;
    }
    DBGOUT(L"CDevMgr::DoStateChangeRemote got result %x\n", local.dwParam);
    return static_cast<long>(local.dwParam);
}
