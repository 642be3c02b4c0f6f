// The namespace "root\DovnetWmi": its two classes, their instances from section
// [DovnetWmi] of the machine file and their methods (the behaviour is described in
// WmiProviderServer.cpp).
#include <cwchar>
#include <new>

#include "WmiProvider.h"
#include "WmiProviderMachine.h"

namespace dovnet {
namespace {
// ---- The section's state ----

struct Adapter {
    uint32_t status = 0;
    uint32_t supported = kAllSupported;
    uint32_t values[kPowerProperties] = {};
    bool staged[kPowerProperties] = {};
    uint32_t pending[kPowerProperties] = {};
};

std::wstring Key(int adapter, const wchar_t* field) {
    return L"Adapter" + std::to_wstring(adapter) + L"." + field;
}

// A number of the section; `fallback` when the key is absent. ERROR_INVALID_DATA when
// it is not a number.
DWORD ReadNumber(const std::wstring& machine, const std::wstring& key, uint32_t fallback, uint32_t* number) {
    std::wstring text;
    DWORD error = ReadValue(machine, key.c_str(), &text);
    if (error == ERROR_NOT_FOUND) {
        *number = fallback;
        return ERROR_SUCCESS;
    }
    if (error != ERROR_SUCCESS) return error;
    wchar_t* end = nullptr;
    unsigned long value = wcstoul(text.c_str(), &end, 0);
    if (text.empty() || *end) return ERROR_INVALID_DATA;
    *number = static_cast<uint32_t>(value);
    return ERROR_SUCCESS;
}

// "v0,v1,...,v7": each field a number, or empty (staged lists only) for none.
DWORD ParseList(const std::wstring& text, uint32_t (&values)[kPowerProperties], bool (&present)[kPowerProperties]) {
    size_t at = 0;
    for (int i = 0; i < kPowerProperties; ++i) {
        size_t comma = text.find(L',', at);
        std::wstring field = text.substr(at, comma == std::wstring::npos ? std::wstring::npos : comma - at);
        present[i] = !field.empty();
        if (present[i]) {
            wchar_t* end = nullptr;
            values[i] = static_cast<uint32_t>(wcstoul(field.c_str(), &end, 0));
            if (*end) return ERROR_INVALID_DATA;
        }
        if (comma == std::wstring::npos) {
            for (int rest = i + 1; rest < kPowerProperties; ++rest) present[rest] = false;
            return ERROR_SUCCESS;
        }
        at = comma + 1;
    }
    return ERROR_SUCCESS;
}

std::wstring FormatList(const uint32_t (&values)[kPowerProperties], const bool (&present)[kPowerProperties]) {
    std::wstring text;
    bool any = false;
    for (int i = 0; i < kPowerProperties; ++i) {
        if (i) text += L',';
        if (present[i]) text += std::to_wstring(values[i]);
        any = any || present[i];
    }
    return any ? text : std::wstring();
}

// "Transaction": the handle BeginApply gave last and whether that transaction is
// still open ("5 open", "5 applied"; "none" before the first).
struct Transaction {
    uint32_t handle = 0;
    bool open = false;
};

DWORD ReadTransaction(const std::wstring& machine, Transaction* transaction) {
    std::wstring text;
    DWORD error = ReadValue(machine, L"Transaction", &text);
    *transaction = Transaction();
    if (error == ERROR_NOT_FOUND || (error == ERROR_SUCCESS && text == L"none")) return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) return error;
    wchar_t* end = nullptr;
    transaction->handle = static_cast<uint32_t>(wcstoul(text.c_str(), &end, 10));
    if (end == text.c_str()) return ERROR_INVALID_DATA;
    if (wcscmp(end, L" open") == 0)
        transaction->open = true;
    else if (wcscmp(end, L" applied") != 0)
        return ERROR_INVALID_DATA;
    return ERROR_SUCCESS;
}

DWORD WriteTransaction(const std::wstring& machine, const Transaction& transaction) {
    return WriteValue(machine, L"Transaction",
                      std::to_wstring(transaction.handle) + (transaction.open ? L" open" : L" applied"));
}

DWORD AdapterCount(const std::wstring& machine, int* count) {
    uint32_t number = 1;
    DWORD error = ReadNumber(machine, L"Adapters", 1, &number);
    *count = static_cast<int>(number > static_cast<uint32_t>(kMaxAdapters) ? kMaxAdapters : number);
    return error;
}

DWORD ReadAdapter(const std::wstring& machine, int index, Adapter* adapter) {
    DWORD error = ReadNumber(machine, Key(index, L"Status"), 0, &adapter->status);
    if (error == ERROR_SUCCESS) error = ReadNumber(machine, Key(index, L"Supported"), kAllSupported, &adapter->supported);
    std::wstring text;
    bool present[kPowerProperties] = {};
    for (int i = 0; i < kPowerProperties; ++i) adapter->values[i] = kProperties[i].initial;
    if (error == ERROR_SUCCESS) {
        error = ReadValue(machine, Key(index, L"Values").c_str(), &text);
        if (error == ERROR_SUCCESS) {
            uint32_t values[kPowerProperties] = {};
            error = ParseList(text, values, present);
            for (int i = 0; i < kPowerProperties; ++i)
                if (present[i]) adapter->values[i] = values[i];
        } else if (error == ERROR_NOT_FOUND) {
            error = ERROR_SUCCESS;
        }
    }
    if (error == ERROR_SUCCESS) {
        error = ReadValue(machine, Key(index, L"Pending").c_str(), &text);
        if (error == ERROR_SUCCESS)
            error = ParseList(text, adapter->pending, adapter->staged);
        else if (error == ERROR_NOT_FOUND)
            error = ERROR_SUCCESS;
    }
    return error;
}

DWORD WritePending(const std::wstring& machine, int index, const Adapter& adapter) {
    return WriteValue(machine, Key(index, L"Pending").c_str(), FormatList(adapter.pending, adapter.staged));
}

HRESULT FromWin32(DWORD error) {
    if (error == ERROR_SUCCESS) return S_OK;
    return static_cast<HRESULT>(error == ERROR_NOT_FOUND ? WBEM_E_NOT_FOUND : WBEM_E_PROVIDER_FAILURE);
}

// ---- Classes ----

ComPtr<WbemObject> Parameters() { return WbemObject::NewClass(L"__PARAMETERS", false); }

ComPtr<WbemObject> AdapterClass() {
    ComPtr<WbemObject> cls = WbemObject::NewClass(kAdapterClass, true);
    if (!cls) return cls;
    cls->Declare(L"Index", CIM_UINT32);
    cls->Declare(L"AdapterStatus", CIM_UINT32);
    ComPtr<WbemObject> getOut = Parameters(), setIn = Parameters(), setOut = Parameters();
    if (!getOut || !setIn || !setOut) return nullptr;
    for (const PowerProperty& property : kProperties) {
        getOut->Declare(property.name, CIM_UINT32);
        setIn->Declare(property.name, CIM_UINT32);
    }
    getOut->Declare(L"ReturnValue", CIM_UINT32);
    setOut->Declare(L"ReturnValue", CIM_UINT32);
    cls->AddMethod(L"GetPowerUsageOptions", nullptr, getOut);
    cls->AddMethod(L"SetPowerUsageOptions", setIn, setOut);
    return cls;
}

ComPtr<WbemObject> NetServiceClass() {
    ComPtr<WbemObject> cls = WbemObject::NewClass(kNetServiceClass, true);
    ComPtr<WbemObject> beginOut = Parameters(), applyIn = Parameters(), applyOut = Parameters();
    if (!cls || !beginOut || !applyIn || !applyOut) return nullptr;
    beginOut->Declare(L"ClientSetHandle", CIM_UINT32);
    beginOut->Declare(L"ReturnValue", CIM_UINT32);
    applyIn->Declare(L"ClientSetHandle", CIM_UINT32);
    applyOut->Declare(L"ReturnValue", CIM_UINT32);
    cls->AddMethod(L"BeginApply", nullptr, beginOut);
    cls->AddMethod(L"Apply", applyIn, applyOut);
    return cls;
}

std::wstring AdapterRelPath(int index) { return std::wstring(kAdapterClass) + L".Index=" + std::to_wstring(index); }
std::wstring NetServiceRelPath() { return std::wstring(kNetServiceClass) + L"=@"; }

// An object path, full ("\\server\root\DovnetWmi:Class.Key=Value") or relative: its
// class and, for an adapter, its index (-1: the class itself). False when it is
// neither class's, or names another namespace.
bool ParsePath(const wchar_t* path, std::wstring* className, int* index) {
    if (!path) return false;
    std::wstring text = path;
    if (text.rfind(L"\\\\", 0) == 0 || text.rfind(L"//", 0) == 0) {
        size_t colon = text.find(L':');
        if (colon == std::wstring::npos) return false;
        size_t space = text.find_first_of(L"\\/", 2);
        if (space == std::wstring::npos || space > colon) return false;
        std::wstring ns = text.substr(space + 1, colon - space - 1);
        if (_wcsicmp(ns.c_str(), kNamespace) != 0) return false;
        text = text.substr(colon + 1);
    }
    *index = -1;
    size_t mark = text.find_first_of(L".=");
    std::wstring cls = text.substr(0, mark);
    if (_wcsicmp(cls.c_str(), kNetServiceClass) == 0) {
        *className = kNetServiceClass;
        return mark == std::wstring::npos || text.substr(mark) == L"=@";
    }
    if (_wcsicmp(cls.c_str(), kAdapterClass) != 0) return false;
    *className = kAdapterClass;
    if (mark == std::wstring::npos) return true;
    const wchar_t* key = L".Index=";
    if (_wcsnicmp(text.c_str() + mark, key, wcslen(key)) != 0) return false;
    std::wstring number = text.substr(mark + wcslen(key));
    if (number.size() >= 2 && number.front() == L'"' && number.back() == L'"')
        number = number.substr(1, number.size() - 2);
    wchar_t* end = nullptr;
    unsigned long value = wcstoul(number.c_str(), &end, 10);
    if (number.empty() || *end || value >= static_cast<unsigned long>(kMaxAdapters)) return false;
    *index = static_cast<int>(value);
    return true;
}

// The context's "ClientSetId" as a number; false when there is none.
bool ClientSetId(IWbemContext* context, uint32_t* id) {
    if (!context) return false;
    Variant value;
    if (FAILED(context->GetValue(L"ClientSetId", 0, &value.value))) return false;
    Variant number;
    if (value.value.vt == VT_I4 || value.value.vt == VT_UI4 || value.value.vt == VT_INT || value.value.vt == VT_UINT) {
        *id = static_cast<uint32_t>(value.value.ulVal);
        return true;
    }
    if (FAILED(VariantChangeType(&number.value, &value.value, 0, VT_UI4))) return false;
    *id = number.value.ulVal;
    return true;
}

class Services final : public IWbemServices, public IClientSecurity {
public:
    explicit Services(const std::wstring& machine) : m_machine(machine) { ObjectCreated(); }
    Services(const Services&) = delete;
    Services& operator=(const Services&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWbemServices))
            *object = static_cast<IWbemServices*>(this);
        else if (IsEqualIID(iid, IID_IClientSecurity))
            *object = static_cast<IClientSecurity*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) delete this;
        return static_cast<ULONG>(refs);
    }

    // An in-process object has no proxy: its blanket is accepted and has no effect.
    HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown*, DWORD* authn, DWORD* authz, OLECHAR** principal,
                                           DWORD* level, DWORD* impersonation, void** identity,
                                           DWORD* capabilities) override {
        if (authn) *authn = RPC_C_AUTHN_WINNT;
        if (authz) *authz = RPC_C_AUTHZ_NONE;
        if (principal) *principal = nullptr;
        if (level) *level = RPC_C_AUTHN_LEVEL_CALL;
        if (impersonation) *impersonation = RPC_C_IMP_LEVEL_IMPERSONATE;
        if (identity) *identity = nullptr;
        if (capabilities) *capabilities = EOAC_NONE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown*, DWORD, DWORD, OLECHAR*, DWORD, DWORD, void*, DWORD) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown*, IUnknown**) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                                            IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetObject(const BSTR path, LONG flags, IWbemContext* context, IWbemClassObject** object,
                                        IWbemCallResult** callResult) override;
    HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR className, LONG flags, IWbemContext* context,
                                                 IEnumWbemClassObject** result) override;
    HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                    IEnumWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                         IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR path, const BSTR method, LONG flags, IWbemContext* context,
                                         IWbemClassObject* in, IWbemClassObject** out,
                                         IWbemCallResult** callResult) override;
    HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                              IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }

