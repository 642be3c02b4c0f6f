// The one module every template, string, icon, bitmap and cursor of TALO comes from:
// the resource module the application loads at start-up, the executable until then.
#pragma once

#include <windows.h>

#include <string>

namespace talo {

// The module lookups go through; never null (the executable when none was set).
HINSTANCE ResourceModule();
// Sets the module for every later lookup; null goes back to the executable.
void SetResourceModule(HINSTANCE module);

// The string with identifier id copied into buffer (at most size - 1 characters and a
// terminator); returns the characters copied, 0 when the string is missing.
int LoadResString(UINT id, wchar_t* buffer, int size);
// The string with identifier id (at most 511 characters); empty when it is missing or id is 0.
std::wstring ResString(UINT id);
// Shared images of the resource module; null when missing. Icons and cursors are shared
// (not to be destroyed); a bitmap belongs to the caller (DeleteObject).
HICON LoadResIcon(UINT id, int cx = 0, int cy = 0);
HCURSOR LoadResCursor(UINT id);
// A bitmap as a device-independent section (LR_CREATEDIBSECTION), so that colour keys stay exact.
HBITMAP LoadResBitmap(UINT id);

}  // namespace talo
