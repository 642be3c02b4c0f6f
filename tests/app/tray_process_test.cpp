// TALO in the notification area, as its own process in a Wine virtual desktop on the
// virtual notebook: the icon follows the power source and the charge, outlives the shell
// announcing itself again and a module lacking icons, and goes at the exit; the menu
// always offers About and Exit, its scheme items switch schemes, the device dialog keeps
// its choice whatever happens while it asks, and the quick switch's hotkey is taken as
// configured. What TALO shows is read from its desktop (TaloDesktop in TaloProcess.h):
// the taskbar's pixels, the shell's answer about TALO's icon, the hotkeys still free, the
// message boxes TALO opens.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
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

constexpr UINT kFirstSchemeCommand = 32800;
constexpr UINT kSchemeGoneCaption = 148;
// The tray cases' resource module.
constexpr wchar_t kTrayModule[] = L"TaloTrayRes.dll";
// What the shell sends TALO's hub about its icon (identifier 1).
constexpr UINT kTrayCallbackMessage = WM_USER;
constexpr WPARAM kTrayIconId = 1;
// The balloon's texts in the tray cases' module.
constexpr UINT kBalloonOnMains = 160;
constexpr UINT kBalloonBatteryFull = 157;
constexpr UINT kBalloonBattery = 163;
constexpr UINT kBalloonRemaining = 159;

// The tray icons of the tray cases' resource module (tests/app/TrayRes.rc) and the one
// colour each is drawn in.
const struct {
    UINT id;
    COLORREF colour;
} kTrayIcons[] = {{130, RGB(0xFF, 0x80, 0x00)},  {2067, RGB(0xFF, 0x00, 0x00)}, {2068, RGB(0x00, 0xFF, 0x00)},
                  {2069, RGB(0x00, 0x00, 0xFF)}, {2070, RGB(0xFF, 0xFF, 0x00)}, {2071, RGB(0x00, 0xFF, 0xFF)}};

// On the desktop's thread: the icon of kTrayIcons the taskbar shows (the one whose colour
// covers most of a 16 x 16 square), 0 when it shows none of them.
UINT ShownTrayIcon() {
    HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr);
    RECT rect;
    if (taskbar == nullptr || !GetWindowRect(taskbar, &rect)) return 0;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return 0;
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    UINT shown = 0;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
        GdiFlush();
        int best = 128;  // at least half the square
        for (const auto& icon : kTrayIcons) {
            const DWORD want = (GetRValue(icon.colour) << 16) | (GetGValue(icon.colour) << 8) | GetBValue(icon.colour);
            int count = 0;
            const DWORD* pixel = static_cast<const DWORD*>(bits);
            for (int i = 0; i < width * height; ++i) count += (pixel[i] & 0xFFFFFF) == want ? 1 : 0;
            if (count >= best) {
                best = count;
                shown = icon.id;
            }
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return shown;
}

