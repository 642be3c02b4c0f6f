// The network adapter vendor's WMI provider of the virtual notebook, ZoraVnbWmi.dll: an
// in-process COM server that serves the namespace "\\.\root\DovnetWmi" from the machine
// file, through ZoraVnb.dll beside this module.
//
// Registration (DllRegisterServer, by each architecture's regsvr32, in that caller's
// view of HKLM\Software\Classes) registers the provider's own locator class
// (dovnet::kLocatorClsid, ThreadingModel Both) and makes CLSID_WbemLocator "TreatAs" it,
// so that every CoCreateInstance(CLSID_WbemLocator) gets it. DllUnregisterServer removes
// the class and the TreatAs, the latter only while it still names this class.
//
// The locator's ConnectServer answers "\\.\root\DovnetWmi" (also "root\DovnetWmi", any
// case) itself while the virtual notebook is on (the installation key names a machine
// file); every other namespace, and this one while the notebook is off, goes to Wine's
// own locator, made through wbemprox.dll's class object (never through
// CoCreateInstance, which would come back here).
//
// The services object implements CreateInstanceEnum (a forward-only enumerator),
// GetObject for the two classes (class objects whose GetMethod gives the parameter
// signatures) and their instances, and ExecMethod; everything else is
// WBEM_E_NOT_SUPPORTED. It answers IClientSecurity and ignores the blanket: it is an
// in-process object, not a proxy.
//
// Classes (every property uint32, VT_I4 with CIM_UINT32):
//   Dovnet_PhysicalEthernetAdapter   key Index; "AdapterStatus"; path "...Adapter.Index=N"
//     GetPowerUsageOptions()         out: the eight power properties (NULL for one the
//                                    adapter does not have), ReturnValue 0
//     SetPowerUsageOptions(eight)    NULL leaves a property unchanged; must run inside the
//                                    open transaction with its handle as "ClientSetId" of
//                                    the call's IWbemContext (no transaction open:
//                                    WBEM_E_INVALID_OPERATION; no or another id:
//                                    WBEM_E_ACCESS_DENIED); a value for a property the
//                                    adapter does not have, or out of its range (1..2 for
//                                    SavePowerNowEnabled, 0..1 for the others), refuses the
//                                    whole call (WBEM_E_INVALID_PARAMETER). Accepted values
//                                    are staged, not yet in effect.
//   Dovnet_NetService                one instance, path "Dovnet_NetService=@"
//     BeginApply()                   out: ClientSetHandle (a new handle), ReturnValue 0;
//                                    opens the machine's one transaction, giving up (and
//                                    dropping what it staged) one that was left open
//     Apply(ClientSetHandle)         the open transaction's handle: its staged values take
//                                    effect and it ends; no transaction open:
//                                    WBEM_E_INVALID_OPERATION; another handle:
//                                    WBEM_E_ACCESS_DENIED
//
// Section [DovnetWmi] of the machine file, shared by every process; each method reads
// and writes it under the machine's mutex:
//
//   [DovnetWmi]
//   Adapters=1                    how many adapter instances (at most 8)
//   Transaction=none              the handle BeginApply gave last and its state: "5 open"
//                                 (Apply with 5 is awaited), "5 applied"; "none" before
//                                 the first; an abandoned one is simply replaced
//   Adapter0.Status=0             "AdapterStatus" (2048 or more: an adapter a client
//                                 uses only when it finds no other)
//   Adapter0.Supported=0xFF       bit i: the adapter has the i-th power property
//   Adapter0.Values=0,1,1,1,0,0,0,0   the values in effect, in the order ACBSMode,
//                                 ReduceSpeedOnPowerDown, SavePowerNowEnabled,
//                                 SmartPowerDown, AutoPowerSaveModeEnabled,
//                                 EnhancedASPMPowerSaver, LinkSpeedBatterySaver,
//                                 SystemIdlePowerSaver
//   Adapter0.Pending=             the values staged in the open transaction, same order,
//                                 an empty field for one not staged; empty: none
//
// A key that is absent reads as the default machine has it (an adapter without keys is
// the default adapter).
#include <olectl.h>

