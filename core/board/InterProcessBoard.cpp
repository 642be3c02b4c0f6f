#include "InterProcessBoard.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "Deadline.h"
#include "DebugText.h"
#include "SharedHandles.h"
#include "WinHandles.h"

namespace {
constexpr wchar_t kKindEvent[] = L"IPB_Event";
constexpr wchar_t kKindMap[] = L"IPB_Map";
constexpr wchar_t kKindSemaphore[] = L"IPB_Semaphore";
constexpr int kNameSize = 260;
constexpr LONG kSemaphoreMax = 0x7fffffff;

// Messages of the board go to the debugger output whatever the diagnostics switch.
constexpr wchar_t kMsgLockFailed[] = L"Fatal,CInterProcessBoard::Lock failed.\r\n";
constexpr wchar_t kMsgUnlockFailed[] =
    L"Fatal,calling ReleaseSemaphore in CInterProcessBoard::UnLock failed.\r\n";

using shared_handle::CloseKernel;

constexpr SIZE_T kPage = 4096;
// Longer than any paste or read can hold the lock: a hold this old is given up.
constexpr LONG kLongestHoldMs = 2000;

// The hold the calling thread took with Lock, for its UnLock.
thread_local LONG t_lockSequence = 0;

bool ProcessEnded(DWORD processId) {
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
    return WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}
}  // namespace

// Who holds the lock, kept in the last bytes of the data area, where no caller
// reaches: every taking of the lock and every giving back (or recovery) advances
// `sequence` once, so a give-back and a recovery of the same hold exclude each other.
struct CInterProcessBoard::LockRecord {
    volatile LONG sequence;
    volatile LONG owner;            // the holder's process ID; 0 when free or unknown
    volatile LONG suspectSequence;  // the hold a waiter first found held too long ...
    volatile LONG suspectSince;     // ... and when (GetTickCount)
};

CInterProcessBoard::CInterProcessBoard()
    : m_hEvent(nullptr), m_hSemaphore(nullptr), m_hMap(nullptr), m_pView(nullptr), m_viewSize(0) {}

CInterProcessBoard::CInterProcessBoard(const CInterProcessBoard& other)
    : m_hEvent(other.m_hEvent),
      m_hSemaphore(other.m_hSemaphore),
      m_hMap(other.m_hMap),
      m_pView(nullptr),
      m_viewSize(0) {
    shared_handle::Hold(m_hEvent);
    shared_handle::Hold(m_hSemaphore);
    shared_handle::Hold(m_hMap);
}

CInterProcessBoard& CInterProcessBoard::operator=(const CInterProcessBoard& other) {
    if (this == &other) return *this;
    DropView();
    shared_handle::Assign(&m_hEvent, other.m_hEvent, CloseKernel);
    shared_handle::Assign(&m_hMap, other.m_hMap, CloseKernel);
    shared_handle::Assign(&m_hSemaphore, other.m_hSemaphore, CloseKernel);
    return *this;
}

CInterProcessBoard::~CInterProcessBoard() { CloseObjects(); }

long CInterProcessBoard::CloseObjects() {
    DropView();
    shared_handle::Release(m_hEvent, CloseKernel);
    shared_handle::Release(m_hMap, CloseKernel);
    shared_handle::Release(m_hSemaphore, CloseKernel);
    m_hEvent = m_hSemaphore = m_hMap = nullptr;
    return S_OK;
}

void CInterProcessBoard::DropView() {
    UniqueView dropped(std::exchange(m_pView, nullptr));
    m_viewSize = 0;
}

int CInterProcessBoard::ConstructName(const wchar_t* kind, const wchar_t* name, wchar_t* out,
                                      int outSize, unsigned long index) {
    if (!kind || !name || !out) return 0;
    if (static_cast<long long>(wcslen(kind)) + static_cast<long long>(wcslen(name)) + 10 >
        static_cast<long long>(outSize) - 1)
        return 0;
    // The bound leaves room for "Global\" (7) and the decimal index of up to 10 digits
    // only when the index is small; cut rather than overrun whatever it is.
    int n = _snwprintf(out, outSize - 1, L"Global\\%s%s%lu", kind, name, index);
    if (n < 0 || n >= outSize) n = outSize - 1;
    out[n] = L'\0';
    return 1;
}

