// Live state beside the schemes: the devices that scheme variables switch, read and
// switched at once by variable name, and the batteries. Nothing here touches a scheme.
#include <cstring>

#include "BatAgent.h"
#include "EcAgent.h"
#include "HwHubra.h"
#include "HwUSBPorts.h"
#include "SchemeEx.h"
#include "SchemeFiles.h"
#include "ZoraPowerVariables.h"
#include "ZoraSystemApi.h"

using namespace scheme_files;
using namespace zora_vars;

namespace {

constexpr long kFail = static_cast<long>(0x80004005);
constexpr int kExtendedBytes = 16;                          // the firmware's extended battery record
constexpr int kStandardBytes = sizeof(BATTERY_INFORMATION);  // 36
constexpr int kItemBytes = 4;                               // one 32-bit result

bool IsHubFunction(int number) { return number >= HDAudio && number <= ThermalThrottle; }
bool IsUsbPort(int number) { return number >= USBPort0 && number <= USBPort11; }

// A radio through the embedded controller's firmware; the reply, or -1 when the driver,
// the settings or the call failed.
int Radio(const wchar_t* name, int bluetooth, bool write, int value) {
    CEcAgent ec;
    long hr = ec.Setup();
    if (hr < 0) {
        CZORABase::DBGOUT(L"Get %s device status failed for HRESULT: 0x%x", name, hr);
        return -1;
    }
    unsigned long reply = 0;
    hr = write ? ec.SetRadioStatus(bluetooth, value, &reply) : ec.GetRadioStatus(bluetooth, &reply);
    ec.Cleanup();
    if (hr < 0) {
        CZORABase::DBGOUT(L"Get %s device status failed for HRESULT: 0x%x", name, hr);
        return -1;
    }
    return static_cast<int>(reply);
}

// Copies `size` bytes from `start` of a record into the low bytes of *value.
void CopyItem(const void* record, int start, int size, unsigned long* value) {
    memcpy(value, static_cast<const unsigned char*>(record) + start, static_cast<size_t>(size));
}

// An item's byte range from [BatteryInforList]; false unless it lies inside a record of
// `bytes` and fits the 32-bit result.
bool ItemRange(CZORACfg& cfg, const wchar_t* list, int item, int bytes, int* start, int* size) {
    wchar_t key[32];
    swprintf(key, 32, L"%lsStart%d", list, item);
    *start = cfg.GetInt(L"BatteryInforList", key, -1);
    swprintf(key, 32, L"%lsSize%d", list, item);
    *size = cfg.GetInt(L"BatteryInforList", key, -1);
    return *start >= 0 && *size >= 0 && *size <= kItemBytes && *start <= bytes - *size;
}

// The first item of a list ("BEA" or "BA") named exactly so, or -1.
int FindItem(CZORACfg& cfg, const wchar_t* list, const wchar_t* name) {
    wchar_t key[32], text[kTextChars];
    swprintf(key, 32, L"%lsItemNum", list);
    int count = cfg.GetInt(L"BatteryInforList", key, 0);
    for (int item = 0; item < count; ++item) {
        swprintf(key, 32, L"%lsName%d", list, item);
        if (cfg.GetString(L"BatteryInforList", key, L"", text, kTextChars) > 0 && wcscmp(text, name) == 0) return item;
    }
    return -1;
}

bool ReadSystemBatteryState(SYSTEM_BATTERY_STATE* state) {
    *state = {};
    return ZoraSys()->CallNtPowerInformation(SystemBatteryState, nullptr, 0, state, sizeof(*state)) == 0;
}

// The seconds to full while charging, to empty while discharging, as the battery agent
// reckons them from the system's record (unsigned 32-bit arithmetic).
unsigned long CompleteTimeOf(const SYSTEM_BATTERY_STATE& state) {
    constexpr unsigned long kUnknownTime = 0xFFFFFFFF;
    if (state.Charging) {
        if (state.Rate == 0) return kUnknownTime;
        return (state.MaxCapacity - state.RemainingCapacity) * 3600 / state.Rate;
    }
    if (state.Discharging) return state.EstimatedTime;
    return kUnknownTime;
}

float RemainFractionOf(const SYSTEM_BATTERY_STATE& state) {
    if (state.MaxCapacity == 0) return 0.0f;
    return static_cast<float>(state.RemainingCapacity) / static_cast<float>(state.MaxCapacity);
}

}  // namespace

