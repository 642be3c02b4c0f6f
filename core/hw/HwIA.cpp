#include "HwIA.h"

#include <cstring>
#include <cwchar>
#include <mutex>

#include "SharedHandles.h"
#include "ZoraEblHwContract.h"
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
    uint32_t request = index;
    uint32_t reply[3] = {};
    DWORD returned = 0;
    if (!ZoraSys()->DeviceIoControl(m_hDriver, IOCTL_ZORAEBL_MSR_READ, &request, sizeof(request), reply,
                                    sizeof(reply), &returned, nullptr)) {
        DBGOUT(L"IOCTL_ZORAEBL_MSR_READ failed for %ld", static_cast<long>(GetLastError()));
        return E_FAIL;
    }
    if (value) *value = (static_cast<unsigned __int64>(reply[1]) << 32) | reply[2];
    return S_OK;
}

long CHwIA::WriteMSR(unsigned long index, unsigned __int64* value) {
    if (!HandleValid()) return E_FAIL;
    unsigned __int64 v = value ? *value : 0;
    uint32_t request[3] = {static_cast<uint32_t>(index), static_cast<uint32_t>(v >> 32), static_cast<uint32_t>(v)};
    DWORD returned = 0;
    if (!ZoraSys()->DeviceIoControl(m_hDriver, IOCTL_ZORAEBL_MSR_WRITE, request, sizeof(request), nullptr, 0,
                                    &returned, nullptr)) {
        DBGOUT(L"IOCTL_ZORAEBL_MSR_WRITE failed for %ld", static_cast<long>(GetLastError()));
        return E_FAIL;
    }
    return S_OK;
}

long CHwIA::ReadIoPort(unsigned long port, void* buffer, unsigned short size) {
    if (!HandleValid()) return E_FAIL;
    EblPortReadRequest request;  // the last four bytes are not read by the driver
    request.port = static_cast<uint16_t>(port);
    request.size = size;
    request.size32 = size;
    DWORD returned = 0;
    if (!ZoraSys()->DeviceIoControl(m_hDriver, IOCTL_ZORAEBL_PORT_READ, &request, sizeof(request), buffer, size,
                                    &returned, nullptr)) {
        DBGOUT(L"IOCTL_ZORAEBL_PORT_READ failed for %ld", static_cast<long>(GetLastError()));
        return E_FAIL;
    }
    return returned == size ? S_OK : E_FAIL;
}

long CHwIA::WriteIoPort(unsigned long port, void* data, unsigned short size) {
    if (!HandleValid()) return E_FAIL;
    if (size != 1 && size != 2 && size != 4) {
        DBGOUT(L"The uPortSize is invalid %d.", static_cast<int>(size));
        return E_FAIL;
    }
    DWORD requestSize = sizeof(EblPortWriteHeader) + size + kEblWriteSlack;
    uint8_t* request = new uint8_t[requestSize];
    EblPortWriteHeader header{static_cast<uint16_t>(port), size, size};
    memcpy(request, &header, sizeof(header));
    if (data) memcpy(request + sizeof(header), data, size);
    DWORD returned = 0;
    BOOL ok = ZoraSys()->DeviceIoControl(m_hDriver, IOCTL_WRITE_PORT, request, requestSize, nullptr, 0, &returned,
                                         nullptr);
    DWORD error = GetLastError();
    delete[] request;
    if (!ok) {
        DBGOUT(L"IOCTL_WRITE_PORT failed for %ld", static_cast<long>(error));
        return E_FAIL;
    }
    return S_OK;
}

long CHwIA::MapMemorySpace(void* physical, unsigned long length, void** handle) {
    if (!HandleValid()) return E_FAIL;
    if (!physical || !length || !handle) {
        DBGOUT(L"Invalidate parameters.");
        return E_FAIL;
    }
    MemorySpaceHandle* record = new MemorySpaceHandle{};
    EblMemoryRequest request{reinterpret_cast<uintptr_t>(physical), static_cast<uint32_t>(length), 0};
    DWORD returned = 0;
    if (!ZoraSys()->DeviceIoControl(m_hDriver, IOCTL_MAP_MEMORY, &request, sizeof(request), record,
                                    sizeof(*record), &returned, nullptr)) {
        DBGOUT(L"IOCTL_MAP_MEMORY failed for %ld", static_cast<long>(GetLastError()));
        // A record that maps nothing is of no use to the caller: it is not handed out.
        delete record;
        *handle = nullptr;
        return E_FAIL;
    }
    record->length = length;
    record->reserved = 0;
    *handle = record;
    return S_OK;
}

