// The quick switch's global hotkey: its text form ([TALOCfg] DefaultHotKey), parsed into
// modifiers and a virtual key, and registered on the hub window.
#pragma once

#include <windows.h>

namespace talo {

// The hotkey's identifier on the hub window.
constexpr int kQuickSwitchHotKeyId = 10999;

// "MOD+KEY" or "MOD+MOD+KEY": modifiers CTRL, SHIFT, ALT in any letter case, the key one
// of A..Z or F1..F24 exactly as written here (upper case). 1 with *modifiers (MOD_*
// OR-ed) and *virtualKey set; 0 for anything else, the outputs then untouched.
int ParseHotKey(const wchar_t* text, UINT* modifiers, UINT* virtualKey);

// Registers the hotkey text describes on window under kQuickSwitchHotKeyId. An invalid
// text registers nothing; the registration's own result is not looked at (another
// program may hold the combination).
void RegisterQuickSwitchHotKey(HWND window, const wchar_t* text);

}  // namespace talo
