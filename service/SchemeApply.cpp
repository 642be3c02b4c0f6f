// Applying a user's current scheme: the processor, the backlight, the graphics helper,
// every device the scheme switches (radios, I/O hub functions, USB ports, or devices
// routed through the device manager) and the network adapter, each with the value the
// scheme holds for the power source of the moment.
#include "SchemeApply.h"

#include <objbase.h>

#include <condition_variable>
#include <cwchar>
#include <cwctype>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "CatalogueCheck.h"
#include "CpuAgent.h"
#include "DevMgr.h"
#include "EcAgent.h"
#include "GraphicsHelper.h"
#include "HwHubra.h"
#include "HwUSBPorts.h"
#include "LanAgent.h"
#include "WinHandles.h"
#include "WindowsVersion.h"
#include "ZORACfg.h"
#include "ZoraPowerVariables.h"
#include "ZoraSchemeFile.h"
#include "ZoraSystemApi.h"

namespace {
using namespace zora_vars;

constexpr int kNotSet = -1;
constexpr DWORD kMinRecheckInterval = 1000;

bool IsHubFunction(int number) { return number >= HDAudio && number <= ThermalThrottle; }
bool IsUsbPort(int number) { return number >= USBPort0 && number <= USBPort11; }

// The scheme file in the user's folder, read only: the service never creates the
// folder or the file a request names. A section is read whole, at once: one profile
// call instead of one per variable. Values are read as the library reads them
// (zora_scheme_file::StoredValue): a text that is no number is not set.
class SchemeFileReader {
public:
    bool Open(const wchar_t* folder, const wchar_t* fileName) {
        int n = _snwprintf(m_path, MAX_PATH, L"%s%s%s", folder,
                           folder[0] && folder[wcslen(folder) - 1] == L'\\' ? L"" : L"\\", fileName);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (n <= 0 || n >= MAX_PATH || !GetFileAttributesExW(m_path, GetFileExInfoStandard, &data)) return false;
        // Longer than any scheme file: corrupt, and not worth the profile functions' time.
        if (data.nFileSizeHigh || data.nFileSizeLow > zora_scheme_file::kMaxFileBytes) {
            CZORABase::DBGOUT(L"The scheme file %s is longer than any scheme file: not read.\n", m_path);
            return false;
        }
        return true;
    }
    int Int(const wchar_t* section, const wchar_t* key, int fallback) const {
        wchar_t text[64] = {};
        DWORD n = GetPrivateProfileStringW(section, key, L"", text, 64, m_path);
        if (n == 0) return fallback;
        return n >= 63 ? -1 : zora_scheme_file::StoredValue(text);
    }
    // The section's integer values by key (keys in lower case).
    std::map<std::wstring, int> Section(const wchar_t* section) const {
        std::map<std::wstring, int> values;
        std::vector<wchar_t> text(32768);
        DWORD n = GetPrivateProfileSectionW(section, text.data(), static_cast<DWORD>(text.size()), m_path);
        for (const wchar_t* line = text.data(); line < text.data() + n && *line; line += wcslen(line) + 1) {
            const wchar_t* eq = wcschr(line, L'=');
            if (!eq) continue;
            std::wstring key(line, eq);
            while (!key.empty() && iswspace(key.back())) key.pop_back();
            for (wchar_t& c : key) c = towlower(c);
            values[key] = zora_scheme_file::StoredValue(eq + 1);
        }
        return values;
    }

private:
    wchar_t m_path[MAX_PATH] = {};
};

int ValueOf(const std::map<std::wstring, int>& section, const wchar_t* key) {
    std::wstring lower(key);
    for (wchar_t& c : lower) c = towlower(c);
    auto found = section.find(lower);
    return found == section.end() ? -1 : found->second;
}

// A folder a request may name: an absolute path (drive or UNC) of a folder that exists.
bool IsExistingAbsoluteFolder(const wchar_t* folder) {
    if (!folder) return false;
    size_t length = wcsnlen(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    bool drive = length >= 3 && iswalpha(folder[0]) && folder[1] == L':' && folder[2] == L'\\';
    bool unc = length >= 3 && folder[0] == L'\\' && folder[1] == L'\\' && folder[2] != L'\\';
    if (!drive && !unc) return false;
    DWORD attributes = GetFileAttributesW(folder);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// ---- one application at a time, in the order they began ----

DWORD Remaining(ULONGLONG deadline) {
    ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// How long the network step may keep an application waiting for the adapter's provider.
// A provider that has not answered by then leaves the application (which reports
// E_FAIL); the adapter still gets the latest settings once the provider answers.
constexpr DWORD kNetworkWaitMs = 5000;
// How long an application waits for the previous processor re-check thread to end.
constexpr DWORD kRecheckEndMs = 3000;

// The order of everything that writes the hardware: applications (by requests and by
// events) and the device requests of the request channel. Each takes its turn when the
// one before has ended, so the last to begin writes last. While an application runs,
// events leave one application pending, for the latest folder: a burst of events holds
// one running and one pending application, never more. Once the service stops, nothing
// waiting takes its turn and the pending application is dropped.
class ApplyOrder {
public:
    // Blocks until everything that began earlier has ended; false (without the turn)
    // once the service stops.
    bool Enter() {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_stopping) return false;
        unsigned long ticket = m_next++;
        m_turn.wait(lock, [&] { return m_serving == ticket || m_stopping; });
        // A turn given up at a stop is never served: nothing takes a turn after it.
        if (m_stopping) return false;
        m_running = true;
        return true;
    }
    void Leave() {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_serving;
        m_running = false;
        m_turn.notify_all();
    }

    // An event's application for `folder`: pending until the event thread takes it,
    // replacing one that is pending already. The event thread runs while applications
    // are pending, and ends when none is. False once the service stops or when the
    // event thread cannot be started.
    bool Post(const wchar_t* folder) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping) return false;
        if (!m_eventThreadRuns) {
            HANDLE thread = CreateThread(nullptr, 0, EventThread, this, 0, nullptr);
            if (!thread) return false;
            // The previous thread has taken its last application and is ending.
            if (m_eventThread) CloseHandle(m_eventThread);
            m_eventThread = thread;
            m_eventThreadRuns = true;
        }
        wcsncpy(m_pending, folder, MAX_PATH - 1);
        m_pending[MAX_PATH - 1] = L'\0';
        m_hasPending = true;
        m_turn.notify_all();
        return true;
    }

    // Raised once the service stops: the wait for the graphics helper ends on it.
    HANDLE StopEvent() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_stopEvent) m_stopEvent = CreateEventW(nullptr, TRUE, m_stopping, nullptr);
        return m_stopEvent;
    }
    // No turn is given from now on, and the pending application is dropped.
    void BeginStop() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_hasPending = false;
        if (m_stopEvent) SetEvent(m_stopEvent);
        m_turn.notify_all();
    }
    // Waits until the application that has its turn has ended, and the event thread with
    // it, at most until `deadline` (GetTickCount64).
    bool WaitEnded(ULONGLONG deadline) {
        HANDLE eventThread = nullptr;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_turn.wait_for(lock, std::chrono::milliseconds(Remaining(deadline)), [&] { return !m_running; }))
                return false;
            eventThread = m_eventThread;
        }
        return !eventThread || WaitForSingleObject(eventThread, Remaining(deadline)) == WAIT_OBJECT_0;
    }

