// Functions 3-11 of the driver "\\.\zoraebl": PCI configuration space by device-object
// name, I/O ports, physical memory and device properties of the hub's functions. Each
// request is one update of the machine file under its mutex.
//
// A memory mapping is a private page image in the calling process (at the same address
// again for the same register once it was unmapped). The image is brought up to date with
// the machine, and what the caller changed in it directly since then is written back byte
// by byte, at every read, write and unmap through the mapping, all in one hold of the
// machine mutex; so writers in several threads and processes never lose each other's
// changes.
#include <cstring>
#include <cwchar>
#include <map>
#include <mutex>
#include <vector>

#include "HwMachine.h"
#include "Platform.h"
#include "ZoraEblContract.h"

namespace vnb {
namespace hw {
namespace {

constexpr uint32_t kMaxMapping = 1024 * 1024;
constexpr uint32_t kPage = 4096;

// Runs one request against the machine: body returns the driver's error code (0 for
// success) and fills *returned.
template <class Body>
BOOL Serve(const void* in, DWORD inSize, DWORD* returned, Body body) {
    DWORD driverError = ERROR_SUCCESS;
    DWORD count = 0;
    DWORD fileError = UpdateMachine(AttachedMachine(), [&](Machine& machine) -> DWORD {
        HwState state;
        if (!state.Load(machine)) {
            driverError = ERROR_NOT_READY;
            return ERROR_SUCCESS;
        }
        driverError = body(state, &count);
        state.Save(&machine);
        return ERROR_SUCCESS;
    });
    DWORD error = fileError != ERROR_SUCCESS ? fileError : driverError;
    *returned = error == ERROR_SUCCESS ? count : 0;
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

// "\Device\NTPNP_PCI%04d" with index 0-31, terminated inside the field.
PciFunction* ObjectByName(HwState& state, const wchar_t* field) {
    if (wmemchr(field, L'\0', kEblDeviceNameChars) == nullptr) return nullptr;
    const wchar_t prefix[] = L"\\Device\\NTPNP_PCI";
    size_t prefixLength = wcslen(prefix);
    if (wcsncmp(field, prefix, prefixLength) != 0 || wcslen(field) != prefixLength + 4) return nullptr;
    int index = 0;
    for (size_t i = prefixLength; i < prefixLength + 4; ++i) {
        if (field[i] < L'0' || field[i] > L'9') return nullptr;
        index = index * 10 + (field[i] - L'0');
    }
    return index < static_cast<int>(kEblDeviceObjects) ? state.FindObject(index) : nullptr;
}

BOOL ReadPciConfig(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    return Serve(in, inSize, returned, [&](HwState& state, DWORD* count) -> DWORD {
        EblPciReadRequest request;
        if (!in || inSize < offsetof(EblPciReadRequest, unset)) return ERROR_INVALID_PARAMETER;
        memcpy(&request, in, offsetof(EblPciReadRequest, unset));
        PciFunction* f = ObjectByName(state, request.device);
        if (!f) return ERROR_FILE_NOT_FOUND;
        if (request.length == 0 || request.offset >= static_cast<uint32_t>(kConfigBytes) || !out)
            return ERROR_INVALID_PARAMETER;
        // A read past the end of configuration space returns what there is.
        uint32_t n = request.length;
        if (n > kConfigBytes - request.offset) n = kConfigBytes - request.offset;
        if (n > outSize) n = outSize;
        for (uint32_t i = 0; i < n; ++i)
            static_cast<uint8_t*>(out)[i] = state.ReadConfig(*f, static_cast<int>(request.offset + i));
        *count = n;
        return ERROR_SUCCESS;
    });
}

BOOL WritePciConfig(const void* in, DWORD inSize, void*, DWORD, DWORD* returned) {
    return Serve(in, inSize, returned, [&](HwState& state, DWORD*) -> DWORD {
        EblPciWriteHeader header;
        if (!in || inSize < sizeof(header)) return ERROR_INVALID_PARAMETER;
        memcpy(&header, in, sizeof(header));
        if (header.length == 0 || inSize - sizeof(header) < header.length) return ERROR_INVALID_PARAMETER;
        PciFunction* f = ObjectByName(state, header.device);
        if (!f) return ERROR_FILE_NOT_FOUND;
        if (header.offset >= static_cast<uint32_t>(kConfigBytes) || header.length > kConfigBytes - header.offset)
            return ERROR_INVALID_PARAMETER;
        const uint8_t* data = static_cast<const uint8_t*>(in) + sizeof(header);
        for (uint32_t i = 0; i < header.length; ++i) state.WriteConfig(f, static_cast<int>(header.offset + i), data[i]);
        return ERROR_SUCCESS;
    });
}

BOOL PortRead(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    return Serve(in, inSize, returned, [&](HwState& state, DWORD* count) -> DWORD {
        EblPortReadRequest request;
        if (!in || inSize < offsetof(EblPortReadRequest, unset)) return ERROR_INVALID_PARAMETER;
        memcpy(&request, in, offsetof(EblPortReadRequest, unset));
        if (request.size == 0 || !out) return ERROR_INVALID_PARAMETER;
        // One port access is at most a double word wide.
        uint32_t n = request.size < 4 ? request.size : 4;
        if (n > outSize) n = outSize;
        for (uint32_t i = 0; i < n; ++i)
            static_cast<uint8_t*>(out)[i] = state.ReadIo(static_cast<uint16_t>(request.port + i), true);
        *count = n;
        return ERROR_SUCCESS;
    });
}

BOOL WritePort(const void* in, DWORD inSize, void*, DWORD, DWORD* returned) {
    return Serve(in, inSize, returned, [&](HwState& state, DWORD*) -> DWORD {
        EblPortWriteHeader header;
        if (!in || inSize < sizeof(header)) return ERROR_INVALID_PARAMETER;
        memcpy(&header, in, sizeof(header));
        if ((header.size != 1 && header.size != 2 && header.size != 4) || inSize - sizeof(header) < header.size)
            return ERROR_INVALID_PARAMETER;
        const uint8_t* data = static_cast<const uint8_t*>(in) + sizeof(header);
        for (uint32_t i = 0; i < header.size; ++i) state.WriteIo(static_cast<uint16_t>(header.port + i), data[i]);
        return ERROR_SUCCESS;
    });
}

struct Mapping {
    uint8_t* allocation = nullptr;
    size_t bytes = 0;          // whole pages
    uint8_t* image = nullptr;  // the address handed out
    uint32_t physical = 0;
    uint32_t length = 0;
    std::vector<uint8_t> shadow;  // the image as last brought up to date
};

std::mutex g_mappingsLock;  // taken before the machine mutex, never after
std::map<uintptr_t, Mapping>& Mappings() {
    static std::map<uintptr_t, Mapping> mappings;
    return mappings;
}

// The address range of an unmapped region, kept reserved but without its pages (so a
// stale pointer into it still faults), by physical address and length: mapping the same
// register again hands out the same address, as the system maps the same I/O space
// again, and the recorded requests through it stay the same.
std::map<std::pair<uint32_t, uint32_t>, uint8_t*>& SpareRanges() {
    static std::map<std::pair<uint32_t, uint32_t>, uint8_t*> spares;
    return spares;
}

uint8_t* CommitRange(uint32_t physical, uint32_t length, size_t bytes) {
    auto spare = SpareRanges().find({physical, length});
    if (spare != SpareRanges().end()) {
        uint8_t* range = spare->second;
        SpareRanges().erase(spare);
        if (VirtualAlloc(range, bytes, MEM_COMMIT, PAGE_READWRITE)) return range;
        VirtualFree(range, 0, MEM_RELEASE);
    }
    return static_cast<uint8_t*>(VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

void ReleaseRange(const Mapping& m) {
    VirtualFree(m.allocation, m.bytes, MEM_DECOMMIT);
    uint8_t*& spare = SpareRanges()[{m.physical, m.length}];
    if (spare) VirtualFree(spare, 0, MEM_RELEASE);  // one kept per register
    spare = m.allocation;
}

void WriteBackAndRefresh(HwState& state, Mapping& m) {
    for (uint32_t i = 0; i < m.length; ++i)
        if (m.image[i] != m.shadow[i]) state.WriteMemory(m.physical + i, m.image[i]);
    for (uint32_t i = 0; i < m.length; ++i) m.image[i] = m.shadow[i] = state.ReadMemory(m.physical + i);
}

// The mapping that holds [address, address + length), or null.
Mapping* FindMapping(uint64_t address, uint32_t length) {
    for (auto& item : Mappings()) {
        Mapping& m = item.second;
        uint64_t begin = reinterpret_cast<uintptr_t>(m.image);
        if (address >= begin && address - begin <= m.length && length <= m.length - (address - begin)) return &m;
    }
    return nullptr;
}

bool ReadMemoryRequest(const void* in, DWORD inSize, EblMemoryRequest* request) {
    if (!in || inSize < offsetof(EblMemoryRequest, reserved)) return false;
    *request = EblMemoryRequest{};
    memcpy(request, in, offsetof(EblMemoryRequest, reserved));
    return true;
}

BOOL MapMemory(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    std::lock_guard<std::mutex> hold(g_mappingsLock);
    Mapping fresh;
    return Serve(in, inSize, returned, [&](HwState& state, DWORD* count) -> DWORD {
        EblMemoryRequest request;
        if (!ReadMemoryRequest(in, inSize, &request) || !out || outSize < sizeof(uint64_t)) return ERROR_INVALID_PARAMETER;
        if (request.length == 0 || request.length > kMaxMapping || request.address > 0xFFFFFFFFull ||
            request.address + request.length > 0x100000000ull)
            return ERROR_INVALID_PARAMETER;
        uint32_t pageOffset = static_cast<uint32_t>(request.address % kPage);
        size_t bytes = (pageOffset + request.length + kPage - 1) / kPage * kPage;
        fresh.allocation = CommitRange(static_cast<uint32_t>(request.address), request.length, bytes);
        if (!fresh.allocation) return ERROR_NOT_ENOUGH_MEMORY;
        fresh.bytes = bytes;
        fresh.image = fresh.allocation + pageOffset;
        fresh.physical = static_cast<uint32_t>(request.address);
        fresh.length = request.length;
        fresh.shadow.assign(request.length, 0);
        WriteBackAndRefresh(state, fresh);
        EblMemoryRequest reply{reinterpret_cast<uintptr_t>(fresh.image), request.length, 0};
        *count = outSize < sizeof(reply) ? static_cast<DWORD>(sizeof(uint64_t)) : static_cast<DWORD>(sizeof(reply));
        memcpy(out, &reply, *count);
        Mappings()[reinterpret_cast<uintptr_t>(fresh.image)] = fresh;
        return ERROR_SUCCESS;
    });
}

BOOL UnmapMemory(const void* in, DWORD inSize, void*, DWORD, DWORD* returned) {
    std::lock_guard<std::mutex> hold(g_mappingsLock);
    return Serve(in, inSize, returned, [&](HwState& state, DWORD*) -> DWORD {
        EblMemoryRequest request;
        if (!ReadMemoryRequest(in, inSize, &request)) return ERROR_INVALID_PARAMETER;
        auto it = Mappings().find(static_cast<uintptr_t>(request.address));
        if (it == Mappings().end()) return ERROR_INVALID_PARAMETER;
        WriteBackAndRefresh(state, it->second);
        ReleaseRange(it->second);
        Mappings().erase(it);
        return ERROR_SUCCESS;
    });
}

BOOL ReadMemory(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    std::lock_guard<std::mutex> hold(g_mappingsLock);
    return Serve(in, inSize, returned, [&](HwState& state, DWORD* count) -> DWORD {
        EblMemoryRequest request;
        if (!ReadMemoryRequest(in, inSize, &request) || !out || request.length == 0) return ERROR_INVALID_PARAMETER;
        Mapping* m = FindMapping(request.address, request.length);
        if (!m) return ERROR_INVALID_PARAMETER;
        WriteBackAndRefresh(state, *m);
        uint32_t n = request.length < outSize ? request.length : outSize;
        memcpy(out, reinterpret_cast<const void*>(static_cast<uintptr_t>(request.address)), n);
        *count = n;
        return ERROR_SUCCESS;
    });
}

BOOL WriteMemory(const void* in, DWORD inSize, void*, DWORD, DWORD* returned) {
    std::lock_guard<std::mutex> hold(g_mappingsLock);
    return Serve(in, inSize, returned, [&](HwState& state, DWORD*) -> DWORD {
        EblMemoryWriteHeader header;
        if (!in || inSize < sizeof(header)) return ERROR_INVALID_PARAMETER;
        memcpy(&header, in, sizeof(header));
        if (header.length == 0 || inSize - sizeof(header) < header.length) return ERROR_INVALID_PARAMETER;
        Mapping* m = FindMapping(header.address, header.length);
        if (!m) return ERROR_INVALID_PARAMETER;
        WriteBackAndRefresh(state, *m);
        uint32_t at = static_cast<uint32_t>(header.address - reinterpret_cast<uintptr_t>(m->image));
        const uint8_t* data = static_cast<const uint8_t*>(in) + sizeof(header);
        for (uint32_t i = 0; i < header.length; ++i) state.WriteMemory(m->physical + at + i, data[i]);
        WriteBackAndRefresh(state, *m);
        return ERROR_SUCCESS;
    });
}

BOOL GetDeviceProperty(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    return Serve(in, inSize, returned, [&](HwState& state, DWORD* count) -> DWORD {
        EblPropertyRequest request;
        if (!in || inSize < sizeof(request)) return ERROR_INVALID_PARAMETER;
        memcpy(&request, in, sizeof(request));
        PciFunction* f = ObjectByName(state, request.device);
        if (!f) return ERROR_FILE_NOT_FOUND;
        uint32_t value = 0;
        if (request.property == kEblPropertyBusNumber)
            value = static_cast<uint32_t>(f->bus);
        else if (request.property == kEblPropertyAddress)
            value = static_cast<uint32_t>(f->device) * 65536 + static_cast<uint32_t>(f->function);
        else
            return ERROR_INVALID_PARAMETER;
        if (!out || outSize < sizeof(value)) return ERROR_INSUFFICIENT_BUFFER;
        memcpy(out, &value, sizeof(value));
        *count = sizeof(value);
        return ERROR_SUCCESS;
    });
}

DriverFunctionEntry g_readPciConfig(kEblReadPciConfig, ReadPciConfig);
DriverFunctionEntry g_writePciConfig(kEblWritePciConfig, WritePciConfig);
DriverFunctionEntry g_portRead(kEblPortRead, PortRead);
DriverFunctionEntry g_writePort(kEblWritePort, WritePort);
DriverFunctionEntry g_mapMemory(kEblMapMemory, MapMemory);
DriverFunctionEntry g_unmapMemory(kEblUnmapMemory, UnmapMemory);
DriverFunctionEntry g_readMemory(kEblReadMemory, ReadMemory);
DriverFunctionEntry g_writeMemory(kEblWriteMemory, WriteMemory);
DriverFunctionEntry g_getDeviceProperty(kEblGetDeviceProperty, GetDeviceProperty);

}  // namespace
}  // namespace hw
}  // namespace vnb
