// The power-policy functions of Windows Vista (PowrProf.dll): power schemes named by
// GUID, each with a friendly name, a description and a value index per (subgroup,
// setting) for AC and for DC, and the active scheme. They answer the thirteen entries
// of the system-API table that the library finds by name in PowrProf.dll.
//
// The machine file holds them as (every GUID in brace form, compared without regard
// to case):
//
//   [PowerPolicy]
//   Active={381b4222-f694-41f0-9685-ff5bb260df2e}   the active scheme
//
//   [PowerScheme {381b4222-f694-41f0-9685-ff5bb260df2e}]   one section per scheme
//   Name="Balanced"                                  UTF-8, in quotes so that blanks at
//   Description="Automatically balances ..."         either end survive (quotes optional)
//   {3c0bc021-c8a8-4e07-a973-6b14cbcb2b7e}=600,300   one key per setting: the setting's
//   ...                                              GUID = AC value index,DC value index
//
// A value index is read as written (decimal or 0x-hexadecimal); a write changes only its
// own half and writes it in decimal. A setting the section lacks, or a half that is not
// a number, reads as the default of the scheme (for a scheme that is not built in, the
// Balanced default).
//
// Behaviour, as Windows Vista and 7 document it on MSDN ("documented") or as chosen here
// where MSDN is silent ("chosen"):
// - RootPowerKey / UserRootPowerKey is reserved and must be NULL (documented); a key is
//   refused with ERROR_INVALID_PARAMETER (chosen). A null pointer where the function
//   needs one fails the same way (chosen).
// - A scheme, subgroup or setting that does not exist fails with ERROR_FILE_NOT_FOUND,
//   as the missing registry key of the policy store does on Windows (observed by
//   Windows callers; not on MSDN).
// - Friendly names and descriptions are UTF-16 and their sizes are in bytes with the
//   terminator. A null buffer asks for the size: ERROR_SUCCESS and the size
//   (documented); a buffer too small gets ERROR_MORE_DATA and the size (documented).
//   A name is kept as text up to its first terminator and always read back terminated
//   (chosen); an odd byte count, or a carriage return or line feed in the text, is
//   refused with ERROR_INVALID_PARAMETER (chosen: the machine file cannot hold them).
//   Names and descriptions of the subgroups and settings below can be read (from the
//   table; the scheme is not needed for them) but not written: ERROR_ACCESS_DENIED, as
//   for a user who is not an administrator (chosen).
// - PowerEnumerate: ACCESS_SCHEME (16) enumerates the schemes, ignoring the scheme and
//   subgroup (documented); ACCESS_SUBGROUP (17) the subgroups of a scheme and
//   ACCESS_INDIVIDUAL_SETTING (18) the settings of a subgroup. Each element is a
//   16-byte GUID; a null buffer or one too small gets ERROR_MORE_DATA and the size 16
//   (documented: unlike the name functions, the size query is ERROR_MORE_DATA); an
//   index past the end gets ERROR_NO_MORE_ITEMS (documented). Elements come in the
//   order the registry lists subkeys, sorted by the GUID's text (chosen: the registry
//   keeps subkey names sorted), so the built-in schemes come as Balanced, High
//   performance, Power saver. Other access flags: ERROR_INVALID_PARAMETER (chosen).
// - PowerDuplicateScheme copies the name, the description and every value. When
//   *DestinationSchemeGuid is NULL the new GUID comes back in memory from LocalAlloc,
//   for the caller to free with LocalFree (documented); otherwise it names the new
//   scheme, and an existing one fails with ERROR_ALREADY_EXISTS (documented).
// - PowerGetActiveScheme returns the active GUID in memory from LocalAlloc, freed by the
//   caller with LocalFree (documented).
// - PowerDeleteScheme refuses the active scheme with ERROR_ACCESS_DENIED, as
//   DeletePwrScheme documents it for the active scheme (chosen for the Vista function,
//   whose page is silent). Built-in schemes other than the active one can be deleted,
//   as on Windows.
// - Writing a value index outside the setting's range fails with
//   ERROR_INVALID_PARAMETER (chosen); the ranges are those Microsoft documents for
//   each setting (the table below).
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "Entries.h"
#include "Platform.h"
#include "ZoraPowerPolicy.h"

