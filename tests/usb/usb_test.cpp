// The USB host controller enumerator against the virtual notebook's controllers: port
// numbering across controllers sorted by PCI device identifier, the "Empty" and
// "Unknown Device" substitutes, devices plugged in by another process, controllers
// that are missing or go away, and the shared enumerator used from several threads.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "DebugCapture.h"
#include "MachineCase.h"
#include "MachineSupport.h"
#include "TestSupport.h"
#include "USBEnum.h"
#include "ZoraSystemApi.h"
#include "ZoraUsbContract.h"
#include "ZoraVnb.h"

namespace {

constexpr wchar_t kClassKeys[] = L"SYSTEM\\CurrentControlSet\\Control\\Class\\";

class UsbEnumTest : public test::MachineCase {
protected:
    void TearDown() override {
        if (HasFailure())
            for (const std::string& line : DebugCapture::Lines()) printf("debug: %s\n", line.c_str());
        for (const auto& plugged : m_plugged) VnbDetachUsbDevice(Path(), plugged.first, plugged.second);
        MachineCase::TearDown();
    }

    const wchar_t* Path() const { return m_machine.Path().c_str(); }

    void Set(const wchar_t* key, const wchar_t* value) { ASSERT_TRUE(VnbSetValue(Path(), L"Usb", key, value)) << key; }

    // Plugs a device in; the fixture unplugs it again.
    void Plug(int controller, int port, const wchar_t* description) {
        ASSERT_TRUE(VnbAttachUsbDevice(Path(), controller, port, description)) << GetLastError();
        m_plugged.emplace_back(controller, port);
    }

    std::wstring DriverKey(int controller, int port) {
        wchar_t key[32], value[128] = {};
        swprintf(key, 32, L"HCD%d.Port%d.Driver", controller, port);
        VnbGetValue(Path(), L"Usb", key, value, 128);
        return value;
    }

    static std::wstring Name(CUSBEnum& usb, int port, long* status = nullptr) {
        wchar_t name[64] = L"untouched";
        long hr = usb.GetPortDeviceName(port, name, 64);
        if (status) *status = hr;
        return hr == 0 ? name : L"(failed)";
    }

    std::vector<std::pair<int, int>> m_plugged;
};

bool ClassKeyExists(const std::wstring& driver) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kClassKeys + driver).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

TEST_F(UsbEnumTest, DefaultMachineNamesEveryPhysicalPort) {
    CUSBEnum usb;
    ASSERT_EQ(0, usb.Setup());
    EXPECT_EQ(1000u, usb.GetVersion());
    // The UHCI companions in device-identifier order cover physical ports 0-11 (HCD7,
    // started last, holds the last two), and the two EHCI controllers (6 + 6 ports) the
    // same twelve ports.
    const wchar_t* expected[] = {L"Empty", L"Empty", L"Empty", L"Integrated USB 1.3M Webcam",
                                 L"Integrated Bluetooth Radio", L"Empty", L"Empty", L"Unknown Device",
                                 L"Fingerprint Sensor", L"Empty", L"Empty", L"Empty"};
    for (int port = 0; port < 12; ++port) EXPECT_EQ(expected[port], Name(usb, port)) << "port " << port;
    EXPECT_TRUE(DebugCapture::Contains("IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME failed:0x"))
        << "the device without a driver";
    long status = 0;
    EXPECT_EQ(L"(failed)", Name(usb, 12, &status));
    EXPECT_EQ(E_FAIL, status);
    EXPECT_TRUE(DebugCapture::Contains("Invalid port number:12"));
    EXPECT_EQ(L"(failed)", Name(usb, -1, &status));
    EXPECT_TRUE(DebugCapture::Contains("Invalid port number:-1"));
    EXPECT_EQ(0, usb.Setup()) << "a second Setup returns at once";
    EXPECT_EQ(0, usb.Cleanup());
    EXPECT_FALSE(usb.IsEnumerated());
    EXPECT_EQ(E_FAIL, usb.GetPortDeviceName(3, nullptr, 64));
}

