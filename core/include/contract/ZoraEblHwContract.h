#pragma once
// Request and reply layouts of the driver functions 3-11 (PCI configuration space, I/O
// ports, physical memory, device properties). Little-endian, packed; both the library's
// hardware access interface and the driver's side include this header.
//
// The three write requests carry three bytes more than their header and data; the
// driver ignores them (zero for the memory write, unset for the others).
#include <cstddef>
#include <cstdint>

#include "ZoraEblContract.h"

constexpr uint32_t kEblDeviceNameChars = 50;   // "\Device\NTPNP_PCI%04d", terminated
constexpr uint32_t kEblDeviceObjects = 32;     // device-object indexes 0-31
constexpr uint32_t kEblWriteSlack = 3;
constexpr uint32_t kEblPropertyBusNumber = 14; // reply: bus number (u32)
constexpr uint32_t kEblPropertyAddress = 16;   // reply: device x 65536 + function (u32)

#pragma pack(push, 1)

// Function 3: IOCTL_READ_PCI_CONFIG. Reply: exactly `length` bytes.
struct EblPciReadRequest {
    wchar_t device[kEblDeviceNameChars];
    uint32_t offset;
    uint32_t length;
    uint8_t unset[4];
};

// Function 4: IOCTL_WRITE_PCI_CONFIG. Sent size: length + 111.
struct EblPciWriteHeader {
    wchar_t device[kEblDeviceNameChars];
    uint32_t offset;
    uint32_t length;
    // uint8_t data[length], then kEblWriteSlack bytes
};

// Function 5: IOCTL_ZORAEBL_PORT_READ. Reply: exactly `size` bytes.
struct EblPortReadRequest {
    uint16_t port;
    uint16_t size;
    uint32_t size32;
    uint8_t unset[4];
};

// Function 6: IOCTL_WRITE_PORT (size 1, 2 or 4). Sent size: size + 11.
struct EblPortWriteHeader {
    uint16_t port;
    uint16_t size;
    uint32_t size32;
    // uint8_t data[size], then kEblWriteSlack bytes
};

// Functions 7, 8 and 9: IOCTL_MAP_MEMORY (address = physical), IOCTL_UNMAP_MEMEMORY and
// IOCTL_READ_MEMORY (address = the mapping in the caller's process). The map reply has
// the same layout; its first 8 bytes are the mapped address.
struct EblMemoryRequest {
    uint64_t address;
    uint32_t length;
    uint32_t reserved;
};

// Function 10: IOCTL_WRITE_MEMORY. Sent size: length + 15, zero-filled.
struct EblMemoryWriteHeader {
    uint64_t address;
    uint32_t length;
    // uint8_t data[length], then kEblWriteSlack zero bytes
};

// Function 11: IOCTL_GET_DEVICE_PROPERTY. Reply: the property's 4 bytes.
struct EblPropertyRequest {
    uint32_t property;
    wchar_t device[kEblDeviceNameChars];
};

#pragma pack(pop)

static_assert(sizeof(wchar_t) == 2, "device names are UTF-16");
static_assert(sizeof(EblPciReadRequest) == 112, "function 3 request");
static_assert(offsetof(EblPciReadRequest, offset) == 100 && offsetof(EblPciReadRequest, length) == 104 &&
                  offsetof(EblPciReadRequest, unset) == 108,
              "function 3 fields");
static_assert(sizeof(EblPciWriteHeader) == 108, "function 4 header");
static_assert(offsetof(EblPciWriteHeader, offset) == 100 && offsetof(EblPciWriteHeader, length) == 104,
              "function 4 fields");
static_assert(sizeof(EblPortReadRequest) == 12, "function 5 request");
static_assert(offsetof(EblPortReadRequest, size) == 2 && offsetof(EblPortReadRequest, size32) == 4 &&
                  offsetof(EblPortReadRequest, unset) == 8,
              "function 5 fields");
static_assert(sizeof(EblPortWriteHeader) == 8, "function 6 header");
static_assert(offsetof(EblPortWriteHeader, size) == 2 && offsetof(EblPortWriteHeader, size32) == 4,
              "function 6 fields");
static_assert(sizeof(EblMemoryRequest) == 16, "functions 7-9 request");
static_assert(offsetof(EblMemoryRequest, length) == 8 && offsetof(EblMemoryRequest, reserved) == 12,
              "functions 7-9 fields");
static_assert(sizeof(EblMemoryWriteHeader) == 12, "function 10 header");
static_assert(offsetof(EblMemoryWriteHeader, length) == 8, "function 10 fields");
static_assert(sizeof(EblPropertyRequest) == 104, "function 11 request");
static_assert(offsetof(EblPropertyRequest, device) == 4, "function 11 fields");
static_assert(IOCTL_WRITE_PCI_CONFIG == 0x82260010u && IOCTL_ZORAEBL_PORT_READ == 0x82260014u &&
                  IOCTL_WRITE_PORT == 0x82260018u && IOCTL_MAP_MEMORY == 0x8226001cu &&
                  IOCTL_UNMAP_MEMEMORY == 0x82260020u && IOCTL_READ_MEMORY == 0x82260024u &&
                  IOCTL_WRITE_MEMORY == 0x82260028u,
              "functions 4-10");
