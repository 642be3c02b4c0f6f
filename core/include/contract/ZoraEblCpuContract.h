#pragma once
// Request and reply layouts of the driver's firmware method call (function 0) and its
// MSR access (functions 1 and 2). Little-endian, no padding.
#include <cstddef>
#include <cstdint>

#include "ZoraEblContract.h"

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

// IOCTL_ZORAEBL_CALL_METHOD request.
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

// IOCTL_ZORAEBL_MSR_READ request.
struct ZoraEblMsrIndex {
    uint32_t index;
};

// IOCTL_ZORAEBL_MSR_READ reply and IOCTL_ZORAEBL_MSR_WRITE request.
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
