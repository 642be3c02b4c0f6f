// zoractl usb: the I/O hub's USB ports.
//   usb list                    every port: on/off, connected, the device's name
//   usb on PORT | usb off PORT  switches a port (0 ... PortNumber-1)
//   usb attach HCD PORT [DESCRIPTION]   virtual notebook: plugs a device into root port
//                               PORT (from 0) of "\\.\HCD<HCD>"; no description: a
//                               device without a driver
//   usb detach HCD PORT         virtual notebook: unplugs it
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "HwUSBPorts.h"
#include "ZORACfg.h"
#include "ZoraVnb.h"
#include "ZoractlCommands.h"

namespace {

class Ports : public CHwUSBPorts {
public:
    const wchar_t* Hub() const { return m_szHubName; }
};

void Usage() {
    wprintf(L"usage: zoractl usb list | on PORT | off PORT | attach HCD PORT [DESCRIPTION] | detach HCD PORT\n");
}

int Identified(Ports* ports) {
    long hr = ports->Setup(1);
    if (hr != 0 && hr != 1) {
        wprintf(L"the USB ports cannot be set up (0x%08lx)\n", static_cast<unsigned long>(hr));
        return 0;
    }
    return 1;
}

int List() {
    Ports ports;
    if (!Identified(&ports)) return 1;
    CZORACfg cfg;
    if (!cfg.Initialize(L"USBCfg.ini")) return 1;
    wchar_t section[300];
    _snwprintf(section, 300, L"%s USBPorts", ports.Hub());
    section[299] = L'\0';
    int count = cfg.GetInt(section, L"PortNumber", 0);
    for (int port = 0; port < count; ++port) {
        int disabled = 0, connected = 0;
        wchar_t name[260] = L"?";
        long hr = ports.GetPortDisable(port, &disabled);
        if (hr == 0) hr = ports.GetPortConnected(port, &connected);
        if (ports.GetPortDeviceName(port, name, 260) != 0) wcscpy(name, L"(no name)");
        if (hr != 0)
            wprintf(L"port %2d error 0x%08lx\n", port, static_cast<unsigned long>(hr));
        else
            wprintf(L"port %2d %-3ls %-12ls %ls\n", port, disabled ? L"off" : L"on",
                    connected ? L"connected" : L"-", name);
    }
    return 0;
}

int Switch(unsigned long port, int disable) {
    Ports ports;
    if (!Identified(&ports)) return 1;
    int disabled = -1;
    long hr = ports.PortDisable(static_cast<int>(port), disable);
    if (hr == 0) hr = ports.GetPortDisable(static_cast<int>(port), &disabled);
    if (hr != 0) {
        wprintf(L"port %lu: failed (0x%08lx)\n", port, static_cast<unsigned long>(hr));
        return 1;
    }
    wprintf(L"port %lu %ls\n", port, disabled ? L"off" : L"on");
    return 0;
}

int Attach(unsigned long hcd, unsigned long port, const wchar_t* description) {
    auto attach = VnbExport<decltype(&::VnbAttachUsbDevice)>("VnbAttachUsbDevice");
    if (!attach) return 1;
    if (!attach(nullptr, static_cast<int>(hcd), static_cast<int>(port), description)) {
        wprintf(L"attach failed (%lu)\n", GetLastError());
        return 1;
    }
    wprintf(L"attached to HCD%lu port %lu\n", hcd, port);
    return 0;
}

int Detach(unsigned long hcd, unsigned long port) {
    auto detach = VnbExport<decltype(&::VnbDetachUsbDevice)>("VnbDetachUsbDevice");
    if (!detach) return 1;
    if (!detach(nullptr, static_cast<int>(hcd), static_cast<int>(port))) {
        wprintf(L"detach failed (%lu)\n", GetLastError());
        return 1;
    }
    wprintf(L"detached from HCD%lu port %lu\n", hcd, port);
    return 0;
}

}  // namespace

int UsbCommand(int argc, wchar_t** argv) {
    unsigned long a = 0, b = 0;
    if (argc == 1 && wcscmp(argv[0], L"list") == 0) return List();
    if (argc == 2 && wcscmp(argv[0], L"on") == 0 && ParseNumber(argv[1], &a)) return Switch(a, 0);
    if (argc == 2 && wcscmp(argv[0], L"off") == 0 && ParseNumber(argv[1], &a)) return Switch(a, 1);
    if ((argc == 3 || argc == 4) && wcscmp(argv[0], L"attach") == 0 && ParseNumber(argv[1], &a) &&
        ParseNumber(argv[2], &b))
        return Attach(a, b, argc == 4 ? argv[3] : nullptr);
    if (argc == 3 && wcscmp(argv[0], L"detach") == 0 && ParseNumber(argv[1], &a) && ParseNumber(argv[2], &b))
        return Detach(a, b);
    Usage();
    return 1;
}
