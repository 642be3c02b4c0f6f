#pragma once
// The graphics driver's external control object "Vidorra.PanelBridge": its interface,
// power policies and error codes. The graphics agent calls it; the virtual notebook's
// in-process server ZoraVnbPanel.dll implements it.
#include <windows.h>
#include <unknwn.h>

#include <cstddef>
#include <cstdint>

#define ZORA_PANEL_PROGID L"Vidorra.PanelBridge"

// {AFB6489F-4515-44AA-8DF7-ED28EA46283C}
inline constexpr GUID IID_IZoraPanelBridge = {
    0xAFB6489F, 0x4515, 0x44AA, {0x8D, 0xF7, 0xED, 0x28, 0xEA, 0x46, 0x28, 0x3C}};
// {57DF4089-CBF4-4BA6-AD1D-1958B0ED289C}
inline constexpr GUID CLSID_ZoraPanelBridge = {
    0x57DF4089, 0xCBF4, 0x4BA6, {0xAD, 0x1D, 0x19, 0x58, 0xB0, 0xED, 0x28, 0x9C}};

// Power policies: number, identifier and record.
enum : uint32_t { kPanelPolicyVxfg = 1, kPanelPolicyVxps = 2, kPanelPolicyVxab = 3 };

// {8A2A926D-FF9D-4737-935B-96BF28805B73} dynamic graphics frequency
inline constexpr GUID kPanelPolicyVxfgId = {
    0x8A2A926D, 0xFF9D, 0x4737, {0x93, 0x5B, 0x96, 0xBF, 0x28, 0x80, 0x5B, 0x73}};
// {6D24D96F-019C-4BAA-ACD5-D48B78050325} display power saving
inline constexpr GUID kPanelPolicyVxpsId = {
    0x6D24D96F, 0x019C, 0x4BAA, {0xAC, 0xD5, 0xD4, 0x8B, 0x78, 0x05, 0x03, 0x25}};
// {2B3C5F6C-97B7-4C85-B4F2-335719D24F3D} automatic display brightness
inline constexpr GUID kPanelPolicyVxabId = {
    0x2B3C5F6C, 0x97B7, 0x4C85, {0xB4, 0xF2, 0x33, 0x57, 0x19, 0xD2, 0x4F, 0x3D}};

struct PanelVxfgPolicy {
    uint32_t enabled;
};
static_assert(sizeof(PanelVxfgPolicy) == 4);
static_assert(offsetof(PanelVxfgPolicy, enabled) == 0);

struct PanelVxpsPolicy {
    uint32_t enabled;
    uint32_t reserved1;
    uint32_t reserved2;
    uint32_t strength;  // the saving strength, 0..0xFFFFF
    uint32_t reserved3;
};
static_assert(sizeof(PanelVxpsPolicy) == 20);
static_assert(offsetof(PanelVxpsPolicy, enabled) == 0);
static_assert(offsetof(PanelVxpsPolicy, reserved1) == 4);
static_assert(offsetof(PanelVxpsPolicy, reserved2) == 8);
static_assert(offsetof(PanelVxpsPolicy, strength) == 12);
static_assert(offsetof(PanelVxpsPolicy, reserved3) == 16);

struct PanelVxabPolicy {
    uint32_t field1;
    uint32_t field2;
    uint32_t reserved[3];
};
static_assert(sizeof(PanelVxabPolicy) == 20);
static_assert(offsetof(PanelVxabPolicy, field1) == 0);
static_assert(offsetof(PanelVxabPolicy, field2) == 4);
static_assert(offsetof(PanelVxabPolicy, reserved) == 8);

constexpr uint32_t kPanelMaxStrength = 0xFFFFF;

// Capability bits of GetPowerConsCaps: the policies the display driver offers.
enum : uint32_t {
    kPanelCapsVxfg = 0x1,
    kPanelCapsVxps = 0x2,  // display power saving
    kPanelCapsVxab = 0x4,
};

