#pragma once
#include <windows.h>
#include <oaidl.h>

#include "ZORABase.h"

struct IWbemLocator;
struct IWbemServices;
struct IWbemClassObject;
struct IWbemContext;

// The notebook's wired network adapter: its link speed, a parameter of its driver key
// under the network class that the adapter reads when the device installer restarts
// it, and its power-saving features through the adapter vendor's WMI provider
// ("\\.\root\DovnetWmi"). The adapter is the one whose driver description contains the
// configured name (ZORACfg.ini, section "ZORACfg", key "NICName").
//
// Link speed index and the standardised "*SpeedDuplex" value it stands for:
// 0 -> 0, 1 -> 1, 2 -> 2, 3 -> 3, 4 -> 4, 5 -> 6 (5 is never written).
// Use an agent only on the thread that constructed it: COM is initialised there
// (multithreaded) for the agent's life.
class ZORADLL_API CLanAgent : public CZORABase {
public:
    enum : unsigned long { kFailed = 0xFFFFFFFF };

    CLanAgent();
    // Copies would release the interface pointers twice.
    CLanAgent(const CLanAgent&) = delete;
    CLanAgent& operator=(const CLanAgent&) = delete;
    unsigned long GetVersion() override;
    ~CLanAgent() override;

    // 1 once the configuration is read, the provider connected and the adapter and the
    // net service found; 0 otherwise (the configured names are kept either way).
    int Initialize();
    // The power-saving features the adapter has, bit i for the i-th property of the
    // EBL level's table (LanAgent.cpp); computed and kept, or 0xFFFFFFFF.
    unsigned long CheckSupportStatus();
    // The power-saving features switched on, as an EBL level, or 0xFFFFFFFF.
    unsigned long GetEblLevel();
    // Switches the supported features as `level`'s bits say, inside one begin/apply
    // transaction of the vendor's net service; `level`, or 0xFFFFFFFF.
    unsigned long SetEblLevel(int level);
    // speed, or 0xFFFFFFFF.
    unsigned long SetLanSpeed(int speed);
    unsigned long GetLanSpeed();
    // 1 once the adapter's device was found (whether or not its restart succeeded),
    // else 0xFFFFFFFF.
    unsigned long ApplySettings();

protected:
    // Carries the open transaction's handle as "ClientSetId" in the context of the
    // calls that belong to it; creates the context once.
    HRESULT SetContext(VARIANT& clientSetHandle);

private:
    // "GetPowerUsageOptions" of the adapter, its eight properties read in `order` (bit
    // numbers); false after a logged failure. values[i]: -1 for NULL.
    bool ReadPowerOptions(const int (&order)[8], long long (&values)[8]);
    // The adapter's driver key, opened with `access`; null after a logged failure.
    HKEY OpenAdapterKey(REGSAM access);
    void ReleaseAll();

    IWbemLocator* m_pLocator;
    IWbemServices* m_pServices;
    IWbemClassObject* m_pAdapter;
    IWbemClassObject* m_pNetService;
    IWbemContext* m_pContext;
    unsigned long m_dwSupportMask;
    wchar_t m_szAdapterName[260];
    wchar_t m_szSpeedParam[260];
    int m_nComInit;
};
