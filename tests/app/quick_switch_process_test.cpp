// The quick switch as a user meets it: TALO runs as its own process in a Wine virtual
// desktop on the virtual notebook, the hotkey is pressed there as keys, and the strip is
// read and driven through its windows: the slot buttons and labels, the arrow buttons,
// the arrow keys. What a choice does is read back from the machine: the active scheme,
// and the device the service switched for it.
#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "MachineSupport.h"
#include "SchemeEx.h"
#include "ServiceSupport.h"
#include "TaloProcess.h"
#include "TestSupport.h"
#include "ZoraPowerVariables.h"
#include "ZoraVnb.h"

namespace {

using namespace talo_test;
using test::Eventually;

// The strip's controls and size.
constexpr int kSlotBase = 5400;
constexpr int kLabelBase = 5600;
constexpr int kScrollLeft = 8001;
constexpr int kScrollRight = 8002;
constexpr int kStripWidth = 550;
constexpr int kStripHeight = 120;
// How far the strip rises above the bottom of the work area.
constexpr int kRiseHeight = 180;

std::wstring WindowText(HWND hwnd) {
    wchar_t text[512] = L"";
    GetWindowTextW(hwnd, text, 512);
    return text;
}

// On the desktop's thread: the keys of CTRL+ALT+F8 pressed and released, as a keyboard
// sends them.
bool PressHotKey() {
    const WORD keys[] = {VK_CONTROL, VK_MENU, VK_F8};
    INPUT input[6] = {};
    for (size_t i = 0; i < 3; ++i) {
        input[i].type = INPUT_KEYBOARD;
        input[i].ki.wVk = keys[i];
        input[5 - i].type = INPUT_KEYBOARD;
        input[5 - i].ki.wVk = keys[i];
        input[5 - i].ki.dwFlags = KEYEVENTF_KEYUP;
    }
    return SendInput(6, input, sizeof(INPUT)) == 6;
}

// What the strip shows: the names of its slots from left to right, and its arrows.
struct Shown {
    std::vector<std::wstring> names;
    bool left = false;
    bool right = false;
};

Shown Read(HWND strip) {
    Shown shown;
    for (int k = 0; HWND slot = GetDlgItem(strip, kSlotBase + k); ++k) {
        const std::wstring label = WindowText(GetDlgItem(strip, kLabelBase + k));
        // The button carries its scheme's name too (for screen readers).
        shown.names.push_back(label == WindowText(slot) ? label : L"(slot " + WindowText(slot) + L")");
    }
    // The button's own flag: IsWindowVisible, which walks the parents, answers false from a
    // thread of another desktop under Wine.
    shown.left = (GetWindowLongW(GetDlgItem(strip, kScrollLeft), GWL_STYLE) & WS_VISIBLE) != 0;
    shown.right = (GetWindowLongW(GetDlgItem(strip, kScrollRight), GWL_STYLE) & WS_VISIBLE) != 0;
    return shown;
}

std::string Describe(const std::vector<std::wstring>& names) {
    std::string text;
    for (const auto& name : names) text += "[" + test::Narrow(name) + "]";
    return text;
}

// TALO on a fresh machine whose battery stays as it is, for a user whose first run is
// done; the quick switch's hotkey is the installed CTRL+ALT+F8.
class QuickSwitchCase : public ::testing::Test {
protected:
    void SetUp() override {
        m_machine.emplace();
        ASSERT_TRUE(m_machine->Ok());
        ASSERT_TRUE(ReturningUser(m_machine->Path(), 0)) << GetLastError();
        m_cfg.Set(L"TALOCfg", L"DefaultHotKey", L"CTRL+ALT+F8");
        m_profile = ProfilePath();
        DeleteFileW(m_profile.c_str());
        ASSERT_FALSE(Talo().empty());
        int active = -1;
        m_schemes = Schemes(&active);
        ASSERT_GE(m_schemes.size(), 6u) << "the machine's schemes";
    }
    void TearDown() override {
        if (m_hub != nullptr) {
            PostMessageW(m_hub, WM_CLOSE, 0, 0);
            EXPECT_EQ(0, m_talo->Wait(20000));
        }
        RegDeleteTreeW(HKEY_CURRENT_USER, kTaloKey);
        DeleteFileW(m_profile.c_str());
    }

