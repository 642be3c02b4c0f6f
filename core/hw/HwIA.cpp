#include "HwIA.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <mutex>
#include <vector>

#include "SharedHandles.h"
#include "ZoraEblContract.h"
#include "ZoraSystemApi.h"

namespace {
constexpr long kAlreadyDone = 1;
constexpr unsigned long kNoAddress = 0xFFFFFFFFul;

// The module's device table. The service drives agents from several threads, so every
// look-up and rebuild holds the lock.
PciDevicePropEntry g_pciDevicePropTable[kEblDeviceObjects];
std::mutex g_pciTableLock;

bool CopyDeviceName(wchar_t (&field)[kEblDeviceNameChars], const wchar_t* device) {
    size_t length = wcslen(device);
    if (length >= kEblDeviceNameChars) return false;
    wmemset(field, L'\0', kEblDeviceNameChars);
    wmemcpy(field, device, length);
    return true;
}

bool SameAddress(const PciDevicePropEntry& entry, unsigned long bus, unsigned long device, unsigned long function) {
    return entry.bus == bus && entry.device == device && entry.function == function;
}

// One request to the driver: S_OK, or E_FAIL after the operation's message, whose one
// argument (%ld) is the system's error code.
long CallDriver(HANDLE driver, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                const wchar_t* failure, DWORD* returned = nullptr) {
    DWORD count = 0;
    if (ZoraSys()->DeviceIoControl(driver, code, const_cast<void*>(in), inSize, out, outSize, &count, nullptr)) {
        if (returned) *returned = count;
        return S_OK;
    }
    CZORABase::DBGOUT(failure, static_cast<long>(GetLastError()));
    return E_FAIL;
}

// A write request: its header, `length` data bytes and the driver's three trailing
// bytes, zero-filled.
template <class Header>
std::vector<uint8_t> WriteRequest(const Header& header, const void* data, size_t length) {
    std::vector<uint8_t> request(sizeof(header) + length + kEblWriteSlack, 0);
    memcpy(request.data(), &header, sizeof(header));
    memcpy(request.data() + sizeof(header), data, length);
    return request;
}

// Index of the first entry at that address, or -1.
int FindEntry(unsigned long bus, unsigned long device, unsigned long function) {
    for (uint32_t i = 0; i < kEblDeviceObjects; ++i)
        if (SameAddress(g_pciDevicePropTable[i], bus, device, function)) return static_cast<int>(i);
    return -1;
}
}  // namespace

CHwIA::CHwIA() : m_hDriver(INVALID_HANDLE_VALUE) {}
CHwIA::CHwIA(const CHwIA& other) : CZORABase(other), m_hDriver(other.m_hDriver) { shared_handle::Hold(m_hDriver); }

CHwIA& CHwIA::operator=(const CHwIA& other) {
    CZORABase::operator=(other);
    shared_handle::Hold(other.m_hDriver);
    shared_handle::Release(m_hDriver);
    m_hDriver = other.m_hDriver;
    return *this;
}

unsigned long CHwIA::GetVersion() { return 1000; }

CHwIA::~CHwIA() { shared_handle::Release(m_hDriver); }

bool CHwIA::HandleValid() {
    if (m_hDriver != INVALID_HANDLE_VALUE) return true;
    DBGOUT(L"The handle of the device doesn't exist.");
    return false;
}

long CHwIA::Setup() {
    if (m_hDriver != INVALID_HANDLE_VALUE) return kAlreadyDone;
    m_hDriver = ZoraSys()->CreateFileW(ZORAEBL_DEVICE_PATH, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_hDriver == INVALID_HANDLE_VALUE) {
        DBGOUT(L"Open connection with driver failed for %d", static_cast<int>(GetLastError()));
        return E_FAIL;
    }
    shared_handle::Hold(m_hDriver);
    return S_OK;
}

long CHwIA::Cleanup() {
    shared_handle::Release(m_hDriver);
    m_hDriver = INVALID_HANDLE_VALUE;
    return S_OK;
}

long CHwIA::ReadMSR(unsigned long index, unsigned __int64* value) {
    if (!HandleValid()) return E_FAIL;
    ZoraEblMsrIndex request{static_cast<uint32_t>(index)};
    ZoraEblMsrRecord reply{};
    if (CallDriver(m_hDriver, IOCTL_ZORAEBL_MSR_READ, &request, sizeof(request), &reply, sizeof(reply),
                    L"IOCTL_ZORAEBL_MSR_READ failed for %ld") != S_OK)
        return E_FAIL;
    if (value) *value = (static_cast<unsigned __int64>(reply.high) << 32) | reply.low;
    return S_OK;
}

