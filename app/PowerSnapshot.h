// What TALO last learnt of the power source and the batteries: written by the hub's
// power poll every second, read by the tray icon, the tray menu's scheme switch, the
// quick switch and the balloon. Process-wide, used on the user-interface thread only.
#pragma once

#include <windows.h>

namespace talo {

struct PowerSnapshot {
    // The power source as the poll saw it.
    enum Source { kUnknown = 0, kAcIdle = 1, kAcCharging = 2, kBattery = 4 };

    int sourceState = kUnknown;
    int batteryCount = 0;
    int remainingTime = -1;  // seconds, as CSchemeEx::GetCompleteTime(0) gives them
    int percentage = -1;     // 0..100

    // The AC flag the scheme operations take: 1 on mains, 0 on battery, -1 before the
    // first poll (nothing may be switched then).
    int AcFlag() const {
        if (sourceState == kAcIdle || sourceState == kAcCharging) return 1;
        if (sourceState == kBattery) return 0;
        return -1;
    }
};

// The values of the last poll.
PowerSnapshot& CurrentPower();
// The values the tray icon shows, copied from CurrentPower after each icon update.
PowerSnapshot& ShownPower();

// The power poll: the system's battery record, read once (CSchemeEx::GetBatteryReading),
// into battery, and from that one reading the source, the remaining time and the charge
// into snapshot (all 0 without a battery). On entry snapshot and battery hold the previous
// poll's values (or are as a hub starts them): the batteries are counted again
// (CSchemeEx::GetBatteryCount, which opens each battery) only when the reading says the
// set of batteries may have changed (one came or went: the presence or the sum of the
// full-charge capacities changed) or the last count found none; otherwise the count is
// the previous poll's.
void PollPower(PowerSnapshot& snapshot, SYSTEM_BATTERY_STATE& battery);

}  // namespace talo
