// TALO as a user starts it: its own process on the virtual notebook, found by its hidden
// hub window and ended by closing it; what it did is read back from the scheme store (by
// zoractl, as the same Windows version), the user's profile file and the registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>
#include <optional>
#include <string>
#include <utility>

#include "DebuggeeOutput.h"
#include "MachineSupport.h"
#include "TaloProcess.h"
#include "TestSupport.h"
#include "ZORACfg.h"

namespace {

using namespace talo_test;

// The texts of a window and of its children, one per line.
BOOL CALLBACK AppendChildText(HWND child, LPARAM param) {
    wchar_t text[1024] = L"";
    GetWindowTextW(child, text, 1024);
    *reinterpret_cast<std::wstring*>(param) += std::wstring(text) + L"\n";
    return TRUE;
}
std::wstring TextsOf(HWND window) {
    std::wstring texts;
    AppendChildText(window, reinterpret_cast<LPARAM>(&texts));
    EnumChildWindows(window, AppendChildText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}
// ASCII text as wide.
std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }
std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = towlower(c);
    return text;
}

// TALO on a fresh machine and a new user: no scheme file, no profile, no TALO key. The
// parameter is the Windows version TALO and zoractl run as.
class TaloCase : public ::testing::TestWithParam<const wchar_t*> {
protected:
    void SetUp() override {
        m_machine.emplace();
        ASSERT_TRUE(m_machine->Ok());
        CZORAProfile schemes;
        schemes.Initialize(L"ZORAScheme.ini", nullptr);
        DeleteFileW(schemes.GetFullPath());
        DeleteFileW(ProfilePath().c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, kTaloKey);
        ASSERT_FALSE(Talo().empty());
    }
    // The user's profile goes too: a scheme case after this one starts from a user folder
    // it can remove.
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kTaloKey);
        DeleteFileW(ProfilePath().c_str());
    }

    // Starts TALO and waits for its hub to answer, that is for its start-up to end.
    HWND Start(test::Process& talo) {
        if (!talo.Start(Talo(), L"")) return nullptr;
        return HubOf(talo.Id(), 60000);
    }
    // Closes the hub as the exit command does; TALO's exit code.
    int Close(test::Process& talo, HWND hub) {
        PostMessageW(hub, WM_CLOSE, 0, 0);
        return talo.Wait(20000);
    }
    std::string Zoractl(const std::wstring& arguments) {
        std::string output;
        test::Run(test::ProgramPath(test::OwnArch(), L"zoractl.exe"), arguments, &output);
        return output;
    }
    // The index zoractl lists a scheme of that name under, -1 when it has none.
    int SchemeIndex(const std::string& name) {
        std::string listing = Zoractl(L"scheme list");
        size_t at = listing.find("  " + name + "\n");
        if (at == std::string::npos) at = listing.find("  " + name + "\r");
        if (at == std::string::npos) return -1;
        size_t line = listing.rfind('\n', at);
        return atoi(listing.c_str() + (line == std::string::npos ? 0 : line + 1) + 2);
    }
    int Variable(int scheme, const wchar_t* variable, const wchar_t* source) {
        return atoi(Zoractl(L"scheme get " + std::to_wstring(scheme) + L" \"" + variable + L"\" " + source).c_str());
    }

    std::optional<test::FreshMachine> m_machine;
    test::CfgOverride m_cfg{L"ZORACfg.ini"};
    test::WindowsVersionOf m_talo{L"TALO.exe", GetParam()};
    test::WindowsVersionOf m_zoractl{L"zoractl.exe", GetParam()};
};

