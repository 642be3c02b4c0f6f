// The configuration store seen by programs of either architecture: where the machine
// file is found (library folder, registry fallback, a static link), the diagnostics
// switch, and a file another process changes.
#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "ZORACfg.h"
#include "ZoraInstallKey.h"

namespace {

// Sets the installation key's "SDKFolder" (64-bit view) and puts back what was there.
class SdkFolderValue {
public:
    SdkFolderValue() {
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, ZORA_INSTALL_KEY, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                        nullptr, &m_key, nullptr);
        DWORD bytes = sizeof(m_saved);
        m_hadValue = RegQueryValueExW(m_key, ZORA_INSTALL_SDK_FOLDER, nullptr, nullptr, reinterpret_cast<BYTE*>(m_saved),
                                      &bytes) == ERROR_SUCCESS;
    }
    void Set(const std::wstring& folder) {
        RegSetValueExW(m_key, ZORA_INSTALL_SDK_FOLDER, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                       static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    }
    ~SdkFolderValue() {
        if (m_hadValue)
            Set(m_saved);
        else
            RegDeleteValueW(m_key, ZORA_INSTALL_SDK_FOLDER);
        RegCloseKey(m_key);
    }

private:
    HKEY m_key = nullptr;
    wchar_t m_saved[300] = {};
    bool m_hadValue = false;
};

// An installation of the parameter's architecture: the library and both links of the peer.
class ConfigInstallTest : public test::ArchCase {
protected:
    test::TempInstall m_install{
        GetParam(), {{L"ZORADLL.dll", nullptr}, {L"zora_peer.exe", nullptr}, {L"zora_peer_static.exe", nullptr}}};

    std::string RunPeer(const std::wstring& arguments, const wchar_t* program = L"zora_peer.exe") {
        std::string output;
        EXPECT_EQ(0, test::Run(m_install.Bin() + L"\\" + program, arguments, &output)) << test::Narrow(arguments);
        return output;
    }
};

TEST_P(ConfigInstallTest, MachineFileIsFoundBesideTheLibraryFolder) {
    ASSERT_TRUE(m_install.Ok());
    ASSERT_TRUE(m_install.SetConfig("[Test]\r\nMarker=11\r\n"));
    std::string root = test::Narrow(m_install.Root());
    for (const wchar_t* program : {L"zora_peer.exe", L"zora_peer_static.exe"}) {
        std::string out = RunPeer(L"where", program);
        SCOPED_TRACE(test::Narrow(program));
        EXPECT_EQ(root + "\\bin", test::Field(out, "dll"));
        EXPECT_EQ(root, test::Field(out, "home"));
        EXPECT_EQ("1", test::Field(out, "init"));
        EXPECT_EQ(root + "\\cfg\\ZORACfg.ini", test::Field(out, "path"));
        EXPECT_EQ("11", test::Field(out, "marker"));
    }
}

TEST_P(ConfigInstallTest, RegistryFolderIsTheFallback) {
    ASSERT_TRUE(m_install.Ok());
    test::TempDir sdk;
    CreateDirectoryW((sdk.Path() + L"\\cfg").c_str(), nullptr);
    ASSERT_TRUE(test::WriteTextFile(sdk.Path() + L"\\cfg\\ZORACfg.ini", "[Test]\r\nMarker=22\r\n"));
    std::string sdkPath = test::Narrow(sdk.Path());
    // The folder written with its trailing backslash, without it, and one without the file.
    struct Case {
        std::wstring folder;
        const char *init, *path, *marker;
    } cases[] = {{sdk.Path() + L"\\", "1", "\\cfg\\ZORACfg.ini", "22"},
                 {sdk.Path(), "1", "\\cfg\\ZORACfg.ini", "22"},
                 {sdk.Path() + L"\\missing\\", "0", "\\missing\\cfg\\ZORACfg.ini", "-1"}};
    SdkFolderValue value;
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        value.Set(cases[i].folder);
        std::string out = RunPeer(L"where");
        EXPECT_EQ(cases[i].init, test::Field(out, "init")) << "case " << i;
        EXPECT_EQ(sdkPath + cases[i].path, test::Field(out, "path")) << "case " << i;
        EXPECT_EQ(cases[i].marker, test::Field(out, "marker")) << "case " << i;
    }
}

// Debug=1 turns output on for the life of the process; changing the file afterwards
// changes nothing until the next process.
TEST_P(ConfigInstallTest, DiagnosticsSwitchIsReadOncePerProcess) {
    ASSERT_TRUE(m_install.Ok());
    ASSERT_TRUE(m_install.SetConfig("[ZORACfg]\r\nDebug=1\r\n"));
    std::string out = RunPeer(L"dbgout 0");
    EXPECT_NE(std::string::npos, out.find("DBG:first wide 7|")) << out;
    EXPECT_NE(std::string::npos, out.find("DBG:second|")) << out;

    out = RunPeer(L"dbgout 1");
    EXPECT_EQ(std::string::npos, out.find("DBG:")) << "the file now says 0: " << out;

    ASSERT_TRUE(m_install.SetConfig("[ZORACfg]\r\n"));
    out = RunPeer(L"dbgout 1");
    EXPECT_EQ(std::string::npos, out.find("DBG:")) << "absent key means off: " << out;

    ASSERT_TRUE(m_install.SetConfig("[ZORACfg]\r\nDebug=3\r\n"));
    EXPECT_EQ("1023", test::Field(RunPeer(L"dbglong"), "length")) << "a long message is cut to the buffer";
}

ZORA_FOR_BOTH_ARCHS(Arch, ConfigInstallTest);

TEST(ConfigFile, AnotherProcessChangesTheFileBetweenTwoReads) {
    test::TempDir dir;
    CZORAProfile profile;
    ASSERT_EQ(1, profile.Initialize(L"values.ini", dir.Path().c_str()));
    ASSERT_TRUE(profile.PutInt(L"ZORACfg", L"CurrentScheme", 1));
    EXPECT_EQ(1, profile.GetInt(L"ZORACfg", L"CurrentScheme", -1));
    int value = 32;
    for (const wchar_t* arch : {test::OwnArch(), test::PeerArch()}) {
        std::string out;
        ASSERT_EQ(0, test::Run(test::ProgramPath(arch, L"zora_peer.exe"),
                               L"profile-put \"" + dir.Path() + L"\\\\\" values.ini ZORACfg CurrentScheme " +
                                   std::to_wstring(value),
                               &out))
            << out;
        EXPECT_EQ(test::Narrow(profile.GetFullPath()), test::Field(out, "path")) << "trailing backslash removed once";
        EXPECT_EQ(value, profile.GetInt(L"ZORACfg", L"CurrentScheme", -1));
        value *= 2;
    }
}

}  // namespace