// On the desktop's thread: whether the shell has TALO's icon (identifier 1 of the hub).
bool TrayIconThere(HWND hub) {
    NOTIFYICONDATAW probe = {};
    probe.cbSize = sizeof(probe);
    probe.hWnd = hub;
    probe.uID = 1;
    return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

// On the desktop's thread: the pop-up menu the process shows, null when none.
HWND ShownMenu(DWORD processId) { return VisibleDialogOf(processId, L"#32768"); }

std::wstring WindowText(HWND hwnd) {
    wchar_t text[512] = L"";
    GetWindowTextW(hwnd, text, 512);
    return text;
}

// TALO on a fresh machine whose battery neither charges nor discharges by itself, for a
// user whose first run is done, with the device dialog off.
class TrayCase : public ::testing::Test {
protected:
    void SetUp() override {
        m_machine.emplace();
        ASSERT_TRUE(m_machine->Ok());
        ASSERT_TRUE(ReturningUser(m_machine->Path(), 0)) << GetLastError();
        m_cfg.Set(L"TALOCfg", L"TALOResource", kTrayModule);
        ASSERT_FALSE(Talo().empty());
    }
    void TearDown() override {
        if (m_hub != nullptr) {
            EXPECT_EQ(0, Close());
        }
        RegDeleteTreeW(HKEY_CURRENT_USER, kTaloKey);
    }

    // Starts TALO with that hotkey text and waits for its hub and its first icon.
    void Start(const wchar_t* hotKey = L"CTRL+ALT+F8") {
        m_cfg.Set(L"TALOCfg", L"DefaultHotKey", hotKey);
        m_talo.emplace();
        ASSERT_TRUE(m_talo->Start(Talo()));
        const DWORD id = m_talo->Id();
        Eventually([&] { return m_desktop.Run([&] { m_hub = HubOf(id, 1000); }) && m_hub != nullptr; }, 60000);
        ASSERT_NE(nullptr, m_hub);
        // The hub answers while start-up still runs; the balloon comes last.
        HWND balloon = nullptr;
        Eventually([&] { return m_desktop.Run([&] { balloon = BalloonOf(id); }) && balloon != nullptr; }, 30000);
        EXPECT_NE(nullptr, balloon) << "start-up did not end";
        EXPECT_TRUE(Eventually([&] { return IconThere(m_hub); }, 10000)) << "no tray icon";
    }
    int Close() {
        PostMessageW(m_hub, WM_CLOSE, 0, 0);
        m_hub = nullptr;
        return m_talo->Wait(20000);
    }
    UINT Shown() {
        UINT shown = 0;
        m_desktop.Run([&] { shown = ShownTrayIcon(); });
        return shown;
    }
    bool IconThere(HWND hub) {
        bool there = false;
        m_desktop.Run([&] { there = TrayIconThere(hub); });
        return there;
    }
    bool Answers() {
        DWORD_PTR answer = 0;
        return SendMessageTimeoutW(m_hub, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer) != 0;
    }
    // zoractl's scheme list: each scheme's index in enumeration order, and the active one's.
    std::vector<int> Schemes(int* active) {
        std::string listing;
        test::Run(test::ProgramPath(test::OwnArch(), L"zoractl.exe"), L"scheme list", &listing);
        std::vector<int> indexes;
        *active = -1;
        size_t at = 0;
        while (at < listing.size()) {
            size_t end = listing.find('\n', at);
            if (end == std::string::npos) end = listing.size();
            std::string line = listing.substr(at, end - at);
            if (line.size() > 5 && (line[0] == '*' || line[0] == ' ')) {
                indexes.push_back(atoi(line.c_str() + 1));
                if (line[0] == '*') *active = indexes.back();
            }
            at = end + 1;
        }
        return indexes;
    }
    int Active() { return ListSchemes().active; }
    // TALO's balloon on screen (its one topmost dialog), null when none.
    HWND Balloon() {
        HWND balloon = nullptr;
        m_desktop.Run([&] {
            for (HWND dialog : VisibleDialogsOf(m_talo->Id()))
                if ((GetWindowLongPtrW(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0) balloon = dialog;
        });
        return balloon;
    }
    HWND Menu() {
        HWND menu = nullptr;
        m_desktop.Run([&] { menu = ShownMenu(m_talo->Id()); });
        return menu;
    }
    // Posts the tray callback as the shell does for a mouse message over the icon.
    void TrayMouse(UINT mouseMessage) { PostMessageW(m_hub, kTrayCallbackMessage, kTrayIconId, mouseMessage); }
    // Opens the menu with the right button and chooses with its keyboard the item
    // `aboveLast` items above the last one (Exit); false when no menu came.
    bool ChooseFromTheMenuEnd(int aboveLast) {
        TrayMouse(WM_RBUTTONUP);
        HWND menu = nullptr;
        if (!Eventually([&] { return (menu = Menu()) != nullptr; }, 5000)) return false;
        PostMessageW(menu, WM_KEYDOWN, VK_END, 0);
        for (int i = 0; i < aboveLast; ++i) PostMessageW(menu, WM_KEYDOWN, VK_UP, 0);
        PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
        return true;
    }
    // Exit, chosen in the menu; TALO's exit code.
    int ExitFromTheMenu() {
        if (!ChooseFromTheMenuEnd(0)) return -2;
        m_hub = nullptr;
        return m_talo->Wait(20000);
    }
    // Sets the power source and the battery's charge.
    void SetPower(BYTE ac, DWORD percent) {
        test::SetAcLine(ac);
        ASSERT_TRUE(VnbSetBatteryCharge(m_machine->Path().c_str(), 0, percent));
    }

    std::optional<test::FreshMachine> m_machine;
    test::CfgOverride m_cfg{L"ZORACfg.ini"};
    test::WindowsVersionOf m_taloVersion{L"TALO.exe", L"winxp"};
    test::WindowsVersionOf m_zoractlVersion{L"zoractl.exe", L"winxp"};
    TaloDesktop m_desktop;
    std::optional<DesktopProcess> m_talo;
    HWND m_hub = nullptr;
};

// The icon shows the source and, on battery, the charge band; a change of either shows
// within about a poll period.
TEST_F(TrayCase, IconFollowsThePowerSourceAndTheChargeBand) {
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_TRUE(Eventually([&] { return Shown() == 2071u; }, 5000)) << "mains, battery full: " << Shown();
    const struct {
        BYTE ac;
        DWORD percent;
        UINT icon;
    } cases[] = {
        {1, 50, 2070}, {0, 50, 2068}, {0, 29, 2067}, {0, 30, 2068}, {0, 59, 2068},
        {0, 60, 2069}, {0, 100, 2069}, {1, 100, 2071}, {0, 10, 2067}, {1, 10, 2070},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        test::SetAcLine(cases[i].ac);
        ASSERT_TRUE(VnbSetBatteryCharge(m_machine->Path().c_str(), 0, cases[i].percent)) << "case " << i;
        EXPECT_TRUE(Eventually([&] { return Shown() == cases[i].icon; }, 5000))
            << "case " << i << ": shown " << Shown() << ", expected " << cases[i].icon;
    }
}

// The shell announces itself ("TaskbarCreated") after it lost the icon, or while it still
// has it (a taskbar that restarted and kept it): either way the icon is there and follows
// the next charge band, and the exit command takes it away.
TEST_F(TrayCase, IconOutlivesTheShellAnnouncingItselfAndGoesAtTheExit) {
    const struct {
        const char* name;
        bool shellLostIcon;
    } cases[] = {{"the shell lost the icon", true}, {"the shell kept the icon", false}};
    for (const auto& c : cases) {
        ASSERT_NO_FATAL_FAILURE(SetPower(1, 100));
        ASSERT_NO_FATAL_FAILURE(Start()) << c.name;
        const HWND hub = m_hub;
        ASSERT_TRUE(Eventually([&] { return Shown() == 2071u; }, 5000)) << c.name << ": " << Shown();
        if (c.shellLostIcon) {
            bool deleted = false;
            m_desktop.Run([&] {
                NOTIFYICONDATAW icon = {};
                icon.cbSize = sizeof(icon);
                icon.hWnd = hub;
                icon.uID = 1;
                deleted = Shell_NotifyIconW(NIM_DELETE, &icon) != FALSE;
            });
            ASSERT_TRUE(deleted) << c.name;
            ASSERT_FALSE(IconThere(hub)) << c.name;
        }
        // As the shell broadcasts it; sent, so that TALO has handled it when the call returns.
        bool delivered = false;
        m_desktop.Run([&] {
            DWORD_PTR answer = 0;
            delivered = SendMessageTimeoutW(hub, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0, SMTO_ABORTIFHUNG,
                                            5000, &answer) != 0;
        });
        ASSERT_TRUE(delivered) << c.name;
        EXPECT_TRUE(IconThere(hub)) << c.name;
        // The taskbar paints a change a moment after the shell took it.
        EXPECT_TRUE(Eventually([&] { return Shown() == 2071u; }, 5000)) << c.name << ": " << Shown();
        const struct {
            BYTE ac;
            DWORD percent;
            UINT icon;
        } bands[] = {{0, 50, 2068}, {0, 70, 2069}};
        for (const auto& band : bands) {
            ASSERT_NO_FATAL_FAILURE(SetPower(band.ac, band.percent));
            EXPECT_TRUE(Eventually([&] { return Shown() == band.icon; }, 5000))
                << c.name << ": shown " << Shown() << ", expected " << band.icon;
        }

        PostMessageW(hub, WM_COMMAND, 32773, 0);  // Exit
        m_hub = nullptr;
        EXPECT_EQ(0, m_talo->Wait(20000)) << c.name;
        EXPECT_FALSE(IconThere(hub)) << c.name;
        EXPECT_TRUE(Eventually([&] { return Shown() == 0u; }, 5000)) << c.name << ": " << Shown();
    }
}

// A copy of the tray cases' module beside TALO without some of its tray icons; deleted at
// the end. Wine's UpdateResourceW takes a removal (null data) and changes nothing, so the
// copy is written anew with every resource of the module but those icon groups.
class ModuleWithout {
public:
    static constexpr wchar_t kName[] = L"TaloTrayResLess.dll";

    explicit ModuleWithout(const std::vector<UINT>& removed) : m_path(test::ExeDir() + L"\\" + kName) {
        const std::wstring source = test::ExeDir() + L"\\TaloTrayRes.dll";
        if (!CopyFileW(source.c_str(), m_path.c_str(), FALSE)) {
            m_problem = "copy " + std::to_string(GetLastError());
            return;
        }
        HMODULE module = LoadLibraryExW(source.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        std::vector<Resource> kept;
        if (module != nullptr) EnumResourceTypesW(module, CollectType, reinterpret_cast<LONG_PTR>(&kept));
        HANDLE update = BeginUpdateResourceW(m_path.c_str(), TRUE);
        if (module == nullptr || kept.empty() || update == nullptr) {
            m_problem = "the module's resources cannot be read or written: " + std::to_string(GetLastError());
        }
        for (const Resource& resource : kept) {
            const bool gone = resource.type == RT_GROUP_ICON &&
                              std::find(removed.begin(), removed.end(), resource.name) != removed.end();
            if (!gone && update != nullptr &&
                !UpdateResourceW(update, resource.type, resource.name.Get(), resource.language,
                                 const_cast<void*>(resource.data), resource.size))
                m_problem = "UpdateResource " + std::to_string(GetLastError());
        }
        if (update != nullptr && !EndUpdateResourceW(update, !m_problem.empty()) && m_problem.empty())
            m_problem = "EndUpdateResource " + std::to_string(GetLastError());
        if (module != nullptr) FreeLibrary(module);
        if (!m_problem.empty()) return;
        // What is left: exactly the icons not removed.
        module = LoadLibraryExW(m_path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (module == nullptr) {
            m_problem = "the module made cannot be loaded: " + std::to_string(GetLastError());
            return;
        }
        for (const auto& icon : kTrayIcons) {
            const bool gone = std::find(removed.begin(), removed.end(), icon.id) != removed.end();
            if ((FindResourceW(module, MAKEINTRESOURCEW(icon.id), RT_GROUP_ICON) == nullptr) != gone)
                m_problem += "icon " + std::to_string(icon.id) + (gone ? " still there; " : " gone; ");
        }
        FreeLibrary(module);
    }
    ModuleWithout(const ModuleWithout&) = delete;
    ModuleWithout& operator=(const ModuleWithout&) = delete;
    ~ModuleWithout() { DeleteFileW(m_path.c_str()); }
    // What went wrong in making it; empty when it is as asked.
    const std::string& Problem() const { return m_problem; }

private:
    // A resource's name: a number, or a text kept here.
    struct Name {
        UINT id = 0;
        std::wstring text;
        explicit Name(LPCWSTR name) {
            if (IS_INTRESOURCE(name))
                id = static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name));
            else
                text = name;
        }
        LPCWSTR Get() const { return text.empty() ? MAKEINTRESOURCEW(id) : text.c_str(); }
        bool operator==(UINT other) const { return text.empty() && id == other; }
    };
    struct Resource {
        LPCWSTR type;  // the standard types are numbers; the module has no other
        Name name;
        WORD language;
        const void* data;  // inside the module, loaded while it is written
        DWORD size;
    };

    static BOOL CALLBACK CollectLanguage(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR param) {
        HRSRC found = FindResourceExW(module, type, name, language);
        HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
        if (loaded != nullptr)
            reinterpret_cast<std::vector<Resource>*>(param)->push_back(
                Resource{type, Name(name), language, LockResource(loaded), SizeofResource(module, found)});
        return TRUE;
    }
    static BOOL CALLBACK CollectName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
        return EnumResourceLanguagesW(module, type, name, CollectLanguage, param);
    }
    static BOOL CALLBACK CollectType(HMODULE module, LPWSTR type, LONG_PTR param) {
        return IS_INTRESOURCE(type) ? EnumResourceNamesW(module, type, CollectName, param) : TRUE;
    }

    std::wstring m_path;
    std::string m_problem;
};

// A resource module that lacks tray icons never leaves TALO invisible: it starts with a
// stand-in (the module's unknown-state icon, else the system's application icon, which
// has none of the cases' colours: 0 below), a power state whose icon is missing leaves the
// icon as it was, and Exit, chosen in the menu, ends TALO and takes the icon away.
TEST_F(TrayCase, ModuleLackingTrayIconsLeavesTheIconAsItWasAndExitWorks) {
    const struct {
        const char* name;
        std::vector<UINT> removed;
        UINT atStart, onBattery, backOnMains;
    } cases[] = {
        {"without the mains icon", {2071}, 130, 2068, 2068},
        {"without any tray icon", {130, 2067, 2068, 2069, 2070, 2071}, 0, 0, 0},
    };
    m_cfg.Set(L"TALOCfg", L"TALOResource", ModuleWithout::kName);
    for (const auto& c : cases) {
        ModuleWithout module(c.removed);
        ASSERT_EQ("", module.Problem()) << c.name;
        ASSERT_NO_FATAL_FAILURE(SetPower(1, 100));
        ASSERT_NO_FATAL_FAILURE(Start()) << c.name;
        const HWND hub = m_hub;
        const struct {
            BYTE ac;
            UINT icon;
        } steps[] = {{1, c.atStart}, {0, c.onBattery}, {1, c.backOnMains}};
        for (size_t i = 0; i < std::size(steps); ++i) {
            ASSERT_NO_FATAL_FAILURE(SetPower(steps[i].ac, steps[i].ac ? 100 : 50));
            Sleep(2000);  // two polls
            EXPECT_TRUE(Eventually([&] { return Shown() == steps[i].icon; }, 5000))
                << c.name << ", step " << i << ": shown " << Shown() << ", expected " << steps[i].icon;
            EXPECT_TRUE(IconThere(hub)) << c.name << ", step " << i;
        }
        EXPECT_EQ(0, ExitFromTheMenu()) << c.name;
        EXPECT_FALSE(IconThere(hub)) << c.name;
    }
}

// With the schemes unlistable (XP's scheme keys gone) the menu still offers About and Exit:
// the item above the last opens the about box, the last ends TALO.
TEST_F(TrayCase, MenuOffersAboutAndExitWhenTheSchemesCannotBeListed) {
    m_cfg.Set(L"TALOCfg", L"TALOResource", L"TALORes.dll");  // the one with the about box
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CURRENT_USER, L"Control Panel\\PowerCfg\\PowerPolicies"));
    int active = -1;
    ASSERT_TRUE(Schemes(&active).empty()) << "the schemes are still listed";
    ASSERT_NO_FATAL_FAILURE(Start());
    const HWND hub = m_hub;

    ASSERT_TRUE(ChooseFromTheMenuEnd(1)) << "no menu";
    HWND about = nullptr;
    Eventually([&] { return m_desktop.Run([&] { about = VisibleDialogOf(m_talo->Id()); }) && about != nullptr; },
               5000);
    ASSERT_NE(nullptr, about) << "no about box";
    wchar_t shown[128] = L"";
    GetDlgItemTextW(about, 1010, shown, 128);
    EXPECT_EQ(ModuleString(132), shown);
    PostMessageW(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(Eventually([&] { return !IsWindow(about); }, 5000));

    EXPECT_EQ(0, ExitFromTheMenu());
    EXPECT_FALSE(IconThere(hub));
}

// Scheme item i of the menu (command 32800 + i) activates the i-th scheme listed.
TEST_F(TrayCase, SchemeChosenFromTheMenuBecomesActive) {
    ASSERT_NO_FATAL_FAILURE(Start());
    int active = -1;
    std::vector<int> schemes = Schemes(&active);
    ASSERT_GE(schemes.size(), 2u);
    ASSERT_GE(active, 0);
    size_t item = 0;
    while (schemes[item] == active) ++item;
    PostMessageW(m_hub, WM_COMMAND, kFirstSchemeCommand + item, 0);
    EXPECT_TRUE(Eventually([&] { return Active() == schemes[item]; }, 20000)) << "item " << item;
    EXPECT_TRUE(Answers());
}

// An item beyond the list (the scheme vanished since the menu was made) switches
// nothing and says so in a message box owned by the hub.
TEST_F(TrayCase, VanishedSchemeGivesTheMessageBoxAndSwitchesNothing) {
    ASSERT_NO_FATAL_FAILURE(Start());
    int active = -1;
    std::vector<int> schemes = Schemes(&active);
    ASSERT_GE(active, 0);
    const std::wstring caption = ModuleString(kSchemeGoneCaption, kTrayModule);
    ASSERT_FALSE(caption.empty());
    PostMessageW(m_hub, WM_COMMAND, kFirstSchemeCommand + schemes.size(), 0);
    HWND box = nullptr;
    Eventually([&] { return m_desktop.Run([&] { box = FindWindowW(L"#32770", caption.c_str()); }) && box != nullptr; },
            10000);
    ASSERT_NE(nullptr, box);
    DWORD owner = 0;
    GetWindowThreadProcessId(box, &owner);
    EXPECT_EQ(m_talo->Id(), owner);
    EXPECT_EQ(m_hub, GetWindow(box, GW_OWNER));
    EXPECT_EQ(active, Active());
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(Eventually([&] { return !IsWindow(box); }, 5000));
    EXPECT_TRUE(Answers());
    EXPECT_EQ(active, Active());
}

// The configured hotkey is TALO's while it runs; an invalid text or a combination another
// program holds registers nothing for TALO, which works on.
TEST_F(TrayCase, HotKeyIsTakenAsConfiguredAndABadOneLeavesTaloWorking) {
    const struct {
        const wchar_t* text;
        UINT modifiers, key;
        bool heldBefore;   // another program holds the combination before TALO starts
        bool heldByTalo;
    } cases[] = {
        {L"ctrl+shift+F9", MOD_CONTROL | MOD_SHIFT, VK_F9, false, true},
        {L"CTRL+f9", MOD_CONTROL, VK_F9, false, false},
        {L"CTRL+ALT+SHIFT+Q", MOD_CONTROL | MOD_ALT | MOD_SHIFT, 'Q', false, false},
        {L"ALT+SHIFT+F7", MOD_ALT | MOD_SHIFT, VK_F7, true, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        bool mine = false;
        if (c.heldBefore) {
            ASSERT_TRUE(m_desktop.Run([&] { mine = RegisterHotKey(nullptr, 1, c.modifiers, c.key) != FALSE; }, true));
            ASSERT_TRUE(mine) << "case " << i;
        }
        ASSERT_NO_FATAL_FAILURE(Start(c.text)) << "case " << i;
        ASSERT_NE(nullptr, m_hub) << "case " << i;
        EXPECT_TRUE(Answers()) << "case " << i;
        EXPECT_TRUE(Eventually([&] { return Shown() == 2071u; }, 5000)) << "case " << i << ": " << Shown();
        if (!c.heldBefore) {
            m_desktop.Run([&] { mine = RegisterHotKey(nullptr, 1, c.modifiers, c.key) != FALSE; });
            EXPECT_EQ(!c.heldByTalo, mine) << "case " << i;
        }
        if (mine) m_desktop.Run([] { UnregisterHotKey(nullptr, 1); });
        EXPECT_EQ(0, Close()) << "case " << i;
    }
}

// The cursor resting on the icon shows the balloon after 1.5 s, with the module's texts
// for the power source (mains, battery full); 4 s after its fade-in it goes again.
TEST_F(TrayCase, HoverShowsTheBalloonWithThePowerTextsAndItGoesAfterItsTime) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(Eventually([&] { return Shown() == 2071u; }, 5000)) << Shown();
    const std::wstring expected =
        ModuleString(kBalloonOnMains, kTrayModule) + L"\r\n" + ModuleString(kBalloonBatteryFull, kTrayModule);
    ASSERT_FALSE(ModuleString(kBalloonOnMains, kTrayModule).empty());
    ASSERT_EQ(nullptr, Balloon());

    const DWORD posted = GetTickCount();
    TrayMouse(WM_MOUSEMOVE);
    HWND balloon = nullptr;
    Eventually([&] { return (balloon = Balloon()) != nullptr; }, 6000);
    const DWORD appeared = GetTickCount() - posted;
    ASSERT_NE(nullptr, balloon);
    EXPECT_GE(appeared, 1400u) << "the hover delay";
    EXPECT_LT(appeared, 4000u);
    EXPECT_EQ(expected, WindowText(balloon));
    EXPECT_TRUE((GetWindowLongPtrW(balloon, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0);

    // The fade-in (about a second), then 4 s.
    EXPECT_TRUE(Eventually([&] { return Balloon() == nullptr; }, 15000)) << "the balloon stays";
    EXPECT_GE(GetTickCount() - posted - appeared, 4000u);
    EXPECT_TRUE(IsWindow(balloon)) << "hidden, not destroyed";
    EXPECT_TRUE(Answers());
}

// Unplugging the mains shows the balloon with the battery's texts within a poll period;
// it goes after its time. A battery that starts charging on mains is no new source.
TEST_F(TrayCase, NewPowerSourceShowsTheBalloon) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(Eventually([&] { return Shown() == 2071u; }, 5000)) << Shown();
    ASSERT_TRUE(VnbSetBatteryCharge(m_machine->Path().c_str(), 0, 50));
    ASSERT_TRUE(Eventually([&] { return Shown() == 2070u; }, 5000)) << "charging on mains: " << Shown();
    Sleep(300);
    EXPECT_EQ(nullptr, Balloon()) << "charging on mains";

    test::SetAcLine(0);
    HWND balloon = nullptr;
    Eventually([&] { return (balloon = Balloon()) != nullptr; }, 5000);
    ASSERT_NE(nullptr, balloon) << "no balloon for the battery";
    const std::wstring text = WindowText(balloon);
    const size_t lineEnd = text.find(L"\r\n");
    ASSERT_NE(std::wstring::npos, lineEnd) << test::Narrow(text);
    EXPECT_EQ(ModuleString(kBalloonBattery, kTrayModule) + L": 50%", text.substr(0, lineEnd));
    // The remaining time follows, as the battery's rate gives it.
    EXPECT_EQ(lineEnd + 2, text.find(ModuleString(kBalloonRemaining, kTrayModule), lineEnd + 2)) << test::Narrow(text);
    EXPECT_TRUE(Eventually([&] { return Balloon() == nullptr; }, 15000)) << "the balloon stays";
    EXPECT_TRUE(Answers());
}

// Clicks on the icon: a left click opens the menu after 200 ms (a double click might still
// come), a right click at once, while the hub handles the click (its handler holds the
// menu); a double click opens no menu. The double click's command is the scheme main
// dialog's, which TALO does not build yet: the case sees only that no menu comes.
TEST_F(TrayCase, ClicksOnTheIconOpenTheMenuOrNot) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const struct {
        const char* name;
        UINT messages[3];
        size_t count;
        bool handlerHoldsMenu;
        bool menuAtOnce;
        bool menuLater;
    } cases[] = {
        {"left click", {WM_LBUTTONUP}, 1, false, false, true},
        {"right click", {WM_RBUTTONUP}, 1, true, true, true},
        {"double click", {WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}, 3, false, false, false},
    };
    for (const auto& c : cases) {
        bool handled = true;
        HWND atOnce = nullptr;
        const DWORD sent = GetTickCount();
        m_desktop.Run([&] {
            for (size_t i = 0; i < c.count; ++i) {
                DWORD_PTR answer = 0;
                if (!SendMessageTimeoutW(m_hub, kTrayCallbackMessage, kTrayIconId, c.messages[i], SMTO_ABORTIFHUNG,
                                         1000, &answer))
                    handled = false;
            }
            atOnce = ShownMenu(m_talo->Id());
        });
        EXPECT_EQ(c.handlerHoldsMenu, !handled) << c.name;
        EXPECT_EQ(c.menuAtOnce, atOnce != nullptr) << c.name << " after " << (GetTickCount() - sent) << " ms";
        HWND later = nullptr;
        Eventually([&] { return (later = Menu()) != nullptr; }, 1000);
        EXPECT_EQ(c.menuLater, later != nullptr) << c.name;
        if (later == nullptr) continue;
        // The menu's loop ends on a cancel-mode message to TALO's thread.
        PostMessageW(m_hub, WM_CANCELMODE, 0, 0);
        EXPECT_TRUE(Eventually([&] { return Menu() == nullptr; }, 5000)) << c.name << ": the menu stays";
        EXPECT_TRUE(Answers()) << c.name;
    }
}

// ---- the device dialog ----

// The device dialog's list, its "do not ask again" check box and its prompt.
constexpr int kDeviceList = 2030;
constexpr int kDontAsk = 2046;
constexpr int kDevicePrompt = 2039;
constexpr wchar_t kEnforce[] = L"EnforceSetting";
constexpr int kAbsent = -9;

// Devices the chosen scheme switches off on mains and keeps on on battery, in the list's
// order, with the names the installed item list gives them.
const struct {
    const wchar_t* variable;
    const wchar_t* name;
} kOffDevices[] = {{L"Wifi", L"Wireless LAN"},
                   {L"HD Audio", L"Audio controller"},
                   {L"PCIE2", L"Ethernet controller (PCI Express 2)"}};

// A device item of the platform that the chosen scheme does not switch.
constexpr wchar_t kUntouchedDevice[] = L"Modem";

// A device as the machine has it now (-1: cannot be read).
int LiveDevice(const wchar_t* name) {
    CSchemeEx schemes;
    int status = -1;
    return schemes.GetDeviceStatus(name, &status) < 0 ? -1 : status;
}

// The tray cases with the device dialog on and the service running, on a fresh per-user
// scheme file whose chosen scheme switches kOffDevices off on mains.
class DeviceDialogCase : public TrayCase {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(TrayCase::SetUp());
        if (test::ServiceProgram().empty()) GTEST_SKIP() << "the 64-bit build with ZORASrvc.exe is missing";
        SetTaloFlag(L"DevShowFlag", 1);
        // The platform supports the listed devices and a modem the scheme leaves alone, and
        // no other device item.
        const std::wstring cfg = test::ExeDir() + L"\\..\\cfg\\ZORACfg.ini";
        for (UINT i = 0; i < GetPrivateProfileIntW(L"SchemeItemList", L"ItemNum", 0, cfg.c_str()); ++i) {
            wchar_t item[256] = L"";
            GetPrivateProfileStringW(L"SchemeItemList", (L"Item" + std::to_wstring(i)).c_str(), L"", item, 256,
                                     cfg.c_str());
            if (GetPrivateProfileIntW(L"SchemeItemList", (L"IfDevice" + std::to_wstring(i)).c_str(), 0, cfg.c_str()))
                m_settings.Set(item, L"SupportStatus", L"0");
        }
        for (const auto& device : kOffDevices) m_settings.Set(device.variable, L"SupportStatus", L"1");
        m_settings.Set(kUntouchedDevice, L"SupportStatus", L"1");
        CZORAProfile file;
        ASSERT_TRUE(file.Initialize(L"ZORAScheme.ini", nullptr));
        m_file = file.GetFullPath();
        DeleteFileW(m_file.c_str());
        ASSERT_TRUE(m_service.Start());
    }
    void TearDown() override {
        TrayCase::TearDown();
        if (!m_file.empty()) DeleteFileW(m_file.c_str());
    }
    int Enforced(const wchar_t* key) {
        return static_cast<int>(GetPrivateProfileIntW(kEnforce, key, kAbsent, m_file.c_str()));
    }
    // The record's keys other than SchemeID and bIfAC, with their values.
    std::vector<std::pair<std::wstring, int>> EnforcedDevices() {
        std::vector<wchar_t> buffer(32768);
        GetPrivateProfileSectionW(kEnforce, buffer.data(), static_cast<DWORD>(buffer.size()), m_file.c_str());
        std::vector<std::pair<std::wstring, int>> keys;
        for (const wchar_t* entry = buffer.data(); *entry != L'\0'; entry += wcslen(entry) + 1) {
            std::wstring line = entry;
            const size_t equals = line.find(L'=');
            std::wstring key = line.substr(0, equals);
            if (key == L"SchemeID" || key == L"bIfAC") continue;
            keys.emplace_back(key, equals == std::wstring::npos ? kAbsent : _wtoi(line.c_str() + equals + 1));
        }
        return keys;
    }

    // The device dialogs TALO shows (the dialogs with the device list).
    std::vector<HWND> DeviceDialogs() {
        std::vector<HWND> found;
        m_desktop.Run([&] {
            for (HWND dialog : VisibleDialogsOf(m_talo->Id()))
                if (GetDlgItem(dialog, kDeviceList) != nullptr) found.push_back(dialog);
        });
        return found;
    }
    // A device's value for both sources in the scheme's section of the scheme file.
    void PutDevice(int scheme, const wchar_t* variable, int ac, int dc) {
        WritePrivateProfileStringW((L"Scheme " + std::to_wstring(scheme)).c_str(), variable,
                                   std::to_wstring(zora_vars::Pack(zora_vars::Pack(0, 1, ac), 0, dc)).c_str(),
                                   m_file.c_str());
    }
    std::string Zoractl(const std::wstring& arguments) {
        std::string output;
        EXPECT_EQ(0, test::Run(test::ProgramPath(test::OwnArch(), L"zoractl.exe"), arguments, &output))
            << test::Narrow(arguments) << ": " << output;
        return output;
    }

    std::wstring m_file;
    test::CfgOverride m_settings{L"ZORASetting.ini"};
    test::RunningService m_service;
};

