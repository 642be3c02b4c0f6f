// TALO's settings: the configuration operations over ZORACfg.ini, the power-setting file
// and the user's profile file, the registry flags under HKCU\Software\Korvex\TALO, and
// the process-wide values read once at start-up (layout, hotkey text).
// Everything here runs on TALO's user-interface thread.
#pragma once

#include <windows.h>

#include <string>

namespace talo {

// The product's name as [TALOCfg] Name may hold it, the title the dialogs carry instead
// (with the registered mark), and the form the skinned frame draws, with room for the
// mark it draws itself.
constexpr wchar_t kProductShortName[] = L"Lumenkeep";
constexpr wchar_t kProductLongName[] = L"Lumenkeep\u00AE";
constexpr wchar_t kProductMarkRoomName[] = L"Lumenkeep   ";

// "ZORACfg.ini": the name every read of the machine file passes to CZORACfg::Initialize.
const wchar_t* CfgFileName();

// Each operation makes its own store object and caches nothing.
// [section] key of file (a CZORACfg file) into out; 1, or 0 with out unchanged when the
// file cannot be initialised. A missing key gives an empty string.
int GetCfgString(const wchar_t* file, const wchar_t* section, const wchar_t* key, std::wstring& out);
// The same as a value: empty when the file is empty or cannot be read, or the key is missing.
std::wstring CfgString(const std::wstring& file, const std::wstring& section, const std::wstring& key);
// "<prefix><number>": the numbered sections and keys of the configuration files
// (Numbered(L"Item", 3) is "Item3", Numbered(L"Scheme ", 0) "Scheme 0").
std::wstring Numbered(const wchar_t* prefix, int number);
// mode 0: CZORACfg, GetInt(section, key, 0); mode 1: the user's CZORAProfile,
// GetInt(section, key, def). -1 when the file cannot be initialised or for another mode.
int GetCfgInt(int mode, const wchar_t* file, const wchar_t* section, const wchar_t* key, int def);
// The user's profile file; 1/0.
int PutProfileInt(const wchar_t* file, const wchar_t* section, const wchar_t* key, int value);
int DeleteProfileSection(const wchar_t* file, const wchar_t* section);

// Names read from ZORACfg.ini: [ZORACfg] PowerSetting, [TALOCfg] SchemeSettings (the
// per-user profile file), [TALOCfg] EffectSettings; empty when unreadable.
std::wstring PowerSettingFile();
std::wstring ProfileFile();
std::wstring EffectFile();

// HKCU\Software\Korvex\TALO: TALOStartFlag and DevShowFlag, created as 0 and 1 when absent
// or not a DWORD. SetStartFlag writes 1 and sets the process-wide start flag.
int ReadStartFlag();
int SetStartFlag();
int ReadDevShowFlag();
int WriteDevShowFlag(int value);
// The start flag as read at start-up (and set by SetStartFlag); 0: first run not done.
int StartFlag();
void SetStartFlagValue(int value);

// A power variable of the power-setting file: allowed on this Windows version by its
// OSVerMin/OSVerMax/OSExclude, and supported by the platform (SupportStatus nonzero).
int IsItemOsSupported(const wchar_t* item);
int IsItemSupported(const wchar_t* item);

// [TALOCfg] layout values with their bounds, read by LoadLayoutSettings at start-up.
struct LayoutSettings {
    int maxNameLen = 32;
    int maxSchemeNum = 15;
    int mainDlgWidth = 610;
    int editDlgWidth = 610;
    int effectItemHeight = 20;
    int effectItemWidth = 160;
    int schemeItemHeight = 20;
    int schemeItemWidth = 150;
    int staticSchemeNameWidth = 90;
    int batteryColumn[4] = {27, 150, 270, 400};
};
const LayoutSettings& Layout();
void LoadLayoutSettings();

// [TALOCfg] DefaultHotKey as read at start-up; empty: no hotkey.
const std::wstring& HotKeyText();
void LoadHotKeyText();

}  // namespace talo
