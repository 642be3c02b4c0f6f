#pragma once
#include <windows.h>

#include "ZORABase.h"

// Extended battery data: four 16-bit quantities, each assembled from two rows of the
// firmware's battery record.
struct _BATTERY_EXTEND_FIELDS {
    unsigned long Field1;  // rows 2, 3
    unsigned long Field2;  // rows 0, 1
    unsigned long Field3;  // rows 4, 5
    unsigned long Field4;  // rows 6, 7
};

// The notebook's own features behind its embedded-controller firmware: backlight
// level, Wi-Fi and Bluetooth radios, display output switching and extended battery
// data, each one firmware method call through the driver "\\.\zoraebl". The command
// codes come from ZORACfg.ini, section "GCWCMD".
class ZORADLL_API CEcAgent : public CZORABase {
public:
    CEcAgent();
    CEcAgent(const CEcAgent& other);
    CEcAgent& operator=(const CEcAgent& other);
    unsigned long GetVersion() override;
    ~CEcAgent() override;

    // 0, 1 when already open, 0x80004005.
    long Setup();
    long Cleanup();

    int GetMaxLevels();
    int GetMinLevel();

    // The method's reply; 0 without a driver or when the call failed.
    unsigned long GetBacklightLevel();
    unsigned long SetBacklightLevel(int level);
    unsigned long GetWifiStatus();
    unsigned long SetWifiStatus(int state);
    unsigned long GetBluetoothStatus();
    unsigned long SetBloothStatus(int state);
    // A radio's state (bluetooth nonzero: the Bluetooth radio, else Wi-Fi) with the
    // call's own status, so that a failed call is never taken for a state: 0, 0x80070006
    // no driver, 0x80070057 null pointer, 0x80004005.
    long GetRadioStatus(int bluetooth, unsigned long* reply);
    long SetRadioStatus(int bluetooth, int state, unsigned long* reply);
    unsigned long SwitchDisplayMode();
    unsigned long GetCurrentDisplayMode();
    unsigned long SelfTest(int unused);

    // Status codes: 0, 0x80070006 no driver, 0x80070057 null pointer, 0x80004005.
    long GeneralRead(unsigned long code, unsigned long* result);
    long GeneralWrite(unsigned long code, unsigned long value, unsigned long* result);
    // method: a four-letter tag, its characters in reading order from the low byte.
    long ToExecCtrlMethod(unsigned long method, unsigned long* result, unsigned long argument1,
                          unsigned long argument2, unsigned long argument3);
    long GetStatus(unsigned long* result);
    long GetBatteryExtends(_BATTERY_EXTEND_FIELDS* fields, unsigned long selector);

    long GetAudioJackin();
    long GetBatteryTemp();
    long GetHotkeyIndex();

protected:
    long GetCfgSettings();

private:
    unsigned long CallFeature(unsigned long method, unsigned long code, unsigned long value);
    BOOL CallMethod(unsigned long method, unsigned long argument1, unsigned long argument2, unsigned long argument3,
                    void* reply, unsigned long replySize, unsigned long* returned);

    HANDLE m_hDriver;
    unsigned long m_dwBrightGetCmd;
    unsigned long m_dwBrightSetCmd;
    unsigned long m_dwWifiGetCmd;
    unsigned long m_dwWifiSetCmd;
    unsigned long m_dwDisplaySwitchCmd;
    unsigned long m_dwBluetoothGetCmd;
    unsigned long m_dwBluetoothSetCmd;
    unsigned long m_dwMaxBrightLevel;
    unsigned long m_dwMinBrightLevel;
};