    void Start() {
        m_talo.emplace();
        ASSERT_TRUE(m_talo->Start(Talo()));
        const DWORD id = m_talo->Id();
        Eventually([&] { return m_desktop.Run([&] { m_hub = HubOf(id, 1000); }, true) && m_hub != nullptr; }, 60000);
        ASSERT_NE(nullptr, m_hub);
        // The hub answers before start-up is through: the hotkey is TALO's once nobody else
        // can take it.
        EXPECT_TRUE(Eventually([&] {
            bool free = false;
            m_desktop.Run([&] {
                free = RegisterHotKey(nullptr, 1, MOD_CONTROL | MOD_ALT, VK_F8) != FALSE;
                if (free) UnregisterHotKey(nullptr, 1);
            });
            return !free;
        }, 20000)) << "TALO holds no hotkey";
    }
    // Shows scheme i of the list in the strip (IfShow) with icon i, or not.
    void SetShown(size_t i, bool shown) {
        const std::wstring section = L"Scheme" + std::to_wstring(m_schemes[i]);
        WritePrivateProfileStringW(section.c_str(), L"IfShow", shown ? L"1" : L"0", m_profile.c_str());
        WritePrivateProfileStringW(section.c_str(), L"IconNum", std::to_wstring(i % 9).c_str(), m_profile.c_str());
    }
    // zoractl's scheme list: each scheme's index in enumeration order, and the active one's.
    std::vector<int> Schemes(int* active) {
        SchemeListing listing = ListSchemes();
        m_names = std::move(listing.names);
        *active = listing.active;
        return listing.indexes;
    }
    int Active() { return ListSchemes().active; }
    // zoractl says so when no service applied the scheme; the scheme is active all the same.
    void Activate(size_t i) {
        test::Run(test::ProgramPath(test::OwnArch(), L"zoractl.exe"), L"scheme activate " + std::to_wstring(m_schemes[i]));
        ASSERT_EQ(m_schemes[i], Active());
    }
    // Presses the hotkey and waits for the strip to have risen; null when it did not come.
    HWND OpenStrip() {
        bool pressed = false;
        m_desktop.Run([&] { pressed = PressHotKey(); });
        EXPECT_TRUE(pressed) << GetLastError();
        HWND strip = nullptr;
        Eventually([&] { return m_desktop.Run([&] { strip = VisibleDialogOf(m_talo->Id()); }) && strip != nullptr; },
                   10000);
        if (strip == nullptr) return nullptr;
        RECT work = {};
        m_desktop.Run([&] { SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0); });
        EXPECT_TRUE(Eventually([&] {
            RECT rect = {};
            GetWindowRect(strip, &rect);
            return rect.top == work.bottom - kRiseHeight;
        })) << "the strip does not rise";
        return strip;
    }

    std::optional<test::FreshMachine> m_machine;
    test::CfgOverride m_cfg{L"ZORACfg.ini"};
    test::WindowsVersionOf m_taloVersion{L"TALO.exe", L"winxp"};
    test::WindowsVersionOf m_zoractlVersion{L"zoractl.exe", L"winxp"};
    TaloDesktop m_desktop;
    std::optional<DesktopProcess> m_talo;
    HWND m_hub = nullptr;
    std::wstring m_profile;
    std::vector<int> m_schemes;
    std::vector<std::wstring> m_names;
};

