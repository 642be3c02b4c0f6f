#pragma once
#include <windows.h>

// The service's worker thread: serves the request channel (RequestServer.h) with the
// service's tasks until the service stops it.
struct ZoraWorkerContext {
    HANDLE stop;     // signalled by the service to end the worker
    HANDLE ready;    // signalled by the worker once it serves, or as it fails to start
    DWORD error;     // why the worker ended or could not start; ERROR_SUCCESS when stopped
};

// Started with CreateThread, the argument a ZoraWorkerContext that outlives the thread.
// The thread's exit code is the context's error.
DWORD WINAPI ZoraWorker(LPVOID context);
