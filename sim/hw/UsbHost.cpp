// The machine's USB host controllers ("\\.\HCD<n>") and their root hubs ("\\.\" + the
// root hub name), answering the system's USB requests from section "Usb". Every
// request reads the machine file afresh, so a device plugged in by another process
// shows at once; a controller taken away fails the requests of handles still open.
#include <cwchar>
#include <cwctype>

#include "Platform.h"
#include "UsbState.h"
#include "HwMachine.h"
#include "ZoraUsbContract.h"

namespace vnb {
namespace {
constexpr wchar_t kHcdPrefix[] = L"\\\\.\\HCD";
constexpr wchar_t kRootHubPrefix[] = L"\\\\.\\USB#ROOT_HUB";

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The controller as the machine file holds it now; ERROR_DEV_NOT_EXIST when it went.
DWORD Current(int hcd, Machine* machine, UsbController* hc) {
    DWORD error = ReadMachine(AttachedMachine(), machine);
    if (error != ERROR_SUCCESS) return error;
    return FindUsbController(*machine, hcd, hc) && hc->present ? ERROR_SUCCESS : ERROR_DEV_NOT_EXIST;
}

class HostControllerObject : public DeviceObject {
public:
    explicit HostControllerObject(int hcd) : m_hcd(hcd) {}

    BOOL Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) override {
        *returned = 0;
        if (code != IOCTL_USB_GET_ROOT_HUB_NAME && code != IOCTL_USB_USER_REQUEST) return Fail(ERROR_INVALID_FUNCTION);
        Machine machine;
        UsbController hc;
        DWORD error = Current(m_hcd, &machine, &hc);
        if (error != ERROR_SUCCESS) return Fail(error);
        if (code == IOCTL_USB_GET_ROOT_HUB_NAME) return RootHubName(hc, out, outSize, returned);
        return UserRequest(hc, in, inSize, out, outSize, returned);
    }

private:
    // A reply too small for the name carries only the length the whole reply needs.
    static BOOL RootHubName(const UsbController& hc, void* out, DWORD outSize, DWORD* returned) {
        if (!out || outSize < sizeof(USB_ROOT_HUB_NAME)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        DWORD needed = static_cast<DWORD>(offsetof(USB_ROOT_HUB_NAME, RootHubName) +
                                          (hc.rootHub.size() + 1) * sizeof(wchar_t));
        auto* name = static_cast<USB_ROOT_HUB_NAME*>(out);
        memset(out, 0, outSize < needed ? sizeof(USB_ROOT_HUB_NAME) : needed);
        name->ActualLength = needed;
        if (outSize < needed) {
            *returned = sizeof(USB_ROOT_HUB_NAME);
            return TRUE;
        }
        memcpy(name->RootHubName, hc.rootHub.c_str(), (hc.rootHub.size() + 1) * sizeof(wchar_t));
        *returned = needed;
        return TRUE;
    }

    // The request travels in the header; its status comes back in the header too.
    static BOOL UserRequest(const UsbController& hc, const void* in, DWORD inSize, void* out, DWORD outSize,
                            DWORD* returned) {
        if (!in || !out || inSize < sizeof(USBUSER_REQUEST_HEADER) || outSize < sizeof(USBUSER_REQUEST_HEADER))
            return Fail(ERROR_INVALID_PARAMETER);
        USBUSER_REQUEST_HEADER header;
        memcpy(&header, in, sizeof(header));
        DWORD length = header.RequestBufferLength;
        if (length < sizeof(header) || length > inSize || length > outSize) {
            header.UsbUserStatusCode = UsbUserInvalidHeaderParameter;
        } else if (header.UsbUserRequest != USBUSER_GET_CONTROLLER_INFO_0) {
            header.UsbUserStatusCode = UsbUserInvalidRequestCode;
        } else if (length < sizeof(USBUSER_CONTROLLER_INFO_0)) {
            header.UsbUserStatusCode = UsbUserBufferTooSmall;
        } else {
            USBUSER_CONTROLLER_INFO_0 info{};
            info.Header = header;
            info.Header.UsbUserStatusCode = UsbUserSuccess;
            info.Header.ActualBufferLength = sizeof(info);
            info.Info0.PciVendorId = hc.vendorId;
            info.Info0.PciDeviceId = hc.deviceId;
            info.Info0.PciRevision = hc.revision;
            info.Info0.NumberOfRootPorts = static_cast<ULONG>(hc.ports);
            info.Info0.ControllerFlavor = hc.ehci ? EHCI_Generic : UHCI_Generic;
            memcpy(out, &info, sizeof(info));
            *returned = sizeof(info);
            return TRUE;
        }
        header.ActualBufferLength = sizeof(header);
        memcpy(out, &header, sizeof(header));
        *returned = sizeof(header);
        return TRUE;
    }

    int m_hcd;
};

class RootHubObject : public DeviceObject {
public:
    explicit RootHubObject(int hcd) : m_hcd(hcd) {}