private:
    ~Services() { ObjectDestroyed(); }

    HRESULT GetPowerUsageOptions(int index, ComPtr<WbemObject>& out);
    HRESULT SetPowerUsageOptions(int index, IWbemContext* context, IWbemClassObject* in, ComPtr<WbemObject>& out);
    HRESULT BeginApply(ComPtr<WbemObject>& out);
    HRESULT Apply(IWbemClassObject* in, ComPtr<WbemObject>& out);
    // The method's output object with ReturnValue 0.
    static ComPtr<WbemObject> Output(WbemObject* cls, const wchar_t* method);

    LONG m_refs = 1;
    std::wstring m_machine;
};

HRESULT Services::GetObject(const BSTR path, LONG flags, IWbemContext*, IWbemClassObject** object,
                            IWbemCallResult** callResult) {
    if (callResult) *callResult = nullptr;
    if (!object || (flags & WBEM_FLAG_RETURN_IMMEDIATELY)) return WBEM_E_INVALID_PARAMETER;
    *object = nullptr;
    std::wstring className;
    int index = -1;
    if (!ParsePath(path, &className, &index)) return WBEM_E_INVALID_OBJECT_PATH;
    bool adapter = className == kAdapterClass;
    ComPtr<WbemObject> cls = adapter ? AdapterClass() : NetServiceClass();
    if (!cls) return WBEM_E_OUT_OF_MEMORY;
    bool isClass = std::wstring(path).find_first_of(L".=", std::wstring(path).find(L':') + 1) == std::wstring::npos;
    if (isClass) {
        *object = cls.detach();
        return S_OK;
    }
    // An instance by its key.
    ComPtr<IEnumWbemClassObject> instances;
    HRESULT hr = CreateInstanceEnum(Bstr(className.c_str()).get(), WBEM_FLAG_FORWARD_ONLY, nullptr, &instances);
    if (FAILED(hr)) return hr;
    for (int at = 0;; ++at) {
        ComPtr<IWbemClassObject> instance;
        ULONG returned = 0;
        instances->Next(static_cast<LONG>(WBEM_INFINITE), 1, &instance, &returned);
        if (returned == 0) return WBEM_E_NOT_FOUND;
        if (!adapter || at == index) {
            *object = instance.detach();
            return S_OK;
        }
    }
}

