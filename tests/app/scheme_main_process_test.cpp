// The scheme main dialog and the display options as a user meets them: TALO runs as its own
// process in a Wine virtual desktop on the virtual notebook, the tray's default command
// opens the dialog, and it is read and driven through its windows (the scheme list, the
// value texts, the effect bars, the buttons, the boxes it asks with). What it did is read
// back from the scheme store (zoractl), the profile file, TALO's registry flags and the
// machine.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "MachineSupport.h"
#include "SchemeEx.h"
#include "ServiceSupport.h"
#include "TaloProcess.h"
#include "TaloResIds.h"
#include "TestSupport.h"
#include "ZoraPowerVariables.h"
#include "ZoraVnb.h"

namespace {

using namespace talo_test;
using test::Eventually;

// The tray menu's command that opens the dialog.
constexpr UINT kCmdSchemeMain = 32772;
constexpr wchar_t kTitle[] = L"Lumenkeep\u00AE";

std::wstring WindowText(HWND hwnd) {
    wchar_t text[512] = L"";
    GetWindowTextW(hwnd, text, 512);
    return text;
}

// The scheme list's choice (a drop-down list's window text is its own process's to read).
std::wstring Chosen(HWND list) {
    const LRESULT at = SendMessageW(list, CB_GETCURSEL, 0, 0);
    wchar_t text[512] = L"";
    if (at < 0 || SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(at), 0) >= 512) return L"(none)";
    SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(text));
    return text;
}

