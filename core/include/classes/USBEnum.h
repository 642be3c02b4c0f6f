#pragma once
#include <windows.h>

#include "ZORABase.h"

// The machine's USB host controllers and their root hubs, found through the system's
// public USB requests. Ports are numbered across all controllers of one kind, in
// ascending order of the controllers' PCI device identifiers. The root hubs stay open
// until Cleanup. Every operation of every instance holds one module-wide lock.
class ZORADLL_API CUSBEnum : public CZORABase {
public:
    struct HCIEntry {
        HANDLE hRootHub;        // open, owned by the enumerator
        unsigned long present;  // 1
        unsigned char ports;    // root ports
        unsigned long deviceId; // PCI device identifier of the controller
    };
    enum { kMaxHCIs = 16 };

    CUSBEnum();
    // Copies share the root hub handles; each handle is closed when the last
    // enumerator holding it cleans up.
    CUSBEnum(const CUSBEnum& other);
    CUSBEnum& operator=(const CUSBEnum& other);
    unsigned long GetVersion() override;
    ~CUSBEnum() override;

    // Enumerates once; 0 or a failure status.
    long Setup();
    // Closes the root hubs and clears the lists; 0.
    long Cleanup();
    // The "DriverDesc" of the device on port `port`, "Empty" when none is attached,
    // "Unknown Device" when it has no driver key; 0 or 0x80004005.
    long GetPortDeviceName(int port, wchar_t* name, unsigned int size);
    int IsEnumerated() const { return m_enumerated; }

    // The one enumerator the whole module shares; it lives as long as the process.
    static CUSBEnum* Shared();

protected:
    long EnumHostControllers();
    long SortHCIs();
    long DrvNameToDevDesc(const wchar_t* driverKey, wchar_t* text, int size);
    static int Mycompare(const void* a, const void* b);

    HCIEntry m_usb11[kMaxHCIs];
    HCIEntry m_usb20[kMaxHCIs];
    int m_usb11Count;
    int m_usb20Count;
    int m_enumerated;
};