HRESULT Services::CreateInstanceEnum(const BSTR className, LONG, IWbemContext*, IEnumWbemClassObject** result) {
    if (!result || !className) return WBEM_E_INVALID_PARAMETER;
    *result = nullptr;
    std::vector<ComPtr<WbemObject>> objects;
    if (_wcsicmp(className, kAdapterClass) == 0) {
        ComPtr<WbemObject> cls = AdapterClass();
        if (!cls) return WBEM_E_OUT_OF_MEMORY;
        MachineHold hold;  // the adapters of one moment
        if (hold.Result() != ERROR_SUCCESS) return WBEM_E_PROVIDER_FAILURE;
        int count = 0;
        DWORD error = AdapterCount(m_machine, &count);
        for (int i = 0; error == ERROR_SUCCESS && i < count; ++i) {
            Adapter adapter;
            error = ReadAdapter(m_machine, i, &adapter);
            if (error != ERROR_SUCCESS) break;
            ComPtr<WbemObject> instance = cls->NewInstance(AdapterRelPath(i));
            if (!instance) return WBEM_E_OUT_OF_MEMORY;
            instance->SetNumber(L"Index", static_cast<uint32_t>(i));
            instance->SetNumber(L"AdapterStatus", adapter.status);
            objects.push_back(instance);
        }
        if (error != ERROR_SUCCESS) return FromWin32(error);
    } else if (_wcsicmp(className, kNetServiceClass) == 0) {
        ComPtr<WbemObject> cls = NetServiceClass();
        ComPtr<WbemObject> instance = cls ? cls->NewInstance(NetServiceRelPath()) : nullptr;
        if (!instance) return WBEM_E_OUT_OF_MEMORY;
        objects.push_back(instance);
    } else {
        return WBEM_E_INVALID_CLASS;
    }
    ObjectEnum* made = new (std::nothrow) ObjectEnum(std::move(objects));
    if (!made) return WBEM_E_OUT_OF_MEMORY;
    *result = made;
    return S_OK;
}

