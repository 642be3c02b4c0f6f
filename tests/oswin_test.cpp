// The OS helpers: registry access with its error codes and messages, the version test,
// and desktop composition on a system without its library.
#include <gtest/gtest.h>

#include <string>

#include "DebugCapture.h"
#include "OsWin.h"
#include "TestSupport.h"
#include "ZoraInstallKey.h"

namespace {

class OsWinRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        DebugCapture::Clear();
        DebugCapture::Start();
        m_key = ZORA_INSTALL_KEY L"\\OsWinTest" + std::to_wstring(GetCurrentProcessId());
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, m_key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &m_handle, nullptr));
    }
    void TearDown() override {
        RegCloseKey(m_handle);
        RegDeleteKeyW(HKEY_CURRENT_USER, m_key.c_str());
        DebugCapture::Stop();
    }
    std::wstring m_key;
    HKEY m_handle = nullptr;
};

TEST_F(OsWinRegistryTest, WrittenValueReadsBack) {
    const wchar_t text[] = L"Balanced";
    unsigned long type = REG_SZ, size = sizeof(text);
    ASSERT_EQ(0, COsWin::WriteRegValue(HKEY_CURRENT_USER, m_key.c_str(), L"Scheme", 0, &type, text, &size));
    DWORD number = 0x12345678;
    unsigned long dwordType = REG_DWORD, dwordSize = sizeof(number);
    ASSERT_EQ(0, COsWin::WriteRegValue(HKEY_CURRENT_USER, m_key.c_str(), L"Level", 0, &dwordType, &number, &dwordSize));

    wchar_t back[32] = {};
    unsigned long readType = 0, readSize = sizeof(back);
    ASSERT_EQ(0, COsWin::ReadRegValue(HKEY_CURRENT_USER, m_key.c_str(), L"Scheme", &readType,
                                      reinterpret_cast<unsigned char*>(back), &readSize));
    EXPECT_EQ(static_cast<unsigned long>(REG_SZ), readType);
    EXPECT_EQ(sizeof(text), readSize);
    EXPECT_STREQ(text, back);
    DWORD level = 0;
    readSize = sizeof(level);
    ASSERT_EQ(0, COsWin::ReadRegValue(HKEY_CURRENT_USER, m_key.c_str(), L"Level", &readType,
                                      reinterpret_cast<unsigned char*>(&level), &readSize));
    EXPECT_EQ(0x12345678u, level);

    // A buffer too small: the registry's own answer, and the size it needs.
    char small[2];
    readSize = sizeof(small);
    EXPECT_EQ(ERROR_MORE_DATA, COsWin::ReadRegValue(HKEY_CURRENT_USER, m_key.c_str(), L"Scheme", &readType,
                                                    reinterpret_cast<unsigned char*>(small), &readSize));
    EXPECT_EQ(sizeof(text), readSize);
}

TEST_F(OsWinRegistryTest, FailuresReturnTheRegistryErrorAndSaySo) {
    unsigned long type = 0, size = 4;
    DWORD data = 0;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              COsWin::ReadRegValue(HKEY_CURRENT_USER, L"Software\\Korvex\\NoSuchKey", L"x", &type,
                                   reinterpret_cast<unsigned char*>(&data), &size));
    EXPECT_TRUE(DebugCapture::Contains("failed to open Software\\Korvex\\NoSuchKey to read."));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, COsWin::ReadRegValue(HKEY_CURRENT_USER, m_key.c_str(), L"Missing", &type,
                                                         reinterpret_cast<unsigned char*>(&data), &size));
    EXPECT_TRUE(DebugCapture::Contains("failed to query value Missing"));
    unsigned long dwordType = REG_DWORD, dwordSize = 4;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, COsWin::WriteRegValue(HKEY_CURRENT_USER, L"Software\\Korvex\\NoSuchKey", L"x", 0,
                                                          &dwordType, &data, &dwordSize));
    EXPECT_TRUE(DebugCapture::Contains("failed to open Software\\Korvex\\NoSuchKey to write."));
}

TEST_F(OsWinRegistryTest, NullArgumentsFailWithoutTouchingTheRegistry) {
    unsigned long type = REG_DWORD, size = 4;
    DWORD data = 7;
    EXPECT_EQ(E_FAIL, COsWin::ReadRegValue(HKEY_CURRENT_USER, m_key.c_str(), L"Level", nullptr,
                                           reinterpret_cast<unsigned char*>(&data), &size));
    EXPECT_EQ(E_FAIL, COsWin::ReadRegValue(nullptr, m_key.c_str(), L"Level", &type,
                                           reinterpret_cast<unsigned char*>(&data), &size));
    EXPECT_EQ(E_FAIL, COsWin::WriteRegValue(HKEY_CURRENT_USER, m_key.c_str(), L"Level", 0, &type, nullptr, &size));
    EXPECT_EQ(E_FAIL, COsWin::WriteRegValue(HKEY_CURRENT_USER, m_key.c_str(), L"Level", 0, &type, &data, nullptr));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(m_handle, L"Level", nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(DebugCapture::Lines().empty());
}

TEST(OsWinVersion, IsVistaFollowsTheMajorVersionAndSaysWhichItIs) {
    DebugCapture::Clear();
    DebugCapture::Start();
    DWORD packed = GetVersion();
    int major = LOBYTE(LOWORD(packed)), minor = HIBYTE(LOWORD(packed));
    EXPECT_EQ(major >= 6, COsWin::IsVista() != 0);
    EXPECT_TRUE(DebugCapture::Contains("Windows version " + std::to_string(major) + "." + std::to_string(minor)));
    DebugCapture::Stop();
}

// A system without dwmapi.dll (XP): a copy of the peer program for which the
// library is switched off (Wine's per-program DLL override). Each call tries to load
// it again and fails the same way.
TEST(OsWinAero, MissingCompositionLibraryFailsEveryTime) {
    const std::wstring exe = L"zora_peer_nodwm_" + std::wstring(test::OwnArch()) + L".exe";
    const std::wstring key = L"Software\\Wine\\AppDefaults\\" + exe + L"\\DllOverrides";
    HKEY overrides = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &overrides, nullptr));
    RegSetValueExW(overrides, L"dwmapi", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
    RegCloseKey(overrides);
    test::TempDir dir;
    const std::wstring bin = dir.Path() + L"\\bin", cfg = dir.Path() + L"\\cfg";
    CreateDirectoryW(bin.c_str(), nullptr);
    CreateDirectoryW(cfg.c_str(), nullptr);
    ASSERT_TRUE(test::WriteTextFile(cfg + L"\\ZORACfg.ini", "[ZORACfg]\r\nDebug=1\r\n"));
    ASSERT_TRUE(test::CopyInto(test::ProgramPath(test::OwnArch(), L"ZORADLL.dll"), bin));
    ASSERT_TRUE(CopyFileW(test::ProgramPath(test::OwnArch(), L"zora_peer.exe").c_str(), (bin + L"\\" + exe).c_str(),
                          FALSE));
    std::string output;
    int code = test::Run(bin + L"\\" + exe, L"aero", &output);
    RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    ASSERT_EQ(0, code) << output;
    EXPECT_EQ("80004005", test::Field(output, "set1")) << output;
    EXPECT_EQ("80004005", test::Field(output, "set2"));
    EXPECT_EQ("80004005", test::Field(output, "ison"));
    EXPECT_EQ("80004005", test::Field(output, "load"));
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
