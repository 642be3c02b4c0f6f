// The schemes of Windows Vista: GUID schemes of the power-policy functions, one value
// index per setting for AC and DC. The scheme file maps the small indexes every caller
// uses to the GUIDs, and keeps copies of the processor settings.
#include "SchemeEx.h"

#include <cwchar>

#include "SchemeFiles.h"
#include "SchemePolicy.h"
#include "WinHandles.h"
#include "ZoraPowerVariables.h"
#include "ZoraSystemApi.h"

using namespace scheme_files;
using namespace zora_vars;
using namespace vista_policy;

namespace {

DWORD ReadIndex(int ac, const GUID& scheme, const GUID& subgroup, const GUID& setting, DWORD* value) {
    return ac ? ZoraSys()->PowerReadACValueIndex(nullptr, &scheme, &subgroup, &setting, value)
              : ZoraSys()->PowerReadDCValueIndex(nullptr, &scheme, &subgroup, &setting, value);
}

DWORD WriteIndex(int ac, const GUID& scheme, const GUID& subgroup, const GUID& setting, DWORD value) {
    return ac ? ZoraSys()->PowerWriteACValueIndex(nullptr, &scheme, &subgroup, &setting, value)
              : ZoraSys()->PowerWriteDCValueIndex(nullptr, &scheme, &subgroup, &setting, value);
}

// Whether the index map may take one more index after max; says why when it may not.
bool RoomForOneMore(CZORAProfile& file, int max) {
    if (max < zora_scheme_file::kMaxSchemeIndex) return true;
    CZORABase::DBGOUT(L"The scheme file %ls holds the most indexes it may (%d): no scheme is added.\n",
                      file.GetFullPath(), zora_scheme_file::kMaxSchemeIndex);
    return false;
}

// The panel's number of backlight levels; below 1 when unknown.
int BacklightLevels() {
    CZORACfg cfg;
    return OpenMachineCfg(cfg) ? cfg.GetInt(L"ZORACfg", L"MaxBrightLevel", 0) : 0;
}

}  // namespace

int CSchemeEx::VistaGetPolicyVariable(int index, int ac, int number, const GUID& scheme, const GUID& subgroup,
                                      const GUID& setting) {
    DWORD value = 0;
    switch (number) {
    case CpuSpeedMin:
    case CpuSpeedMax: {
        const GUID& limit = number == CpuSpeedMin ? kThrottleMin : kThrottleMax;
        DWORD dc = 0, acValue = 0;
        if (ReadIndex(0, scheme, kProcessor, limit, &dc) != ERROR_SUCCESS ||
            ReadIndex(1, scheme, kProcessor, limit, &acValue) != ERROR_SUCCESS)
            return -1;
        // The scheme file gets the system's values when it has none yet.
        CZORAProfile file;
        if (OpenSchemeFile(file) && ReadStoredValue(file, SchemeSection(index), kNames[number], -1) == -1)
            file.PutInt(SchemeSection(index), kNames[number], static_cast<int>((dc << 16) | (acValue & 0xFFFF)));
        return static_cast<int>(ac ? acValue : dc);
    }
    case BacklightLevel: {
        int levels = BacklightLevels();
        if (levels < 1) return -1;
        if (ReadIndex(ac, scheme, subgroup, setting, &value) != ERROR_SUCCESS) return -1;
        return (static_cast<int>(value) + 1) * (levels - 1) / 100;
    }
    default:  // the time-outs
        if (ReadIndex(ac, scheme, subgroup, setting, &value) != ERROR_SUCCESS) return -1;
        return static_cast<int>(value);
    }
}

int CSchemeEx::VistaSetPolicyVariable(int, int ac, int number, int value, const GUID& scheme, const GUID& subgroup,
                                      const GUID& setting) {
    switch (number) {
    case CpuSpeedMin:
    case CpuSpeedMax:
        return WriteIndex(ac, scheme, kProcessor, number == CpuSpeedMin ? kThrottleMin : kThrottleMax,
                          static_cast<DWORD>(value)) == ERROR_SUCCESS
                   ? value
                   : -1;
    case CpuAdaptive: {
        // 2 (3 on battery) lets the system adapt the speed; 4 (5) holds it, at full speed.
        DWORD policy = (value ? 2 : 4) + (ac ? 0 : 1);
        if (WriteIndex(ac, scheme, kProcessor, kPolicyFirst, policy) != ERROR_SUCCESS ||
            WriteIndex(ac, scheme, kProcessor, kPolicySecond, policy) != ERROR_SUCCESS)
            return -1;
        if (!value && (WriteIndex(ac, scheme, kProcessor, kThrottleMin, 100) != ERROR_SUCCESS ||
                       WriteIndex(ac, scheme, kProcessor, kThrottleMax, 100) != ERROR_SUCCESS))
            return -1;
        return value;
    }
    case BacklightLevel: {
        int levels = BacklightLevels();
        if (levels < 2 || value > levels) return -1;
        int percent = value * 100 / (levels - 1);
        return WriteIndex(ac, scheme, subgroup, setting, static_cast<DWORD>(percent)) == ERROR_SUCCESS ? percent : -1;
    }
    default:  // the time-outs
        return WriteIndex(ac, scheme, subgroup, setting, static_cast<DWORD>(value)) == ERROR_SUCCESS ? 1 : -1;
    }
}

