// The machine's batteries: up to six battery slots, each a battery-class device interface
// ("\\?\ACPI#PNP0C0A#<n+1>#{72631e54-78a4-11d0-bcf7-00aa00b7b32a}") whose device path
// answers the battery class's requests, and the system's view of them
// (CallNtPowerInformation's system battery state, GetSystemPowerStatus).
//
//   [Batteries]
//   Clock=13412345678         seconds since 1601 (UTC) up to which the charge has been
//                             brought; every read lets the time since then pass
//
//   [Battery<n>]              n = 0..5, one per slot; a slot is a battery port, present
//                             with or without a battery in it
//   Present=1                 a battery is in the slot
//   Tag=1                     its battery tag; a battery put back in gets a new one
//   DesignCapacity=...        mWh, as are the full-charged and the remaining capacity
//   FullChargedCapacity=...
//   RemainingCapacity=...
//   Voltage=12450             mV
//   ChargeRate=...            mW taken in on mains until full
//   DischargeRate=...         mW given off on battery
//   Temperature=3031          tenths of a kelvin
//   CycleCount, DefaultAlert1, DefaultAlert2 (mWh: low and warning capacity)
//   Chemistry=LION            four characters, as BATTERY_INFORMATION carries them
//   DeviceName, Manufacturer, SerialNumber, UniqueId, ManufactureDate=YYYY-MM-DD
//   OpenError=0               nonzero: opening the slot's device path fails with that error
//
//   [BatteryRequests]         the last request of each kind per slot, recorded as the
//                             battery received it: "Tag<n>", "Information<n>", "Status<n>"
//                             = "<input size>:<input bytes in hex>", "<kind><n>Out" = the
//                             reply buffer's size
//
// On mains every present battery below its full charge charges at its charge rate until
// full; on battery every present battery discharges at its discharge rate down to 0.
#include <windows.h>
#include <winioctl.h>
#include <batclass.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>

#include "Batteries.h"
#include "Entries.h"
#include "Platform.h"