void Click(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

struct OtherSearch {
    DWORD processId;
    HWND except;
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK FindOtherWindow(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<OtherSearch*>(param);
    DWORD owner = 0;
    wchar_t cls[32] = L"";
    GetWindowThreadProcessId(hwnd, &owner);
    GetClassNameW(hwnd, cls, 32);
    if (owner == s->processId && hwnd != s->except && wcscmp(cls, s->className) == 0 && IsWindowVisible(hwnd)) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// TALO on a fresh machine whose battery stays as it is, on mains, for a user whose first run
// is done, with the device dialog off; the Windows version the fixture's parameter names
// (TALO and zoractl alike).
class SchemeMainCase : public ::testing::TestWithParam<const wchar_t*> {
protected:
    void SetUp() override {
        m_taloVersion.emplace(L"TALO.exe", GetParam());
        m_zoractlVersion.emplace(L"zoractl.exe", GetParam());
        m_machine.emplace();
        ASSERT_TRUE(m_machine->Ok());
        ASSERT_TRUE(ReturningUser(m_machine->Path(), 0)) << GetLastError();
        m_profile = ProfilePath();
        DeleteFileW(m_profile.c_str());
        CZORAProfile file;
        ASSERT_TRUE(file.Initialize(L"ZORAScheme.ini", nullptr));
        m_schemeFile = file.GetFullPath();
        DeleteFileW(m_schemeFile.c_str());
        ASSERT_FALSE(Talo().empty());
        int active = -1;
        ASSERT_GE(Schemes(&active).size(), 3u) << "the machine's schemes";
    }
    void TearDown() override {
        if (m_hub != nullptr) {
            PostMessageW(m_hub, WM_CLOSE, 0, 0);
            // A box the case left open ends with the process.
            if (m_talo->Wait(20000) != 0) ADD_FAILURE() << "TALO did not end by itself";
        }
        RegDeleteTreeW(HKEY_CURRENT_USER, kTaloKey);
        DeleteFileW(m_profile.c_str());
        DeleteFileW(m_schemeFile.c_str());
    }

    std::wstring Zoractl() const { return test::ProgramPath(test::OwnArch(), L"zoractl.exe"); }
    // zoractl's scheme list: each scheme's index in enumeration order (names in m_names),
    // and the active one's.
    std::vector<int> Schemes(int* active) {
        SchemeListing listing = ListSchemes();
        m_names = std::move(listing.names);
        *active = listing.active;
        return listing.indexes;
    }
    int Active() { return ListSchemes().active; }
    // The first scheme that is not the active one: its index and name.
    std::pair<int, std::wstring> Inactive() {
        int active = -1;
        const std::vector<int> schemes = Schemes(&active);
        for (size_t i = 0; i < schemes.size(); ++i)
            if (schemes[i] != active) return {schemes[i], m_names[i]};
        return {-1, L""};
    }
    bool Set(int scheme, const wchar_t* variable, bool ac, int value) {
        std::string output;
        return test::Run(Zoractl(), L"scheme set " + std::to_wstring(scheme) + L" \"" + variable + L"\" " +
                                        (ac ? L"ac " : L"dc ") + std::to_wstring(value),
                         &output) == 0;
    }

    void Start() {
        m_talo.emplace();
        ASSERT_TRUE(m_talo->Start(Talo()));
        const DWORD id = m_talo->Id();
        Eventually([&] { return m_desktop.Run([&] { m_hub = HubOf(id, 1000); }, true) && m_hub != nullptr; }, 60000);
        ASSERT_NE(nullptr, m_hub);
    }
    // The tray's default command; the dialog once it is on screen, null when it did not come.
    HWND OpenMain() {
        PostMessageW(m_hub, WM_COMMAND, kCmdSchemeMain, 0);
        HWND dialog = nullptr;
        Eventually([&] {
            m_desktop.Run([&] { dialog = VisibleDialogOf(m_talo->Id()); });
            return dialog != nullptr && GetDlgItem(dialog, IDC_MAIN_SCHEME_LIST) != nullptr;
        }, 20000);
        return dialog;
    }
    // A window of TALO on screen other than except (a box the dialog opened), or null.
    HWND Other(HWND except, const wchar_t* className = L"#32770", DWORD timeoutMs = 10000) {
        OtherSearch search = {m_talo->Id(), except, className, nullptr};
        Eventually([&] {
            search.found = nullptr;
            m_desktop.Run([&] { EnumWindows(FindOtherWindow, reinterpret_cast<LPARAM>(&search)); });
            return search.found != nullptr;
        }, timeoutMs);
        return search.found;
    }
    // Chooses the scheme by name in the list, as a selection with the mouse does.
    void Choose(HWND dialog, const std::wstring& name) {
        HWND list = GetDlgItem(dialog, IDC_MAIN_SCHEME_LIST);
        SendMessageW(list, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name.c_str()));
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_MAIN_SCHEME_LIST, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    }
    // Row i of the settings table whose name is the variable's display name.
    int Row(HWND dialog, const std::wstring& displayName) {
        for (int i = 0; HWND name = GetDlgItem(dialog, IDC_MAIN_ITEM_NAME_BASE + i); ++i)
            if (WindowText(name) == displayName) return i;
        return -1;
    }
    bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
    // zoractl's reading of a value; INT_MIN for one not set.
    int Get(int scheme, const wchar_t* variable, bool ac) {
        std::string output;
        if (test::Run(Zoractl(), L"scheme get " + std::to_wstring(scheme) + L" \"" + variable + L"\" " +
                                     (ac ? L"ac" : L"dc"),
                      &output) != 0 || output.empty() || output[0] == '-')
            return INT_MIN;
        return atoi(output.c_str());
    }
    // The scheme named name in zoractl's list; -1 for none.
    int SchemeNamed(const std::wstring& name) {
        int active = -1;
        const std::vector<int> schemes = Schemes(&active);
        for (size_t i = 0; i < schemes.size(); ++i)
            if (m_names[i] == name) return schemes[i];
        return -1;
    }
    // The editor a button of the main dialog opens.
    HWND OpenEditor(HWND main, int button) {
        Click(main, button);
        HWND editor = nullptr;
        Eventually([&] {
            editor = Other(main, L"#32770", 1000);
            return editor != nullptr && GetDlgItem(editor, IDC_EDIT_NAME) != nullptr;
        }, 20000);
        return editor;
    }
    // Page index of the editor (0 battery, 1 mains) shown, as a click on its tab does.
    HWND ShowPage(HWND editor, int index) {
        HWND sheet = GetDlgItem(editor, IDC_EDIT_SHEET);
        SendMessageW(sheet, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
        return reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    }
    // The list of the page's item with that display name.
    HWND ItemList(HWND page, const std::wstring& displayName) {
        for (int i = 0; HWND name = GetDlgItem(page, IDC_PAGE_ITEM_NAME_BASE + i); ++i)
            if (WindowText(name) == displayName) return GetDlgItem(page, IDC_PAGE_ITEM_LIST_BASE + i);
        return nullptr;
    }
    // Chooses text in the item's list as a user does: the choice, then its notification.
    void Pick(HWND page, const std::wstring& displayName, const std::wstring& text) {
        HWND list = ItemList(page, displayName);
        ASSERT_NE(nullptr, list) << test::Narrow(displayName);
        ASSERT_GE(SendMessageW(list, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str())), 0)
            << test::Narrow(displayName) << ": " << test::Narrow(text);
        SendMessageW(page, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    }
    // Every entry of the item's list, in order.
    std::vector<std::wstring> Entries(HWND page, const std::wstring& displayName) {
        std::vector<std::wstring> entries;
        HWND list = ItemList(page, displayName);
        const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
        for (LRESULT e = 0; e < count; ++e) {
            wchar_t text[256] = L"";
            if (SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(e), 0) < 256)
                SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(e), reinterpret_cast<LPARAM>(text));
            entries.emplace_back(text);
        }
        return entries;
    }
    // OK of the editor; whether it closed.
    bool EditorOk(HWND editor) {
        Click(editor, IDOK);
        return Eventually([&] { return !IsWindow(editor); }, 5000);
    }
    void CloseMain(HWND dialog) {
        Click(dialog, IDCANCEL);
        EXPECT_TRUE(Eventually([&] { return !IsWindow(dialog); }, 5000)) << "the dialog stays";
    }

    std::optional<test::WindowsVersionOf> m_taloVersion;
    std::optional<test::WindowsVersionOf> m_zoractlVersion;
    std::optional<test::FreshMachine> m_machine;
    test::CfgOverride m_cfg{L"ZORACfg.ini"};
    test::CfgOverride m_settings{L"ZORASetting.ini"};
    test::CfgOverride m_effects{L"ZORAEffect.ini"};
    TaloDesktop m_desktop;
    std::optional<DesktopProcess> m_talo;
    HWND m_hub = nullptr;
    std::wstring m_profile;
    std::wstring m_schemeFile;
    std::vector<std::wstring> m_names;
};

class SchemeMainXp : public SchemeMainCase {};

// The dialog opens on the active scheme with its name as the list's choice; a chosen scheme
// shows its values in words (a time-out of 300 s, a USB port switched off, the processor
// maximum by its nearest option) and its effect bars as the effect file weighs its options.
TEST_P(SchemeMainCase, StartsOnTheActiveSchemeAndShowsAChosenOnesValuesInWordsAndWeights) {
    const bool vista = wcscmp(GetParam(), L"vista") == 0;
    // Two effects weighing the Wi-Fi alone, one for it to be on, one against.
    m_effects.Set(L"NormalSettings", L"Number", L"2");
    const wchar_t* effects[][4] = {{L"Effect0", L"Battery Life", L"Wifi", L"3"}, {L"Effect1", L"Quietness", L"Wifi", L"-2"}};
    for (const auto& effect : effects) {
        m_effects.Set(effect[0], L"Name", effect[1]);
        m_effects.Set(effect[0], L"Number", L"1");
        m_effects.Set(effect[0], L"OptionDesc0", effect[2]);
        m_effects.Set(effect[0], L"OptionVal0", effect[3]);
    }
    m_settings.Set(L"Wifi", L"SupportStatus", L"1");
    m_settings.Set(L"USBPort 3", L"SupportStatus", L"1");
    const auto [scheme, name] = Inactive();
    ASSERT_GE(scheme, 0);
    ASSERT_TRUE(Set(scheme, L"MonitorOffTimeOut", true, 300));
    ASSERT_TRUE(Set(scheme, L"USBPort 3", false, 1));
    ASSERT_TRUE(Set(scheme, L"Wifi", true, 1));   // on: option 0
    ASSERT_TRUE(Set(scheme, L"Wifi", false, 0));  // off: option 1

    const struct {
        const char* what;
        std::vector<std::pair<const wchar_t*, const wchar_t*>> options;  // ValueOption<d>, DescOption<d>
        int shown;  // the option
    } processor[] = {
        {"the installed options, from 100 down: 90", {}, 1},
        {"options 50, 75, 100: 75 (12 away; 100 is 13)", {{L"50", L"50%"}, {L"75", L"75%"}, {L"100", L"100%"}}, 1},
    };
    int active = -1;
    Schemes(&active);
    ASSERT_NO_FATAL_FAILURE(Start());
    for (size_t c = 0; c < (vista ? std::size(processor) : 1); ++c) {
        if (vista) {
            // 87 is stored while the catalogue offers it, then the case's options are put in.
            m_settings.Set(L"CpuSpeedMax", L"OptionNumber", L"14");
            m_settings.Set(L"CpuSpeedMax", L"ValueOption13", L"87");
            ASSERT_TRUE(Set(scheme, L"CpuSpeedMax", true, 87)) << "case " << c;
            m_settings.Set(L"CpuSpeedMax", L"OptionNumber", L"13");
            m_settings.Set(L"CpuSpeedMax", L"ValueOption13", nullptr);
            const auto& options = processor[c].options;
            if (!options.empty()) m_settings.Set(L"CpuSpeedMax", L"OptionNumber", std::to_wstring(options.size()).c_str());
            for (size_t d = 0; d < options.size(); ++d) {
                m_settings.Set(L"CpuSpeedMax", (L"ValueOption" + std::to_wstring(d)).c_str(), options[d].first);
                m_settings.Set(L"CpuSpeedMax", (L"DescOption" + std::to_wstring(d)).c_str(), options[d].second);
            }
        }
        HWND dialog = OpenMain();
        ASSERT_NE(nullptr, dialog) << "case " << c;
        EXPECT_EQ(kTitle, WindowText(dialog));
        HWND list = GetDlgItem(dialog, IDC_MAIN_SCHEME_LIST);
        EXPECT_EQ(static_cast<LRESULT>(m_names.size()), SendMessageW(list, CB_GETCOUNT, 0, 0)) << "case " << c;
        const std::vector<int> schemes = Schemes(&active);
        size_t activeAt = 0;
        while (activeAt + 1 < schemes.size() && schemes[activeAt] != active) ++activeAt;
        EXPECT_EQ(m_names[activeAt], Chosen(list)) << "case " << c;
        EXPECT_FALSE(Enabled(dialog, IDC_MAIN_ACTIVATE)) << "case " << c << ": the active scheme";
        EXPECT_FALSE(Enabled(dialog, IDC_MAIN_EDIT)) << "case " << c;
        EXPECT_FALSE(Enabled(dialog, IDC_MAIN_DELETE)) << "case " << c;

        Choose(dialog, name);
        EXPECT_EQ(name, Chosen(list)) << "case " << c;
        EXPECT_TRUE(Enabled(dialog, IDC_MAIN_ACTIVATE)) << "case " << c;
        const std::wstring maximum =
            ModuleString(IDS_OPTION_TEXT(zora_vars::CpuSpeedMax, processor[c].shown));
        const struct {
            const wchar_t* displayName;
            int valueBase;
            const wchar_t* text;
        } values[] = {
            {L"Turn off display", IDC_MAIN_ITEM_AC_VALUE_BASE, L"5 minutes"},
            {L"USB port 3", IDC_MAIN_ITEM_DC_VALUE_BASE, L"Off"},
            {L"Wireless LAN", IDC_MAIN_ITEM_AC_VALUE_BASE, L"On"},
            {L"Wireless LAN", IDC_MAIN_ITEM_DC_VALUE_BASE, L"Off"},
            // The module's text of the option's place (it names the installed options).
            {L"Maximum processor state", IDC_MAIN_ITEM_AC_VALUE_BASE, vista ? maximum.c_str() : nullptr},
        };
        for (const auto& value : values) {
            const int row = Row(dialog, value.displayName);
            if (value.text == nullptr) {
                EXPECT_EQ(-1, row) << "case " << c << ": XP has no " << test::Narrow(value.displayName);
                continue;
            }
            ASSERT_GE(row, 0) << "case " << c << ": no row " << test::Narrow(value.displayName);
            EXPECT_EQ(value.text, WindowText(GetDlgItem(dialog, value.valueBase + row)))
                << "case " << c << ": " << test::Narrow(value.displayName);
        }
        // Battery Life, weight 3 on the Wi-Fi's two options: range 0 .. 6, the option off
        // (1) gives (1 + 1) x 3 on battery: 100; its mains bar gives way to a text.
        // Quietness, weight -2: range -6 .. -2; on mains the option on (0) gives -2: 100,
        // on battery the option off -4: 50.
        const struct {
            int bar;
            LRESULT position;
        } bars[] = {
            {IDC_MAIN_EFFECT_DC_BAR_BASE + 0, 100},
            {IDC_MAIN_EFFECT_AC_BAR_BASE + 0, 0},
            {IDC_MAIN_EFFECT_AC_BAR_BASE + 1, 100},
            {IDC_MAIN_EFFECT_DC_BAR_BASE + 1, 50},
        };
        for (const auto& bar : bars)
            EXPECT_EQ(bar.position, SendMessageW(GetDlgItem(dialog, bar.bar), PBM_GETPOS, 0, 0))
                << "case " << c << ", bar " << bar.bar;
        EXPECT_EQ(L"Battery Life", WindowText(GetDlgItem(dialog, IDC_MAIN_EFFECT_NAME_BASE + 0))) << "case " << c;
        CloseMain(dialog);
        EXPECT_EQ(active, Active()) << "case " << c << ": Cancel switches nothing";
    }
}

// Where the system allows no hibernation, the row of hibernation shows "-" on both sources.
// The dialog fits the work area: rows that would not fit scroll into the settings table.
TEST_P(SchemeMainCase, HibernationNotAllowedShowsADashInBothColumns) {
    test::SetMachineValue(L"PowerProfile", L"HibernateAllowed", L"0");
    ASSERT_NO_FATAL_FAILURE(Start());
    HWND dialog = OpenMain();
    ASSERT_NE(nullptr, dialog);
    RECT rect = {}, work = {};
    GetWindowRect(dialog, &rect);
    m_desktop.Run([&] { SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0); });
    EXPECT_GE(rect.top, work.top);
    EXPECT_LE(rect.bottom, work.bottom);
    auto shown = [&](int row) {
        return (GetWindowLongW(GetDlgItem(dialog, IDC_MAIN_ITEM_NAME_BASE + row), GWL_STYLE) & WS_VISIBLE) != 0;
    };
    int rows = 0;
    while (GetDlgItem(dialog, IDC_MAIN_ITEM_NAME_BASE + rows) != nullptr) ++rows;
    ASSERT_GT(rows, 30);
    HWND scroll = GetDlgItem(dialog, IDC_MAIN_ITEM_SCROLL);
    ASSERT_NE(nullptr, scroll) << "all " << rows << " rows on a 768-pixel screen";
    EXPECT_TRUE(shown(0));
    EXPECT_FALSE(shown(rows - 1));
    SendMessageW(dialog, WM_VSCROLL, SB_BOTTOM, reinterpret_cast<LPARAM>(scroll));
    EXPECT_FALSE(shown(0));
    EXPECT_TRUE(shown(rows - 1));
    SendMessageW(dialog, WM_VSCROLL, SB_TOP, reinterpret_cast<LPARAM>(scroll));
    EXPECT_TRUE(shown(0));
    const int row = Row(dialog, L"System hibernates");
    ASSERT_GE(row, 0);
    EXPECT_EQ(L"-", WindowText(GetDlgItem(dialog, IDC_MAIN_ITEM_AC_VALUE_BASE + row)));
    EXPECT_EQ(L"-", WindowText(GetDlgItem(dialog, IDC_MAIN_ITEM_DC_VALUE_BASE + row)));
    const int standby = Row(dialog, L"System standby");
    ASSERT_GE(standby, 0);
    EXPECT_NE(L"-", WindowText(GetDlgItem(dialog, IDC_MAIN_ITEM_AC_VALUE_BASE + standby)));
    CloseMain(dialog);
}