long CHwIA::WriteMSR(unsigned long index, unsigned __int64* value) {
    if (!HandleValid()) return E_FAIL;
    // No value is no write: an MSR must never take a value nobody chose.
    if (!value) {
        DBGOUT(L"Invalidate parameters.");
        return E_FAIL;
    }
    ZoraEblMsrRecord request{static_cast<uint32_t>(index), static_cast<uint32_t>(*value >> 32),
                             static_cast<uint32_t>(*value)};
    return CallDriver(m_hDriver, IOCTL_ZORAEBL_MSR_WRITE, &request, sizeof(request), nullptr, 0,
                      L"IOCTL_ZORAEBL_MSR_WRITE failed for %ld");
}

long CHwIA::ReadIoPort(unsigned long port, void* buffer, unsigned short size) {
    if (!HandleValid()) return E_FAIL;
    EblPortReadRequest request;  // the last four bytes are not read by the driver
    request.port = static_cast<uint16_t>(port);
    request.size = size;
    request.size32 = size;
    DWORD returned = 0;
    if (CallDriver(m_hDriver, IOCTL_ZORAEBL_PORT_READ, &request, sizeof(request), buffer, size,
                    L"IOCTL_ZORAEBL_PORT_READ failed for %ld", &returned) != S_OK)
        return E_FAIL;
    return returned == size ? S_OK : E_FAIL;
}

long CHwIA::WriteIoPort(unsigned long port, void* data, unsigned short size) {
    if (!HandleValid()) return E_FAIL;
    if (size != 1 && size != 2 && size != 4) {
        DBGOUT(L"The uPortSize is invalid %d.", static_cast<int>(size));
        return E_FAIL;
    }
    // No data is no write: the port must never take bytes nobody chose.
    if (!data) {
        DBGOUT(L"Invalidate parameters.");
        return E_FAIL;
    }
    std::vector<uint8_t> request =
        WriteRequest(EblPortWriteHeader{static_cast<uint16_t>(port), size, size}, data, size);
    return CallDriver(m_hDriver, IOCTL_WRITE_PORT, request.data(), static_cast<DWORD>(request.size()), nullptr, 0,
                      L"IOCTL_WRITE_PORT failed for %ld");
}

long CHwIA::MapMemorySpace(void* physical, unsigned long length, void** handle) {
    if (!HandleValid()) return E_FAIL;
    if (!physical || !length || !handle) {
        DBGOUT(L"Invalidate parameters.");
        return E_FAIL;
    }
    auto record = std::make_unique<MemorySpaceHandle>();
    EblMemoryRequest request{reinterpret_cast<uintptr_t>(physical), static_cast<uint32_t>(length), 0};
    if (CallDriver(m_hDriver, IOCTL_MAP_MEMORY, &request, sizeof(request), record.get(), sizeof(*record),
                   L"IOCTL_MAP_MEMORY failed for %ld") != S_OK) {
        // A record that maps nothing is of no use to the caller: it is not handed out.
        *handle = nullptr;
        return E_FAIL;
    }
    record->length = length;
    record->reserved = 0;
    *handle = record.release();
    return S_OK;
}

long CHwIA::UnmapMemorySpace(void* handle) {
    if (!HandleValid()) return E_FAIL;
    if (!handle) {
        DBGOUT(L"Invalidate parameters.");
        return E_FAIL;
    }
    std::unique_ptr<MemorySpaceHandle> record(static_cast<MemorySpaceHandle*>(handle));
    EblMemoryRequest request{record->address, static_cast<uint32_t>(record->length),
                             static_cast<uint32_t>(record->reserved)};
    return CallDriver(m_hDriver, IOCTL_UNMAP_MEMEMORY, &request, sizeof(request), nullptr, 0,
                      L"IOCTL_UNMAP_MEMEMORY failed for %ld");
}

long CHwIA::ReadMemory(void* handle, void* buffer, unsigned long length) {
    if (!HandleValid()) return E_FAIL;
    if (!handle || !buffer || !length) {
        DBGOUT(L"Invalidate parameters.");
        return E_FAIL;
    }
    EblMemoryRequest request{static_cast<MemorySpaceHandle*>(handle)->address, static_cast<uint32_t>(length), 0};
    return CallDriver(m_hDriver, IOCTL_READ_MEMORY, &request, sizeof(request), buffer, length,
                      L"IOCTL_READ_MEMORY failed for %ld");
}

long CHwIA::WriteMemory(void* handle, void* data, unsigned long length) {
    if (!HandleValid()) return E_FAIL;
    if (!handle || !data || !length) {
        DBGOUT(L"Invalidate parameters.");
        return E_FAIL;
    }
    std::vector<uint8_t> request = WriteRequest(
        EblMemoryWriteHeader{static_cast<MemorySpaceHandle*>(handle)->address, static_cast<uint32_t>(length)}, data,
        length);
    return CallDriver(m_hDriver, IOCTL_WRITE_MEMORY, request.data(), static_cast<DWORD>(request.size()), nullptr, 0,
                      L"IOCTL_WRITE_MEMORY failed for %ld");
}