// The first start creates the product's schemes with their values, lists every scheme
// in the profile and sets the start flag; the second start seeds nothing, so what the
// user changed since stays.
TEST_P(TaloCase, FirstStartSeedsTheSchemesOnceAndTheSecondLeavesThem) {
    bool vista = wcscmp(GetParam(), L"vista") == 0;
    {
        test::Process talo;
        HWND hub = Start(talo);
        ASSERT_NE(nullptr, hub);
        EXPECT_EQ(0, Close(talo, hub));
    }
    EXPECT_EQ(1, TaloFlag(L"TALOStartFlag"));

    // The system's own schemes: listed with icons by their order, shown as the product
    // wants them ([Scheme XP] hides XP's six), with the product's values.
    int icons = 0;
    for (int index = 0; index < (vista ? 3 : 6); ++index) {
        EXPECT_EQ(0, ProfileInt(index, L"IfDefault")) << index;
        icons |= 1 << ProfileInt(index, L"IconNum");
        EXPECT_EQ(vista ? 1 : 0, ProfileInt(index, L"IfShow")) << index;
        EXPECT_EQ(50, Variable(index, L"VXPS", L"dc")) << index;
    }
    EXPECT_EQ(vista ? 07 : 077, icons);
    // The product's schemes, each with its icon and values; a backlight option number
    // becomes the level it stands for.
    const struct {
        const char* name;
        int icon;
        const wchar_t* variable;
        int ac, dc;
    } products[] = {{"Maximum Performance", 0, L"CpuSpeed", 100, 100}, {"Everyday", 1, L"USBPort 10", 0, 1},
                    {"Battery Saver", 2, L"BacklightLevel", 6, 3},       {"Presentation Mode", 3, L"Modem", 0, 0},
                    {"Quiet", 4, L"LinkStepOption", 0, 43}};
    for (const auto& product : products) {
        int index = SchemeIndex(product.name);
        ASSERT_GE(index, 0) << product.name;
        EXPECT_EQ(1, ProfileInt(index, L"IfDefault")) << product.name;
        EXPECT_EQ(product.icon, ProfileInt(index, L"IconNum")) << product.name;
        EXPECT_EQ(1, ProfileInt(index, L"IfShow")) << product.name;
        EXPECT_EQ(product.ac, Variable(index, product.variable, L"ac")) << product.name;
        EXPECT_EQ(product.dc, Variable(index, product.variable, L"dc")) << product.name;
    }

    int quiet = SchemeIndex("Quiet"), saver = SchemeIndex("Battery Saver");
    Zoractl(L"scheme delete " + std::to_wstring(quiet));
    ASSERT_EQ(-1, SchemeIndex("Quiet"));
    WritePrivateProfileStringW((L"Scheme" + std::to_wstring(saver)).c_str(), L"IconNum", L"7", ProfilePath().c_str());
    {
        test::Process talo;
        HWND hub = Start(talo);
        ASSERT_NE(nullptr, hub);
        EXPECT_EQ(0, Close(talo, hub));
    }
    EXPECT_EQ(-1, SchemeIndex("Quiet"));
    EXPECT_EQ(7, ProfileInt(saver, L"IconNum"));
}

// A user's own schemes, made with zoractl before TALO ever ran, keep every setting through
// TALO's first start, whether or not a product scheme has the same name; the product's
// schemes come beside them, and a name taken is not taken again.
TEST_P(TaloCase, UsersOwnSchemesKeepEverySettingThroughTheFirstStart) {
    const struct {
        const char* name;
        const wchar_t* variable;  // set to values of the user's own, on mains and on battery
        int ac, dc;
    } mine[] = {{"Night Shift", L"Wifi", 1, 0}, {"Everyday", L"USBPort 10", 1, 0}};  // Everyday: a product scheme's name
    // Everything zoractl shows of a scheme but its first line (which carries the index;
    // Vista's index map is rebuilt on the first start).
    auto settings = [&](const char* name) {
        const std::string shown = Zoractl(L"scheme show " + std::to_wstring(SchemeIndex(name)));
        return shown.substr(shown.find('\n') + 1);
    };
    std::string before[std::size(mine)];
    for (size_t i = 0; i < std::size(mine); ++i) {
        Zoractl(L"scheme create \"" + Wide(mine[i].name) + L"\"");
        const int index = SchemeIndex(mine[i].name);
        ASSERT_GE(index, 0) << mine[i].name;
        for (const auto& [source, value] : {std::pair{L"ac", mine[i].ac}, std::pair{L"dc", mine[i].dc}})
            Zoractl(L"scheme set " + std::to_wstring(index) + L" \"" + mine[i].variable + L"\" " + source + L" " +
                    std::to_wstring(value));
        ASSERT_EQ(mine[i].ac, Variable(index, mine[i].variable, L"ac")) << mine[i].name;
        ASSERT_EQ(mine[i].dc, Variable(index, mine[i].variable, L"dc")) << mine[i].name;
        before[i] = settings(mine[i].name);
    }
    {
        test::Process talo;
        HWND hub = Start(talo);
        ASSERT_NE(nullptr, hub);
        EXPECT_EQ(0, Close(talo, hub));
    }
    ASSERT_EQ(1, TaloFlag(L"TALOStartFlag"));

    const std::string listing = Zoractl(L"scheme list");
    for (size_t i = 0; i < std::size(mine); ++i) {
        const int index = SchemeIndex(mine[i].name);
        ASSERT_GE(index, 0) << mine[i].name;
        EXPECT_EQ(before[i], settings(mine[i].name)) << mine[i].name;
        EXPECT_EQ(0, ProfileInt(index, L"IfDefault")) << mine[i].name << ": the user's, not the product's";
        size_t listed = 0;
        for (size_t at = 0; (at = listing.find("  " + std::string(mine[i].name), at)) != std::string::npos; ++at) {
            const char after = listing.c_str()[at + 2 + strlen(mine[i].name)];
            listed += after == '\r' || after == '\n' ? 1 : 0;
        }
        EXPECT_EQ(1u, listed) << mine[i].name << ":\n" << listing;
    }
    for (const char* product : {"Maximum Performance", "Battery Saver", "Quiet"}) {
        const int index = SchemeIndex(product);
        ASSERT_GE(index, 0) << product << " not added:\n" << listing;
        EXPECT_EQ(1, ProfileInt(index, L"IfDefault")) << product;
    }
}