// Delete asks first: Cancel keeps the scheme, OK deletes it and says so (or says that the
// system refused, for one of the system's own schemes), and the list starts again on the active
// scheme. The active scheme and the product's own ones cannot be deleted, by their button
// or by the command.
TEST_P(SchemeMainCase, DeleteAsksFirstAndIsRefusedForTheActiveAndTheDefaultSchemes) {
    int active = -1;
    std::string output;
    ASSERT_EQ(0, test::Run(Zoractl(), L"scheme create Travel --from " + std::to_wstring(Active()), &output)) << output;
    const std::vector<int> schemes = Schemes(&active);
    const std::vector<std::wstring> names = m_names;
    size_t activeAt = 0, created = 0;
    std::vector<size_t> system;  // the system's own, not active
    for (size_t i = 0; i < schemes.size(); ++i) {
        if (schemes[i] == active) activeAt = i;
        else if (names[i] == L"Travel") created = i;
        else system.push_back(i);
    }
    ASSERT_EQ(L"Travel", names[created]);
    ASSERT_GE(system.size(), 2u);
    // One of the system's schemes is marked as one of the product's own.
    WritePrivateProfileStringW((L"Scheme" + std::to_wstring(schemes[system[0]])).c_str(), L"IfDefault", L"1",
                               m_profile.c_str());
    ASSERT_NO_FATAL_FAILURE(Start());
    HWND dialog = OpenMain();
    ASSERT_NE(nullptr, dialog);
    HWND list = GetDlgItem(dialog, IDC_MAIN_SCHEME_LIST);

    for (size_t refused : {activeAt, system[0]}) {
        Choose(dialog, names[refused]);
        EXPECT_FALSE(Enabled(dialog, IDC_MAIN_DELETE)) << test::Narrow(names[refused]);
        EXPECT_FALSE(Enabled(dialog, IDC_MAIN_EDIT)) << test::Narrow(names[refused]);
        Click(dialog, IDC_MAIN_DELETE);
        EXPECT_EQ(nullptr, Other(dialog, L"#32770", 1500)) << test::Narrow(names[refused]) << ": a box came";
        EXPECT_EQ(schemes.size(), Schemes(&active).size()) << test::Narrow(names[refused]);
    }

    const struct {
        size_t scheme;
        int button;
        UINT said;  // 0: nothing
        size_t left;
    } cases[] = {
        {created, IDCANCEL, 0, schemes.size()},
        {system[1], IDOK, IDS_DELETE_FAILED, schemes.size()},
        {created, IDOK, IDS_DELETE_DONE, schemes.size() - 1},
    };
    for (size_t c = 0; c < std::size(cases); ++c) {
        Choose(dialog, names[cases[c].scheme]);
        EXPECT_TRUE(Enabled(dialog, IDC_MAIN_DELETE)) << "case " << c;
        Click(dialog, IDC_MAIN_DELETE);
        HWND confirm = Other(dialog);
        ASSERT_NE(nullptr, confirm) << "case " << c << ": no question";
        EXPECT_EQ(schemes.size(), Schemes(&active).size()) << "case " << c << ": deleted before the answer";
        Click(confirm, cases[c].button);
        EXPECT_TRUE(Eventually([&] { return !IsWindow(confirm); }, 5000)) << "case " << c;
        if (cases[c].said != 0) {
            HWND box = Other(dialog);
            ASSERT_NE(nullptr, box) << "case " << c << ": nothing said";
            EXPECT_EQ(kTitle, WindowText(box)) << "case " << c;
            // The message box's text is its static without an identifier.
            EXPECT_EQ(ModuleString(cases[c].said), WindowText(GetDlgItem(box, 0xFFFF))) << "case " << c;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            EXPECT_TRUE(Eventually([&] { return !IsWindow(box); }, 5000)) << "case " << c;
            EXPECT_TRUE(Eventually([&] { return Chosen(list) == names[activeAt]; }, 5000))
                << "case " << c << ": " << test::Narrow(Chosen(list));
        }
        EXPECT_EQ(cases[c].left, Schemes(&active).size()) << "case " << c;
        EXPECT_EQ(static_cast<LRESULT>(cases[c].left), SendMessageW(list, CB_GETCOUNT, 0, 0)) << "case " << c;
    }
    CloseMain(dialog);
}

