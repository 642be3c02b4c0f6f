#include "ZORABase.h"

#include <windows.h>

#include <cwchar>

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

// Takes the call lock; an abandoned one (a client that died mid-call) is taken over.
HANDLE AcquireCallLock(DWORD timeoutMs) {
    HANDLE lock = CallLock();
    if (!lock) return nullptr;
    DWORD wait = WaitForSingleObject(lock, timeoutMs);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return nullptr;
    return lock;
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

    HANDLE callLock = AcquireCallLock(timeoutMs);
    if (!callLock) {
        DBGOUT(L"Waiting inbound board data timeout.\n");
        return E_FAIL;
    }
    ScopeExit releaseCallLock([callLock] { ReleaseMutex(callLock); });

    // A request still raised here belongs to a client that gave up waiting: the
    // service is still working on it, or has not read it yet. Its answer must come
    // and go before ours is asked for, or we would read it as our own.
    if (requestBoard.IsDataAvailble(0) && !answerBoard.IsDataAvailble(timeoutMs)) {
        DBGOUT(L"Waiting inbound board data timeout.\n");
        return E_FAIL;
    }

    if (requestBoard.Paste(0, &local, sizeof(local)) != S_OK) {
        DBGOUT(L"Paste data header to outbound board failed in CDevMgr.\n");
        return E_FAIL;
    }
    if (requestBoard.Paste(kIpbDataOffset, data, static_cast<long>(local.dwDataLen)) != S_OK) {
        DBGOUT(L"Paste data to outbound board failed in CDevMgr.\n");
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
    if (!answerBoard.IsDataAvailble(timeoutMs)) {
        DBGOUT(L"Waiting inbound board data timeout.\n");
        return E_FAIL;
    }
    if (answerBoard.Read(0, &local, sizeof(local)) != S_OK) {
        DBGOUT(L"Reading data header failed in CDevMgr\n");
        return E_FAIL;
    }
    if (local.dwCode != AnswerStatus) {
        DBGOUT(L"A failure notice received in CDevMgr\n");
        return E_FAIL;
    }
    DBGOUT(L"CDevMgr::DoStateChangeRemote got result %x\n", local.dwParam);
    return static_cast<long>(local.dwParam);
}