private:
    // Applies the pending applications, one after the other, until none is left.
    static DWORD WINAPI EventThread(LPVOID argument) {
        auto* order = static_cast<ApplyOrder*>(argument);
        wchar_t folder[MAX_PATH];
        while (order->TakePending(folder)) ApplyCurrentScheme(folder);
        return 0;
    }
    bool TakePending(wchar_t (&folder)[MAX_PATH]) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping || !m_hasPending) {
            m_eventThreadRuns = false;
            return false;
        }
        wcscpy(folder, m_pending);
        m_hasPending = false;
        return true;
    }

    std::mutex m_mutex;
    std::condition_variable m_turn;
    unsigned long m_next = 0, m_serving = 0;
    bool m_running = false;
    bool m_stopping = false;
    bool m_hasPending = false;
    wchar_t m_pending[MAX_PATH] = {};
    HANDLE m_eventThread = nullptr;  // the last event thread started
    bool m_eventThreadRuns = false;
    HANDLE m_stopEvent = nullptr;
};
ApplyOrder g_order;

class OrderTurn {
public:
    OrderTurn() : m_entered(g_order.Enter()) {}
    ~OrderTurn() {
        if (m_entered) g_order.Leave();
    }
    OrderTurn(const OrderTurn&) = delete;
    OrderTurn& operator=(const OrderTurn&) = delete;
    bool Entered() const { return m_entered; }

private:
    bool m_entered;
};

