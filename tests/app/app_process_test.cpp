// TALO as a user starts it: its own process on the virtual notebook, found by its hidden
// hub window and ended by closing it; what it did is read back from the scheme store (by
// zoractl, as the same Windows version), the user's profile file and the registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "DebuggeeOutput.h"
#include "MachineSupport.h"
#include "TaloProcess.h"
#include "TestSupport.h"
#include "ZORACfg.h"

namespace {

using namespace talo_test;

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
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTaloKey); }

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

// A resource module that cannot be loaded ends TALO before it reads anything more, with
// its two debug lines, the first naming the path and the system's error.
TEST_P(TaloCase, ResourceModuleThatCannotLoadEndsTaloWithItsDebugLines) {
    test::TempDir dir;
    std::wstring notModule = dir.Path() + L"\\TALORes.dll";
    ASSERT_TRUE(test::WriteTextFile(notModule, "not a module"));
    const struct {
        std::wstring path;
        DWORD error;
    } cases[] = {// A missing file is "module not found" to the loader, on Windows as here.
                 {dir.Path() + L"\\missing\\TALORes.dll", ERROR_MOD_NOT_FOUND},
                 {notModule, ERROR_BAD_EXE_FORMAT}};
    for (const auto& c : cases) {
        m_cfg.Set(L"TALOCfg", L"TALOResource", c.path.c_str());
        test::DebuggeeOutput talo;
        ASSERT_TRUE(talo.Launch(Talo(), L"")) << talo.AttachError();
        EXPECT_EQ(1, talo.WaitExit(20000)) << test::Narrow(c.path);
        std::string line = "Load new resource module failed [" + test::Narrow(c.path) + "] for " +
                           std::to_string(c.error) + ".";
        EXPECT_EQ(1u, talo.Count(line)) << line << "\n" << talo.Text();
        EXPECT_EQ(1u, talo.Count("Load resource Dll failed!!!")) << test::Narrow(c.path);
        EXPECT_EQ(-1, TaloFlag(L"TALOStartFlag")) << test::Narrow(c.path);
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
