#include "HwHubra.h"

#include <cwchar>

#include "HwRegister.h"

namespace {
struct FunctionSwitch {
    hw::Register reg;
    int bit = 0;
    int disableType = 0;
};

// Finds the function in the hub's device list and where its switch register is.
long LocateFunction(CHwIA* ia, const wchar_t* hubName, const wchar_t* function, FunctionSwitch* found) {
    hw::InstalledCfg cfg;
    if (!hw::OpenCfg(&cfg, hw::kHubraCfg)) return E_FAIL;
    if (!function) return E_FAIL;
    wchar_t list[hw::kNameChars + 16];
    _snwprintf(list, hw::kNameChars + 16, L"%s Devices", hubName);
    list[hw::kNameChars + 15] = L'\0';
    int count = cfg.GetInt(list, L"DeviceNumbers", hw::kMissing);
    if (count < 1) return E_FAIL;
    bool listed = false;
    for (int i = 0; i < count && !listed; ++i) {
        wchar_t key[32], name[hw::kNameChars];
        _snwprintf(key, 32, L"Name%d", i);
        key[31] = L'\0';
        cfg.GetString(list, key, L"", name, hw::kNameChars);
        listed = wcscmp(name, function) == 0;
    }
    if (!listed) return E_FAIL;

    wchar_t type[32];
    cfg.GetString(function, L"RegisterType", L"", type, 32);
    hw::Space space;
    if (!hw::ParseSpace(type, true, &space)) return E_FAIL;
    hw::PciAddress pci;
    bool located = hw::ReadPciAddress(&cfg, function, &pci);
    int valueOffset = cfg.GetHex(function, L"ValueOffset", hw::kMissing);
    int valueSize = cfg.GetInt(function, L"ValueSize", hw::kMissing);
    found->bit = cfg.GetInt(function, L"Bit", hw::kMissing);
    found->disableType = cfg.GetInt(function, L"DisableType", hw::kMissing);
    if (!located || valueOffset == hw::kMissing || valueSize == hw::kMissing || found->bit == hw::kMissing ||
        found->disableType == hw::kMissing)
        return E_FAIL;
    // The register image is 32 bits wide.
    if (!hw::ValidWidth(valueSize) || found->bit < 0 || found->bit > 31) return E_FAIL;

    if (space != hw::Space::PciConfig)
        return hw::LocateBehindBar(ia, space, pci, cfg.GetHex(function, L"AddressOffset", -1),
                                   cfg.GetInt(function, L"AddressSize", hw::kMissing),
                                   static_cast<uint32_t>(cfg.GetHex(function, L"AddressMask", -1)),
                                   static_cast<uint32_t>(valueOffset), valueSize, &found->reg);
    found->reg.space = space;
    found->reg.address = static_cast<uint32_t>(valueOffset);
    found->reg.size = valueSize;
    return hw::DeviceObject(ia, pci, found->reg.device);
}
}  // namespace

CHwHubra::CHwHubra() { m_szHubName[0] = L'\0'; }

CHwHubra::CHwHubra(const CHwHubra& other) : CHwIA(other) { wcscpy(m_szHubName, other.m_szHubName); }

CHwHubra& CHwHubra::operator=(const CHwHubra& other) {
    CHwIA::operator=(other);
    wcscpy(m_szHubName, other.m_szHubName);
    return *this;
}

CHwHubra::~CHwHubra() = default;

long CHwHubra::Setup(int identify) {
    if (m_hDriver == INVALID_HANDLE_VALUE && CHwIA::Setup() != S_OK) return E_FAIL;
    if (m_szHubName[0]) return 1;
    return hw::IdentifyHub(this, identify, m_szHubName);
}

long CHwHubra::FunctionDisable(const wchar_t* function, int disable) {
    FunctionSwitch sw;
    long hr = LocateFunction(this, m_szHubName, function, &sw);
    if (hr != S_OK) return hr;
    hw::RegisterAccess access(this, sw.reg);
    return access.SwitchBit(sw.bit, !hw::TypeMatches(sw.disableType, disable));
}

long CHwHubra::GetFunctionDisable(const wchar_t* function, int* disabled) {
    if (!disabled) return E_FAIL;
    FunctionSwitch sw;
    long hr = LocateFunction(this, m_szHubName, function, &sw);
    if (hr != S_OK) return hr;
    uint32_t value = 0;
    hr = hw::ReadRegister(this, sw.reg, &value);
    if (hr != S_OK) return hr;
    *disabled = static_cast<int>((value >> sw.bit) & 1) != sw.disableType ? 1 : 0;
    return S_OK;
}
