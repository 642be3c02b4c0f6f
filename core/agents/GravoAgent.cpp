#include "GravoAgent.h"

#include <objbase.h>

#include "WinHandles.h"
#include "ZoraPanelBridge.h"

namespace {
constexpr HRESULT kNotSupportedResult = static_cast<HRESULT>(0x80004001);  // E_NOTIMPL
constexpr HRESULT kLockedResult = static_cast<HRESULT>(0x80070005);        // E_ACCESSDENIED
constexpr HRESULT kOpenFailedResult = static_cast<HRESULT>(0x80004005);    // E_FAIL

bool Succeeded(HRESULT hr, uint32_t error) { return hr >= 0 && error == kPanelErrorNone; }

// The error a failed call reports; a failing HRESULT with error code 0 is a failure
// the codes below do not name.
uint32_t FailureCode(HRESULT hr, uint32_t error) { return error ? error : (hr < 0 ? 0xFFFFFFFFu : 0u); }

template <class Record>
bool GetPolicy(IZoraPanelBridge* bridge, uint32_t handle, uint32_t policy, const GUID& id, Record* record,
               uint32_t* error) {
    *record = Record{};
    *error = kPanelErrorNone;
    HRESULT hr = bridge->GetPowerPolicy(handle, policy, &id, sizeof(Record), record, error);
    if (Succeeded(hr, *error)) return true;
    *error = FailureCode(hr, *error);
    *record = Record{};
    return false;
}

template <class Record>
bool SetPolicy(IZoraPanelBridge* bridge, uint32_t handle, uint32_t policy, const GUID& id, const Record& record,
               uint32_t* error) {
    *error = kPanelErrorNone;
    HRESULT hr = bridge->SetPowerPolicy(handle, policy, &id, sizeof(Record), &record, error);
    if (Succeeded(hr, *error)) return true;
    *error = FailureCode(hr, *error);
    return false;
}

unsigned long Bit(unsigned long level, unsigned long mask) { return (level & mask) ? 1 : 0; }
}  // namespace

CGravoAgent::CGravoAgent() : m_pBridge(nullptr), m_hPower(0), m_nComInit(0) {
    // A thread already in a single-threaded apartment refuses (RPC_E_CHANGED_MODE):
    // then there is no initialisation of ours to undo.
    m_nComInit = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) ? 1 : 0;
}

unsigned long CGravoAgent::GetVersion() { return 1000; }

CGravoAgent::~CGravoAgent() {
    Cleanup();
    if (m_nComInit) CoUninitialize();
}

long CGravoAgent::Setup() {
    if (m_pBridge) return 0;
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(ZORA_PANEL_PROGID, &clsid);
    if (FAILED(hr)) {
        DBGOUT(L"COM not init or Vidorra driver not installed [%x].", static_cast<unsigned>(hr));
        return hr;
    }
    ComPtr<IZoraPanelBridge> bridge;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IZoraPanelBridge, bridge.put_void());
    if (FAILED(hr) || !bridge) {
        if (SUCCEEDED(hr)) hr = E_NOINTERFACE;
        DBGOUT(L"CoCreateInstance() Failed for %x", static_cast<unsigned>(hr));
        return hr;
    }

    uint32_t handle = 0, error = kPanelErrorNone;
    hr = bridge->PowerApiOpen(&handle, &error);
    if (Succeeded(hr, error)) {
        m_pBridge = bridge.detach();
        m_hPower = handle;
        return hr;
    }
    long result = kOpenFailedResult;
    if (error == kPanelErrorNotSupported) {
        DBGOUT(L"PowerAPI Not Supported.%d", static_cast<int>(error));
        result = kNotSupportedResult;
    } else if (error == kPanelErrorLocked) {
        DBGOUT(L"PowerAPI Locked.%d", static_cast<int>(error));
        uint32_t closeError = kPanelErrorNone;
        bridge->PowerApiClose(handle, &closeError);
        result = kLockedResult;
    } else {
        DBGOUT(L"PowerApiOpen() failed.%d", static_cast<int>(FailureCode(hr, error)));
    }
    return result;
}

long CGravoAgent::Cleanup() {
    if (!m_pBridge) return 0;
    uint32_t error = kPanelErrorNone;
    HRESULT hr = m_pBridge->PowerApiClose(m_hPower, &error);
    if (!Succeeded(hr, error)) DBGOUT(L"Close Power handle failed with %x", FailureCode(hr, error));
    return ReleaseBridge();
}

long CGravoAgent::ReleaseBridge() {
    ComPtr<IZoraPanelBridge> released;
    released.attach(std::exchange(m_pBridge, nullptr));
    m_hPower = 0;
    return 0;
}

