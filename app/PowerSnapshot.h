// What TALO last learnt of the power source and the batteries: written by the hub's
// power poll every second, read by the tray icon, the tray menu's scheme switch, the
// quick switch and the balloon. Process-wide, used on the user-interface thread only.
#pragma once

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

}  // namespace talo
