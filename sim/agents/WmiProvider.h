#pragma once
// The network adapter vendor's WMI provider of the virtual notebook (ZoraVnbWmi.dll):
// what its parts share. WmiProviderServer.cpp: the module, registration and the locator;
// WmiProviderObject.cpp: the class objects, instances and parameter objects and the
// enumerator; WmiProviderServices.cpp: the namespace "\\.\root\DovnetWmi" with its two
// classes and their methods over section [DovnetWmi] of the machine file.
#include <windows.h>
#include <wbemcli.h>

#include <string>
#include <vector>

#include "WinHandles.h"

namespace dovnet {

// The provider's own locator class, which CLSID_WbemLocator is treated as.
// {6C1E0B52-93A4-4F7D-9E1B-3D2A7C5F8E41}
constexpr GUID kLocatorClsid = {0x6c1e0b52, 0x93a4, 0x4f7d, {0x9e, 0x1b, 0x3d, 0x2a, 0x7c, 0x5f, 0x8e, 0x41}};

constexpr wchar_t kNamespace[] = L"root\\DovnetWmi";
constexpr wchar_t kAdapterClass[] = L"Dovnet_PhysicalEthernetAdapter";
constexpr wchar_t kNetServiceClass[] = L"Dovnet_NetService";

// Live objects of the module, for DllCanUnloadNow.
void ObjectCreated();
void ObjectDestroyed();

// ---- Machine access through ZoraVnb.dll beside this module (Win32 error codes) ----

// The machine file the installation names; false when the virtual notebook is off.
bool ConfiguredMachine(std::wstring* machine);
// A value of [DovnetWmi]; ERROR_NOT_FOUND when absent.
DWORD ReadValue(const std::wstring& machine, const wchar_t* key, std::wstring* value);
DWORD WriteValue(const std::wstring& machine, const wchar_t* key, const std::wstring& value);
// Holds the machine's mutex for a read-and-write of the section that no other process
// may interleave with (the machine's own calls take it again on the same thread).
class MachineHold {
public:
    MachineHold();
    MachineHold(const MachineHold&) = delete;
    MachineHold& operator=(const MachineHold&) = delete;
    ~MachineHold();
    DWORD Result() const { return m_result; }

private:
    HANDLE m_mutex = nullptr;
    DWORD m_result = ERROR_INVALID_HANDLE;
};

// ---- Objects ----

// One property of a class object, an instance or a parameter object. Values are held
// as WMI hands them out: uint32 and sint32 as VT_I4, strings as VT_BSTR, NULL as VT_NULL.
struct Property {
    std::wstring name;
    CIMTYPE type = CIM_UINT32;
    bool system = false;  // "__CLASS", "__RELPATH", "__PATH" ...
    VARIANT value;

    Property() {
        VariantInit(&value);
        value.vt = VT_NULL;
    }
    Property(const Property& other) : name(other.name), type(other.type), system(other.system) {
        VariantInit(&value);
        VariantCopy(&value, const_cast<VARIANT*>(&other.value));
    }
    Property& operator=(const Property& other) {
        if (this != &other) {
            name = other.name;
            type = other.type;
            system = other.system;
            VariantClear(&value);
            VariantCopy(&value, const_cast<VARIANT*>(&other.value));
        }
        return *this;
    }
    ~Property() { VariantClear(&value); }
};

class WbemObject;

// A method of a class: its in- and out-parameter signatures (class objects of
// "__PARAMETERS"; null: the method has no in parameters).
struct Method {
    std::wstring name;
    ComPtr<WbemObject> in, out;
};

// A property bag with CIM types that serves as a class, an instance of one, or a
// parameter object. Property names compare without regard to case.
class WbemObject final : public IWbemClassObject {
public:
    // A class object ("__CLASS" = className) of the namespace, or (inNamespace false) a
    // parameter signature, which has no path.
    static ComPtr<WbemObject> NewClass(const wchar_t* className, bool inNamespace);

    // Declares a property (class objects: before instances are spawned), NULL at first.
    void Declare(const wchar_t* name, CIMTYPE type);
    void AddMethod(const wchar_t* name, ComPtr<WbemObject> in, ComPtr<WbemObject> out);
    // Sets a declared property: VT_NULL for NULL; S_OK or a WBEM error.
    HRESULT Set(const wchar_t* name, const VARIANT& value);
    HRESULT SetNumber(const wchar_t* name, uint32_t value);
    // Makes an instance with the key's relative path ("Class.Index=0", "Class=@").
    ComPtr<WbemObject> NewInstance(const std::wstring& relPath);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor) override;
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE type) override;
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG flags) override;
    HRESULT STDMETHODCALLTYPE Next(LONG flags, BSTR* name, VARIANT* value, CIMTYPE* type, LONG* flavor) override;
    HRESULT STDMETHODCALLTYPE EndEnumeration() override;
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject** copy) override;
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG flags, IWbemClassObject** instance) override;
    HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR name, LONG flags, IWbemClassObject** in,
                                        IWbemClassObject** out) override;
    HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }

    WbemObject(const WbemObject&) = delete;
    WbemObject& operator=(const WbemObject&) = delete;

private:
    WbemObject();
    ~WbemObject();
    Property* Find(const wchar_t* name);
    const Property* Find(const wchar_t* name) const;
    ComPtr<WbemObject> Copy(bool asInstance) const;
    void SetSystem(const wchar_t* name, const std::wstring& text);

    LONG m_refs = 1;
    bool m_isClass = true;
    std::vector<Property> m_properties;
    std::vector<Method> m_methods;
    size_t m_next = 0;
    LONG m_enumFlags = 0;
    bool m_enumerating = false;
};

// A forward-only enumerator over objects made beforehand.
class ObjectEnum final : public IEnumWbemClassObject {
public:
    explicit ObjectEnum(std::vector<ComPtr<WbemObject>> objects);
    ObjectEnum(const ObjectEnum&) = delete;
    ObjectEnum& operator=(const ObjectEnum&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Reset() override { return WBEM_E_INVALID_OPERATION; }
    HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects, ULONG* returned) override;
    HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject**) override { return WBEM_E_INVALID_OPERATION; }
    HRESULT STDMETHODCALLTYPE Skip(LONG timeout, ULONG count) override;

private:
    ~ObjectEnum();
    LONG m_refs = 1;
    CRITICAL_SECTION m_lock;
    std::vector<ComPtr<WbemObject>> m_objects;
    size_t m_next = 0;
};

// The namespace's services, bound to the machine file it was connected with.
HRESULT NewServices(const std::wstring& machine, IWbemServices** services);

}  // namespace dovnet
