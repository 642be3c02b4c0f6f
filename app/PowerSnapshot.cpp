#include "PowerSnapshot.h"

#include "SchemeEx.h"

namespace talo {
namespace {

static_assert(sizeof(SYSTEM_BATTERY_STATE) == 32, "the system's battery record");

PowerSnapshot g_current;
PowerSnapshot g_shown;

}  // namespace

PowerSnapshot& CurrentPower() { return g_current; }
PowerSnapshot& ShownPower() { return g_shown; }

void PollPower(PowerSnapshot& snapshot, SYSTEM_BATTERY_STATE& battery) {
    const PowerSnapshot previous = snapshot;
    const SYSTEM_BATTERY_STATE last = battery;
    snapshot = PowerSnapshot{};
    CSchemeEx scheme;
    scheme.Initialize();
    unsigned long seconds = 0;
    float fraction = 0.0f;
    scheme.GetBatteryReading(battery, seconds, fraction);
    if (!battery.AcOnLine)
        snapshot.sourceState = PowerSnapshot::kBattery;
    else
        snapshot.sourceState = battery.Charging ? PowerSnapshot::kAcCharging : PowerSnapshot::kAcIdle;
    if (battery.BatteryPresent) {
        const bool sameBatteries = previous.sourceState != PowerSnapshot::kUnknown && previous.batteryCount > 0 &&
                                   last.BatteryPresent && last.MaxCapacity == battery.MaxCapacity;
        snapshot.batteryCount = sameBatteries ? previous.batteryCount : static_cast<int>(scheme.GetBatteryCount());
        snapshot.remainingTime = static_cast<int>(seconds);
        snapshot.percentage = static_cast<int>(fraction * 100.0);
    } else {
        snapshot.batteryCount = 0;
        snapshot.remainingTime = 0;
        snapshot.percentage = 0;
    }
}

}  // namespace talo
