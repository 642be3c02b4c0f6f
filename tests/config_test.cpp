// The configuration store: where the machine file is found (library folder, registry
// fallback, a static link), typed access, per-user files, and the diagnostics switch.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>

#include "TestSupport.h"
#include "ZORACfg.h"
#include "ZoraInstallKey.h"

namespace {

// A copy of the installation layout in a temporary folder: <root>\bin holds the
// library and the peer program, <root>\cfg the machine files.
class TempInstall {
public:
    explicit TempInstall(const wchar_t* arch, bool withCfgFolder = true) : m_arch(arch) {
        m_bin = m_dir.Path() + L"\\bin";
        CreateDirectoryW(m_bin.c_str(), nullptr);
        if (withCfgFolder) CreateDirectoryW(Cfg().c_str(), nullptr);
        m_ok = test::CopyInto(test::ProgramPath(arch, L"ZORADLL.dll"), m_bin) &&
               test::CopyInto(test::ProgramPath(arch, L"zora_peer.exe"), m_bin) &&
               test::CopyInto(test::ProgramPath(arch, L"zora_peer_static.exe"), m_bin);
    }
    bool Ok() const { return m_ok; }
    std::wstring Root() const { return m_dir.Path(); }
    std::wstring Cfg() const { return m_dir.Path() + L"\\cfg"; }
    std::string RunPeer(const std::wstring& arguments, const wchar_t* program = L"zora_peer.exe") const {
        std::string output;
        int code = test::Run(m_bin + L"\\" + program, arguments, &output);
        EXPECT_EQ(0, code) << test::Narrow(arguments) << " in " << test::Narrow(m_arch) << ": " << output;
        return output;
    }

private:
    const wchar_t* m_arch;
    test::TempDir m_dir;
    std::wstring m_bin;
    bool m_ok = false;
};

// Sets the installation key's "SDKFolder" (64-bit view) and puts back what was there.
class SdkFolderValue {
public:
    explicit SdkFolderValue(const std::wstring& folder) {
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, ZORA_INSTALL_KEY, 0, nullptr, 0,
                        KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &m_key, nullptr);
        DWORD bytes = sizeof(m_saved);
        m_hadValue = RegQueryValueExW(m_key, ZORA_INSTALL_SDK_FOLDER, nullptr, nullptr, reinterpret_cast<BYTE*>(m_saved),
                                      &bytes) == ERROR_SUCCESS;
        Set(folder);
    }
    void Set(const std::wstring& folder) {
        RegSetValueExW(m_key, ZORA_INSTALL_SDK_FOLDER, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                       static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    }
    ~SdkFolderValue() {
        if (m_hadValue)
            RegSetValueExW(m_key, ZORA_INSTALL_SDK_FOLDER, 0, REG_SZ, reinterpret_cast<const BYTE*>(m_saved),
                           static_cast<DWORD>((wcslen(m_saved) + 1) * sizeof(wchar_t)));
        else
            RegDeleteValueW(m_key, ZORA_INSTALL_SDK_FOLDER);
        RegCloseKey(m_key);
    }

private:
    HKEY m_key = nullptr;
    wchar_t m_saved[300] = {};
    bool m_hadValue = false;
};

class ConfigInstallTest : public ::testing::TestWithParam<const wchar_t*> {
protected:
    void SetUp() override {
        if (!test::ArchRuns(GetParam())) GTEST_SKIP() << test::CannotRun(GetParam());
    }
};

TEST_P(ConfigInstallTest, MachineFileIsFoundBesideTheLibraryFolder) {
    TempInstall install(GetParam());
    ASSERT_TRUE(install.Ok());
    ASSERT_TRUE(test::WriteTextFile(install.Cfg() + L"\\ZORACfg.ini", "[Test]\r\nMarker=11\r\n"));
    for (const wchar_t* program : {L"zora_peer.exe", L"zora_peer_static.exe"}) {
        std::string out = install.RunPeer(L"where", program);
        std::string root = test::Narrow(install.Root());
        SCOPED_TRACE(test::Narrow(program));
        EXPECT_EQ(root + "\\bin", test::Field(out, "dll"));
        EXPECT_EQ(root, test::Field(out, "home"));
        EXPECT_EQ("1", test::Field(out, "init"));
        EXPECT_EQ(root + "\\cfg\\ZORACfg.ini", test::Field(out, "path"));
        EXPECT_EQ("11", test::Field(out, "marker"));
    }
}

TEST_P(ConfigInstallTest, RegistryFolderIsTheFallback) {
    TempInstall install(GetParam(), false);
    ASSERT_TRUE(install.Ok());
    test::TempDir sdk;
    CreateDirectoryW((sdk.Path() + L"\\cfg").c_str(), nullptr);
    ASSERT_TRUE(test::WriteTextFile(sdk.Path() + L"\\cfg\\ZORACfg.ini", "[Test]\r\nMarker=22\r\n"));
    std::string sdkPath = test::Narrow(sdk.Path());

    SdkFolderValue value(sdk.Path() + L"\\");
    std::string out = install.RunPeer(L"where");
    EXPECT_EQ("1", test::Field(out, "init"));
    EXPECT_EQ(sdkPath + "\\cfg\\ZORACfg.ini", test::Field(out, "path"));
    EXPECT_EQ("22", test::Field(out, "marker"));

    // A folder written without its trailing backslash names the same folder.
    value.Set(sdk.Path());
    out = install.RunPeer(L"where");
    EXPECT_EQ(sdkPath + "\\cfg\\ZORACfg.ini", test::Field(out, "path"));

    // Neither location holds the file: 0, and the registry path stays chosen.
    value.Set(sdk.Path() + L"\\missing\\");
    out = install.RunPeer(L"where");
    EXPECT_EQ("0", test::Field(out, "init"));
    EXPECT_EQ(sdkPath + "\\missing\\cfg\\ZORACfg.ini", test::Field(out, "path"));
    EXPECT_EQ("-1", test::Field(out, "marker"));
}

// Debug=1 turns output on for the life of the process; changing the file afterwards
// changes nothing until the next process.
TEST_P(ConfigInstallTest, DiagnosticsSwitchIsReadOncePerProcess) {
    TempInstall install(GetParam());
    ASSERT_TRUE(install.Ok());
    std::wstring ini = install.Cfg() + L"\\ZORACfg.ini";

    ASSERT_TRUE(test::WriteTextFile(ini, "[ZORACfg]\r\nDebug=1\r\n"));
    std::string out = install.RunPeer(L"dbgout 0");
    EXPECT_NE(std::string::npos, out.find("DBG:first wide 7|")) << out;
    EXPECT_NE(std::string::npos, out.find("DBG:second|")) << out;

    // The file now says 0: a new process is silent, even after it writes 1.
    out = install.RunPeer(L"dbgout 1");
    EXPECT_EQ(std::string::npos, out.find("DBG:")) << out;

    ASSERT_TRUE(test::WriteTextFile(ini, "[ZORACfg]\r\n"));
    out = install.RunPeer(L"dbgout 1");
    EXPECT_EQ(std::string::npos, out.find("DBG:")) << "absent key means off: " << out;

    ASSERT_TRUE(test::WriteTextFile(ini, "[ZORACfg]\r\nDebug=3\r\n"));
    out = install.RunPeer(L"dbglong");
    EXPECT_EQ("1023", test::Field(out, "length")) << "a long message is cut to the buffer";
}

INSTANTIATE_TEST_SUITE_P(Arch, ConfigInstallTest, ::testing::Values(L"i686", L"x86_64"),
                         [](const auto& info) { return test::Narrow(info.param); });

// Typed access on a file of this process's own.
class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(1, m_profile.Initialize(L"values.ini", m_dir.Path().c_str()));
        m_path = m_profile.GetFullPath();
    }
    test::TempDir m_dir;
    CZORAProfile m_profile;
    std::wstring m_path;
};