namespace vnb {
namespace {

constexpr int kSlots = 6;
constexpr wchar_t kPathHead[] = L"\\\\?\\ACPI#PNP0C0A#";
constexpr wchar_t kPathTail[] = L"#{72631e54-78a4-11d0-bcf7-00aa00b7b32a}";
const GUID kBatteryInterface = {0x72631e54, 0x78a4, 0x11d0, {0xbc, 0xf7, 0x00, 0xaa, 0x00, 0xb7, 0xb3, 0x2a}};
constexpr DWORD kRecordedBytes = 64;
constexpr LONG kStatusUnsuccessful = static_cast<LONG>(0xC0000001);
constexpr LONG kStatusBufferTooSmall = static_cast<LONG>(0xC0000023);

std::string SlotName(int slot) { return "Battery" + std::to_string(slot); }

std::wstring SlotPath(int slot) { return kPathHead + std::to_wstring(slot + 1) + kPathTail; }

unsigned long long NowSeconds() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER value;
    value.LowPart = now.dwLowDateTime;
    value.HighPart = now.dwHighDateTime;
    return value.QuadPart / 10000000ULL;
}

bool HasSlots(const Machine& machine) {
    Values battery;
    for (int slot = 0; slot < kSlots; ++slot)
        if (GetSection(machine, SlotName(slot), &battery)) return true;
    return false;
}

bool OnMains(const Machine& machine) { return machine.power.acLineStatus == 1; }

// mW: positive while charging, negative while discharging, 0 for a full battery on
// mains or an empty slot.
long long RateOf(const Machine& machine, const Values& battery) {
    if (!battery.Number("Present")) return 0;
    if (OnMains(machine))
        return battery.Number("RemainingCapacity") < battery.Number("FullChargedCapacity")
                   ? static_cast<long long>(battery.Number("ChargeRate"))
                   : 0;
    return -static_cast<long long>(battery.Number("DischargeRate"));
}

bool ChargingOf(const Machine& machine, const Values& battery) {
    return battery.Number("Present") && OnMains(machine) &&
           battery.Number("RemainingCapacity") < battery.Number("FullChargedCapacity");
}

struct Totals {
    bool present = false, charging = false, discharging = false;
    unsigned long long full = 0, remaining = 0, alert1 = 0, alert2 = 0;
    long long rate = 0;
};

Totals Sum(const Machine& machine) {
    Totals totals;
    Values battery;
    for (int slot = 0; slot < kSlots; ++slot) {
        if (!GetSection(machine, SlotName(slot), &battery) || !battery.Number("Present")) continue;
        totals.present = true;
        totals.charging = totals.charging || ChargingOf(machine, battery);
        totals.full += battery.Number("FullChargedCapacity");
        totals.remaining += battery.Number("RemainingCapacity");
        totals.alert1 += battery.Number("DefaultAlert1");
        totals.alert2 += battery.Number("DefaultAlert2");
        totals.rate += RateOf(machine, battery);
    }
    totals.discharging = totals.present && !OnMains(machine);
    return totals;
}

unsigned PercentOf(const Totals& totals) {
    if (!totals.present) return 255;
    if (totals.full == 0) return 0;
    return static_cast<unsigned>(std::min<unsigned long long>(100, totals.remaining * 100 / totals.full));
}

// Seconds to empty at the present rate, or 0xFFFFFFFF unless discharging.
DWORD TimeLeft(const Totals& totals, unsigned long long capacity) {
    if (!totals.discharging || totals.rate >= 0) return MAXDWORD;
    return static_cast<DWORD>(capacity * 3600 / static_cast<unsigned long long>(-totals.rate));
}

void AdvanceCharge(Machine* machine) {
    Values clock;
    GetSection(*machine, "Batteries", &clock);
    unsigned long long now = NowSeconds();
    unsigned long long then = std::min(clock.Number("Clock", now), now);
    unsigned long long elapsed = now - then;
    bool moved = false, pending = false;
    Values battery;
    for (int slot = 0; slot < kSlots; ++slot) {
        if (!GetSection(*machine, SlotName(slot), &battery)) continue;
        long long rate = RateOf(*machine, battery);
        if (rate == 0) continue;
        pending = true;
        unsigned long long delta = static_cast<unsigned long long>(rate < 0 ? -rate : rate) * elapsed / 3600;
        if (delta == 0) continue;  // the fraction stays on the clock until it makes a whole mWh
        moved = true;
        unsigned long long remaining = battery.Number("RemainingCapacity");
        remaining = rate > 0 ? std::min(battery.Number("FullChargedCapacity"), remaining + delta)
                             : (delta >= remaining ? 0 : remaining - delta);
        battery.Set("RemainingCapacity", std::to_string(remaining));
        PutSection(machine, SlotName(slot), battery);
    }
    if (moved || !pending || !clock.Has("Clock")) {
        clock.Set("Clock", std::to_string(now));
        PutSection(machine, "Batteries", clock);
    }
}

void DerivePower(Machine* machine) {
    if (!HasSlots(*machine)) return;
    Totals totals = Sum(*machine);
    VnbPower& power = machine->power;
    if (!totals.present) {
        power.batteryFlag = 128;
        power.batteryLifePercent = 255;
        power.batteryLifeTime = MAXDWORD;
        power.batteryFullLifeTime = MAXDWORD;
        return;
    }
    unsigned percent = PercentOf(totals);
    BYTE flag = percent > 66 ? 1 : percent < 33 ? 2 : 0;
    if (percent < 5) flag |= 4;
    if (totals.charging) flag |= 8;
    power.batteryFlag = flag;
    power.batteryLifePercent = static_cast<BYTE>(percent);
    power.batteryLifeTime = TimeLeft(totals, totals.remaining);
    power.batteryFullLifeTime = TimeLeft(totals, totals.full);
}

std::wstring Wide(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
    return out;
}

template <class T>
void Put(std::vector<BYTE>* reply, const T& record) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&record);
    reply->assign(bytes, bytes + sizeof(T));
}