long CHwIA::UnmapMemorySpace(void* handle) {
    if (!HandleValid()) return E_FAIL;
    if (!handle) {
        DBGOUT(L"Invalidate parameters.");
        return E_FAIL;
    }
    MemorySpaceHandle* record = static_cast<MemorySpaceHandle*>(handle);
    EblMemoryRequest request{record->address, static_cast<uint32_t>(record->length),
                             static_cast<uint32_t>(record->reserved)};
    delete record;
    DWORD returned = 0;
    if (!ZoraSys()->DeviceIoControl(m_hDriver, IOCTL_UNMAP_MEMEMORY, &request, sizeof(request), nullptr, 0,
                                    &returned, nullptr)) {
        DBGOUT(L"IOCTL_UNMAP_MEMEMORY failed for %ld", static_cast<long>(GetLastError()));
        return E_FAIL;
    }
    return S_OK;
}

long CHwIA::ReadMemory(void* handle, void* buffer, unsigned long length) {
    if (!HandleValid()) return E_FAIL;
    if (!handle || !buffer || !length) {
        DBGOUT(L"Invalidate parameters.");
        return E_FAIL;
    }
    EblMemoryRequest request{static_cast<MemorySpaceHandle*>(handle)->address, static_cast<uint32_t>(length), 0};
    DWORD returned = 0;
    if (!ZoraSys()->DeviceIoControl(m_hDriver, IOCTL_READ_MEMORY, &request, sizeof(request), buffer, length,
                                    &returned, nullptr)) {
        DBGOUT(L"IOCTL_READ_MEMORY failed for %ld", static_cast<long>(GetLastError()));
        return E_FAIL;
    }
    return S_OK;
}

long CHwIA::WriteMemory(void* handle, void* data, unsigned long length) {
    if (!HandleValid()) return E_FAIL;
    if (!handle || !data || !length) {
        DBGOUT(L"Invalidate parameters.");
        return E_FAIL;
    }
    DWORD requestSize = sizeof(EblMemoryWriteHeader) + length + kEblWriteSlack;
    uint8_t* request = new uint8_t[requestSize]();
    EblMemoryWriteHeader header{static_cast<MemorySpaceHandle*>(handle)->address, static_cast<uint32_t>(length)};
    memcpy(request, &header, sizeof(header));
    memcpy(request + sizeof(header), data, length);
    DWORD returned = 0;
    BOOL ok = ZoraSys()->DeviceIoControl(m_hDriver, IOCTL_WRITE_MEMORY, request, requestSize, nullptr, 0,
                                         &returned, nullptr);
    DWORD error = GetLastError();
    delete[] request;
    if (!ok) {
        DBGOUT(L"IOCTL_WRITE_MEMORY failed for %ld", static_cast<long>(error));
        return E_FAIL;
    }
    return S_OK;
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
    if (!ZoraSys()->DeviceIoControl(m_hDriver, IOCTL_READ_PCI_CONFIG, &request, sizeof(request), buffer, length,
                                    &returned, nullptr)) {
        DBGOUT(L"IOCTL_READ_PCI_CONFIG failed for %ld", static_cast<long>(GetLastError()));
        return E_FAIL;
    }
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
    DWORD requestSize = sizeof(header) + length + kEblWriteSlack;
    uint8_t* request = new uint8_t[requestSize];
    memcpy(request, &header, sizeof(header));
    memcpy(request + sizeof(header), data, length);
    DWORD returned = 0;
    BOOL ok = ZoraSys()->DeviceIoControl(m_hDriver, IOCTL_WRITE_PCI_CONFIG, request, requestSize, nullptr, 0,
                                         &returned, nullptr);
    DWORD error = GetLastError();
    delete[] request;
    if (!ok) {
        DBGOUT(L"pPciCfgBuffer failed for %ld", static_cast<long>(error));
        return E_FAIL;
    }
    return S_OK;
}

long CHwIA::GetDeviceProperty(unsigned long property, wchar_t* device, void* buffer, unsigned long size) {
    EblPropertyRequest request{};
    if (!device || !CopyDeviceName(request.device, device)) {
        DBGOUT(L"The device name is too long");
        return E_FAIL;
    }
    request.property = property;
    DWORD returned = 0;
    if (!ZoraSys()->DeviceIoControl(m_hDriver, IOCTL_GET_DEVICE_PROPERTY, &request, sizeof(request), buffer, size,
                                    &returned, nullptr)) {
        DBGOUT(L"IOCTL_GET_DEVICE_PROPERTY failed for %ld", static_cast<long>(GetLastError()));
        return E_FAIL;
    }
    return S_OK;
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
