// The six power schemes of a fresh Windows XP installation, ids 0 to 5.
//
// Where the values come from:
// - The user part (USER_POWER_POLICY, HKCU "Control Panel\PowerCfg\PowerPolicies\<n>"),
//   with the names and descriptions: byte for byte the records Windows' default user
//   profile carries, as public registry listings of that key show them (for example a
//   "reg add" restore script of HKCU\Control Panel\PowerCfg on GitHub). Their timeouts
//   agree with the published tables below.
// - Monitor, disks, standby and hibernation:
//   * Home/Office Desk and Always On: the "powercfg /query" output printed in
//     "How can I set power configuration options outside the Power Options Control Panel
//     applet?" (ITPro Today): 0 = monitor 20/5 min, disks never/10 min, standby never/
//     5 min, hibernation never/20 min; 3 = monitor 20/15 min, disks never/30 min, no
//     standby, no hibernation (AC/battery).
//   * Portable/Laptop: "How to Tweak Power Options in XP Registries" (eHow: monitor
//     15 min, disks 30 min, standby 20 min, hibernation 3 hours on mains) and the NEC
//     Versa P9210 series manual's "Windows XP Operating System Power Management States"
//     (LCD 15/5 min, standby 20/5 min, hibernation 3/2 hours).
// - The processor's throttling per scheme: the table in "Choose a Power Scheme"
//   (helpwithwindows.com) and "Processor Throttling In Windows XP" (digitmemo.com):
//   High = PO_THROTTLE_NONE, Adapt = PO_THROTTLE_ADAPTIVE, Degrade = PO_THROTTLE_DEGRADE;
//   Presentation is Adapt/Degrade, like Max Battery, as the second page and the stored
//   records have it (the first page's "Low" for it is not what XP stores). The same
//   value is the processor policy's DynamicThrottle.
// - The meaning of the machine fields: Microsoft Learn, "MACHINE_POWER_POLICY
//   structure": DozeS4Timeout is the time from entering standby to hibernating, so it
//   is the published hibernation time less the standby time.
//
// Chosen, for want of a published value (marked "chosen" below): the hibernation of
// Presentation, Minimal Power Management and Max Battery; the machine part's sleep
// states (S1 lightest, S1 with latency requests), minimum throttle (50 %) and
// over-throttle action (standby, critical, overriding applications, as a Windows 98
// setup record of Always On has them); the processor policy's C-state thresholds.
#include "XpSchemeDefaults.h"

