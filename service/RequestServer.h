#pragma once
// The serving side of the request channel, apart from what the tasks do: both boards,
// one request at a time, each consumed as it is read and answered once, the client's
// token echoed with the answer, and the server lock held while it serves.
// The service's worker serves with it; so does the tests' stand-in for the service.
#include <windows.h>

#include <cstdint>

#include "InterProcessBoard.h"
#include "IpbProtocol.h"

// What a task makes of a request: the answer's status and result. A status of
// kLeaveUnanswered drops the request without an answer (the client times out).
struct TaskAnswer {
    uint32_t status;
    long result;
};
constexpr uint32_t kLeaveUnanswered = 0xFFFFFFFF;

// A task: the request's header and its data, always terminated.
typedef TaskAnswer (*RequestTask)(const IpbDataHeader& header, const wchar_t* data, void* context);

class RequestServer {
public:
    RequestServer() = default;
    RequestServer(const RequestServer&) = delete;
    RequestServer& operator=(const RequestServer&) = delete;
    ~RequestServer();

    // Creates both boards and takes the server lock. A board object of another kind
    // under one of the boards' names, or a data area smaller than a board, fails it, as
    // does a server lock another server holds: ERROR_SUCCESS or the error. The thread
    // that opens is the one that serves and that destroys the server.
    DWORD Open();
    // Serves until `stop` is signalled (ERROR_SUCCESS), or until a wait fails (the error).
    DWORD Serve(HANDLE stop, RequestTask task, void* context);

private:
    void ServeOne(RequestTask task, void* context);
    void Answer(uint32_t status, long result, const IpbToken& token);
    void PasteSurely(CInterProcessBoard& board, long offset, const void* data, long size);

    CInterProcessBoard m_request;
    CInterProcessBoard m_answer;
    HANDLE m_serverLock = nullptr;
};
