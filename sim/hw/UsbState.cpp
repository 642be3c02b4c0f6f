// Section "Usb" of the machine file: the host controllers, the devices on their root
// ports, and the class keys of those devices' drivers in the system registry.
#include "UsbState.h"

#include <cstdio>
#include <cwchar>

#include "Platform.h"
#include "WinHandles.h"
#include "ZoraVnb.h"

namespace vnb {
namespace {
constexpr char kSection[] = "Usb";
constexpr wchar_t kClassRoot[] = L"SYSTEM\\CurrentControlSet\\Control\\Class\\";
constexpr wchar_t kClassUsb[] = L"{36fc9e60-c465-11cf-8056-444553540000}";
constexpr wchar_t kRootHubInterface[] = L"{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
// Driver keys of devices plugged in by tools and tests are numbered from here, clear
// of the keys the default machine's devices share.
constexpr int kFirstAttachedKey = 100;
constexpr int kLastKey = 9999;

std::string Key(int hcd, const char* name) {
    char text[48];
    snprintf(text, sizeof(text), "HCD%d.%s", hcd, name);
    return text;
}

std::string PortKey(int hcd, int port, const char* suffix = "") {
    char text[48];
    snprintf(text, sizeof(text), "HCD%d.Port%d%s", hcd, port, suffix);
    return text;
}

std::wstring Wide(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), n);
    return out;
}

std::string Utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    return out;
}

bool ReadController(const Values& usb, int hcd, UsbController* out) {
    std::string kind = usb.Get(Key(hcd, "Kind"));
    if (lstrcmpiA(kind.c_str(), "UHCI") != 0 && lstrcmpiA(kind.c_str(), "EHCI") != 0) return false;
    out->hcd = hcd;
    out->ehci = lstrcmpiA(kind.c_str(), "EHCI") == 0;
    out->present = usb.Number(Key(hcd, "Present"), 1) != 0;
    out->vendorId = static_cast<DWORD>(usb.Number(Key(hcd, "VendorId")));
    out->deviceId = static_cast<DWORD>(usb.Number(Key(hcd, "DeviceId")));
    out->revision = static_cast<DWORD>(usb.Number(Key(hcd, "Revision")));
    out->bus = static_cast<int>(usb.Number(Key(hcd, "Bus")));
    out->device = static_cast<int>(usb.Number(Key(hcd, "Device")));
    out->function = static_cast<int>(usb.Number(Key(hcd, "Function")));
    unsigned long long ports = usb.Number(Key(hcd, "Ports"));
    out->ports = ports > 15 ? 15 : static_cast<int>(ports);  // a root hub has at most 15 ports
    out->rootHub = Wide(usb.Get(Key(hcd, "RootHub")));
    return true;
}

bool Attached(const Values& usb, const UsbController& hc, int port) {
    return port >= 0 && port < hc.ports && usb.Has(PortKey(hc.hcd, port));
}

// The class key of a driver ("{class}\NNNN") in the system registry.
std::wstring ClassKeyPath(const std::wstring& driver) { return kClassRoot + driver; }

DWORD WriteDriverKey(const std::wstring& driver, const std::wstring& description, const wchar_t* owner,
                     bool mustBeNew) {
    UniqueKey key;
    DWORD disposition = 0;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, ClassKeyPath(driver).c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.put(), &disposition);
    if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
    if (mustBeNew && disposition != REG_CREATED_NEW_KEY) return ERROR_ALREADY_EXISTS;
    rc = RegSetValueExW(key.get(), L"DriverDesc", 0, REG_SZ, reinterpret_cast<const BYTE*>(description.c_str()),
                        static_cast<DWORD>((description.size() + 1) * sizeof(wchar_t)));
    if (rc == ERROR_SUCCESS && owner)
        rc = RegSetValueExW(key.get(), L"ZoraVnbMachine", 0, REG_SZ, reinterpret_cast<const BYTE*>(owner),
                            static_cast<DWORD>((wcslen(owner) + 1) * sizeof(wchar_t)));
    return static_cast<DWORD>(rc);
}

void RemoveDriverKey(const std::wstring& driver) {
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, ClassKeyPath(driver).c_str(), KEY_WOW64_64KEY, 0);
}

