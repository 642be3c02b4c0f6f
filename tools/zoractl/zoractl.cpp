// zoractl: the suite's command-line front end.
//   zoractl [--trace] where                      where the library and its configuration are
//   zoractl [--trace] call CODE [DATA [PARAM [TIMEOUT_MS]]]   send one request to the service
//   zoractl [--trace] devices                    the device manager's list with status
//   zoractl [--trace] device enable|disable INDEX   switch one (through the service unless
//                                                DmOptions is 0)
//   zoractl device get NAME | set NAME 0|1       a device a scheme variable switches, by name
//   zoractl battery                              the batteries (see BatteryCommands.cpp)
//   zoractl event power|logon|connect|resume     the service control that stands for a
//                                                power-source change, a session logon or a
//                                                resume on the virtual notebook
//   zoractl apply [--json]                       the service applies the user's current scheme
//   zoractl status [--json]                      the scheme's values beside the machine's
//                                                (see StatusCommands.cpp)
//   zoractl scheme ...                           the user's power schemes (see SchemeCommands.cpp)
//   zoractl vnb ...                              the virtual notebook (see VnbCommands.cpp)
// --trace shows the library's diagnostic output on stderr (it appears only when the
// configuration's "Debug" switch is on; the board's own messages always appear).
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "DebugCapture.h"
#include "IpbProtocol.h"
#include "WinHandles.h"
#include "ZORACfg.h"
#include "ZoractlCommands.h"

namespace {
int Usage() {
    fwprintf(stderr,
             L"usage: zoractl [--trace] where\n"
             L"       zoractl [--trace] call CODE [DATA [PARAM [TIMEOUT_MS]]]\n"
             L"       zoractl [--trace] devices\n"
             L"       zoractl [--trace] device enable|disable INDEX | get NAME | set NAME 0|1\n"
             L"       zoractl battery\n"
             L"       zoractl event power|logon|connect|resume\n"
             L"       zoractl apply [--json] | status [--json]\n"
             L"       zoractl scheme list | show N | create | delete | activate | get | set | export | import ...\n"
             L"       zoractl vnb on [MACHINE_FILE] | off | reset | devices | power [ac|battery [PERCENT]]\n"
             L"       zoractl vnb set-device INSTANCE_ID STATUS PROBLEM | present INSTANCE_ID 0|1\n"
             L"       zoractl vnb battery [SLOT charge PERCENT | SLOT rate CHARGE_MW DISCHARGE_MW | SLOT present 0|1]\n"
             L"       zoractl vnb sleep [ac|battery] | lan\n"
             L"       zoractl hub list | on NAME | off NAME | cstate STATE | name BUS DEVICE FUNCTION\n"
             L"       zoractl hub renumber BUS DEVICE FUNCTION OBJECT\n"
             L"       zoractl usb list | on PORT | off PORT | attach HCD PORT [DESCRIPTION] | detach HCD PORT\n"
             L"       zoractl cpu show | set LEVEL (1-100)\n"
             L"       zoractl ec show | backlight LEVEL | wifi 0|1 | bluetooth 0|1 | display | battery\n"
             L"       zoractl ec battery-row ROW VALUE\n"
             L"       zoractl gfx [show] | level LEVEL | saving off|STRENGTH | frequency on|off\n"
             L"       zoractl gfx brightness 0|1 0|1\n"
             L"       zoractl lan [show] | speed N (0-5) | level BITS\n");
    return 2;
}
}  // namespace

int ParseNumber(const wchar_t* text, unsigned long* out) {
    wchar_t* end = nullptr;
    unsigned long value = wcstoul(text, &end, 0);
    if (!*text || *end) return 0;
    *out = value;
    return 1;
}

bool ServiceServes() {
    UniqueHandle lock(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kIpbServerLockName));
    if (!lock) return false;
    DWORD wait = WaitForSingleObject(lock.get(), 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
        ReleaseMutex(lock.get());
        return false;
    }
    return wait == WAIT_TIMEOUT;
}

CallOutcome ClassifyCall(long result, ULONGLONG elapsedMs, unsigned long timeoutMs) {
    if (result >= 0) return CallOutcome::Answered;
    if (result != E_FAIL) return CallOutcome::TaskFailed;
    if (!ServiceServes()) return CallOutcome::NoService;
    return elapsedMs >= timeoutMs ? CallOutcome::NoAnswer : CallOutcome::TaskFailed;
}