// Error codes beside the HRESULT of every power call (0 = done).
enum : uint32_t {
    kPanelErrorNone = 0,
    kPanelErrorInvalidHandle = 6,      // not a handle PowerApiOpen gave this object
    kPanelErrorNotSupported = 19,      // the driver has no power interface
    kPanelErrorLocked = 20,            // another client holds the power interface or the policy
    kPanelErrorPolicyNotSupported = 24,
    kPanelErrorBadRecord = 87,         // policy number, identifier and record size disagree
};

// The control object's interface. Entries 3 to 19 of its method table are the
// driver's display controls, which this system does not use; their presence keeps
// the power calls at entries 20 to 24.
struct IZoraPanelBridge : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved03() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved04() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved05() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved06() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved07() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved08() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved09() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved10() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved11() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved15() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved16() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved17() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved18() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved19() = 0;
    virtual HRESULT STDMETHODCALLTYPE PowerApiOpen(uint32_t* handle, uint32_t* error) = 0;
    virtual HRESULT STDMETHODCALLTYPE PowerApiClose(uint32_t handle, uint32_t* error) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPowerConsCaps(uint32_t handle, uint32_t* capabilities, uint32_t* error) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPowerPolicy(uint32_t handle, uint32_t policy, const GUID* id,
                                                     uint32_t size, void* record, uint32_t* error) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPowerPolicy(uint32_t handle, uint32_t policy, const GUID* id,
                                                     uint32_t size, const void* record, uint32_t* error) = 0;
};

// The same method table as a C caller sees it.
struct IZoraPanelBridgeVtbl {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(IZoraPanelBridge* self, REFIID iid, void** object);
    ULONG(STDMETHODCALLTYPE* AddRef)(IZoraPanelBridge* self);
    ULONG(STDMETHODCALLTYPE* Release)(IZoraPanelBridge* self);
    HRESULT(STDMETHODCALLTYPE* Reserved[17])(IZoraPanelBridge* self);
    HRESULT(STDMETHODCALLTYPE* PowerApiOpen)(IZoraPanelBridge* self, uint32_t* handle, uint32_t* error);
    HRESULT(STDMETHODCALLTYPE* PowerApiClose)(IZoraPanelBridge* self, uint32_t handle, uint32_t* error);
    HRESULT(STDMETHODCALLTYPE* GetPowerConsCaps)(IZoraPanelBridge* self, uint32_t handle, uint32_t* capabilities,
                                                 uint32_t* error);
    HRESULT(STDMETHODCALLTYPE* GetPowerPolicy)(IZoraPanelBridge* self, uint32_t handle, uint32_t policy,
                                               const GUID* id, uint32_t size, void* record, uint32_t* error);
    HRESULT(STDMETHODCALLTYPE* SetPowerPolicy)(IZoraPanelBridge* self, uint32_t handle, uint32_t policy,
                                               const GUID* id, uint32_t size, const void* record, uint32_t* error);
};
static_assert(offsetof(IZoraPanelBridgeVtbl, Release) == 2 * sizeof(void*));
static_assert(offsetof(IZoraPanelBridgeVtbl, Reserved) == 3 * sizeof(void*));
static_assert(offsetof(IZoraPanelBridgeVtbl, PowerApiOpen) == 20 * sizeof(void*));
static_assert(offsetof(IZoraPanelBridgeVtbl, PowerApiClose) == 21 * sizeof(void*));
static_assert(offsetof(IZoraPanelBridgeVtbl, GetPowerConsCaps) == 22 * sizeof(void*));
static_assert(offsetof(IZoraPanelBridgeVtbl, GetPowerPolicy) == 23 * sizeof(void*));
static_assert(offsetof(IZoraPanelBridgeVtbl, SetPowerPolicy) == 24 * sizeof(void*));
static_assert(sizeof(IZoraPanelBridgeVtbl) == 25 * sizeof(void*));
