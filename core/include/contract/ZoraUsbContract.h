#pragma once
// The USB requests the host-controller enumerator sends and the machine's host
// controllers and root hubs answer: the system's own IOCTL_USB_* codes and records,
// with the sizes both sides rely on.
#include <windows.h>
#include <winioctl.h>
#include <usb.h>
#include <usbioctl.h>
#include <usbiodef.h>
#include <usbuser.h>

#include <cstddef>

static_assert(sizeof(USB_ROOT_HUB_NAME) == 6, "root hub name header");
static_assert(offsetof(USB_ROOT_HUB_NAME, RootHubName) == 4, "root hub name text");
static_assert(sizeof(USB_HUB_DESCRIPTOR) == 71, "hub descriptor");
static_assert(offsetof(USB_HUB_DESCRIPTOR, bNumberOfPorts) == 2, "hub descriptor port count");
static_assert(sizeof(USB_NODE_INFORMATION) == 76, "node information");
static_assert(offsetof(USB_NODE_INFORMATION, u) == 4, "node information union");
static_assert(sizeof(USB_HUB_CAPABILITIES) == 4, "hub capabilities");
static_assert(sizeof(USB_HUB_CAPABILITIES_EX) == 4, "hub capabilities (Vista)");
static_assert(sizeof(USBUSER_REQUEST_HEADER) == 16, "user request header");
static_assert(sizeof(USBUSER_CONTROLLER_INFO_0) == 40, "controller information request");
static_assert(offsetof(USBUSER_CONTROLLER_INFO_0, Info0) == 16, "controller information record");
static_assert(offsetof(USB_CONTROLLER_INFO_0, PciDeviceId) == 4, "controller device identifier");
static_assert(sizeof(USB_DEVICE_DESCRIPTOR) == 18, "device descriptor");
static_assert(sizeof(USB_NODE_CONNECTION_INFORMATION) == 35, "connection information");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION, DeviceDescriptor) == 4, "connection descriptor");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION, ConnectionStatus) == 31, "connection status");
static_assert(sizeof(USB_NODE_CONNECTION_DRIVERKEY_NAME) == 10, "driver key name header");
static_assert(offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, ActualLength) == 4, "driver key name length");
static_assert(offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, DriverKeyName) == 8, "driver key name text");

// The host controllers' device paths ("\\.\HCD0" ... "\\.\HCD31").
#define ZORA_USB_HCD_PATH_FORMAT L"\\\\.\\HCD%d"
constexpr int kZoraUsbMaxHcds = 32;
