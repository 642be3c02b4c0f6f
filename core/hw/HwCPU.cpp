#include "HwCPU.h"

#include <cwchar>

#include "HwRegister.h"
#include "ZoraSystemApi.h"

namespace {
constexpr wchar_t kCpuCfg[] = L"CPUCfg.ini";
constexpr unsigned long kPmgCstConfigCtrl = 0xE2;
constexpr unsigned __int64 kDeepC4Bits = 0x4008;

void DevicesSection(const wchar_t* cpuName, wchar_t* section, int size) {
    _snwprintf(section, size, L"%s Devices", cpuName);
    section[size - 1] = L'\0';
}

// "0x" and hex digits that are not 0xFFFFFFFF.
bool SignatureText(const wchar_t* text, unsigned* value) {
    if (wcslen(text) < 3 || text[0] != L'0' || text[1] != L'x' || !iswxdigit(text[2])) return false;
    wchar_t* end = nullptr;
    unsigned long parsed = wcstoul(text + 2, &end, 16);
    if (*end != L'\0' || parsed == 0xFFFFFFFFul) return false;
    *value = static_cast<unsigned>(parsed);
    return true;
}
}  // namespace

CHwCPU::CHwCPU() : m_dwPmBase(0), m_dwLevelOffset(0), m_dwMaxCState(0), m_dwMinCState(0) { m_szCpuName[0] = L'\0'; }

CHwCPU::CHwCPU(const CHwCPU& other) : CHwIA(other) { *this = other; }

CHwCPU& CHwCPU::operator=(const CHwCPU& other) {
    CHwIA::operator=(other);
    m_dwPmBase = other.m_dwPmBase;
    m_dwLevelOffset = other.m_dwLevelOffset;
    m_dwMaxCState = other.m_dwMaxCState;
    m_dwMinCState = other.m_dwMinCState;
    wcscpy(m_szCpuName, other.m_szCpuName);
    return *this;
}

CHwCPU::~CHwCPU() = default;

long CHwCPU::Setup(int) {
    if (m_hDriver == INVALID_HANDLE_VALUE && CHwIA::Setup() != S_OK) return E_FAIL;
    hw::InstalledCfg cfg;
    if (!hw::OpenCfg(&cfg, kCpuCfg)) return E_FAIL;

    int count = cfg.GetInt(L"Device Identifications", L"CPUIdNumbers", hw::kMissing);
    wchar_t name[hw::kNameChars] = {};
    bool matched = false;
    for (int i = 0; i < count && !matched; ++i) {
        wchar_t section[64], type[32], text[32];
        _snwprintf(section, 64, L"CPU Identification %d", i);
        section[63] = L'\0';
        cfg.GetString(section, L"RegisterType", L"", type, 32);
        if (wcscmp(type, L"CPUID") != 0) continue;
        cfg.GetString(section, L"Value", L"", text, 32);
        unsigned expected = 0;
        if (!SignatureText(text, &expected)) return E_FAIL;
        int regs[4] = {};
        ZoraSys()->Cpuid(regs, 1);
        if ((regs[0] >> 4) != static_cast<int>(expected)) continue;
        cfg.GetString(section, L"Name", L"", name, hw::kNameChars);
        if (!name[0]) return E_FAIL;
        matched = true;
    }
    if (!matched) {
        DBGOUT(L"Cannot find matched cpu.");
        return E_FAIL;
    }
    wcscpy(m_szCpuName, name);

    wchar_t devices[hw::kNameChars + 16];
    DevicesSection(m_szCpuName, devices, hw::kNameChars + 16);
    hw::PciAddress pci;
    bool located = hw::ReadPciAddress(&cfg, devices, &pci);
    int baseOffset = cfg.GetHex(devices, L"AddressOffset", hw::kMissing);
    int baseSize = cfg.GetInt(devices, L"AddressSize", hw::kMissing);
    if (!located || baseOffset == hw::kMissing || baseSize == hw::kMissing) return E_FAIL;
    wchar_t object[hw::kDeviceNameSize];
    long hr = hw::DeviceObject(this, pci, object);
    if (hr != S_OK) return hr;
    if (!hw::ValidWidth(baseSize)) return E_FAIL;
    uint32_t base = 0;
    hr = ReadPCIConfig(object, static_cast<unsigned long>(baseOffset), &base, static_cast<unsigned long>(baseSize));
    if (hr != S_OK) return hr;
    m_dwPmBase = base & static_cast<uint32_t>(cfg.GetHex(devices, L"AddressMask", -1));
    m_dwMaxCState = static_cast<unsigned long>(cfg.GetInt(devices, L"MaxCState", hw::kMissing));
    m_dwMinCState = static_cast<unsigned long>(cfg.GetInt(devices, L"MinCState", hw::kMissing));
    m_dwLevelOffset = static_cast<unsigned long>(cfg.GetInt(devices, L"ValueOffset", hw::kMissing));

    EnableDeepC4(1);
    EnableC4State(1);
    return S_OK;
}

long CHwCPU::EnableC4State(int enable) {
    hw::InstalledCfg cfg;
    if (!hw::OpenCfg(&cfg, kCpuCfg)) return E_FAIL;
    wchar_t devices[hw::kNameChars + 16];
    DevicesSection(m_szCpuName, devices, hw::kNameChars + 16);
    hw::PciAddress pci;
    bool located = hw::ReadPciAddress(&cfg, devices, &pci);
    int offset = cfg.GetHex(devices, L"C4Offset", hw::kMissing);
    int size = cfg.GetInt(devices, L"C4Size", hw::kMissing);
    int bit = cfg.GetInt(devices, L"C4Bit", hw::kMissing);
    int enableType = cfg.GetInt(devices, L"C4EnableType", hw::kMissing);
    if (!located || offset == hw::kMissing || bit == hw::kMissing || enableType == hw::kMissing)
        return E_FAIL;
    if (!hw::ValidWidth(size) || bit < 0 || bit > 31) return E_FAIL;
    hw::Register reg;
    long hr = hw::DeviceObject(this, pci, reg.device);
    if (hr != S_OK) return hr;
    reg.address = static_cast<uint32_t>(offset);
    reg.size = size;
    hw::RegisterAccess access(this, reg);
    uint32_t value = 0;
    hr = access.SwitchBit(bit, hw::TypeMatches(enableType, enable), &value);
    if (hr == S_OK) DBGOUT(L"0x%x", value);
    return hr;
}

long CHwCPU::EnableDeepC4(int enable) {
    unsigned __int64 value = 0;
    if (ReadMSR(kPmgCstConfigCtrl, &value) != S_OK) {
        DBGOUT(L"cannot read msr value.");
        return E_FAIL;
    }
    DBGOUT(L"PMG_CST_CONFIG_CTRL valuse is 0x%I64x", value);
    value = enable ? (value | kDeepC4Bits) : (value & ~kDeepC4Bits);
    return WriteMSR(kPmgCstConfigCtrl, &value) == S_OK ? S_OK : E_FAIL;
}

long CHwCPU::SetCState(int state, int mwait) {
    if (state < 0 || static_cast<unsigned long>(state) < m_dwMinCState ||
        static_cast<unsigned long>(state) > m_dwMaxCState)
        return E_FAIL;
    if (mwait) return E_FAIL;
    if (!m_dwPmBase || !m_dwLevelOffset) return E_FAIL;
    unsigned char level = 0;
    ReadIoPort(m_dwPmBase + m_dwLevelOffset + state - 2, &level, 1);
    return S_OK;
}
