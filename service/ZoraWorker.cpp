#include "ZoraWorker.h"

#include <cfgmgr32.h>

#include <cwchar>

#include "DevMgr.h"
#include "RequestFolder.h"
#include "RequestServer.h"
#include "SchemeApply.h"
#include "ZORABase.h"

namespace {
// A device instance ID is at most this long (terminator excluded).
constexpr size_t kMaxInstanceIdChars = MAX_DEVICE_ID_LEN;
// The root of the device tree, which no request may switch.
constexpr wchar_t kDeviceTreeRoot[] = L"HTREE\\ROOT\\0";

// Task 2 switches one device on or off: any other action, an empty or over-long
// instance ID and the root of the device tree are refused before anything changes.
long ExecuteDeviceStateRequest(const wchar_t* instanceId, uint32_t action) {
    size_t length = wcsnlen(instanceId, kMaxInstanceIdChars + 1);
    if ((action != CDevMgr::Enable && action != CDevMgr::Disable) || length == 0 || length > kMaxInstanceIdChars ||
        _wcsicmp(instanceId, kDeviceTreeRoot) == 0) {
        CZORABase::DBGOUT(L"ZoraWorker refused state change for %s to %d", instanceId, static_cast<int>(action));
        return E_INVALIDARG;
    }
    CZORABase::DBGOUT(L"ZoraWorker going to execute state change for %s to %d", instanceId, static_cast<int>(action));
    // In the order of the applications: a switch never runs beside an application's
    // steps (the network adapter's provider among them).
    struct StateChange {
        const wchar_t* instanceId;
        uint32_t action;
    } change{instanceId, action};
    long result = RunInOrder(
        [](const void* argument) {
            auto* c = static_cast<const StateChange*>(argument);
            return CDevMgr::ExecStateChange(c->instanceId, c->action);
        },
        &change);
    CZORABase::DBGOUT(L"ZoraWorker executed state change for %s to %d got %x", instanceId, static_cast<int>(action),
                      static_cast<unsigned>(result));
    return result;
}

TaskAnswer RunTask(const IpbDataHeader& header, const wchar_t* data, void*) {
    CZORABase::DBGOUT(L"A new task %d has been got, go...\n", static_cast<int>(header.dwCode));
    long result = 0;
    switch (header.dwCode) {
    case DeviceStateRequest:
        result = ExecuteDeviceStateRequest(data, header.dwParam);
        break;
    case ApplySchemeRequest:
        // Only the console user's own folder, checked before any file is opened.
        result = CheckRequestedSchemeFolder(data);
        if (result == S_OK) result = ApplyCurrentScheme(data);
        break;
    default:
        break;
    }
    CZORABase::DBGOUT(L"Excuting %d finished with result %d in ZoraWorker.\n", static_cast<int>(header.dwCode),
                      static_cast<int>(result));
    return TaskAnswer{AnswerStatus, result};
}
}  // namespace

DWORD WINAPI ZoraWorker(LPVOID argument) {
    auto* context = static_cast<ZoraWorkerContext*>(argument);
    CZORABase::DBGOUT(L"ZoraWorkerThread: Entered...");
    RequestServer server;
    context->error = server.Open();
    SetEvent(context->ready);
    if (context->error == ERROR_SUCCESS) context->error = server.Serve(context->stop, RunTask, nullptr);
    CZORABase::DBGOUT(L"ZoraWorkerThread: Leaving.");
    return context->error;
}
