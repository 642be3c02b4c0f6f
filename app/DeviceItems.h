// The device items: the entries of [SchemeItemList] that switch a device (IfDevice 1),
// allowed on this Windows version and supported by the platform, read once at start-up;
// and the state a scheme gives each of them for a power source, which the tray's scheme
// switch, the device dialog and the balloon's device view show.
#pragma once

#include <list>
#include <string>

namespace talo {

// One entry of the device item list: [SchemeItemList] Item<i> that is a device.
struct DeviceDesp {
    int item = 0;        // i of Item<i>
    int state = -1;      // -1 unknown, 0 off, 1 on in the scheme being shown
    std::wstring key;    // the power variable
    std::wstring name;   // DeviceName<i>
};

// The process-wide list, in [SchemeItemList] order.
std::list<DeviceDesp>& DeviceItems();
int LoadDeviceItems();
void FreeDeviceItems();

// Sets the state of each device of devices for the scheme and power source (ac 1 mains,
// 0 battery): from the user's enforce record ([EnforceSetting] of the scheme file) where
// it is for that scheme and source and holds the device, otherwise the scheme's own value.
// The number of devices switched off (all recorded ones where the record applies).
int ComputeDeviceStates(std::list<DeviceDesp>& devices, int schemeIndex, int ac);

}  // namespace talo
