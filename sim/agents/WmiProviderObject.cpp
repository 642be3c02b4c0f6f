// The provider's objects: one property bag for class objects, instances and parameter
// objects, and the forward-only enumerator of CreateInstanceEnum.
//
// As WMI hands them out: uint32, sint32 and uint16 values are VT_I4 (with the CIM type
// saying which), strings VT_BSTR, booleans VT_BOOL, NULL VT_NULL. The system properties
// "__GENUS" (1 class, 2 instance), "__CLASS", "__RELPATH", "__PATH", "__SERVER" and
// "__NAMESPACE" are read-only; a parameter object has no path (NULL). Names compare
// without regard to case, so "__Path" reads "__PATH".
#include <cwchar>
#include <new>

#include "WmiProvider.h"

namespace dovnet {
namespace {
constexpr LONG kEnumMask = 0x70;  // WBEM_FLAG_SYSTEM_ONLY / WBEM_FLAG_NONSYSTEM_ONLY and kin

std::wstring ServerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD chars = ARRAYSIZE(name);
    if (!GetComputerNameW(name, &chars)) return L".";
    return name;
}

bool SameName(const std::wstring& a, const wchar_t* b) { return _wcsicmp(a.c_str(), b) == 0; }

// The VARIANT type a value of the CIM type is held as; VT_EMPTY for a type this
// provider does not hold.
VARTYPE HeldAs(CIMTYPE type) {
    switch (type & ~CIM_FLAG_ARRAY) {
    case CIM_UINT8: return VT_UI1;
    case CIM_SINT8:
    case CIM_SINT16: return VT_I2;
    case CIM_UINT16:
    case CIM_SINT32:
    case CIM_UINT32: return VT_I4;
    case CIM_BOOLEAN: return VT_BOOL;
    case CIM_REAL32: return VT_R4;
    case CIM_REAL64: return VT_R8;
    case CIM_STRING:
    case CIM_DATETIME:
    case CIM_SINT64:
    case CIM_UINT64: return VT_BSTR;
    default: return VT_EMPTY;
    }
}

HRESULT Convert(const VARIANT& in, CIMTYPE type, VARIANT* out) {
    if (in.vt == VT_NULL || in.vt == VT_EMPTY) {
        out->vt = VT_NULL;
        return S_OK;
    }
    VARTYPE held = HeldAs(type);
    if (held == VT_EMPTY || (type & CIM_FLAG_ARRAY)) return WBEM_E_TYPE_MISMATCH;
    // A uint32 goes into VT_I4 bit for bit, as WMI keeps it.
    if (held == VT_I4 && (in.vt == VT_UI4 || in.vt == VT_UINT)) {
        out->vt = VT_I4;
        out->lVal = static_cast<LONG>(in.ulVal);
        return S_OK;
    }
    return SUCCEEDED(VariantChangeType(out, const_cast<VARIANT*>(&in), 0, held)) ? S_OK : static_cast<HRESULT>(WBEM_E_TYPE_MISMATCH);
}

bool Selected(const Property& property, LONG flags) {
    switch (flags & kEnumMask) {
    case WBEM_FLAG_SYSTEM_ONLY: return property.system;
    case WBEM_FLAG_NONSYSTEM_ONLY: return !property.system;
    default: return true;
    }
}
}  // namespace

WbemObject::WbemObject() { ObjectCreated(); }

WbemObject::~WbemObject() { ObjectDestroyed(); }

ComPtr<WbemObject> WbemObject::NewClass(const wchar_t* className, bool inNamespace) {
    ComPtr<WbemObject> object;
    object.attach(new (std::nothrow) WbemObject());
    if (!object) return object;
    const wchar_t* system[] = {L"__GENUS", L"__CLASS", L"__RELPATH", L"__PATH", L"__SERVER", L"__NAMESPACE"};
    for (const wchar_t* name : system) {
        Property property;
        property.name = name;
        property.type = SameName(name, L"__GENUS") ? CIM_SINT32 : CIM_STRING;
        property.system = true;
        object->m_properties.push_back(property);
    }
    VARIANT genus;
    genus.vt = VT_I4;
    genus.lVal = WBEM_GENUS_CLASS;
    VariantCopy(&object->Find(L"__GENUS")->value, &genus);
    object->SetSystem(L"__CLASS", className);
    if (inNamespace) {
        object->SetSystem(L"__SERVER", ServerName());
        object->SetSystem(L"__NAMESPACE", kNamespace);
        object->SetSystem(L"__RELPATH", className);
        object->SetSystem(L"__PATH", L"\\\\" + ServerName() + L"\\" + kNamespace + L":" + className);
    }
    return object;
}