// ---- the processor re-check ----

// Keeps applying the processor level a scheme set, against anything that changes it
// behind the service's back. Written by applications only (one at a time) and read by
// the thread it started.
struct RecheckState {
    HANDLE stop = nullptr;    // manual reset; raised to end the thread
    HANDLE thread = nullptr;  // the last thread started
    int enabled = 0;          // "CheckCpuTimes", a switch
    DWORD intervalMs = kMinRecheckInterval;
    int level = kNotSet;
};
RecheckState g_recheck;

DWORD WINAPI CpuRecheckThread(LPVOID) {
    if (!g_recheck.stop || g_recheck.intervalMs == 0) return 0;
    CCpuAgent agent;
    if (!agent.Initialize()) return 0;
    for (;;) {
        if (WaitForSingleObject(g_recheck.stop, g_recheck.intervalMs) != WAIT_TIMEOUT) return 0;
        if (g_recheck.enabled == 0) return 0;
        if (agent.SetEblLevel(g_recheck.level) == -1) return 0;
    }
}

// Raises the stop event and waits (at most waitMs) for the last re-check thread to end,
// so that two never run at once: false while it still runs, and then no other starts.
bool EndRecheckThread(DWORD waitMs) {
    if (!g_recheck.thread) return true;
    if (WaitForSingleObject(g_recheck.thread, 0) == WAIT_TIMEOUT) {
        SetEvent(g_recheck.stop);
        if (WaitForSingleObject(g_recheck.thread, waitMs) == WAIT_TIMEOUT) return false;
    }
    CloseHandle(g_recheck.thread);
    g_recheck.thread = nullptr;
    return true;
}

// ---- the network adapter ----

// The adapter's settings as one application asks for them.
struct LanRequest {
    int speed;
    int linkStep;
};

// The network step of the applications, on a thread of its own: the adapter's provider
// is called from one thread only, one request at a time, so the last application to
// post writes the adapter last. An application waits for its request (at most
// kNetworkWaitMs, or until the service stops); a request not yet taken is replaced by
// a later one. The thread starts with the first request and ends at the stop, after
// the request it has taken: a provider that never answers holds neither the
// applications nor the stop.
class NetworkStep {
public:
    // True once the request is done; false when the thread cannot start, or when the
    // provider has not answered within the bound or before the stop.
    bool Apply(const LanRequest& request) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_stopping) return false;
        if (!m_thread) {
            m_thread = CreateThread(nullptr, 0, Thread, this, 0, nullptr);
            if (!m_thread) return false;
        }
        m_request = request;
        m_hasRequest = true;
        unsigned long posted = ++m_posted;
        m_changed.notify_all();
        m_changed.wait_for(lock, std::chrono::milliseconds(kNetworkWaitMs),
                           [&] { return m_done >= posted || m_stopping; });
        return m_done >= posted;
    }

    // No request is taken from now on: the one taken is carried out, then the thread
    // ends; a waiting application returns at once.
    void BeginStop() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_hasRequest = false;
        m_changed.notify_all();
    }
    // True once the thread has ended (or never started), at most until `deadline`.
    bool WaitEnded(ULONGLONG deadline) {
        HANDLE thread = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            thread = m_thread;
        }
        return !thread || WaitForSingleObject(thread, Remaining(deadline)) == WAIT_OBJECT_0;
    }