TEST_F(ConfigFileTest, HexValuesAreReadOnlyInTheZeroXForm) {
    struct Case {
        const char* text;
        int expected;
    } cases[] = {
        {"0x1F", 31}, {"0x1f", 31}, {"0X1F", -7}, {"1F", -7},        {"0x", -7},          {"0xZ", -7},
        {"", -7},     {"0x0", 0},   {"0xff", 255}, {"0xffffffff", -1}, {"0x7fffffff", 0x7fffffff},
        {"0x1G", 1},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        std::string text = std::string("[S]\r\nK=") + cases[i].text + "\r\n";
        ASSERT_TRUE(test::WriteTextFile(m_path, text.c_str()));
        EXPECT_EQ(cases[i].expected, m_profile.GetHex(L"S", L"K", -7)) << "case " << i << " \"" << cases[i].text << "\"";
    }
    EXPECT_EQ(-7, m_profile.GetHex(L"S", L"Absent", -7));
}

TEST_F(ConfigFileTest, WritesUseTheirFormats) {
    EXPECT_TRUE(m_profile.PutHex(L"S", L"H", 255));
    EXPECT_TRUE(m_profile.PutInt(L"S", L"I", -42));
    EXPECT_TRUE(m_profile.PutString(L"S", L"T", L"text with spaces"));
    wchar_t raw[64];
    GetPrivateProfileStringW(L"S", L"H", L"", raw, 64, m_path.c_str());
    EXPECT_STREQ(L"0xff", raw);
    GetPrivateProfileStringW(L"S", L"I", L"", raw, 64, m_path.c_str());
    EXPECT_STREQ(L"-42", raw);
    EXPECT_EQ(255, m_profile.GetHex(L"S", L"H", 0));
    EXPECT_EQ(-42, m_profile.GetInt(L"S", L"I", 0));
    wchar_t text[8];
    int copied = m_profile.GetString(L"S", L"T", L"", text, 8);
    EXPECT_EQ(7, copied) << "a short buffer gets what fits, terminated";
    EXPECT_STREQ(L"text wi", text);
    EXPECT_EQ(0, m_profile.GetString(L"S", L"T", L"", nullptr, 8));
    copied = m_profile.GetString(L"S", L"Absent", L"dflt", text, 8);
    EXPECT_EQ(4, copied);
    EXPECT_STREQ(L"dflt", text);
    EXPECT_EQ(1000u, m_profile.GetVersion());
}

