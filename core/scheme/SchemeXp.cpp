// The schemes of Windows XP: numbered schemes of the power-profile functions, each a
// whole policy record (a user and a machine part) and a processor policy record, read,
// changed and written back whole. The time-outs and the processor policy live there.
#include "SchemeEx.h"

#include <cwchar>
#include <utility>

#include "SchemeFiles.h"
#include "SchemePolicy.h"
#include "ZoraPowerVariables.h"
#include "ZoraSystemApi.h"

using namespace zora_vars;

namespace {

struct Records {
    POWER_POLICY power;
    MACHINE_PROCESSOR_POWER_POLICY processor;
};

bool ReadRecords(UINT id, Records* records) {
    *records = {};
    if (!ZoraSys()->ReadPwrScheme(id, &records->power)) {
        CZORABase::DBGOUT(L"CSchemeEx::GetPwrVariable: Can't read pwr scheme: %ld", static_cast<long>(id));
        return false;
    }
    if (!ZoraSys()->ReadProcessorPwrScheme(id, &records->processor)) {
        CZORABase::DBGOUT(L"CSchemeEx::GetPwrVariable: Can't read cpu scheme: %ld", static_cast<long>(id));
        return false;
    }
    return true;
}

// The members of one power source.
struct Side {
    Side(Records& r, int ac)
        : action(ac ? r.power.user.IdleAc.Action : r.power.user.IdleDc.Action),
          idle(ac ? r.power.user.IdleTimeoutAc : r.power.user.IdleTimeoutDc),
          afterSleep(ac ? r.power.mach.DozeS4TimeoutAc : r.power.mach.DozeS4TimeoutDc),
          video(ac ? r.power.user.VideoTimeoutAc : r.power.user.VideoTimeoutDc),
          spindown(ac ? r.power.user.SpindownTimeoutAc : r.power.user.SpindownTimeoutDc),
          throttlePolicy(ac ? r.power.user.ThrottlePolicyAc : r.power.user.ThrottlePolicyDc),
          forcedThrottle(ac ? r.power.user.ForcedThrottleAc : r.power.user.ForcedThrottleDc),
          dynamicThrottle(ac ? r.processor.ProcessorPolicyAc.DynamicThrottle
                             : r.processor.ProcessorPolicyDc.DynamicThrottle) {}

    // The idle time to hibernation: directly, or standby and then the time asleep.
    ULONG Hibernation() const {
        if (action == PowerActionHibernate) return idle;
        return action == PowerActionSleep && afterSleep ? idle + afterSleep : 0;
    }

    POWER_ACTION& action;
    ULONG& idle;
    ULONG& afterSleep;  // time asleep before hibernating
    ULONG& video;
    ULONG& spindown;
    UCHAR& throttlePolicy;
    UCHAR& forcedThrottle;
    BYTE& dynamicThrottle;
};

BOOLEAN CALLBACK ForwardScheme(UINT index, DWORD nameSize, LPWSTR name, DWORD descriptionSize, LPWSTR description,
                               PPOWER_POLICY, LPARAM forward) {
    auto* to = reinterpret_cast<std::pair<EnumPwrSchemesProc, LONG_PTR>*>(forward);
    return to->first(index, nameSize, name, descriptionSize, description, to->second) ? TRUE : FALSE;
}

}  // namespace

int xp_policy::Enumerate(EnumPwrSchemesProc callback, LONG_PTR userValue) {
    std::pair<EnumPwrSchemesProc, LONG_PTR> to(callback, userValue);
    return ZoraSys()->EnumPwrSchemes(ForwardScheme, reinterpret_cast<LPARAM>(&to)) ? 1 : 0;
}