ComPtr<WbemObject> Services::Output(WbemObject* cls, const wchar_t* method) {
    ComPtr<IWbemClassObject> signature, output;
    if (FAILED(cls->GetMethod(method, 0, nullptr, &signature)) || !signature ||
        FAILED(signature->SpawnInstance(0, &output)))
        return nullptr;
    ComPtr<WbemObject> made;
    made.attach(static_cast<WbemObject*>(output.detach()));
    made->SetNumber(L"ReturnValue", 0);
    return made;
}

HRESULT Services::ExecMethod(const BSTR path, const BSTR method, LONG flags, IWbemContext* context,
                             IWbemClassObject* in, IWbemClassObject** out, IWbemCallResult** callResult) {
    if (callResult) *callResult = nullptr;
    if (out) *out = nullptr;
    if (!method || (flags & WBEM_FLAG_RETURN_IMMEDIATELY)) return WBEM_E_INVALID_PARAMETER;
    std::wstring className;
    int index = -1;
    if (!ParsePath(path, &className, &index)) return WBEM_E_INVALID_OBJECT_PATH;
    bool adapter = className == kAdapterClass;
    if (adapter && index < 0) return WBEM_E_INVALID_METHOD;  // instance methods only
    ComPtr<WbemObject> output;
    HRESULT hr = WBEM_E_INVALID_METHOD;
    MachineHold hold;
    if (hold.Result() != ERROR_SUCCESS) return WBEM_E_PROVIDER_FAILURE;
    if (adapter) {
        int count = 0;
        DWORD error = AdapterCount(m_machine, &count);
        if (error != ERROR_SUCCESS) return FromWin32(error);
        if (index >= count) return WBEM_E_NOT_FOUND;
        if (_wcsicmp(method, L"GetPowerUsageOptions") == 0)
            hr = GetPowerUsageOptions(index, output);
        else if (_wcsicmp(method, L"SetPowerUsageOptions") == 0)
            hr = SetPowerUsageOptions(index, context, in, output);
    } else if (index < 0 && path && wcschr(path, L'=') == nullptr) {
        hr = WBEM_E_INVALID_METHOD;  // the class itself has no static methods
    } else if (_wcsicmp(method, L"BeginApply") == 0) {
        hr = BeginApply(output);
    } else if (_wcsicmp(method, L"Apply") == 0) {
        hr = Apply(in, output);
    }
    if (SUCCEEDED(hr) && out) *out = output.detach();
    return hr;
}