void PutText(std::vector<BYTE>* reply, const std::string& text) {
    std::wstring wide = Wide(text);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(wide.c_str());
    reply->assign(bytes, bytes + (wide.size() + 1) * sizeof(wchar_t));
}

BATTERY_INFORMATION InformationOf(const Values& battery) {
    BATTERY_INFORMATION info{};
    info.Capabilities = BATTERY_SYSTEM_BATTERY;
    info.Technology = 1;  // rechargeable
    std::string chemistry = battery.Get("Chemistry");
    memcpy(info.Chemistry, chemistry.c_str(), std::min<size_t>(chemistry.size(), sizeof(info.Chemistry)));
    info.DesignedCapacity = static_cast<ULONG>(battery.Number("DesignCapacity"));
    info.FullChargedCapacity = static_cast<ULONG>(battery.Number("FullChargedCapacity"));
    info.DefaultAlert1 = static_cast<ULONG>(battery.Number("DefaultAlert1"));
    info.DefaultAlert2 = static_cast<ULONG>(battery.Number("DefaultAlert2"));
    info.CriticalBias = 0;
    info.CycleCount = static_cast<ULONG>(battery.Number("CycleCount"));
    return info;
}

BATTERY_MANUFACTURE_DATE DateOf(const Values& battery) {
    unsigned year = 0, month = 0, day = 0;
    sscanf(battery.Get("ManufactureDate").c_str(), "%u-%u-%u", &year, &month, &day);
    BATTERY_MANUFACTURE_DATE date{};
    date.Day = static_cast<UCHAR>(day);
    date.Month = static_cast<UCHAR>(month);
    date.Year = static_cast<USHORT>(year);
    return date;
}

// The reply to one information level; ERROR_INVALID_FUNCTION for a level the battery
// does not report, as its miniport refuses it.
DWORD Information(const Machine& machine, const Values& battery, BATTERY_QUERY_INFORMATION_LEVEL level,
                  std::vector<BYTE>* reply) {
    switch (level) {
    case BatteryInformation: Put(reply, InformationOf(battery)); return ERROR_SUCCESS;
    case BatteryTemperature: Put(reply, static_cast<ULONG>(battery.Number("Temperature"))); return ERROR_SUCCESS;
    case BatteryEstimatedTime: {
        long long rate = RateOf(machine, battery);
        ULONG seconds = rate < 0 ? static_cast<ULONG>(battery.Number("RemainingCapacity") * 3600 /
                                                      static_cast<unsigned long long>(-rate))
                                 : BATTERY_UNKNOWN_TIME;
        Put(reply, seconds);
        return ERROR_SUCCESS;
    }
    case BatteryDeviceName: PutText(reply, battery.Get("DeviceName")); return ERROR_SUCCESS;
    case BatteryManufactureDate: Put(reply, DateOf(battery)); return ERROR_SUCCESS;
    case BatteryManufactureName: PutText(reply, battery.Get("Manufacturer")); return ERROR_SUCCESS;
    case BatteryUniqueID: PutText(reply, battery.Get("UniqueId")); return ERROR_SUCCESS;
    case BatterySerialNumber: PutText(reply, battery.Get("SerialNumber")); return ERROR_SUCCESS;
    default: return ERROR_INVALID_FUNCTION;
    }
}

BATTERY_STATUS StatusOf(const Machine& machine, const Values& battery) {
    BATTERY_STATUS status{};
    unsigned long long full = battery.Number("FullChargedCapacity");
    unsigned long long remaining = battery.Number("RemainingCapacity");
    if (OnMains(machine)) status.PowerState |= BATTERY_POWER_ON_LINE;
    else status.PowerState |= BATTERY_DISCHARGING;
    if (ChargingOf(machine, battery)) status.PowerState |= BATTERY_CHARGING;
    if (remaining * 100 < full * 5) status.PowerState |= BATTERY_CRITICAL;
    status.Capacity = static_cast<ULONG>(remaining);
    status.Voltage = static_cast<ULONG>(battery.Number("Voltage"));
    status.Rate = static_cast<LONG>(RateOf(machine, battery));
    return status;
}