// New with MaxSchemeNum schemes present shows the warning and no editor.
TEST_P(SchemeMainXp, NewAtTheSchemeLimitWarns) {
    int active = -1;
    const std::vector<int> schemes = Schemes(&active);
    m_cfg.Set(L"TALOCfg", L"MaxSchemeNum", std::to_wstring(schemes.size()).c_str());
    ASSERT_NO_FATAL_FAILURE(Start());
    HWND dialog = OpenMain();
    ASSERT_NE(nullptr, dialog);
    Click(dialog, IDC_MAIN_NEW);
    HWND warning = Other(dialog);
    ASSERT_NE(nullptr, warning) << "no warning";
    EXPECT_EQ(kTitle, WindowText(warning));
    EXPECT_EQ(ModuleString(IDS_TOO_MANY_SCHEMES), WindowText(GetDlgItem(warning, IDC_MESSAGE_TEXT)));
    Click(warning, IDOK);
    EXPECT_TRUE(Eventually([&] { return !IsWindow(warning); }, 5000));
    EXPECT_EQ(schemes.size(), Schemes(&active).size());
    CloseMain(dialog);
}

// Activate makes the shown scheme active and the service applies it: the Wi-Fi the scheme
// switches off on mains goes off. With the device dialog on, it asks first; OK closes
// the main dialog after activating a scheme that is not active.
TEST_P(SchemeMainCase, ActivateReachesTheServiceAndTheMachineFollows) {
    if (test::ServiceProgram().empty()) GTEST_SKIP() << "the 64-bit build with ZORASrvc.exe is missing";
    m_settings.Set(L"Wifi", L"SupportStatus", L"1");
    test::RunningService service;
    ASSERT_TRUE(service.Start());
    int active = -1;
    const std::vector<int> schemes = Schemes(&active);
    const std::vector<std::wstring> names = m_names;
    std::vector<size_t> others;
    for (size_t i = 0; i < schemes.size(); ++i)
        if (schemes[i] != active) others.push_back(i);
    ASSERT_GE(others.size(), 2u);
    // Both switch the Wi-Fi off on mains.
    for (size_t i : others)
        ASSERT_TRUE(Set(schemes[i], L"Wifi", true, 0)) << i;
    CSchemeEx machine;
    ASSERT_NO_FATAL_FAILURE(Start());

    const struct {
        int devShowFlag;
        int button;  // Activate, or OK (which then closes)
    } cases[] = {{0, IDC_MAIN_ACTIVATE}, {1, IDOK}};
    for (size_t c = 0; c < std::size(cases); ++c) {
        const size_t target = others[c];
        SetTaloFlag(L"DevShowFlag", static_cast<DWORD>(cases[c].devShowFlag));
        machine.SetDeviceStatus(L"Wifi", 1);
        HWND dialog = OpenMain();
        ASSERT_NE(nullptr, dialog) << "case " << c;
        Choose(dialog, names[target]);
        Click(dialog, cases[c].button);
        if (cases[c].devShowFlag == 1) {
            HWND devices = Other(dialog);
            ASSERT_NE(nullptr, devices) << "case " << c << ": no device dialog";
            ASSERT_NE(nullptr, GetDlgItem(devices, IDC_DEVICE_LIST)) << "case " << c;
            EXPECT_NE(schemes[target], Active()) << "case " << c << ": switched before the device dialog";
            Click(devices, IDOK);
        }
        EXPECT_TRUE(Eventually([&] { return Active() == schemes[target]; }, 20000)) << "case " << c;
        int status = -1;
        EXPECT_TRUE(Eventually([&] { return machine.GetDeviceStatus(L"Wifi", &status) >= 0 && status == 0; }, 15000))
            << "case " << c << ": Wi-Fi is " << status;
        if (cases[c].button == IDOK) {
            EXPECT_TRUE(Eventually([&] { return !IsWindow(dialog); }, 5000)) << "case " << c;
        } else {
            EXPECT_FALSE(Enabled(dialog, IDC_MAIN_ACTIVATE)) << "case " << c << ": now the active scheme";
            CloseMain(dialog);
        }
    }
}