void WbemObject::SetSystem(const wchar_t* name, const std::wstring& text) {
    Property* property = Find(name);
    if (!property) return;
    VariantClear(&property->value);
    property->value.vt = VT_BSTR;
    property->value.bstrVal = SysAllocString(text.c_str());
    if (!property->value.bstrVal) property->value.vt = VT_NULL;
}

void WbemObject::Declare(const wchar_t* name, CIMTYPE type) {
    Property property;
    property.name = name;
    property.type = type;
    m_properties.push_back(property);
}

void WbemObject::AddMethod(const wchar_t* name, ComPtr<WbemObject> in, ComPtr<WbemObject> out) {
    m_methods.push_back(Method{name, std::move(in), std::move(out)});
}

Property* WbemObject::Find(const wchar_t* name) {
    for (Property& property : m_properties)
        if (SameName(property.name, name)) return &property;
    return nullptr;
}

const Property* WbemObject::Find(const wchar_t* name) const {
    for (const Property& property : m_properties)
        if (SameName(property.name, name)) return &property;
    return nullptr;
}

HRESULT WbemObject::Set(const wchar_t* name, const VARIANT& value) {
    Property* property = Find(name);
    if (!property) return WBEM_E_NOT_FOUND;
    VARIANT converted;
    VariantInit(&converted);
    HRESULT hr = Convert(value, property->type, &converted);
    if (FAILED(hr)) return hr;
    VariantClear(&property->value);
    property->value = converted;  // takes over what Convert allocated
    return S_OK;
}

HRESULT WbemObject::SetNumber(const wchar_t* name, uint32_t number) {
    VARIANT value;
    value.vt = VT_UI4;
    value.ulVal = number;
    return Set(name, value);
}

ComPtr<WbemObject> WbemObject::Copy(bool asInstance) const {
    ComPtr<WbemObject> copy;
    copy.attach(new (std::nothrow) WbemObject());
    if (!copy) return copy;
    copy->m_isClass = m_isClass && !asInstance;
    copy->m_properties = m_properties;
    copy->m_methods = m_methods;
    if (asInstance) {
        Property* genus = copy->Find(L"__GENUS");
        if (genus) {
            VariantClear(&genus->value);
            genus->value.vt = VT_I4;
            genus->value.lVal = WBEM_GENUS_INSTANCE;
        }
        // An instance has a path once its key is known; a spawned one has none yet.
        for (const wchar_t* name : {L"__RELPATH", L"__PATH"}) {
            Property* path = copy->Find(name);
            if (path) {
                VariantClear(&path->value);
                path->value.vt = VT_NULL;
            }
        }
    }
    return copy;
}

ComPtr<WbemObject> WbemObject::NewInstance(const std::wstring& relPath) {
    ComPtr<WbemObject> instance = Copy(true);
    if (!instance) return instance;
    instance->SetSystem(L"__RELPATH", relPath);
    instance->SetSystem(L"__PATH", L"\\\\" + ServerName() + L"\\" + kNamespace + L":" + relPath);
    return instance;
}

HRESULT WbemObject::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IWbemClassObject)) return E_NOINTERFACE;
    *object = static_cast<IWbemClassObject*>(this);
    AddRef();
    return S_OK;
}

ULONG WbemObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }

ULONG WbemObject::Release() {
    LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
}

HRESULT WbemObject::Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor) {
    if (!name || flags != 0) return WBEM_E_INVALID_PARAMETER;
    const Property* property = Find(name);
    if (!property) return WBEM_E_NOT_FOUND;
    if (value) {
        VariantInit(value);
        if (FAILED(VariantCopy(value, const_cast<VARIANT*>(&property->value)))) return WBEM_E_OUT_OF_MEMORY;
    }
    if (type) *type = property->type;
    if (flavor) *flavor = property->system ? WBEM_FLAVOR_ORIGIN_SYSTEM : WBEM_FLAVOR_ORIGIN_LOCAL;
    return S_OK;
}

HRESULT WbemObject::Put(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE type) {
    if (!name || !name[0] || flags != 0) return WBEM_E_INVALID_PARAMETER;
    Property* property = Find(name);
    if (property && property->system) return WBEM_E_SYSTEM_PROPERTY;
    if (!property) {
        // A class may gain a property; an instance has its class's.
        if (!m_isClass || name[0] == L'_') return WBEM_E_NOT_FOUND;
        if (type == 0) return WBEM_E_INVALID_PROPERTY_TYPE;
        Declare(name, type);
        property = &m_properties.back();
    } else if (type != 0 && type != property->type) {
        return WBEM_E_TYPE_MISMATCH;
    }
    VARIANT null;
    null.vt = VT_NULL;
    return Set(property->name.c_str(), value ? *value : null);
}

