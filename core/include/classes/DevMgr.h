#pragma once
#include <windows.h>
#include <setupapi.h>

#include "ZORABase.h"

// Switches Plug and Play devices on and off. Lists the devices of the setup classes
// that ZORACfg.ini names ([DevGUIDs]) and switches them by index, itself or, for an
// ordinary user, through the service; the service switches devices by instance ID
// or by device description.
class ZORADLL_API CDevMgr : public CZORABase {
public:
    // The system's device state-change codes, passed through unchanged.
    enum ZoraDeviceAction { Enable = 1, Disable = 2, PropChange = 3, Start = 4, Stop = 5 };

    CDevMgr();
    CDevMgr(const CDevMgr&) = delete;
    CDevMgr& operator=(const CDevMgr&) = delete;
    unsigned long GetVersion() override;
    ~CDevMgr() override;

    long Setup();
    long Cleanup();
    long ForceRefresh();
    // A list box that receives each listed instance ID (LB_ADDSTRING).
    void SetListenList(HWND listBox);
    long GetDeviceCount();
    // Sizes in bytes.
    long GetName(unsigned long index, wchar_t* buffer, int size);
    long GetDesc(unsigned long index, wchar_t* buffer, int size);
    long GetDevRegProp(unsigned long index, unsigned long property, wchar_t* buffer, int size);
    // Size in characters.
    long GetInstID(unsigned long index, wchar_t* buffer, int size);
    long GetDeviceStatus(unsigned long index, unsigned long* status, unsigned long* problem);
    long ChangeState(unsigned long index, ZoraDeviceAction action);
    long DoStateChangeRemote(const wchar_t* instanceId, unsigned long action);

    static long ExecStateChange(const wchar_t* instanceId, unsigned long action);
    long ExecStateChange2(const wchar_t* description, unsigned long action);
    // Size in characters.
    long DrvDescToInstID(const wchar_t* description, wchar_t* out, unsigned long size);

protected:
    long DoStateChange(HDEVINFO set, unsigned long index, unsigned long action);
    static long DoStateChange(HDEVINFO set, SP_DEVINFO_DATA* device, unsigned long action);
    static int GuidFromString(const wchar_t* text, GUID* guid);

private:
    HWND m_hListenWnd;
    HDEVINFO m_hDevInfoSet;
    int m_nDeviceCount;
    unsigned long m_dwTimeoutMs;
    unsigned long m_dwOptions;
};