// The tray asking again while the dialog is open brings that one forward, centred again:
// there is never a second.
TEST_P(SchemeMainXp, SecondOpenBringsTheFirstForward) {
    ASSERT_NO_FATAL_FAILURE(Start());
    HWND dialog = OpenMain();
    ASSERT_NE(nullptr, dialog);
    RECT centred = {};
    GetWindowRect(dialog, &centred);
    SetWindowPos(dialog, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    PostMessageW(m_hub, WM_COMMAND, kCmdSchemeMain, 0);
    EXPECT_TRUE(Eventually([&] {
        RECT now = {};
        GetWindowRect(dialog, &now);
        return now.left == centred.left && now.top == centred.top;
    }, 10000)) << "not brought forward";
    EXPECT_EQ(nullptr, Other(dialog, L"#32770", 1000)) << "a second dialog";
    CloseMain(dialog);
}

// The display options list every scheme with its quick-switch flag and the device
// dialog's flag; OK stores the ticks as IfShow and DevShowFlag, Cancel nothing.
TEST_P(SchemeMainXp, OptionsStoreTheQuickSwitchFlagsAndTheDeviceDialogFlag) {
    int active = -1;
    const std::vector<int> schemes = Schemes(&active);
    const std::vector<std::wstring> names = m_names;
    ASSERT_GE(schemes.size(), 3u);
    for (size_t i = 0; i < schemes.size(); ++i)
        WritePrivateProfileStringW((L"Scheme" + std::to_wstring(schemes[i])).c_str(), L"IfShow", i == 0 ? L"0" : L"1",
                                   m_profile.c_str());
    SetTaloFlag(L"DevShowFlag", 1);
    ASSERT_NO_FATAL_FAILURE(Start());
    HWND dialog = OpenMain();
    ASSERT_NE(nullptr, dialog);

    const struct {
        int button;
        std::vector<size_t> toggle;  // rows whose tick is turned over
        bool ask;
        std::vector<int> ifShowAfter;  // of schemes 0, 1, 2
        int devShowFlagAfter;
    } cases[] = {
        {IDCANCEL, {0, 1}, false, {0, 1, 1}, 1},
        {IDOK, {0, 2}, false, {1, 1, 0}, 0},
        {IDOK, {}, true, {1, 1, 0}, 1},
    };
    for (size_t c = 0; c < std::size(cases); ++c) {
        Click(dialog, IDC_MAIN_OPTIONS);
        HWND options = Other(dialog);
        ASSERT_NE(nullptr, options) << "case " << c;
        HWND hotKey = GetDlgItem(options, IDC_OPTIONS_HOTKEY_LABEL);
        EXPECT_NE(std::wstring::npos, WindowText(hotKey).find(L"CTRL+ALT+F8).")) << "case " << c;
        RemoteListView list(GetDlgItem(options, IDC_OPTIONS_SCHEME_LIST), m_talo->Id());
        ASSERT_TRUE(list.Ok()) << "case " << c;
        ASSERT_EQ(static_cast<int>(schemes.size()), list.Count()) << "case " << c;
        for (int row = 0; row < list.Count(); ++row) {
            EXPECT_EQ(names[static_cast<size_t>(row)], list.Text(row, 1)) << "case " << c << ", row " << row;
            EXPECT_EQ(ProfileInt(schemes[static_cast<size_t>(row)], L"IfShow") == 1, list.Checked(row))
                << "case " << c << ", row " << row;
        }
        EXPECT_EQ(TaloFlag(L"DevShowFlag") == 1 ? BST_CHECKED : BST_UNCHECKED,
                  SendDlgItemMessageW(options, IDC_OPTIONS_DEVICE_ASK, BM_GETCHECK, 0, 0))
            << "case " << c;
        for (size_t row : cases[c].toggle) list.SetCheck(static_cast<int>(row), !list.Checked(static_cast<int>(row)));
        SendDlgItemMessageW(options, IDC_OPTIONS_DEVICE_ASK, BM_SETCHECK, cases[c].ask ? BST_CHECKED : BST_UNCHECKED, 0);
        Click(options, cases[c].button);
        EXPECT_TRUE(Eventually([&] { return !IsWindow(options); }, 5000)) << "case " << c;
        for (size_t i = 0; i < cases[c].ifShowAfter.size(); ++i)
            EXPECT_EQ(cases[c].ifShowAfter[i], ProfileInt(schemes[i], L"IfShow")) << "case " << c << ", scheme " << i;
        EXPECT_EQ(cases[c].devShowFlagAfter, TaloFlag(L"DevShowFlag")) << "case " << c;
    }
    CloseMain(dialog);
}

// Help opens the compiled help file of the resource module's language in HTML Help's
// window (its panes stay empty under Wine, which has no HTML engine).
TEST_P(SchemeMainXp, HelpOpensTheFileOfTheModulesLanguage) {
    const struct {
        const wchar_t* module;
        const wchar_t* caption;
    } cases[] = {{L"TALORes.dll", L"Lumenkeep Help"}, {L"TALOResDE.dll", L"Lumenkeep-Hilfe"}};
    for (size_t c = 0; c < std::size(cases); ++c) {
        m_cfg.Set(L"TALOCfg", L"TALOResource", cases[c].module);
        ASSERT_NO_FATAL_FAILURE(Start());
        HWND dialog = OpenMain();
        ASSERT_NE(nullptr, dialog) << "case " << c;
        Click(dialog, IDC_SCHEME_HELP);
        HWND help = Other(dialog, L"HH Parent", 20000);
        ASSERT_NE(nullptr, help) << "case " << c << ": no help window";
        EXPECT_EQ(cases[c].caption, WindowText(help)) << "case " << c;
        PostMessageW(help, WM_CLOSE, 0, 0);
        EXPECT_TRUE(Eventually([&] { return !IsWindow(help); }, 5000)) << "case " << c;
        CloseMain(dialog);
        PostMessageW(m_hub, WM_CLOSE, 0, 0);
        EXPECT_EQ(0, m_talo->Wait(20000)) << "case " << c;
        m_hub = nullptr;
    }
}

// New from the editor: names it refuses (empty, over MaxNameLen or the system's shorter
// limit, an existing one, OK before the mains page was shown) are said in the status line
// and create nothing. A name of the longest length, a value changed on each page: the scheme holds exactly those,
// the catalogue's defaults elsewhere, and the lists follow each other (hibernation after
// standby or never, the minimum processor state not above the maximum).
TEST_P(SchemeMainCase, NewSchemeFromTheEditorHoldsTheChosenValuesAndTheDefaults) {
    const bool vista = wcscmp(GetParam(), L"vista") == 0;
    int active = -1;
    const size_t before = Schemes(&active).size();
    const std::wstring existing = m_names[0];
    ASSERT_NO_FATAL_FAILURE(Start());
    HWND dialog = OpenMain();
    ASSERT_NE(nullptr, dialog);
    HWND editor = OpenEditor(dialog, IDC_MAIN_NEW);
    ASSERT_NE(nullptr, editor) << "no editor";
    EXPECT_EQ(kTitle, WindowText(editor));
    EXPECT_TRUE(Enabled(editor, IDC_EDIT_NAME));
    HWND name = GetDlgItem(editor, IDC_EDIT_NAME);
    // MaxNameLen (32), or the 29 characters XP keeps.
    const std::wstring longest(vista ? 32 : 29, L'x');
    const struct {
        std::wstring name;
        UINT said;
    } refused[] = {
        {L"", IDS_NAME_EMPTY},
        {longest + L"y", IDS_NAME_TOO_LONG},
        {existing, IDS_NAME_EXISTS},
        {longest, IDS_AC_PAGE_UNSEEN},
    };
    for (const auto& c : refused) {
        SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(c.name.c_str()));
        Click(editor, IDOK);
        EXPECT_TRUE(Eventually([&] { return WindowText(GetDlgItem(editor, IDC_EDIT_STATUS)) == ModuleString(c.said); }, 5000))
            << test::Narrow(c.name) << ": " << test::Narrow(WindowText(GetDlgItem(editor, IDC_EDIT_STATUS)));
        EXPECT_TRUE(IsWindow(editor)) << test::Narrow(c.name);
        EXPECT_EQ(before, Schemes(&active).size()) << test::Narrow(c.name) << ": created";
    }

    HWND dc = ShowPage(editor, 0);
    ASSERT_NO_FATAL_FAILURE(Pick(dc, L"Turn off display", L"3 minutes"));
    HWND ac = ShowPage(editor, 1);
    ASSERT_NE(nullptr, ac);
    ASSERT_NE(dc, ac);
    // Standby 30 minutes leaves hibernation after it or never, the first of them chosen;
    // standby never chooses hibernation never.
    ASSERT_NO_FATAL_FAILURE(Pick(ac, L"System standby", L"Never"));
    EXPECT_EQ(L"Never", Chosen(ItemList(ac, L"System hibernates")));
    ASSERT_NO_FATAL_FAILURE(Pick(ac, L"System standby", L"30 minutes"));
    const std::vector<std::wstring> hibernation = Entries(ac, L"System hibernates");
    ASSERT_FALSE(hibernation.empty());
    EXPECT_EQ(L"45 minutes", hibernation.front());
    EXPECT_EQ(L"Never", hibernation.back());
    for (const wchar_t* gone : {L"1 minute", L"25 minutes", L"30 minutes"})
        EXPECT_EQ(hibernation.end(), std::find(hibernation.begin(), hibernation.end(), gone)) << test::Narrow(gone);
    EXPECT_EQ(L"45 minutes", Chosen(ItemList(ac, L"System hibernates")));
    if (vista) {
        ASSERT_NO_FATAL_FAILURE(Pick(ac, L"Maximum processor state", L"50%"));
        const std::vector<std::wstring> minimum = Entries(ac, L"Minimum processor state");
        for (const std::wstring& entry : minimum) EXPECT_LE(_wtoi(entry.c_str()), 50) << test::Narrow(entry);
        EXPECT_EQ(minimum.front(), Chosen(ItemList(ac, L"Minimum processor state")));
    }
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(longest.c_str()));
    ASSERT_TRUE(EditorOk(editor)) << test::Narrow(WindowText(GetDlgItem(editor, IDC_EDIT_STATUS)));

    const int scheme = SchemeNamed(longest);
    ASSERT_GE(scheme, 0) << "not created";
    EXPECT_EQ(before + 1, m_names.size());
    EXPECT_EQ(static_cast<LRESULT>(before + 1), SendMessageW(GetDlgItem(dialog, IDC_MAIN_SCHEME_LIST), CB_GETCOUNT, 0, 0));
    auto defaultOf = [&](const wchar_t* variable, bool onAc) {
        const int option = m_settings.GetInt(variable, onAc ? L"DefaultAC" : L"DefaultDC", -1);
        return m_settings.GetInt(variable, (L"ValueOption" + std::to_wstring(option)).c_str(), -1);
    };
    const struct {
        const wchar_t* variable;
        bool ac;
        int value;
    } values[] = {
        {L"MonitorOffTimeOut", false, 180},
        {L"MonitorOffTimeOut", true, defaultOf(L"MonitorOffTimeOut", true)},
        {L"StandbyTimeOut", true, 1800},
        {L"HibernateTimeOut", true, 2700},
        {L"StandbyTimeOut", false, defaultOf(L"StandbyTimeOut", false)},
        {L"DiskOffTimeOut", true, defaultOf(L"DiskOffTimeOut", true)},
        {L"DiskOffTimeOut", false, defaultOf(L"DiskOffTimeOut", false)},
        {L"Wifi", false, defaultOf(L"Wifi", false)},
    };
    for (const auto& value : values)
        EXPECT_EQ(value.value, Get(scheme, value.variable, value.ac))
            << test::Narrow(value.variable) << (value.ac ? " ac" : " dc");
    EXPECT_EQ(0, ProfileInt(scheme, L"IfDefault"));
    EXPECT_EQ(1, ProfileInt(scheme, L"IfShow"));
    EXPECT_EQ(0, ProfileInt(scheme, L"IconNum"));
    CloseMain(dialog);
}