HRESULT Services::GetPowerUsageOptions(int index, ComPtr<WbemObject>& out) {
    Adapter adapter;
    DWORD error = ReadAdapter(m_machine, index, &adapter);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    ComPtr<WbemObject> cls = AdapterClass();
    ComPtr<WbemObject> output = cls ? Output(cls.get(), L"GetPowerUsageOptions") : nullptr;
    if (!output) return WBEM_E_OUT_OF_MEMORY;
    // An unsupported property stays NULL.
    for (int i = 0; i < kPowerProperties; ++i)
        if (adapter.supported & (1u << i)) output->SetNumber(kProperties[i].name, adapter.values[i]);
    out = output;
    return S_OK;
}

HRESULT Services::SetPowerUsageOptions(int index, IWbemContext* context, IWbemClassObject* in,
                                       ComPtr<WbemObject>& out) {
    Transaction transaction;
    uint32_t id = 0;
    DWORD error = ReadTransaction(m_machine, &transaction);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    if (!transaction.open) return WBEM_E_INVALID_OPERATION;  // outside a transaction
    if (!ClientSetId(context, &id) || id != transaction.handle) return WBEM_E_ACCESS_DENIED;
    if (!in) return WBEM_E_INVALID_METHOD_PARAMETERS;
    Adapter adapter;
    error = ReadAdapter(m_machine, index, &adapter);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    // Every value is checked before any is staged: a refused call stages nothing.
    uint32_t values[kPowerProperties] = {};
    bool given[kPowerProperties] = {};
    for (int i = 0; i < kPowerProperties; ++i) {
        Variant value;
        HRESULT hr = in->Get(kProperties[i].name, 0, &value.value, nullptr, nullptr);
        if (hr == static_cast<HRESULT>(WBEM_E_NOT_FOUND) || value.value.vt == VT_NULL || value.value.vt == VT_EMPTY) continue;
        if (FAILED(hr)) return hr;
        Variant number;
        if (value.value.vt == VT_I4 || value.value.vt == VT_UI4)
            values[i] = static_cast<uint32_t>(value.value.ulVal);
        else if (SUCCEEDED(VariantChangeType(&number.value, &value.value, 0, VT_UI4)))
            values[i] = number.value.ulVal;
        else
            return WBEM_E_TYPE_MISMATCH;
        if (!(adapter.supported & (1u << i)) || values[i] < kProperties[i].low || values[i] > kProperties[i].high)
            return WBEM_E_INVALID_PARAMETER;
        given[i] = true;
    }
    for (int i = 0; i < kPowerProperties; ++i)
        if (given[i]) {
            adapter.pending[i] = values[i];
            adapter.staged[i] = true;
        }
    error = WritePending(m_machine, index, adapter);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    ComPtr<WbemObject> cls = AdapterClass();
    out = cls ? Output(cls.get(), L"SetPowerUsageOptions") : nullptr;
    return out ? S_OK : static_cast<HRESULT>(WBEM_E_OUT_OF_MEMORY);
}