void Record(Machine* machine, const std::string& key, const void* in, DWORD inSize, DWORD outSize) {
    std::string text = RequestText(in, inSize, kRecordedBytes);
    Values log;
    GetSection(*machine, "BatteryRequests", &log);
    log.Set(key, text);
    log.Set(key + "Out", std::to_string(outSize));
    PutSection(machine, "BatteryRequests", log);
}

class BatteryObject : public DeviceObject {
public:
    explicit BatteryObject(int slot) : m_slot(slot) {}

    BOOL Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) override {
        *returned = 0;
        const char* kind = code == IOCTL_BATTERY_QUERY_TAG           ? "Tag"
                           : code == IOCTL_BATTERY_QUERY_INFORMATION ? "Information"
                           : code == IOCTL_BATTERY_QUERY_STATUS      ? "Status"
                                                                     : nullptr;
        if (!kind) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return FALSE;
        }
        std::vector<BYTE> reply;
        DWORD answer = ERROR_SUCCESS;
        DWORD error = UpdateMachine(AttachedMachine(), [&](Machine& machine) {
            SettleBatteries(&machine);
            Record(&machine, kind + std::to_string(m_slot), in, inSize, outSize);
            answer = Answer(machine, code, in, inSize, &reply);
            return static_cast<DWORD>(ERROR_SUCCESS);
        });
        if (error == ERROR_SUCCESS) error = answer;
        // A reply that does not fit is not sent at all: the call fails and no byte is returned.
        if (error == ERROR_SUCCESS && (!out || outSize < reply.size())) error = ERROR_INSUFFICIENT_BUFFER;
        if (error != ERROR_SUCCESS) {
            if (code == IOCTL_BATTERY_QUERY_TAG && error == ERROR_FILE_NOT_FOUND && out && outSize >= sizeof(ULONG))
                *static_cast<ULONG*>(out) = BATTERY_TAG_INVALID;
            SetLastError(error);
            return FALSE;
        }
        memcpy(out, reply.data(), reply.size());
        *returned = static_cast<DWORD>(reply.size());
        return TRUE;
    }

private:
    // A request for a battery that is not (or no longer) the one its tag names fails with
    // ERROR_FILE_NOT_FOUND, as the battery class completes it. A tag request without a
    // battery is answered at once with that error, as after its wait.
    DWORD Answer(const Machine& machine, DWORD code, const void* in, DWORD inSize, std::vector<BYTE>* reply) {
        Values battery;
        if (!GetSection(machine, SlotName(m_slot), &battery)) return ERROR_DEVICE_NOT_CONNECTED;
        ULONG tag = static_cast<ULONG>(battery.Number("Tag"));
        bool present = battery.Number("Present") != 0 && tag != BATTERY_TAG_INVALID;
        if (code == IOCTL_BATTERY_QUERY_TAG) {
            if (!in || inSize != sizeof(ULONG)) return ERROR_INVALID_PARAMETER;
            if (!present) return ERROR_FILE_NOT_FOUND;
            Put(reply, tag);
            return ERROR_SUCCESS;
        }
        if (code == IOCTL_BATTERY_QUERY_INFORMATION) {
            if (!in || inSize != sizeof(BATTERY_QUERY_INFORMATION)) return ERROR_INVALID_PARAMETER;
            const auto* query = static_cast<const BATTERY_QUERY_INFORMATION*>(in);
            if (!present || query->BatteryTag != tag) return ERROR_FILE_NOT_FOUND;
            return Information(machine, battery, query->InformationLevel, reply);
        }
        if (!in || inSize != sizeof(BATTERY_WAIT_STATUS)) return ERROR_INVALID_PARAMETER;
        const auto* wait = static_cast<const BATTERY_WAIT_STATUS*>(in);
        if (!present || wait->BatteryTag != tag) return ERROR_FILE_NOT_FOUND;
        Put(reply, StatusOf(machine, battery));
        return ERROR_SUCCESS;
    }

    int m_slot;
};