// One TALO per session: a second one leaves at once; the first runs on.
TEST_P(TaloCase, SecondInstanceLeavesAndTheFirstRunsOn) {
    SetTaloFlag(L"TALOStartFlag", 1);  // not a first run: no seeding
    test::Process first, second;
    HWND hub = Start(first);
    ASSERT_NE(nullptr, hub);
    ASSERT_TRUE(second.Start(Talo(), L""));
    EXPECT_EQ(1, second.Wait(20000));
    EXPECT_TRUE(first.Running());
    EXPECT_EQ(hub, HubOf(first.Id(), 1000));
    EXPECT_EQ(0, Close(first, hub));
}

// A start that cannot go on (ZORACfg.ini missing or garbage, a resource module that is
// missing or no module) ends TALO before it reads anything more. It says which file and
// why: the two resource-module debug lines where they apply, a line "TALO cannot start: ..." naming the
// file and the cause, and a message box with that text, which blocks until a user (here
// the test) answers it. TALO runs from an installation of its own, so that its ZORACfg.ini
// can be missing.
TEST_P(TaloCase, StartThatCannotGoOnNamesTheFileAndTheCause) {
    test::TempInstall install(test::OwnArch(), {{L"TALO.exe", nullptr}, {L"ZORADLL.dll", nullptr}});
    ASSERT_TRUE(install.Ok());
    test::TempDir dir;
    const std::wstring missingModule = dir.Path() + L"\\missing\\TALORes.dll";
    const std::wstring notModule = dir.Path() + L"\\TALORes.dll";
    ASSERT_TRUE(test::WriteTextFile(notModule, "not a module"));
    const std::wstring cfg = install.Cfg() + L"\\ZORACfg.ini";
    const struct {
        const char* name;
        std::string cfgText;  // "-": no ZORACfg.ini
        std::wstring file;    // what the line and the box name
        std::string cause;
        DWORD loadError;  // the loader's error, 0 where no load was tried
    } cases[] = {
        {"ZORACfg.ini missing", "-", cfg, "is missing", 0},
        {"ZORACfg.ini garbage", "\x7f" "ELF\x02\x01\x01 \x90\xff\xfe garbage =;[\x1b[0m\x01", cfg, "names no resource module",
         0},
        // A missing file is "module not found" to the loader, on Windows as here.
        {"module missing", "[TALOCfg]\r\nTALOResource=" + test::Narrow(missingModule) + "\r\n", missingModule,
         "cannot be loaded", ERROR_MOD_NOT_FOUND},
        {"not a module", "[TALOCfg]\r\nTALOResource=" + test::Narrow(notModule) + "\r\n", notModule,
         "cannot be loaded", ERROR_BAD_EXE_FORMAT},
    };
    for (const auto& c : cases) {
        DeleteFileW(cfg.c_str());
        if (c.cfgText != "-") {
            ASSERT_TRUE(test::WriteTextFile(cfg, c.cfgText.c_str())) << c.name;
        }
        test::DebuggeeOutput talo;
        ASSERT_TRUE(talo.Launch(install.Bin() + L"\\TALO.exe", L"")) << talo.AttachError();
        ASSERT_TRUE(talo.WaitFor("TALO cannot start: ", 20000)) << c.name << "\n" << talo.Text();
        const std::string said = talo.Text().substr(talo.Text().find("TALO cannot start: "));
        EXPECT_NE(std::string::npos, test::Narrow(Lower(Wide(said))).find(test::Narrow(Lower(c.file)) + " " + c.cause))
            << c.name << ": " << said;
        const std::string loadLine = "Load new resource module failed [" + test::Narrow(c.file) + "] for " +
                                     std::to_string(c.loadError) + ".";
        if (c.loadError != 0) {
            EXPECT_EQ(1u, talo.Count(loadLine)) << c.name << ": " << loadLine << "\n" << talo.Text();
            EXPECT_NE(std::string::npos, said.find("(" + std::to_string(c.loadError) + ")"))
                << c.name << ": the system's error code";
        } else {
            EXPECT_EQ(0u, talo.Count("Load new resource module failed")) << c.name << "\n" << talo.Text();
        }
        EXPECT_EQ(1u, talo.Count("Load resource Dll failed!!!")) << c.name << "\n" << talo.Text();

        // The box: TALO's only window, on the desktop TALO was started on.
        HWND box = nullptr;
        test::Eventually([&] { return (box = FindWindowW(L"#32770", L"Lumenkeep\u00AE")) != nullptr; }, 10000);
        ASSERT_NE(nullptr, box) << c.name;
        // Its text is set a moment after the window is made.
        const std::wstring boxSays = Lower(c.file) + L" " + Wide(c.cause);
        EXPECT_TRUE(test::Eventually([&] { return Lower(TextsOf(box)).find(boxSays) != std::wstring::npos; }))
            << c.name << ": " << test::Narrow(TextsOf(box));
        EXPECT_EQ(-1, talo.WaitExit(500)) << c.name << ": TALO waits for the box to be answered";
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(1, talo.WaitExit(20000)) << c.name;
        EXPECT_EQ(-1, TaloFlag(L"TALOStartFlag")) << c.name;
    }
}