TEST_F(UsbEnumTest, PortsRunAcrossControllersInDeviceIdentifierOrder) {
    // Two UHCI controllers of 2 ports left (and one EHCI controller, where an empty
    // UHCI port is looked up next); HCD0 now sorts after HCD1.
    for (const wchar_t* key : {L"HCD2.Present", L"HCD3.Present", L"HCD4.Present", L"HCD5.Present", L"HCD7.Present"})
        Set(key, L"0");
    Set(L"HCD0.DeviceId", L"0x293B");
    ASSERT_TRUE(VnbDetachUsbDevice(Path(), 0, 1));
    Plug(0, 1, L"Test Storage Stick");
    CUSBEnum usb;
    ASSERT_EQ(0, usb.Setup());
    const wchar_t* expected[] = {L"Fingerprint Sensor", L"Empty", L"Empty", L"Test Storage Stick"};
    for (int port = 0; port < 4; ++port) EXPECT_EQ(expected[port], Name(usb, port)) << "port " << port;
    EXPECT_EQ(L"(failed)", Name(usb, 4));
    EXPECT_TRUE(DebugCapture::Contains("Invalid port number:4"));
}

TEST_F(UsbEnumTest, PortBeyondTheUsb11TotalFailsThoughUsb20HasIt) {
    Set(L"HCD3.Present", L"0");  // UHCI ports now 10, EHCI ports still 12
    CUSBEnum usb;
    ASSERT_EQ(0, usb.Setup());
    EXPECT_EQ(L"Fingerprint Sensor", Name(usb, 6)) << "HCD1 moved down by two ports";
    EXPECT_EQ(L"(failed)", Name(usb, 10));
    EXPECT_TRUE(DebugCapture::Contains("Invalid port number:10"));
}

TEST_F(UsbEnumTest, SubstitutesNeedRoomForTheirTerminator) {
    CUSBEnum usb;
    wchar_t name[32];
    EXPECT_EQ(E_FAIL, usb.GetPortDeviceName(0, name, 32)) << "before Setup";
    EXPECT_TRUE(DebugCapture::Lines().empty()) << "no diagnostic before Setup";
    ASSERT_EQ(0, usb.Setup());
    struct Case {
        int port;
        unsigned size;
        long status;
        const wchar_t* text;
    } cases[] = {
        {0, 5, E_FAIL, nullptr},           {0, 6, 0, L"Empty"},
        {7, 14, E_FAIL, nullptr},          {7, 15, 0, L"Unknown Device"},
        {4, 26, E_FAIL, nullptr},          {4, 27, 0, L"Integrated Bluetooth Radio"},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        wmemset(name, L'#', 32);
        name[31] = L'\0';
        EXPECT_EQ(cases[i].status, usb.GetPortDeviceName(cases[i].port, name, cases[i].size)) << "case " << i;
        if (cases[i].text) {
            EXPECT_STREQ(cases[i].text, name) << "case " << i;
        }
    }
    EXPECT_TRUE(DebugCapture::Contains("Input Buffer is too small"));
}