private:
    static DWORD WINAPI Thread(LPVOID argument) {
        auto* step = static_cast<NetworkStep*>(argument);
        // The thread's apartment lasts as long as the thread, not one request.
        HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        LanRequest request{};
        unsigned long taken = 0;
        while (step->Take(&request, &taken)) {
            step->Write(request);
            std::lock_guard<std::mutex> lock(step->m_mutex);
            step->m_done = taken;
            step->m_changed.notify_all();
        }
        if (SUCCEEDED(com)) CoUninitialize();
        return 0;
    }
    bool Take(LanRequest* request, unsigned long* taken) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_hasRequest || m_stopping; });
        if (!m_hasRequest) return false;
        *request = m_request;
        *taken = m_posted;
        m_hasRequest = false;
        return true;
    }
    // The speed into the driver key, the power-saving bits through the provider's
    // transaction, then a restart of the adapter when the speed changed: the adapter
    // reads its speed only when it starts, and nothing else starts it.
    void Write(const LanRequest& request) {
        CLanAgent agent;
        int initialized = agent.Initialize();
        if (request.speed != kNotSet) {
            unsigned long before = agent.GetLanSpeed();
            if (agent.SetLanSpeed(request.speed) == static_cast<unsigned long>(request.speed) &&
                before != static_cast<unsigned long>(request.speed))
                m_speedToRestart = true;
        }
        if (request.linkStep != kNotSet && initialized) agent.SetEblLevel(request.linkStep);
        // A speed written but not yet put into effect (its restart failed) is restarted
        // by the next request.
        if (m_speedToRestart && agent.ApplySettings() != CLanAgent::kFailed) m_speedToRestart = false;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    HANDLE m_thread = nullptr;
    LanRequest m_request{};
    bool m_hasRequest = false;
    bool m_stopping = false;
    unsigned long m_posted = 0, m_done = 0;
    bool m_speedToRestart = false;  // the thread's own
};
NetworkStep g_network;

// ---- the devices ----

// The power-setting file's route for a device: the device manager when "UseDrvMgr" is 1
// and "DrvDesc" names the device.
bool DeviceManagerRoute(CZORACfg& settings, const wchar_t* name, wchar_t (&description)[260]) {
    if (settings.GetInt(name, L"UseDrvMgr", 0) != 1) return false;
    settings.GetString(name, L"DrvDesc", L"", description, 260);
    if (!description[0]) return false;
    OutputDebugStringW(description);
    return true;
}

class DeviceSwitches {
public:
    explicit DeviceSwitches(CEcAgent& ec) : m_ec(ec) {}
    // The device's own route; results are not used, as a device that cannot be set up
    // is skipped.
    void Switch(int number, int value) {
        if (number == BTStatus || number == Wifi) {
            if (m_ec.Setup() < 0) return;
            if (number == BTStatus)
                m_ec.SetBloothStatus(value);
            else
                m_ec.SetWifiStatus(value);
        } else if (IsHubFunction(number)) {
            if (!m_hubReady) m_hubReady = m_hub.Setup(1) >= 0 ? 1 : -1;
            if (m_hubReady > 0) m_hub.FunctionDisable(kNames[number], value);
        } else if (IsUsbPort(number)) {
            if (!m_portsReady) m_portsReady = m_ports.Setup(1) >= 0 ? 1 : -1;
            if (m_portsReady > 0) m_ports.PortDisable(number - USBPort0, value);
        }
    }

private:
    CEcAgent& m_ec;
    CHwHubra m_hub;
    CHwUSBPorts m_ports;
    int m_hubReady = 0, m_portsReady = 0;  // 0 not tried, 1 set up, -1 failed
};