namespace {

int Where() {
    CZORACfg cfg;
    wchar_t folder[260];
    wprintf(L"library folder : %ls\n", cfg.GetDllPath(folder, 260) ? folder : L"(unknown)");
    wprintf(L"home folder    : %ls\n", cfg.GetHomePath(folder, 260) ? folder : L"(unknown)");
    int found = cfg.Initialize(L"ZORACfg.ini");
    wprintf(L"ZORACfg.ini    : %ls (%ls)\n", cfg.GetFullPath(), found ? L"found" : L"not found");
    wprintf(L"Debug switch   : %d\n", cfg.GetInt(L"ZORACfg", L"Debug", 0));
    wprintf(L"TimeoutMS      : %d\n", cfg.GetInt(L"ZoraDevMgr", L"TimeoutMS", 1000));
    CZORAProfile profile;
    wprintf(L"profile folder : %ls\n", profile.GetHomePath(folder, 260) ? folder : L"(unknown)");
    return found ? 0 : 1;
}

int Call(int argc, wchar_t** argv) {
    unsigned long code = 0, param = 0, timeout = 1000;
    if (argc < 1 || !ParseNumber(argv[0], &code)) return 2;
    const wchar_t* data = argc > 1 ? argv[1] : L"";
    if ((argc > 2 && !ParseNumber(argv[2], &param)) || (argc > 3 && !ParseNumber(argv[3], &timeout)))
        return 2;
    CZORACfg client;
    IpbDataHeader scratch{};
    ULONGLONG started = GetTickCount64();
    long result = client.ServiceCall(code, data, param, &scratch, timeout);
    switch (ClassifyCall(result, GetTickCount64() - started, timeout)) {
    case CallOutcome::NoService:
        wprintf(L"request %lu failed: the service is not running (nothing serves the request channel)\n", code);
        return 1;
    case CallOutcome::NoAnswer:
        wprintf(L"request %lu failed: no answer from the service within %lu ms\n", code, timeout);
        return 1;
    default:
        break;
    }
    wprintf(L"request %lu answered: result 0x%08lX (%ld)\n", code, static_cast<unsigned long>(result), result);
    // A task the service ran and failed is a failure of the command too, as it always was.
    return result < 0 ? 1 : 0;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    int i = 1;
    if (i < argc && wcscmp(argv[i], L"--trace") == 0) {
        DebugCapture::Start(stderr);
        ++i;
    }
    if (i >= argc) return Usage();
    if (wcscmp(argv[i], L"where") == 0) return Where();
    // Its own usage line on a wrong argument, with status 2.
    if (wcscmp(argv[i], L"scheme") == 0) return SchemeCommand(argc - i - 1, argv + i + 1);
    int rest = argc - i - 1;
    wchar_t** args = argv + i + 1;
    int rc = 2;
    if (wcscmp(argv[i], L"call") == 0) rc = Call(rest, args);
    else if (wcscmp(argv[i], L"devices") == 0) rc = ListDevices(rest, args);
    else if (wcscmp(argv[i], L"device") == 0) rc = SwitchDevice(rest, args);
    else if (wcscmp(argv[i], L"battery") == 0) rc = ShowBatteries(rest, args);
    else if (wcscmp(argv[i], L"event") == 0) rc = SendEvent(rest, args);
    else if (wcscmp(argv[i], L"vnb") == 0) rc = VnbCommand(rest, args);
    else if (wcscmp(argv[i], L"hub") == 0) rc = HubCommand(rest, args);
    else if (wcscmp(argv[i], L"usb") == 0) rc = UsbCommand(rest, args);
    else if (wcscmp(argv[i], L"cpu") == 0) rc = CpuCommand(rest, args);
    else if (wcscmp(argv[i], L"ec") == 0) rc = EcCommand(rest, args);
    else if (wcscmp(argv[i], L"gfx") == 0) rc = GfxCommand(rest, args);
    else if (wcscmp(argv[i], L"lan") == 0) rc = LanCommand(rest, args);
    else if (wcscmp(argv[i], L"apply") == 0) rc = ApplyCommand(rest, args);
    else if (wcscmp(argv[i], L"status") == 0) rc = StatusCommand(rest, args);
    return rc == 2 ? Usage() : rc;
}
