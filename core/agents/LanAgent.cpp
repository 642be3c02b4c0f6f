#include "LanAgent.h"

#include <objbase.h>
#include <wbemcli.h>

#include <cwchar>

#include "WinHandles.h"
#include "WindowsVersion.h"
#include "ZORACfg.h"
#include "ZoraSystemApi.h"

namespace {
constexpr GUID kNetClass = {0x4d36e972, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr wchar_t kDefaultAdapterName[] = L"Korvex(R) NL400";
constexpr wchar_t kDefaultSpeedParam[] = L"SpeedDuplex";
constexpr wchar_t kStandardSpeedParam[] = L"*SpeedDuplex";
constexpr wchar_t kNamespace[] = L"\\\\.\\root\\DovnetWmi";
constexpr wchar_t kAdapterClass[] = L"Dovnet_PhysicalEthernetAdapter";
constexpr wchar_t kNetServiceClass[] = L"Dovnet_NetService";
// An adapter status from this value on marks an adapter that is used only when no
// other is found.
constexpr long kProvisionalStatus = 2048;
// "*SpeedDuplex" by link speed index: the standardised keyword has no value 5.
constexpr unsigned long kStandardSpeed[] = {0, 1, 2, 3, 4, 6};
constexpr int kSpeedIndexes = sizeof(kStandardSpeed) / sizeof(kStandardSpeed[0]);

// The EBL level's bits: bit i switches the i-th property. A set bit writes `on`, a clear
// one `off`; a value reads back as a set bit when it is non-zero, or for
// "SavePowerNowEnabled" when it is 2.
struct PowerProperty {
    const wchar_t* name;
    long on, off;
};
constexpr PowerProperty kPowerProperties[8] = {
    {L"ACBSMode", 1, 0},
    {L"ReduceSpeedOnPowerDown", 1, 0},
    {L"SavePowerNowEnabled", 2, 1},
    {L"SmartPowerDown", 1, 0},
    {L"AutoPowerSaveModeEnabled", 1, 0},
    {L"EnhancedASPMPowerSaver", 1, 0},
    {L"LinkSpeedBatterySaver", 1, 0},
    {L"SystemIdlePowerSaver", 1, 0},
};
// The order the two readers go through the options' properties (bit numbers).
constexpr int kSupportReadOrder[8] = {0, 7, 1, 2, 3, 4, 5, 6};
constexpr int kLevelReadOrder[8] = {0, 1, 7, 2, 3, 4, 5, 6};
constexpr long long kNullValue = -1;

bool BitReadAsSet(int bit, long long value) {
    if (value == kNullValue) return false;
    return kPowerProperties[bit].on == 2 ? value == 2 : value != 0;
}

template <class T>
void ReleaseInterface(T*& pointer) {
    if (pointer) pointer->Release();
    pointer = nullptr;
}

long AsLong(const VARIANT& v) {
    switch (v.vt) {
    case VT_I4:
    case VT_INT: return v.lVal;
    case VT_UI4:
    case VT_UINT: return static_cast<long>(v.ulVal);
    case VT_I2: return v.iVal;
    case VT_UI2: return v.uiVal;
    case VT_UI1: return v.bVal;
    default: return -1;
    }
}

void CopyName(wchar_t (&target)[260], const wchar_t* text) { wcsncpy_s(target, 260, text, _TRUNCATE); }

// A driver parameter as its decimal text (string values) or number (DWORD values).
bool ReadParameter(HKEY key, const wchar_t* name, wchar_t* text, DWORD chars) {
    DWORD type = 0, size = (chars - 1) * sizeof(wchar_t);
    BYTE data[520] = {};
    if (size > sizeof(data) - sizeof(wchar_t)) size = sizeof(data) - sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, &type, data, &size) != ERROR_SUCCESS) return false;
    if (type == REG_SZ) {
        wcsncpy_s(text, chars, reinterpret_cast<const wchar_t*>(data), _TRUNCATE);
        return true;
    }
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD number = 0;
        memcpy(&number, data, sizeof(number));
        _snwprintf_s(text, chars, _TRUNCATE, L"%lu", number);
        return true;
    }
    return false;
}

