#pragma once
// Commands of zoractl. Each returns the process exit code; 2 means "usage".
#include <windows.h>

int ParseNumber(const wchar_t* text, unsigned long* out);

// Whether the service serves the request channel now (it holds the server lock while it
// does).
bool ServiceServes();
// What a service call's result means. The client's own failures and a task that fails
// with E_FAIL look alike to the caller; whether anything serves, and whether the call
// ran out of time, tell them apart. A quick E_FAIL from a serving service is the task's
// (or a refusal of the request).
enum class CallOutcome { Answered, TaskFailed, NoService, NoAnswer };
CallOutcome ClassifyCall(long result, ULONGLONG elapsedMs, unsigned long timeoutMs);

// An export of the virtual notebook module ZoraVnb.dll beside zoractl's ZORADLL; null,
// after saying so, when the module is not installed there.
FARPROC VnbProc(const char* name);
template <class F>
F VnbExport(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(VnbProc(name)));
}

int ListDevices(int argc, wchar_t** argv);
int SwitchDevice(int argc, wchar_t** argv);
int ShowBatteries(int argc, wchar_t** argv);
int SendEvent(int argc, wchar_t** argv);
int VnbCommand(int argc, wchar_t** argv);
// The user's power schemes; wrong arguments print its usage line and give 2.
int SchemeCommand(int argc, wchar_t** argv);
// The platform through the hardware agents; each prints its own usage on stdout.
int HubCommand(int argc, wchar_t** argv);   // I/O hub functions, C-states, PCI renumbering
int UsbCommand(int argc, wchar_t** argv);   // USB ports, their devices, attach/detach
int CpuCommand(int argc, wchar_t** argv);   // processor level
int EcCommand(int argc, wchar_t** argv);    // backlight, radios, display mode, battery rows
int GfxCommand(int argc, wchar_t** argv);   // display power saving
int LanCommand(int argc, wchar_t** argv);
// The service's main job: apply the user's scheme now; the machine beside the scheme.
int ApplyCommand(int argc, wchar_t** argv);
int StatusCommand(int argc, wchar_t** argv);   // the wired network adapter's link speed
