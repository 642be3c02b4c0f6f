#include "AppConfig.h"

#include <cstdio>

#include "SchemeEx.h"
#include "WinHandles.h"
#include "WindowsVersion.h"
#include "ZORACfg.h"

namespace talo {
namespace {

constexpr wchar_t kTaloKey[] = L"Software\\Korvex\\TALO";
constexpr wchar_t kTaloSection[] = L"TALOCfg";

// The process-wide values; TALO reads and changes them on its one user-interface thread.
int g_startFlag = 0;
LayoutSettings g_layout;
std::wstring g_hotKeyText;

// A REG_DWORD under the TALO key; created as initial when absent or of another type.
int ReadFlag(const wchar_t* name, DWORD initial) {
    UniqueKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kTaloKey, 0, nullptr, 0,
                        KEY_CREATE_SUB_KEY | KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return static_cast<int>(initial);
    DWORD type = 0, value = 0, size = sizeof(value);
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof(value))
        return static_cast<int>(value);
    RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&initial), sizeof(initial));
    return static_cast<int>(initial);
}

int WriteFlag(const wchar_t* name, DWORD value) {
    UniqueKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kTaloKey, 0, nullptr, 0,
                        KEY_CREATE_SUB_KEY | KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return 0;
    return RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value)) == ERROR_SUCCESS
               ? 1
               : 0;
}

// A layout value: below minimum (the failed read's -1 included) it becomes minimum; with
// a minimum of 0 only the failed read's -1 is replaced, by fallback.
int Bounded(const wchar_t* key, int minimum, int fallback) {
    int value = GetCfgInt(0, CfgFileName(), kTaloSection, key, 0);
    if (minimum > 0) return value < minimum ? minimum : value;
    return value == -1 ? fallback : value;
}

}  // namespace

const wchar_t* CfgFileName() {
    // The buffer every read of ZORACfg.ini passes on.
    static wchar_t name[64] = L"ZORACfg.ini";
    return name;
}

std::wstring CfgString(const std::wstring& file, const std::wstring& section, const std::wstring& key) {
    std::wstring value;
    if (!file.empty()) GetCfgString(file.c_str(), section.c_str(), key.c_str(), value);
    return value;
}

std::wstring Numbered(const wchar_t* prefix, int number) {
    wchar_t text[64];
    swprintf(text, 64, L"%ls%d", prefix, number);
    return text;
}

int GetCfgString(const wchar_t* file, const wchar_t* section, const wchar_t* key, std::wstring& out) {
    CZORACfg cfg;
    if (!cfg.Initialize(file)) return 0;
    wchar_t buffer[256] = L"";
    cfg.GetString(section, key, nullptr, buffer, 255);
    out = buffer;
    return 1;
}

int GetCfgInt(int mode, const wchar_t* file, const wchar_t* section, const wchar_t* key, int def) {
    if (mode == 0) {
        CZORACfg cfg;
        if (!cfg.Initialize(file)) return -1;
        return cfg.GetInt(section, key, 0);
    }
    if (mode == 1) {
        CZORAProfile profile;
        if (!profile.Initialize(file, nullptr)) return -1;
        return profile.GetInt(section, key, def);
    }
    return -1;
}

int PutProfileInt(const wchar_t* file, const wchar_t* section, const wchar_t* key, int value) {
    CZORAProfile profile;
    if (!profile.Initialize(file, nullptr)) return 0;
    return profile.PutInt(section, key, value) ? 1 : 0;
}

int DeleteProfileSection(const wchar_t* file, const wchar_t* section) {
    CZORAProfile profile;
    if (!profile.Initialize(file, nullptr)) return 0;
    return profile.PutString(section, nullptr, nullptr) ? 1 : 0;
}

std::wstring PowerSettingFile() { return CfgString(CfgFileName(), L"ZORACfg", L"PowerSetting"); }
std::wstring ProfileFile() { return CfgString(CfgFileName(), kTaloSection, L"SchemeSettings"); }
std::wstring EffectFile() { return CfgString(CfgFileName(), kTaloSection, L"EffectSettings"); }

int ReadStartFlag() { return ReadFlag(L"TALOStartFlag", 0); }

int SetStartFlag() {
    g_startFlag = 1;
    return WriteFlag(L"TALOStartFlag", 1);
}

int ReadDevShowFlag() { return ReadFlag(L"DevShowFlag", 1); }
int WriteDevShowFlag(int value) { return WriteFlag(L"DevShowFlag", static_cast<DWORD>(value)); }

int StartFlag() { return g_startFlag; }
void SetStartFlagValue(int value) { g_startFlag = value; }

int IsItemOsSupported(const wchar_t* item) {
    std::wstring settings = PowerSettingFile();
    int minimum = GetCfgInt(0, settings.c_str(), item, L"OSVerMin", 0);
    int maximum = GetCfgInt(0, settings.c_str(), item, L"OSVerMax", 0);
    int excluded = GetCfgInt(0, settings.c_str(), item, L"OSExclude", 0);
    // An unreadable file reads as no limits at all, like missing keys.
    if (minimum == -1 && maximum == -1 && excluded == -1) minimum = maximum = excluded = 0;
    if (minimum == 0 && maximum == 0 && excluded == 0) return 1;
    DWORD major = 0, minor = 0;
    if (!WindowsVersion(&major, &minor)) return 0;
    int version = static_cast<int>(major * 10 + minor);
    if (version == excluded) return 0;
    if (minimum == 0 && maximum == 0) return 1;
    if (version > maximum) return 0;
    return version >= minimum ? 1 : 0;
}

int IsItemSupported(const wchar_t* item) {
    std::wstring settings = PowerSettingFile();
    int status = GetCfgInt(0, settings.c_str(), item, L"SupportStatus", 0);
    return status != 0 && status != -1 ? 1 : 0;
}

const LayoutSettings& Layout() { return g_layout; }

void LoadLayoutSettings() {
    g_layout.maxNameLen = Bounded(L"MaxNameLen", 0, 32);
    g_layout.maxSchemeNum = Bounded(L"MaxSchemeNum", 0, 15);
    g_layout.mainDlgWidth = Bounded(L"MainDlgWidth", 610, 0);
    g_layout.effectItemHeight = Bounded(L"EffectItemHeight", 20, 0);
    g_layout.effectItemWidth = Bounded(L"EffectItemWidth", 160, 0);
    g_layout.schemeItemHeight = Bounded(L"SchemeItemHeight", 20, 0);
    g_layout.schemeItemWidth = Bounded(L"SchemeItemWidth", 150, 0);
    g_layout.staticSchemeNameWidth = Bounded(L"StaticSchemeNameWidth", 90, 0);
    g_layout.editDlgWidth = Bounded(L"EditDlgWidth", 610, 0);
    g_layout.batteryColumn[0] = Bounded(L"BatteryStatus1ColLPos", 27, 0);
    // Columns 2 to 4 are taken as read.
    g_layout.batteryColumn[1] = GetCfgInt(0, CfgFileName(), kTaloSection, L"BatteryStatus2ColLPos", 0);
    g_layout.batteryColumn[2] = GetCfgInt(0, CfgFileName(), kTaloSection, L"BatteryStatus3ColLPos", 0);
    g_layout.batteryColumn[3] = GetCfgInt(0, CfgFileName(), kTaloSection, L"BatteryStatus4ColLPos", 0);
}

const std::wstring& HotKeyText() { return g_hotKeyText; }
void LoadHotKeyText() { g_hotKeyText = CfgString(CfgFileName(), kTaloSection, L"DefaultHotKey"); }

}  // namespace talo