bool WriteParameter(HKEY key, const wchar_t* name, unsigned long value) {
    wchar_t text[16];
    _snwprintf_s(text, 16, _TRUNCATE, L"%lu", value);
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool HasValue(HKEY key, const wchar_t* name) {
    return RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}
}  // namespace

CLanAgent::CLanAgent()
    : m_pLocator(nullptr),
      m_pServices(nullptr),
      m_pAdapter(nullptr),
      m_pNetService(nullptr),
      m_pContext(nullptr),
      m_dwSupportMask(kFailed),
      m_nComInit(0) {
    CopyName(m_szAdapterName, kDefaultAdapterName);
    CopyName(m_szSpeedParam, kDefaultSpeedParam);
    // A thread already in a single-threaded apartment refuses (RPC_E_CHANGED_MODE):
    // then there is no initialisation of ours to undo.
    m_nComInit = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) ? 1 : 0;
}

unsigned long CLanAgent::GetVersion() { return 1000; }

CLanAgent::~CLanAgent() {
    ReleaseAll();
    if (m_nComInit) CoUninitialize();
}

void CLanAgent::ReleaseAll() {
    ReleaseInterface(m_pLocator);
    ReleaseInterface(m_pServices);
    ReleaseInterface(m_pAdapter);
    ReleaseInterface(m_pNetService);
    ReleaseInterface(m_pContext);
}

int CLanAgent::Initialize() {
    CopyName(m_szAdapterName, kDefaultAdapterName);
    CopyName(m_szSpeedParam, kDefaultSpeedParam);
    CZORACfg cfg;
    if (!cfg.Initialize(L"ZORACfg.ini")) {
        DBGOUT(L"Initialize config file %s failed", L"ZORACfg.ini");
        return 0;
    }
    wchar_t text[260] = {};
    cfg.GetString(L"ZORACfg", L"NICName", kDefaultAdapterName, text, 260);
    CopyName(m_szAdapterName, text);
    DWORD major = 0;
    if (!WindowsMajorVersion(&major)) return 0;
    cfg.GetString(L"ZORACfg", major == 6 ? L"NICParaVista" : L"NICPara", kDefaultSpeedParam, text, 260);
    CopyName(m_szSpeedParam, text);

    // A second Initialize starts from a fresh connection.
    ReleaseAll();
    m_dwSupportMask = kFailed;
    HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_ALL, IID_IWbemLocator,
                                  reinterpret_cast<void**>(&m_pLocator));
    if (FAILED(hr) || !m_pLocator) {
        m_pLocator = nullptr;
        DBGOUT(L"Cannot create the instance of wbemlocator: 0x%x\n", static_cast<unsigned>(hr));
        return 0;
    }
    hr = m_pLocator->ConnectServer(Bstr(kNamespace).get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                   &m_pServices);
    if (FAILED(hr) || !m_pServices) {
        m_pServices = nullptr;
        DBGOUT(L"Cannot connect to the server: 0x%x\n", static_cast<unsigned>(hr));
        ReleaseInterface(m_pLocator);
        return 0;
    }
    hr = CoSetProxyBlanket(m_pServices, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (FAILED(hr)) {
        DBGOUT(L"Cannot init the priviledge: 0x%x\n", static_cast<unsigned>(hr));
        return 0;
    }

    IEnumWbemClassObject* adapters = nullptr;
    hr = m_pServices->CreateInstanceEnum(Bstr(kAdapterClass).get(), WBEM_FLAG_FORWARD_ONLY, nullptr, &adapters);
    if (FAILED(hr) || !adapters) {
        DBGOUT(L"Cannot Create instance enumerator for physical adapters: 0x%x\n", static_cast<unsigned>(hr));
        return 0;
    }
    for (;;) {
        IWbemClassObject* instance = nullptr;
        ULONG returned = 0;
        hr = adapters->Next(static_cast<long>(WBEM_INFINITE), 1, &instance, &returned);
        if (returned == 0 || !instance) {
            DBGOUT(L"Cannot Get the next instance of the adapter: 0x%x\n", static_cast<unsigned>(hr));
            break;
        }
        DBGOUT(L"Get the an instance of the adapter\n");
        Variant status, path;
        HRESULT statusRead = instance->Get(L"AdapterStatus", 0, &status.value, nullptr, nullptr);
        if (SUCCEEDED(statusRead)) DBGOUT(L"the AdapterStatus property of the adapter: 0x%d\n", AsLong(status.value));
        HRESULT pathRead = instance->Get(L"__Path", 0, &path.value, nullptr, nullptr);
        if (SUCCEEDED(pathRead) && path.value.vt == VT_BSTR)
            DBGOUT(L"the path property of the adapter: 0x%s\n", path.value.bstrVal);
        if (FAILED(statusRead) || FAILED(pathRead) || path.value.vt != VT_BSTR) {
            DBGOUT(L"Cannot Get the path property of the adapter: 0x%x\n",
                   static_cast<unsigned>(FAILED(statusRead) ? statusRead : pathRead));
            instance->Release();
            continue;
        }
        IWbemClassObject* output = nullptr;
        hr = m_pServices->ExecMethod(path.value.bstrVal, Bstr(L"GetPowerUsageOptions").get(), 0, nullptr, nullptr,
                                     &output, nullptr);
        if (output) output->Release();
        if (FAILED(hr)) {
            DBGOUT(L"Cannot execute the method:GetPowerUsageOptions of the adapter: 0x%x\n",
                   static_cast<unsigned>(hr));
            instance->Release();
            continue;
        }
        ReleaseInterface(m_pAdapter);
        m_pAdapter = instance;
        if (AsLong(status.value) < kProvisionalStatus) break;
    }
    adapters->Release();
    if (!m_pAdapter) return 0;

    IEnumWbemClassObject* services = nullptr;
    hr = m_pServices->CreateInstanceEnum(Bstr(kNetServiceClass).get(), WBEM_FLAG_FORWARD_ONLY, nullptr, &services);
    if (FAILED(hr) || !services) {
        DBGOUT(L"Cannot Create instance enumerator for Dovnet_NetService: 0x%x\n", static_cast<unsigned>(hr));
        return 0;
    }
    ULONG returned = 0;
    hr = services->Next(static_cast<long>(WBEM_INFINITE), 1, &m_pNetService, &returned);
    services->Release();
    if (returned == 0 || !m_pNetService) {
        m_pNetService = nullptr;
        DBGOUT(L"Cannot Get the instance of Dovnet_NetService: 0x%x\n", static_cast<unsigned>(hr));
        return 0;
    }
    return 1;
}