int CSchemeEx::XpGetPolicyVariable(int index, int ac, int number) {
    Records records;
    if (!ReadRecords(static_cast<UINT>(index), &records)) return -1;
    Side side(records, ac);
    switch (number) {
    case MonitorOffTimeOut:
        return static_cast<int>(side.video);
    case DiskOffTimeOut:
        return static_cast<int>(side.spindown);
    case StandbyTimeOut:
        return side.action == PowerActionSleep ? static_cast<int>(side.idle) : 0;
    case HibernateTimeOut:
        return static_cast<int>(side.Hibernation());
    case CpuAdaptive:
        return side.throttlePolicy;
    case CpuSpeed:
        return side.forcedThrottle;
    default:  // XP keeps no throttle limits
        return -1;
    }
}

int CSchemeEx::XpSetPolicyVariable(int index, int ac, int number, int value) {
    Records records;
    if (!ReadRecords(static_cast<UINT>(index), &records)) return -1;
    Side side(records, ac);
    ULONG seconds = static_cast<ULONG>(value);
    switch (number) {
    case MonitorOffTimeOut:
        side.video = seconds;
        break;
    case DiskOffTimeOut:
        side.spindown = seconds;
        break;
    case StandbyTimeOut: {
        // Hibernation keeps its total idle time, so standby must come before it.
        ULONG hibernation = side.Hibernation();
        if (hibernation && seconds >= hibernation) return -2;
        side.idle = seconds;
        side.afterSleep = hibernation ? hibernation - seconds : 0;
        if (seconds) {
            side.action = PowerActionSleep;
        } else if (side.afterSleep) {
            side.action = PowerActionHibernate;
            side.idle = side.afterSleep;
            side.afterSleep = 0;
        } else {
            side.action = PowerActionNone;
        }
        break;
    }
    case HibernateTimeOut: {
        if (side.action == PowerActionHibernate) {
            side.idle = seconds;
            break;
        }
        long after = static_cast<long>(seconds) - static_cast<long>(side.idle);
        // On mains hibernation must come after standby; on battery it may come with it,
        // which turns it off.
        if (ac ? after <= 0 : after < 0) {
            if (seconds) return -2;
            after = 0;
        }
        side.afterSleep = static_cast<ULONG>(after);
        if (side.idle) {
            side.action = PowerActionSleep;
        } else if (after) {
            side.action = PowerActionHibernate;
            side.idle = static_cast<ULONG>(after);
            side.afterSleep = 0;
        } else {
            side.action = PowerActionNone;
        }
        break;
    }
    case CpuAdaptive:
        side.dynamicThrottle = static_cast<BYTE>(value);
        side.throttlePolicy = static_cast<UCHAR>(value);
        side.forcedThrottle = 100;
        break;
    case CpuSpeed:
        side.throttlePolicy = 0;
        side.dynamicThrottle = 0;
        side.forcedThrottle = static_cast<UCHAR>(value);
        break;
    default:  // the throttle limits: nothing of XP's changes
        break;
    }
    UINT id = static_cast<UINT>(index);
    if (!ZoraSys()->WriteProcessorPwrScheme(id, &records.processor)) return -1;
    if (!ZoraSys()->WritePwrScheme(&id, nullptr, nullptr, &records.power)) return -1;
    return 1;
}

int CSchemeEx::XpAddScheme(const wchar_t* name, const wchar_t* description, int base) {
    int added = GetPwrSchemeMaxIndex() + 1;
    Records records;
    if (!ReadRecords(static_cast<UINT>(base), &records)) return -1;
    UINT id = static_cast<UINT>(added);
    if (!ZoraSys()->WritePwrScheme(&id, const_cast<wchar_t*>(name), const_cast<wchar_t*>(description),
                                   &records.power))
        return -1;
    if (!ZoraSys()->WriteProcessorPwrScheme(id, &records.processor)) return -1;

    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, xp_policy::kPowerCfg, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, key.put()) ==
        ERROR_SUCCESS) {
        wchar_t text[16];
        swprintf(text, 16, L"%d", added);
        RegSetValueExW(key.get(), L"LastID", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    }
    return added;
}
