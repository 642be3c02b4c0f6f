#include "BatAgent.h"

#include <cstring>

#include "SharedHandles.h"
#include "ZoraSystemApi.h"

namespace {
constexpr long kOk = 0;
constexpr long kFail = static_cast<long>(0x80004005);
constexpr long kInvalidArg = static_cast<long>(0x80070057);
constexpr unsigned long kTagWaitMs = 5000;
static_assert(sizeof(BATTERY_INFORMATION) == 36, "the battery information record");
constexpr unsigned long kUnknownTime = 0xFFFFFFFF;
// The battery-class device interface.
const GUID kBatteryInterface = {0x72631e54, 0x78a4, 0x11d0, {0xbc, 0xf7, 0x00, 0xaa, 0x00, 0xb7, 0xb3, 0x2a}};

long EnumerationFailed(const wchar_t* call) {
    CZORABase::DBGOUT(L"%s failed with last error = %x", call, GetLastError());
    return kFail;
}
}  // namespace

CBatAgent::CBatAgent() : m_dwCount(0) {
    for (int i = 0; i < kMaxBatteries; ++i) {
        m_hBattery[i] = INVALID_HANDLE_VALUE;
        m_dwTag[i] = 0;
    }
}

CBatAgent::CBatAgent(const CBatAgent& other) : CBatAgent() { *this = other; }

CBatAgent& CBatAgent::operator=(const CBatAgent& other) {
    if (this == &other) return *this;
    CZORABase::operator=(other);
    for (int i = 0; i < kMaxBatteries; ++i) {
        shared_handle::Assign(&m_hBattery[i], other.m_hBattery[i]);
        m_dwTag[i] = other.m_dwTag[i];
    }
    m_dwCount = other.m_dwCount;
    return *this;
}

unsigned long CBatAgent::GetVersion() { return 1000; }

CBatAgent::~CBatAgent() { Cleanup(); }

long CBatAgent::Setup() {
    HDEVINFO set = ZoraSys()->SetupDiGetClassDevsW(&kBatteryInterface, nullptr, nullptr,
                                                   DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return EnumerationFailed(L"SetupDiGetClassDevs");
    m_dwCount = 0;
    long result = kOk;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof(data);
        if (!ZoraSys()->SetupDiEnumDeviceInterfaces(set, nullptr, &kBatteryInterface, index, &data)) {
            if (GetLastError() == ERROR_NO_MORE_ITEMS)
                DBGOUT(L"SetupDiEnumDeviceInterfaces enumerated %d batteries", static_cast<int>(m_dwCount));
            else
                result = EnumerationFailed(L"SetupDiEnumDeviceInterfaces");
            break;
        }
        DWORD required = 0;
        if (ZoraSys()->SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, nullptr) ||
            GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            result = EnumerationFailed(L"SetupDiGetDeviceInterfaceDetail");
            break;
        }
        auto* detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(HeapAlloc(GetProcessHeap(), 0, required));
        if (!detail) {
            result = EnumerationFailed(L"HeapAlloc");
            break;
        }
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!ZoraSys()->SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required, &required, nullptr)) {
            result = EnumerationFailed(L"SetupDiGetDeviceInterfaceDetail");
            HeapFree(GetProcessHeap(), 0, detail);
            break;
        }
        int slot = static_cast<int>(m_dwCount);
        m_dwTag[slot] = 0;
        m_hBattery[slot] = ZoraSys()->CreateFileW(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (m_hBattery[slot] == INVALID_HANDLE_VALUE)
            DBGOUT(L"Open battery %s failed with %x", detail->DevicePath, GetLastError());
        else
            shared_handle::Hold(m_hBattery[slot]);
        HeapFree(GetProcessHeap(), 0, detail);
        QueryBatteryTag(slot);
        if (++m_dwCount == kMaxBatteries) break;
    }
    ZoraSys()->SetupDiDestroyDeviceInfoList(set);
    return result;
}

long CBatAgent::Cleanup() {
    for (int i = 0; i < kMaxBatteries; ++i) {
        shared_handle::Release(m_hBattery[i]);
        m_hBattery[i] = INVALID_HANDLE_VALUE;
    }
    return kOk;
}

long CBatAgent::Reset() { return kOk; }

unsigned long CBatAgent::GetBatteryCount() { return m_dwCount; }

