#pragma once
#include <windows.h>

// The service's side of the request channel: creates the two boards, then serves
// one request at a time until a quit request arrives or a wait fails. Started once
// with CreateThread; the argument is not used.
DWORD WINAPI ZoraWorker(LPVOID module);
