// The wired network adapter's driver parameters and its restarts.
//
// The network class's registry key, as SetupDiOpenClassRegKeyExW(GUID_DEVCLASS_NET,
// DIOCR_INSTALLER) hands it out, is a real key the virtual notebook owns, in the 64-bit
// view whatever the caller's architecture:
//
//   HKLM\Software\Korvex\ZORA\VirtualNotebook\Class\{4d36e972-e325-11ce-bfc1-08002be10318}
//     0000  DriverDesc="Wireless 802.11a/b/g/n Network Adapter"
//     0001  DriverDesc="Gigabit Ethernet Controller", *SpeedDuplex="0"
//     0002  DriverDesc="WAN Miniport (IP)"
//
// Every new machine writes it anew (MachineReset). The speed parameters the adapter's
// driver has ("SpeedDuplex", "*SpeedDuplex" or both, string values holding a decimal
// number) are whatever that key holds: tools and tests change the key itself. Other
// classes' keys are the system's.
//
// The adapter reads its parameters when it starts, and only then: writing the driver key
// changes nothing the adapter does until a property change through the device installer
// restarts it (or an enable starts it from stopped). Its power-saving features (the
// vendor's WMI provider) take effect without a restart and start nothing. The speed the
// adapter runs at is InEffect. Section [Lan] of the machine file:
//
//   [Lan]
//   Adapter=PCI\VEN_1D12&...        the wired adapter's device node
//   Driver=0001                     its driver key, a subkey of the class key above
//   Restarts=0                      starts (property changes, enables) since the machine was new
//   InEffect.SpeedDuplex=...        the parameters the adapter read at its last start: the
//   InEffect.*SpeedDuplex=0         speed in effect; a key is absent when the driver key had
//                                   no such value then
#include <string>

#include "Entries.h"
#include "Platform.h"
#include "WinHandles.h"
#include "ZoraInstallKey.h"

namespace vnb {
namespace {
constexpr char kSection[] = "Lan";
constexpr wchar_t kClassNet[] = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
constexpr GUID kNetClassGuid = {0x4d36e972, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr char kEthernet[] = "PCI\\VEN_1D12&DEV_10F5&SUBSYS_30A11B2F&REV_03\\4&2F8A77E1&0&00E1";
constexpr wchar_t kEthernetDriver[] = L"0001";
const wchar_t* const kSpeedParameters[] = {L"SpeedDuplex", L"*SpeedDuplex"};

struct DriverKey {
    const wchar_t* name;
    const wchar_t* description;
    const wchar_t* speedDuplexStar;  // null: no "*SpeedDuplex"
};
const DriverKey kDriverKeys[] = {
    {L"0000", L"Wireless 802.11a/b/g/n Network Adapter", nullptr},
    {kEthernetDriver, L"Gigabit Ethernet Controller", L"0"},
    {L"0002", L"WAN Miniport (IP)", nullptr},
};

std::wstring ClassKeyPath() { return std::wstring(ZORA_INSTALL_KEY) + L"\\VirtualNotebook\\Class\\" + kClassNet; }

std::string Utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), n);
    return out;
}

LONG SetText(HKEY key, const wchar_t* name, const wchar_t* text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
}

void ResetClassKey() {
    // Through a handle of the 64-bit view: RegDeleteTreeW with a path would act in the
    // calling process's own view.
    std::wstring classes = std::wstring(ZORA_INSTALL_KEY) + L"\\VirtualNotebook\\Class";
    UniqueKey parent, classKey;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, classes.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                        parent.put(), nullptr) != ERROR_SUCCESS)
        return;
    RegDeleteTreeW(parent.get(), kClassNet);
    if (RegCreateKeyExW(parent.get(), kClassNet, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, classKey.put(), nullptr) !=
        ERROR_SUCCESS)
        return;
    for (const DriverKey& d : kDriverKeys) {
        UniqueKey key;
        if (RegCreateKeyExW(classKey.get(), d.name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr) !=
            ERROR_SUCCESS)
            continue;
        SetText(key.get(), L"DriverDesc", d.description);
        if (d.speedDuplexStar) SetText(key.get(), L"*SpeedDuplex", d.speedDuplexStar);
    }
}
MachineReset g_reset(ResetClassKey);

void DefaultLan(Machine* machine) {
    Values lan;
    lan.Set("Adapter", kEthernet);
    lan.Set("Driver", Utf8(kEthernetDriver));
    lan.Set("Restarts", "0");
    lan.Set("InEffect.*SpeedDuplex", "0");
    PutSection(machine, kSection, lan);
}
DefaultSection g_defaults(DefaultLan);

// A string value of the driver key; false when it is absent or not text.
bool ReadParameter(HKEY key, const wchar_t* name, std::wstring* text) {
    wchar_t buffer[64] = {};
    DWORD type = 0, size = sizeof(buffer) - sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    *text = buffer;
    return true;
}

// The adapter starts again and reads its parameters.
void AdapterRestarted(Machine* machine, const Node& node) {
    Values lan;
    if (!GetSection(*machine, kSection, &lan)) return;
    if (CompareStringOrdinal(node.instanceId.c_str(), -1, Wide(lan.Get("Adapter")).c_str(), -1, TRUE) != CSTR_EQUAL)
        return;
    lan.SetNumber("Restarts", lan.Number("Restarts") + 1);
    std::wstring path = ClassKeyPath() + L"\\" + Wide(lan.Get("Driver"));
    UniqueKey key;
    bool opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put()) ==
                  ERROR_SUCCESS;
    for (const wchar_t* name : kSpeedParameters) {
        std::string field = "InEffect." + Utf8(name);
        std::wstring value;
        if (opened && ReadParameter(key.get(), name, &value))
            lan.Set(field, Utf8(value));
        else
            lan.Remove(field);
    }
    PutSection(machine, kSection, lan);
}
DeviceRestart g_restart(AdapterRestarted);
}  // namespace

// The installer's key of the network class is the virtual notebook's own; every other
// key (another class, an interface class, another machine) is the system's.
HKEY WINAPI SetupDiOpenClassRegKeyExW(const GUID* classGuid, REGSAM access, DWORD flags, PCWSTR machineName,
                                      PVOID reserved) {
    if (!classGuid || !IsEqualGUID(*classGuid, kNetClassGuid) || flags != DIOCR_INSTALLER ||
        (machineName && machineName[0]))
        return ::SetupDiOpenClassRegKeyExW(classGuid, access, flags, machineName, reserved);
    if (reserved) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return static_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, ClassKeyPath().c_str(), 0,
                            (access & ~KEY_WOW64_RES) | KEY_WOW64_64KEY, &key);
    if (rc != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(rc));
        return static_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    SetLastError(ERROR_SUCCESS);
    return key;
}

}  // namespace vnb