// Choosing a scheme that switches devices off shows them; what the user keeps on becomes
// the enforce record, and the service, applying the scheme, keeps exactly those devices
// on. Cancel leaves the record with the scheme and the source only, and the scheme's own
// values apply; "do not ask again" turns the dialog off.
TEST_F(DeviceDialogCase, KeptDevicesAreRecordedAndWinWhenTheServiceAppliesTheScheme) {
    const struct {
        int button;
        int keepRow;       // -1: none ticked
        bool dontAsk;
        int showFlagAfter;
        int recorded[3];   // kAbsent: no key
        int live[3];
    } cases[] = {
        {IDCANCEL, 1, false, 1, {kAbsent, kAbsent, kAbsent}, {0, 0, 0}},
        {IDOK, 1, false, 1, {0, 1, 0}, {0, 1, 0}},
        {IDOK, -1, true, 0, {0, 0, 0}, {0, 0, 0}},
    };
    int active = -1;
    std::vector<int> schemes = Schemes(&active);
    ASSERT_GE(schemes.size(), 2u);
    const size_t item = schemes[0] == active ? 1 : 0;
    const int scheme = schemes[item];
    const int other = schemes[1 - item];
    const std::wstring section = L"Scheme " + std::to_wstring(scheme);
    for (const auto& device : kOffDevices)
        WritePrivateProfileStringW(section.c_str(), device.variable,
                                   std::to_wstring(zora_vars::Pack(zora_vars::Pack(0, 1, 0), 0, 1)).c_str(),
                                   m_file.c_str());
    ASSERT_NO_FATAL_FAILURE(Start());
    const std::wstring zoractl = test::ProgramPath(test::OwnArch(), L"zoractl.exe");
    CSchemeEx machine;

    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        std::string output;
        ASSERT_EQ(0, test::Run(zoractl, L"scheme activate " + std::to_wstring(other), &output)) << "case " << i;
        ASSERT_EQ(other, Active()) << "case " << i;
        // Each device starts the opposite of where the case leaves it.
        for (size_t d = 0; d < std::size(kOffDevices); ++d) {
            machine.SetDeviceStatus(kOffDevices[d].variable, c.live[d] ? 0 : 1);
            ASSERT_EQ(c.live[d] ? 0 : 1, LiveDevice(kOffDevices[d].variable)) << "case " << i << ", device " << d;
        }

        PostMessageW(m_hub, WM_COMMAND, kFirstSchemeCommand + item, 0);
        HWND dialog = nullptr;
        Eventually([&] { return m_desktop.Run([&] { dialog = VisibleDialogOf(m_talo->Id()); }) && dialog != nullptr; },
                10000);
        ASSERT_NE(nullptr, dialog) << "case " << i;
        EXPECT_EQ(m_hub, GetWindow(dialog, GW_OWNER)) << "case " << i;
        EXPECT_EQ(other, Active()) << "case " << i << ": the scheme switches after the dialog";
        RemoteListView list(GetDlgItem(dialog, kDeviceList), m_talo->Id());
        ASSERT_TRUE(list.Ok()) << "case " << i << ": " << GetLastError();
        ASSERT_EQ(static_cast<int>(std::size(kOffDevices)), list.Count()) << "case " << i;
        for (int row = 0; row < list.Count(); ++row) {
            EXPECT_EQ(kOffDevices[row].name, list.Text(row)) << "case " << i << ", row " << row;
            EXPECT_FALSE(list.Checked(row)) << "case " << i << ", row " << row;
        }
        EXPECT_EQ(BST_UNCHECKED, SendDlgItemMessageW(dialog, kDontAsk, BM_GETCHECK, 0, 0)) << "case " << i;
        // Prompt, list and check box one below the other, none over the next.
        RECT prompt = {}, shown = {}, box = {};
        GetWindowRect(GetDlgItem(dialog, kDevicePrompt), &prompt);
        GetWindowRect(GetDlgItem(dialog, kDeviceList), &shown);
        GetWindowRect(GetDlgItem(dialog, kDontAsk), &box);
        EXPECT_LE(prompt.bottom, shown.top) << "case " << i;
        EXPECT_LE(shown.bottom, box.top) << "case " << i;
        if (c.keepRow >= 0) {
            EXPECT_TRUE(list.SetCheck(c.keepRow, true)) << "case " << i;
            EXPECT_TRUE(list.Checked(c.keepRow)) << "case " << i;
        }
        if (c.dontAsk) SendDlgItemMessageW(dialog, kDontAsk, BM_SETCHECK, BST_CHECKED, 0);
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(c.button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, c.button)));
        EXPECT_TRUE(Eventually([&] { return !IsWindow(dialog); }, 5000)) << "case " << i;

        EXPECT_TRUE(Eventually([&] { return Active() == scheme; }, 20000)) << "case " << i;
        EXPECT_EQ(scheme, Enforced(L"SchemeID")) << "case " << i;
        EXPECT_EQ(1, Enforced(L"bIfAC")) << "case " << i;
        const auto devices = EnforcedDevices();
        if (c.button == IDCANCEL) {
            EXPECT_TRUE(devices.empty()) << "case " << i << ": " << devices.size() << " keys";
        }
        if (c.button == IDOK) {
            EXPECT_EQ(-1, Enforced(kUntouchedDevice)) << "case " << i;
            EXPECT_EQ(std::size(kOffDevices) + 1, devices.size()) << "case " << i;
        }
        for (const auto& [key, value] : devices) {
            int want = -1;  // an item the scheme leaves alone
            for (size_t d = 0; d < std::size(kOffDevices); ++d)
                if (key == kOffDevices[d].variable) want = c.recorded[d];
            EXPECT_EQ(want, value) << "case " << i << ": " << test::Narrow(key);
        }
        for (size_t d = 0; d < std::size(kOffDevices); ++d) {
            EXPECT_EQ(c.recorded[d], Enforced(kOffDevices[d].variable)) << "case " << i << ", device " << d;
            EXPECT_TRUE(Eventually([&] { return LiveDevice(kOffDevices[d].variable) == c.live[d]; }, 15000))
                << "case " << i << ": " << test::Narrow(kOffDevices[d].variable) << " is "
                << LiveDevice(kOffDevices[d].variable) << ", not " << c.live[d];
        }
        EXPECT_EQ(c.showFlagAfter, TaloFlag(L"DevShowFlag")) << "case " << i;
        EXPECT_TRUE(Answers()) << "case " << i;
    }
}

