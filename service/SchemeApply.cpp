// Applying a user's current scheme: the processor, the backlight, the graphics helper,
// every device the scheme switches (radios, I/O hub functions, USB ports, or devices
// routed through the device manager) and the network adapter, each with the value the
// scheme holds for the power source of the moment.
#include "SchemeApply.h"

#include <condition_variable>
#include <cwchar>
#include <cwctype>
#include <map>
#include <mutex>
#include <string>
#include <vector>

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
#include "ZoraSystemApi.h"

namespace {
using namespace zora_vars;

constexpr int kNotSet = -1;
constexpr DWORD kMinRecheckInterval = 1000;

bool IsHubFunction(int number) { return number >= HDAudio && number <= ThermalThrottle; }
bool IsUsbPort(int number) { return number >= USBPort0 && number <= USBPort11; }

// The scheme file in the user's folder, read only: the service never creates the
// folder or the file a request names. A section is read whole, at once: one profile
// call instead of one per variable.
class SchemeFileReader {
public:
    bool Open(const wchar_t* folder, const wchar_t* fileName) {
        int n = _snwprintf(m_path, MAX_PATH, L"%s%s%s", folder,
                           folder[0] && folder[wcslen(folder) - 1] == L'\\' ? L"" : L"\\", fileName);
        return n > 0 && n < MAX_PATH && GetFileAttributesW(m_path) != INVALID_FILE_ATTRIBUTES;
    }
    int Int(const wchar_t* section, const wchar_t* key, int fallback) const {
        return static_cast<int>(GetPrivateProfileIntW(section, key, fallback, m_path));
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
            values[key] = static_cast<int>(wcstol(eq + 1, nullptr, 10));
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

class ApplyQueue {
public:
    // Blocks until every application that began earlier has ended; false once the
    // service stops.
    bool Enter(unsigned long* ticket) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_stopping) return false;
        *ticket = m_next++;
        ++m_active;
        m_turn.wait(lock, [&] { return m_serving == *ticket; });
        return true;
    }
    void Leave() {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_serving;
        --m_active;
        m_turn.notify_all();
    }
    // An application that is to run on a thread of its own counts from its start.
    bool Reserve() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping) return false;
        ++m_reserved;
        return true;
    }
    void Unreserve() {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_reserved;
        m_turn.notify_all();
    }
    bool Stop(DWORD waitMs) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_stopping = true;
        return m_turn.wait_for(lock, std::chrono::milliseconds(waitMs),
                               [&] { return m_active == 0 && m_reserved == 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_turn;
    unsigned long m_next = 0, m_serving = 0;
    int m_active = 0, m_reserved = 0;
    bool m_stopping = false;
};
ApplyQueue g_queue;

class QueueTurn {
public:
    QueueTurn() : m_entered(g_queue.Enter(&m_ticket)) {}
    ~QueueTurn() {
        if (m_entered) g_queue.Leave();
    }
    QueueTurn(const QueueTurn&) = delete;
    QueueTurn& operator=(const QueueTurn&) = delete;
    bool Entered() const { return m_entered; }

private:
    unsigned long m_ticket = 0;
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

// Raises the stop event and waits for the last re-check thread to end, so that two
// never run at once.
void EndRecheckThread() {
    if (!g_recheck.thread) return;
    if (WaitForSingleObject(g_recheck.thread, 0) == WAIT_TIMEOUT) {
        SetEvent(g_recheck.stop);
        WaitForSingleObject(g_recheck.thread, INFINITE);
    }
    CloseHandle(g_recheck.thread);
    g_recheck.thread = nullptr;
}

// ---- the network adapter ----

struct LanRequest {
    int speed;
    int linkStep;
};

DWORD WINAPI LanApplyThread(LPVOID argument) {
    auto* request = static_cast<LanRequest*>(argument);
    int speed = request->speed, linkStep = request->linkStep;
    delete request;
    CLanAgent agent;
    int initialized = agent.Initialize();
    if (speed != kNotSet) agent.SetLanSpeed(speed);
    if (linkStep == kNotSet)
        agent.ApplySettings();
    else if (initialized)
        agent.SetEblLevel(linkStep);
    return 0;
}

bool StartLanApplyThread(int speed, int linkStep) {
    auto* request = new (std::nothrow) LanRequest{speed, linkStep};
    if (!request) return false;
    HANDLE thread = CreateThread(nullptr, 0, LanApplyThread, request, 0, nullptr);
    if (!thread) {
        delete request;
        return false;
    }
    CloseHandle(thread);
    return true;
}

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
    SYSTEM_POWER_STATUS power{};
    ZoraSys()->GetSystemPowerStatus(&power);
    BYTE source = power.ACLineStatus;

    if (!g_recheck.stop) {
        g_recheck.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!g_recheck.stop) {
            CZORABase::DBGOUT(L"cannot CreateEvent for %ld", static_cast<long>(GetLastError()));
            return E_FAIL;
        }
    }
    EndRecheckThread();

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

    DWORD major = 0;
    if (!WindowsMajorVersion(&major)) return E_FAIL;
    bool vista = major == 6;
    long result = 0;

    if (vista && cpuAdaptive == 0) {
        CCpuAgent cpu;
        if (cpu.Initialize() && cpu.SetEblLevel(cpuSpeed) == -1) result = E_FAIL;
        g_recheck.enabled = cfg.GetInt(L"ZORASrvc", L"CheckCpuTimes", 10);
        int interval = cfg.GetInt(L"ZORASrvc", L"CheckCpuInterval", 1000);
        g_recheck.intervalMs = interval < static_cast<int>(kMinRecheckInterval) ? kMinRecheckInterval : interval;
        g_recheck.level = cpuSpeed;
        if (g_recheck.enabled != 0) {
            ResetEvent(g_recheck.stop);
            g_recheck.thread = CreateThread(nullptr, 0, CpuRecheckThread, nullptr, 0, nullptr);
        }
    }

    CEcAgent ec;
    if (backlight != kNotSet && !(vista && useBacklightScheme == 1) && ec.Setup() >= 0)
        ec.SetBacklightLevel(backlight);

    CZORABase::DBGOUT(L"nvxps id with %X.", static_cast<unsigned>(vxps));
    if (vxps != kNotSet && !RunGraphicsHelper(source == 1 ? 0 : vxps, vista)) result = E_FAIL;

    bool enforced = ValueOf(enforce, L"SchemeID") == current && ValueOf(enforce, L"bIfAC") == source;
    DeviceSwitches switches(ec);
    auto applyDevice = [&](int number) {
        const wchar_t* device = kNames[number];
        int v = enforced ? ValueOf(enforce, device) : HalfForSource(value(number), source);
        if (v == kNotSet) v = HalfForSource(value(number), source);
        // A half of 0xFFFF for the battery is not set either: nothing to switch.
        if (v == kNotSet) return;
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

    if (linkStep != kNotSet || lanSpeed != kNotSet || lanSpeedVista != kNotSet) {
        if (!StartLanApplyThread(vista ? lanSpeedVista : lanSpeed, linkStep)) result = E_FAIL;
    }
    return result;
}

DWORD WINAPI ApplyThread(LPVOID argument) {
    wchar_t folder[260] = {};
    auto* copy = static_cast<wchar_t*>(argument);
    wcsncpy(folder, copy, 259);
    free(copy);
    ApplyCurrentScheme(folder);
    g_queue.Unreserve();
    return 0;
}
}  // namespace

long ApplyCurrentScheme(const wchar_t* folder) {
    if (!IsExistingAbsoluteFolder(folder)) {
        CZORABase::DBGOUT(L"ApplyCurrentScheme refused the folder %s", folder ? folder : L"(none)");
        return E_INVALIDARG;
    }
    QueueTurn turn;
    if (!turn.Entered()) return E_FAIL;
    return ApplyInTurn(folder);
}

bool ApplyCurrentSchemeInBackground(const wchar_t* folder) {
    wchar_t* copy = _wcsdup(folder);
    if (!copy) return false;
    if (!g_queue.Reserve()) {
        free(copy);
        return false;
    }
    HANDLE thread = CreateThread(nullptr, 0, ApplyThread, copy, 0, nullptr);
    if (!thread) {
        free(copy);
        g_queue.Unreserve();
        return false;
    }
    CloseHandle(thread);
    return true;
}

bool StopApplying(DWORD waitMs) {
    bool ended = g_queue.Stop(waitMs);
    if (g_recheck.thread && g_recheck.stop) {
        SetEvent(g_recheck.stop);
        WaitForSingleObject(g_recheck.thread, waitMs);
    }
    return ended;
}
