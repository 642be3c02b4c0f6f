#include "EcAgent.h"

#include "SharedHandles.h"
#include "ZORACfg.h"
#include "ZoraEblContract.h"
#include "ZoraSystemApi.h"

namespace {
constexpr long kOk = 0;
constexpr long kFail = static_cast<long>(0x80004005);
constexpr long kNoDriver = static_cast<long>(0x80070006);
constexpr long kNullPointer = static_cast<long>(0x80070057);
constexpr unsigned long kBatteryRowsWanted = 12;

unsigned long LowByte(uint32_t row) { return row & 0xFF; }
unsigned long Assemble(const ZoraEblBatteryReply& reply, int first) {
    return LowByte(reply.rows[first]) * 256 + LowByte(reply.rows[first + 1]);
}
}  // namespace

CEcAgent::CEcAgent()
    : m_hDriver(INVALID_HANDLE_VALUE),
      m_dwBrightGetCmd(0),
      m_dwBrightSetCmd(0),
      m_dwWifiGetCmd(0),
      m_dwWifiSetCmd(0),
      m_dwDisplaySwitchCmd(0),
      m_dwBluetoothGetCmd(0),
      m_dwBluetoothSetCmd(0),
      m_dwMaxBrightLevel(0),
      m_dwMinBrightLevel(0) {}

CEcAgent::CEcAgent(const CEcAgent& other) : CEcAgent() { *this = other; }

CEcAgent& CEcAgent::operator=(const CEcAgent& other) {
    if (this == &other) return *this;
    CZORABase::operator=(other);
    shared_handle::Hold(other.m_hDriver);
    Cleanup();
    m_hDriver = other.m_hDriver;
    m_dwBrightGetCmd = other.m_dwBrightGetCmd;
    m_dwBrightSetCmd = other.m_dwBrightSetCmd;
    m_dwWifiGetCmd = other.m_dwWifiGetCmd;
    m_dwWifiSetCmd = other.m_dwWifiSetCmd;
    m_dwDisplaySwitchCmd = other.m_dwDisplaySwitchCmd;
    m_dwBluetoothGetCmd = other.m_dwBluetoothGetCmd;
    m_dwBluetoothSetCmd = other.m_dwBluetoothSetCmd;
    m_dwMaxBrightLevel = other.m_dwMaxBrightLevel;
    m_dwMinBrightLevel = other.m_dwMinBrightLevel;
    return *this;
}

unsigned long CEcAgent::GetVersion() { return 1000; }

CEcAgent::~CEcAgent() { Cleanup(); }

long CEcAgent::Setup() {
    if (m_hDriver != INVALID_HANDLE_VALUE) return 1;
    m_hDriver = ZoraSys()->CreateFileW(ZORAEBL_DEVICE_PATH, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_hDriver == INVALID_HANDLE_VALUE) {
        DBGOUT(L"Open connection with driver failed for %d", GetLastError());
        return kFail;
    }
    shared_handle::Hold(m_hDriver);
    return GetCfgSettings();
}

long CEcAgent::Cleanup() {
    shared_handle::Release(m_hDriver);
    m_hDriver = INVALID_HANDLE_VALUE;
    return kOk;
}

long CEcAgent::GetCfgSettings() {
    CZORACfg cfg;
    if (!cfg.Initialize(L"ZORACfg.ini")) {
        DBGOUT(L"Initialize config file %s failed", L"ZORACfg.ini");
        return kFail;
    }
    auto code = [&cfg](const wchar_t* key, int fallback) {
        return static_cast<unsigned long>(cfg.GetInt(L"GCWCMD", key, fallback));
    };
    m_dwBrightGetCmd = code(L"BrightLevelGet", 0xF8);
    m_dwBrightSetCmd = code(L"BrightLevelSet", 0xF8);
    m_dwWifiGetCmd = code(L"WifiGet", 0xF2);
    m_dwWifiSetCmd = code(L"WifiSet", 0xF2);
    m_dwDisplaySwitchCmd = code(L"DisplaySwitch", 0xF3);
    // The firmware has one Bluetooth command for both directions.
    m_dwBluetoothGetCmd = code(L"BluetoothGet", 0xF2);
    m_dwBluetoothSetCmd = code(L"BluetoothGet", 0xF2);
    m_dwMaxBrightLevel = static_cast<unsigned long>(cfg.GetInt(L"ZORACfg", L"MaxBrightLevel", 8));
    m_dwMinBrightLevel = static_cast<unsigned long>(cfg.GetInt(L"ZORACfg", L"MinBrightLevel", 1));
    return kOk;
}

int CEcAgent::GetMaxLevels() {
    return static_cast<int>(m_dwMinBrightLevel == 0 ? m_dwMaxBrightLevel + 1 : m_dwMaxBrightLevel);
}

int CEcAgent::GetMinLevel() { return static_cast<int>(m_dwMinBrightLevel); }