unsigned long CGravoAgent::CheckSupportStatus() {
    if (!m_pBridge) return 0;
    uint32_t capabilities = 0, error = kPanelErrorNone;
    HRESULT hr = m_pBridge->GetPowerConsCaps(m_hPower, &capabilities, &error);
    if (Succeeded(hr, error)) return capabilities;
    DBGOUT(L"GetPowerConsCaps failed with %x", FailureCode(hr, error));
    return 0;
}

unsigned long CGravoAgent::GetEblLevel() {
    if (!m_pBridge) {
        DBGOUT(L"call setup first.");
        return kNoLevel;
    }
    uint32_t error = kPanelErrorNone;
    PanelVxfgPolicy vxfg;
    if (!GetPolicy(m_pBridge, m_hPower, kPanelPolicyVxfg, kPanelPolicyVxfgId, &vxfg, &error)) {
        if (error == kPanelErrorLocked) DBGOUT(L"GetPowerPolicy Locked! Need release the previous one!");
        DBGOUT(error == kPanelErrorPolicyNotSupported ? L"Unsupported power policy VXFG!"
                                                      : L"GetPowerPolicy for VXFG failed");
    }
    PanelVxabPolicy vxab;
    if (!GetPolicy(m_pBridge, m_hPower, kPanelPolicyVxab, kPanelPolicyVxabId, &vxab, &error))
        DBGOUT(error == kPanelErrorPolicyNotSupported ? L"Unsupported power policy VXAB!"
                                                      : L"GetPowerPolicy for VXAB failed");
    PanelVxpsPolicy vxps;
    if (!GetPolicy(m_pBridge, m_hPower, kPanelPolicyVxps, kPanelPolicyVxpsId, &vxps, &error)) {
        if (error != kPanelErrorPolicyNotSupported) {
            DBGOUT(L"GetPowerPolicy for VXPS failed");
            return kNoLevel;
        }
        DBGOUT(L"Unsupported power policy VXPS!");
    }
    unsigned long level = 0;
    if (vxfg.enabled) level |= kVxfgEnabled;
    if (vxab.field2) level |= kVxabField2;
    if (vxab.field1) level |= kVxabField1;
    if (vxps.enabled) level |= kVxpsEnabled | (vxps.strength & kVxpsStrength);
    return level;
}

unsigned long CGravoAgent::SetEblLevel(int level) {
    if (!m_pBridge) {
        DBGOUT(L"call setup first.");
        return kNoLevel;
    }
    unsigned long bits = static_cast<unsigned long>(level);
    if (bits == kNoLevel) {
        DBGOUT(L"Wrong level!");
        return kNoLevel;
    }
    uint32_t error = kPanelErrorNone;
    PanelVxfgPolicy vxfg{};
    vxfg.enabled = Bit(bits, kVxfgEnabled);
    if (!SetPolicy(m_pBridge, m_hPower, kPanelPolicyVxfg, kPanelPolicyVxfgId, vxfg, &error))
        DBGOUT(error == kPanelErrorPolicyNotSupported ? L"Unsupported power policy VXFG!"
                                                      : L"SetPowerPolicy for VXFG failed");
    PanelVxabPolicy vxab{};
    vxab.field1 = Bit(bits, kVxabField1);
    vxab.field2 = Bit(bits, kVxabField2);
    if (!SetPolicy(m_pBridge, m_hPower, kPanelPolicyVxab, kPanelPolicyVxabId, vxab, &error))
        DBGOUT(error == kPanelErrorPolicyNotSupported ? L"Unsupported power policy VXAB!"
                                                      : L"SetPowerPolicy for VXAB failed");
    PanelVxpsPolicy vxps{};
    vxps.enabled = Bit(bits, kVxpsEnabled);
    vxps.strength = bits & kVxpsStrength;
    if (SetPolicy(m_pBridge, m_hPower, kPanelPolicyVxps, kPanelPolicyVxpsId, vxps, &error)) return bits;
    if (error == kPanelErrorPolicyNotSupported) {
        DBGOUT(L"Unsupported power policy VXPS!");
        return bits;
    }
    DBGOUT(L"SetPowerPolicy for VXPS failed");
    return kNoLevel;
}

unsigned long CDisplayAgent::GetVersion() { return 1000; }
CDisplayAgent::~CDisplayAgent() = default;
unsigned long CDisplayAgent::GetEblLevel() { return 0xFFFFFFFF; }
unsigned long CDisplayAgent::SetEblLevel(int) { return 0xFFFFFFFF; }
unsigned long CDisplayAgent::CheckSupportStatus() { return 0; }

unsigned long CEblTuner::GetVersion() { return 1000; }
CEblTuner::~CEblTuner() = default;
unsigned long CEblTuner::GetEblLevel() { return 0; }
unsigned long CEblTuner::SetEblLevel(int) { return 0; }
unsigned long CEblTuner::CheckSupportStatus() { return 0; }
