#include "USBEnum.h"

#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <string>
#include <vector>

#include "OsWin.h"
#include "SharedHandles.h"
#include "WinHandles.h"
#include "ZoraSystemApi.h"
#include "ZoraUsbContract.h"

namespace {
constexpr wchar_t kClassKeys[] = L"SYSTEM\\CurrentControlSet\\Control\\Class\\";
constexpr DWORD kMaxNameBytes = 4096;  // a longer name from a device is not believed

// The service uses agents from several threads, and all of them share one enumerator.
std::recursive_mutex& ModuleLock() {
    static std::recursive_mutex lock;
    return lock;
}

void HoldRootHubs(const CUSBEnum::HCIEntry* list, int count) {
    for (int i = 0; i < count; ++i) shared_handle::Hold(list[i].hRootHub);
}

void ReleaseRootHubs(const CUSBEnum::HCIEntry* list, int count) {
    for (int i = 0; i < count; ++i) shared_handle::Release(list[i].hRootHub);
}

// A host controller or root hub, opened through the system-API table.
UniqueSeamHandle OpenDevice(const wchar_t* path) {
    return UniqueSeamHandle(
        ZoraSys()->CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
}

// A request whose reply must be exactly `expected` bytes long.
bool Exchange(HANDLE device, DWORD code, void* buffer, DWORD inSize, DWORD outSize, DWORD expected) {
    DWORD returned = 0;
    SetLastError(0);
    return ZoraSys()->DeviceIoControl(device, code, buffer, inSize, buffer, outSize, &returned, nullptr) &&
           returned == expected;
}

// Last error of a failed request; 0 when the call succeeded with a wrong length.
unsigned Status() { return static_cast<unsigned>(GetLastError()); }

bool RootHubName(HANDLE hcd, std::vector<wchar_t>* name) {
    USB_ROOT_HUB_NAME probe{};
    DWORD returned = 0;
    BOOL ok = ZoraSys()->DeviceIoControl(hcd, IOCTL_USB_GET_ROOT_HUB_NAME, nullptr, 0, &probe, sizeof(probe),
                                         &returned, nullptr);
    if (!ok || probe.ActualLength < sizeof(probe) || probe.ActualLength > kMaxNameBytes) return false;
    DWORD length = probe.ActualLength;
    std::vector<BYTE> reply(length + sizeof(wchar_t), 0);  // a spare terminator
    if (!ZoraSys()->DeviceIoControl(hcd, IOCTL_USB_GET_ROOT_HUB_NAME, nullptr, 0, reply.data(), length, &returned,
                                    nullptr) ||
        returned != length)
        return false;
    const wchar_t* text = reinterpret_cast<const USB_ROOT_HUB_NAME*>(reply.data())->RootHubName;
    name->assign(text, text + wcslen(text) + 1);
    return true;
}

long CopyText(const wchar_t* text, wchar_t* out, unsigned int size) {
    if (wcslen(text) >= size) return E_FAIL;
    wcscpy(out, text);
    return 0;
}

// The controller holding port `port` of a list, and the connection index on its root hub.
bool LocatePort(const CUSBEnum::HCIEntry* list, int count, int port, HANDLE* hub, ULONG* index) {
    if (port < 0) return false;
    int first = 0;
    for (int i = 0; i < count; ++i) {
        if (port < first + list[i].ports) {
            *hub = list[i].hRootHub;
            *index = static_cast<ULONG>(port - first + 1);
            return true;
        }
        first += list[i].ports;
    }
    return false;
}

bool ConnectionInformation(HANDLE hub, ULONG index, USB_NODE_CONNECTION_INFORMATION* info) {
    memset(info, 0, sizeof(*info));
    info->ConnectionIndex = index;
    if (Exchange(hub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, info, sizeof(*info), sizeof(*info),
                 sizeof(*info)))
        return true;
    CZORABase::DBGOUT(L"IOCTL_USB_GET_NODE_CONNECTION_INFORMATION failed:0x%x", Status());
    return false;
}
}  // namespace

CUSBEnum::CUSBEnum() : m_usb11{}, m_usb20{}, m_usb11Count(0), m_usb20Count(0), m_enumerated(0) {}

CUSBEnum::CUSBEnum(const CUSBEnum& other) : CUSBEnum() { *this = other; }

CUSBEnum& CUSBEnum::operator=(const CUSBEnum& other) {
    if (this == &other) return *this;
    std::lock_guard<std::recursive_mutex> hold(ModuleLock());
    Cleanup();
    CZORABase::operator=(other);
    memcpy(m_usb11, other.m_usb11, sizeof(m_usb11));
    memcpy(m_usb20, other.m_usb20, sizeof(m_usb20));
    m_usb11Count = other.m_usb11Count;
    m_usb20Count = other.m_usb20Count;
    m_enumerated = other.m_enumerated;
    HoldRootHubs(m_usb11, m_usb11Count);
    HoldRootHubs(m_usb20, m_usb20Count);
    return *this;
}

unsigned long CUSBEnum::GetVersion() { return 1000; }

CUSBEnum::~CUSBEnum() {
    if (m_enumerated) Cleanup();
}

CUSBEnum* CUSBEnum::Shared() {
    // Never destroyed: at process exit the machine provider that answers its handles
    // may already be gone, and the system closes them anyway.
    static CUSBEnum* shared = new CUSBEnum;
    return shared;
}

long CUSBEnum::Setup() {
    std::lock_guard<std::recursive_mutex> hold(ModuleLock());
    if (m_enumerated) return 0;
    long status = EnumHostControllers();
    SortHCIs();
    m_enumerated = 1;
    return status;
}

long CUSBEnum::Cleanup() {
    std::lock_guard<std::recursive_mutex> hold(ModuleLock());
    if (!m_enumerated) return 0;
    ReleaseRootHubs(m_usb11, m_usb11Count);
    ReleaseRootHubs(m_usb20, m_usb20Count);
    memset(m_usb11, 0, sizeof(m_usb11));
    memset(m_usb20, 0, sizeof(m_usb20));
    m_usb11Count = 0;
    m_usb20Count = 0;
    m_enumerated = 0;
    return 0;
}

long CUSBEnum::EnumHostControllers() {
    for (int n = 0; n < kZoraUsbMaxHcds; ++n) {
        wchar_t path[32];
        swprintf(path, ARRAYSIZE(path), ZORA_USB_HCD_PATH_FORMAT, n);
        UniqueSeamHandle hcd = OpenDevice(path);
        if (!hcd) {
            DBGOUT(L"Cannot get hcd handle:%s\n", path);
            continue;
        }
        std::vector<wchar_t> hubName;
        if (!RootHubName(hcd.get(), &hubName)) {
            DBGOUT(L"DeviceIoControl:IOCTL_USB_GET_ROOT_HUB_NAME failed for:0x%x", Status());
            continue;
        }
        std::wstring hubPath = std::wstring(L"\\\\.\\") + hubName.data();
        UniqueSeamHandle hub = OpenDevice(hubPath.c_str());
        if (!hub) {
            DBGOUT(L"Cannot get hRootHub:%s\n", hubPath.c_str());
            continue;
        }
        USB_NODE_INFORMATION node{};
        if (!Exchange(hub.get(), IOCTL_USB_GET_NODE_INFORMATION, &node, sizeof(node), sizeof(node), sizeof(node))) {
            DBGOUT(L"IOCTL_USB_GET_NODE_INFORMATION failed for 0x%x", Status());
            continue;
        }
        ULONG caps = 0;
        DWORD capsCode = COsWin::IsVista() ? IOCTL_USB_GET_HUB_CAPABILITIES_EX : IOCTL_USB_GET_HUB_CAPABILITIES;
        if (!Exchange(hub.get(), capsCode, &caps, sizeof(caps), sizeof(caps), sizeof(caps))) {
            DBGOUT(L"IOCTL_USB_GET_HUB_CAPABILITIES failed for 0x%x", Status());
            continue;
        }
        USBUSER_CONTROLLER_INFO_0 info{};
        info.Header.UsbUserRequest = USBUSER_GET_CONTROLLER_INFO_0;
        info.Header.RequestBufferLength = sizeof(info);
        if (!Exchange(hcd.get(), IOCTL_USB_USER_REQUEST, &info, sizeof(info), sizeof(info), sizeof(info))) {
            DBGOUT(L"USBUSER_GET_CONTROLLER_INFO_0 failed for 0x%x", Status());
            continue;
        }
        bool usb20 = (caps & 1) != 0;
        HCIEntry* list = usb20 ? m_usb20 : m_usb11;
        int& count = usb20 ? m_usb20Count : m_usb11Count;
        if (count >= kMaxHCIs) continue;  // not recorded; its root hub closes with `hub`
        list[count].hRootHub = hub.release();
        list[count].present = 1;
        list[count].ports = node.u.HubInformation.HubDescriptor.bNumberOfPorts;
        list[count].deviceId = info.Info0.PciDeviceId;
        HoldRootHubs(&list[count], 1);
        ++count;
    }
    return 0;
}

int CUSBEnum::Mycompare(const void* a, const void* b) {
    const auto* left = static_cast<const HCIEntry*>(a);
    const auto* right = static_cast<const HCIEntry*>(b);
    return static_cast<int>(left->deviceId - right->deviceId);
}

long CUSBEnum::SortHCIs() {
    qsort(m_usb11, static_cast<size_t>(m_usb11Count), sizeof(HCIEntry), Mycompare);
    qsort(m_usb20, static_cast<size_t>(m_usb20Count), sizeof(HCIEntry), Mycompare);
    return 0;
}

long CUSBEnum::GetPortDeviceName(int port, wchar_t* name, unsigned int size) {
    std::lock_guard<std::recursive_mutex> hold(ModuleLock());
    if (!name || !m_enumerated) return E_FAIL;
    HANDLE hub = nullptr;
    ULONG index = 0;
    if (!LocatePort(m_usb11, m_usb11Count, port, &hub, &index)) {
        DBGOUT(L"Invalid port number:%d", port);
        return E_FAIL;
    }
    USB_NODE_CONNECTION_INFORMATION info;
    if (!ConnectionInformation(hub, index, &info)) return E_FAIL;
    if (info.ConnectionStatus != DeviceConnected) {
        if (!LocatePort(m_usb20, m_usb20Count, port, &hub, &index)) {
            DBGOUT(L"Invalid port number:%d", port);
            return E_FAIL;
        }
        if (!ConnectionInformation(hub, index, &info)) return E_FAIL;
        if (info.ConnectionStatus != DeviceConnected) return CopyText(L"Empty", name, size);
    }

    USB_NODE_CONNECTION_DRIVERKEY_NAME probe{};
    probe.ConnectionIndex = index;
    DWORD returned = 0;
    BOOL ok = ZoraSys()->DeviceIoControl(hub, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, &probe, sizeof(probe),
                                         &probe, sizeof(probe), &returned, nullptr);
    if (!ok) {
        DBGOUT(L"IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME failed:0x%x", Status());
        return CopyText(L"Unknown Device", name, size);
    }
    DWORD length = probe.ActualLength;
    if (length > kMaxNameBytes) {
        DBGOUT(L"IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME failed:0x%x", static_cast<unsigned>(length));
        return E_FAIL;
    }
    DWORD bufferSize = length + sizeof(USB_NODE_CONNECTION_DRIVERKEY_NAME);
    std::vector<BYTE> reply(bufferSize + sizeof(wchar_t), 0);  // a spare terminator
    auto* key = reinterpret_cast<USB_NODE_CONNECTION_DRIVERKEY_NAME*>(reply.data());
    key->ConnectionIndex = index;
    if (!ZoraSys()->DeviceIoControl(hub, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, key, bufferSize, key,
                                    bufferSize, &returned, nullptr)) {
        DBGOUT(L"IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME failed:0x%x", Status());
        return E_FAIL;
    }
    return DrvNameToDevDesc(key->DriverKeyName, name, static_cast<int>(size));
}

long CUSBEnum::DrvNameToDevDesc(const wchar_t* driverKey, wchar_t* text, int size) {
    if (!driverKey || !text) return E_FAIL;
    std::wstring path = std::wstring(kClassKeys) + driverKey;
    wchar_t description[261] = {};
    unsigned long type = 0, bytes = 260 * sizeof(wchar_t);
    long rc = COsWin::ReadRegValue(HKEY_LOCAL_MACHINE, path.c_str(), L"DriverDesc", &type,
                                   reinterpret_cast<unsigned char*>(description), &bytes);
    if (rc == 0 && type != REG_SZ) {
        DBGOUT(L"failed to query value %s", L"DriverDesc");
        rc = ERROR_INVALID_DATA;
    }
    if (rc != 0) {
        DBGOUT(L"COsWin::ReadRegValue failed for:0x%x", static_cast<unsigned>(rc));
        return E_FAIL;
    }
    description[bytes / sizeof(wchar_t) < 260 ? bytes / sizeof(wchar_t) : 260] = L'\0';
    if (size <= 0 || static_cast<int>(wcslen(description)) >= size) {
        DBGOUT(L"Input Buffer is too small");
        return E_FAIL;
    }
    wcscpy(text, description);
    return 0;
}