// The hotkey brings up the strip, centred above the bottom edge, with the schemes flagged
// to show in the library's order, five at most, the active one in view; the arrows show
// where there is more, and the arrow keys and arrow buttons scroll. A second press opens
// no second strip; left alone, the strip goes by itself.
TEST_F(QuickSwitchCase, StripListsTheFlaggedSchemesScrollsAndGoesWhenLeftAlone) {
    const struct {
        bool shown[6];
        size_t active;
        std::vector<size_t> slots;  // the schemes in the slots, by their place in the list
        bool left, right;
        // After scrolling once each way (right first); empty: nothing to scroll.
        std::vector<size_t> scrolledRight;
    } cases[] = {
        // Three flagged: three slots, the right arrow's place still that of three slots.
        {{true, false, true, false, true, false}, 2, {0, 2, 4}, false, false, {}},
        // Six flagged, the first active: the first five.
        {{true, true, true, true, true, true}, 0, {0, 1, 2, 3, 4}, false, true, {1, 2, 3, 4, 5}},
        // Six flagged, the last active: the last five.
        {{true, true, true, true, true, true}, 5, {1, 2, 3, 4, 5}, true, false, {}},
    };
    ASSERT_NO_FATAL_FAILURE(Start());
    int unused = -1;
    Schemes(&unused);
    const std::vector<std::wstring> names = m_names;
    for (size_t c = 0; c < std::size(cases); ++c) {
        const auto& row = cases[c];
        for (size_t i = 0; i < 6; ++i) SetShown(i, row.shown[i]);
        ASSERT_NO_FATAL_FAILURE(Activate(row.active)) << "case " << c;
        HWND strip = OpenStrip();
        ASSERT_NE(nullptr, strip) << "case " << c << ": no strip";
        RECT rect = {}, work = {};
        GetWindowRect(strip, &rect);
        m_desktop.Run([&] { SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0); });
        EXPECT_EQ(kStripWidth, rect.right - rect.left) << "case " << c;
        EXPECT_EQ(kStripHeight, rect.bottom - rect.top) << "case " << c;
        EXPECT_EQ((work.left + work.right) / 2 - kStripWidth / 2, rect.left) << "case " << c;
        RECT client = {};
        GetClientRect(strip, &client);
        EXPECT_EQ(kStripWidth, client.right) << "case " << c << ": no frame";
        EXPECT_EQ(kStripHeight, client.bottom) << "case " << c << ": no frame";
        EXPECT_TRUE((GetWindowLongPtrW(strip, GWL_EXSTYLE) & WS_EX_LAYERED) != 0) << "case " << c;

        std::vector<std::wstring> expected;
        for (size_t i : row.slots) expected.push_back(names[i]);
        Shown shown = Read(strip);
        EXPECT_EQ(Describe(expected), Describe(shown.names)) << "case " << c;
        EXPECT_EQ(row.left, shown.left) << "case " << c;
        EXPECT_EQ(row.right, shown.right) << "case " << c;
        RECT right = {};
        GetWindowRect(GetDlgItem(strip, kScrollRight), &right);
        EXPECT_EQ(static_cast<LONG>(row.slots.size() * 100 + 30), right.left - rect.left) << "case " << c;

        // One strip, however often the hotkey is pressed.
        m_desktop.Run([] { PressHotKey(); });
        Sleep(500);
        int strips = 0;
        m_desktop.Run([&] { strips = CountVisibleDialogs(m_talo->Id()); });
        EXPECT_EQ(1, strips) << "case " << c;

        if (!row.scrolledRight.empty()) {
            // The right arrow key, then the left arrow button.
            std::vector<std::wstring> scrolled;
            for (size_t i : row.scrolledRight) scrolled.push_back(names[i]);
            PostMessageW(strip, WM_KEYDOWN, VK_RIGHT, 0);
            EXPECT_TRUE(Eventually([&] { return Describe(Read(strip).names) == Describe(scrolled); }))
                << "case " << c << ": " << Describe(Read(strip).names);
            EXPECT_TRUE(Read(strip).left) << "case " << c;
            EXPECT_FALSE(Read(strip).right) << "case " << c << ": nothing more to the right";
            PostMessageW(GetDlgItem(strip, kScrollLeft), BM_CLICK, 0, 0);
            EXPECT_TRUE(Eventually([&] { return Describe(Read(strip).names) == Describe(expected); }))
                << "case " << c << ": " << Describe(Read(strip).names);
            EXPECT_FALSE(Read(strip).left) << "case " << c;
            EXPECT_TRUE(Read(strip).right) << "case " << c;
        }

        // Left alone, it slides away and ends; nothing was switched.
        EXPECT_TRUE(Eventually([&] { return !IsWindow(strip); }, 20000)) << "case " << c << ": the strip stays";
        EXPECT_EQ(m_schemes[row.active], Active()) << "case " << c;
    }
}

// A click on a slot activates its scheme and ends the strip at once; the service applies
// the scheme, so the machine follows: the Wi-Fi the scheme switches off on mains goes off.
TEST_F(QuickSwitchCase, ChosenSchemeBecomesActiveAndTheMachineFollows) {
    if (test::ServiceProgram().empty()) GTEST_SKIP() << "the 64-bit build with ZORASrvc.exe is missing";
    test::CfgOverride settings{L"ZORASetting.ini"};
    settings.Set(L"Wifi", L"SupportStatus", L"1");
    CZORAProfile file;
    ASSERT_TRUE(file.Initialize(L"ZORAScheme.ini", nullptr));
    const std::wstring schemeFile = file.GetFullPath();
    DeleteFileW(schemeFile.c_str());
    test::RunningService service;
    ASSERT_TRUE(service.Start());

    for (size_t i = 0; i < 6; ++i) SetShown(i, i == 1 || i == 3 || i == 4);
    ASSERT_NO_FATAL_FAILURE(Activate(1));
    // Scheme 3 of the list, in the second slot, switches the Wi-Fi off on mains.
    const std::wstring section = L"Scheme " + std::to_wstring(m_schemes[3]);
    WritePrivateProfileStringW(section.c_str(), L"Wifi",
                               std::to_wstring(zora_vars::Pack(zora_vars::Pack(0, 1, 0), 0, 1)).c_str(),
                               schemeFile.c_str());
    CSchemeEx machine;
    machine.SetDeviceStatus(L"Wifi", 1);
    int status = -1;
    ASSERT_GE(machine.GetDeviceStatus(L"Wifi", &status), 0);
    ASSERT_EQ(1, status);

    ASSERT_NO_FATAL_FAILURE(Start());
    HWND strip = OpenStrip();
    ASSERT_NE(nullptr, strip);
    HWND slot = GetDlgItem(strip, kSlotBase + 1);
    ASSERT_EQ(m_names[3], WindowText(slot));
    PostMessageW(slot, BM_CLICK, 0, 0);
    EXPECT_TRUE(Eventually([&] { return !IsWindow(strip); }, 5000)) << "the strip stays after the choice";
    EXPECT_TRUE(Eventually([&] { return Active() == m_schemes[3]; }, 20000)) << Active();
    EXPECT_TRUE(Eventually([&] { return machine.GetDeviceStatus(L"Wifi", &status) >= 0 && status == 0; }, 15000))
        << "Wi-Fi is " << status;
    DeleteFileW(schemeFile.c_str());
}

}  // namespace
