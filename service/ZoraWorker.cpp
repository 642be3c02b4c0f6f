#include "ZoraWorker.h"

#include <cstring>

#include "DevMgr.h"
#include "InterProcessBoard.h"
#include "IpbProtocol.h"
#include "SchemeApply.h"
#include "ZORABase.h"

namespace {
struct Request {
    IpbDataHeader header;
    // The data and a wide terminator after the longest data accepted, so that the
    // handlers always get a terminated string.
    unsigned char data[kIpbMaxDataLen + sizeof(wchar_t)];

    const wchar_t* Text() const { return reinterpret_cast<const wchar_t*>(data); }
};

long ExecuteDeviceStateRequest(const wchar_t* instanceId, uint32_t /*dataLen*/, uint32_t action) {
    CZORABase::DBGOUT(L"ZoraWorker going to execute state change for %s to %d", instanceId, static_cast<int>(action));
    long result = CDevMgr::ExecStateChange(instanceId, action);
    CZORABase::DBGOUT(L"ZoraWorker executed state change for %s to %d got %x", instanceId, static_cast<int>(action),
                      static_cast<unsigned>(result));
    return result;
}

long RunTask(const Request& request) {
    switch (request.header.dwCode) {
    case DeviceStateRequest:
        return ExecuteDeviceStateRequest(request.Text(), request.header.dwDataLen, request.header.dwParam);
    case ApplySchemeRequest:
        return ApplyCurrentScheme(request.Text());
    default:
        return 0;
    }
}

// Reads the waiting request. False when it cannot be run; the reason is logged.
bool ReadRequest(CInterProcessBoard& board, Request* request) {
    if (board.Read(0, &request->header, sizeof(request->header)) != S_OK) {
        CZORABase::DBGOUT(L"Reading header field failed in ZoraWorker.\n");
        return false;
    }
    if (request->header.dwCode == QuitRequest) return true;
    if (request->header.dwDataLen >= kIpbMaxDataLen) {
        CZORABase::DBGOUT(L"Extra data length is beyond expectation in ZoraWorker.\n");
        return false;
    }
    if (board.Read(kIpbDataOffset, request->data, static_cast<long>(request->header.dwDataLen)) != S_OK) {
        CZORABase::DBGOUT(L"Reading extra data failed in ZoraWorker.\n");
        return false;
    }
    return true;
}

// The answer is on its board before its event rises, and the request event is
// lowered before that: the next wait then blocks until the next client raises it.
void Answer(CInterProcessBoard& requestBoard, CInterProcessBoard& answerBoard, uint32_t status, long result) {
    IpbDataHeader answer{status, static_cast<uint32_t>(result), 0};
    answerBoard.Paste(0, &answer, sizeof(answer));
    requestBoard.Flag(1);
    answerBoard.Flag(0);
}

// Serves one raised request. False when it was a quit request.
bool ServeOne(CInterProcessBoard& requestBoard, CInterProcessBoard& answerBoard, long* lastResult) {
    Request request;
    std::memset(&request, 0, sizeof(request));
    if (!ReadRequest(requestBoard, &request)) {
        Answer(requestBoard, answerBoard, FailureNotice, 0);
        return true;
    }
    if (request.header.dwCode == QuitRequest) {
        requestBoard.Flag(1);
        return false;
    }
    CZORABase::DBGOUT(L"A new task %d has been got, go...\n", static_cast<int>(request.header.dwCode));
    *lastResult = RunTask(request);
    CZORABase::DBGOUT(L"Excuting %d finished with result %d in ZoraWorker.\n", static_cast<int>(request.header.dwCode),
                      static_cast<int>(*lastResult));
    Answer(requestBoard, answerBoard, AnswerStatus, *lastResult);
    return true;
}

void Serve(CInterProcessBoard& requestBoard, CInterProcessBoard& answerBoard) {
    CZORABase::DBGOUT(L"ZoraWorker is waiting for customers now...\n");
    long lastResult = 0;
    while (requestBoard.IsDataAvailble(INFINITE)) {
        if (!ServeOne(requestBoard, answerBoard, &lastResult)) return;
    }
}
}  // namespace

DWORD WINAPI ZoraWorker(LPVOID /*module*/) {
    CZORABase::DBGOUT(L"ZoraWorkerThread: Entered...");
    CInterProcessBoard requestBoard, answerBoard;
    long hr = requestBoard.Reset(kIpbRequestBoard, kIpbBoardSize, 1, kIpbBoardIndex);
    if (hr != S_OK) {
        CZORABase::DBGOUT(L"Failed in open IPB board for parameters with %X.", static_cast<unsigned>(hr));
    } else if ((hr = answerBoard.Reset(kIpbAnswerBoard, kIpbBoardSize, 1, kIpbBoardIndex)) != S_OK) {
        CZORABase::DBGOUT(L"Failed in open IPB board for results with %X.", static_cast<unsigned>(hr));
    } else {
        Serve(requestBoard, answerBoard);
    }
    CZORABase::DBGOUT(L"ZoraWorkerThread: Leaving.");
    return 0;
}
