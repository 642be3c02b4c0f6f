// zoractl apply and zoractl status: the service's main job seen from the user's side.
//   apply [--json]    asks the service to apply the calling user's current scheme; prints
//                     its result (exit 0 when applied, 1 when not)
//   status [--json]   the active scheme, the power source, and for every variable the value
//                     the service applies for that source beside the machine's live state;
//                     a variable whose live state differs is marked (something else changed
//                     it behind the suite's back). Exit 1 when something could not be read.
#include <windows.h>
#include <cfgmgr32.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "CpuAgent.h"
#include "DevMgr.h"
#include "EcAgent.h"
#include "GravoAgent.h"
#include "IpbProtocol.h"
#include "LanAgent.h"
#include "SchemeEx.h"
#include "WindowsVersion.h"
#include "ZORACfg.h"
#include "ZoraPowerVariables.h"
#include "ZoraSchemeFile.h"
#include "ZoraSystemApi.h"
#include "ZoractlCommands.h"

using namespace zora_vars;

namespace {
constexpr int kNone = -1;

bool JsonFlag(int argc, wchar_t** argv, bool* json) {
    *json = argc == 1 && wcscmp(argv[0], L"--json") == 0;
    return argc == 0 || *json;
}

std::wstring JsonText(const wchar_t* text) {
    std::wstring out = L"\"";
    for (const wchar_t* c = text; *c; ++c) {
        if (*c == L'"' || *c == L'\\') out += L'\\';
        if (*c < 0x20) {
            wchar_t escaped[8];
            swprintf(escaped, 8, L"\\u%04x", static_cast<unsigned>(*c));
            out += escaped;
        } else {
            out += *c;
        }
    }
    return out + L"\"";
}

bool UserSchemeFile(CZORAProfile* file) {
    CZORACfg cfg;
    wchar_t name[256] = {};
    if (!cfg.Initialize(L"ZORACfg.ini")) return false;
    cfg.GetString(L"ZORACfg", L"PowerScheme", L"", name, 256);
    return name[0] && file->Initialize(name, nullptr);
}

// A value of the scheme file, read as the library and the service read it: a text that
// is no number is not set.
int Stored(CZORAProfile& file, const wchar_t* section, const wchar_t* key) {
    wchar_t text[64] = {};
    int chars = file.GetString(section, key, L"", text, 64);
    return chars == 0 || chars >= 63 ? kNone : zora_scheme_file::StoredValue(text);
}

const wchar_t* SourceName(BYTE source) { return source == 1 ? L"ac" : source == 0 ? L"battery" : L"unknown"; }

// One variable: what the service applies for the source (kNone: nothing, or the
// system holds it) and what the machine holds now (kNone: nothing to read).
struct Row {
    int number;
    int scheme = kNone;
    int expected = kNone;
    int live = kNone;
    bool unreadable = false;
    bool Differs() const { return expected != kNone && live != kNone && expected != live; }
};

class MachineState {
public:
    explicit MachineState(CSchemeEx& schemes) : m_schemes(schemes) {}