// While the device dialog asks, the mains are pulled (the balloon shows over it) and a
// second scheme is chosen in the menu: the second choice opens no second dialog and
// switches nothing, and OK records the first scheme, the source it was chosen on and
// exactly that scheme's devices. The service keeps to it: on battery it applies the
// scheme's own battery values (the record is for the mains), back on mains the record.
TEST_F(DeviceDialogCase, DialogKeepsItsChoiceWhileTheMainsGoAndASecondSchemeIsChosen) {
    int active = -1;
    std::vector<int> schemes = Schemes(&active);
    std::vector<size_t> items;  // the first scheme chosen, then the second; neither active
    for (size_t i = 0; i < schemes.size() && items.size() < 2; ++i)
        if (schemes[i] != active) items.push_back(i);
    ASSERT_EQ(2u, items.size());
    const int first = schemes[items[0]], second = schemes[items[1]];
    // The first switches kOffDevices off on mains and keeps them on on battery; the second
    // keeps them on and switches the modem off.
    for (const auto& device : kOffDevices) {
        PutDevice(first, device.variable, 0, 1);
        PutDevice(second, device.variable, 1, 1);
    }
    PutDevice(second, kUntouchedDevice, 0, 0);
    CSchemeEx machine;
    for (const auto& device : kOffDevices) ASSERT_EQ(0, machine.SetDeviceStatus(device.variable, 0));
    ASSERT_NO_FATAL_FAILURE(Start());

    PostMessageW(m_hub, WM_COMMAND, kFirstSchemeCommand + items[0], 0);
    Eventually([&] { return !DeviceDialogs().empty(); }, 10000);
    ASSERT_EQ(1u, DeviceDialogs().size());
    const HWND dialog = DeviceDialogs().front();
    Zoractl(L"vnb power battery");
    EXPECT_TRUE(Eventually([&] { return Balloon() != nullptr; }, 5000)) << "no balloon for the battery";
    // Sent, so that the hub has taken the choice when the call returns; the dialog's loop
    // runs the hub's messages.
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutW(m_hub, WM_COMMAND, kFirstSchemeCommand + items[1], 0, SMTO_ABORTIFHUNG, 5000,
                                    &answer))
        << "the second choice holds the hub";
    EXPECT_EQ(1u, DeviceDialogs().size());
    EXPECT_EQ(active, Active()) << "nothing switches while the dialog asks";

    RemoteListView list(GetDlgItem(dialog, kDeviceList), m_talo->Id());
    ASSERT_TRUE(list.Ok()) << GetLastError();
    ASSERT_EQ(static_cast<int>(std::size(kOffDevices)), list.Count());
    for (int row = 0; row < list.Count(); ++row) EXPECT_EQ(kOffDevices[row].name, list.Text(row)) << "row " << row;
    EXPECT_TRUE(list.SetCheck(1, true));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    EXPECT_TRUE(Eventually([&] { return !IsWindow(dialog); }, 5000));
    EXPECT_TRUE(Eventually([&] { return Active() == first; }, 20000)) << "active: " << Active();

    EXPECT_EQ(first, Enforced(L"SchemeID"));
    EXPECT_EQ(1, Enforced(L"bIfAC")) << "the source the scheme was chosen on";
    // The first scheme's devices, the second one kept on, and the modem it leaves alone.
    std::vector<std::pair<std::wstring, int>> expected = {
        {kOffDevices[0].variable, 0}, {kOffDevices[1].variable, 1}, {kOffDevices[2].variable, 0}, {kUntouchedDevice, -1}};
    auto devices = EnforcedDevices();
    std::sort(devices.begin(), devices.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, devices);

    const struct {
        const wchar_t* change;  // null: the source as it is
        int live[3];
    } sources[] = {{nullptr, {1, 1, 1}}, {L"vnb power ac", {0, 1, 0}}};
    for (const auto& source : sources) {
        if (source.change != nullptr) Zoractl(source.change);
        for (size_t d = 0; d < std::size(kOffDevices); ++d)
            EXPECT_TRUE(Eventually([&] { return LiveDevice(kOffDevices[d].variable) == source.live[d]; }, 15000))
                << (source.change ? "on mains: " : "on battery: ") << test::Narrow(kOffDevices[d].variable) << " is "
                << LiveDevice(kOffDevices[d].variable) << ", not " << source.live[d];
    }
    EXPECT_EQ(first, Active());
    EXPECT_TRUE(Answers());
}

}  // namespace