TEST_F(UsbEnumTest, DevicePluggedInByTheOtherArchitectureIsSeen) {
    std::wstring peer = test::ProgramPath(test::PeerArch(), L"usb_peer.exe");
    ASSERT_FALSE(peer.empty()) << "the other architecture's build is missing";
    CUSBEnum usb;
    ASSERT_EQ(0, usb.Setup());
    ASSERT_EQ(L"Empty", Name(usb, 1));
    // Physical port 1: UHCI HCD3 port 1 (full speed) and EHCI HCD6 port 1 (high speed).
    std::string output;
    ASSERT_EQ(0, test::Run(peer, L"attach 3 1 \"USB Card Reader\"", &output)) << output;
    m_plugged.emplace_back(3, 1);
    EXPECT_EQ(L"USB Card Reader", Name(usb, 1)) << "the open root hubs answer from the machine as it is now";
    std::wstring driver = DriverKey(3, 1);
    EXPECT_TRUE(ClassKeyExists(driver)) << test::Narrow(driver);
    EXPECT_EQ(static_cast<int>(ERROR_BUSY), test::Run(peer, L"attach 3 1 Another", &output)) << output;
    EXPECT_EQ(L"USB Card Reader", Name(usb, 1)) << "a refused attach changes nothing";

    ASSERT_EQ(0, test::Run(peer, L"detach 3 1", &output)) << output;
    m_plugged.clear();
    EXPECT_EQ(L"Empty", Name(usb, 1));
    EXPECT_FALSE(ClassKeyExists(driver)) << "the driver key goes with the device";
    EXPECT_EQ(static_cast<int>(ERROR_NOT_FOUND), test::Run(peer, L"detach 3 1", &output)) << output;

    ASSERT_EQ(0, test::Run(peer, L"attach 6 1 \"High-Speed Disk\"", &output)) << output;
    m_plugged.emplace_back(6, 1);
    EXPECT_EQ(L"High-Speed Disk", Name(usb, 1)) << "found on the EHCI side";
}

TEST_F(UsbEnumTest, AttachRejectsWhatTheMachineDoesNotHave) {
    struct Case {
        int controller, port;
        const wchar_t* description;
        DWORD error;
    } cases[] = {
        {8, 0, L"x", ERROR_INVALID_PARAMETER},  {-1, 0, L"x", ERROR_INVALID_PARAMETER},
        {3, 2, L"x", ERROR_INVALID_PARAMETER},  {3, -1, L"x", ERROR_INVALID_PARAMETER},
        {3, 0, L"two\nlines", ERROR_INVALID_PARAMETER}, {6, 3, L"x", ERROR_BUSY},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(VnbAttachUsbDevice(Path(), cases[i].controller, cases[i].port, cases[i].description))
            << "case " << i;
        EXPECT_EQ(cases[i].error, GetLastError()) << "case " << i;
    }
    wchar_t value[64] = {};
    ASSERT_TRUE(VnbGetValue(Path(), L"Usb", L"HCD6.Port3", value, 64));
    EXPECT_STREQ(L"Integrated USB 1.3M Webcam", value);
    EXPECT_FALSE(VnbGetValue(Path(), L"Usb", L"HCD3.Port0", value, 64));
}

TEST_F(UsbEnumTest, MissingControllerIsSkippedWithItsPath) {
    Set(L"HCD2.Present", L"0");
    SetLastError(0xdeadbeef);
    EXPECT_EQ(INVALID_HANDLE_VALUE, ZoraSys()->CreateFileW(L"\\\\.\\HCD2", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                                           OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    for (const wchar_t* path : {L"\\\\.\\HCD8", L"\\\\.\\HCD02", L"\\\\.\\HCD32", L"\\\\.\\HCDx"})
        EXPECT_EQ(INVALID_HANDLE_VALUE,
                  ZoraSys()->CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr))
            << test::Narrow(path);
    CUSBEnum usb;
    ASSERT_EQ(0, usb.Setup()) << "enumeration never fails";
    EXPECT_TRUE(DebugCapture::Contains("Cannot get hcd handle:\\\\.\\HCD2\n"));
    EXPECT_TRUE(DebugCapture::Contains("Cannot get hcd handle:\\\\.\\HCD31\n"));
    EXPECT_FALSE(DebugCapture::Contains("Cannot get hcd handle:\\\\.\\HCD6\n"));
    EXPECT_EQ(L"Fingerprint Sensor", Name(usb, 8)) << "the UHCI side is whole";
    EXPECT_EQ(L"(failed)", Name(usb, 6)) << "the EHCI list ends after 6 ports now";
    EXPECT_TRUE(DebugCapture::Contains("Invalid port number:6"));
    EXPECT_EQ(L"Integrated USB 1.3M Webcam", Name(usb, 3));
}

TEST_F(UsbEnumTest, ControllerTakenAwayFailsTheNameQuery) {
    CUSBEnum usb;
    ASSERT_EQ(0, usb.Setup());
    ASSERT_EQ(L"Integrated Bluetooth Radio", Name(usb, 4));
    Set(L"HCD5.Present", L"0");
    long status = 0;
    EXPECT_EQ(L"(failed)", Name(usb, 4, &status));
    EXPECT_EQ(E_FAIL, status);
    EXPECT_TRUE(DebugCapture::Contains("IOCTL_USB_GET_NODE_CONNECTION_INFORMATION failed:0x"));
}

TEST_F(UsbEnumTest, DriverKeyWithoutItsClassKeyFails) {
    Plug(4, 0, L"Vanishing Keyboard");
    std::wstring driver = DriverKey(4, 0);
    ASSERT_TRUE(ClassKeyExists(driver));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kClassKeys + driver).c_str()));
    CUSBEnum usb;
    ASSERT_EQ(0, usb.Setup());
    long status = 0;
    EXPECT_EQ(L"(failed)", Name(usb, 2, &status));
    EXPECT_EQ(E_FAIL, status);
    EXPECT_TRUE(DebugCapture::Contains("failed to open SYSTEM\\CurrentControlSet\\Control\\Class\\" +
                                       test::Narrow(driver) + " to read."));
    EXPECT_TRUE(DebugCapture::Contains("COsWin::ReadRegValue failed for:0x2"));
}

