// The OS helpers inside one process: registry access with its error codes and
// messages, and the version test on the system Wine reports by default.
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
        m_key = ZORA_INSTALL_KEY L"\\OsWinTest" + std::to_wstring(GetCurrentProcessId());
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, m_key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &m_handle, nullptr));
    }
    void TearDown() override {
        RegCloseKey(m_handle);
        RegDeleteKeyW(HKEY_CURRENT_USER, m_key.c_str());
    }
    long Read(const wchar_t* subkey, const wchar_t* name, unsigned long* type, void* data, unsigned long* size) {
        return COsWin::ReadRegValue(HKEY_CURRENT_USER, subkey, name, type, static_cast<unsigned char*>(data), size);
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

    DWORD level = 0;
    unsigned long readType = 0, readSize = sizeof(level);
    ASSERT_EQ(0, Read(m_key.c_str(), L"Level", &readType, &level, &readSize));
    EXPECT_EQ(static_cast<unsigned long>(REG_DWORD), readType);
    EXPECT_EQ(0x12345678u, level);
}

// "Balanced" and its terminator are 18 bytes: the exact fit, one short, and far too small.
TEST_F(OsWinRegistryTest, StringFillsTheCallersBuffer) {
    const wchar_t text[] = L"Balanced";
    unsigned long type = REG_SZ, size = sizeof(text);
    ASSERT_EQ(0, COsWin::WriteRegValue(HKEY_CURRENT_USER, m_key.c_str(), L"Scheme", 0, &type, text, &size));
    struct Case {
        unsigned long size;
        long result;
    } cases[] = {{sizeof(text), 0}, {sizeof(text) - 1, ERROR_MORE_DATA}, {2, ERROR_MORE_DATA}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        wchar_t back[16];
        wmemset(back, L'#', 16);
        unsigned long readType = 0, readSize = cases[i].size;
        EXPECT_EQ(cases[i].result, Read(m_key.c_str(), L"Scheme", &readType, back, &readSize)) << "case " << i;
        EXPECT_EQ(sizeof(text), readSize) << "the size the value needs, case " << i;
        if (cases[i].result == 0) {
            EXPECT_EQ(static_cast<unsigned long>(REG_SZ), readType);
            EXPECT_STREQ(text, back) << "terminated, case " << i;
        }
        EXPECT_EQ(L'#', back[ARRAYSIZE(text)]) << "nothing written past the value, case " << i;
    }
}

TEST_F(OsWinRegistryTest, FailuresReturnTheRegistryErrorAndSaySo) {
    unsigned long type = 0, size = 4;
    DWORD data = 0;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Read(L"Software\\Korvex\\NoSuchKey", L"x", &type, &data, &size));
    EXPECT_TRUE(DebugCapture::Contains("failed to open Software\\Korvex\\NoSuchKey to read."));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Read(m_key.c_str(), L"Missing", &type, &data, &size));
    EXPECT_TRUE(DebugCapture::Contains("failed to query value Missing"));
    unsigned long dwordType = REG_DWORD, dwordSize = 4;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, COsWin::WriteRegValue(HKEY_CURRENT_USER, L"Software\\Korvex\\NoSuchKey", L"x", 0,
                                                          &dwordType, &data, &dwordSize));
    EXPECT_TRUE(DebugCapture::Contains("failed to open Software\\Korvex\\NoSuchKey to write."));
}

TEST_F(OsWinRegistryTest, NullArgumentsFailWithoutTouchingTheRegistry) {
    unsigned long type = REG_DWORD, size = 4;
    DWORD data = 7;
    EXPECT_EQ(E_FAIL, Read(m_key.c_str(), L"Level", nullptr, &data, &size));
    EXPECT_EQ(E_FAIL, COsWin::ReadRegValue(nullptr, m_key.c_str(), L"Level", &type,
                                           reinterpret_cast<unsigned char*>(&data), &size));
    EXPECT_EQ(E_FAIL, COsWin::WriteRegValue(HKEY_CURRENT_USER, m_key.c_str(), L"Level", 0, &type, nullptr, &size));
    EXPECT_EQ(E_FAIL, COsWin::WriteRegValue(HKEY_CURRENT_USER, m_key.c_str(), L"Level", 0, &type, &data, nullptr));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(m_handle, L"Level", nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(DebugCapture::Lines().empty());
}

// Wine reports Windows 7 (6.1) to a program without a version of its own.
TEST(OsWinVersion, WinesDefaultIsVistaOrLater) {
    EXPECT_EQ(1, COsWin::IsVista());
    EXPECT_TRUE(DebugCapture::Contains("Windows version 6.1"));
}

}  // namespace
