#include "DevMgr.h"

#include <cwchar>

#include "AsciiText.h"
#include "ShellGuid.h"
#include "WinHandles.h"
#include "ZORACfg.h"
#include "ZoraSystemApi.h"

namespace {
constexpr int kIdChars = 260;
constexpr unsigned long kDefaultTimeoutMs = 1000;
constexpr DWORD kStatusStarted = 0x8;       // DN_STARTED
constexpr DWORD kStatusDisableable = 0x2000;  // DN_DISABLEABLE
constexpr DWORD kDescBytes = 520;

// The wait cursor for the length of a switch.
class WaitCursor {
public:
    WaitCursor() : m_previous(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(m_previous); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR m_previous;
};

bool Listed(HDEVINFO set) { return set && set != INVALID_HANDLE_VALUE; }
}  // namespace

CDevMgr::CDevMgr()
    : m_hListenWnd(nullptr), m_hDevInfoSet(nullptr), m_nDeviceCount(0), m_dwTimeoutMs(kDefaultTimeoutMs),
      m_dwOptions(0) {}

CDevMgr::~CDevMgr() { Cleanup(); }

unsigned long CDevMgr::GetVersion() { return 1000; }

long CDevMgr::Setup() {
    if (m_hDevInfoSet) {
        DBGOUT(L"Setup has been invoked.");
        return S_FALSE;
    }
    CZORACfg cfg;
    if (!cfg.Initialize(L"ZORACfg.ini")) {
        DBGOUT(L"Initialize config file %s failed", L"ZORACfg.ini");
        return E_FAIL;
    }
    m_dwTimeoutMs = static_cast<unsigned long>(cfg.GetInt(L"ZoraDevMgr", L"TimeoutMS", 100000));
    m_dwOptions = static_cast<unsigned long>(cfg.GetInt(L"ZoraDevMgr", L"DmOptions", 1));

    ZoraSystemApi* sys = ZoraSys();
    HDEVINFO set = sys->SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (!Listed(set)) {
        DBGOUT(L"SetupDiCreateDeviceInfoList for m_hDevInfoSet failed %x", static_cast<unsigned>(GetLastError()));
        return E_FAIL;
    }
    m_hDevInfoSet = set;

    int classes = cfg.GetInt(L"DevGUIDs", L"Num", 0);
    for (int i = 0; i < classes; ++i) {
        wchar_t key[32], text[kIdChars] = {};
        _snwprintf(key, 31, L"GUID%d", i);
        key[31] = L'\0';
        cfg.GetString(L"DevGUIDs", key, L"", text, kIdChars);
        if (!text[0]) return E_FAIL;
        GUID guid{};
        if (!GuidFromString(text, &guid)) continue;  // a class that cannot be named lists nothing
        UniqueDevInfo members(sys->SetupDiGetClassDevsW(&guid, nullptr, nullptr, 0));
        if (!members) continue;
        SP_DEVINFO_DATA member{};
        member.cbSize = sizeof(member);
        for (DWORD n = 0; sys->SetupDiEnumDeviceInfo(members.get(), n, &member); ++n) {
            wchar_t id[kIdChars];
            SP_DEVINFO_DATA opened{};
            opened.cbSize = sizeof(opened);
            if (!sys->SetupDiGetDeviceInstanceIdW(members.get(), &member, id, kIdChars, nullptr) ||
                !sys->SetupDiOpenDeviceInfoW(m_hDevInfoSet, id, nullptr, 0, &opened))
                break;
            if (m_hListenWnd) SendMessageW(m_hListenWnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(id));
            ++m_nDeviceCount;
        }
    }
    return S_OK;
}

long CDevMgr::Cleanup() {
    if (m_hDevInfoSet) {
        if (!ZoraSys()->SetupDiDestroyDeviceInfoList(m_hDevInfoSet)) return E_FAIL;
    }
    m_hDevInfoSet = nullptr;
    m_nDeviceCount = 0;
    return S_OK;
}

long CDevMgr::ForceRefresh() { return S_OK; }

void CDevMgr::SetListenList(HWND listBox) { m_hListenWnd = listBox; }

long CDevMgr::GetDeviceCount() { return m_nDeviceCount; }

long CDevMgr::GetName(unsigned long index, wchar_t* buffer, int size) {
    return GetDevRegProp(index, SPDRP_FRIENDLYNAME, buffer, size);
}

long CDevMgr::GetDesc(unsigned long index, wchar_t* buffer, int size) {
    return GetDevRegProp(index, SPDRP_DEVICEDESC, buffer, size);
}

long CDevMgr::GetDevRegProp(unsigned long index, unsigned long property, wchar_t* buffer, int size) {
    if (!Listed(m_hDevInfoSet) || !buffer || size <= 0) return E_FAIL;
    ZoraSystemApi* sys = ZoraSys();
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (!sys->SetupDiEnumDeviceInfo(m_hDevInfoSet, index, &device)) return E_FAIL;
    DWORD type = 0;
    if (!sys->SetupDiGetDeviceRegistryPropertyW(m_hDevInfoSet, &device, property, &type,
                                                reinterpret_cast<BYTE*>(buffer), static_cast<DWORD>(size), nullptr))
        return E_FAIL;
    return S_OK;
}

long CDevMgr::GetInstID(unsigned long index, wchar_t* buffer, int size) {
    if (!Listed(m_hDevInfoSet) || !buffer || size <= 0) return E_FAIL;
    ZoraSystemApi* sys = ZoraSys();
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (!sys->SetupDiEnumDeviceInfo(m_hDevInfoSet, index, &device) ||
        !sys->SetupDiGetDeviceInstanceIdW(m_hDevInfoSet, &device, buffer, static_cast<DWORD>(size), nullptr))
        return E_FAIL;
    return S_OK;
}

long CDevMgr::GetDeviceStatus(unsigned long index, unsigned long* status, unsigned long* problem) {
    if (!Listed(m_hDevInfoSet) || !status || !problem) return E_FAIL;
    ZoraSystemApi* sys = ZoraSys();
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    SP_DEVINFO_LIST_DETAIL_DATA_W detail{};
    detail.cbSize = sizeof(detail);
    if (!sys->SetupDiEnumDeviceInfo(m_hDevInfoSet, index, &device) ||
        !sys->SetupDiGetDeviceInfoListDetailW(m_hDevInfoSet, &detail))
        return E_FAIL;
    ULONG s = 0, p = 0;
    if (sys->CM_Get_DevNode_Status_Ex(&s, &p, device.DevInst, 0, detail.RemoteMachineHandle) != CR_SUCCESS)
        return E_FAIL;
    *status = s;
    *problem = p;
    return S_OK;
}

long CDevMgr::ChangeState(unsigned long index, ZoraDeviceAction action) {
    // Before Setup there is no list to take the device from, and no option read.
    if (!Listed(m_hDevInfoSet)) return E_FAIL;
    return DoStateChange(m_hDevInfoSet, index, action);
}

long CDevMgr::DoStateChange(HDEVINFO set, unsigned long index, unsigned long action) {
    ZoraSystemApi* sys = ZoraSys();
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (!(m_dwOptions & 1)) {
        if (!sys->SetupDiEnumDeviceInfo(set, index, &device)) return E_FAIL;
        return DoStateChange(set, &device, action);
    }
    wchar_t id[kIdChars];
    if (!sys->SetupDiEnumDeviceInfo(set, index, &device) ||
        !sys->SetupDiGetDeviceInstanceIdW(set, &device, id, kIdChars, nullptr)) {
        DBGOUT(L"DoStateChange failed in GetInstID(). %x", static_cast<unsigned>(GetLastError()));
        return E_FAIL;
    }
    IpbDataHeader scratch{};
    return ServiceCall(DeviceStateRequest, id, action, &scratch, m_dwTimeoutMs);
}

long CDevMgr::DoStateChangeRemote(const wchar_t* instanceId, unsigned long action) {
    if (!instanceId) return E_FAIL;
    IpbDataHeader scratch{};
    return ServiceCall(DeviceStateRequest, instanceId, action, &scratch, m_dwTimeoutMs);
}

long CDevMgr::DoStateChange(HDEVINFO set, SP_DEVINFO_DATA* device, unsigned long action) {
    ZoraSystemApi* sys = ZoraSys();
    WaitCursor cursor;
    SP_PROPCHANGE_PARAMS params{};
    params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    params.StateChange = action;
    params.Scope = DICS_FLAG_GLOBAL;
    params.HwProfile = 0;
    if (!sys->SetupDiSetClassInstallParamsW(set, device, &params.ClassInstallHeader, sizeof(params))) {
        DBGOUT(L"SetupDiSetClassInstallParams failed for last error %x.", static_cast<unsigned>(GetLastError()));
        return E_FAIL;
    }
    sys->SetupDiChangeState(set, device);
    if (!sys->SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, device)) {
        DBGOUT(L"SetupDiChangeState failed for last error %x.", static_cast<unsigned>(GetLastError()));
        return E_FAIL;
    }
    return S_OK;
}

