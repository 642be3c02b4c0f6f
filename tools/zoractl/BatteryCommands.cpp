// zoractl battery: the power source, the charge and the time to full or to empty, then
// every item ZORACfg.ini's [BatteryInforList] configures, for every battery, labelled
// and formatted as the battery dialog shows them; the items the dialog does not show
// are marked "(not shown)".
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "BatAgent.h"
#include "SchemeEx.h"
#include "ZORACfg.h"
#include "ZoractlCommands.h"

namespace {

std::wstring Duration(unsigned long seconds) {
    if (seconds == 0xFFFFFFFF) return L"unknown";
    wchar_t text[32];
    swprintf(text, 32, L"%lu:%02lu", seconds / 3600, seconds / 60 % 60);
    return text;
}

// A format for one double: at most one conversion, and that one f, e or g ("%%" aside).
bool OneDoubleFormat(const wchar_t* format) {
    int conversions = 0;
    for (const wchar_t* p = format; *p; ++p) {
        if (*p != L'%') continue;
        if (p[1] == L'%') {
            ++p;
            continue;
        }
        ++p;
        while (*p && wcschr(L"-+ #0123456789.", *p)) ++p;
        if (!*p || !wcschr(L"feEgG", *p)) return false;
        ++conversions;
    }
    return conversions <= 1;
}

std::wstring StateText(CSchemeEx& scheme, int battery) {
    BATTERY_STATUS status = {};
    if (scheme.GetBatteryStatus(battery, status) != 0) return L"cannot be read";
    std::wstring text = L"idle";  // the last matching bit wins, as in the dialog
    if (status.PowerState & BATTERY_DISCHARGING) text = L"discharging";
    if (status.PowerState & BATTERY_POWER_ON_LINE) text = L"on mains";
    if (status.PowerState & BATTERY_CHARGING) text = L"charging";
    if (status.PowerState & BATTERY_CRITICAL) text = L"critical";
    return text;
}

// One configured item of a battery as the dialog would show it.
std::wstring ItemText(CSchemeEx& scheme, CZORACfg& cfg, const wchar_t* list, int item, int battery,
                      const wchar_t* name) {
    if (wcscmp(name, L"Battery Status") == 0) return StateText(scheme, battery);
    if (wcscmp(name, L"Remaining Percentage") == 0)
        return std::to_wstring(static_cast<int>(scheme.GetRemainBatPer(battery) * 100)) + L"%";
    if (wcscmp(name, L"Remaining Time") == 0) return Duration(scheme.GetCompleteTime(battery));
    wchar_t key[32], format[64], text[128];
    double quotient = -1.0;
    if (const wchar_t* separator = wcsstr(name, L" / ")) {
        // "A / B": item A over item B, 0 while B reads 0.
        std::wstring numeratorName(name, static_cast<size_t>(separator - name));
        unsigned long numerator = 0, denominator = 0;
        if (scheme.GetBatteryInformation(battery, numeratorName.c_str(), &numerator) != 0 ||
            scheme.GetBatteryInformation(battery, separator + 3, &denominator) != 0)
            return L"cannot be read";
        quotient = denominator != 0 ? static_cast<double>(numerator) / denominator : 0.0;
    }
    unsigned long value = 0;
    if (quotient < 0 && scheme.GetBatteryInformation(battery, name, &value) != 0) return L"cannot be read";
    if (wcscmp(name, L"Capabilities") == 0) {
        swprintf(text, 128, L"0x%lx", value);
        return text;
    }
    if (wcscmp(name, L"Technology") == 0) return value == 0 ? L"primary" : value == 1 ? L"rechargeable" : L"unknown";
    if (wcscmp(name, L"Chemistry") == 0) {
        char chars[5] = {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                         static_cast<char>(value >> 24), 0};
        swprintf(text, 128, L"%hs", chars);
        return text;
    }
    swprintf(key, 32, L"%lsFactor%d", list, item);
    int factor = cfg.GetInt(L"BatteryInforList", key, 0);
    swprintf(key, 32, L"%lsFormat%d", list, item);
    if (cfg.GetString(L"BatteryInforList", key, L"", format, 64) <= 0 || !OneDoubleFormat(format))
        wcscpy(format, L"%.0f");
    double read = quotient >= 0 ? quotient : static_cast<double>(value);
    double scaled = factor > 0 ? read * factor : factor < 0 ? read / -factor : read;
    swprintf(text, 128, format, scaled);
    return text;
}

}  // namespace

int ShowBatteries(int argc, wchar_t**) {
    if (argc != 0) return 2;
    CSchemeEx scheme;
    SYSTEM_POWER_STATUS power = {};
    CBatAgent::GetSystemPowerStatus(&power);
    unsigned long count = scheme.GetBatteryCount();
    wprintf(L"power source : %ls\n", power.ACLineStatus == 1 ? L"mains" : power.ACLineStatus == 0 ? L"battery"
                                                                                              : L"unknown");
    wprintf(L"batteries    : %lu\n", count);
    if (count == 0) return 0;
    unsigned long seconds = scheme.GetCompleteTime(0);
    wprintf(L"charge       : %d%%\n", static_cast<int>(scheme.GetRemainBatPer(0) * 100));
    wprintf(L"%ls: %ls\n", power.BatteryFlag & 8 ? L"time to full " : L"time to empty", Duration(seconds).c_str());

    CZORACfg cfg;
    if (!cfg.Initialize(L"ZORACfg.ini")) {
        wprintf(L"ZORACfg.ini cannot be found: no battery items\n");
        return 1;
    }
    for (unsigned long battery = 0; battery < count; ++battery) {
        wprintf(L"battery %lu\n", battery + 1);
        for (const wchar_t* list : {L"BA", L"BEA"}) {
            wchar_t key[32], name[128], label[128];
            swprintf(key, 32, L"%lsItemNum", list);
            int items = cfg.GetInt(L"BatteryInforList", key, 0);
            for (int item = 0; item < items; ++item) {
                swprintf(key, 32, L"%lsName%d", list, item);
                if (cfg.GetString(L"BatteryInforList", key, L"", name, 128) <= 0) continue;
                swprintf(key, 32, L"%lsDescription%d", list, item);
                cfg.GetString(L"BatteryInforList", key, name, label, 128);
                swprintf(key, 32, L"%lsShow%d", list, item);
                bool shown = cfg.GetInt(L"BatteryInforList", key, 0) == 1;
                wprintf(L"  %-40ls %ls%ls\n", label,
                        ItemText(scheme, cfg, list, item, static_cast<int>(battery), name).c_str(),
                        shown ? L"" : L"  (not shown)");
            }
        }
    }
    return 0;
}