namespace vnb {
namespace {

// The built-in schemes, with their names and descriptions as Windows 7 shows them.
enum BuiltIn { kBalanced, kHighPerformance, kPowerSaver, kBuiltInCount };
const struct {
    GUID guid;
    const wchar_t* name;
    const wchar_t* description;
} kSchemes[kBuiltInCount] = {
    {zora_policy::kBalanced, L"Balanced",
     L"Automatically balances performance with energy consumption on capable hardware."},
    {zora_policy::kHighPerformance, L"High performance",
     L"Favors performance, but may use more energy."},
    {zora_policy::kPowerSaver, L"Power saver",
     L"Saves energy by reducing your computer's performance where possible."},
};

// The subgroups, with the descriptions the PowerEnumerate page gives them.
const struct {
    GUID guid;
    const wchar_t* name;
    const wchar_t* description;
} kSubgroups[] = {
    {zora_policy::kVideo, L"Display",
     L"Settings in this subgroup control configuration of the video power management features."},
    {zora_policy::kDisk, L"Hard disk",
     L"Settings in this subgroup control power management configuration of the system's hard disk drives."},
    {zora_policy::kSleep, L"Sleep",
     L"Settings in this subgroup control system sleep settings."},
    {zora_policy::kProcessor, L"Processor power management",
     L"Settings in this subgroup control configuration of processor power management features."},
};
enum Subgroup { kVideo, kDisk, kSleep, kProcessor };

// The settings every scheme holds: GUIDs, the range of the value index, and the
// defaults of the built-in schemes, {AC, DC} in the order of kSchemes. Sources:
// [MS-SET] Microsoft's power-settings reference (learn.microsoft.com, "Power settings"
//   under Windows hardware customization, and "Brightness control settings and
//   actions"): GUIDs, units and ranges; the ranges of the time-outs are 0 (never) to
//   the largest integer, of the processor states and the brightness 0 to 100 percent.
// [TIPS] "Choosing a Power Management Plan", windows.tips.net tip 10716 (Windows 7 and
//   10): plugged in, Balanced turns the display off after 10 minutes and sleeps after
//   30, Power saver after 5 and 15, High performance after 20 and never sleeps.
// [SU] Super User answer on reading "Turn off hard disk after" (Windows 7,
//   PowerSettings\...\DefaultPowerSchemeValues): Balanced 1200 s plugged in, 600 s on
//   battery.
// [MIN] Windows Report / MiniTool articles on the processor state: the default minimum
//   processor state is 5 percent, the maximum 100 percent, and the defaults range from
//   5 to 100 percent with the plan.
// [PAIRS] a published powercfg script (CenSoC, University of Technology Sydney, 2012):
//   the processor idle-state and performance-state policies take the value indexes
//   0..5, "0,1 = power saver, 2,3 = balanced, 4,5 = high perf"; each scheme here holds
//   its own pair, the first for AC and the second for DC (the pairing is chosen). These
//   are the indexes the library writes (2, 3 adaptive; 4, 5 fixed).
// Every other default is chosen, in the spirit of its plan, and marked so.
struct PowerSetting {
    Subgroup subgroup;
    GUID guid;
    const wchar_t* name;
    const wchar_t* description;
    DWORD minimum, maximum;
    DWORD defaults[kBuiltInCount][2];
};
const PowerSetting kSettings[] = {
    // Turn off display after, seconds. AC [TIPS]; High performance AC [TIPS] (20
    // minutes); every DC value chosen.
    {kVideo, zora_policy::kVideoIdle, L"Turn off display after",
     L"Specifies the period of inactivity before the display is automatically turned off.", 0, 0xFFFFFFFF,
     {{600, 300}, {1200, 600}, {300, 120}}},
    // Display brightness, percent [MS-SET]; all defaults chosen.
    {kVideo, zora_policy::kBrightness, L"Display brightness",
     L"Specifies the default display brightness level.", 0, 100, {{100, 50}, {100, 100}, {50, 30}}},
    // Turn off hard disk after, seconds. Balanced [SU]; the others chosen.
    {kDisk, zora_policy::kDiskIdle, L"Turn off hard disk after",
     L"Specifies the period of inactivity before the disk is automatically powered down.", 0, 0xFFFFFFFF,
     {{1200, 600}, {1200, 1200}, {1200, 300}}},
    // Sleep after, seconds. AC [TIPS]; DC chosen.
    {kSleep, zora_policy::kStandbyIdle, L"Sleep after",
     L"Specifies the duration of inactivity before the system automatically enters sleep.", 0, 0xFFFFFFFF,
     {{1800, 900}, {0, 3600}, {900, 600}}},
    // Hibernate after, seconds; chosen: never, hibernation being the user's choice.
    {kSleep, zora_policy::kHibernateIdle, L"Hibernate after",
     L"Specifies the duration of inactivity before the system automatically hibernates.", 0, 0xFFFFFFFF,
     {{0, 0}, {0, 0}, {0, 0}}},
    // Minimum processor state, percent. 5 percent [MIN]; High performance 100 chosen.
    {kProcessor, zora_policy::kThrottleMin,
     L"Minimum processor state", L"Specifies the minimum processor performance state, in percent.", 0, 100,
     {{5, 5}, {100, 100}, {5, 5}}},
    // Maximum processor state, percent. 100 percent [MIN]; Power saver on battery 50
    // chosen.
    {kProcessor, zora_policy::kThrottleMax,
     L"Maximum processor state", L"Specifies the maximum processor performance state, in percent.", 0, 100,
     {{100, 100}, {100, 100}, {100, 50}}},
    // Processor idle-state (C-state) policy [PAIRS].
    {kProcessor, zora_policy::kPolicyFirst,
     L"Processor idle state policy", L"Specifies the processor idle-state (C-state) policy data.", 0, 5,
     {{2, 3}, {4, 5}, {0, 1}}},
    // Processor performance-state (P-state) policy [PAIRS].
    {kProcessor, zora_policy::kPolicySecond,
     L"Processor performance state policy", L"Specifies the processor performance-state (P-state) policy data.", 0,
     5, {{2, 3}, {4, 5}, {0, 1}}},
};

constexpr char kPolicySection[] = "PowerPolicy";
constexpr char kSchemePrefix[] = "PowerScheme ";
constexpr char kActiveKey[] = "Active";
constexpr char kNameKey[] = "Name";
constexpr char kDescriptionKey[] = "Description";
constexpr DWORD kGuidBytes = sizeof(GUID);

std::string Narrow(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::string GuidText(const GUID& guid) { return Narrow(FormatGuid(guid)); }
std::string SchemeSection(const GUID& scheme) { return kSchemePrefix + GuidText(scheme); }

std::string Quoted(const std::wstring& text) { return "\"" + Narrow(text) + "\""; }
std::wstring Unquoted(const std::string& value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return Widen(value.substr(1, value.size() - 2));
    return Widen(value);
}

int BuiltInIndex(const GUID& scheme) {
    for (int i = 0; i < kBuiltInCount; ++i)
        if (IsEqualGUID(scheme, kSchemes[i].guid)) return i;
    return -1;
}

const PowerSetting* FindSetting(const GUID* subgroup, const GUID* setting) {
    if (!subgroup || !setting) return nullptr;
    for (const PowerSetting& s : kSettings)
        if (IsEqualGUID(*subgroup, kSubgroups[s.subgroup].guid) && IsEqualGUID(*setting, s.guid)) return &s;
    return nullptr;
}

int FindSubgroup(const GUID* subgroup) {
    if (!subgroup) return -1;
    for (int i = 0; i < static_cast<int>(ARRAYSIZE(kSubgroups)); ++i)
        if (IsEqualGUID(*subgroup, kSubgroups[i].guid)) return i;
    return -1;
}

// "AC,DC": the two halves' texts, as written.
void SplitPair(const std::string& value, std::string* ac, std::string* dc) {
    size_t comma = value.find(',');
    auto trim = [](std::string text) {
        size_t first = text.find_first_not_of(" \t");
        if (first == std::string::npos) return std::string();
        return text.substr(first, text.find_last_not_of(" \t") - first + 1);
    };
    *ac = trim(value.substr(0, comma));
    *dc = comma == std::string::npos ? std::string() : trim(value.substr(comma + 1));
}

bool ParseIndex(const std::string& text, DWORD* value) {
    if (text.empty() || !isdigit(static_cast<unsigned char>(text[0]))) return false;
    char* end = nullptr;
    unsigned long long number = strtoull(text.c_str(), &end, 0);
    if (!end || *end != '\0' || number > 0xFFFFFFFFull) return false;
    *value = static_cast<DWORD>(number);
    return true;
}

// The value index of a setting in a scheme's section; side 0 is AC, 1 is DC.
DWORD SettingValue(const Values& scheme, const GUID& schemeGuid, const PowerSetting& setting, int side) {
    int builtIn = BuiltInIndex(schemeGuid);
    DWORD value = setting.defaults[builtIn < 0 ? kBalanced : builtIn][side];
    std::string halves[2];
    SplitPair(scheme.Get(GuidText(setting.guid)), &halves[0], &halves[1]);
    ParseIndex(halves[side], &value);
    return value;
}

std::string PairText(DWORD ac, DWORD dc) { return std::to_string(ac) + "," + std::to_string(dc); }

// The schemes the machine holds, in the registry's order.
std::vector<GUID> Schemes(const Machine& machine) {
    std::vector<std::pair<std::string, GUID>> found;
    const size_t prefix = sizeof(kSchemePrefix) - 1;
    for (const std::string& name : SectionNames(machine)) {
        if (name.size() <= prefix || CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name.c_str(),
                                                    static_cast<int>(prefix), kSchemePrefix,
                                                    static_cast<int>(prefix)) != CSTR_EQUAL)
            continue;
        GUID guid;
        if (!ParseGuid(Widen(name.substr(prefix)), &guid)) continue;
        found.emplace_back(GuidText(guid), guid);
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<GUID> schemes;
    for (const auto& item : found) schemes.push_back(item.second);
    return schemes;
}

bool GetScheme(const Machine& machine, const GUID& scheme, Values* values) {
    return GetSection(machine, SchemeSection(scheme), values);
}

DWORD Read(const std::function<DWORD(const Machine&)>& read) { return ViewMachine(AttachedMachine(), read); }

DWORD Update(const std::function<DWORD(Machine&)>& change) { return UpdateMachine(AttachedMachine(), change); }

// Copies a UTF-16 text with its terminator under the size protocol of the name functions.
DWORD ReturnText(const std::wstring& text, UCHAR* buffer, DWORD* bufferSize) {
    DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    if (!buffer) {
        *bufferSize = bytes;
        return ERROR_SUCCESS;
    }
    if (*bufferSize < bytes) {
        *bufferSize = bytes;
        return ERROR_MORE_DATA;
    }
    memcpy(buffer, text.c_str(), bytes);
    *bufferSize = bytes;
    return ERROR_SUCCESS;
}

// Copies one GUID under the size protocol of PowerEnumerate.
DWORD ReturnGuid(const GUID& guid, UCHAR* buffer, DWORD* bufferSize) {
    if (!buffer || *bufferSize < kGuidBytes) {
        *bufferSize = kGuidBytes;
        return ERROR_MORE_DATA;
    }
    memcpy(buffer, &guid, kGuidBytes);
    *bufferSize = kGuidBytes;
    return ERROR_SUCCESS;
}

// A GUID in memory from LocalAlloc, for the caller to free with LocalFree.
DWORD AllocatedGuid(const GUID& guid, GUID** out) {
    GUID* memory = static_cast<GUID*>(LocalAlloc(LMEM_FIXED, sizeof(GUID)));
    if (!memory) return ERROR_NOT_ENOUGH_MEMORY;
    *memory = guid;
    *out = memory;
    return ERROR_SUCCESS;
}

// The name (or the description) of a scheme, subgroup or setting.
DWORD ReadText(bool isName, const GUID* scheme, const GUID* subgroup, const GUID* setting, UCHAR* buffer,
               DWORD* bufferSize) {
    const char* key = isName ? kNameKey : kDescriptionKey;
    if (setting) {
        const PowerSetting* s = FindSetting(subgroup, setting);
        if (!s) return ERROR_FILE_NOT_FOUND;
        return ReturnText(isName ? s->name : s->description, buffer, bufferSize);
    }
    if (subgroup) {
        int index = FindSubgroup(subgroup);
        if (index < 0) return ERROR_FILE_NOT_FOUND;
        return ReturnText(isName ? kSubgroups[index].name : kSubgroups[index].description, buffer, bufferSize);
    }
    if (!scheme) return ERROR_INVALID_PARAMETER;
    std::wstring text;
    DWORD error = Read([&](const Machine& machine) {
        Values values;
        if (!GetScheme(machine, *scheme, &values)) return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
        text = Unquoted(values.Get(key));
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
    return error != ERROR_SUCCESS ? error : ReturnText(text, buffer, bufferSize);
}

DWORD WriteText(bool isName, const GUID* scheme, const GUID* subgroup, const GUID* setting, const UCHAR* buffer,
                DWORD bufferSize) {
    if (!scheme || (!buffer && bufferSize) || bufferSize % sizeof(wchar_t)) return ERROR_INVALID_PARAMETER;
    std::wstring text(bufferSize / sizeof(wchar_t), L'\0');
    if (bufferSize) memcpy(&text[0], buffer, bufferSize);
    text.resize(wcsnlen(text.c_str(), text.size()));
    if (text.find_first_of(L"\r\n") != std::wstring::npos) return ERROR_INVALID_PARAMETER;
    if (setting || subgroup) {
        bool known = setting ? FindSetting(subgroup, setting) != nullptr : FindSubgroup(subgroup) >= 0;
        return known ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    }
    return Update([&](Machine& machine) {
        Values values;
        if (!GetScheme(machine, *scheme, &values)) return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
        values.Set(isName ? kNameKey : kDescriptionKey, Quoted(text));
        PutSection(&machine, SchemeSection(*scheme), values);
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
}

DWORD ReadIndex(int side, const GUID* scheme, const GUID* subgroup, const GUID* setting, LPDWORD value) {
    if (!scheme || !value) return ERROR_INVALID_PARAMETER;
    return Read([&](const Machine& machine) {
        Values values;
        const PowerSetting* s = FindSetting(subgroup, setting);
        if (!GetScheme(machine, *scheme, &values) || !s) return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
        *value = SettingValue(values, *scheme, *s, side);
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
}

DWORD WriteIndex(int side, const GUID* scheme, const GUID* subgroup, const GUID* setting, DWORD value) {
    if (!scheme) return ERROR_INVALID_PARAMETER;
    return Update([&](Machine& machine) {
        Values values;
        const PowerSetting* s = FindSetting(subgroup, setting);
        if (!GetScheme(machine, *scheme, &values) || !s) return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
        if (value < s->minimum || value > s->maximum) return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
        // The other half stays as written; a missing one is written as its value.
        std::string halves[2];
        SplitPair(values.Get(GuidText(s->guid)), &halves[0], &halves[1]);
        DWORD other = 0;
        if (!ParseIndex(halves[1 - side], &other))
            halves[1 - side] = std::to_string(SettingValue(values, *scheme, *s, 1 - side));
        halves[side] = std::to_string(value);
        values.Set(GuidText(s->guid), halves[0] + "," + halves[1]);
        PutSection(&machine, SchemeSection(*scheme), values);
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
}

void DefaultPowerPolicy(Machine* machine) {
    Values policy;
    policy.Set(kActiveKey, GuidText(kSchemes[kBalanced].guid));
    PutSection(machine, kPolicySection, policy);
    for (int i = 0; i < kBuiltInCount; ++i) {
        Values scheme;
        scheme.Set(kNameKey, Quoted(kSchemes[i].name));
        scheme.Set(kDescriptionKey, Quoted(kSchemes[i].description));
        for (const PowerSetting& s : kSettings)
            scheme.Set(GuidText(s.guid), PairText(s.defaults[i][0], s.defaults[i][1]));
        PutSection(machine, SchemeSection(kSchemes[i].guid), scheme);
    }
}
DefaultSection g_defaults(DefaultPowerPolicy);

}  // namespace

DWORD WINAPI PowerEnumerate(HKEY rootPowerKey, const GUID* schemeGuid, const GUID* subGroupOfPowerSettingsGuid,
                            POWER_DATA_ACCESSOR accessFlags, ULONG index, UCHAR* buffer, DWORD* bufferSize) {
    if (rootPowerKey || !bufferSize) return ERROR_INVALID_PARAMETER;
    if (accessFlags != ACCESS_SCHEME && accessFlags != ACCESS_SUBGROUP && accessFlags != ACCESS_INDIVIDUAL_SETTING)
        return ERROR_INVALID_PARAMETER;
    if (accessFlags != ACCESS_SCHEME && !schemeGuid) return ERROR_INVALID_PARAMETER;
    std::vector<GUID> elements;
    DWORD error = Read([&](const Machine& machine) {
        if (accessFlags == ACCESS_SCHEME) {
            elements = Schemes(machine);
            return static_cast<DWORD>(ERROR_SUCCESS);
        }
        Values values;
        if (!GetScheme(machine, *schemeGuid, &values)) return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
        if (accessFlags == ACCESS_SUBGROUP) {
            for (const auto& subgroup : kSubgroups) elements.push_back(subgroup.guid);
        } else {
            int subgroup = FindSubgroup(subGroupOfPowerSettingsGuid);
            if (subgroup < 0) return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
            for (const PowerSetting& s : kSettings)
                if (s.subgroup == subgroup) elements.push_back(s.guid);
        }
        std::sort(elements.begin(), elements.end(),
                  [](const GUID& a, const GUID& b) { return GuidText(a) < GuidText(b); });
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
    if (error != ERROR_SUCCESS) return error;
    if (index >= elements.size()) return ERROR_NO_MORE_ITEMS;
    return ReturnGuid(elements[index], buffer, bufferSize);
}

DWORD WINAPI PowerDeleteScheme(HKEY rootPowerKey, const GUID* schemeGuid) {
    if (rootPowerKey || !schemeGuid) return ERROR_INVALID_PARAMETER;
    return Update([&](Machine& machine) {
        Values scheme, policy;
        if (!GetScheme(machine, *schemeGuid, &scheme)) return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
        GetSection(machine, kPolicySection, &policy);
        GUID active{};
        if (ParseGuid(Widen(policy.Get(kActiveKey)), &active) && IsEqualGUID(active, *schemeGuid))
            return static_cast<DWORD>(ERROR_ACCESS_DENIED);
        RemoveSection(&machine, SchemeSection(*schemeGuid));
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
}

DWORD WINAPI PowerDuplicateScheme(HKEY rootPowerKey, const GUID* sourceSchemeGuid, GUID** destinationSchemeGuid) {
    if (rootPowerKey || !sourceSchemeGuid || !destinationSchemeGuid) return ERROR_INVALID_PARAMETER;
    GUID target{};
    bool allocate = *destinationSchemeGuid == nullptr;
    if (!allocate)
        target = **destinationSchemeGuid;
    else if (FAILED(CoCreateGuid(&target)))
        return ERROR_NOT_ENOUGH_MEMORY;
    DWORD error = Update([&](Machine& machine) {
        Values source, existing;
        if (!GetScheme(machine, *sourceSchemeGuid, &source)) return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
        if (GetScheme(machine, target, &existing)) return static_cast<DWORD>(ERROR_ALREADY_EXISTS);
        Values copy;
        copy.Set(kNameKey, source.Get(kNameKey, "\"\""));
        copy.Set(kDescriptionKey, source.Get(kDescriptionKey, "\"\""));
        for (const PowerSetting& s : kSettings)
            copy.Set(GuidText(s.guid), PairText(SettingValue(source, *sourceSchemeGuid, s, 0),
                                                SettingValue(source, *sourceSchemeGuid, s, 1)));
        PutSection(&machine, SchemeSection(target), copy);
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
    if (error == ERROR_SUCCESS && allocate) error = AllocatedGuid(target, destinationSchemeGuid);
    return error;
}

DWORD WINAPI PowerWriteFriendlyName(HKEY rootPowerKey, const GUID* schemeGuid, const GUID* subGroupOfPowerSettingsGuid,
                                    const GUID* powerSettingGuid, UCHAR* buffer, DWORD bufferSize) {
    if (rootPowerKey) return ERROR_INVALID_PARAMETER;
    return WriteText(true, schemeGuid, subGroupOfPowerSettingsGuid, powerSettingGuid, buffer, bufferSize);
}

DWORD WINAPI PowerWriteDescription(HKEY rootPowerKey, const GUID* schemeGuid, const GUID* subGroupOfPowerSettingsGuid,
                                   const GUID* powerSettingGuid, UCHAR* buffer, DWORD bufferSize) {
    if (rootPowerKey) return ERROR_INVALID_PARAMETER;
    return WriteText(false, schemeGuid, subGroupOfPowerSettingsGuid, powerSettingGuid, buffer, bufferSize);
}

DWORD WINAPI PowerWriteACValueIndex(HKEY rootPowerKey, const GUID* schemeGuid, const GUID* subGroupOfPowerSettingsGuid,
                                    const GUID* powerSettingGuid, DWORD acValueIndex) {
    if (rootPowerKey) return ERROR_INVALID_PARAMETER;
    return WriteIndex(0, schemeGuid, subGroupOfPowerSettingsGuid, powerSettingGuid, acValueIndex);
}

DWORD WINAPI PowerReadACValueIndex(HKEY rootPowerKey, const GUID* schemeGuid, const GUID* subGroupOfPowerSettingsGuid,
                                   const GUID* powerSettingGuid, LPDWORD acValueIndex) {
    if (rootPowerKey) return ERROR_INVALID_PARAMETER;
    return ReadIndex(0, schemeGuid, subGroupOfPowerSettingsGuid, powerSettingGuid, acValueIndex);
}

DWORD WINAPI PowerWriteDCValueIndex(HKEY rootPowerKey, const GUID* schemeGuid, const GUID* subGroupOfPowerSettingsGuid,
                                    const GUID* powerSettingGuid, DWORD dcValueIndex) {
    if (rootPowerKey) return ERROR_INVALID_PARAMETER;
    return WriteIndex(1, schemeGuid, subGroupOfPowerSettingsGuid, powerSettingGuid, dcValueIndex);
}

DWORD WINAPI PowerReadDCValueIndex(HKEY rootPowerKey, const GUID* schemeGuid, const GUID* subGroupOfPowerSettingsGuid,
                                   const GUID* powerSettingGuid, LPDWORD dcValueIndex) {
    if (rootPowerKey) return ERROR_INVALID_PARAMETER;
    return ReadIndex(1, schemeGuid, subGroupOfPowerSettingsGuid, powerSettingGuid, dcValueIndex);
}

DWORD WINAPI PowerReadDescription(HKEY rootPowerKey, const GUID* schemeGuid, const GUID* subGroupOfPowerSettingsGuid,
                                  const GUID* powerSettingGuid, PUCHAR buffer, LPDWORD bufferSize) {
    if (rootPowerKey || !bufferSize) return ERROR_INVALID_PARAMETER;
    return ReadText(false, schemeGuid, subGroupOfPowerSettingsGuid, powerSettingGuid, buffer, bufferSize);
}

DWORD WINAPI PowerReadFriendlyName(HKEY rootPowerKey, const GUID* schemeGuid, const GUID* subGroupOfPowerSettingsGuid,
                                   const GUID* powerSettingGuid, PUCHAR buffer, LPDWORD bufferSize) {
    if (rootPowerKey || !bufferSize) return ERROR_INVALID_PARAMETER;
    return ReadText(true, schemeGuid, subGroupOfPowerSettingsGuid, powerSettingGuid, buffer, bufferSize);
}

DWORD WINAPI PowerSetActiveScheme(HKEY userRootPowerKey, const GUID* schemeGuid) {
    if (userRootPowerKey || !schemeGuid) return ERROR_INVALID_PARAMETER;
    return Update([&](Machine& machine) {
        Values scheme, policy;
        if (!GetScheme(machine, *schemeGuid, &scheme)) return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
        GetSection(machine, kPolicySection, &policy);
        policy.Set(kActiveKey, GuidText(*schemeGuid));
        PutSection(&machine, kPolicySection, policy);
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
}

DWORD WINAPI PowerGetActiveScheme(HKEY userRootPowerKey, GUID** activePolicyGuid) {
    if (userRootPowerKey || !activePolicyGuid) return ERROR_INVALID_PARAMETER;
    GUID active{};
    DWORD error = Read([&](const Machine& machine) {
        Values policy, scheme;
        GetSection(machine, kPolicySection, &policy);
        // No active scheme, or one that is gone: the policy store has none to give.
        if (!ParseGuid(Widen(policy.Get(kActiveKey)), &active) || !GetScheme(machine, active, &scheme))
            return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
    return error != ERROR_SUCCESS ? error : AllocatedGuid(active, activePolicyGuid);
}

}  // namespace vnb