long ApplyInTurn(const wchar_t* folder) {
    // A source that cannot be read is no source: neither half is applied, and the next
    // power event applies the one it finds.
    SYSTEM_POWER_STATUS power{};
    if (!ZoraSys()->GetSystemPowerStatus(&power)) {
        CZORABase::DBGOUT(L"The power source cannot be read (%lu): nothing is applied.", GetLastError());
        return E_FAIL;
    }
    BYTE source = power.ACLineStatus;

    if (!g_recheck.stop) {
        g_recheck.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!g_recheck.stop) {
            CZORABase::DBGOUT(L"cannot CreateEvent for %ld", static_cast<long>(GetLastError()));
            return E_FAIL;
        }
    }
    bool recheckEnded = EndRecheckThread(kRecheckEndMs);

    CZORACfg cfg, settings;
    cfg.Initialize(L"ZORACfg.ini");
    wchar_t name[256] = {};
    cfg.GetString(L"ZORACfg", L"PowerSetting", L"", name, 256);
    settings.Initialize(name);
    int useBacklightScheme = cfg.GetInt(L"ZORASrvc", L"UseBacklightScheme", 1);
    cfg.GetString(L"ZORACfg", L"PowerScheme", L"", name, 256);
    SchemeFileReader schemes;
    if (!schemes.Open(folder, name)) return E_FAIL;

    int current = schemes.Int(L"ZORACfg", L"CurrentScheme", kNotSet);
    if (current == kNotSet) return E_FAIL;
    wchar_t schemeSection[32];
    _snwprintf(schemeSection, 32, L"Scheme %d", current);
    schemeSection[31] = L'\0';
    const std::map<std::wstring, int> scheme = schemes.Section(schemeSection);
    const std::map<std::wstring, int> enforce = schemes.Section(L"EnforceSetting");
    auto value = [&](int number) { return ValueOf(scheme, kNames[number]); };
    int linkStep = HalfForSource(value(LinkStepOption), source);
    int cpuAdaptive = HalfForSource(value(CpuAdaptive), source);
    int cpuSpeed = HalfForSource(value(CpuSpeed), source);
    int backlight = HalfForSource(value(BacklightLevel), source);
    int vxps = value(VXPS);
    int lanSpeed = HalfForSource(value(LanSpeed), source);
    int lanSpeedVista = HalfForSource(value(LanSpeedVista), source);
    // A value the catalogue does not offer never reaches the hardware; the processor's,
    // the backlight's and the devices' are checked where they would be applied.
    CatalogueCheck catalogue(settings.GetFullPath());
    if (!catalogue.Allows(LinkStepOption, linkStep)) linkStep = kNotSet;
    if (!catalogue.Allows(LanSpeed, lanSpeed)) lanSpeed = kNotSet;
    if (!catalogue.Allows(LanSpeedVista, lanSpeedVista)) lanSpeedVista = kNotSet;
    if (!catalogue.Allows(VXPS, vxps)) vxps = kNotSet;

    DWORD major = 0;
    if (!WindowsMajorVersion(&major)) return E_FAIL;
    bool vista = major == 6;
    long result = 0;

    if (vista && cpuAdaptive == 0 && catalogue.Allows(CpuSpeed, cpuSpeed)) {
        CCpuAgent cpu;
        if (cpu.Initialize() && cpu.SetEblLevel(cpuSpeed) == -1) result = E_FAIL;
        g_recheck.enabled = cfg.GetInt(L"ZORASrvc", L"CheckCpuTimes", 10);
        int interval = cfg.GetInt(L"ZORASrvc", L"CheckCpuInterval", 1000);
        g_recheck.intervalMs = interval < static_cast<int>(kMinRecheckInterval) ? kMinRecheckInterval : interval;
        g_recheck.level = cpuSpeed;
        if (g_recheck.enabled != 0 && recheckEnded) {
            ResetEvent(g_recheck.stop);
            g_recheck.thread = CreateThread(nullptr, 0, CpuRecheckThread, nullptr, 0, nullptr);
        }
    }

    CEcAgent ec;
    if (backlight != kNotSet && !(vista && useBacklightScheme == 1) && catalogue.Allows(BacklightLevel, backlight) &&
        ec.Setup() >= 0)
        ec.SetBacklightLevel(backlight);

    CZORABase::DBGOUT(L"nvxps id with %X.", static_cast<unsigned>(vxps));
    if (vxps != kNotSet && !RunGraphicsHelper(source == 1 ? 0 : vxps, vista, g_order.StopEvent())) result = E_FAIL;

    bool enforced = ValueOf(enforce, L"SchemeID") == current && ValueOf(enforce, L"bIfAC") == source;
    DeviceSwitches switches(ec);
    auto applyDevice = [&](int number) {
        const wchar_t* device = kNames[number];
        int v = enforced ? ValueOf(enforce, device) : HalfForSource(value(number), source);
        if (v == kNotSet) v = HalfForSource(value(number), source);
        // A half of 0xFFFF for the battery is not set either: nothing to switch.
        if (v == kNotSet || !catalogue.Allows(number, v)) return;
        OutputDebugStringW(device);
        wchar_t description[260] = {};
        if (DeviceManagerRoute(settings, device, description)) {
            CDevMgr devices;
            long hr = devices.ExecStateChange2(description, v ? CDevMgr::Enable : CDevMgr::Disable);
            if (hr < 0) result = hr;
            return;
        }
        switches.Switch(number, v);
    };
    // The Bluetooth radio first, then the Wi-Fi radio, the I/O hub's functions and the
    // USB ports.
    applyDevice(BTStatus);
    for (int number = Wifi; number <= USBPort11; ++number) applyDevice(number);

    // The network adapter last, as a step of this application.
    if (linkStep != kNotSet || lanSpeed != kNotSet || lanSpeedVista != kNotSet) {
        if (!g_network.Apply(LanRequest{vista ? lanSpeedVista : lanSpeed, linkStep})) {
            CZORABase::DBGOUT(L"The network adapter's settings were not written within %lu ms.", kNetworkWaitMs);
            result = E_FAIL;
        }
    }
    // Applied only in part: a success that says not everything was.
    if (result == 0 && catalogue.Refused()) result = S_FALSE;
    return result;
}
}  // namespace

