#pragma once
// What the hub tests share: the platform's register addresses, registers as the machine
// holds them, the driver-side record of requests, and installed files changed for one
// test case.
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

namespace hwtest {

// The default machine's hub (see cfg/HubraCfg.ini, cfg/USBCfg.ini, cfg/CPUCfg.ini).
constexpr uint32_t kRcba = 0xFED1C000;
constexpr uint32_t kFunctionDisable = kRcba + 0x3418;
constexpr uint32_t kUsbPortDisable = kRcba + 0x359C;
constexpr uint32_t kUsbWriteEnable = kRcba + 0x3598;
constexpr uint32_t kPmBase = 0x500;

uint32_t Memory32(uint32_t address);
uint16_t Io16(uint16_t port);
// Configuration space of the function at bus:device.function.
uint32_t Config32(int bus, int device, int function, int offset);
std::wstring ObjectName(int bus, int device, int function);  // "\Device\NTPNP_PCI%04d"

// The machine's text value; "(missing)" when absent.
std::string MachineValue(const wchar_t* section, const wchar_t* key);
// The last request of a driver function as the driver recorded it: size, bytes.
bool LastRequest(int function, size_t* size, std::string* bytes);

// Replaces keys of an installed file of <build>/<arch>/cfg for the life of the object;
// the original file comes back at the end.
class CfgOverride {
public:
    explicit CfgOverride(const wchar_t* fileName);
    CfgOverride(const CfgOverride&) = delete;
    CfgOverride& operator=(const CfgOverride&) = delete;
    ~CfgOverride();
    // value null deletes the key.
    void Set(const wchar_t* section, const wchar_t* key, const wchar_t* value);

private:
    std::wstring m_path;
    std::string m_original;
};

// Little-endian field of a recorded request's hex text.
uint32_t Field(const std::string& hexBytes, size_t offset, size_t size);
std::wstring NameField(const std::string& hexBytes, size_t offset);

}  // namespace hwtest
