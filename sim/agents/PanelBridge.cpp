#include "PanelBridge.h"

namespace panel {
namespace {
volatile LONG g_nextHandle = 0x100;

struct PolicyShape {
    uint32_t number;
    const GUID* id;
    uint32_t size;
    uint32_t capability;
};

constexpr PolicyShape kPolicies[] = {
    {kPanelPolicyVxfg, &kPanelPolicyVxfgId, sizeof(PanelVxfgPolicy), kPanelCapsVxfg},
    {kPanelPolicyVxps, &kPanelPolicyVxpsId, sizeof(PanelVxpsPolicy), kPanelCapsVxps},
    {kPanelPolicyVxab, &kPanelPolicyVxabId, sizeof(PanelVxabPolicy), kPanelCapsVxab},
};

const PolicyShape* FindPolicy(uint32_t number) {
    for (const PolicyShape& shape : kPolicies)
        if (shape.number == number) return &shape;
    return nullptr;
}

HRESULT FromWin32(DWORD error) { return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error); }

// Adds delta to the machine-wide count of open power handles.
DWORD CountClients(int delta) {
    uint32_t clients = 0;
    DWORD error = ReadNumber(L"Clients", &clients);
    if (error != ERROR_SUCCESS) return error;
    if (delta < 0 && clients == 0) return ERROR_SUCCESS;
    return WriteNumber(L"Clients", clients + delta);
}

DWORD ReadVxfg(PanelVxfgPolicy* record) { return ReadNumber(L"VXFG.Enabled", &record->enabled); }

DWORD ReadVxps(PanelVxpsPolicy* record) {
    DWORD error = ReadNumber(L"VXPS.Enabled", &record->enabled);
    return error != ERROR_SUCCESS ? error : ReadNumber(L"VXPS.Strength", &record->strength);
}

DWORD ReadVxab(PanelVxabPolicy* record) {
    DWORD error = ReadNumber(L"VXAB.Field1", &record->field1);
    return error != ERROR_SUCCESS ? error : ReadNumber(L"VXAB.Field2", &record->field2);
}

DWORD WriteVxfg(const PanelVxfgPolicy& record) { return WriteNumber(L"VXFG.Enabled", record.enabled ? 1 : 0); }

DWORD WriteVxps(const PanelVxpsPolicy& record) {
    DWORD error = WriteNumber(L"VXPS.Enabled", record.enabled ? 1 : 0);
    return error != ERROR_SUCCESS ? error : WriteNumber(L"VXPS.Strength", record.strength);
}

DWORD WriteVxab(const PanelVxabPolicy& record) {
    DWORD error = WriteNumber(L"VXAB.Field1", record.field1 ? 1 : 0);
    return error != ERROR_SUCCESS ? error : WriteNumber(L"VXAB.Field2", record.field2 ? 1 : 0);
}
}  // namespace

PanelBridge::PanelBridge() { ObjectCreated(); }

// A released object closes what its clients left open, as the driver does.
PanelBridge::~PanelBridge() {
    for (size_t i = 0; i < m_handles.size(); ++i) CountClients(-1);
    ObjectDestroyed();
}

HRESULT PanelBridge::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IZoraPanelBridge)) return E_NOINTERFACE;
    *object = static_cast<IZoraPanelBridge*>(this);
    AddRef();
    return S_OK;
}

ULONG PanelBridge::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }

ULONG PanelBridge::Release() {
    LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
}

bool PanelBridge::IsOpen(uint32_t handle) {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_handles.count(handle) != 0;
}

HRESULT PanelBridge::PowerApiOpen(uint32_t* handle, uint32_t* error) {
    if (!handle || !error) return E_POINTER;
    *handle = 0;
    *error = kPanelErrorNone;
    uint32_t openError = 0;
    DWORD read = ReadNumber(L"OpenError", &openError);
    if (read != ERROR_SUCCESS) return FromWin32(read);
    if (openError != kPanelErrorNone && openError != kPanelErrorLocked) {
        *error = openError;
        return S_OK;
    }
    // A locked interface still hands out a handle, to be closed again.
    DWORD counted = CountClients(+1);
    if (counted != ERROR_SUCCESS) return FromWin32(counted);
    uint32_t opened = static_cast<uint32_t>(InterlockedIncrement(&g_nextHandle));
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_handles.insert(opened);
    }
    *handle = opened;
    *error = openError;
    return S_OK;
}

