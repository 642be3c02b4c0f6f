#pragma once
#include <windows.h>

#include "ZORABase.h"

// One entry of the module-wide table that translates a PCI bus/device/function into
// the driver's device-object name.
struct PciDevicePropEntry {
    wchar_t name[50];  // "\Device\NTPNP_PCI%04d", the entry's index
    unsigned long bus;
    unsigned long device;
    unsigned long function;
};

// A mapping of physical memory, returned by MapMemorySpace and owned by the caller
// until UnmapMemorySpace releases it.
struct MemorySpaceHandle {
    unsigned __int64 address;  // the mapping in the caller's address space
    unsigned long length;
    unsigned long reserved;    // 0
};

// The gateway to the platform driver "\\.\zoraebl": MSRs, I/O ports, physical memory
// and PCI configuration space by device-object name. Results: 0, 1 (Setup: already
// open) or E_FAIL; every failure is also written to the diagnostic output.
class ZORADLL_API CHwIA : public CZORABase {
public:
    CHwIA();
    // Copies share the handle value itself.
    CHwIA(const CHwIA& other);
    CHwIA& operator=(const CHwIA& other);
    unsigned long GetVersion() override;
    ~CHwIA() override;

    long Setup();
    long Cleanup();

    long ReadMSR(unsigned long index, unsigned __int64* value);
    long WriteMSR(unsigned long index, unsigned __int64* value);
    long ReadIoPort(unsigned long port, void* buffer, unsigned short size);
    long WriteIoPort(unsigned long port, void* data, unsigned short size);
    long MapMemorySpace(void* physical, unsigned long length, void** handle);
    long UnmapMemorySpace(void* handle);
    long ReadMemory(void* handle, void* buffer, unsigned long length);
    long WriteMemory(void* handle, void* data, unsigned long length);
    long ReadPCIConfig(const wchar_t* device, unsigned long offset, void* buffer, unsigned long length);
    long WritePCIConfig(const wchar_t* device, unsigned long offset, void* data, unsigned long length);
    long GetDeviceProperty(unsigned long property, wchar_t* device, void* buffer, unsigned long size);
    // name: at least 51 characters.
    long GetDeviceName(unsigned long bus, unsigned long device, unsigned long function, wchar_t* name,
                       unsigned long size);

protected:
    long InitDevicePropTable();
    bool HandleValid();

    HANDLE m_hDriver;
};
