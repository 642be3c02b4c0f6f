// zoractl ec: the notebook's features behind its embedded controller, through the
// embedded controller agent.
//   ec show                  backlight=, wifi=, bluetooth=, display=, battery fields
//   ec backlight LEVEL       sets the backlight level
//   ec wifi 0|1, ec bluetooth 0|1   switches a radio
//   ec display               switches the display output to the next mode
//   ec battery               the extended battery fields (selector 15)
//   ec battery-row ROW VALUE sets a row (0-11) of the virtual notebook's battery record
// Every setter prints the firmware's reply as reply=N.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "EcAgent.h"
#include "ZoraVnb.h"
#include "ZoractlCommands.h"

namespace {
constexpr unsigned long kBatterySelector = 15;

int Usage() {
    wprintf(L"usage: zoractl ec show | backlight LEVEL | wifi 0|1 | bluetooth 0|1 | display | battery\n"
            L"       zoractl ec battery-row ROW VALUE   (virtual notebook, ROW 0-11)\n");
    return 1;
}

int Battery(CEcAgent& agent) {
    _BATTERY_EXTEND_FIELDS fields{};
    long status = agent.GetBatteryExtends(&fields, kBatterySelector);
    if (status != 0) {
        wprintf(L"the extended battery data cannot be read (0x%08lX)\n", static_cast<unsigned long>(status));
        return 1;
    }
    wprintf(L"field1=0x%04lX\nfield2=0x%04lX\nfield3=0x%04lX\nfield4=0x%04lX\n", fields.Field1, fields.Field2,
            fields.Field3, fields.Field4);
    return 0;
}

int Show(CEcAgent& agent) {
    wprintf(L"backlight=%lu\nlevels=%d-%d\nwifi=%lu\nbluetooth=%lu\ndisplay=%lu\n", agent.GetBacklightLevel(),
            agent.GetMinLevel(), agent.GetMaxLevels(), agent.GetWifiStatus(), agent.GetBluetoothStatus(),
            agent.GetCurrentDisplayMode());
    return Battery(agent);
}

int Reply(unsigned long reply) {
    wprintf(L"reply=%lu\n", reply);
    return 0;
}

// The battery record is the machine's own state: set through the virtual notebook.
int SetBatteryRow(const wchar_t* rowText, const wchar_t* valueText) {
    unsigned long row = 0, value = 0;
    if (!ParseNumber(rowText, &row) || row > 11 || !ParseNumber(valueText, &value)) return Usage();
    auto setValue = VnbExport<decltype(&::VnbSetValue)>("VnbSetValue");
    if (!setValue) return 1;
    std::wstring key = L"Row" + std::to_wstring(row);
    std::wstring text = std::to_wstring(value);
    if (!setValue(nullptr, L"BatteryRows", key.c_str(), text.c_str())) {
        wprintf(L"the virtual notebook's machine cannot be changed (%lu)\n", GetLastError());
        return 1;
    }
    wprintf(L"row%lu=%lu\n", row, value);
    return 0;
}
}  // namespace

int EcCommand(int argc, wchar_t** argv) {
    if (argc < 1) return Usage();
    if (wcscmp(argv[0], L"battery-row") == 0) return argc == 3 ? SetBatteryRow(argv[1], argv[2]) : Usage();
    unsigned long value = 0;
    bool valued = argc == 2 && ParseNumber(argv[1], &value);
    enum { kShow, kBacklight, kWifi, kBluetooth, kDisplay, kBattery } command;
    if (argc == 1 && wcscmp(argv[0], L"show") == 0)
        command = kShow;
    else if (argc == 1 && wcscmp(argv[0], L"display") == 0)
        command = kDisplay;
    else if (argc == 1 && wcscmp(argv[0], L"battery") == 0)
        command = kBattery;
    else if (valued && wcscmp(argv[0], L"backlight") == 0)
        command = kBacklight;
    else if (valued && value <= 1 && wcscmp(argv[0], L"wifi") == 0)
        command = kWifi;
    else if (valued && value <= 1 && wcscmp(argv[0], L"bluetooth") == 0)
        command = kBluetooth;
    else
        return Usage();

    CEcAgent agent;
    long setup = agent.Setup();
    if (setup < 0) {
        wprintf(L"the embedded controller cannot be reached (0x%08lX)\n", static_cast<unsigned long>(setup));
        return 1;
    }
    switch (command) {
    case kShow:
        return Show(agent);
    case kBattery:
        return Battery(agent);
    case kDisplay:
        return Reply(agent.SwitchDisplayMode());
    case kBacklight:
        return Reply(agent.SetBacklightLevel(static_cast<int>(value)));
    case kWifi:
        return Reply(agent.SetWifiStatus(static_cast<int>(value)));
    case kBluetooth:
        return Reply(agent.SetBloothStatus(static_cast<int>(value)));
    }
    return Usage();
}
