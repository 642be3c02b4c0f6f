#include "HwTestSupport.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "MachineSupport.h"
#include "TestSupport.h"
#include "ZoraVnb.h"

namespace hwtest {
namespace {
std::wstring Machine() { return test::FreshMachine::MachinePath(); }

DWORD Peek(DWORD space, DWORD address, DWORD length) {
    DWORD value = 0xDEADBEEF;
    if (!VnbPeekHw(Machine().c_str(), space, address, &value, length)) return 0xDEADBEEF;
    return length == 4 ? value : value & ((1u << (8 * length)) - 1);
}
}  // namespace

uint32_t Memory32(uint32_t address) { return Peek(0, address, 4); }
uint16_t Io16(uint16_t port) { return static_cast<uint16_t>(Peek(1, port, 2)); }

uint32_t Config32(int bus, int device, int function, int offset) {
    DWORD object = 0;
    if (!VnbGetPciDeviceObject(Machine().c_str(), bus, device, function, &object)) return 0xDEADBEEF;
    return Peek(2, (object << 16) | static_cast<DWORD>(offset), 4);
}

std::wstring ObjectName(int bus, int device, int function) {
    DWORD object = 0;
    if (!VnbGetPciDeviceObject(Machine().c_str(), bus, device, function, &object)) return L"(none)";
    wchar_t name[64];
    _snwprintf(name, 64, L"\\Device\\NTPNP_PCI%04lu", object);
    name[63] = L'\0';
    return name;
}

std::string MachineValue(const wchar_t* section, const wchar_t* key) {
    static wchar_t value[4096];
    if (!VnbGetValue(Machine().c_str(), section, key, value, 4096)) return "(missing)";
    return test::Narrow(value);
}

bool LastRequest(int function, size_t* size, std::string* bytes) {
    std::string text = MachineValue(L"DriverRequests", (L"Function" + std::to_wstring(function)).c_str());
    size_t colon = text.find(':');
    if (text == "(missing)" || colon == std::string::npos) return false;
    *size = static_cast<size_t>(strtoul(text.c_str(), nullptr, 10));
    bytes->clear();
    for (char c : text.substr(colon + 1))
        if (c != ' ') *bytes += c;
    return true;
}

uint32_t Field(const std::string& hexBytes, size_t offset, size_t size) {
    uint32_t value = 0;
    for (size_t i = 0; i < size; ++i) {
        if (2 * (offset + i) + 2 > hexBytes.size()) return 0xDEADBEEF;
        value |= static_cast<uint32_t>(strtoul(hexBytes.substr(2 * (offset + i), 2).c_str(), nullptr, 16)) << (8 * i);
    }
    return value;
}

std::wstring NameField(const std::string& hexBytes, size_t offset) {
    std::wstring name;
    for (size_t i = 0; i < 50; ++i) {
        wchar_t c = static_cast<wchar_t>(Field(hexBytes, offset + 2 * i, 2));
        if (!c) break;
        name += c;
    }
    return name;
}

CfgOverride::CfgOverride(const wchar_t* fileName) {
    std::wstring bin = test::ExeDir();
    m_path = bin.substr(0, bin.find_last_of(L'\\')) + L"\\cfg\\" + fileName;
    std::ifstream in(m_path.c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    m_original = text.str();
}

CfgOverride::~CfgOverride() {
    std::ofstream out(m_path.c_str(), std::ios::binary | std::ios::trunc);
    out << m_original;
}

void CfgOverride::Set(const wchar_t* section, const wchar_t* key, const wchar_t* value) {
    WritePrivateProfileStringW(section, key, value, m_path.c_str());
}

}  // namespace hwtest