// Edit shows the scheme's name, fixed, and its values; Cancel writes nothing, OK the values
// of the shown page.
TEST_P(SchemeMainCase, EditThenCancelChangesNothingAndOkWritesTheChoice) {
    std::string output;
    ASSERT_EQ(0, test::Run(Zoractl(), L"scheme create Travel --from " + std::to_wstring(Active()), &output)) << output;
    const int scheme = SchemeNamed(L"Travel");
    ASSERT_GE(scheme, 0);
    ASSERT_TRUE(Set(scheme, L"MonitorOffTimeOut", true, 300));
    ASSERT_TRUE(Set(scheme, L"MonitorOffTimeOut", false, 600));
    ASSERT_NO_FATAL_FAILURE(Start());
    HWND dialog = OpenMain();
    ASSERT_NE(nullptr, dialog);
    Choose(dialog, L"Travel");
    const struct {
        int button;
        const wchar_t* chosen;
        int dcAfter;
    } cases[] = {{IDCANCEL, L"1 minute", 600}, {IDOK, L"2 minutes", 120}};
    for (size_t c = 0; c < std::size(cases); ++c) {
        HWND editor = OpenEditor(dialog, IDC_MAIN_EDIT);
        ASSERT_NE(nullptr, editor) << "case " << c;
        // An edit box keeps its text itself: another process asks for it (WM_GETTEXT).
        wchar_t name[64] = L"";
        SendDlgItemMessageW(editor, IDC_EDIT_NAME, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(name));
        EXPECT_STREQ(L"Travel", name) << "case " << c;
        EXPECT_FALSE(Enabled(editor, IDC_EDIT_NAME)) << "case " << c;
        HWND dc = ShowPage(editor, 0);
        EXPECT_EQ(L"10 minutes", Chosen(ItemList(dc, L"Turn off display"))) << "case " << c;
        ASSERT_NO_FATAL_FAILURE(Pick(dc, L"Turn off display", cases[c].chosen));
        if (cases[c].button == IDOK) {
            EXPECT_TRUE(EditorOk(editor)) << "case " << c;
        } else {
            Click(editor, IDCANCEL);
            EXPECT_TRUE(Eventually([&] { return !IsWindow(editor); }, 5000)) << "case " << c;
        }
        EXPECT_EQ(cases[c].dcAfter, Get(scheme, L"MonitorOffTimeOut", false)) << "case " << c;
        EXPECT_EQ(300, Get(scheme, L"MonitorOffTimeOut", true)) << "case " << c;
    }
    // The main dialog shows what was written.
    const int row = Row(dialog, L"Turn off display");
    ASSERT_GE(row, 0);
    EXPECT_EQ(L"2 minutes", WindowText(GetDlgItem(dialog, IDC_MAIN_ITEM_DC_VALUE_BASE + row)));
    CloseMain(dialog);
}