TEST_F(UsbEnumTest, RootHubsAnswerTheSystemRequests) {
    HANDLE hcd = ZoraSys()->CreateFileW(L"\\\\.\\HCD6", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                        nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hcd);
    USB_ROOT_HUB_NAME probe{};
    DWORD returned = 0;
    ASSERT_TRUE(ZoraSys()->DeviceIoControl(hcd, IOCTL_USB_GET_ROOT_HUB_NAME, nullptr, 0, &probe, sizeof(probe),
                                           &returned, nullptr));
    EXPECT_EQ(sizeof(probe), returned);
    std::vector<BYTE> reply(probe.ActualLength);
    ASSERT_TRUE(ZoraSys()->DeviceIoControl(hcd, IOCTL_USB_GET_ROOT_HUB_NAME, nullptr, 0, reply.data(),
                                           probe.ActualLength, &returned, nullptr));
    EXPECT_EQ(probe.ActualLength, returned);
    std::wstring hubName = reinterpret_cast<USB_ROOT_HUB_NAME*>(reply.data())->RootHubName;
    EXPECT_EQ(0u, hubName.find(L"USB#ROOT_HUB20#")) << test::Narrow(hubName);
    EXPECT_EQ((hubName.size() + 1) * 2 + 4, probe.ActualLength) << "the length counts the whole reply";

    USBUSER_CONTROLLER_INFO_0 info{};
    info.Header.UsbUserRequest = USBUSER_GET_CONTROLLER_INFO_0;
    info.Header.RequestBufferLength = sizeof(info);
    ASSERT_TRUE(ZoraSys()->DeviceIoControl(hcd, IOCTL_USB_USER_REQUEST, &info, sizeof(info), &info, sizeof(info),
                                           &returned, nullptr));
    EXPECT_EQ(sizeof(info), returned);
    EXPECT_EQ(static_cast<ULONG>(UsbUserSuccess), static_cast<ULONG>(info.Header.UsbUserStatusCode));
    EXPECT_EQ(0x1B2Fu, info.Info0.PciVendorId);
    EXPECT_EQ(0x293Au, info.Info0.PciDeviceId);
    EXPECT_EQ(6u, info.Info0.NumberOfRootPorts);
    info.Header.UsbUserRequest = 0x77;
    ASSERT_TRUE(ZoraSys()->DeviceIoControl(hcd, IOCTL_USB_USER_REQUEST, &info, sizeof(info), &info, sizeof(info),
                                           &returned, nullptr));
    EXPECT_EQ(sizeof(USBUSER_REQUEST_HEADER), returned);
    EXPECT_EQ(static_cast<ULONG>(UsbUserInvalidRequestCode), static_cast<ULONG>(info.Header.UsbUserStatusCode));
    EXPECT_TRUE(ZoraSys()->CloseHandle(hcd));

    HANDLE hub = ZoraSys()->CreateFileW((L"\\\\.\\" + hubName).c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hub);
    USB_NODE_INFORMATION node{};
    ASSERT_TRUE(ZoraSys()->DeviceIoControl(hub, IOCTL_USB_GET_NODE_INFORMATION, &node, sizeof(node), &node,
                                           sizeof(node), &returned, nullptr));
    EXPECT_EQ(76u, returned);
    EXPECT_EQ(6, node.u.HubInformation.HubDescriptor.bNumberOfPorts);
    ULONG caps = 0;
    ASSERT_TRUE(ZoraSys()->DeviceIoControl(hub, IOCTL_USB_GET_HUB_CAPABILITIES, &caps, 4, &caps, 4, &returned,
                                           nullptr));
    EXPECT_EQ(1u, caps & 1);
    caps = 0;
    ASSERT_TRUE(ZoraSys()->DeviceIoControl(hub, IOCTL_USB_GET_HUB_CAPABILITIES_EX, &caps, 4, &caps, 4, &returned,
                                           nullptr));
    EXPECT_EQ(1u, caps & 1) << "high-speed capable";

    USB_NODE_CONNECTION_DRIVERKEY_NAME key{};
    key.ConnectionIndex = 4;  // the camera on port 3
    ASSERT_TRUE(ZoraSys()->DeviceIoControl(hub, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, &key, sizeof(key),
                                           &key, sizeof(key), &returned, nullptr));
    EXPECT_EQ(sizeof(key), returned);
    EXPECT_EQ(8u + 2 * (wcslen(L"{6bdd1fc6-810f-11d0-bec7-08002be10318}\\0000") + 1), key.ActualLength);
    key.ConnectionIndex = 7;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ZoraSys()->DeviceIoControl(hub, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, &key, sizeof(key),
                                            &key, sizeof(key), &returned, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError()) << "a hub of 6 ports has no port 7";
    EXPECT_TRUE(ZoraSys()->CloseHandle(hub));
}

