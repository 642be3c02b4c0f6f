#include "HwUSBPorts.h"

#include <cwchar>

#include "HwRegister.h"
#include "USBEnum.h"

namespace {
constexpr wchar_t kUsbCfg[] = L"USBCfg.ini";

void Section(wchar_t* out, const wchar_t* format, const wchar_t* hubName) {
    _snwprintf(out, hw::kNameChars + 32, format, hubName);
    out[hw::kNameChars + 31] = L'\0';
}

// A register behind a base address register, from one section's keys; prefix "" for the
// disable and status registers, "WL" for the write lock.
struct BarKeys {
    const wchar_t* addressOffset;
    const wchar_t* addressMask;
    const wchar_t* addressSize;
    const wchar_t* valueOffset;
    const wchar_t* valueSize;
    const wchar_t* registerType;
    const wchar_t* typeMissingText;
};
const BarKeys kDisableKeys = {L"AddressOffset", L"AddressMask", L"AddressSize", L"ValueOffset",
                              L"ValueSize",     L"RegisterType", L"Cannot get RegisterType"};
const BarKeys kLockKeys = {L"WLAddrOffset", L"WLAddrMask", L"WLAddrSize", L"WLOffset",
                           L"WLSize",       L"WLRegisterType", L"Cannot get WLRegisterType"};

// Reads the keys and locates the register; fails before any hardware access when a key
// is missing or a width is not 1, 2 or 4.
long LocateRegister(CHwIA* ia, hw::InstalledCfg* cfg, const wchar_t* section, const BarKeys& keys,
                    hw::Register* reg) {
    hw::PciAddress pci;
    bool located = hw::ReadPciAddress(cfg, section, &pci);
    int baseOffset = cfg->GetHex(section, keys.addressOffset, hw::kMissing);
    int mask = cfg->GetHex(section, keys.addressMask, hw::kMissing);
    int baseSize = cfg->GetInt(section, keys.addressSize, hw::kMissing);
    int valueOffset = cfg->GetHex(section, keys.valueOffset, hw::kMissing);
    int valueSize = cfg->GetInt(section, keys.valueSize, hw::kMissing);
    if (!located || baseOffset == hw::kMissing || mask == hw::kMissing || valueOffset == hw::kMissing)
        return E_FAIL;
    if (!hw::ValidWidth(baseSize) || !hw::ValidWidth(valueSize)) return E_FAIL;
    wchar_t type[32];
    cfg->GetString(section, keys.registerType, L"", type, 32);
    if (!type[0]) {
        CZORABase::DBGOUT(L"%s", keys.typeMissingText);
        return E_FAIL;
    }
    hw::Space space;
    if (!hw::ParseSpace(type, false, &space)) return E_FAIL;
    return hw::LocateBehindBar(ia, space, pci, baseOffset, baseSize, static_cast<uint32_t>(mask),
                               static_cast<uint32_t>(valueOffset), valueSize, reg);
}

// The disable register and the port count, with the port checked against it.
long LocateDisable(CHwIA* ia, const wchar_t* hubName, int port, hw::Register* reg, int* disableType) {
    hw::InstalledCfg cfg;
    if (!hw::OpenCfg(&cfg, kUsbCfg)) return E_FAIL;
    wchar_t section[hw::kNameChars + 32];
    Section(section, L"%s USBPorts", hubName);
    int ports = cfg.GetInt(section, L"PortNumber", hw::kMissing);
    if (port < 0 || port >= ports || port > 31) return E_FAIL;
    *disableType = cfg.GetInt(section, L"DisableType", hw::kMissing);
    if (*disableType == hw::kMissing) return E_FAIL;
    return LocateRegister(ia, &cfg, section, kDisableKeys, reg);
}
}  // namespace

CHwUSBPorts::CHwUSBPorts() : m_pUSBEnum(CUSBEnum::Shared()) { m_szHubName[0] = L'\0'; }

CHwUSBPorts::CHwUSBPorts(const CHwUSBPorts& other) : CHwIA(other), m_pUSBEnum(other.m_pUSBEnum) {
    wcscpy(m_szHubName, other.m_szHubName);
}

CHwUSBPorts& CHwUSBPorts::operator=(const CHwUSBPorts& other) {
    CHwIA::operator=(other);
    m_pUSBEnum = other.m_pUSBEnum;
    wcscpy(m_szHubName, other.m_szHubName);
    return *this;
}

CHwUSBPorts::~CHwUSBPorts() {
    m_pUSBEnum = nullptr;
    Cleanup();
}

long CHwUSBPorts::Setup(int identify) {
    if (m_hDriver == INVALID_HANDLE_VALUE && CHwIA::Setup() != S_OK) return E_FAIL;
    if (m_pUSBEnum && !m_pUSBEnum->IsEnumerated()) {
        long hr = m_pUSBEnum->Setup();
        if (hr != S_OK) return hr;
    }
    if (m_szHubName[0]) return 1;
    long hr = hw::IdentifyHub(this, identify, m_szHubName);
    if (hr != S_OK || !identify) return hr;
    return UnlockWriteBit(1);
}