long CHwIA::ReadPCIConfig(const wchar_t* device, unsigned long offset, void* buffer, unsigned long length) {
    if (!HandleValid()) return E_FAIL;
    EblPciReadRequest request;  // the last four bytes are not read by the driver
    if (!device || !buffer || !length || !CopyDeviceName(request.device, device)) {
        DBGOUT(L"Invalidate parameters.");
        return E_FAIL;
    }
    request.offset = offset;
    request.length = length;
    DWORD returned = 0;
    if (CallDriver(m_hDriver, IOCTL_READ_PCI_CONFIG, &request, sizeof(request), buffer, length,
                    L"IOCTL_READ_PCI_CONFIG failed for %ld", &returned) != S_OK)
        return E_FAIL;
    if (returned != length) {
        DBGOUT(L"IOCTL_READ_PCI_CONFIG failed");
        return E_FAIL;
    }
    return S_OK;
}

long CHwIA::WritePCIConfig(const wchar_t* device, unsigned long offset, void* data, unsigned long length) {
    if (!HandleValid()) return E_FAIL;
    EblPciWriteHeader header;
    if (!device || !data || !length || !CopyDeviceName(header.device, device)) {
        DBGOUT(L"Invalidate parameters.");
        return E_FAIL;
    }
    header.offset = offset;
    header.length = length;
    std::vector<uint8_t> request = WriteRequest(header, data, length);
    return CallDriver(m_hDriver, IOCTL_WRITE_PCI_CONFIG, request.data(), static_cast<DWORD>(request.size()), nullptr,
                      0, L"pPciCfgBuffer failed for %ld");
}

long CHwIA::GetDeviceProperty(unsigned long property, wchar_t* device, void* buffer, unsigned long size) {
    EblPropertyRequest request{};
    if (!device || !CopyDeviceName(request.device, device)) {
        DBGOUT(L"The device name is too long");
        return E_FAIL;
    }
    request.property = property;
    return CallDriver(m_hDriver, IOCTL_GET_DEVICE_PROPERTY, &request, sizeof(request), buffer, size,
                      L"IOCTL_GET_DEVICE_PROPERTY failed for %ld");
}

// Callers hold g_pciTableLock.
long CHwIA::InitDevicePropTable() {
    for (uint32_t i = 0; i < kEblDeviceObjects; ++i) {
        PciDevicePropEntry& entry = g_pciDevicePropTable[i];
        _snwprintf(entry.name, kEblDeviceNameChars, L"\\Device\\NTPNP_PCI%04d", static_cast<int>(i));
        entry.name[kEblDeviceNameChars - 1] = L'\0';
        // An object that no longer answers (its device was re-enumerated under another
        // number) must not keep the address it had: the search would find it first.
        uint32_t bus = 0, address = 0;
        if (GetDeviceProperty(kEblPropertyBusNumber, entry.name, &bus, sizeof(bus)) != S_OK ||
            GetDeviceProperty(kEblPropertyAddress, entry.name, &address, sizeof(address)) != S_OK) {
            entry.bus = entry.device = entry.function = kNoAddress;
            continue;
        }
        entry.bus = bus;
        entry.device = address >> 16;
        entry.function = address & 0xFFFF;
    }
    return S_OK;
}

long CHwIA::GetDeviceName(unsigned long bus, unsigned long device, unsigned long function, wchar_t* name,
                          unsigned long size) {
    if (!name || size < kEblDeviceNameChars + 1) return E_FAIL;
    std::lock_guard<std::mutex> hold(g_pciTableLock);
    int found = FindEntry(bus, device, function);
    if (found >= 0) {
        PciDevicePropEntry& entry = g_pciDevicePropTable[found];
        uint32_t actualBus = 0, address = 0;
        if (GetDeviceProperty(kEblPropertyBusNumber, entry.name, &actualBus, sizeof(actualBus)) == S_OK &&
            actualBus == bus &&
            GetDeviceProperty(kEblPropertyAddress, entry.name, &address, sizeof(address)) == S_OK &&
            address == device * 65536 + function) {
            lstrcpynW(name, entry.name, static_cast<int>(size));
            return S_OK;
        }
    }
    InitDevicePropTable();
    found = FindEntry(bus, device, function);
    if (found < 0) return E_FAIL;
    lstrcpynW(name, g_pciDevicePropTable[found].name, static_cast<int>(size));
    return S_OK;
}