int CSchemeEx::GetDeviceStatus(const wchar_t* name, int* status) {
    int number = ParseVarName(name);
    if (number < 0) return -1;
    if (number == BTStatus || number == Wifi) {
        int reply = Radio(name, number == BTStatus, false, 0);
        if (reply >= 0 && status) *status = reply ? 1 : 0;
        return reply;
    }
    if (!IsHubFunction(number) && !IsUsbPort(number)) return 0;  // not a device
    long hr;
    int disabled = 0;
    if (IsHubFunction(number)) {
        CHwHubra hub;
        hr = hub.Setup(1);
        if (hr >= 0) hr = hub.GetFunctionDisable(kNames[number], &disabled);  // the hub knows the table's spelling
    } else {
        CHwUSBPorts ports;
        hr = ports.Setup(1);
        if (hr >= 0) hr = ports.GetPortDisable(number - USBPort0, &disabled);
    }
    if (hr < 0) {
        DBGOUT(L"Get %s device status failed for HRESULT: 0x%x", name, hr);
        return -1;
    }
    if (status) *status = disabled;
    return 0;
}

int CSchemeEx::SetDeviceStatus(const wchar_t* name, int value) {
    int number = ParseVarName(name);
    if (number < 0) return -1;
    if (number == BTStatus || number == Wifi) return Radio(name, number == BTStatus, true, value);
    if (IsHubFunction(number)) {
        CHwHubra hub;
        long hr = hub.Setup(1);
        if (hr >= 0) hr = hub.FunctionDisable(kNames[number], value);
        if (hr < 0) {
            DBGOUT(L"Get %s device status failed for HRESULT: 0x%x", name, hr);
            return -1;
        }
        return 0;
    }
    if (IsUsbPort(number)) {
        CHwUSBPorts ports;
        long hr = ports.Setup(1);
        if (hr < 0) {
            DBGOUT(L"init UsbPort device failed for HRESULT: 0x%x", hr);
            return -1;
        }
        hr = ports.PortDisable(number - USBPort0, value);
        if (hr < 0) {
            DBGOUT(L"Get USBPort No.%d status failed for HRESULT: 0x%x", number - USBPort0, hr);
            return -1;
        }
        return 0;
    }
    return 0;  // not a device
}

unsigned long CSchemeEx::GetBatteryCount() {
    CBatAgent batteries;
    unsigned long count = batteries.Setup() == 0 ? batteries.GetBatteryCount() : 0;
    batteries.Cleanup();
    return count;
}

int CSchemeEx::GetBatteryInformation(int battery, const wchar_t* name, unsigned long* value) {
    CZORACfg cfg;
    if (!name || !value || !OpenMachineCfg(cfg)) return -1;
    int start = 0, size = 0;
    // The extended items come from the embedded controller's record.
    int item = FindItem(cfg, L"BEA", name);
    if (item >= 0) {
        if (!ItemRange(cfg, L"BEA", item, kExtendedBytes, &start, &size)) return -1;
        CEcAgent ec;
        _BATTERY_EXTEND_FIELDS record = {};
        long hr = ec.Setup();
        if (hr >= 0) hr = ec.GetBatteryExtends(&record, 15);
        ec.Cleanup();
        if (hr < 0) return -1;
        CopyItem(&record, start, size, value);
        return 0;
    }
    // The standard items, from the system's battery information record.
    item = FindItem(cfg, L"BA", name);
    if (item < 0) return 0;  // in neither list: nothing to say
    if (!ItemRange(cfg, L"BA", item, kStandardBytes, &start, &size)) return -1;
    CBatAgent batteries;
    BATTERY_INFORMATION info = {};
    long hr = batteries.Setup();
    if (hr >= 0) hr = batteries.GetInfo(battery, info);
    batteries.Cleanup();
    if (hr < 0) return -1;
    CopyItem(&info, start, size, value);
    return 0;
}

int CSchemeEx::GetBatteryStatus(int battery, BATTERY_STATUS& status) {
    CBatAgent batteries;
    long hr = batteries.Setup();
    if (hr >= 0) hr = batteries.GetStatus(battery, status);
    batteries.Cleanup();
    return hr < 0 ? -1 : 0;
}

unsigned long CSchemeEx::GetCompleteTime(int battery) {
    CBatAgent batteries;
    unsigned long seconds = batteries.Setup() == 0 && battery == 0 ? batteries.GetCompleteTime(0) : 0;
    batteries.Cleanup();
    return seconds;
}

float CSchemeEx::GetRemainBatPer(int battery) {
    SYSTEM_BATTERY_STATE state;
    if (battery != 0 || !ReadSystemBatteryState(&state)) return 0.0f;
    return RemainFractionOf(state);
}

// The single queries each read afresh (the time also sets up the battery agent, which
// opens every battery); asked together every second they read the same state several
// times over. One reading answers both.
int CSchemeEx::GetBatteryReading(SYSTEM_BATTERY_STATE& state, unsigned long& seconds, float& fraction) {
    const bool read = ReadSystemBatteryState(&state);
    if (!read) state = {};
    seconds = CompleteTimeOf(state);
    fraction = RemainFractionOf(state);
    return read ? 0 : -1;
}