long CDevMgr::ExecStateChange(const wchar_t* instanceId, unsigned long action) {
    if (!instanceId) return E_FAIL;
    ZoraSystemApi* sys = ZoraSys();
    UniqueDevInfo set(sys->SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (!set) {
        DBGOUT(L"ExecStateChange failed in SetupDiCreateDeviceInfoList, le=%x", static_cast<unsigned>(GetLastError()));
        return E_FAIL;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (!sys->SetupDiOpenDeviceInfoW(set.get(), instanceId, nullptr, 0, &device)) {
        DBGOUT(L"ExecStateChange failed in SetupDiOpenDeviceInfo(%s), le=%x", instanceId,
               static_cast<unsigned>(GetLastError()));
        return E_FAIL;
    }
    ULONG status = 0, problem = 0;
    if (sys->CM_Get_DevNode_Status_Ex(&status, &problem, device.DevInst, 0, nullptr) != CR_SUCCESS) return E_FAIL;
    if (action == Disable && (status & (kStatusStarted | kStatusDisableable)) != (kStatusStarted | kStatusDisableable))
        return S_OK;
    return DoStateChange(set.get(), &device, action);
}

long CDevMgr::ExecStateChange2(const wchar_t* description, unsigned long action) {
    wchar_t id[kIdChars];
    long hr = DrvDescToInstID(description, id, kIdChars);
    if (hr != S_OK) return hr;
    return ExecStateChange(id, action);
}

long CDevMgr::DrvDescToInstID(const wchar_t* description, wchar_t* out, unsigned long size) {
    if (!description || !out) return E_FAIL;
    ZoraSystemApi* sys = ZoraSys();
    DEVINST node = 0;
    CONFIGRET cr = sys->CM_Locate_DevNodeW(&node, nullptr, CM_LOCATE_DEVNODE_NORMAL);
    if (cr != CR_SUCCESS) {
        DBGOUT(L"Cannot locate devnode for %ld", static_cast<long>(cr));
        return E_FAIL;
    }
    // Depth-first, pre-order from the root.
    for (;;) {
        wchar_t desc[kDescBytes / sizeof(wchar_t)] = {};
        ULONG length = kDescBytes, type = 0;
        cr = sys->CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_DEVICEDESC, &type, desc, &length, 0);
        if (cr != CR_SUCCESS) {
            DBGOUT(L"Cannot Get_DevNode_Registry_Property for %ld,size=%ld", static_cast<long>(cr),
                   static_cast<long>(length));
        } else {
            desc[kDescBytes / sizeof(wchar_t) - 1] = L'\0';
            if (desc[0]) DBGOUT(L"%s", desc);
            if (EqualsAsciiNoCase(desc, description)) break;
        }
        DEVINST next = 0;
        if (sys->CM_Get_Child(&next, node, 0) == CR_SUCCESS) {
            node = next;
            continue;
        }
        for (;;) {
            if (sys->CM_Get_Sibling(&next, node, 0) == CR_SUCCESS) {
                node = next;
                break;
            }
            if (sys->CM_Get_Parent(&next, node, 0) != CR_SUCCESS) return E_FAIL;
            node = next;
        }
    }

    ULONG idLength = 0;
    cr = sys->CM_Get_Device_ID_Size(&idLength, node, 0);
    if (cr != CR_SUCCESS) {
        DBGOUT(L"Cannot Get_Device_ID_Size for %ld", static_cast<long>(cr));
        return E_FAIL;
    }
    if (size < idLength + 1) {
        DBGOUT(L"Input buffer is too small for %ld", static_cast<long>(idLength + 1));
        return E_FAIL;
    }
    cr = sys->CM_Get_Device_IDW(node, out, size, 0);
    if (cr != CR_SUCCESS) {
        DBGOUT(L"Cannot Get_Device_ID for %ld", static_cast<long>(cr));
        return E_FAIL;
    }
    DBGOUT(L"%s", out);
    return S_OK;
}

int CDevMgr::GuidFromString(const wchar_t* text, GUID* guid) { return ParseShellGuid(text, guid) ? 1 : 0; }
