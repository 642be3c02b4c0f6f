// The texts of the installed catalogue as a user reads them: the resource module's text in
// its language where the module has one, otherwise the installed file's own text. The
// module keys them by a stable scheme (TaloResIds.h): a power variable by its number, an
// option by its variable and place, an effect, a default scheme and a battery row by their
// place in their files.
#pragma once

#include <windows.h>

#include <string>

namespace talo {

// The module's string id, or fallback when the module lacks it (or id is 0).
std::wstring ModuleText(UINT id, const std::wstring& fallback);

enum class CatalogueText {
    kVariableName,         // key: the variable's name
    kDeviceName,           // key: the variable's name
    kEffectName,           // index: e of [Effect<e>]
    kEffectDescription,    // index: e
    kDefaultSchemeName,    // index: d of [Scheme <d>]
    kDefaultSchemeDescription,
    kBatteryBasicLabel,    // index: d of BADescription<d>
    kBatteryExtendedLabel, // index: d of BEADescription<d>
};

// The module's string id of a catalogue text: variable is the power variable's name for the
// variable and device names, index the place for the others. 0 for a name the catalogue of
// power variables does not know or a place beyond the module's room.
UINT CatalogueTextId(CatalogueText kind, const wchar_t* variable, int index);
// The option's string id ([variable] DescOption<option>); 0 as above.
UINT OptionTextId(const wchar_t* variable, int option);

// The text a user reads: the module's, or fallback (the installed file's text).
std::wstring CatalogueString(CatalogueText kind, const wchar_t* variable, int index, const std::wstring& fallback);
std::wstring OptionString(const wchar_t* variable, int option, const std::wstring& fallback);

}  // namespace talo
