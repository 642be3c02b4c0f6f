#pragma once
// The kernel driver's contract: its device path and control codes. Every code has device
// type 0x8226, buffered transfer, any access: 0x82260000 + 4 x function. The request and
// reply layouts of each function are in the headers of the agents' sides.
#include <cstdint>

#define ZORAEBL_DEVICE_PATH L"\\\\.\\zoraebl"

constexpr uint32_t kZoraEblDeviceType = 0x8226;

constexpr uint32_t ZoraEblCode(uint32_t function) { return (kZoraEblDeviceType << 16) | (function << 2); }

enum ZoraEblFunction : uint32_t {
    kEblCallMethod = 0,
    kEblMsrRead = 1,
    kEblMsrWrite = 2,
    kEblReadPciConfig = 3,
    kEblWritePciConfig = 4,
    kEblPortRead = 5,
    kEblWritePort = 6,
    kEblMapMemory = 7,
    kEblUnmapMemory = 8,
    kEblReadMemory = 9,
    kEblWriteMemory = 10,
    kEblGetDeviceProperty = 11,
};

constexpr uint32_t IOCTL_ZORAEBL_CALL_METHOD = ZoraEblCode(kEblCallMethod);
constexpr uint32_t IOCTL_ZORAEBL_MSR_READ = ZoraEblCode(kEblMsrRead);
constexpr uint32_t IOCTL_ZORAEBL_MSR_WRITE = ZoraEblCode(kEblMsrWrite);
constexpr uint32_t IOCTL_READ_PCI_CONFIG = ZoraEblCode(kEblReadPciConfig);
constexpr uint32_t IOCTL_WRITE_PCI_CONFIG = ZoraEblCode(kEblWritePciConfig);
constexpr uint32_t IOCTL_ZORAEBL_PORT_READ = ZoraEblCode(kEblPortRead);
constexpr uint32_t IOCTL_WRITE_PORT = ZoraEblCode(kEblWritePort);
constexpr uint32_t IOCTL_MAP_MEMORY = ZoraEblCode(kEblMapMemory);
constexpr uint32_t IOCTL_UNMAP_MEMEMORY = ZoraEblCode(kEblUnmapMemory);
constexpr uint32_t IOCTL_READ_MEMORY = ZoraEblCode(kEblReadMemory);
constexpr uint32_t IOCTL_WRITE_MEMORY = ZoraEblCode(kEblWriteMemory);
constexpr uint32_t IOCTL_GET_DEVICE_PROPERTY = ZoraEblCode(kEblGetDeviceProperty);

static_assert(IOCTL_ZORAEBL_CALL_METHOD == 0x82260000u, "function 0");
static_assert(IOCTL_ZORAEBL_MSR_READ == 0x82260004u, "function 1");
static_assert(IOCTL_READ_PCI_CONFIG == 0x8226000cu, "function 3");
static_assert(IOCTL_GET_DEVICE_PROPERTY == 0x8226002cu, "function 11");