long ApplyCurrentScheme(const wchar_t* folder) {
    if (!IsExistingAbsoluteFolder(folder)) {
        CZORABase::DBGOUT(L"ApplyCurrentScheme refused the folder %s", folder ? folder : L"(none)");
        return E_INVALIDARG;
    }
    OrderTurn turn;
    if (!turn.Entered()) return E_FAIL;
    return ApplyInTurn(folder);
}

long RunInOrder(long (*task)(const void* argument), const void* argument) {
    OrderTurn turn;
    if (!turn.Entered()) return E_FAIL;
    return task(argument);
}

bool ApplyCurrentSchemeInBackground(const wchar_t* folder) {
    if (!folder || wcsnlen(folder, MAX_PATH) >= MAX_PATH) return false;
    return g_order.Post(folder);
}

bool StopApplying(DWORD waitMs) {
    ULONGLONG deadline = GetTickCount64() + waitMs;
    g_order.BeginStop();
    g_network.BeginStop();
    bool ended = g_order.WaitEnded(deadline);
    ended = g_network.WaitEnded(deadline) && ended;
    // Written by applications only: read once none runs.
    if (ended && g_recheck.thread && g_recheck.stop) {
        SetEvent(g_recheck.stop);
        ended = WaitForSingleObject(g_recheck.thread, Remaining(deadline)) == WAIT_OBJECT_0;
    }
    return ended;
}