bool CLanAgent::ReadPowerOptions(const int (&order)[8], long long (&values)[8]) {
    if (!m_pAdapter || !m_pServices) return false;
    Variant path;
    HRESULT hr = m_pAdapter->Get(L"__Path", 0, &path.value, nullptr, nullptr);
    if (FAILED(hr) || path.value.vt != VT_BSTR) {
        DBGOUT(L"Cannot Get the path property of the adapter: 0x%x\n", static_cast<unsigned>(hr));
        return false;
    }
    ComPtr<IWbemClassObject> output;
    hr = m_pServices->ExecMethod(path.value.bstrVal, Bstr(L"GetPowerUsageOptions").get(), 0, nullptr, nullptr,
                                 &output, nullptr);
    if (FAILED(hr) || !output) {
        DBGOUT(L"Cannot execute the method:GetPowerUsageOptions of the adapter: 0x%x\n", static_cast<unsigned>(hr));
        return false;
    }
    for (int bit : order) {
        Variant value;
        hr = output->Get(kPowerProperties[bit].name, 0, &value.value, nullptr, nullptr);
        if (FAILED(hr)) {
            DBGOUT(L"Cannot get the value the param: %s: 0x%x\n", kPowerProperties[bit].name,
                   static_cast<unsigned>(hr));
            return false;
        }
        values[bit] = value.value.vt == VT_NULL || value.value.vt == VT_EMPTY
                          ? kNullValue
                          : static_cast<long long>(static_cast<unsigned long>(AsLong(value.value)));
    }
    return true;
}

unsigned long CLanAgent::CheckSupportStatus() {
    long long values[8] = {};
    if (!ReadPowerOptions(kSupportReadOrder, values)) return kFailed;
    unsigned long mask = 0;
    for (int bit = 0; bit < 8; ++bit)
        if (values[bit] != kNullValue) mask |= 1ul << bit;
    m_dwSupportMask = mask;
    return mask;
}

