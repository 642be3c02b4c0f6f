#include "HwRegister.h"

#include <windows.h>

#include <cwchar>

namespace hw {

bool ReadPciAddress(InstalledCfg* cfg, const wchar_t* section, PciAddress* pci) {
    pci->bus = cfg->GetInt(section, L"Bus", kMissing);
    pci->device = cfg->GetInt(section, L"Device", kMissing);
    pci->function = cfg->GetInt(section, L"Function", kMissing);
    return pci->bus != kMissing && pci->device != kMissing && pci->function != kMissing;
}

long DeviceObject(CHwIA* ia, const PciAddress& pci, wchar_t* name) {
    return ia->GetDeviceName(static_cast<unsigned long>(pci.bus), static_cast<unsigned long>(pci.device),
                             static_cast<unsigned long>(pci.function), name, kDeviceNameSize);
}

bool OpenCfg(InstalledCfg* cfg, const wchar_t* fileName) {
    if (cfg->Open(fileName)) return true;
    CZORABase::DBGOUT(L"Cannot initialize cfg file %s", fileName);
    return false;
}

namespace {
long MatchHub(CHwIA* ia, InstalledCfg* cfg, wchar_t* hubName) {
    int count = cfg->GetInt(L"Device Identifications", L"HubraIdNumbers", kMissing);
    if (count < 1) return E_FAIL;
    for (int i = 0; i < count; ++i) {
        wchar_t section[64];
        _snwprintf(section, 64, L"Hubra Identification %d", i);
        section[63] = L'\0';
        wchar_t type[32];
        cfg->GetString(section, L"RegisterType", L"", type, 32);
        if (wcscmp(type, L"PCIConfig") != 0) continue;
        PciAddress pci;
        bool located = ReadPciAddress(cfg, section, &pci);
        int offset = cfg->GetInt(section, L"Offset", kMissing);
        int size = cfg->GetInt(section, L"ValueSize", kMissing);
        if (!located || !ValidWidth(size)) return E_FAIL;
        uint32_t expected = static_cast<uint32_t>(cfg->GetHex(section, L"Value", kMissing));
        wchar_t name[kDeviceNameSize];
        long hr = DeviceObject(ia, pci, name);
        if (hr != S_OK) return hr;
        uint32_t value = 0;
        hr = ia->ReadPCIConfig(name, static_cast<unsigned long>(offset), &value, static_cast<unsigned long>(size));
        if (hr != S_OK) return hr;
        if (value != expected) continue;
        cfg->GetString(section, L"Name", L"", hubName, kNameChars);
        return hubName[0] ? S_OK : E_FAIL;
    }
    return E_FAIL;
}
}  // namespace

long IdentifyHub(CHwIA* ia, int identify, wchar_t* hubName) {
    hw::InstalledCfg cfg;
    if (!OpenCfg(&cfg, kHubraCfg)) return E_FAIL;
    if (!identify) return S_OK;
    wchar_t name[kNameChars] = {};
    long hr = MatchHub(ia, &cfg, name);
    if (hr == S_OK) wcscpy(hubName, name);
    return hr;
}

bool ParseSpace(const wchar_t* text, bool allowConfig, Space* space) {
    if (allowConfig && wcscmp(text, L"PCIConfig") == 0) {
        *space = Space::PciConfig;
    } else if (wcscmp(text, L"Memory") == 0) {
        *space = Space::Memory;
    } else if (wcscmp(text, L"IO") == 0) {
        *space = Space::Io;
    } else {
        return false;
    }
    return true;
}

long LocateBehindBar(CHwIA* ia, Space space, const PciAddress& pci, int baseOffset, int baseSize,
                     uint32_t mask, uint32_t valueOffset, int valueSize, Register* reg) {
    if (!ValidWidth(baseSize) || !ValidWidth(valueSize)) return E_FAIL;
    reg->space = space;
    reg->size = valueSize;
    long hr = DeviceObject(ia, pci, reg->device);
    if (hr != S_OK) return hr;
    uint32_t base = 0;
    hr = ia->ReadPCIConfig(reg->device, static_cast<unsigned long>(baseOffset), &base,
                           static_cast<unsigned long>(baseSize));
    if (hr != S_OK) return hr;
    reg->address = (base & mask) + valueOffset;
    return S_OK;
}

namespace {
constexpr wchar_t kRegisterLockName[] = L"Global\\ZORA_HUB_REGISTERS";
// A holder that hangs longer than this is stuck; the access then goes ahead unguarded
// rather than never.
constexpr DWORD kRegisterLockTimeoutMs = 10000;

// The machine-wide lock's handle, made or opened once and kept for the module's life:
// every register access takes it, and opening a named object costs a call to the system.
HANDLE RegisterLock() {
    static HANDLE lock = [] {
        NullDaclSecurity security;
        security.attributes.bInheritHandle = FALSE;
        HANDLE mutex = CreateMutexW(&security.attributes, FALSE, kRegisterLockName);
        if (!mutex) mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kRegisterLockName);
        return mutex;
    }();
    return lock;
}
}  // namespace

RegisterAccess::RegisterAccess(CHwIA* ia, const Register& reg) : m_ia(ia), m_reg(reg) {
    HANDLE lock = RegisterLock();
    if (!lock) return;
    DWORD wait = WaitForSingleObject(lock, kRegisterLockTimeoutMs);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) m_lock = lock;
}

// The mapping goes first, under the lock.
RegisterAccess::~RegisterAccess() {
    if (m_mapping) m_ia->UnmapMemorySpace(m_mapping);
    if (m_lock) ReleaseMutex(m_lock);
}

long RegisterAccess::Map() {
    if (m_mapping) return S_OK;
    return m_ia->MapMemorySpace(reinterpret_cast<void*>(static_cast<uintptr_t>(m_reg.address)),
                                static_cast<unsigned long>(m_reg.size), &m_mapping);
}

long RegisterAccess::Read(uint32_t* value) {
    *value = 0;
    unsigned short size = static_cast<unsigned short>(m_reg.size);
    switch (m_reg.space) {
    case Space::PciConfig: return m_ia->ReadPCIConfig(m_reg.device, m_reg.address, value, size);
    case Space::Io: return m_ia->ReadIoPort(m_reg.address, value, size);
    case Space::Memory: {
        long hr = Map();
        return hr == S_OK ? m_ia->ReadMemory(m_mapping, value, size) : hr;
    }
    }
    return E_FAIL;
}

long ReadRegister(CHwIA* ia, const Register& reg, uint32_t* value) {
    RegisterAccess access(ia, reg);
    return access.Read(value);
}

long RegisterAccess::SwitchBit(int bit, bool set, uint32_t* written) {
    uint32_t value = 0;
    long hr = Read(&value);
    if (hr != S_OK) return hr;
    uint32_t mask = 1u << bit;
    value = set ? (value | mask) : (value & ~mask);
    if (written) *written = value;
    return Write(value);
}

long RegisterAccess::Write(uint32_t value) {
    unsigned short size = static_cast<unsigned short>(m_reg.size);
    switch (m_reg.space) {
    case Space::PciConfig: return m_ia->WritePCIConfig(m_reg.device, m_reg.address, &value, size);
    case Space::Io: return m_ia->WriteIoPort(m_reg.address, &value, size);
    case Space::Memory: {
        long hr = Map();
        if (hr == S_OK) hr = m_ia->WriteMemory(m_mapping, &value, size);
        long unmapped = m_ia->UnmapMemorySpace(m_mapping);
        m_mapping = nullptr;
        return hr == S_OK ? unmapped : hr;
    }
    }
    return E_FAIL;
}

}  // namespace hw
