// The virtual notebook's device objects behind the library's table: the driver opens
// only while installed, unknown control codes fail as a driver fails them, other paths
// reach the real file system, and the hardware sections read and write as text.
#include <gtest/gtest.h>

#include <string>

#include "MachineSupport.h"
#include "TestSupport.h"
#include "ZoraEblContract.h"
#include "ZoraSystemApi.h"
#include "ZoraVnb.h"

namespace {

HANDLE OpenDriver() {
    return ZoraSys()->CreateFileW(ZORAEBL_DEVICE_PATH, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST(VnbPlatform, DriverOpensOnlyWhileInstalled) {
    test::FreshMachine machine;
    ASSERT_TRUE(machine.Ok());
    HANDLE driver = OpenDriver();
    ASSERT_NE(INVALID_HANDLE_VALUE, driver);
    DWORD returned = 99;
    char out[16];
    EXPECT_FALSE(ZoraSys()->DeviceIoControl(driver, ZoraEblCode(0x7FF), nullptr, 0, out, sizeof(out), &returned,
                                            nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), GetLastError());
    EXPECT_EQ(0u, returned);
    EXPECT_FALSE(ZoraSys()->DeviceIoControl(driver, 0x00220000, nullptr, 0, out, sizeof(out), &returned, nullptr))
        << "another device type";
    EXPECT_TRUE(ZoraSys()->CloseHandle(driver));

    ASSERT_TRUE(VnbSetValue(machine.Path().c_str(), L"Driver", L"Installed", L"0"));
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenDriver());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST(VnbPlatform, OtherPathsReachTheRealSystem) {
    test::FreshMachine machine;
    test::TempDir dir;
    std::wstring file = dir.Path() + L"\\real.txt";
    HANDLE h = ZoraSys()->CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));
    EXPECT_TRUE(ZoraSys()->CloseHandle(h));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(file.c_str()));
    EXPECT_EQ(INVALID_HANDLE_VALUE, ZoraSys()->CreateFileW(L"\\\\.\\NoSuchDeviceHere", GENERIC_READ, 0, nullptr,
                                                           OPEN_EXISTING, 0, nullptr));
}

TEST(VnbPlatform, HardwareSectionsKeepTheirValuesAcrossProcesses) {
    test::FreshMachine machine;
    const wchar_t* path = machine.Path().c_str();
    wchar_t value[32] = {};
    ASSERT_TRUE(VnbGetValue(path, L"Driver", L"Installed", value, 32));
    EXPECT_STREQ(L"1", value);
    EXPECT_FALSE(VnbGetValue(path, L"Driver", L"NoSuchKey", value, 32));
    EXPECT_FALSE(VnbSetValue(path, L"Bad]Name", L"k", L"v"));
    EXPECT_FALSE(VnbSetValue(path, L"Driver", L"k", L"two\r\nlines"));
    int nodes = VnbDeviceCount(path);
    ASSERT_TRUE(VnbSetValue(path, L"Scratch", L"Marker", L"0x1234"));
    std::string output;
    ASSERT_EQ(0, test::Run(test::ProgramPath(test::PeerArch(), L"zoractl.exe"), L"vnb devices", &output)) << output;
    ASSERT_TRUE(VnbGetValue(path, L"Scratch", L"Marker", value, 32));
    EXPECT_STREQ(L"0x1234", value);
    EXPECT_EQ(nodes, VnbDeviceCount(path)) << "the device tree is untouched by a hardware section's write";
}

}  // namespace