bool OpenBattery(const std::wstring& path, std::unique_ptr<DeviceObject>* object, DWORD* error) {
    const size_t head = wcslen(kPathHead), tail = wcslen(kPathTail);
    if (path.size() != head + 1 + tail || _wcsnicmp(path.c_str(), kPathHead, head) != 0 ||
        _wcsicmp(path.c_str() + head + 1, kPathTail) != 0 || path[head] < L'1' || path[head] > L'0' + kSlots)
        return false;
    int slot = path[head] - L'1';
    Machine machine;
    DWORD read = ReadMachine(AttachedMachine(), &machine);
    Values battery;
    if (read != ERROR_SUCCESS)
        *error = read;
    else if (!GetSection(machine, SlotName(slot), &battery))
        *error = ERROR_FILE_NOT_FOUND;
    else if (DWORD refused = static_cast<DWORD>(battery.Number("OpenError")))
        *error = refused;
    else
        object->reset(new BatteryObject(slot));
    return true;
}
DevicePath g_path(OpenBattery);

bool ListBatteries(const Machine& machine, const GUID& interfaceClass, bool, std::vector<std::wstring>* paths) {
    if (!IsEqualGUID(interfaceClass, kBatteryInterface)) return false;
    Values battery;
    for (int slot = 0; slot < kSlots; ++slot)
        if (GetSection(machine, SlotName(slot), &battery)) paths->push_back(SlotPath(slot));
    return true;
}
DeviceInterfaces g_interfaces(ListBatteries);

// A six-cell lithium-ion pack of 2007 (3 x 2 cells of 2400 mAh, 11.1 V nominal: 53.28 Wh
// designed), a year old: 37 cycles, 96 % of its design capacity left, fully charged on
// mains, 12.45 V at full charge. It charges at about 2 A (25 W) and the notebook draws
// 15 W on battery (three and a half hours from full). Alerts at 5 % and 10 %.
void DefaultBatteries(Machine* machine) {
    Values clock;
    clock.Set("Clock", std::to_string(NowSeconds()));
    PutSection(machine, "Batteries", clock);
    Values battery;
    battery.Set("Present", "1");
    battery.Set("Tag", "1");
    battery.Set("DesignCapacity", "53280");
    battery.Set("FullChargedCapacity", "51150");
    battery.Set("RemainingCapacity", "51150");
    battery.Set("Voltage", "12450");
    battery.Set("ChargeRate", "25000");
    battery.Set("DischargeRate", "15000");
    battery.Set("Temperature", "3031");  // 30.0 degrees Celsius
    battery.Set("CycleCount", "37");
    battery.Set("DefaultAlert1", "2558");
    battery.Set("DefaultAlert2", "5115");
    battery.Set("Chemistry", "LION");
    battery.Set("DeviceName", "Primary 6-cell");
    battery.Set("Manufacturer", "Sanvika Energy");
    battery.Set("SerialNumber", "4107");
    battery.Set("UniqueId", "4107Sanvika EnergyPrimary 6-cell");
    battery.Set("ManufactureDate", "2007-03-14");
    battery.Set("OpenError", "0");
    PutSection(machine, "Battery0", battery);
}
DefaultSection g_defaults(DefaultBatteries);