TEST_F(ConfigFileTest, AnotherProcessChangesTheFileBetweenTwoReads) {
    ASSERT_TRUE(m_profile.PutInt(L"ZORACfg", L"CurrentScheme", 1));
    EXPECT_EQ(1, m_profile.GetInt(L"ZORACfg", L"CurrentScheme", -1));
    int round = 0;
    for (const wchar_t* arch : {test::OwnArch(), test::PeerArch()}) {
        std::wstring peer = test::ProgramPath(arch, L"zora_peer.exe");
        ASSERT_FALSE(peer.empty());
        std::wstring value = std::to_wstring(32 << round++);
        std::string out;
        ASSERT_EQ(0, test::Run(peer, L"profile-put \"" + m_dir.Path() + L"\\\\\" values.ini ZORACfg CurrentScheme " + value,
                               &out))
            << out;
        EXPECT_EQ(test::Narrow(m_path), test::Field(out, "path")) << "trailing backslash removed once";
        EXPECT_EQ(_wtoi(value.c_str()), m_profile.GetInt(L"ZORACfg", L"CurrentScheme", -1));
    }
}

TEST(ConfigProfileTest, FolderGivenWithTrailingBackslashAndMissingParents) {
    test::TempDir dir;
    std::wstring folder = dir.Path() + L"\\a\\b\\c\\";
    CZORAProfile profile;
    EXPECT_EQ(1, profile.Initialize(L"ZoraScheme.ini", folder.c_str()));
    EXPECT_EQ(dir.Path() + L"\\a\\b\\c\\ZoraScheme.ini", std::wstring(profile.GetFullPath()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(profile.GetFullPath()));
    EXPECT_EQ(0, profile.Initialize(nullptr, folder.c_str()));
    std::wstring tooLong = dir.Path() + L"\\" + std::wstring(300, L'x');
    EXPECT_EQ(0, profile.Initialize(L"f.ini", tooLong.c_str()));
}

// The calling user's own folder: local application data + Korvex\ZORA\Cfg, created
// with the file when the user has none yet.
TEST(ConfigProfileTest, UserWithoutProfileFolderGetsOne) {
    wchar_t localAppData[MAX_PATH];
    ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, localAppData));
    std::wstring expectedFolder = std::wstring(localAppData) + L"\\Korvex\\ZORA\\Cfg";
    std::wstring file = expectedFolder + L"\\ZoraTestProfile.ini";
    DeleteFileW(file.c_str());
    RemoveDirectoryW(expectedFolder.c_str());  // only when nothing else is in it

    CZORAProfile profile;
    wchar_t home[MAX_PATH];
    ASSERT_NE(nullptr, profile.GetHomePath(home, MAX_PATH));
    EXPECT_EQ(expectedFolder, std::wstring(home));
    wchar_t small[10];
    EXPECT_EQ(nullptr, profile.GetHomePath(small, 10));

    EXPECT_EQ(1, profile.Initialize(L"ZoraTestProfile.ini", nullptr));
    EXPECT_EQ(file, std::wstring(profile.GetFullPath()));
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle);
    EXPECT_EQ(0u, GetFileSize(handle, nullptr)) << "created empty";
    CloseHandle(handle);
    // A second initialisation finds the file and keeps its contents.
    ASSERT_TRUE(profile.PutInt(L"S", L"K", 5));
    CZORAProfile again;
    EXPECT_EQ(1, again.Initialize(L"ZoraTestProfile.ini", nullptr));
    EXPECT_EQ(5, again.GetInt(L"S", L"K", 0));
    DeleteFileW(file.c_str());
}

}  // namespace