    BOOL Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) override {
        *returned = 0;
        Machine machine;
        UsbController hc;
        switch (code) {
        case IOCTL_USB_GET_NODE_INFORMATION:
        case IOCTL_USB_GET_HUB_CAPABILITIES:
        case IOCTL_USB_GET_HUB_CAPABILITIES_EX:
        case IOCTL_USB_GET_NODE_CONNECTION_INFORMATION:
        case IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME: break;
        default: return Fail(ERROR_INVALID_FUNCTION);
        }
        // Windows XP's hub driver does not know the extended capabilities request.
        if (code == IOCTL_USB_GET_HUB_CAPABILITIES_EX && LOBYTE(LOWORD(GetVersion())) < 6)
            return Fail(ERROR_INVALID_FUNCTION);
        DWORD error = Current(m_hcd, &machine, &hc);
        if (error != ERROR_SUCCESS) return Fail(error);
        switch (code) {
        case IOCTL_USB_GET_NODE_INFORMATION: return NodeInformation(hc, out, outSize, returned);
        case IOCTL_USB_GET_HUB_CAPABILITIES: return Capabilities(hc, false, out, outSize, returned);
        case IOCTL_USB_GET_HUB_CAPABILITIES_EX: return Capabilities(hc, true, out, outSize, returned);
        case IOCTL_USB_GET_NODE_CONNECTION_INFORMATION:
            return ConnectionInformation(machine, hc, in, inSize, out, outSize, returned);
        default: return DriverKeyName(machine, hc, in, inSize, out, outSize, returned);
        }
    }

private:
    static BOOL NodeInformation(const UsbController& hc, void* out, DWORD outSize, DWORD* returned) {
        if (!out || outSize < sizeof(USB_NODE_INFORMATION)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        USB_NODE_INFORMATION node{};
        node.NodeType = UsbHub;
        USB_HUB_DESCRIPTOR& d = node.u.HubInformation.HubDescriptor;
        d.bDescriptorLength = static_cast<UCHAR>(7 + 2 * ((hc.ports + 8) / 8));
        d.bDescriptorType = USB_20_HUB_DESCRIPTOR_TYPE;
        d.bNumberOfPorts = static_cast<UCHAR>(hc.ports);
        d.wHubCharacteristics = 0x0009;  // per-port power switching and over-current reporting
        d.bPowerOnToPowerGood = 1;
        node.u.HubInformation.HubIsBusPowered = FALSE;
        memcpy(out, &node, sizeof(node));
        *returned = sizeof(node);
        return TRUE;
    }

    static BOOL Capabilities(const UsbController& hc, bool extended, void* out, DWORD outSize, DWORD* returned) {
        if (!out || outSize < sizeof(ULONG)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        ULONG flags = 0;
        if (extended) {
            USB_HUB_CAP_FLAGS caps{};
            caps.HubIsHighSpeedCapable = hc.ehci;
            caps.HubIsHighSpeed = hc.ehci;
            caps.HubIsRoot = 1;
            flags = caps.ul;
        } else {
            flags = hc.ehci ? 1 : 0;  // HubIs2xCapable
        }
        memcpy(out, &flags, sizeof(flags));
        *returned = sizeof(flags);
        return TRUE;
    }

    // The connection index of a request (from 1), or 0 when it names no port of this hub.
    static ULONG ConnectionIndex(const UsbController& hc, const void* in, DWORD inSize) {
        if (!in || inSize < sizeof(ULONG)) return 0;
        ULONG index = 0;
        memcpy(&index, in, sizeof(index));
        return index >= 1 && index <= static_cast<ULONG>(hc.ports) ? index : 0;
    }

    // The device on a root port as the hub sees it: none while the port is switched off
    // in the I/O hub's port disable register.
    static bool PortDevice(const Machine& machine, const UsbController& hc, ULONG index, std::wstring* description,
                           std::wstring* driver) {
        int port = static_cast<int>(index) - 1;
        return UsbPortDevice(machine, hc.hcd, port, description, driver) &&
               !hw::UsbPortSwitchedOff(machine, hc.bus, hc.device, hc.function, port);
    }

    static BOOL ConnectionInformation(const Machine& machine, const UsbController& hc, const void* in, DWORD inSize,
                                      void* out, DWORD outSize, DWORD* returned) {
        if (!out || outSize < sizeof(USB_NODE_CONNECTION_INFORMATION)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        ULONG index = ConnectionIndex(hc, in, inSize);
        if (index == 0) return Fail(ERROR_INVALID_PARAMETER);
        USB_NODE_CONNECTION_INFORMATION info{};
        info.ConnectionIndex = index;
        std::wstring description, driver;
        if (PortDevice(machine, hc, index, &description, &driver)) {
            info.ConnectionStatus = DeviceConnected;
            info.DeviceDescriptor.bLength = sizeof(USB_DEVICE_DESCRIPTOR);
            info.DeviceDescriptor.bDescriptorType = USB_DEVICE_DESCRIPTOR_TYPE;
            info.DeviceDescriptor.bcdUSB = hc.ehci ? 0x0200 : 0x0110;
            info.DeviceDescriptor.bMaxPacketSize0 = 64;
            info.DeviceDescriptor.bNumConfigurations = 1;
            info.CurrentConfigurationValue = driver.empty() ? 0 : 1;
            info.DeviceAddress = static_cast<USHORT>(index + 1);
        } else {
            info.ConnectionStatus = NoDeviceConnected;
        }
        memcpy(out, &info, sizeof(info));
        *returned = sizeof(info);
        return TRUE;
    }

    // As the hub driver does: a reply too small for the name carries the length the
    // whole reply needs and an empty name.
    static BOOL DriverKeyName(const Machine& machine, const UsbController& hc, const void* in, DWORD inSize,
                              void* out, DWORD outSize, DWORD* returned) {
        if (!out || outSize < sizeof(USB_NODE_CONNECTION_DRIVERKEY_NAME)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        ULONG index = ConnectionIndex(hc, in, inSize);
        if (index == 0) return Fail(ERROR_INVALID_PARAMETER);
        std::wstring description, driver;
        if (!PortDevice(machine, hc, index, &description, &driver))
            return Fail(ERROR_DEVICE_NOT_CONNECTED);
        if (driver.empty()) return Fail(ERROR_FILE_NOT_FOUND);  // no driver installed for it
        DWORD needed = static_cast<DWORD>(offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, DriverKeyName) +
                                          (driver.size() + 1) * sizeof(wchar_t));
        auto* name = static_cast<USB_NODE_CONNECTION_DRIVERKEY_NAME*>(out);
        memset(out, 0, outSize < needed ? sizeof(USB_NODE_CONNECTION_DRIVERKEY_NAME) : needed);
        name->ConnectionIndex = index;
        name->ActualLength = needed;
        if (outSize < needed) {
            *returned = sizeof(USB_NODE_CONNECTION_DRIVERKEY_NAME);
            return TRUE;
        }
        memcpy(name->DriverKeyName, driver.c_str(), (driver.size() + 1) * sizeof(wchar_t));
        *returned = needed;
        return TRUE;
    }

    int m_hcd;
};

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    return _wcsnicmp(text.c_str(), prefix, wcslen(prefix)) == 0;
}

// "\\.\HCD<n>", n decimal without leading zeros.
int HcdNumber(const std::wstring& path) {
    std::wstring digits = path.substr(wcslen(kHcdPrefix));
    if (digits.empty() || digits.size() > 2 || (digits.size() > 1 && digits[0] == L'0')) return -1;
    for (wchar_t c : digits)
        if (!iswdigit(c)) return -1;
    int n = _wtoi(digits.c_str());
    return n < kMaxUsbControllers ? n : -1;
}

bool OpenHostController(const std::wstring& path, std::unique_ptr<DeviceObject>* object, DWORD* error) {
    if (!StartsWith(path, kHcdPrefix)) return false;
    Machine machine;
    UsbController hc;
    int hcd = HcdNumber(path);
    *error = hcd < 0 ? ERROR_FILE_NOT_FOUND : ReadMachine(AttachedMachine(), &machine);
    if (*error != ERROR_SUCCESS) return true;
    if (!FindUsbController(machine, hcd, &hc) || !hc.present)
        *error = ERROR_FILE_NOT_FOUND;
    else
        object->reset(new HostControllerObject(hcd));
    return true;
}
DevicePath g_hostControllers(OpenHostController);

bool OpenRootHub(const std::wstring& path, std::unique_ptr<DeviceObject>* object, DWORD* error) {
    if (!StartsWith(path, kRootHubPrefix)) return false;
    Machine machine;
    *error = ReadMachine(AttachedMachine(), &machine);
    if (*error != ERROR_SUCCESS) return true;
    *error = ERROR_FILE_NOT_FOUND;
    std::wstring name = path.substr(4);
    for (const UsbController& hc : UsbControllers(machine))
        if (hc.present && _wcsicmp(hc.rootHub.c_str(), name.c_str()) == 0) {
            object->reset(new RootHubObject(hc.hcd));
            break;
        }
    return true;
}
DevicePath g_rootHubs(OpenRootHub);

}  // namespace
}  // namespace vnb
