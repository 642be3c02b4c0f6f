// The configuration store inside one process: typed access on a file of its own, the
// folders it reports, and the per-user file.
#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "ZORACfg.h"

namespace {

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
        {"0x1F", 31},
        {"0x1f", 31},
        {"0X1F", -7},
        {"1F", -7},
        {"0x", -7},
        {"0xZ", -7},
        {"", -7},
        {"0x0", 0},
        {"0xff", 255},
        {"0xffffffff", -1},
        {"0x7fffffff", 0x7fffffff},
        {"0x1G", 1},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        std::string text = std::string("[S]\r\nK=") + cases[i].text + "\r\n";
        ASSERT_TRUE(test::WriteTextFile(m_path, text.c_str()));
        EXPECT_EQ(cases[i].expected, m_profile.GetHex(L"S", L"K", -7))
            << "case " << i << " \"" << cases[i].text << "\"";
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
    GetPrivateProfileStringW(L"S", L"T", L"", raw, 64, m_path.c_str());
    EXPECT_STREQ(L"text with spaces", raw);
    EXPECT_EQ(255, m_profile.GetHex(L"S", L"H", 0));
    EXPECT_EQ(-42, m_profile.GetInt(L"S", L"I", 0));
    EXPECT_EQ(1000u, m_profile.GetVersion());
}

// The value "text with spaces" (16 characters) and the default "dflt" into buffers of
// the exact fit, one short and smaller: what fits, always terminated.
TEST_F(ConfigFileTest, GetStringFillsTheCallersBuffer) {
    ASSERT_TRUE(m_profile.PutString(L"S", L"T", L"text with spaces"));
    struct Case {
        const wchar_t* key;
        int size, copied;
        const wchar_t* text;
    } cases[] = {
        {L"T", 17, 16, L"text with spaces"},
        {L"T", 16, 15, L"text with space"},
        {L"T", 8, 7, L"text wi"},
        {L"T", 1, 0, L""},
        {L"Absent", 5, 4, L"dflt"},
        {L"Absent", 4, 3, L"dfl"},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        wchar_t text[32];
        wmemset(text, L'#', 32);
        EXPECT_EQ(cases[i].copied, m_profile.GetString(L"S", cases[i].key, L"dflt", text, cases[i].size))
            << "case " << i;
        EXPECT_STREQ(cases[i].text, text) << "case " << i;
        EXPECT_EQ(L'#', text[cases[i].size]) << "nothing written past the buffer, case " << i;
    }
    EXPECT_EQ(0, m_profile.GetString(L"S", L"T", L"", nullptr, 8));
    wchar_t untouched[4] = L"abc";
    EXPECT_EQ(0, m_profile.GetString(L"S", L"T", L"", untouched, 0));
    EXPECT_STREQ(L"abc", untouched);
}

// This process's library lives in <build>\<arch>\bin: its folder and the home above it,
// into the exact fit and one short.
TEST(ConfigFolders, LibraryAndHomeFolderFillTheCallersBuffer) {
    std::wstring bin = test::ExeDir(), home = bin.substr(0, bin.find_last_of(L'\\'));
    CZORACfg cfg;
    struct Case {
        wchar_t* (CZORACfg::*get)(wchar_t*, int);
        const std::wstring& expected;
    } cases[] = {{&CZORACfg::GetDllPath, bin}, {&CZORACfg::GetHomePath, home}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        wchar_t folder[MAX_PATH];
        int fit = static_cast<int>(cases[i].expected.size() + 1);
        wcscpy(folder, L"untouched");
        EXPECT_EQ(nullptr, (cfg.*cases[i].get)(folder, fit - 1)) << "one short, case " << i;
        EXPECT_STREQ(L"untouched", folder) << "case " << i;
        EXPECT_EQ(folder, (cfg.*cases[i].get)(folder, fit)) << "the exact fit, case " << i;
        EXPECT_EQ(cases[i].expected, folder) << "case " << i;
        EXPECT_EQ(nullptr, (cfg.*cases[i].get)(nullptr, MAX_PATH)) << "case " << i;
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

// The calling user's own folder, C:\users\<user>\AppData\Local\Korvex\ZORA\Cfg under
// Wine, created with the file when the user has none yet.
TEST(ConfigProfileTest, UserWithoutProfileFolderGetsOne) {
    wchar_t user[64];
    DWORD length = ARRAYSIZE(user);
    ASSERT_TRUE(GetUserNameW(user, &length));
    std::wstring expectedFolder = std::wstring(L"C:\\users\\") + user + L"\\AppData\\Local\\Korvex\\ZORA\\Cfg";
    std::wstring file = expectedFolder + L"\\ZoraTestProfile.ini";
    DeleteFileW(file.c_str());
    RemoveDirectoryW(expectedFolder.c_str());  // only when nothing else is in it

    CZORAProfile profile;
    wchar_t home[MAX_PATH];
    int fit = static_cast<int>(expectedFolder.size() + 1);
    EXPECT_EQ(nullptr, profile.GetHomePath(home, fit - 1)) << "one short";
    ASSERT_EQ(home, profile.GetHomePath(home, fit)) << "the exact fit";
    EXPECT_EQ(0, _wcsicmp(expectedFolder.c_str(), home)) << test::Narrow(home);

    EXPECT_EQ(1, profile.Initialize(L"ZoraTestProfile.ini", nullptr));
    EXPECT_EQ(0, _wcsicmp(file.c_str(), profile.GetFullPath())) << test::Narrow(profile.GetFullPath());
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