HRESULT PanelBridge::PowerApiClose(uint32_t handle, uint32_t* error) {
    if (!error) return E_POINTER;
    *error = kPanelErrorNone;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_handles.erase(handle) == 0) {
            *error = kPanelErrorInvalidHandle;
            return S_OK;
        }
    }
    return FromWin32(CountClients(-1));
}

HRESULT PanelBridge::GetPowerConsCaps(uint32_t handle, uint32_t* capabilities, uint32_t* error) {
    if (!capabilities || !error) return E_POINTER;
    *capabilities = 0;
    *error = kPanelErrorNone;
    if (!IsOpen(handle)) {
        *error = kPanelErrorInvalidHandle;
        return S_OK;
    }
    return FromWin32(ReadNumber(L"Capabilities", capabilities));
}

uint32_t PanelBridge::PolicyAccess(uint32_t handle, uint32_t policy, const GUID* id, uint32_t size, HRESULT* hr) {
    *hr = S_OK;
    if (!IsOpen(handle)) return kPanelErrorInvalidHandle;
    const PolicyShape* shape = FindPolicy(policy);
    if (!shape || !IsEqualGUID(*id, *shape->id) || size != shape->size) return kPanelErrorBadRecord;
    uint32_t capabilities = 0, locked = 0;
    DWORD read = ReadNumber(L"Capabilities", &capabilities);
    if (read == ERROR_SUCCESS) read = ReadNumber(L"LockedPolicies", &locked);
    if (read != ERROR_SUCCESS) {
        *hr = FromWin32(read);
        return kPanelErrorNone;
    }
    if (!(capabilities & shape->capability)) return kPanelErrorPolicyNotSupported;
    if (locked & shape->capability) return kPanelErrorLocked;
    return kPanelErrorNone;
}

HRESULT PanelBridge::GetPowerPolicy(uint32_t handle, uint32_t policy, const GUID* id, uint32_t size, void* record,
                                    uint32_t* error) {
    if (!id || !record || !error) return E_POINTER;
    HRESULT hr = S_OK;
    *error = PolicyAccess(handle, policy, id, size, &hr);
    if (FAILED(hr) || *error != kPanelErrorNone) return hr;
    DWORD read = ERROR_SUCCESS;
    if (policy == kPanelPolicyVxfg) {
        PanelVxfgPolicy vxfg{};
        read = ReadVxfg(&vxfg);
        if (read == ERROR_SUCCESS) memcpy(record, &vxfg, sizeof(vxfg));
    } else if (policy == kPanelPolicyVxps) {
        PanelVxpsPolicy vxps{};
        read = ReadVxps(&vxps);
        if (read == ERROR_SUCCESS) memcpy(record, &vxps, sizeof(vxps));
    } else {
        PanelVxabPolicy vxab{};
        read = ReadVxab(&vxab);
        if (read == ERROR_SUCCESS) memcpy(record, &vxab, sizeof(vxab));
    }
    return FromWin32(read);
}

HRESULT PanelBridge::SetPowerPolicy(uint32_t handle, uint32_t policy, const GUID* id, uint32_t size,
                                    const void* record, uint32_t* error) {
    if (!id || !record || !error) return E_POINTER;
    HRESULT hr = S_OK;
    *error = PolicyAccess(handle, policy, id, size, &hr);
    if (FAILED(hr) || *error != kPanelErrorNone) return hr;
    if (policy == kPanelPolicyVxfg) {
        PanelVxfgPolicy vxfg;
        memcpy(&vxfg, record, sizeof(vxfg));
        return FromWin32(WriteVxfg(vxfg));
    }
    if (policy == kPanelPolicyVxps) {
        PanelVxpsPolicy vxps;
        memcpy(&vxps, record, sizeof(vxps));
        if (vxps.strength > kPanelMaxStrength) {
            *error = kPanelErrorBadRecord;
            return S_OK;
        }
        return FromWin32(WriteVxps(vxps));
    }
    PanelVxabPolicy vxab;
    memcpy(&vxab, record, sizeof(vxab));
    return FromWin32(WriteVxab(vxab));
}

}  // namespace panel
