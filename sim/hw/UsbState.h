#pragma once
// The machine's USB host controllers and the devices plugged into their root ports:
// section "Usb" of the machine file.
//
// The default machine is a mobile I/O controller hub of the Vista era (ICH9-M-like):
// six UHCI controllers of 2 ports each and two EHCI controllers of 6 ports each, twelve
// physical ports. Physical port p is routed to EHCI D29:F7 port p (p < 6) or EHCI
// D26:F7 port p-6, and to its UHCI companion D29:F0/F1/F2, D26:F0/F1/F2 port p%2; a
// high-speed device shows on the EHCI port, a full/low-speed one on the UHCI port.
// A port switched off in the I/O hub's port disable register shows no device to either
// root hub.
// The HCD numbers follow the order the controllers were started (the PCI scan, device
// 26 before 29, then UHCI #6), so they are NOT in the order of the PCI device
// identifiers:
//
//   HCD  kind  PCI (b:d.f)  device  ports  physical ports   attached by default
//   0    UHCI  0:26.0       0x2937  2      6,7              port 1: a device without driver
//   1    UHCI  0:26.1       0x2938  2      8,9              port 0: "Fingerprint Sensor"
//   2    EHCI  0:26.7       0x293C  6      6..11
//   3    UHCI  0:29.0       0x2934  2      0,1
//   4    UHCI  0:29.1       0x2935  2      2,3
//   5    UHCI  0:29.2       0x2936  2      4,5              port 0: "Integrated Bluetooth Radio"
//   6    EHCI  0:29.7       0x293A  6      0..5             port 3: "Integrated USB 1.3M Webcam"
//   7    UHCI  0:26.2       0x2939  2      10,11
//
// Keys (n = HCD number 0..31, k = port within the controller from 0; numbers decimal
// or 0x-hex):
//   HCD<n>.Kind=UHCI | EHCI            the controller exists ("\\.\HCD<n>" answers)
//   HCD<n>.Present=1                   0: opening "\\.\HCD<n>" fails, ERROR_FILE_NOT_FOUND
//   HCD<n>.VendorId / .DeviceId / .Revision     PCI identification
//   HCD<n>.Bus / .Device / .Function   PCI location
//   HCD<n>.Ports=2                     root ports
//   HCD<n>.RootHub=USB#ROOT_HUB#...    root hub name (opened as "\\.\" + name)
//   HCD<n>.Port<k>=<DriverDesc>        a device is attached to port k
//   HCD<n>.Port<k>.Driver={class}\NNNN its driver key, a subkey of the class keys
//                                      (HKLM SYSTEM\CurrentControlSet\Control\Class); empty: no driver
//                                      installed, the enumerator names it "Unknown Device"
//   HCD<n>.Port<k>.Owned=1             the class key was made by VnbAttachUsbDevice and
//                                      goes with VnbDetachUsbDevice (the default
//                                      devices' keys are shared by every machine)
//
// Tools and tests attach and detach devices with the exports VnbAttachUsbDevice and
// VnbDetachUsbDevice (ZoraVnb.h, block "USB host controllers"); the controller there
// is the HCD number and the port is counted from 0.
#include <windows.h>

#include <string>
#include <vector>

#include "MachineFile.h"

namespace vnb {

constexpr int kMaxUsbControllers = 32;  // "\\.\HCD0" ... "\\.\HCD31"

struct UsbController {
    int hcd = -1;  // "\\.\HCD<hcd>"
    bool ehci = false;
    bool present = true;
    DWORD vendorId = 0, deviceId = 0, revision = 0;
    int bus = 0, device = 0, function = 0;
    int ports = 0;
    std::wstring rootHub;
};

// The machine's controllers in HCD order.
std::vector<UsbController> UsbControllers(const Machine& m);
// False when the controller or port does not exist.
bool FindUsbController(const Machine& m, int controller, UsbController* out);
// The HCD number of the controller at that PCI location, or -1.
int UsbControllerAt(const Machine& m, int bus, int device, int function);
// A device is plugged into port `port` (from 0) of controller `controller` (HCD number).
bool UsbDeviceAttached(const Machine& m, int controller, int port);
// The attached device's "DriverDesc" and driver key (empty: no driver); false when the
// port is empty.
bool UsbPortDevice(const Machine& m, int controller, int port, std::wstring* description, std::wstring* driver);

}  // namespace vnb
