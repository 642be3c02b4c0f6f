// The OS helpers in a program run under Wine's per-program settings: the version test
// on the XP and Vista a program is told it runs on, and desktop composition on a
// system without its library.
#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"

namespace {

// HKCU\Software\Wine\AppDefaults\<exe>[\<subkey>] "<name>" = value for the life of the
// object: Wine's settings for one program.
class AppDefault {
public:
    AppDefault(const std::wstring& exe, const wchar_t* subkey, const wchar_t* name, const wchar_t* value)
        : m_key(L"Software\\Wine\\AppDefaults\\" + exe) {
        std::wstring path = m_key + (subkey ? std::wstring(L"\\") + subkey : L"");
        HKEY key = nullptr;
        m_ok = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                               nullptr) == ERROR_SUCCESS &&
               RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                              static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    ~AppDefault() { RegDeleteTreeW(HKEY_CURRENT_USER, m_key.c_str()); }
    bool Ok() const { return m_ok; }

private:
    std::wstring m_key;
    bool m_ok = false;
};

// The peer under a name of its own beside the library, with diagnostics on: what it
// prints under the settings Wine keeps for that name.
std::string RunRenamedPeer(const wchar_t* purpose, const wchar_t* subkey, const wchar_t* name, const wchar_t* value,
                           const wchar_t* verb) {
    std::wstring exe = std::wstring(L"zora_peer_") + purpose + L"_" + test::OwnArch() + L".exe";
    test::TempInstall install(test::OwnArch(), {{L"ZORADLL.dll", nullptr}, {L"zora_peer.exe", exe.c_str()}});
    AppDefault setting(exe, subkey, name, value);
    std::string output;
    EXPECT_TRUE(install.Ok() && install.SetConfig("[ZORACfg]\r\nDebug=1\r\n") && setting.Ok());
    EXPECT_EQ(0, test::Run(install.Bin() + L"\\" + exe, verb, &output)) << output;
    return output;
}

TEST(OsWinVersion, ProgramsToldTheyRunOnXpOrVistaSeeThatVersion) {
    struct Case {
        const wchar_t* version;
        const char *vista, *message;
    } cases[] = {{L"winxp", "0", "DBG:Windows version 5.1"},
                 {L"vista", "1", "DBG:Windows version 6.0"},
                 {L"win7", "1", "DBG:Windows version 6.1"}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        std::string output = RunRenamedPeer(cases[i].version, nullptr, L"Version", cases[i].version, L"version");
        EXPECT_EQ(cases[i].vista, test::Field(output, "vista")) << "case " << i << ": " << output;
        EXPECT_NE(std::string::npos, output.find(cases[i].message)) << "case " << i << ": " << output;
    }
}

// A system without dwmapi.dll (XP): the library is switched off for the renamed peer
// (Wine's per-program DLL override). Each call tries to load it again and fails the same way.
TEST(OsWinAero, MissingCompositionLibraryFailsEveryTime) {
    std::string output = RunRenamedPeer(L"nodwm", L"DllOverrides", L"dwmapi", L"", L"aero");
    for (const char* call : {"set1", "set2", "ison", "load"}) EXPECT_EQ("80004005", test::Field(output, call)) << call;
    size_t first = output.find("Failed to load dwmapi.dll");
    ASSERT_NE(std::string::npos, first) << output;
    size_t second = output.find("Failed to load dwmapi.dll", first + 1);
    EXPECT_NE(std::string::npos, second) << "the second call tried again";
    EXPECT_NE(std::string::npos, output.find("Failed to load dwmapi.dll", second + 1)) << "and IsAeroOn too";
}

TEST(OsWinAero, PresentCompositionLibraryAnswers) {
    std::string output;
    ASSERT_EQ(0, test::Run(test::ProgramPath(test::OwnArch(), L"zora_peer.exe"), L"aero", &output)) << output;
    EXPECT_EQ("0", test::Field(output, "load")) << output;
    EXPECT_EQ(std::string::npos, output.find("Failed to load dwmapi.dll")) << output;
    EXPECT_EQ(std::string::npos, output.find("Failed to get function in dwmapi.dll")) << output;
}

}  // namespace