// The tray menu's about command opens one about box, however often it comes, with the
// resource module's texts; OK closes it and TALO runs on.
TEST_P(TaloCase, AboutCommandOpensOneAboutBox) {
    SetTaloFlag(L"TALOStartFlag", 1);
    test::Process talo;
    HWND hub = Start(talo);
    ASSERT_NE(nullptr, hub);
    PostMessageW(hub, WM_COMMAND, 32774, 0);
    PostMessageW(hub, WM_COMMAND, 32774, 0);
    HWND about = nullptr;
    for (int i = 0; i < 100 && about == nullptr; ++i, Sleep(50)) about = VisibleDialogOf(talo.Id());
    ASSERT_NE(nullptr, about);
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(hub, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);  // the second command is through
    EXPECT_EQ(1, CountVisibleDialogs(talo.Id()));

    HMODULE module = LoadLibraryW((test::ExeDir() + L"\\TALORes.dll").c_str());
    ASSERT_NE(nullptr, module);
    wchar_t expected[128] = L"", shown[128] = L"";
    LoadStringW(module, 132, expected, 128);
    FreeLibrary(module);
    GetDlgItemTextW(about, 1010, shown, 128);
    EXPECT_STRNE(L"", expected);
    EXPECT_STREQ(expected, shown);

    PostMessageW(about, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 100 && IsWindow(about); ++i) Sleep(50);
    EXPECT_FALSE(IsWindow(about));
    EXPECT_EQ(hub, HubOf(talo.Id(), 5000));
    EXPECT_EQ(0, Close(talo, hub));
}

INSTANTIATE_TEST_SUITE_P(Talo, TaloCase, ::testing::Values(L"winxp", L"vista"),
                         [](const auto& info) { return test::Narrow(info.param); });

}  // namespace
