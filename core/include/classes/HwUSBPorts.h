#pragma once
#include "HwIA.h"

class CUSBEnum;

// The I/O hub's USB ports: switching a port off and on (one disable bit per port
// behind a write lock), whether it is off, whether a device is plugged in, and the
// device's name. Register locations come from "USBCfg.ini", keyed by the hub name
// "HubraCfg.ini" identifies.
class ZORADLL_API CHwUSBPorts : public CHwIA {
public:
    // Uses the host-controller enumerator the whole module shares.
    CHwUSBPorts();
    CHwUSBPorts(const CHwUSBPorts& other);
    CHwUSBPorts& operator=(const CHwUSBPorts& other);
    ~CHwUSBPorts() override;

    // identify 0: connect and enumerate only. 0, 1 (already identified) or a failure.
    long Setup(int identify);
    // port: 0 ... PortNumber-1; disable 1 off, 0 on.
    long PortDisable(int port, int disable);
    long GetPortDisable(int port, int* disabled);
    long GetPortConnected(int port, int* connected);
    long GetPortDeviceName(int port, wchar_t* name, int size);

protected:
    long GetHCIPortConnected(int port, int* connected, int ehci);
    long UnlockWriteBit(int enable);

    wchar_t m_szHubName[260];
    CUSBEnum* m_pUSBEnum;
};
