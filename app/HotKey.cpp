#include "HotKey.h"

#include <cwchar>
#include <cwctype>

namespace talo {
namespace {

struct NamedValue {
    const wchar_t* name;
    UINT value;
};

constexpr NamedValue kModifiers[] = {{L"CTRL", MOD_CONTROL}, {L"SHIFT", MOD_SHIFT}, {L"ALT", MOD_ALT}};

// The 50 key names in their order: A..Z, then F1..F24.
constexpr NamedValue kKeys[] = {
    {L"A", 0x41},   {L"B", 0x42},   {L"C", 0x43},   {L"D", 0x44},   {L"E", 0x45},   {L"F", 0x46},
    {L"G", 0x47},   {L"H", 0x48},   {L"I", 0x49},   {L"J", 0x4A},   {L"K", 0x4B},   {L"L", 0x4C},
    {L"M", 0x4D},   {L"N", 0x4E},   {L"O", 0x4F},   {L"P", 0x50},   {L"Q", 0x51},   {L"R", 0x52},
    {L"S", 0x53},   {L"T", 0x54},   {L"U", 0x55},   {L"V", 0x56},   {L"W", 0x57},   {L"X", 0x58},
    {L"Y", 0x59},   {L"Z", 0x5A},   {L"F1", 0x70},  {L"F2", 0x71},  {L"F3", 0x72},  {L"F4", 0x73},
    {L"F5", 0x74},  {L"F6", 0x75},  {L"F7", 0x76},  {L"F8", 0x77},  {L"F9", 0x78},  {L"F10", 0x79},
    {L"F11", 0x7A}, {L"F12", 0x7B}, {L"F13", 0x7C}, {L"F14", 0x7D}, {L"F15", 0x7E}, {L"F16", 0x7F},
    {L"F17", 0x80}, {L"F18", 0x81}, {L"F19", 0x82}, {L"F20", 0x83}, {L"F21", 0x84}, {L"F22", 0x85},
    {L"F23", 0x86}, {L"F24", 0x87},
};
static_assert(sizeof(kKeys) / sizeof(kKeys[0]) == 50);

// A modifier's flag for the piece [begin, end), compared in upper case; 0 when unknown.
UINT ModifierOf(const wchar_t* begin, const wchar_t* end) {
    wchar_t upper[8];
    size_t length = static_cast<size_t>(end - begin);
    if (length == 0 || length >= 8) return 0;
    for (size_t i = 0; i < length; ++i) upper[i] = static_cast<wchar_t>(std::towupper(begin[i]));
    upper[length] = L'\0';
    for (const NamedValue& modifier : kModifiers)
        if (wcscmp(upper, modifier.name) == 0) return modifier.value;
    return 0;
}

UINT KeyOf(const wchar_t* name) {
    for (const NamedValue& key : kKeys)
        if (wcscmp(name, key.name) == 0) return key.value;
    return 0;
}

}  // namespace

int ParseHotKey(const wchar_t* text, UINT* modifiers, UINT* virtualKey) {
    if (text == nullptr || *text == L'\0' || modifiers == nullptr || virtualKey == nullptr) return 0;
    int parts = 1;
    for (const wchar_t* c = text; *c != L'\0'; ++c) parts += *c == L'+' ? 1 : 0;
    if (parts != 2 && parts != 3) return 0;
    UINT mods = 0;
    const wchar_t* piece = text;
    for (int i = 0; i < parts - 1; ++i) {
        const wchar_t* plus = wcschr(piece, L'+');
        UINT modifier = ModifierOf(piece, plus);
        if (modifier == 0) return 0;
        mods |= modifier;
        piece = plus + 1;
    }
    UINT key = KeyOf(piece);
    if (key == 0) return 0;
    *modifiers = mods;
    *virtualKey = key;
    return 1;
}

void RegisterQuickSwitchHotKey(HWND window, const wchar_t* text) {
    UINT modifiers = 0, virtualKey = 0;
    if (!ParseHotKey(text, &modifiers, &virtualKey)) return;
    RegisterHotKey(window, kQuickSwitchHotKeyId, modifiers, virtualKey);
}

}  // namespace talo