long CInterProcessBoard::Reset(const wchar_t* name, long size, int create, unsigned long index) {
    CloseObjects();

    wchar_t eventName[kNameSize], mapName[kNameSize], semaphoreName[kNameSize];
    if (!ConstructName(kKindEvent, name, eventName, kNameSize, index) ||
        !ConstructName(kKindMap, name, mapName, kNameSize, index) ||
        !ConstructName(kKindSemaphore, name, semaphoreName, kNameSize, index)) {
        DebugText(L"Cannot Reset for 0x%x", static_cast<unsigned>(ERROR_INVALID_NAME));
        return E_FAIL;
    }

    if (create) {
        NullDaclSecurity security;
        m_hEvent = CreateEventW(&security.attributes, TRUE, FALSE, eventName);
        // Whole pages, the lock record in the last bytes after the caller's size.
        SIZE_T mapped = (static_cast<SIZE_T>(size < 0 ? 0 : size) + sizeof(LockRecord) + kPage - 1) / kPage * kPage;
        m_hMap = CreateFileMappingW(INVALID_HANDLE_VALUE, &security.attributes, PAGE_READWRITE, 0,
                                    static_cast<DWORD>(mapped), mapName);
        m_hSemaphore = CreateSemaphoreW(&security.attributes, 1, kSemaphoreMax, semaphoreName);
    } else {
        m_hEvent = OpenEventW(EVENT_ALL_ACCESS, FALSE, eventName);
        m_hMap = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, mapName);
        m_hSemaphore = OpenSemaphoreW(SEMAPHORE_ALL_ACCESS, FALSE, semaphoreName);
    }
    if (m_hEvent && m_hMap && m_hSemaphore) {
        shared_handle::Hold(m_hEvent);
        shared_handle::Hold(m_hMap);
        shared_handle::Hold(m_hSemaphore);
        return S_OK;
    }

    DebugText(L"Cannot Reset for 0x%x", static_cast<unsigned>(GetLastError()));
    CloseObjects();  // what did open has no other holder: closed
    return E_FAIL;
}

// Takes the lock only if it is free at this moment: 1 taken (*sequence is the hold),
// 0 held by someone else, -1 the wait itself failed. A single wait with no time-out
// cannot, unlike raising the count to see what it was, let a third party into a lock
// that is held. A hold left by a process that ended, or older than any paste or read
// takes, is recovered on the way.
int CInterProcessBoard::TryLock(LONG* sequence) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        switch (WaitForSingleObject(m_hSemaphore, 0)) {
        case WAIT_OBJECT_0:
            *sequence = Taken();
            return 1;
        case WAIT_TIMEOUT:
            if (!RecoverHold()) return 0;
            break;
        default:
            return -1;
        }
    }
    return 0;
}

// The lock record, or null when the data area cannot be mapped.
CInterProcessBoard::LockRecord* CInterProcessBoard::Record() {
    SIZE_T viewSize = 0;
    unsigned char* view = View(&viewSize);
    if (!view || viewSize < sizeof(LockRecord)) return nullptr;
    return reinterpret_cast<LockRecord*>(view + viewSize - sizeof(LockRecord));
}

LONG CInterProcessBoard::Taken() {
    LockRecord* record = Record();
    if (!record) return 0;
    LONG sequence = InterlockedIncrement(&record->sequence);
    record->owner = static_cast<LONG>(GetCurrentProcessId());
    return sequence;
}

// Gives the hold back unless it was recovered from this holder meanwhile.
BOOL CInterProcessBoard::GiveBack(LONG sequence) {
    LockRecord* record = Record();
    if (record) {
        if (InterlockedCompareExchange(&record->sequence, sequence + 1, sequence) != sequence) return TRUE;
        record->owner = 0;
    }
    return ReleaseSemaphore(m_hSemaphore, 1, nullptr);
}

// Called while the lock is found held: recovers the hold when its holder has ended,
// or when this hold has been seen held for longer than any paste or read takes. One
// waiter only wins a recovery; the holder's own give-back then does nothing.
bool CInterProcessBoard::RecoverHold() {
    LockRecord* record = Record();
    if (!record) return false;
    LONG sequence = record->sequence;
    LONG owner = record->owner;
    if (!(owner && ProcessEnded(static_cast<DWORD>(owner)))) {
        LONG now = static_cast<LONG>(GetTickCount());
        if (record->suspectSequence != sequence) {
            record->suspectSince = now;
            record->suspectSequence = sequence;
            return false;
        }
        if (now - record->suspectSince < kLongestHoldMs) return false;
    }
    if (InterlockedCompareExchange(&record->sequence, sequence + 1, sequence) != sequence) return false;
    record->owner = 0;
    OutputDebugStringW(L"CInterProcessBoard: a lock its holder left was recovered.\r\n");
    return ReleaseSemaphore(m_hSemaphore, 1, nullptr) != FALSE;
}

