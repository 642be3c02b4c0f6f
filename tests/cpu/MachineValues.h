#pragma once
// Values of the virtual notebook's hardware sections as the tests read and set them.
#include <windows.h>

#include <cwchar>
#include <string>

#include "MachineSupport.h"
#include "ZoraVnb.h"

namespace test {

// The key's text, or "(absent)".
inline std::wstring MachineText(const wchar_t* section, const wchar_t* key) {
    wchar_t value[256] = {};
    if (!VnbGetValue(FreshMachine::MachinePath().c_str(), section, key, value, 256)) return L"(absent)";
    return value;
}

// The key's number; 0 when absent.
inline unsigned long long MachineNumber(const wchar_t* section, const wchar_t* key) {
    return wcstoull(MachineText(section, key).c_str(), nullptr, 0);
}

inline bool SetMachineText(const wchar_t* section, const wchar_t* key, const std::wstring& value) {
    return VnbSetValue(FreshMachine::MachinePath().c_str(), section, key, value.c_str()) != FALSE;
}

inline bool SetMachineNumber(const wchar_t* section, const wchar_t* key, unsigned long long value) {
    wchar_t text[24];
    swprintf(text, 24, L"0x%llX", value);
    return SetMachineText(section, key, text);
}

// The last request a driver function received: "<size>:<bytes in hex>".
inline std::string LastRequest(int function) {
    std::wstring key = L"Function" + std::to_wstring(function);
    std::wstring text = MachineText(L"DriverRequests", key.c_str());
    return std::string(text.begin(), text.end());
}

}  // namespace test