namespace vnb {
namespace {

constexpr ULONG kMinute = 60;
constexpr ULONG kHour = 60 * kMinute;

struct Row {
    UINT id;
    const wchar_t* name;
    const wchar_t* description;
    ULONG idleFlagsAc, idleFlagsDc;  // the idle action is standby (PowerActionSleep)
    ULONG standbyAc, standbyDc;      // IdleTimeout, seconds; 0 never
    UCHAR throttleAc, throttleDc;    // PO_THROTTLE_*
    ULONG monitorAc, monitorDc;      // VideoTimeout
    ULONG disksAc, disksDc;          // SpindownTimeout
    BOOLEAN optimizeAc, optimizeDc;  // OptimizeForPower
    UCHAR fanAc, fanDc;              // FanThrottleTolerance
    ULONG hibernateAc, hibernateDc;  // from idle, seconds; 0 never
};

constexpr ULONG kQuery = POWER_ACTION_QUERY_ALLOWED;
constexpr ULONG kQueryOverride = POWER_ACTION_QUERY_ALLOWED | POWER_ACTION_OVERRIDE_APPS;
constexpr UCHAR kHigh = PO_THROTTLE_NONE, kAdapt = PO_THROTTLE_ADAPTIVE, kDegrade = PO_THROTTLE_DEGRADE;

const Row kRows[kXpBuiltInSchemeCount] = {
    {0, L"Home/Office Desk",
     L"This scheme is suited to most home or desktop computers that are left plugged in all the time.", kQuery, 0,
     0, 5 * kMinute, kHigh, kAdapt, 20 * kMinute, 5 * kMinute, 0, 10 * kMinute, TRUE, TRUE, 100, 80, 0,
     20 * kMinute},
    {1, L"Portable/Laptop", L"This scheme is designed for extended battery life for portable computers on the road.",
     kQuery, kQuery, 20 * kMinute, 5 * kMinute, kAdapt, kAdapt, 15 * kMinute, 5 * kMinute, 30 * kMinute, 5 * kMinute,
     TRUE, TRUE, 100, 80, 3 * kHour, 2 * kHour},
    // Hibernation chosen: never, as the scheme keeps the machine up for the talk.
    {2, L"Presentation", L"This scheme keeps the monitor on for doing presentations.", kQuery, kQuery, 0,
     15 * kMinute, kAdapt, kDegrade, 0, 0, 0, 5 * kMinute, TRUE, TRUE, 80, 80, 0, 0},
    {3, L"Always On",
     L"This scheme keeps the computer running so that it can be accessed from the network.  Use this scheme if you "
     L"do not have network wakeup hardware.",
     kQuery, 0, 0, 0, kHigh, kHigh, 20 * kMinute, 15 * kMinute, 0, 30 * kMinute, FALSE, TRUE, 100, 100, 0, 0},
    // Hibernation chosen: never, as the scheme "keeps the computer on".
    {4, L"Minimal Power Management", L"This scheme keeps the computer on and optimizes it for high performance.",
     kQuery, 0, 0, 5 * kMinute, kAdapt, kAdapt, 15 * kMinute, 5 * kMinute, 0, 15 * kMinute, FALSE, TRUE, 100, 100, 0,
     0},
    // Hibernation chosen: 3 hours on mains as Portable/Laptop, 1 hour on battery.
    {5, L"Max Battery", L"This scheme is extremely aggressive for saving power.", kQuery, kQueryOverride,
     20 * kMinute, 2 * kMinute, kAdapt, kDegrade, 15 * kMinute, 1 * kMinute, 0, 3 * kMinute, TRUE, TRUE, 100, 50,
     3 * kHour, 1 * kHour},
};

// Hibernation is counted from standby; every scheme that hibernates also stands by.
constexpr ULONG DozeS4(ULONG hibernate, ULONG standby) { return hibernate ? hibernate - standby : 0; }

USER_POWER_POLICY UserPart(const Row& row) {
    USER_POWER_POLICY user{};
    user.Revision = 1;
    user.IdleAc = {PowerActionSleep, row.idleFlagsAc, 0};
    user.IdleDc = {PowerActionSleep, row.idleFlagsDc, 0};
    user.IdleTimeoutAc = row.standbyAc;
    user.IdleTimeoutDc = row.standbyDc;
    user.IdleSensitivityAc = user.IdleSensitivityDc = 50;
    user.ThrottlePolicyAc = row.throttleAc;
    user.ThrottlePolicyDc = row.throttleDc;
    user.MaxSleepAc = user.MaxSleepDc = PowerSystemSleeping3;
    user.VideoTimeoutAc = row.monitorAc;
    user.VideoTimeoutDc = row.monitorDc;
    user.SpindownTimeoutAc = row.disksAc;
    user.SpindownTimeoutDc = row.disksDc;
    user.OptimizeForPowerAc = row.optimizeAc;
    user.OptimizeForPowerDc = row.optimizeDc;
    user.FanThrottleToleranceAc = row.fanAc;
    user.FanThrottleToleranceDc = row.fanDc;
    user.ForcedThrottleAc = user.ForcedThrottleDc = 100;
    return user;
}

MACHINE_POWER_POLICY MachinePart(const Row& row) {
    // Chosen: the sleep states, minimum throttle and over-throttle action (see the top).
    constexpr POWER_ACTION_POLICY kOverThrottled = {
        PowerActionSleep, POWER_ACTION_OVERRIDE_APPS | POWER_ACTION_DISABLE_WAKES | POWER_ACTION_CRITICAL, 0};
    MACHINE_POWER_POLICY machine{};
    machine.Revision = 1;
    machine.MinSleepAc = machine.MinSleepDc = PowerSystemSleeping1;
    machine.ReducedLatencySleepAc = machine.ReducedLatencySleepDc = PowerSystemSleeping1;
    machine.DozeS4TimeoutAc = DozeS4(row.hibernateAc, row.standbyAc);
    machine.DozeS4TimeoutDc = DozeS4(row.hibernateDc, row.standbyDc);
    machine.MinThrottleAc = machine.MinThrottleDc = 50;
    machine.OverThrottledAc = machine.OverThrottledDc = kOverThrottled;
    return machine;
}

// Chosen: C1 promotes to C2 after 100 us idle and is never left downwards; C2 demotes
// below 100 us and promotes past 800 us; C3 demotes below 800 us.
PROCESSOR_POWER_POLICY ProcessorPart(UCHAR throttle) {
    PROCESSOR_POWER_POLICY policy{};
    policy.Revision = 1;
    policy.DynamicThrottle = throttle;
    policy.PolicyCount = 3;
    policy.Policy[0] = {0, 0, 100, 0, 10, {0, 0}, 0, 1, 0};
    policy.Policy[1] = {100, 100, 800, 40, 20, {0, 0}, 1, 1, 0};
    policy.Policy[2] = {800, 800, 0, 40, 0, {0, 0}, 1, 0, 0};
    return policy;
}

struct Table {
    XpBuiltInScheme schemes[kXpBuiltInSchemeCount];
    Table() {
        for (UINT i = 0; i < kXpBuiltInSchemeCount; ++i) {
            const Row& row = kRows[i];
            XpBuiltInScheme& scheme = schemes[i];
            scheme.id = row.id;
            scheme.name = row.name;
            scheme.description = row.description;
            scheme.user = UserPart(row);
            scheme.machine = MachinePart(row);
            scheme.processor = MACHINE_PROCESSOR_POWER_POLICY{};
            scheme.processor.Revision = 1;
            scheme.processor.ProcessorPolicyAc = ProcessorPart(row.throttleAc);
            scheme.processor.ProcessorPolicyDc = ProcessorPart(row.throttleDc);
        }
    }
};
}  // namespace

const XpBuiltInScheme& XpBuiltInSchemeAt(UINT id) {
    static const Table table;
    return table.schemes[id < kXpBuiltInSchemeCount ? id : 0];
}

}  // namespace vnb