#include <cwchar>
#include <new>

#include "ComServerKit.h"
#include "WmiProvider.h"
#include "WmiProviderMachine.h"
#include "ZoraVnb.h"

namespace dovnet {
namespace {
HMODULE g_module = nullptr;
volatile LONG g_objects = 0;
volatile LONG g_locks = 0;

constexpr wchar_t kClassesKey[] = L"Software\\Classes";
constexpr wchar_t kDescription[] = L"Dovnet WMI provider locator (virtual notebook)";
constexpr wchar_t kMachineMutex[] = L"Global\\ZORA_VNB_MACHINE";

struct VnbValues {
    decltype(&::VnbGetValue) get = nullptr;
    decltype(&::VnbSetValue) set = nullptr;
    decltype(&::VnbConfiguredMachine) configured = nullptr;
};

// Bound once per process; the module stays loaded with the server.
const VnbValues& Vnb() {
    static const VnbValues values = [] {
        VnbValues bound;
        HMODULE vnb = vnb_com::LoadBeside(g_module, ZORA_VNB_MODULE);
        if (!vnb) return bound;
        bound.get = vnb_com::Export<decltype(&::VnbGetValue)>(vnb, "VnbGetValue");
        bound.set = vnb_com::Export<decltype(&::VnbSetValue)>(vnb, "VnbSetValue");
        bound.configured = vnb_com::Export<decltype(&::VnbConfiguredMachine)>(vnb, "VnbConfiguredMachine");
        if (!bound.get || !bound.set || !bound.configured) bound = VnbValues();
        return bound;
    }();
    return values;
}

std::wstring TreatAsKey() { return L"CLSID\\" + vnb_com::GuidText(CLSID_WbemLocator) + L"\\TreatAs"; }

HRESULT Register() {
    UniqueKey classes;
    LONG rc = vnb_com::RegisterInprocClass(g_module, kLocatorClsid, kDescription, &classes);
    if (rc == ERROR_SUCCESS)
        rc = vnb_com::SetString(classes.get(), TreatAsKey(), nullptr, vnb_com::GuidText(kLocatorClsid));
    return rc == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

HRESULT Unregister() {
    UniqueKey classes;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClassesKey, 0, KEY_ALL_ACCESS, classes.put());
    if (rc == ERROR_FILE_NOT_FOUND) return S_OK;
    if (rc != ERROR_SUCCESS) return SELFREG_E_CLASS;
    std::wstring clsid = vnb_com::GuidText(kLocatorClsid);
    // A TreatAs that another server has set since is left to it.
    wchar_t named[40] = {};
    DWORD bytes = sizeof(named) - sizeof(wchar_t);
    if (RegGetValueW(classes.get(), TreatAsKey().c_str(), nullptr, RRF_RT_REG_SZ, nullptr, named, &bytes) ==
            ERROR_SUCCESS &&
        _wcsicmp(named, clsid.c_str()) == 0) {
        rc = RegDeleteKeyW(classes.get(), TreatAsKey().c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return SELFREG_E_CLASS;
    }
    std::wstring classKey = L"CLSID\\" + clsid;
    rc = RegDeleteTreeW(classes.get(), classKey.c_str());
    if (rc == ERROR_SUCCESS) rc = RegDeleteKeyW(classes.get(), classKey.c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}

// "\\.\root\DovnetWmi", "//./root/DovnetWmi" or "root\DovnetWmi", in any case.
bool IsOurNamespace(const wchar_t* resource) {
    if (!resource) return false;
    std::wstring text = resource;
    for (wchar_t& c : text)
        if (c == L'/') c = L'\\';
    if (_wcsnicmp(text.c_str(), L"\\\\.\\", 4) == 0) text = text.substr(4);
    return _wcsicmp(text.c_str(), kNamespace) == 0;
}

// Wine's own locator, from wbemprox.dll's class object.
HRESULT SystemLocator(IWbemLocator** locator) {
    static HMODULE wbemprox = LoadLibraryW(L"wbemprox.dll");
    if (!wbemprox) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    auto getClassObject =
        vnb_com::Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(wbemprox, "DllGetClassObject");
    if (!getClassObject) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject(CLSID_WbemLocator, IID_IClassFactory, factory.put_void());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(nullptr, IID_IWbemLocator, reinterpret_cast<void**>(locator));
}

class Locator final : public IWbemLocator {
public:
    Locator() { ObjectCreated(); }
    Locator(const Locator&) = delete;
    Locator& operator=(const Locator&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IWbemLocator)) return E_NOINTERFACE;
        *object = static_cast<IWbemLocator*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) delete this;
        return static_cast<ULONG>(refs);
    }

    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR user, const BSTR password,
                                            const BSTR locale, LONG flags, const BSTR authority, IWbemContext* context,
                                            IWbemServices** services) override {
        if (!services) return WBEM_E_INVALID_PARAMETER;
        *services = nullptr;
        std::wstring machine;
        if (IsOurNamespace(resource) && ConfiguredMachine(&machine)) return NewServices(machine, services);
        ComPtr<IWbemLocator> system;
        HRESULT hr = SystemLocator(&system);
        if (FAILED(hr)) return hr;
        return system->ConnectServer(resource, user, password, locale, flags, authority, context, services);
    }

private:
    ~Locator() { ObjectDestroyed(); }
    LONG m_refs = 1;
};