// A fresh driver key of the USB device class for a plugged-in device.
DWORD NewDriverKey(const std::wstring& description, const wchar_t* owner, std::wstring* driver) {
    for (int n = kFirstAttachedKey; n <= kLastKey; ++n) {
        wchar_t name[64];
        swprintf(name, ARRAYSIZE(name), L"%ls\\%04d", kClassUsb, n);
        DWORD error = WriteDriverKey(name, description, owner, true);
        if (error == ERROR_ALREADY_EXISTS) continue;
        if (error == ERROR_SUCCESS) *driver = name;
        return error;
    }
    return ERROR_NO_MORE_ITEMS;
}

struct DefaultController {
    const char* kind;
    DWORD deviceId;
    int device, function, ports;
};

// HCD numbers in the order the controllers were started: the PCI scan (device 26 before
// device 29), then UHCI #6, which the firmware enables last.
const DefaultController kDefaultControllers[] = {
    {"UHCI", 0x2937, 26, 0, 2}, {"UHCI", 0x2938, 26, 1, 2}, {"EHCI", 0x293C, 26, 7, 6},
    {"UHCI", 0x2934, 29, 0, 2}, {"UHCI", 0x2935, 29, 1, 2}, {"UHCI", 0x2936, 29, 2, 2},
    {"EHCI", 0x293A, 29, 7, 6}, {"UHCI", 0x2939, 26, 2, 2},
};

struct DefaultDevice {
    int hcd, port;
    const wchar_t* description;  // null: no driver installed
    const wchar_t* driver;
};

// An image device, a Bluetooth radio and a biometric sensor, and a reader whose driver
// was never installed.
const DefaultDevice kDefaultDevices[] = {
    {6, 3, L"Integrated USB 1.3M Webcam", L"{6bdd1fc6-810f-11d0-bec7-08002be10318}\\0000"},
    {5, 0, L"Integrated Bluetooth Radio", L"{e0cbf06c-cd8b-4647-bb8a-263b43f0f974}\\0000"},
    {1, 0, L"Fingerprint Sensor", L"{53d29ef7-377c-4d14-864b-eb3a85769359}\\0000"},
    {0, 1, nullptr, nullptr},
};

void DefaultUsb(Machine* machine) {
    Values usb;
    for (int hcd = 0; hcd < static_cast<int>(ARRAYSIZE(kDefaultControllers)); ++hcd) {
        const DefaultController& c = kDefaultControllers[hcd];
        usb.Set(Key(hcd, "Kind"), c.kind);
        usb.Set(Key(hcd, "Present"), "1");
        usb.SetNumber(Key(hcd, "VendorId"), 0x1B2F);
        usb.SetNumber(Key(hcd, "DeviceId"), c.deviceId);
        usb.SetNumber(Key(hcd, "Revision"), 0x03);
        usb.Set(Key(hcd, "Bus"), "0");
        usb.Set(Key(hcd, "Device"), std::to_string(c.device));
        usb.Set(Key(hcd, "Function"), std::to_string(c.function));
        usb.Set(Key(hcd, "Ports"), std::to_string(c.ports));
        char name[96];
        snprintf(name, sizeof(name), "USB#ROOT_HUB%s#4&1B2F%04lX&0#%s", lstrcmpA(c.kind, "EHCI") == 0 ? "20" : "",
                 static_cast<unsigned long>(c.deviceId), Utf8(kRootHubInterface).c_str());
        usb.Set(Key(hcd, "RootHub"), name);
    }
    for (const DefaultDevice& d : kDefaultDevices) {
        usb.Set(PortKey(d.hcd, d.port), d.description ? Utf8(d.description) : std::string());
        usb.Set(PortKey(d.hcd, d.port, ".Driver"), d.driver ? Utf8(d.driver) : std::string());
        // The default devices' drivers are installed once for every machine.
        if (d.driver) WriteDriverKey(d.driver, d.description, nullptr, false);
    }
    PutSection(machine, kSection, usb);
}
DefaultSection g_defaults(DefaultUsb);

DWORD Attach(Machine& machine, const wchar_t* file, int controller, int port, const std::wstring& description,
             std::wstring* madeKey) {
    Values usb;
    GetSection(machine, kSection, &usb);
    UsbController hc;
    if (!ReadController(usb, controller, &hc) || port < 0 || port >= hc.ports) return ERROR_INVALID_PARAMETER;
    if (Attached(usb, hc, port)) return ERROR_BUSY;
    std::wstring driver;
    if (!description.empty()) {
        DWORD error = NewDriverKey(description, file, &driver);
        if (error != ERROR_SUCCESS) return error;
        *madeKey = driver;
    }
    usb.Set(PortKey(controller, port), Utf8(description));
    usb.Set(PortKey(controller, port, ".Driver"), Utf8(driver));
    if (!driver.empty()) usb.Set(PortKey(controller, port, ".Owned"), "1");
    PutSection(&machine, kSection, usb);
    return ERROR_SUCCESS;
}