// A value the system refuses is not dropped in silence. On XP a standby time beyond the
// hibernation time still stored is refused until the new hibernation time is written after
// it: written once more at the end, it is taken. On Vista a brightness level the machine's
// configuration does not have is refused for good: the status line names it, the dialog
// stays open, and the scheme exists.
TEST_P(SchemeMainCase, ARefusedValueIsNamedAndTheDialogStaysOpen) {
    const bool vista = wcscmp(GetParam(), L"vista") == 0;
    std::string output;
    ASSERT_EQ(0, test::Run(Zoractl(), L"scheme create Travel --from " + std::to_wstring(Active()), &output)) << output;
    const int travel = SchemeNamed(L"Travel");
    ASSERT_GE(travel, 0);
    if (vista) m_cfg.Set(L"ZORACfg", L"MaxBrightLevel", L"1");
    ASSERT_TRUE(Set(travel, L"HibernateTimeOut", true, 0));
    ASSERT_TRUE(Set(travel, L"StandbyTimeOut", true, 600));
    ASSERT_TRUE(Set(travel, L"HibernateTimeOut", true, 1200));
    ASSERT_NO_FATAL_FAILURE(Start());
    HWND dialog = OpenMain();
    ASSERT_NE(nullptr, dialog);
    Choose(dialog, L"Travel");
    HWND editor = OpenEditor(dialog, vista ? IDC_MAIN_NEW : IDC_MAIN_EDIT);
    ASSERT_NE(nullptr, editor);
    HWND ac = ShowPage(editor, 1);
    if (!vista) {
        ASSERT_NO_FATAL_FAILURE(Pick(ac, L"System standby", L"45 minutes"));
        EXPECT_EQ(L"1 hour", Chosen(ItemList(ac, L"System hibernates")));
        EXPECT_TRUE(EditorOk(editor)) << test::Narrow(WindowText(GetDlgItem(editor, IDC_EDIT_STATUS)));
        EXPECT_EQ(2700, Get(travel, L"StandbyTimeOut", true));
        EXPECT_EQ(3600, Get(travel, L"HibernateTimeOut", true));
        CloseMain(dialog);
        return;
    }
    SendDlgItemMessageW(editor, IDC_EDIT_NAME, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"Dim"));
    Click(editor, IDOK);
    std::wstring said = ModuleString(IDS_VALUE_REFUSED);
    said.replace(said.find(L"%ls"), 3, L"Display brightness");
    said.replace(said.find(L"%ls"), 3, ModuleString(IDS_ON_AC));
    EXPECT_TRUE(Eventually([&] { return WindowText(GetDlgItem(editor, IDC_EDIT_STATUS)) == said; }, 5000))
        << test::Narrow(WindowText(GetDlgItem(editor, IDC_EDIT_STATUS)));
    EXPECT_TRUE(IsWindow(editor));
    EXPECT_GE(SchemeNamed(L"Dim"), 0) << "the scheme was created before its values";
    EXPECT_FALSE(Enabled(editor, IDC_EDIT_NAME)) << "the scheme keeps its name";
    Click(editor, IDCANCEL);
    EXPECT_TRUE(Eventually([&] { return !IsWindow(editor); }, 5000));
    EXPECT_EQ(m_names.size(), static_cast<size_t>(SendMessageW(GetDlgItem(dialog, IDC_MAIN_SCHEME_LIST), CB_GETCOUNT, 0, 0)))
        << "the list shows the new scheme";
    CloseMain(dialog);
}

INSTANTIATE_TEST_SUITE_P(Windows, SchemeMainXp, ::testing::Values(L"winxp"),
                         [](const ::testing::TestParamInfo<const wchar_t*>&) { return std::string("Xp"); });

INSTANTIATE_TEST_SUITE_P(Windows, SchemeMainCase, ::testing::Values(L"winxp", L"vista"),
                         [](const ::testing::TestParamInfo<const wchar_t*>& info) {
                             return std::string(info.param[0] == L'w' ? "Xp" : "Vista");
                         });

}  // namespace
