#pragma once
// The machine's batteries (sections "Battery0" ... "Battery5" and "Batteries", described
// in Batteries.cpp) as the system power status sees them.
#include "MachineFile.h"

namespace vnb {

// Lets the time since the machine's battery clock pass: each present battery charges
// (on mains, up to its full charge) or discharges (on battery, down to 0) by its rate,
// and the system power status in machine->power is derived anew from the batteries and
// the AC line. A machine without battery slots keeps the power status it holds.
void SettleBatteries(Machine* machine);

// Sets every present battery to `percent` of its full charge; false when the machine
// has no present battery.
bool SetBatteryPercent(Machine* machine, unsigned percent);

// The percentage the batteries hold together, or 255 without a present battery.
unsigned BatteryPercent(const Machine& machine);

}  // namespace vnb