DWORD Detach(Machine& machine, int controller, int port, std::wstring* ownedKey) {
    Values usb;
    GetSection(machine, kSection, &usb);
    UsbController hc;
    if (!ReadController(usb, controller, &hc) || port < 0 || port >= hc.ports) return ERROR_INVALID_PARAMETER;
    if (!Attached(usb, hc, port)) return ERROR_NOT_FOUND;
    if (usb.Number(PortKey(controller, port, ".Owned")) == 1) *ownedKey = Wide(usb.Get(PortKey(controller, port, ".Driver")));
    usb.Remove(PortKey(controller, port));
    usb.Remove(PortKey(controller, port, ".Driver"));
    usb.Remove(PortKey(controller, port, ".Owned"));
    PutSection(&machine, kSection, usb);
    return ERROR_SUCCESS;
}
}  // namespace

std::vector<UsbController> UsbControllers(const Machine& m) {
    std::vector<UsbController> controllers;
    Values usb;
    if (!GetSection(m, kSection, &usb)) return controllers;
    for (int hcd = 0; hcd < kMaxUsbControllers; ++hcd) {
        UsbController hc;
        if (ReadController(usb, hcd, &hc)) controllers.push_back(hc);
    }
    return controllers;
}

bool FindUsbController(const Machine& m, int controller, UsbController* out) {
    Values usb;
    return controller >= 0 && controller < kMaxUsbControllers && GetSection(m, kSection, &usb) &&
           ReadController(usb, controller, out);
}

int UsbControllerAt(const Machine& m, int bus, int device, int function) {
    for (const UsbController& hc : UsbControllers(m))
        if (hc.bus == bus && hc.device == device && hc.function == function) return hc.hcd;
    return -1;
}

bool UsbDeviceAttached(const Machine& m, int controller, int port) {
    Values usb;
    UsbController hc;
    return controller >= 0 && controller < kMaxUsbControllers && GetSection(m, kSection, &usb) &&
           ReadController(usb, controller, &hc) && Attached(usb, hc, port);
}

bool UsbPortDevice(const Machine& m, int controller, int port, std::wstring* description, std::wstring* driver) {
    Values usb;
    UsbController hc;
    if (controller < 0 || controller >= kMaxUsbControllers || !GetSection(m, kSection, &usb) ||
        !ReadController(usb, controller, &hc) || !Attached(usb, hc, port))
        return false;
    *description = Wide(usb.Get(PortKey(controller, port)));
    *driver = Wide(usb.Get(PortKey(controller, port, ".Driver")));
    return true;
}

}  // namespace vnb

ZORAVNB_API BOOL WINAPI VnbAttachUsbDevice(const wchar_t* machineFile, int controller, int port,
                                           const wchar_t* description) {
    std::wstring text = description ? description : L"";
    if (text.find_first_of(L"\r\n") != std::wstring::npos || text.size() > 259)
        return vnb::ExportResult(ERROR_INVALID_PARAMETER);
    wchar_t scratch[MAX_PATH];
    const wchar_t* file = vnb::ResolveMachine(machineFile, scratch);
    if (!file) return vnb::ExportResult(ERROR_FILE_NOT_FOUND);
    std::wstring madeKey;
    DWORD error = vnb::UpdateMachine(file, [&](vnb::Machine& machine) {
        return vnb::Attach(machine, file, controller, port, text, &madeKey);
    });
    // The machine file is what counts: a key made for an attach that was not stored goes again.
    if (error != ERROR_SUCCESS && !madeKey.empty()) vnb::RemoveDriverKey(madeKey);
    return vnb::ExportResult(error);
}

ZORAVNB_API BOOL WINAPI VnbDetachUsbDevice(const wchar_t* machineFile, int controller, int port) {
    wchar_t scratch[MAX_PATH];
    const wchar_t* file = vnb::ResolveMachine(machineFile, scratch);
    if (!file) return vnb::ExportResult(ERROR_FILE_NOT_FOUND);
    std::wstring ownedKey;
    DWORD error = vnb::UpdateMachine(file, [&](vnb::Machine& machine) {
        return vnb::Detach(machine, controller, port, &ownedKey);
    });
    if (error == ERROR_SUCCESS && !ownedKey.empty()) vnb::RemoveDriverKey(ownedKey);
    return vnb::ExportResult(error);
}