long CHwUSBPorts::UnlockWriteBit(int enable) {
    hw::InstalledCfg cfg;
    if (!hw::OpenCfg(&cfg, kUsbCfg)) return E_FAIL;
    wchar_t section[hw::kNameChars + 32];
    Section(section, L"%s USBPorts", m_szHubName);
    int bit = cfg.GetInt(section, L"WLBit", hw::kMissing);
    int enableType = cfg.GetInt(section, L"WLEnableType", hw::kMissing);
    if (bit == hw::kMissing || enableType == hw::kMissing || bit < 0 || bit > 31) return E_FAIL;
    hw::Register reg;
    long hr = LocateRegister(this, &cfg, section, kLockKeys, &reg);
    if (hr != S_OK) return hr;
    hw::RegisterAccess access(this, reg);
    return access.SwitchBit(bit, hw::TypeMatches(enableType, enable));
}

long CHwUSBPorts::PortDisable(int port, int disable) {
    hw::Register reg;
    int disableType = 0;
    long hr = LocateDisable(this, m_szHubName, port, &reg, &disableType);
    if (hr != S_OK) return hr;
    hw::RegisterAccess access(this, reg);
    return access.SwitchBit(port, !hw::TypeMatches(disableType, disable));
}

long CHwUSBPorts::GetPortDisable(int port, int* disabled) {
    if (!disabled) return E_FAIL;
    hw::Register reg;
    int disableType = 0;
    long hr = LocateDisable(this, m_szHubName, port, &reg, &disableType);
    if (hr != S_OK) return hr;
    uint32_t value = 0;
    hr = hw::ReadRegister(this, reg, &value);
    if (hr != S_OK) return hr;
    *disabled = static_cast<int>((value >> port) & 1) != disableType ? 1 : 0;
    return S_OK;
}

long CHwUSBPorts::GetHCIPortConnected(int port, int* connected, int ehci) {
    if (!connected || port < 0) return E_FAIL;
    const wchar_t* kind = ehci ? L"EHCI" : L"UHCI";
    hw::InstalledCfg cfg;
    if (!hw::OpenCfg(&cfg, kUsbCfg)) return E_FAIL;
    wchar_t section[hw::kNameChars + 32], key[32];
    Section(section, L"%s USBPorts Status", m_szHubName);
    _snwprintf(key, 32, L"%sNumber", kind);
    key[31] = L'\0';
    int controllers = cfg.GetInt(section, key, hw::kMissing);
    _snwprintf(key, 32, L"%sPortNumber", kind);
    key[31] = L'\0';
    int perController = cfg.GetInt(section, key, hw::kMissing);
    if (controllers == hw::kMissing || perController == hw::kMissing || perController < 1 ||
        port >= controllers * perController)
        return E_FAIL;
    int controller = port / perController, local = port % perController;
    wchar_t status[hw::kNameChars + 32];
    _snwprintf(status, hw::kNameChars + 32, L"%s %s %d", m_szHubName, kind, controller);
    status[hw::kNameChars + 31] = L'\0';
    wchar_t valueOffset[32], valueSize[32], bitKey[32];
    _snwprintf(valueOffset, 32, L"ValueOffset%d", local);
    _snwprintf(valueSize, 32, L"ValueSize%d", local);
    _snwprintf(bitKey, 32, L"Bit%d", local);
    int bit = cfg.GetInt(status, bitKey, hw::kMissing);
    if (bit == hw::kMissing || bit < 0 || bit > 31) return E_FAIL;
    BarKeys keys = kDisableKeys;
    keys.valueOffset = valueOffset;
    keys.valueSize = valueSize;
    hw::Register reg;
    long hr = LocateRegister(this, &cfg, status, keys, &reg);
    if (hr != S_OK) return hr;
    uint32_t value = 0;
    hr = hw::ReadRegister(this, reg, &value);
    if (hr != S_OK) return hr;
    *connected = static_cast<int>((value >> bit) & 1);
    return S_OK;
}

long CHwUSBPorts::GetPortConnected(int port, int* connected) {
    if (!connected) return E_FAIL;
    int ehci = 0, uhci = 0;
    long hr = GetHCIPortConnected(port, &ehci, 1);
    if (hr != S_OK) return hr;
    hr = GetHCIPortConnected(port, &uhci, 0);
    if (hr != S_OK) return hr;
    *connected = (ehci || uhci) ? 1 : 0;
    return S_OK;
}

long CHwUSBPorts::GetPortDeviceName(int port, wchar_t* name, int size) {
    if (!m_pUSBEnum) return E_FAIL;
    return m_pUSBEnum->GetPortDeviceName(port, name, size < 0 ? 0u : static_cast<unsigned>(size));
}
