// The default machine: a notebook of the Vista era with a mobile chipset, an
// 802.11n card and a gigabit controller on PCI Express ports, high definition audio
// with a soft modem, an integrated camera and Bluetooth radio on USB, a slim optical
// drive, the system's dial-up miniport and the power driver's legacy node.
#include "MachineFile.h"
#include "Platform.h"

namespace vnb {
namespace {
constexpr wchar_t kRoot[] = L"HTREE\\ROOT\\0";
constexpr wchar_t kClassNet[] = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t kClassBluetooth[] = L"{e0cbf06c-cd8b-4647-bb8a-263b43f0f974}";
constexpr wchar_t kClassModem[] = L"{4d36e96d-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t kClassImage[] = L"{6bdd1fc6-810f-11d0-bec7-08002be10318}";
constexpr wchar_t kClassCdrom[] = L"{4d36e965-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t kClassMedia[] = L"{4d36e96c-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t kClassLegacy[] = L"{8ecc055d-047f-11d1-a537-0000f8753ed1}";
constexpr wchar_t kClassComputer[] = L"{4d36e966-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t kClassSystem[] = L"{4d36e97d-e325-11ce-bfc1-08002be10318}";
constexpr wchar_t kClassBattery[] = L"{72631e54-78a4-11d0-bcf7-00aa00b7b32a}";
constexpr wchar_t kClassUsb[] = L"{36fc9e60-c465-11cf-8056-444553540000}";
constexpr wchar_t kClassHdc[] = L"{4d36e96a-e325-11ce-bfc1-08002be10318}";

// Node status words as the configuration manager reports them: driver loaded (0x2),
// started (0x8), disableable (0x2000), has problem (0x400), root enumerated (0x1),
// and the NT enumerator and driver bits (0x00800000, 0x01000000) every node carries.
constexpr DWORD kNt = DN_NT_ENUMERATOR | DN_NT_DRIVER;
constexpr DWORD kStartedSwitchable = kNt | DN_DRIVER_LOADED | DN_STARTED | DN_DISABLEABLE;
constexpr DWORD kStartedFixed = kNt | DN_DRIVER_LOADED | DN_STARTED;
constexpr DWORD kRootEnumerated = kStartedFixed | DN_ROOT_ENUMERATED;
constexpr DWORD kDisabled = kNt | DN_DISABLEABLE | DN_HAS_PROBLEM;

struct Entry {
    const wchar_t* instanceId;
    const wchar_t* parentId;
    const wchar_t* classGuid;
    const wchar_t* description;
    const wchar_t* friendlyName;
    DWORD status;
    DWORD problem;
    bool present;
};

constexpr wchar_t kAcpi[] = L"ACPI_HAL\\PNP0C08\\0";
constexpr wchar_t kPciRoot[] = L"ACPI\\PNP0A08\\0";
constexpr wchar_t kPort1[] = L"PCI\\VEN_1B2F&DEV_2940&SUBSYS_30A11B2F&REV_03\\3&21436425&0&E0";
constexpr wchar_t kPort2[] = L"PCI\\VEN_1B2F&DEV_2942&SUBSYS_30A11B2F&REV_03\\3&21436425&0&E1";
constexpr wchar_t kAudioBus[] = L"PCI\\VEN_1B2F&DEV_293E&SUBSYS_30A11B2F&REV_03\\3&21436425&0&D8";
constexpr wchar_t kUsbHost[] = L"PCI\\VEN_1B2F&DEV_2937&SUBSYS_30A11B2F&REV_03\\3&21436425&0&E8";
constexpr wchar_t kRootHub[] = L"USB\\ROOT_HUB\\4&33A1B1C2&0";
constexpr wchar_t kIde[] = L"PCI\\VEN_1B2F&DEV_2929&SUBSYS_30A11B2F&REV_03\\3&21436425&0&FA";

// In tree order (pre-order), so a walk of the tree visits the nodes as listed.
const Entry kDefaultTree[] = {
    {kRoot, L"", L"", L"", nullptr, kStartedFixed, 0, true},
    {L"ROOT\\ACPI_HAL\\0000", kRoot, kClassComputer, L"ACPI x64-based PC", nullptr, kRootEnumerated, 0, true},
    {kAcpi, L"ROOT\\ACPI_HAL\\0000", kClassSystem, L"ACPI-Compliant System", nullptr, kStartedFixed, 0, true},
    {L"ACPI\\ACPI0003\\2&DABA3FF&1", kAcpi, kClassBattery, L"AC Adapter", nullptr, kStartedFixed, 0, true},
    {L"ACPI\\PNP0C0A\\1", kAcpi, kClassBattery, L"ACPI-Compliant Control Method Battery", nullptr, kStartedFixed, 0,
     true},
    {kPciRoot, kAcpi, kClassSystem, L"PCI Express Root Complex", nullptr, kStartedFixed, 0, true},
    {L"PCI\\VEN_1B2F&DEV_2A40&SUBSYS_30A11B2F&REV_07\\3&21436425&0&00", kPciRoot, kClassSystem,
     L"Mobile Memory Controller Hub", nullptr, kStartedFixed, 0, true},
    {kPort1, kPciRoot, kClassSystem, L"PCI Express Root Port", nullptr, kStartedFixed, 0, true},
    {L"PCI\\VEN_1C7A&DEV_4229&SUBSYS_11011C7A&REV_61\\4&1B3E6C5A&0&00E0", kPort1, kClassNet,
     L"Wireless 802.11a/b/g/n Network Adapter", L"Wireless Network Adapter", kStartedSwitchable, 0, true},
    {kPort2, kPciRoot, kClassSystem, L"PCI Express Root Port", nullptr, kStartedFixed, 0, true},
    {L"PCI\\VEN_1D12&DEV_10F5&SUBSYS_30A11B2F&REV_03\\4&2F8A77E1&0&00E1", kPort2, kClassNet,
     L"Gigabit Ethernet Controller", L"Gigabit Ethernet Controller (PCIe)", kStartedSwitchable, 0, true},
    {kAudioBus, kPciRoot, kClassSystem, L"High Definition Audio Controller", nullptr, kStartedFixed, 0, true},
    {L"HDAUDIO\\FUNC_01&VEN_1E4C&DEV_3F1B&SUBSYS_1B2F30A1&REV_1001\\4&2A4CC8E5&0&0001", kAudioBus, kClassMedia,
     L"High Definition Audio Device", nullptr, kStartedSwitchable, 0, true},
    {L"HDAUDIO\\FUNC_02&VEN_11C1&DEV_1040&SUBSYS_1B2F30A1&REV_1002\\4&2A4CC8E5&0&0101", kAudioBus, kClassModem,
     L"HDA Soft Data Fax Modem", L"HDA Soft Data Fax Modem with SmartCP", kDisabled, CM_PROB_DISABLED, true},
    {kUsbHost, kPciRoot, kClassUsb, L"USB Universal Host Controller", nullptr, kStartedFixed, 0, true},
    {kRootHub, kUsbHost, kClassUsb, L"USB Root Hub", nullptr, kStartedFixed, 0, true},
    {L"USB\\VID_1E7D&PID_0B19\\5&2C8D0F31&0&1", kRootHub, kClassImage, L"Integrated USB 1.3M Webcam",
     L"Integrated Webcam", kStartedSwitchable, 0, true},
    {L"USB\\VID_0A5F&PID_1200\\5&2C8D0F31&0&2", kRootHub, kClassBluetooth, L"Integrated Bluetooth Radio", nullptr,
     kStartedSwitchable, 0, true},
    {L"USB\\VID_1F3A&PID_7010\\5&2C8D0F31&0&3", kRootHub, kClassModem, L"USB Mobile Broadband Modem",
     L"USB Mobile Broadband Modem (HSDPA)", 0, 0, false},
    {kIde, kPciRoot, kClassHdc, L"Standard AHCI 1.0 Serial ATA Controller", nullptr, kStartedFixed, 0, true},
    {L"IDE\\CDROMSLIM_DVD+-RW_DS-8A1__________________1.00____\\5&1F0A2C7B&0&1.0.0", kIde, kClassCdrom,
     L"CD-ROM Drive", L"SLIM DVD+-RW DS-8A1 ATA Device", kStartedSwitchable, 0, true},
    // The dial-up miniport is part of the system and cannot be switched off.
    {L"ROOT\\MS_NDISWANIP\\0000", kRoot, kClassNet, L"WAN Miniport (IP)", nullptr, kRootEnumerated, 0, true},
    {L"ROOT\\LEGACY_ZORAEBL\\0000", kRoot, kClassLegacy, L"zoraebl", nullptr, kRootEnumerated, 0, true},
};
}  // namespace

void DefaultMachine(Machine* machine) {
    *machine = Machine();
    machine->power.acLineStatus = 1;
    machine->power.batteryFlag = 1;  // high
    machine->power.batteryLifePercent = 100;
    machine->power.batteryLifeTime = MAXDWORD;  // unknown while on mains
    machine->power.batteryFullLifeTime = MAXDWORD;
    machine->power.sessionId = 1;
    for (const Entry& e : kDefaultTree) {
        Node node;
        node.instanceId = e.instanceId;
        node.parentId = e.parentId;
        node.classGuid = e.classGuid;
        node.description = e.description;
        node.friendlyName = e.friendlyName ? e.friendlyName : L"";
        node.status = e.status;
        node.problem = e.problem;
        node.present = e.present;
        machine->nodes.push_back(node);
    }
    AddSubsystemDefaults(machine);
}

}  // namespace vnb
