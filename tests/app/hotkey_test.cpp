// The quick switch's hotkey text as [TALOCfg] DefaultHotKey holds it: what it parses to,
// and what it refuses (nothing is registered for those).
#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>

#include "HotKey.h"

namespace {

constexpr UINT kUntouched = 0xdead;

TEST(TaloHotKey, TextParsesToModifiersAndKey) {
    const struct {
        const wchar_t* text;
        int ok;
        UINT modifiers, key;
    } cases[] = {
        {L"CTRL+ALT+F8", 1, MOD_CONTROL | MOD_ALT, VK_F8},
        {L"ctrl+shift+F9", 1, MOD_CONTROL | MOD_SHIFT, VK_F9},
        {L"Alt+A", 1, MOD_ALT, 'A'},
        {L"SHIFT+Z", 1, MOD_SHIFT, 'Z'},
        {L"CTRL+F1", 1, MOD_CONTROL, VK_F1},
        {L"ALT+F24", 1, MOD_ALT, VK_F24},
        {L"CTRL+CTRL+Q", 1, MOD_CONTROL, 'Q'},
        {L"CTRL+f9", 0, 0, 0},              // key names only in upper case
        {L"CTRL+a", 0, 0, 0},
        {L"CTRL+ALT+SHIFT+Q", 0, 0, 0},     // three modifiers
        {L"F8", 0, 0, 0},                   // no modifier
        {L"", 0, 0, 0},
        {L"CTRL+", 0, 0, 0},                // no key
        {L"+F8", 0, 0, 0},                  // empty modifier
        {L"WIN+F8", 0, 0, 0},               // unknown modifier
        {L"CTRL+F25", 0, 0, 0},
        {L"CTRL+F0", 0, 0, 0},
        {L"CTRL+1", 0, 0, 0},
        {L"CTRL+ F8", 0, 0, 0},             // blanks are part of the names
        {L"CTRL +F8", 0, 0, 0},
        {L"CONTROL+F8", 0, 0, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        UINT modifiers = kUntouched, key = kUntouched;
        EXPECT_EQ(cases[i].ok, talo::ParseHotKey(cases[i].text, &modifiers, &key)) << "case " << i;
        EXPECT_EQ(cases[i].ok ? cases[i].modifiers : kUntouched, modifiers) << "case " << i;
        EXPECT_EQ(cases[i].ok ? cases[i].key : kUntouched, key) << "case " << i;
    }
}

// The 50 key names, in the table's order, map to A..Z and F1..F24.
TEST(TaloHotKey, EveryKeyNameHasItsVirtualKey) {
    for (UINT vk = 'A'; vk <= 'Z'; ++vk) {
        wchar_t text[16];
        swprintf(text, 16, L"SHIFT+%lc", static_cast<wint_t>(vk));
        UINT modifiers = 0, key = 0;
        EXPECT_EQ(1, talo::ParseHotKey(text, &modifiers, &key)) << vk;
        EXPECT_EQ(vk, key) << vk;
    }
    for (UINT n = 1; n <= 24; ++n) {
        wchar_t text[16];
        swprintf(text, 16, L"SHIFT+F%u", n);
        UINT modifiers = 0, key = 0;
        EXPECT_EQ(1, talo::ParseHotKey(text, &modifiers, &key)) << n;
        EXPECT_EQ(VK_F1 + n - 1, key) << n;
    }
}

TEST(TaloHotKey, NullArgumentsAreRefused) {
    UINT modifiers = kUntouched, key = kUntouched;
    EXPECT_EQ(0, talo::ParseHotKey(nullptr, &modifiers, &key));
    EXPECT_EQ(0, talo::ParseHotKey(L"CTRL+A", nullptr, &key));
    EXPECT_EQ(0, talo::ParseHotKey(L"CTRL+A", &modifiers, nullptr));
    EXPECT_EQ(kUntouched, modifiers);
    EXPECT_EQ(kUntouched, key);
}

// Registered on the window under the quick switch's identifier: the combination is then
// taken for everyone else; an invalid text takes nothing.
TEST(TaloHotKey, RegistrationTakesTheCombinationOnlyForValidText) {
    const struct {
        const wchar_t* text;
        UINT modifiers, key;
        bool taken;
    } cases[] = {
        {L"CTRL+SHIFT+F11", MOD_CONTROL | MOD_SHIFT, VK_F11, true},
        {L"CTRL+SHIFT+f11", MOD_CONTROL | MOD_SHIFT, VK_F11, false},
        {L"CTRL+ALT+SHIFT+F11", MOD_CONTROL | MOD_ALT | MOD_SHIFT, VK_F11, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        HWND window = CreateWindowW(L"STATIC", L"hub", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, window) << "case " << i;
        talo::RegisterQuickSwitchHotKey(window, cases[i].text);
        BOOL mine = RegisterHotKey(nullptr, 1, cases[i].modifiers, cases[i].key);
        EXPECT_EQ(!cases[i].taken, mine != FALSE) << "case " << i;
        if (mine) UnregisterHotKey(nullptr, 1);
        EXPECT_EQ(cases[i].taken, UnregisterHotKey(window, talo::kQuickSwitchHotKeyId) != FALSE) << "case " << i;
        DestroyWindow(window);
    }
}

}  // namespace