TEST_F(UsbEnumTest, SharedEnumeratorServesSeveralThreads) {
    const wchar_t* expected[] = {L"Empty", L"Empty", L"Empty", L"Integrated USB 1.3M Webcam",
                                 L"Integrated Bluetooth Radio", L"Empty", L"Empty", L"Unknown Device",
                                 L"Fingerprint Sensor", L"Empty", L"Empty", L"Empty"};
    std::atomic<int> wrong{0}, failed{0};
    auto work = [&](int first) {
        if (CUSBEnum::Shared()->Setup() != 0) ++failed;
        for (int round = 0; round < 40; ++round) {
            int port = (first + round) % 12;
            wchar_t name[64];
            if (CUSBEnum::Shared()->GetPortDeviceName(port, name, 64) != 0)
                ++failed;
            else if (wcscmp(name, expected[port]) != 0)
                ++wrong;
            // A copy shares the root hubs; dropping it must leave them open.
            CUSBEnum copy(*CUSBEnum::Shared());
        }
    };
    std::thread a(work, 0), b(work, 6);
    a.join();
    b.join();
    EXPECT_EQ(0, failed.load());
    EXPECT_EQ(0, wrong.load());
    EXPECT_EQ(L"Integrated USB 1.3M Webcam", Name(*CUSBEnum::Shared(), 3)) << "the copies closed nothing";
    CUSBEnum assigned;
    assigned = *CUSBEnum::Shared();
    EXPECT_EQ(0, assigned.Cleanup());
    EXPECT_EQ(L"Fingerprint Sensor", Name(*CUSBEnum::Shared(), 8));
}

}  // namespace