// The whole data area; its size (whole pages) in *viewSize.
unsigned char* CInterProcessBoard::View(SIZE_T* viewSize) {
    if (!m_pView) {
        UniqueView view(MapViewOfFile(m_hMap, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        MEMORY_BASIC_INFORMATION info{};
        if (view && VirtualQuery(view.get(), &info, sizeof(info)) == sizeof(info)) {
            m_viewSize = info.RegionSize;
            m_pView = static_cast<unsigned char*>(view.release());
        }
    }
    *viewSize = m_viewSize;
    return m_pView;
}

long CInterProcessBoard::CopyLocked(long offset, void* buffer, long size, int toBoard) {
    if (offset < 0 || size < 0) return E_FAIL;
    LONG sequence = 0;
    int locked = TryLock(&sequence);
    if (locked == 0) return E_FAIL;  // someone holds the board: fail fast, no message
    if (locked < 0) {
        OutputDebugStringW(kMsgLockFailed);
        return E_FAIL;
    }
    ScopeExit release([this, sequence] {
        if (!GiveBack(sequence)) OutputDebugStringW(kMsgUnlockFailed);
    });

    SIZE_T end = static_cast<SIZE_T>(offset) + static_cast<SIZE_T>(size);
    if (end == 0) return S_OK;
    SIZE_T viewSize = 0;
    unsigned char* view = View(&viewSize);
    // The last bytes hold the lock record.
    if (view && end > viewSize - sizeof(LockRecord)) {
        view = nullptr;
        SetLastError(ERROR_ACCESS_DENIED);  // what mapping past the section reports
    }
    if (!view) {
        if (toBoard)
            DebugText(L"Failed in calling MapViewOfFile in CInterProcessBoard::Paste() with last Error %x.\n",
                      static_cast<unsigned>(GetLastError()));
        else
            OutputDebugStringW(L"Failed in calling MapViewOfFile in CInterProcessBoard::Read().\r\n");
        return E_FAIL;
    }
    if (!toBoard)
        memcpy(buffer, view + offset, static_cast<size_t>(size));
    else if (buffer)
        memcpy(view + offset, buffer, static_cast<size_t>(size));
    else
        memset(view + offset, 0, static_cast<size_t>(size));
    return S_OK;
}

long CInterProcessBoard::Paste(long offset, const void* data, long size) {
    return CopyLocked(offset, const_cast<void*>(data), size, 1);
}

long CInterProcessBoard::Read(long offset, void* out, long size) {
    if (!out && size > 0) return E_FAIL;
    return CopyLocked(offset, out, size, 0);
}

long CInterProcessBoard::Clear(long offset, long size) { return Paste(offset, nullptr, size); }

long CInterProcessBoard::Lock(long timeoutMs) {
    // Waited for in slices, so that a hold its holder left is recovered meanwhile.
    Deadline deadline(static_cast<DWORD>(timeoutMs));
    for (;;) {
        DWORD left = deadline.Remaining();
        DWORD wait = WaitForSingleObject(m_hSemaphore, left < 250 ? left : 250);
        if (wait == WAIT_OBJECT_0) {
            t_lockSequence = Taken();
            return S_OK;
        }
        if (wait != WAIT_TIMEOUT || (!RecoverHold() && left == 0)) break;
    }
    OutputDebugStringW(kMsgLockFailed);
    return E_FAIL;
}

long CInterProcessBoard::UnLock() {
    if (!m_hSemaphore || !GiveBack(t_lockSequence)) {
        OutputDebugStringW(kMsgUnlockFailed);
        return E_FAIL;
    }
    return S_OK;
}

int CInterProcessBoard::IsLocked() {
    LONG sequence = 0;
    int locked = TryLock(&sequence);
    if (locked == 1) GiveBack(sequence);
    return locked == 0;
}

int CInterProcessBoard::IsDataAvailble(unsigned long timeoutMs) {
    return WaitForSingleObject(m_hEvent, timeoutMs) == WAIT_OBJECT_0;
}

int CInterProcessBoard::Flag(int lower) { return lower ? ResetEvent(m_hEvent) : SetEvent(m_hEvent); }