unsigned long CLanAgent::GetEblLevel() {
    long long values[8] = {};
    if (!ReadPowerOptions(kLevelReadOrder, values)) return kFailed;
    unsigned long level = 0;
    for (int bit = 0; bit < 8; ++bit)
        if (BitReadAsSet(bit, values[bit])) level |= 1ul << bit;
    return level;
}

HRESULT CLanAgent::SetContext(VARIANT& clientSetHandle) {
    HRESULT hr = S_OK;
    if (!m_pContext) {
        hr = CoCreateInstance(CLSID_WbemContext, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemContext,
                              reinterpret_cast<void**>(&m_pContext));
        if (FAILED(hr) || !m_pContext) {
            m_pContext = nullptr;
            DBGOUT(L"cannot create instance of WbemContext: 0x%x\n", static_cast<unsigned>(hr));
            return FAILED(hr) ? hr : E_FAIL;
        }
    }
    hr = m_pContext->SetValue(L"ClientSetId", 0, &clientSetHandle);
    if (FAILED(hr)) DBGOUT(L"Cannot Set the value of client: 0x%x\n", static_cast<unsigned>(hr));
    return hr;
}

// One begin/apply transaction of the net service. A step failing after "BeginApply"
// leaves the transaction open: the provider gives it up at the next "BeginApply".
unsigned long CLanAgent::SetEblLevel(int level) {
    if (!m_pAdapter || !m_pNetService || !m_pServices || static_cast<unsigned long>(level) == kFailed)
        return kFailed;
    if (m_dwSupportMask == kFailed) CheckSupportStatus();
    if (m_dwSupportMask == 0 || m_dwSupportMask == kFailed) return kFailed;

    Variant servicePath;
    HRESULT hr = m_pNetService->Get(L"__Path", 0, &servicePath.value, nullptr, nullptr);
    if (FAILED(hr) || servicePath.value.vt != VT_BSTR) {
        DBGOUT(L"Cannot get the instance path of Dovnet_NetService: 0x%x\n", static_cast<unsigned>(hr));
        return kFailed;
    }
    ComPtr<IWbemClassObject> begun;
    hr = m_pServices->ExecMethod(servicePath.value.bstrVal, Bstr(L"BeginApply").get(), 0, nullptr, nullptr, &begun,
                                 nullptr);
    if (FAILED(hr) || !begun) {
        DBGOUT(L"Cannot Execute the method:BeginApply of Dovnet_NetService: 0x%x\n", static_cast<unsigned>(hr));
        return kFailed;
    }
    Variant handle;
    hr = begun->Get(L"ClientSetHandle", 0, &handle.value, nullptr, nullptr);
    if (FAILED(hr)) {
        DBGOUT(L"Cannot Get the output param: ClientSetHandle of Method:BeginApply: 0x%x\n",
               static_cast<unsigned>(hr));
        return kFailed;
    }
    hr = SetContext(handle.value);
    if (FAILED(hr)) {
        DBGOUT(L"Cannot set the context for later call: 0x%x\n", static_cast<unsigned>(hr));
        return kFailed;
    }

    ComPtr<IWbemClassObject> adapterClass, signature, options;
    hr = m_pServices->GetObject(Bstr(kAdapterClass).get(), 0, nullptr, &adapterClass, nullptr);
    if (FAILED(hr) || !adapterClass) {
        DBGOUT(L"Cannot get the class of adapter: 0x%x\n", static_cast<unsigned>(hr));
        return kFailed;
    }
    hr = adapterClass->GetMethod(L"SetPowerUsageOptions", 0, &signature, nullptr);
    if (FAILED(hr) || !signature) {
        DBGOUT(L"Cannot get the method SetPowerUsageOptions : 0x%x\n", static_cast<unsigned>(hr));
        return kFailed;
    }
    hr = signature->SpawnInstance(0, &options);
    if (FAILED(hr) || !options) {
        DBGOUT(L"Cannot spawn new Instance of inparam of SetPowerUsageOptions: 0x%x\n", static_cast<unsigned>(hr));
        return kFailed;
    }
    for (int bit = 0; bit < 8; ++bit) {
        const PowerProperty& property = kPowerProperties[bit];
        Variant current;
        CIMTYPE type = CIM_EMPTY;
        hr = options->Get(property.name, 0, &current.value, &type, nullptr);
        if (FAILED(hr)) {
            DBGOUT(L"Cannot get the value %s :0x%x\n", property.name, static_cast<unsigned>(hr));
            return kFailed;
        }
        Variant value;
        if (m_dwSupportMask & (1ul << bit)) {
            value.value.vt = VT_I4;
            value.value.lVal = (static_cast<unsigned long>(level) & (1ul << bit)) ? property.on : property.off;
        } else {
            value.value.vt = VT_NULL;
        }
        hr = options->Put(property.name, 0, &value.value, type);
        if (FAILED(hr)) {
            DBGOUT(L"Cannot put the value %s :0x%x\n", property.name, static_cast<unsigned>(hr));
            return kFailed;
        }
    }
    Variant adapterPath;
    hr = m_pAdapter->Get(L"__Path", 0, &adapterPath.value, nullptr, nullptr);
    if (FAILED(hr) || adapterPath.value.vt != VT_BSTR) {
        DBGOUT(L"Cannot get path of the adapter: 0x%x\n", static_cast<unsigned>(hr));
        return kFailed;
    }
    ComPtr<IWbemClassObject> setOutput;
    hr = m_pServices->ExecMethod(adapterPath.value.bstrVal, Bstr(L"SetPowerUsageOptions").get(), 0, m_pContext,
                                 options.get(), &setOutput, nullptr);
    if (FAILED(hr)) DBGOUT(L"Cannot ExecMethod : SetPowerUsageOptions: 0x%x\n", static_cast<unsigned>(hr));

    ComPtr<IWbemClassObject> serviceClass, applySignature, applyInput, applied;
    hr = m_pServices->GetObject(Bstr(kNetServiceClass).get(), 0, nullptr, &serviceClass, nullptr);
    if (FAILED(hr) || !serviceClass) {
        DBGOUT(L"Cannot get the class of Dovnet_NetService: 0x%x\n", static_cast<unsigned>(hr));
        return kFailed;
    }
    hr = serviceClass->GetMethod(L"Apply", 0, &applySignature, nullptr);
    if (FAILED(hr) || !applySignature) {
        DBGOUT(L"Cannot get the input params of Dovnet_NetService: 0x%x\n", static_cast<unsigned>(hr));
        return kFailed;
    }
    hr = applySignature->SpawnInstance(0, &applyInput);
    if (FAILED(hr) || !applyInput) {
        DBGOUT(L"Cannot spawn new instance of inparam: 0x%x\n", static_cast<unsigned>(hr));
        return kFailed;
    }
    hr = applyInput->Put(L"ClientSetHandle", 0, &handle.value, 0);
    if (FAILED(hr)) {
        DBGOUT(L"Cannot put the value of inparam:ClientSetHandle: 0x%x\n", static_cast<unsigned>(hr));
        return kFailed;
    }
    hr = m_pServices->ExecMethod(servicePath.value.bstrVal, Bstr(L"Apply").get(), 0, nullptr, applyInput.get(),
                                 &applied, nullptr);
    if (FAILED(hr)) {
        DBGOUT(L"Cannot execute the method apply: 0x%x\n", static_cast<unsigned>(hr));
        return kFailed;
    }
    return static_cast<unsigned long>(level);
}

