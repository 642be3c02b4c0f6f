#pragma once
// The display driver's control object of the virtual notebook, and what its server
// shares between objects: the module, its object count and the machine's section.
#include <windows.h>

#include <mutex>
#include <set>
#include <string>

#include "ZoraPanelBridge.h"

namespace panel {

HMODULE Module();
void ObjectCreated();
void ObjectDestroyed();
LONG LiveObjects();

// [Graphics] of the configured machine through ZoraVnb.dll beside this module.
// Results are Win32 error codes.
DWORD ReadNumber(const wchar_t* key, uint32_t* value);
DWORD WriteNumber(const wchar_t* key, uint32_t value);

class PanelBridge final : public IZoraPanelBridge {
public:
    PanelBridge();
    PanelBridge(const PanelBridge&) = delete;
    PanelBridge& operator=(const PanelBridge&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Reserved03() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved04() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved05() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved06() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved07() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved08() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved09() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved10() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved11() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved12() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved13() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved14() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved15() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved16() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved17() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved18() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved19() override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE PowerApiOpen(uint32_t* handle, uint32_t* error) override;
    HRESULT STDMETHODCALLTYPE PowerApiClose(uint32_t handle, uint32_t* error) override;
    HRESULT STDMETHODCALLTYPE GetPowerConsCaps(uint32_t handle, uint32_t* capabilities, uint32_t* error) override;
    HRESULT STDMETHODCALLTYPE GetPowerPolicy(uint32_t handle, uint32_t policy, const GUID* id, uint32_t size,
                                             void* record, uint32_t* error) override;
    HRESULT STDMETHODCALLTYPE SetPowerPolicy(uint32_t handle, uint32_t policy, const GUID* id, uint32_t size,
                                             const void* record, uint32_t* error) override;

private:
    ~PanelBridge();
    bool IsOpen(uint32_t handle);
    // The error code a policy call answers before its record is looked at (0 = go on),
    // or a failing HRESULT in *hr.
    uint32_t PolicyAccess(uint32_t handle, uint32_t policy, const GUID* id, uint32_t size, HRESULT* hr);

    LONG m_refs = 1;
    std::mutex m_lock;
    std::set<uint32_t> m_handles;
};

}  // namespace panel