vnb_com::StaticClassFactory<Locator> g_factory(&g_locks);
}  // namespace

void ObjectCreated() { InterlockedIncrement(&g_objects); }
void ObjectDestroyed() { InterlockedDecrement(&g_objects); }

bool ConfiguredMachine(std::wstring* machine) {
    const VnbValues& vnb = Vnb();
    wchar_t file[MAX_PATH] = {};
    if (!vnb.configured || !vnb.configured(file, MAX_PATH)) return false;
    *machine = file;
    return true;
}

DWORD ReadValue(const std::wstring& machine, const wchar_t* key, std::wstring* value) {
    const VnbValues& vnb = Vnb();
    if (!vnb.get) return ERROR_MOD_NOT_FOUND;
    wchar_t text[256];
    if (!vnb.get(machine.c_str(), kSection, key, text, ARRAYSIZE(text))) return GetLastError();
    *value = text;
    return ERROR_SUCCESS;
}

DWORD WriteValue(const std::wstring& machine, const wchar_t* key, const std::wstring& value) {
    const VnbValues& vnb = Vnb();
    if (!vnb.set) return ERROR_MOD_NOT_FOUND;
    return vnb.set(machine.c_str(), kSection, key, value.c_str()) ? ERROR_SUCCESS : GetLastError();
}

MachineHold::MachineHold() {
    NullDaclSecurity security;
    security.attributes.bInheritHandle = FALSE;
    m_mutex = CreateMutexW(&security.attributes, FALSE, kMachineMutex);
    if (!m_mutex) m_mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kMachineMutex);
    if (!m_mutex) {
        m_result = GetLastError();
        return;
    }
    // A holder that died left the file whole: an abandoned mutex is simply taken over.
    switch (WaitForSingleObject(m_mutex, 10000)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED: m_result = ERROR_SUCCESS; break;
    case WAIT_TIMEOUT: m_result = ERROR_TIMEOUT; break;
    default: m_result = GetLastError(); break;
    }
}

MachineHold::~MachineHold() {
    if (m_result == ERROR_SUCCESS) ReleaseMutex(m_mutex);
    if (m_mutex) CloseHandle(m_mutex);
}

}  // namespace dovnet

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        dovnet::g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    // COM asks for the class CLSID_WbemLocator is treated as; a caller that loads this
    // module itself may ask for the locator by its own name.
    if (!IsEqualCLSID(clsid, dovnet::kLocatorClsid) && !IsEqualCLSID(clsid, CLSID_WbemLocator))
        return CLASS_E_CLASSNOTAVAILABLE;
    return dovnet::g_factory.QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow() { return dovnet::g_objects == 0 && dovnet::g_locks == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() { return dovnet::Register(); }

STDAPI DllUnregisterServer() { return dovnet::Unregister(); }
