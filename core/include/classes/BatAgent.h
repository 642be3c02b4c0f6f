#pragma once
#include <windows.h>
#include <winioctl.h>
#include <batclass.h>

#include "ZORABase.h"

// The state and identity of up to five batteries, read through the system's battery
// class interface (the battery-class device interfaces and their requests), and the
// system-wide battery state. Battery indexes are 0-4; a battery whose open failed keeps
// its slot invalid but is counted.
class ZORADLL_API CBatAgent : public CZORABase {
public:
    enum { kMaxBatteries = 5 };

    CBatAgent();
    // Copies share the handles (the last holder closes them).
    CBatAgent(const CBatAgent& other);
    CBatAgent& operator=(const CBatAgent& other);
    unsigned long GetVersion() override;
    ~CBatAgent() override;

    // Enumerates and opens the batteries: 0, or 0x80004005 when the enumeration failed.
    // Slots of an earlier call are not closed; the count starts again at 0.
    long Setup();
    long Cleanup();
    long Reset();
    unsigned long GetBatteryCount();

    // Status codes: 0; 0x80070057 for an index outside 0-4 or a slot that is not open;
    // 0x80004005 when the battery refused the request.
    long GetInfo(int i, BATTERY_INFORMATION& info);
    long GetStatus(int i, BATTERY_STATUS& status);
    long GetTemperature(int i, unsigned long& value);
    long GetManufactureDate(int i, BATTERY_MANUFACTURE_DATE& date);
    // size: the reply's length in bytes.
    long GetManufactureName(int i, wchar_t* text, int size);
    long GetUniqueID(int i, wchar_t* text, int size);
    long GetSerialNumber(int i, wchar_t* text, int size);

    // Seconds to full charge while charging, the system's estimate while discharging,
    // 0xFFFFFFFF when neither or at a zero charge rate. Battery 0 only: any other index
    // returns 0.
    unsigned long GetCompleteTime(int i);
    static int GetSystemPowerStatus(SYSTEM_POWER_STATUS* s);

protected:
    long QueryBatteryInfo(int i, BATTERY_QUERY_INFORMATION_LEVEL level, void* buffer, unsigned long size);
    long QueryBatteryTag(int i);

private:
    bool ValidSlot(int i) const;

    HANDLE m_hBattery[kMaxBatteries];
    unsigned long m_dwTag[kMaxBatteries];
    unsigned long m_dwCount;
};
