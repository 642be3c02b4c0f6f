#include "RequestServer.h"

#include <cstring>

#include "WinHandles.h"
#include "ZORABase.h"

namespace {
// The request as it was on the board, and a wide terminator after the longest data
// accepted, so that tasks always get a terminated string.
struct Request {
    IpbDataHeader header;
    unsigned char data[kIpbMaxDataLen + sizeof(wchar_t)];
    IpbToken token;

    const wchar_t* Text() const { return reinterpret_cast<const wchar_t*>(data); }
};

// The error behind a failed board operation; never ERROR_SUCCESS.
DWORD Failure() {
    DWORD error = GetLastError();
    return error ? error : ERROR_INVALID_HANDLE;
}

// Whether the board's whole data area can be written: an object of the right name
// but made by someone else may be smaller.
bool WholeBoard(CInterProcessBoard& board) {
    unsigned char last = 0;
    return board.Read(kIpbBoardSize - 1, &last, 1) == S_OK && board.Paste(kIpbBoardSize - 1, &last, 1) == S_OK;
}
}  // namespace

RequestServer::~RequestServer() {
    if (!m_serverLock) return;
    ReleaseMutex(m_serverLock);
    CloseHandle(m_serverLock);
}

DWORD RequestServer::Open() {
    SetLastError(ERROR_SUCCESS);
    if (m_request.Reset(kIpbRequestBoard, kIpbBoardSize, 1, kIpbBoardIndex) != S_OK) {
        DWORD error = Failure();
        CZORABase::DBGOUT(L"Failed in open IPB board for parameters with %X.", static_cast<unsigned>(error));
        return error;
    }
    if (m_answer.Reset(kIpbAnswerBoard, kIpbBoardSize, 1, kIpbBoardIndex) != S_OK) {
        DWORD error = Failure();
        CZORABase::DBGOUT(L"Failed in open IPB board for results with %X.", static_cast<unsigned>(error));
        return error;
    }
    if (!WholeBoard(m_request) || !WholeBoard(m_answer)) {
        CZORABase::DBGOUT(L"Failed in open IPB board for results with %X.", static_cast<unsigned>(ERROR_INVALID_DATA));
        return ERROR_INVALID_DATA;
    }
    // Whatever an earlier server or anybody else left there is no request of ours.
    m_request.Clear(0, kIpbBoardSize);
    m_answer.Clear(0, kIpbBoardSize);
    m_request.Flag(1);
    m_answer.Flag(1);
    // A client may hold the lock for a moment to see whether anybody serves.
    NullDaclSecurity security;
    security.attributes.bInheritHandle = FALSE;
    HANDLE lock = CreateMutexW(&security.attributes, FALSE, kIpbServerLockName);
    if (!lock) return Failure();
    DWORD wait = WaitForSingleObject(lock, 2000);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        CloseHandle(lock);
        CZORABase::DBGOUT(L"Another server holds the boards.\n");
        return ERROR_SERVICE_ALREADY_RUNNING;
    }
    m_serverLock = lock;
    return ERROR_SUCCESS;
}

DWORD RequestServer::Serve(HANDLE stop, RequestTask task, void* context) {
    CZORABase::DBGOUT(L"ZoraWorker is waiting for customers now...\n");
    HANDLE waits[2] = {stop, m_request.m_hEvent};
    for (;;) {
        DWORD wait = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (wait == WAIT_OBJECT_0) return ERROR_SUCCESS;
        if (wait != WAIT_OBJECT_0 + 1) return Failure();
        ServeOne(task, context);
    }
}

void RequestServer::ServeOne(RequestTask task, void* context) {
    Request request;
    std::memset(&request, 0, sizeof(request));
    bool read = m_request.Read(0, &request.header, sizeof(request.header)) == S_OK;
    if (!read) CZORABase::DBGOUT(L"Reading header field failed in ZoraWorker.\n");
    // A request without a token is answered with the token 0, which no client that
    // sends tokens takes for its own.
    if (m_request.Read(kIpbTokenOffset, &request.token, sizeof(request.token)) != S_OK ||
        request.token.magic != kIpbTokenMagic || request.header.dwCode == NoRequest)
        request.token = IpbToken{kIpbTokenMagic, 0};
    // Consumed: raising the event again without a new request finds code 0.
    m_request.Clear(0, sizeof(IpbDataHeader));
    m_request.Clear(kIpbTokenOffset, sizeof(IpbToken));

    if (!read) return Answer(FailureNotice, 0, request.token);
    if (request.header.dwCode == NoRequest) {
        CZORABase::DBGOUT(L"No request on the board in ZoraWorker.\n");
        return Answer(FailureNotice, 0, request.token);
    }
    if (request.header.dwDataLen >= kIpbMaxDataLen) {
        CZORABase::DBGOUT(L"Extra data length is beyond expectation in ZoraWorker.\n");
        return Answer(FailureNotice, 0, request.token);
    }
    if (m_request.Read(kIpbDataOffset, request.data, static_cast<long>(request.header.dwDataLen)) != S_OK) {
        CZORABase::DBGOUT(L"Reading extra data failed in ZoraWorker.\n");
        return Answer(FailureNotice, 0, request.token);
    }
    TaskAnswer answer = task(request.header, request.Text(), context);
    if (answer.status == kLeaveUnanswered) {
        m_request.Flag(1);
        return;
    }
    Answer(answer.status, answer.result, request.token);
}

// The answer and its token are on the board before its event rises, and the request
// event is lowered before that. A request posted while this one ran has had its event
// lowered with it: the event is raised again so that it is served next.
void RequestServer::Answer(uint32_t status, long result, const IpbToken& token) {
    IpbDataHeader answer{status, static_cast<uint32_t>(result), 0};
    PasteSurely(m_answer, 0, &answer, sizeof(answer));
    PasteSurely(m_answer, kIpbTokenOffset, &token, sizeof(token));
    m_request.Flag(1);
    IpbDataHeader next{};
    if (m_request.Read(0, &next, sizeof(next)) == S_OK && next.dwCode != NoRequest) m_request.Flag(0);
    m_answer.Flag(0);
}

// A paste fails at once while a client holds the board for a moment (a read of its
// answer): the answer must not be lost for that, so the server tries again.
void RequestServer::PasteSurely(CInterProcessBoard& board, long offset, const void* data, long size) {
    for (int attempt = 0; attempt < 200 && board.Paste(offset, data, size) != S_OK; ++attempt) Sleep(1);
}
