#include "ServiceEvents.h"

#include <wtsapi32.h>

#include "ServiceModule.h"
#include "ZORABase.h"

namespace {
// What the control handler answers for every event it does not act on.
constexpr DWORD kEventNotHandled = ERROR_CALL_NOT_IMPLEMENTED;  // 120

DWORD OnSessionChange(DWORD eventType, void* eventData) {
    if (eventType != WTS_SESSION_LOGON && eventType != WTS_CONSOLE_CONNECT) return kEventNotHandled;
    if (!eventData) {
        _Module.LogEvent(L"Session changed, but cannot get session id.");
        return kEventNotHandled;
    }
    return kEventNotHandled;
}
}  // namespace

DWORD OnServiceEvent(DWORD control, DWORD eventType, void* eventData) {
    CZORABase::DBGOUT(L"ZORASrvc event %u type %u\n", static_cast<unsigned>(control), static_cast<unsigned>(eventType));
    switch (control) {
    case SERVICE_CONTROL_POWEREVENT:
        return 0;
    case SERVICE_CONTROL_SESSIONCHANGE:
        return OnSessionChange(eventType, eventData);
    default:
        return kEventNotHandled;
    }
}