DWORD ChangeSlot(const wchar_t* machineFile, int slot, const std::function<void(Machine&, Values&)>& change) {
    if (slot < 0 || slot >= kSlots) return ERROR_INVALID_PARAMETER;
    wchar_t scratch[MAX_PATH];
    return UpdateMachine(ResolveMachine(machineFile, scratch), [&](Machine& machine) {
        Values battery;
        if (!GetSection(machine, SlotName(slot), &battery)) return static_cast<DWORD>(ERROR_NOT_FOUND);
        SettleBatteries(&machine);
        GetSection(machine, SlotName(slot), &battery);
        change(machine, battery);
        PutSection(&machine, SlotName(slot), battery);
        DerivePower(&machine);
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
}

}  // namespace

void SettleBatteries(Machine* machine) {
    AdvanceCharge(machine);
    DerivePower(machine);
}

bool SetBatteryPercent(Machine* machine, unsigned percent) {
    bool any = false;
    Values battery;
    for (int slot = 0; slot < kSlots; ++slot) {
        if (!GetSection(*machine, SlotName(slot), &battery) || !battery.Number("Present")) continue;
        unsigned long long full = battery.Number("FullChargedCapacity");
        battery.Set("RemainingCapacity", std::to_string((full * percent + 99) / 100));
        PutSection(machine, SlotName(slot), battery);
        any = true;
    }
    DerivePower(machine);
    return any;
}

unsigned BatteryPercent(const Machine& machine) { return PercentOf(Sum(machine)); }

LONG WINAPI CallNtPowerInformation(POWER_INFORMATION_LEVEL level, PVOID in, ULONG inSize, PVOID out,
                                   ULONG outSize) {
    if (level != SystemBatteryState) return ::CallNtPowerInformation(level, in, inSize, out, outSize);
    if (!out || outSize < sizeof(SYSTEM_BATTERY_STATE)) return kStatusBufferTooSmall;
    SYSTEM_BATTERY_STATE state{};
    DWORD error = UpdateMachine(AttachedMachine(), [&](Machine& machine) {
        SettleBatteries(&machine);
        Totals totals = Sum(machine);
        state.AcOnLine = OnMains(machine);
        state.BatteryPresent = totals.present;
        state.Charging = totals.charging;
        state.Discharging = totals.discharging;
        state.MaxCapacity = static_cast<DWORD>(totals.full);
        state.RemainingCapacity = static_cast<DWORD>(totals.remaining);
        state.Rate = static_cast<DWORD>(static_cast<LONG>(totals.rate));
        state.EstimatedTime = TimeLeft(totals, totals.remaining);
        state.DefaultAlert1 = static_cast<DWORD>(totals.alert1);
        state.DefaultAlert2 = static_cast<DWORD>(totals.alert2);
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
    if (error != ERROR_SUCCESS) return kStatusUnsuccessful;
    memcpy(out, &state, sizeof(state));
    return 0;
}

}  // namespace vnb

ZORAVNB_API BOOL WINAPI VnbSetBatteryCharge(const wchar_t* machineFile, int slot, DWORD percent) {
    if (percent > 100) return vnb::ExportResult(ERROR_INVALID_PARAMETER);
    return vnb::ExportResult(vnb::ChangeSlot(machineFile, slot, [&](vnb::Machine&, vnb::Values& battery) {
        unsigned long long full = battery.Number("FullChargedCapacity");
        battery.Set("RemainingCapacity", std::to_string((full * percent + 99) / 100));
    }));
}

ZORAVNB_API BOOL WINAPI VnbSetBatteryRates(const wchar_t* machineFile, int slot, DWORD chargeRate,
                                           DWORD dischargeRate) {
    return vnb::ExportResult(vnb::ChangeSlot(machineFile, slot, [&](vnb::Machine&, vnb::Values& battery) {
        battery.Set("ChargeRate", std::to_string(chargeRate));
        battery.Set("DischargeRate", std::to_string(dischargeRate));
    }));
}

ZORAVNB_API BOOL WINAPI VnbSetBatteryPresent(const wchar_t* machineFile, int slot, BOOL present) {
    return vnb::ExportResult(vnb::ChangeSlot(machineFile, slot, [&](vnb::Machine&, vnb::Values& battery) {
        bool was = battery.Number("Present") != 0;
        battery.Set("Present", present ? "1" : "0");
        // A battery put in is a new battery to the battery class: it gets a new tag.
        if (present && !was) battery.Set("Tag", std::to_string(battery.Number("Tag") % 0xFFFFFFFEULL + 1));
    }));
}