BOOL CEcAgent::CallMethod(unsigned long method, unsigned long argument1, unsigned long argument2,
                          unsigned long argument3, void* reply, unsigned long replySize, unsigned long* returned) {
    ZoraEblRequest request{static_cast<uint32_t>(method), static_cast<uint32_t>(argument1),
                           static_cast<uint32_t>(argument2), static_cast<uint32_t>(argument3)};
    DWORD count = 0;
    BOOL ok = ZoraSys()->DeviceIoControl(m_hDriver, IOCTL_ZORAEBL_CALL_METHOD, &request, sizeof(request), reply,
                                         replySize, &count, nullptr);
    if (returned) *returned = count;
    return ok;
}

unsigned long CEcAgent::CallFeature(unsigned long method, unsigned long code, unsigned long value) {
    if (m_hDriver == INVALID_HANDLE_VALUE) return 0;
    ZoraEblMethodReply reply{};
    if (!CallMethod(method, code, value, 0, &reply, sizeof(reply), nullptr)) {
        DBGOUT(L"Calling driver function error. %d", GetLastError());
        return 0;
    }
    return reply.result;
}

unsigned long CEcAgent::GetBacklightLevel() { return CallFeature(kEblMethodRead, m_dwBrightGetCmd, 0); }

unsigned long CEcAgent::SetBacklightLevel(int level) {
    return CallFeature(kEblMethodWrite, m_dwBrightSetCmd, static_cast<unsigned long>(level));
}

unsigned long CEcAgent::GetWifiStatus() { return CallFeature(kEblMethodRead, m_dwWifiGetCmd, 0); }

unsigned long CEcAgent::SetWifiStatus(int state) {
    return CallFeature(kEblMethodWrite, m_dwWifiSetCmd, static_cast<unsigned long>(state));
}

unsigned long CEcAgent::GetBluetoothStatus() { return CallFeature(kEblMethodRead, m_dwBluetoothGetCmd, 0); }

unsigned long CEcAgent::SetBloothStatus(int state) {
    return CallFeature(kEblMethodWrite, m_dwBluetoothSetCmd, static_cast<unsigned long>(state));
}

long CEcAgent::GetRadioStatus(int bluetooth, unsigned long* reply) {
    return GeneralRead(bluetooth ? m_dwBluetoothGetCmd : m_dwWifiGetCmd, reply);
}

long CEcAgent::SetRadioStatus(int bluetooth, int state, unsigned long* reply) {
    return GeneralWrite(bluetooth ? m_dwBluetoothSetCmd : m_dwWifiSetCmd, static_cast<unsigned long>(state), reply);
}

unsigned long CEcAgent::SwitchDisplayMode() { return CallFeature(kEblMethodWrite, m_dwDisplaySwitchCmd, 0); }

unsigned long CEcAgent::GetCurrentDisplayMode() { return CallFeature(kEblMethodRead, m_dwDisplaySwitchCmd, 0); }

unsigned long CEcAgent::SelfTest(int) { return CallFeature(kEblMethodSelfTest, 0, 0); }

long CEcAgent::GeneralRead(unsigned long code, unsigned long* result) {
    if (!result) return kNullPointer;
    return ToExecCtrlMethod(kEblMethodRead, result, code, 0, 0);
}

long CEcAgent::GeneralWrite(unsigned long code, unsigned long value, unsigned long* result) {
    if (!result) return kNullPointer;
    return ToExecCtrlMethod(kEblMethodWrite, result, code, value, 0);
}

long CEcAgent::ToExecCtrlMethod(unsigned long method, unsigned long* result, unsigned long argument1,
                                unsigned long argument2, unsigned long argument3) {
    if (m_hDriver == INVALID_HANDLE_VALUE) return kNoDriver;
    if (!result) return kNullPointer;
    ZoraEblMethodReply reply{};
    if (!CallMethod(method, argument1, argument2, argument3, &reply, sizeof(reply), nullptr)) {
        DBGOUT(L"Calling driver function error. %d", GetLastError());
        return kFail;
    }
    *result = reply.result;
    return kOk;
}

long CEcAgent::GetStatus(unsigned long* result) { return ToExecCtrlMethod(kEblMethodStatus, result, 0, 0, 0); }

long CEcAgent::GetBatteryExtends(_BATTERY_EXTEND_FIELDS* fields, unsigned long selector) {
    if (m_hDriver == INVALID_HANDLE_VALUE) return kNoDriver;
    if (!fields) return kNullPointer;
    ZoraEblBatteryReply reply{};
    unsigned long returned = 0;
    BOOL ok = CallMethod(kEblMethodBattery, kBatteryRowsWanted, 0, selector, &reply, sizeof(reply), &returned);
    if (!ok || returned == 0) {
        DBGOUT(L"Calling driver function ZORA_GCW_BATTERY_METHOD error. Last error %d ulReturn %d",
               ok ? 0 : GetLastError(), returned);
        return kFail;
    }
    for (unsigned i = 0; i < kEblBatteryRowCount; ++i) DBGOUT(L"BatteryExtRow[%d] = %d", i, reply.rows[i]);
    fields->Field2 = Assemble(reply, 0);
    fields->Field1 = Assemble(reply, 2);
    fields->Field3 = Assemble(reply, 4);
    fields->Field4 = Assemble(reply, 6);
    return kOk;
}

long CEcAgent::GetAudioJackin() { return kFail; }

long CEcAgent::GetBatteryTemp() { return kFail; }

long CEcAgent::GetHotkeyIndex() { return kFail; }