HRESULT WbemObject::BeginEnumeration(LONG flags) {
    if (flags & ~kEnumMask) return WBEM_E_INVALID_PARAMETER;
    m_enumFlags = flags;
    m_next = 0;
    m_enumerating = true;
    return S_OK;
}

HRESULT WbemObject::Next(LONG flags, BSTR* name, VARIANT* value, CIMTYPE* type, LONG* flavor) {
    if (flags != 0) return WBEM_E_INVALID_PARAMETER;
    if (!m_enumerating) return WBEM_E_UNEXPECTED;
    while (m_next < m_properties.size() && !Selected(m_properties[m_next], m_enumFlags)) ++m_next;
    if (m_next >= m_properties.size()) return WBEM_S_NO_MORE_DATA;
    const Property& property = m_properties[m_next++];
    if (name) *name = SysAllocString(property.name.c_str());
    return Get(property.name.c_str(), 0, value, type, flavor);
}

HRESULT WbemObject::EndEnumeration() {
    m_enumerating = false;
    return S_OK;
}

HRESULT WbemObject::Clone(IWbemClassObject** copy) {
    if (!copy) return WBEM_E_INVALID_PARAMETER;
    ComPtr<WbemObject> made = Copy(false);
    *copy = made.detach();
    return *copy ? S_OK : static_cast<HRESULT>(WBEM_E_OUT_OF_MEMORY);
}

HRESULT WbemObject::SpawnInstance(LONG flags, IWbemClassObject** instance) {
    if (!instance || flags != 0) return WBEM_E_INVALID_PARAMETER;
    *instance = nullptr;
    if (!m_isClass) return WBEM_E_INCOMPLETE_CLASS;
    ComPtr<WbemObject> made = Copy(true);
    *instance = made.detach();
    return *instance ? S_OK : static_cast<HRESULT>(WBEM_E_OUT_OF_MEMORY);
}

HRESULT WbemObject::GetMethod(LPCWSTR name, LONG flags, IWbemClassObject** in, IWbemClassObject** out) {
    if (!name || flags != 0) return WBEM_E_INVALID_PARAMETER;
    if (in) *in = nullptr;
    if (out) *out = nullptr;
    for (const Method& method : m_methods) {
        if (!SameName(method.name, name)) continue;
        if (in && method.in) {
            method.in->AddRef();
            *in = method.in.get();
        }
        if (out && method.out) {
            method.out->AddRef();
            *out = method.out.get();
        }
        return S_OK;
    }
    return WBEM_E_NOT_FOUND;
}

ObjectEnum::ObjectEnum(std::vector<ComPtr<WbemObject>> objects) : m_objects(std::move(objects)) {
    InitializeCriticalSection(&m_lock);
    ObjectCreated();
}

ObjectEnum::~ObjectEnum() {
    DeleteCriticalSection(&m_lock);
    ObjectDestroyed();
}

HRESULT ObjectEnum::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IEnumWbemClassObject)) return E_NOINTERFACE;
    *object = static_cast<IEnumWbemClassObject*>(this);
    AddRef();
    return S_OK;
}

ULONG ObjectEnum::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }

ULONG ObjectEnum::Release() {
    LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
}

// The objects exist already: no wait is ever needed, whatever the time-out.
HRESULT ObjectEnum::Next(LONG timeout, ULONG count, IWbemClassObject** objects, ULONG* returned) {
    if (!returned || (count && !objects) || (timeout < 0 && timeout != static_cast<LONG>(WBEM_INFINITE)))
        return WBEM_E_INVALID_PARAMETER;
    *returned = 0;
    EnterCriticalSection(&m_lock);
    while (*returned < count && m_next < m_objects.size()) {
        WbemObject* object = m_objects[m_next++].get();
        object->AddRef();
        objects[(*returned)++] = object;
    }
    LeaveCriticalSection(&m_lock);
    return *returned == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
}

HRESULT ObjectEnum::Skip(LONG timeout, ULONG count) {
    if (timeout < 0 && timeout != static_cast<LONG>(WBEM_INFINITE)) return WBEM_E_INVALID_PARAMETER;
    EnterCriticalSection(&m_lock);
    ULONG skipped = 0;
    for (; skipped < count && m_next < m_objects.size(); ++skipped) ++m_next;
    LeaveCriticalSection(&m_lock);
    return skipped == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
}

}  // namespace dovnet
