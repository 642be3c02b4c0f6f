#include "ServiceEvents.h"

#include <shlobj.h>
#include <wtsapi32.h>

#include <cwchar>

#include "RequestFolder.h"
#include "SchemeApply.h"
#include "ServiceModule.h"
#include "WinHandles.h"
#include "ZORABase.h"
#include "ZoraSystemApi.h"

namespace {
// What the control handler answers for every event it does not act on.
constexpr DWORD kEventNotHandled = ERROR_CALL_NOT_IMPLEMENTED;  // 120

BYTE CurrentPowerSource() {
    SYSTEM_POWER_STATUS power{};
    if (!ZoraSys()->GetSystemPowerStatus(&power)) return 255;
    return power.ACLineStatus;
}

// A change of the power source applies the console user's scheme for the new source;
// a resume applies it whatever the source, as the machine lost what was set (and the
// source may have changed while it slept).
DWORD OnPowerEvent(DWORD eventType) {
    bool resume = eventType == PBT_APMRESUMEAUTOMATIC;
    if (eventType != PBT_APMPOWERSTATUSCHANGE && !resume) return 0;
    DWORD session = WTSGetActiveConsoleSessionId();
    if (session == 0xFFFFFFFF) return 0;
    HANDLE raw = nullptr;
    if (!WTSQueryUserToken(session, &raw)) return 0;
    UniqueHandle token(raw);
    wchar_t folder[MAX_PATH] = {};
    if (!UserSchemeFolder(token.get(), folder)) return 0;
    BYTE source = CurrentPowerSource();
    if (!resume && source == _Module.LastPowerSource()) return 0;
    _Module.LogEvent(resume ? L"Resumed, applying the scheme again...." : L"Power supplier changed....");
    _Module.SetLastPowerSource(source);
    ApplyCurrentSchemeInBackground(folder);
    return 0;
}

DWORD OnSessionChange(DWORD eventType, void* eventData) {
    if (eventType != WTS_SESSION_LOGON && eventType != WTS_CONSOLE_CONNECT) return kEventNotHandled;
    if (!eventData) {
        _Module.LogEvent(L"Session changed, but cannot get session id.");
        return kEventNotHandled;
    }
    DWORD session = static_cast<WTSSESSION_NOTIFICATION*>(eventData)->dwSessionId;
    _Module.LogEvent(L"Session changed, new sessionid is %d.", static_cast<int>(session));
    HANDLE raw = nullptr;
    if (!WTSQueryUserToken(session, &raw)) {
        _Module.LogEvent(L"Cannot get user token.%d", static_cast<int>(GetLastError()));
        return kEventNotHandled;
    }
    UniqueHandle token(raw);
    wchar_t folder[MAX_PATH] = {};
    if (!UserSchemeFolder(token.get(), folder)) return kEventNotHandled;
    _Module.SetLastPowerSource(CurrentPowerSource());
    ApplyCurrentSchemeInBackground(folder);
    _Module.LogEvent(L"applied the new scheme");
    return kEventNotHandled;
}
}  // namespace

DWORD OnServiceEvent(DWORD control, DWORD eventType, void* eventData) {
    CZORABase::DBGOUT(L"ZORASrvc event %u type %u\n", static_cast<unsigned>(control), static_cast<unsigned>(eventType));
    switch (control) {
    case SERVICE_CONTROL_POWEREVENT:
        return OnPowerEvent(eventType);
    case SERVICE_CONTROL_SESSIONCHANGE:
        return OnSessionChange(eventType, eventData);
    default:
        return kEventNotHandled;
    }
}