HKEY CLanAgent::OpenAdapterKey(REGSAM access) {
    HKEY classKey = ZoraSys()->SetupDiOpenClassRegKeyExW(&kNetClass, KEY_READ, DIOCR_INSTALLER, nullptr, nullptr);
    if (classKey == static_cast<HKEY>(INVALID_HANDLE_VALUE) || !classKey) {
        DBGOUT(L"SetupDiOpenClassRegKeyEx failed: 0x%x\n", static_cast<unsigned>(GetLastError()));
        return nullptr;
    }
    UniqueKey classes(classKey);
    for (DWORD index = 0;; ++index) {
        wchar_t name[260] = {};
        DWORD chars = 260;
        if (RegEnumKeyExW(classes.get(), index, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        UniqueKey driver;
        if (RegOpenKeyExW(classes.get(), name, 0, access, driver.put()) != ERROR_SUCCESS) break;
        wchar_t description[260] = {};
        DWORD type = 0, size = sizeof(description) - sizeof(wchar_t);
        if (RegQueryValueExW(driver.get(), L"DriverDesc", nullptr, &type, reinterpret_cast<BYTE*>(description),
                             &size) == ERROR_SUCCESS &&
            type == REG_SZ && wcsstr(description, m_szAdapterName))
            return driver.release();
    }
    DBGOUT(L"Cannot find the hardware.\n");
    return nullptr;
}

unsigned long CLanAgent::SetLanSpeed(int speed) {
    if (speed < 0) {
        DBGOUT(L"The input value is invalid.\n");
        return kFailed;
    }
    UniqueKey key(OpenAdapterKey(KEY_READ | KEY_WRITE));
    if (!key) return kFailed;
    bool written = false;
    if (HasValue(key.get(), m_szSpeedParam)) {
        written = WriteParameter(key.get(), m_szSpeedParam, static_cast<unsigned long>(speed));
    } else if (HasValue(key.get(), kStandardSpeedParam)) {
        // The standardised keyword has six values: a larger index has none to write.
        if (speed >= kSpeedIndexes) {
            DBGOUT(L"The input value is invalid.\n");
            return kFailed;
        }
        written = WriteParameter(key.get(), kStandardSpeedParam, kStandardSpeed[speed]);
    }
    if (!written) {
        DBGOUT(L"Cannot find the hardware.\n");
        return kFailed;
    }
    DBGOUT(L"Set the registry value successfully\n");
    return static_cast<unsigned long>(speed);
}

unsigned long CLanAgent::GetLanSpeed() {
    UniqueKey key(OpenAdapterKey(KEY_READ));
    if (!key) return kFailed;
    wchar_t text[260] = {};
    if (ReadParameter(key.get(), m_szSpeedParam, text, 260)) {
        DBGOUT(L"get the registry value successfully %s\n", text);
        return wcstoul(text, nullptr, 10);
    }
    if (!ReadParameter(key.get(), kStandardSpeedParam, text, 260)) {
        DBGOUT(L"Cannot find the hardware.\n");
        return kFailed;
    }
    DBGOUT(L"get the registry value successfully %s\n", text);
    unsigned long value = wcstoul(text, nullptr, 10);
    for (int index = 0; index < kSpeedIndexes; ++index)
        if (kStandardSpeed[index] == value) return static_cast<unsigned long>(index);
    return kFailed;
}

unsigned long CLanAgent::ApplySettings() {
    UniqueDevInfo set(ZoraSys()->SetupDiGetClassDevsW(&kNetClass, nullptr, nullptr, DIGCF_PRESENT));
    if (!set) {
        DBGOUT(L"SetupDiGetClassDevs failed %x", static_cast<unsigned>(GetLastError()));
        return kFailed;
    }
    SP_DEVINFO_DATA device = {};
    bool found = false;
    for (DWORD index = 0; !found; ++index) {
        device = {};
        device.cbSize = sizeof(device);
        if (!ZoraSys()->SetupDiEnumDeviceInfo(set.get(), index, &device)) break;
        wchar_t description[260] = {};
        found = ZoraSys()->SetupDiGetDeviceRegistryPropertyW(set.get(), &device, SPDRP_DEVICEDESC, nullptr,
                                                             reinterpret_cast<BYTE*>(description),
                                                             sizeof(description) - sizeof(wchar_t), nullptr) &&
                wcsstr(description, m_szAdapterName);
    }
    if (!found) return kFailed;
    SP_PROPCHANGE_PARAMS change = {};
    change.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    change.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    change.StateChange = DICS_PROPCHANGE;
    change.Scope = DICS_FLAG_GLOBAL;
    change.HwProfile = 0;  // the current hardware profile
    if (ZoraSys()->SetupDiSetClassInstallParamsW(set.get(), &device, &change.ClassInstallHeader, sizeof(change)) &&
        ZoraSys()->SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set.get(), &device))
        DBGOUT(L"Setup the lan speed successfully!");
    return 1;
}