bool CBatAgent::ValidSlot(int i) const {
    return i >= 0 && i < kMaxBatteries && m_hBattery[i] != INVALID_HANDLE_VALUE;
}

long CBatAgent::QueryBatteryTag(int i) {
    if (!ValidSlot(i)) return kInvalidArg;
    ULONG wait = kTagWaitMs, tag = 0;
    DWORD returned = 0;
    BOOL ok = ZoraSys()->DeviceIoControl(m_hBattery[i], IOCTL_BATTERY_QUERY_TAG, &wait, sizeof(wait), &tag,
                                         sizeof(tag), &returned, nullptr);
    DBGOUT(L"IOCTL_BATTERY_QUERY_TAG got return %x with tag %x", ok, tag);
    m_dwTag[i] = ok ? tag : 0;
    return ok ? kOk : kFail;
}

long CBatAgent::QueryBatteryInfo(int i, BATTERY_QUERY_INFORMATION_LEVEL level, void* buffer, unsigned long size) {
    if (!ValidSlot(i)) return kInvalidArg;
    BATTERY_QUERY_INFORMATION query{};
    query.BatteryTag = m_dwTag[i];
    query.InformationLevel = level;
    query.AtRate = 0;
    DWORD returned = 0;
    if (!ZoraSys()->DeviceIoControl(m_hBattery[i], IOCTL_BATTERY_QUERY_INFORMATION, &query, sizeof(query), buffer,
                                    size, &returned, nullptr)) {
        DBGOUT(L"IOCTL_BATTERY_QUERY_INFORMATION failed with return %d", 0);
        return kFail;
    }
    return kOk;
}

long CBatAgent::GetInfo(int i, BATTERY_INFORMATION& info) {
    return QueryBatteryInfo(i, BatteryInformation, &info, sizeof(info));
}

long CBatAgent::GetTemperature(int i, unsigned long& value) {
    ULONG temperature = 0;
    long result = QueryBatteryInfo(i, BatteryTemperature, &temperature, sizeof(temperature));
    if (result == kOk) value = temperature;
    return result;
}

long CBatAgent::GetManufactureDate(int i, BATTERY_MANUFACTURE_DATE& date) {
    return QueryBatteryInfo(i, BatteryManufactureDate, &date, sizeof(date));
}

long CBatAgent::GetManufactureName(int i, wchar_t* text, int size) {
    return QueryBatteryInfo(i, BatteryManufactureName, text, static_cast<unsigned long>(size));
}

long CBatAgent::GetUniqueID(int i, wchar_t* text, int size) {
    return QueryBatteryInfo(i, BatteryUniqueID, text, static_cast<unsigned long>(size));
}

long CBatAgent::GetSerialNumber(int i, wchar_t* text, int size) {
    return QueryBatteryInfo(i, BatterySerialNumber, text, static_cast<unsigned long>(size));
}

long CBatAgent::GetStatus(int i, BATTERY_STATUS& status) {
    if (!ValidSlot(i)) return kInvalidArg;
    BATTERY_WAIT_STATUS wait{};
    wait.BatteryTag = m_dwTag[i];
    wait.Timeout = 0;
    wait.PowerState = BATTERY_POWER_ON_LINE;
    wait.LowCapacity = 0;
    wait.HighCapacity = 0;
    DWORD returned = 0;
    if (!ZoraSys()->DeviceIoControl(m_hBattery[i], IOCTL_BATTERY_QUERY_STATUS, &wait, sizeof(wait), &status,
                                    sizeof(status), &returned, nullptr)) {
        DBGOUT(L"IOCTL_BATTERY_QUERY_STATUS failed for %x with %d", GetLastError(), static_cast<int>(returned));
        return kFail;
    }
    return kOk;
}

unsigned long CBatAgent::GetCompleteTime(int i) {
    if (i != 0) return 0;
    SYSTEM_BATTERY_STATE state;
    memset(&state, 0, sizeof(state));
    ZoraSys()->CallNtPowerInformation(SystemBatteryState, nullptr, 0, &state, sizeof(state));
    if (state.Charging) {
        if (state.Rate == 0) return kUnknownTime;
        return (state.MaxCapacity - state.RemainingCapacity) * 3600 / state.Rate;
    }
    if (state.Discharging) return state.EstimatedTime;
    return kUnknownTime;
}

int CBatAgent::GetSystemPowerStatus(SYSTEM_POWER_STATUS* s) { return ZoraSys()->GetSystemPowerStatus(s); }