int CSchemeEx::VistaGetActive() {
    GUID* raw = nullptr;
    if (ZoraSys()->PowerGetActiveScheme(nullptr, &raw) != ERROR_SUCCESS) return -1;
    UniqueLocalGuid active(raw);
    CZORAProfile file;
    int max = -1;
    if (!OpenSchemeFile(file) || !ReadMaxIndex(file, &max)) return -1;
    int index = IndexOfGuid(file, max, *raw);
    if (index != -1) return index;

    // A scheme made active outside the library joins the map, while the map has room.
    wchar_t text[64];
    unsigned long capacity = 64;
    if (!GuidIntoString(raw, text, &capacity)) return -1;
    if (max == -1 || !RoomForOneMore(file, max)) return -1;
    index = max + 1;
    file.PutString(SchemeSection(index), L"GUID", text);
    file.PutInt(L"Schemes", L"SchemeMaxIndex", index);
    return index;
}

bool CSchemeEx::VistaActivate(int index, int* previous) {
    GUID guid;
    if (!SchemeIndexToGuid(index, &guid)) return false;
    *previous = GetActivePwrScheme();
    // The system's copy of the processor limits follows the scheme file's.
    for (int ac : {1, 0}) {
        int adaptive = GetPwrVariable(index, ac, kNames[CpuAdaptive]);
        int max = GetPwrVariable(index, ac, kNames[CpuSpeedMax]);
        int min = GetPwrVariable(index, ac, kNames[CpuSpeedMin]);
        if (adaptive != 0) {
            SetPwrVariable(index, ac, kNames[CpuSpeedMax], max);
            SetPwrVariable(index, ac, kNames[CpuSpeedMin], min);
        }
    }
    return ZoraSys()->PowerSetActiveScheme(nullptr, &guid) == ERROR_SUCCESS;
}

int CSchemeEx::VistaAddScheme(const wchar_t* name, const wchar_t* description, int base) {
    GUID baseGuid;
    if (!SchemeIndexToGuid(base, &baseGuid)) return -1;
    GUID* raw = nullptr;
    if (ZoraSys()->PowerDuplicateScheme(nullptr, &baseGuid, &raw) != ERROR_SUCCESS || !raw) return -1;
    UniqueLocalGuid created(raw);
    wchar_t text[64];
    unsigned long capacity = 64;
    auto bytes = [](const wchar_t* text) { return static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)); };
    ZoraSys()->PowerWriteFriendlyName(nullptr, raw, nullptr, nullptr,
                                      reinterpret_cast<UCHAR*>(const_cast<wchar_t*>(name)), bytes(name));
    if (description)
        ZoraSys()->PowerWriteDescription(nullptr, raw, nullptr, nullptr,
                                         reinterpret_cast<UCHAR*>(const_cast<wchar_t*>(description)),
                                         bytes(description));

    CZORAProfile file;
    int max = -1;
    bool indexed = OpenSchemeFile(file) && ReadMaxIndex(file, &max) &&
                   file.GetString(L"Schemes", L"SchemeMaxIndex", L"", text, 64) > 0 && RoomForOneMore(file, max);
    if (!indexed || !GuidIntoString(raw, text, &capacity) ||
        !file.PutString(SchemeSection(max + 1), L"GUID", text)) {
        // No index for it: the system's copy goes again rather than lingering unlisted.
        ZoraSys()->PowerDeleteScheme(nullptr, raw);
        return -1;
    }
    int added = max + 1;
    for (int number : {CpuAdaptive, CpuSpeed})
        for (int ac : {1, 0})
            SetPwrVariable(added, ac, kNames[number], GetPwrVariable(base, ac, kNames[number]));
    file.PutInt(L"Schemes", L"SchemeMaxIndex", added);
    return added;
}