HRESULT Services::BeginApply(ComPtr<WbemObject>& out) {
    Transaction transaction;
    int count = 0;
    DWORD error = ReadTransaction(m_machine, &transaction);
    if (error == ERROR_SUCCESS) error = AdapterCount(m_machine, &count);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    // A transaction left open is given up: what it staged goes.
    for (int i = 0; i < count && error == ERROR_SUCCESS; ++i) {
        std::wstring pending;
        DWORD read = ReadValue(m_machine, Key(i, L"Pending").c_str(), &pending);
        if (read == ERROR_SUCCESS && !pending.empty()) error = WriteValue(m_machine, Key(i, L"Pending").c_str(), L"");
    }
    transaction.handle = transaction.handle + 1 == 0 ? 1 : transaction.handle + 1;
    transaction.open = true;
    if (error == ERROR_SUCCESS) error = WriteTransaction(m_machine, transaction);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    ComPtr<WbemObject> cls = NetServiceClass();
    ComPtr<WbemObject> output = cls ? Output(cls.get(), L"BeginApply") : nullptr;
    if (!output) return WBEM_E_OUT_OF_MEMORY;
    output->SetNumber(L"ClientSetHandle", transaction.handle);
    out = output;
    return S_OK;
}

HRESULT Services::Apply(IWbemClassObject* in, ComPtr<WbemObject>& out) {
    if (!in) return WBEM_E_INVALID_METHOD_PARAMETERS;
    Variant given;
    if (FAILED(in->Get(L"ClientSetHandle", 0, &given.value, nullptr, nullptr)) || given.value.vt == VT_NULL ||
        given.value.vt == VT_EMPTY)
        return WBEM_E_INVALID_METHOD_PARAMETERS;
    Variant number;
    if (FAILED(VariantChangeType(&number.value, &given.value, 0, VT_I4)) &&
        FAILED(VariantChangeType(&number.value, &given.value, 0, VT_UI4)))
        return WBEM_E_TYPE_MISMATCH;
    uint32_t handle = static_cast<uint32_t>(number.value.ulVal);
    Transaction transaction;
    int count = 0;
    DWORD error = ReadTransaction(m_machine, &transaction);
    if (error == ERROR_SUCCESS) error = AdapterCount(m_machine, &count);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    if (!transaction.open) return WBEM_E_INVALID_OPERATION;
    if (handle != transaction.handle) return WBEM_E_ACCESS_DENIED;
    for (int i = 0; i < count && error == ERROR_SUCCESS; ++i) {
        Adapter adapter;
        error = ReadAdapter(m_machine, i, &adapter);
        bool any = false;
        for (int p = 0; p < kPowerProperties; ++p)
            if (adapter.staged[p]) {
                adapter.values[p] = adapter.pending[p];
                adapter.staged[p] = false;
                any = true;
            }
        if (error != ERROR_SUCCESS || !any) continue;
        bool all[kPowerProperties];
        for (bool& b : all) b = true;
        error = WriteValue(m_machine, Key(i, L"Values").c_str(), FormatList(adapter.values, all));
        if (error == ERROR_SUCCESS) error = WritePending(m_machine, i, adapter);
    }
    transaction.open = false;
    if (error == ERROR_SUCCESS) error = WriteTransaction(m_machine, transaction);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    ComPtr<WbemObject> cls = NetServiceClass();
    out = cls ? Output(cls.get(), L"Apply") : nullptr;
    return out ? S_OK : static_cast<HRESULT>(WBEM_E_OUT_OF_MEMORY);
}
}  // namespace

HRESULT NewServices(const std::wstring& machine, IWbemServices** services) {
    Services* made = new (std::nothrow) Services(machine);
    if (!made) return WBEM_E_OUT_OF_MEMORY;
    *services = made;
    return S_OK;
}

}  // namespace dovnet