    // The machine's value of a variable the service sets, false when it cannot be read.
    bool Live(int number, int* value) {
        unsigned long level = 0;
        switch (number) {
        case CpuSpeed:
            if (!m_cpuReady) m_cpuReady = m_cpu.Initialize() ? 1 : -1;
            return m_cpuReady > 0 && (*value = m_cpu.GetEblLevel()) != -1;
        case BacklightLevel:
            if (m_ec.Setup() < 0) return false;
            level = m_ec.GetBacklightLevel();
            *value = static_cast<int>(level);
            return level != 0xFFFFFFFF;
        case VXPS: {
            CGravoAgent graphics;
            if (graphics.Setup() != 0) return false;
            level = graphics.GetEblLevel();
            if (level == CGravoAgent::kNoLevel) return false;
            *value = level & CGravoAgent::kVxpsEnabled ? static_cast<int>(level & CGravoAgent::kVxpsStrength) : 0;
            return true;
        }
        case LanSpeed:
        case LanSpeedVista:
            level = m_lan.GetLanSpeed();
            *value = static_cast<int>(level);
            return level != CLanAgent::kFailed;
        case LinkStepOption:
            if (!LanReady()) return false;
            level = m_lan.GetEblLevel();
            *value = static_cast<int>(level);
            return level != CLanAgent::kFailed;
        default:
            if (!IsDevice(number) && number != BTStatus) return false;
            if (const wchar_t* description = DeviceManagerDescription(number)) return DeviceEnabled(description, value);
            return m_schemes.GetDeviceStatus(kNames[number], value) >= 0;
        }
    }

private:
    // The device the service switches through the device manager ([variable] UseDrvMgr and
    // DrvDesc of the power-setting file), or null.
    const wchar_t* DeviceManagerDescription(int number) {
        if (!m_settingsReady) {
            CZORACfg cfg;
            wchar_t name[MAX_PATH] = {};
            m_settingsReady = cfg.Initialize(L"ZORACfg.ini") &&
                                      cfg.GetString(L"ZORACfg", L"PowerSetting", L"", name, MAX_PATH) > 0 &&
                                      m_settings.Initialize(name)
                                  ? 1
                                  : -1;
        }
        if (m_settingsReady < 0 || m_settings.GetInt(kNames[number], L"UseDrvMgr", 0) != 1) return nullptr;
        m_settings.GetString(kNames[number], L"DrvDesc", L"", m_description, 260);
        return m_description[0] ? m_description : nullptr;
    }
    // 1 when the device is enabled, 0 when it is disabled; false when it is not there.
    static bool DeviceEnabled(const wchar_t* description, int* value) {
        CDevMgr devices;
        wchar_t id[MAX_DEVICE_ID_LEN] = {};
        DEVINST node = 0;
        ULONG status = 0, problem = 0;
        if (devices.DrvDescToInstID(description, id, MAX_DEVICE_ID_LEN) != S_OK ||
            ZoraSys()->CM_Locate_DevNodeW(&node, id, CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS ||
            ZoraSys()->CM_Get_DevNode_Status_Ex(&status, &problem, node, 0, nullptr) != CR_SUCCESS)
            return false;
        *value = (status & DN_HAS_PROBLEM) && problem == CM_PROB_DISABLED ? 0 : 1;
        return true;
    }
    bool LanReady() {
        if (!m_lanReady) m_lanReady = m_lan.Initialize() ? 1 : -1;
        return m_lanReady > 0;
    }
    CSchemeEx& m_schemes;
    CCpuAgent m_cpu;
    CEcAgent m_ec;
    CLanAgent m_lan;
    CZORACfg m_settings;
    wchar_t m_description[260] = {};
    int m_cpuReady = 0, m_lanReady = 0, m_settingsReady = 0;
};
}  // namespace

int ApplyCommand(int argc, wchar_t** argv) {
    bool json = false;
    if (!JsonFlag(argc, argv, &json)) return 2;
    CZORAProfile file;
    if (!UserSchemeFile(&file)) {
        wprintf(json ? L"{\"applied\":false,\"error\":\"no scheme file\"}\n"
                     : L"the user's scheme file cannot be opened\n");
        return 1;
    }
    int current = Stored(file, L"ZORACfg", L"CurrentScheme");
    wchar_t folder[MAX_PATH] = {};
    file.GetHomePath(folder, MAX_PATH);
    CZORACfg cfg;
    cfg.Initialize(L"ZORACfg.ini");
    unsigned long timeoutMs = static_cast<unsigned long>(cfg.GetInt(L"ZoraDevMgr", L"TimeoutMS", 5000));
    IpbDataHeader scratch{};
    ULONGLONG started = GetTickCount64();
    long result = cfg.ServiceCall(ApplySchemeRequest, folder, static_cast<unsigned long>(current), &scratch, timeoutMs);
    CallOutcome outcome = ClassifyCall(result, GetTickCount64() - started, timeoutMs);
    // S_FALSE: the service left out a value the catalogue does not offer.
    const wchar_t* what = result == S_OK      ? L"applied"
                          : result == S_FALSE ? L"applied in part: a value the catalogue does not offer was left out"
                          : outcome == CallOutcome::NoService ? L"not applied: the service is not running"
                          : outcome == CallOutcome::NoAnswer  ? L"not applied: no answer from the service in time"
                                                              : L"not applied: the service could not apply it";
    const wchar_t* error = result == S_OK      ? nullptr
                           : result == S_FALSE ? L"partial"
                           : outcome == CallOutcome::NoService ? L"no service"
                           : outcome == CallOutcome::NoAnswer  ? L"no answer"
                                                               : L"task failed";
    if (json)
        wprintf(L"{\"applied\":%ls,\"scheme\":%d,\"result\":%ld%ls%ls%ls}\n", result == 0 ? L"true" : L"false", current,
                result, error ? L",\"error\":\"" : L"", error ? error : L"", error ? L"\"" : L"");
    else
        wprintf(L"scheme %d: %ls (result 0x%08lX)\n", current, what, static_cast<unsigned long>(result));
    return result == 0 ? 0 : 1;
}

int StatusCommand(int argc, wchar_t** argv) {
    bool json = false;
    if (!JsonFlag(argc, argv, &json)) return 2;
    CSchemeEx schemes;
    schemes.Initialize();
    CZORAProfile file;
    SYSTEM_POWER_STATUS power{};
    int active = schemes.GetActivePwrScheme();
    bool ok = UserSchemeFile(&file) && ZoraSys()->GetSystemPowerStatus(&power) && active >= 0;
    if (!ok) {
        wprintf(json ? L"{\"error\":\"the active scheme or the power source cannot be read\"}\n"
                     : L"the active scheme or the power source cannot be read\n");
        return 1;
    }
    BYTE source = power.ACLineStatus;
    wchar_t name[256] = {}, description[512] = {};
    unsigned long nameChars = 256, descriptionChars = 512;
    schemes.GetPwrSchemeNameDesc(active, name, &nameChars, description, &descriptionChars);

    DWORD major = 0;
    bool vista = WindowsMajorVersion(&major) && major == 6;
    CZORACfg cfg;
    cfg.Initialize(L"ZORACfg.ini");
    bool backlightByScheme = !(vista && cfg.GetInt(L"ZORASrvc", L"UseBacklightScheme", 1) == 1);

    wchar_t section[32];
    swprintf(section, 32, L"Scheme %d", active);
    auto packed = [&](int number) { return Stored(file, section, kNames[number]); };
    bool enforced = Stored(file, L"EnforceSetting", L"SchemeID") == active &&
                    Stored(file, L"EnforceSetting", L"bIfAC") == source;
    bool cpuBySchemes = vista && HalfForSource(packed(CpuAdaptive), source) == 0;

    MachineState machine(schemes);
    Row rows[kCount];
    int failures = 0;
    for (int number = 0; number < kCount; ++number) {
        Row& row = rows[number];
        row.number = number;
        bool applied = IsDevice(number) || number == BTStatus || number == LinkStepOption ||
                       number == (vista ? LanSpeedVista : LanSpeed) || number == VXPS ||
                       (number == BacklightLevel && backlightByScheme) || (number == CpuSpeed && cpuBySchemes);
        if (!applied) {
            // Held by the system's power policy: the scheme's value is the system's.
            row.scheme = schemes.GetPwrVariable(active, source != 0, kNames[number]);
            continue;
        }
        row.scheme = number == VXPS ? packed(VXPS) : HalfForSource(packed(number), source);
        if (enforced && (IsDevice(number) || number == BTStatus)) {
            int forced = Stored(file, L"EnforceSetting", kNames[number]);
            if (forced != kNone) row.scheme = forced;
        }
        row.expected = number == VXPS && row.scheme != kNone ? (source == 1 ? 0 : row.scheme) : row.scheme;
        if (row.expected == kNone) continue;
        row.unreadable = !machine.Live(number, &row.live);
        if (row.unreadable) {
            row.live = kNone;
            ++failures;
        }
    }

    if (json) {
        wprintf(L"{\"scheme\":{\"index\":%d,\"name\":%ls},\"source\":\"%ls\",\"variables\":[", active,
                JsonText(name).c_str(), SourceName(source));
        for (int number = 0; number < kCount; ++number) {
            const Row& row = rows[number];
            wprintf(L"%ls{\"name\":%ls,\"scheme\":%d", number ? L"," : L"", JsonText(kNames[number]).c_str(),
                    row.scheme);
            if (row.expected != kNone) {
                wprintf(L",\"applied\":%d", row.expected);
                if (row.unreadable)
                    wprintf(L",\"live\":null,\"error\":\"cannot be read\"");
                else
                    wprintf(L",\"live\":%d,\"differs\":%ls", row.live, row.Differs() ? L"true" : L"false");
            }
            wprintf(L"}");
        }
        wprintf(L"]}\n");
    } else {
        wprintf(L"active scheme : %d %ls\npower source  : %ls\n\n", active, name, SourceName(source));
        wprintf(L"  %-20ls %10ls %10ls\n", L"variable", L"scheme", L"machine");
        for (const Row& row : rows) {
            wchar_t live[32] = L"(system)";
            if (row.expected != kNone && row.unreadable)
                wcscpy(live, L"unreadable");
            else if (row.expected != kNone)
                swprintf(live, 32, L"%d", row.live);
            else if (row.scheme == kNone || IsDevice(row.number) || row.number == BTStatus)
                wcscpy(live, L"-");
            wprintf(L"%lc %-20ls %10d %10ls\n", row.Differs() ? L'*' : L' ', kNames[row.number], row.scheme, live);
        }
        bool differs = false;
        for (const Row& row : rows) differs = differs || row.Differs();
        if (differs) wprintf(L"\n* the machine differs from what the scheme applies\n");
    }
    return failures ? 1 : 0;
}
