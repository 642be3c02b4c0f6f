#pragma once
// The kernel driver "\\.\zoraebl": its device path, control codes, and the request and
// reply records of every function. The library's hardware access and the driver's side
// both include this header; nothing else defines the driver's interface.
//
// Every code has device type 0x8226, buffered transfer, any access: 0x82260000 + 4 x
// function. Records are little-endian and packed. The three write requests (functions 4,
// 6 and 10) carry three bytes more than their header and data; the driver ignores them
// (zero for the memory write, unset for the others).
#include <cstddef>
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

static_assert(IOCTL_ZORAEBL_CALL_METHOD == 0x82260000u && IOCTL_ZORAEBL_MSR_READ == 0x82260004u &&
                  IOCTL_ZORAEBL_MSR_WRITE == 0x82260008u && IOCTL_READ_PCI_CONFIG == 0x8226000cu &&
                  IOCTL_WRITE_PCI_CONFIG == 0x82260010u && IOCTL_ZORAEBL_PORT_READ == 0x82260014u &&
                  IOCTL_WRITE_PORT == 0x82260018u && IOCTL_MAP_MEMORY == 0x8226001cu &&
                  IOCTL_UNMAP_MEMEMORY == 0x82260020u && IOCTL_READ_MEMORY == 0x82260024u &&
                  IOCTL_WRITE_MEMORY == 0x82260028u && IOCTL_GET_DEVICE_PROPERTY == 0x8226002cu,
              "control codes of functions 0-11");
static_assert(sizeof(wchar_t) == 2, "device names are UTF-16");

// ---- Function 0: firmware (embedded-controller) method call; functions 1-2: MSRs ----

// A four-letter method tag as the request carries it: the characters in reading
// order, so "GRDI" is the bytes 'G' 'R' 'D' 'I'.
constexpr uint32_t ZoraEblMethodTag(const char (&tag)[5]) {
    return uint32_t(uint8_t(tag[0])) | uint32_t(uint8_t(tag[1])) << 8 | uint32_t(uint8_t(tag[2])) << 16 |
           uint32_t(uint8_t(tag[3])) << 24;
}

constexpr uint32_t kEblMethodRead = ZoraEblMethodTag("GRDI");
constexpr uint32_t kEblMethodWrite = ZoraEblMethodTag("GWRI");
constexpr uint32_t kEblMethodSelfTest = ZoraEblMethodTag("GDBG");
constexpr uint32_t kEblMethodStatus = ZoraEblMethodTag("_STA");
constexpr uint32_t kEblMethodBattery = ZoraEblMethodTag("EBTR");

// Function 0: IOCTL_ZORAEBL_CALL_METHOD request.
struct ZoraEblRequest {
    uint32_t method;
    uint32_t argument1;
    uint32_t argument2;
    uint32_t argument3;
};

// Reply of every method but "EBTR": the method's result.
struct ZoraEblMethodReply {
    uint32_t result;
};

// Reply of "EBTR": rows of which only the low byte carries data.
constexpr uint32_t kEblBatteryRowCount = 12;
struct ZoraEblBatteryReply {
    uint32_t rows[kEblBatteryRowCount];
};

// Function 1: IOCTL_ZORAEBL_MSR_READ request.
struct ZoraEblMsrIndex {
    uint32_t index;
};

// Function 1 reply and function 2 (IOCTL_ZORAEBL_MSR_WRITE) request.
struct ZoraEblMsrRecord {
    uint32_t index;
    uint32_t high;  // bits 32-63
    uint32_t low;   // bits 0-31
};

static_assert(ZoraEblMethodTag("GRDI") == 0x49445247u, "tag bytes in reading order");
static_assert(sizeof(ZoraEblRequest) == 16, "method request");
static_assert(offsetof(ZoraEblRequest, method) == 0, "method request");
static_assert(offsetof(ZoraEblRequest, argument1) == 4, "method request");
static_assert(offsetof(ZoraEblRequest, argument2) == 8, "method request");
static_assert(offsetof(ZoraEblRequest, argument3) == 12, "method request");
static_assert(sizeof(ZoraEblMethodReply) == 4, "method reply");
static_assert(sizeof(ZoraEblBatteryReply) == 48, "battery reply");
static_assert(offsetof(ZoraEblBatteryReply, rows) == 0, "battery reply");
static_assert(sizeof(ZoraEblMsrIndex) == 4, "MSR read request");
static_assert(offsetof(ZoraEblMsrIndex, index) == 0, "MSR read request");
static_assert(sizeof(ZoraEblMsrRecord) == 12, "MSR record");
static_assert(offsetof(ZoraEblMsrRecord, index) == 0, "MSR record");
static_assert(offsetof(ZoraEblMsrRecord, high) == 4, "MSR record");
static_assert(offsetof(ZoraEblMsrRecord, low) == 8, "MSR record");

// ---- Functions 3-11: PCI configuration space, I/O ports, physical memory, device properties ----

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
