// The virtual notebook behind the library's system-API table: device information
// sets, device switching as the device manager does it, the configuration manager's
// tree, the power status, the service-control translation and the machine file.
// Every case makes a fresh default machine before the process's first ZoraSys().
#include <gtest/gtest.h>
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <wtsapi32.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "MachineSupport.h"
#include "TestSupport.h"
#include "ZoraSystemApi.h"

namespace {

const GUID kNet = {0x4d36e972, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kBluetooth = {0xe0cbf06c, 0xcd8b, 0x4647, {0xbb, 0x8a, 0x26, 0x3b, 0x43, 0xf0, 0xf9, 0x74}};
const GUID kModem = {0x4d36e96d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kImage = {0x6bdd1fc6, 0x810f, 0x11d0, {0xbe, 0xc7, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kCdrom = {0x4d36e965, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kMedia = {0x4d36e96c, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kLegacy = {0x8ecc055d, 0x047f, 0x11d1, {0xa5, 0x37, 0x00, 0x00, 0xf8, 0x75, 0x3e, 0xd1}};

constexpr DWORD kBogus = 0xdeadbeef;

SP_DEVINFO_DATA DevInfoData() {
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof(data);
    return data;
}

class VnbTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_machine.Ok()) << test::Narrow(m_machine.Path());
        sys = ZoraSys();
        // The real machine translates no service control.
        DWORD control = 0, type = 0;
        ASSERT_TRUE(sys->TranslateServiceControl(kVnbControlPowerBase, &control, &type, nullptr, 0))
            << "the library did not attach the virtual notebook";
    }

    // A device information set, destroyed at the end of the case.
    struct Set {
        ZoraSystemApi* sys;
        HDEVINFO handle;
        ~Set() {
            if (handle != INVALID_HANDLE_VALUE) sys->SetupDiDestroyDeviceInfoList(handle);
        }
    };

    Set ClassDevs(const GUID& guid, DWORD flags) { return Set{sys, sys->SetupDiGetClassDevsW(&guid, nullptr, nullptr, flags)}; }
    Set EmptySet() { return Set{sys, sys->SetupDiCreateDeviceInfoList(nullptr, nullptr)}; }

    std::wstring InstanceId(HDEVINFO set, SP_DEVINFO_DATA* device) {
        wchar_t id[260] = {};
        EXPECT_TRUE(sys->SetupDiGetDeviceInstanceIdW(set, device, id, 260, nullptr)) << GetLastError();
        return id;
    }

    // Reads a text property; returns the last error (0 on success).
    DWORD Property(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, std::wstring* value) {
        wchar_t buffer[260] = {};
        DWORD type = kBogus, required = 0;
        SetLastError(kBogus);
        if (!sys->SetupDiGetDeviceRegistryPropertyW(set, device, property, &type, reinterpret_cast<BYTE*>(buffer),
                                                    sizeof(buffer), &required))
            return GetLastError();
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        EXPECT_EQ((wcslen(buffer) + 1) * sizeof(wchar_t), required);
        *value = buffer;
        return 0;
    }

    SP_PROPCHANGE_PARAMS Change(DWORD action) {
        SP_PROPCHANGE_PARAMS params{};
        params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
        params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
        params.StateChange = action;
        params.Scope = DICS_FLAG_GLOBAL;
        return params;
    }

    // The device manager's sequence: set params, change state (result unused), call
    // the class installer. Returns the class installer's last error, 0 on success.
    DWORD Switch(const wchar_t* instanceId, DWORD action) {
        Set set = EmptySet();
        SP_DEVINFO_DATA device = DevInfoData();
        if (!sys->SetupDiOpenDeviceInfoW(set.handle, instanceId, nullptr, 0, &device)) return GetLastError();
        SP_PROPCHANGE_PARAMS params = Change(action);
        if (!sys->SetupDiSetClassInstallParamsW(set.handle, &device, &params.ClassInstallHeader, sizeof(params)))
            return GetLastError();
        sys->SetupDiChangeState(set.handle, &device);
        SetLastError(kBogus);
        return sys->SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set.handle, &device) ? 0 : GetLastError();
    }

    std::string FileText() {
        std::ifstream in(test::Narrow(m_machine.Path()), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    test::FreshMachine m_machine;
    ZoraSystemApi* sys = nullptr;
};

// ---- Device information sets ----

struct ClassCount {
    const char* name;
    const GUID* guid;
    DWORD all;      // flags 0: present or not
    DWORD present;  // DIGCF_PRESENT
};

const ClassCount kClassCounts[] = {
    {"Net", &kNet, 3, 3},     {"Bluetooth", &kBluetooth, 1, 1}, {"Modem", &kModem, 2, 1},
    {"Image", &kImage, 1, 1}, {"CDROM", &kCdrom, 1, 1},         {"MEDIA", &kMedia, 1, 1},
    {"LegacyDriver", &kLegacy, 1, 1},
};

using VnbDeviceSetTest = VnbTest;

TEST_F(VnbDeviceSetTest, ClassDevicesAreListedUntilNoMoreItems) {
    for (const ClassCount& c : kClassCounts) {
        for (DWORD flags : {0ul, static_cast<unsigned long>(DIGCF_PRESENT)}) {
            Set set = ClassDevs(*c.guid, flags);
            ASSERT_NE(INVALID_HANDLE_VALUE, set.handle) << c.name;
            DWORD expected = flags ? c.present : c.all, index = 0;
            SP_DEVINFO_DATA device = DevInfoData();
            while (sys->SetupDiEnumDeviceInfo(set.handle, index, &device)) {
                EXPECT_TRUE(IsEqualGUID(*c.guid, device.ClassGuid)) << c.name << " " << index;
                VnbDevice node = test::Device(InstanceId(set.handle, &device).c_str());
                EXPECT_NE(L'\0', node.instanceId[0]) << c.name << " " << index;
                if (flags) {
                    EXPECT_TRUE(node.present) << c.name << " " << index;
                }
                ++index;
            }
            EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError()) << c.name;
            EXPECT_EQ(expected, index) << c.name << " flags " << flags;
        }
    }
}

TEST_F(VnbDeviceSetTest, DevicesOpenByInstanceIdIntoOneSetAndShowTheirProperties) {
    Set net = ClassDevs(kNet, 0);
    Set listed = EmptySet();
    ASSERT_NE(INVALID_HANDLE_VALUE, listed.handle);
    SP_DEVINFO_DATA device = DevInfoData();
    for (DWORD i = 0; sys->SetupDiEnumDeviceInfo(net.handle, i, &device); ++i) {
        std::wstring id = InstanceId(net.handle, &device);
        SP_DEVINFO_DATA opened = DevInfoData();
        ASSERT_TRUE(sys->SetupDiOpenDeviceInfoW(listed.handle, id.c_str(), nullptr, 0, &opened)) << i;
        EXPECT_EQ(device.DevInst, opened.DevInst) << i;
        EXPECT_EQ(id, InstanceId(listed.handle, &opened)) << i;
    }
    SP_DEVINFO_DATA ethernet = DevInfoData();
    ASSERT_TRUE(sys->SetupDiEnumDeviceInfo(listed.handle, 1, &ethernet));
    std::wstring text;
    ASSERT_EQ(0u, Property(listed.handle, &ethernet, SPDRP_DEVICEDESC, &text));
    EXPECT_EQ(std::wstring(test::Device(test::kVnbEthernet).description), text);
    ASSERT_EQ(0u, Property(listed.handle, &ethernet, SPDRP_FRIENDLYNAME, &text));
    EXPECT_EQ(L"Gigabit Ethernet Controller (PCIe)", text);
    ASSERT_EQ(0u, Property(listed.handle, &ethernet, SPDRP_CLASSGUID, &text));
    EXPECT_EQ(L"{4d36e972-e325-11ce-bfc1-08002be10318}", text);
    ASSERT_EQ(0u, Property(listed.handle, &ethernet, SPDRP_CLASS, &text));
    EXPECT_EQ(L"Net", text);
    SP_DEVINFO_DATA none = DevInfoData();
    EXPECT_FALSE(sys->SetupDiEnumDeviceInfo(listed.handle, 3, &none));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError());
}

TEST_F(VnbDeviceSetTest, OpeningIsCaseInsensitiveAndUnknownDevicesFail) {
    Set set = EmptySet();
    std::wstring lower = test::kVnbBluetooth;
    CharLowerW(lower.data());
    SP_DEVINFO_DATA device = DevInfoData();
    ASSERT_TRUE(sys->SetupDiOpenDeviceInfoW(set.handle, lower.c_str(), nullptr, 0, &device));
    EXPECT_EQ(std::wstring(test::kVnbBluetooth), InstanceId(set.handle, &device));
    // Opening it again gives the same element, not a second one.
    SP_DEVINFO_DATA again = DevInfoData();
    ASSERT_TRUE(sys->SetupDiOpenDeviceInfoW(set.handle, test::kVnbBluetooth, nullptr, 0, &again));
    EXPECT_EQ(device.DevInst, again.DevInst);
    EXPECT_FALSE(sys->SetupDiEnumDeviceInfo(set.handle, 1, &again));

    SetLastError(kBogus);
    EXPECT_FALSE(sys->SetupDiOpenDeviceInfoW(set.handle, L"PCI\\VEN_0000&DEV_0000\\0", nullptr, 0, &again));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_SUCH_DEVINST), GetLastError());
    Set net = Set{sys, sys->SetupDiCreateDeviceInfoList(&kNet, nullptr)};
    SetLastError(kBogus);
    EXPECT_FALSE(sys->SetupDiOpenDeviceInfoW(net.handle, test::kVnbBluetooth, nullptr, 0, &again));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CLASS_MISMATCH), GetLastError());
}

TEST_F(VnbDeviceSetTest, BuffersReportTheirRequiredSizes) {
    Set set = EmptySet();
    SP_DEVINFO_DATA device = DevInfoData();
    ASSERT_TRUE(sys->SetupDiOpenDeviceInfoW(set.handle, test::kVnbWireless, nullptr, 0, &device));
    DWORD idChars = static_cast<DWORD>(wcslen(test::kVnbWireless) + 1), required = 0;
    wchar_t id[260];
    SetLastError(kBogus);
    EXPECT_FALSE(sys->SetupDiGetDeviceInstanceIdW(set.handle, &device, nullptr, 0, &required));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(idChars, required);
    EXPECT_FALSE(sys->SetupDiGetDeviceInstanceIdW(set.handle, &device, id, idChars - 1, &required));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_TRUE(sys->SetupDiGetDeviceInstanceIdW(set.handle, &device, id, idChars, &required));
    EXPECT_STREQ(test::kVnbWireless, id);

    DWORD descBytes = static_cast<DWORD>((wcslen(test::Device(test::kVnbWireless).description) + 1) * 2), type = 0;
    BYTE buffer[520];
    SetLastError(kBogus);
    EXPECT_FALSE(sys->SetupDiGetDeviceRegistryPropertyW(set.handle, &device, SPDRP_DEVICEDESC, &type, nullptr, 0,
                                                        &required));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(descBytes, required);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_FALSE(sys->SetupDiGetDeviceRegistryPropertyW(set.handle, &device, SPDRP_DEVICEDESC, &type, buffer,
                                                        descBytes - 1, &required));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_TRUE(sys->SetupDiGetDeviceRegistryPropertyW(set.handle, &device, SPDRP_DEVICEDESC, &type, buffer,
                                                       descBytes, &required));
    EXPECT_STREQ(test::Device(test::kVnbWireless).description, reinterpret_cast<wchar_t*>(buffer));
}

TEST_F(VnbDeviceSetTest, AbsentAndUnknownPropertiesFail) {
    Set set = EmptySet();
    SP_DEVINFO_DATA radio = DevInfoData();
    ASSERT_TRUE(sys->SetupDiOpenDeviceInfoW(set.handle, test::kVnbBluetooth, nullptr, 0, &radio));
    std::wstring text;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), Property(set.handle, &radio, SPDRP_FRIENDLYNAME, &text));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_REG_PROPERTY),
              Property(set.handle, &radio, SPDRP_MAXIMUM_PROPERTY, &text));
    SP_DEVINFO_DATA wrongSize = radio;
    wrongSize.cbSize = sizeof(wrongSize) - 1;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_USER_BUFFER),
              Property(set.handle, &wrongSize, SPDRP_DEVICEDESC, &text));
}

TEST_F(VnbDeviceSetTest, ListDetailChecksItsSizeAndIsLocal) {
    Set set = ClassDevs(kNet, DIGCF_PRESENT);
    SP_DEVINFO_LIST_DETAIL_DATA_W detail{};
    detail.cbSize = sizeof(detail) + 1;
    SetLastError(kBogus);
    EXPECT_FALSE(sys->SetupDiGetDeviceInfoListDetailW(set.handle, &detail));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_USER_BUFFER), GetLastError());
    detail.cbSize = sizeof(detail);
    detail.RemoteMachineHandle = reinterpret_cast<HANDLE>(1);
    ASSERT_TRUE(sys->SetupDiGetDeviceInfoListDetailW(set.handle, &detail));
    EXPECT_EQ(nullptr, detail.RemoteMachineHandle);
    EXPECT_TRUE(IsEqualGUID(kNet, detail.ClassGuid));
}

TEST_F(VnbDeviceSetTest, BogusHandlesFailWithInvalidHandle) {
    int notASet[16] = {};
    Set destroyed = EmptySet();
    ASSERT_TRUE(sys->SetupDiDestroyDeviceInfoList(destroyed.handle));
    HDEVINFO handles[] = {INVALID_HANDLE_VALUE, nullptr, notASet, destroyed.handle};
    destroyed.handle = INVALID_HANDLE_VALUE;
    for (size_t i = 0; i < ARRAYSIZE(handles); ++i) {
        SP_DEVINFO_DATA device = DevInfoData();
        SP_DEVINFO_LIST_DETAIL_DATA_W detail{};
        detail.cbSize = sizeof(detail);
        SetLastError(kBogus);
        EXPECT_FALSE(sys->SetupDiEnumDeviceInfo(handles[i], 0, &device)) << i;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError()) << i;
        SetLastError(kBogus);
        EXPECT_FALSE(sys->SetupDiOpenDeviceInfoW(handles[i], test::kVnbWireless, nullptr, 0, &device)) << i;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError()) << i;
        SetLastError(kBogus);
        EXPECT_FALSE(sys->SetupDiGetDeviceInfoListDetailW(handles[i], &detail)) << i;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError()) << i;
        SetLastError(kBogus);
        EXPECT_FALSE(sys->SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, handles[i], &device)) << i;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError()) << i;
        SetLastError(kBogus);
        EXPECT_FALSE(sys->SetupDiDestroyDeviceInfoList(handles[i])) << i;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError()) << i;
    }
}

TEST_F(VnbDeviceSetTest, ClassInstallParamsAreValidated) {
    Set set = EmptySet();
    SP_DEVINFO_DATA device = DevInfoData();
    ASSERT_TRUE(sys->SetupDiOpenDeviceInfoW(set.handle, test::kVnbCamera, nullptr, 0, &device));
    struct Case {
        DWORD headerSize, function, size, stateChange;
        DWORD error;
    } cases[] = {
        {sizeof(SP_CLASSINSTALL_HEADER) + 4, DIF_PROPERTYCHANGE, sizeof(SP_PROPCHANGE_PARAMS), DICS_DISABLE,
         ERROR_INVALID_USER_BUFFER},
        {sizeof(SP_CLASSINSTALL_HEADER), DIF_PROPERTYCHANGE, 2, DICS_DISABLE, ERROR_INVALID_USER_BUFFER},
        {sizeof(SP_CLASSINSTALL_HEADER), DIF_REMOVE, sizeof(SP_PROPCHANGE_PARAMS), DICS_DISABLE,
         ERROR_INVALID_PARAMETER},
        {sizeof(SP_CLASSINSTALL_HEADER), DIF_PROPERTYCHANGE, sizeof(SP_PROPCHANGE_PARAMS) - 4, DICS_DISABLE,
         ERROR_INVALID_PARAMETER},
        {sizeof(SP_CLASSINSTALL_HEADER), DIF_PROPERTYCHANGE, sizeof(SP_PROPCHANGE_PARAMS), 9,
         ERROR_INVALID_PARAMETER},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        SP_PROPCHANGE_PARAMS params = Change(cases[i].stateChange);
        params.ClassInstallHeader.cbSize = cases[i].headerSize;
        params.ClassInstallHeader.InstallFunction = cases[i].function;
        SetLastError(kBogus);
        EXPECT_FALSE(sys->SetupDiSetClassInstallParamsW(set.handle, &device, &params.ClassInstallHeader,
                                                        cases[i].size))
            << i;
        EXPECT_EQ(cases[i].error, GetLastError()) << i;
    }
    // None of them was stored.
    SetLastError(kBogus);
    EXPECT_FALSE(sys->SetupDiChangeState(set.handle, &device));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_CLASSINSTALL_PARAMS), GetLastError());
}

// ---- Switching devices ----

using VnbSwitchTest = VnbTest;

TEST_F(VnbSwitchTest, DisableThenEnableChangesTheMachine) {
    VnbDevice before = test::Device(test::kVnbWireless);
    ASSERT_EQ(static_cast<DWORD>(DN_STARTED | DN_DISABLEABLE), before.status & (DN_STARTED | DN_DISABLEABLE));

    ASSERT_EQ(0u, Switch(test::kVnbWireless, DICS_DISABLE));
    VnbDevice disabled = test::Device(test::kVnbWireless);
    EXPECT_EQ(0u, disabled.status & DN_STARTED);
    EXPECT_EQ(static_cast<DWORD>(DN_HAS_PROBLEM), disabled.status & DN_HAS_PROBLEM);
    EXPECT_EQ(static_cast<DWORD>(CM_PROB_DISABLED), disabled.problem);
    DEVINST node = 0;
    ULONG status = 0, problem = 0;
    ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&node, const_cast<wchar_t*>(test::kVnbWireless), 0));
    ASSERT_EQ(CR_SUCCESS, sys->CM_Get_DevNode_Status_Ex(&status, &problem, node, 0, nullptr));
    EXPECT_EQ(disabled.status, status);
    EXPECT_EQ(static_cast<ULONG>(CM_PROB_DISABLED), problem);

    ASSERT_EQ(0u, Switch(test::kVnbWireless, DICS_ENABLE));
    VnbDevice enabled = test::Device(test::kVnbWireless);
    EXPECT_EQ(before.status, enabled.status);
    EXPECT_EQ(0u, enabled.problem);
}

TEST_F(VnbSwitchTest, TheDisabledModemCanBeEnabled) {
    ASSERT_EQ(static_cast<DWORD>(CM_PROB_DISABLED), test::Device(test::kVnbSoftModem).problem);
    ASSERT_EQ(0u, Switch(test::kVnbSoftModem, DICS_ENABLE));
    VnbDevice modem = test::Device(test::kVnbSoftModem);
    EXPECT_EQ(static_cast<DWORD>(DN_STARTED), modem.status & (DN_STARTED | DN_HAS_PROBLEM));
    EXPECT_EQ(0u, modem.problem);
}

TEST_F(VnbSwitchTest, ChangeStateAndClassInstallerTogetherSwitchOnce) {
    Set set = EmptySet();
    SP_DEVINFO_DATA device = DevInfoData();
    ASSERT_TRUE(sys->SetupDiOpenDeviceInfoW(set.handle, test::kVnbCamera, nullptr, 0, &device));
    SP_PROPCHANGE_PARAMS params = Change(DICS_DISABLE);
    ASSERT_TRUE(sys->SetupDiSetClassInstallParamsW(set.handle, &device, &params.ClassInstallHeader, sizeof(params)));
    EXPECT_TRUE(sys->SetupDiChangeState(set.handle, &device));
    EXPECT_TRUE(sys->SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set.handle, &device));
    EXPECT_EQ(static_cast<DWORD>(CM_PROB_DISABLED), test::Device(test::kVnbCamera).problem);
    EXPECT_EQ(0u, test::Device(test::kVnbCamera).status & DN_STARTED);

    // Cleared parameters leave nothing to apply.
    ASSERT_TRUE(sys->SetupDiSetClassInstallParamsW(set.handle, &device, nullptr, 0));
    SetLastError(kBogus);
    EXPECT_FALSE(sys->SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set.handle, &device));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_CLASSINSTALL_PARAMS), GetLastError());
}

TEST_F(VnbSwitchTest, ADeviceThatIsNotDisableableRefuses) {
    const wchar_t* fixed[] = {test::kVnbLegacyDriver, test::kVnbWanMiniport};
    for (size_t i = 0; i < ARRAYSIZE(fixed); ++i) {
        VnbDevice before = test::Device(fixed[i]);
        ASSERT_EQ(static_cast<DWORD>(DN_STARTED), before.status & (DN_STARTED | DN_DISABLEABLE)) << i;
        EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_DISABLEABLE), Switch(fixed[i], DICS_DISABLE)) << i;
        VnbDevice after = test::Device(fixed[i]);
        EXPECT_EQ(before.status, after.status) << i;
        EXPECT_EQ(0u, after.problem) << i;
    }
}

TEST_F(VnbSwitchTest, WithoutParamsOrForOtherFunctionsNothingChanges) {
    std::string text = FileText();
    Set set = EmptySet();
    SP_DEVINFO_DATA device = DevInfoData();
    ASSERT_TRUE(sys->SetupDiOpenDeviceInfoW(set.handle, test::kVnbEthernet, nullptr, 0, &device));
    SetLastError(kBogus);
    EXPECT_FALSE(sys->SetupDiChangeState(set.handle, &device));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_CLASSINSTALL_PARAMS), GetLastError());
    SetLastError(kBogus);
    EXPECT_FALSE(sys->SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set.handle, &device));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_CLASSINSTALL_PARAMS), GetLastError());
    SP_PROPCHANGE_PARAMS params = Change(DICS_DISABLE);
    ASSERT_TRUE(sys->SetupDiSetClassInstallParamsW(set.handle, &device, &params.ClassInstallHeader, sizeof(params)));
    SetLastError(kBogus);
    EXPECT_FALSE(sys->SetupDiCallClassInstaller(DIF_SELECTBESTCOMPATDRV, set.handle, &device));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DI_DO_DEFAULT), GetLastError());
    EXPECT_EQ(text, FileText());
}

TEST_F(VnbSwitchTest, ASwitchIsSeenByAnotherProcessAndTheOtherWayRound) {
    std::wstring peer = test::ProgramPath(test::PeerArch(), L"vnb_peer.exe");
    if (peer.empty()) GTEST_SKIP() << "the other architecture's build is missing";
    ASSERT_EQ(0u, Switch(test::kVnbBluetooth, DICS_DISABLE));
    std::string out;
    ASSERT_EQ(0, test::Run(peer, std::wstring(L"status ") + test::kVnbBluetooth, &out)) << out;
    EXPECT_EQ("22", test::Field(out, "problem")) << out;

    ASSERT_EQ(0, test::Run(peer, std::wstring(L"switch ") + test::kVnbBluetooth + L" 1", &out)) << out;
    DEVINST node = 0;
    ULONG status = 0, problem = 99;
    ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&node, const_cast<wchar_t*>(test::kVnbBluetooth), 0));
    ASSERT_EQ(CR_SUCCESS, sys->CM_Get_DevNode_Status_Ex(&status, &problem, node, 0, nullptr));
    EXPECT_EQ(0u, problem);
    EXPECT_EQ(static_cast<ULONG>(DN_STARTED), status & (DN_STARTED | DN_HAS_PROBLEM));
}

TEST_F(VnbSwitchTest, ConcurrentSwitchingFromTwoProcessesLosesNothing) {
    std::wstring own = test::ProgramPath(test::OwnArch(), L"vnb_peer.exe");
    std::wstring other = test::ProgramPath(test::PeerArch(), L"vnb_peer.exe");
    ASSERT_FALSE(own.empty());
    if (other.empty()) other = own;
    std::vector<VnbDevice> before;
    int count = VnbDeviceCount(m_machine.Path().c_str());
    for (int i = 0; i < count; ++i) {
        VnbDevice d{};
        ASSERT_TRUE(VnbGetDevice(m_machine.Path().c_str(), i, &d));
        before.push_back(d);
    }
    // An odd number of switches each: both devices end disabled unless a write of one
    // process overwrote the other's.
    test::Process first, second;
    ASSERT_TRUE(first.Start(own, std::wstring(L"flip ") + test::kVnbWireless + L" 41", true));
    ASSERT_TRUE(second.Start(other, std::wstring(L"flip ") + test::kVnbCamera + L" 41", true));
    EXPECT_EQ(0, first.Wait(120000)) << first.Output();
    EXPECT_EQ(0, second.Wait(120000)) << second.Output();

    ASSERT_EQ(count, VnbDeviceCount(m_machine.Path().c_str())) << GetLastError();
    for (int i = 0; i < count; ++i) {
        VnbDevice d{};
        ASSERT_TRUE(VnbGetDevice(m_machine.Path().c_str(), i, &d)) << i;
        EXPECT_STREQ(before[i].instanceId, d.instanceId) << i;
        bool flipped = wcscmp(d.instanceId, test::kVnbWireless) == 0 || wcscmp(d.instanceId, test::kVnbCamera) == 0;
        if (flipped) {
            EXPECT_EQ(static_cast<DWORD>(CM_PROB_DISABLED), d.problem) << i;
            EXPECT_EQ(0u, d.status & DN_STARTED) << i;
        } else {
            EXPECT_EQ(before[i].status, d.status) << i;
            EXPECT_EQ(before[i].problem, d.problem) << i;
        }
    }
}

// ---- The configuration manager's tree ----

using VnbDevNodeTest = VnbTest;

std::wstring DeviceId(ZoraSystemApi* sys, DEVINST node) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    EXPECT_EQ(CR_SUCCESS, sys->CM_Get_Device_IDW(node, id, ARRAYSIZE(id), 0));
    return id;
}

TEST_F(VnbDevNodeTest, TheWalkVisitsEveryPresentNodeOnceInPreOrder) {
    // The default machine lists its nodes in tree order.
    std::vector<std::wstring> expected;
    VnbDevice d{};
    for (int i = 0; VnbGetDevice(m_machine.Path().c_str(), i, &d); ++i)
        if (d.present) expected.push_back(d.instanceId);
    ASSERT_GT(expected.size(), 10u);

    std::vector<std::wstring> visited;
    DEVINST node = 0, next = 0;
    ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&node, nullptr, CM_LOCATE_DEVNODE_NORMAL));
    for (;;) {
        visited.push_back(DeviceId(sys, node));
        ASSERT_LT(visited.size(), 100u) << "the walk does not end";
        if (sys->CM_Get_Child(&next, node, 0) == CR_SUCCESS) {
            node = next;
            continue;
        }
        bool climbed = false;
        while (sys->CM_Get_Sibling(&next, node, 0) != CR_SUCCESS) {
            if (sys->CM_Get_Parent(&next, node, 0) != CR_SUCCESS) {
                climbed = true;
                break;
            }
            node = next;
        }
        if (climbed) break;
        node = next;
    }
    EXPECT_EQ(expected, visited);
}

TEST_F(VnbDevNodeTest, LocatingFindsTheRootNodesByIdAndPhantomsOnlyWhenAsked) {
    DEVINST root = 0, empty = 0, node = 0;
    ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&root, nullptr, 0));
    ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&empty, const_cast<wchar_t*>(L""), 0));
    EXPECT_EQ(root, empty);
    EXPECT_EQ(std::wstring(test::kVnbRoot), DeviceId(sys, root));
    DEVINST parent = 0;
    EXPECT_EQ(CR_NO_SUCH_DEVNODE, sys->CM_Get_Parent(&parent, root, 0));
    EXPECT_EQ(CR_NO_SUCH_DEVNODE, sys->CM_Get_Sibling(&parent, root, 0));

    std::wstring lower = test::kVnbLegacyDriver;
    CharLowerW(lower.data());
    ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&node, lower.data(), 0));
    EXPECT_EQ(std::wstring(test::kVnbLegacyDriver), DeviceId(sys, node));
    ASSERT_EQ(CR_SUCCESS, sys->CM_Get_Parent(&parent, node, 0));
    EXPECT_EQ(root, parent);
    DEVINST child = 0;
    EXPECT_EQ(CR_NO_SUCH_DEVNODE, sys->CM_Get_Child(&child, node, 0));

    EXPECT_EQ(CR_NO_SUCH_DEVNODE, sys->CM_Locate_DevNodeW(&node, const_cast<wchar_t*>(test::kVnbBroadband), 0));
    ASSERT_EQ(CR_SUCCESS,
              sys->CM_Locate_DevNodeW(&node, const_cast<wchar_t*>(test::kVnbBroadband), CM_LOCATE_DEVNODE_PHANTOM));
    EXPECT_EQ(std::wstring(test::kVnbBroadband), DeviceId(sys, node));
    ULONG status = 0, problem = 0;
    EXPECT_EQ(CR_NO_SUCH_DEVINST, sys->CM_Get_DevNode_Status_Ex(&status, &problem, node, 0, nullptr));
    EXPECT_EQ(CR_NO_SUCH_DEVNODE,
              sys->CM_Locate_DevNodeW(&node, const_cast<wchar_t*>(L"PCI\\VEN_0000&DEV_0000\\0"), 0));
    EXPECT_EQ(CR_NO_SUCH_DEVINST, sys->CM_Get_DevNode_Status_Ex(&status, &problem, 0x7777, 0, nullptr));
}

TEST_F(VnbDevNodeTest, StatusAndProblemComeFromTheMachine) {
    struct Case {
        const wchar_t* id;
        ULONG started, problemBit, problem;
    } cases[] = {
        {test::kVnbWireless, DN_STARTED, 0, 0},
        {test::kVnbSoftModem, 0, DN_HAS_PROBLEM, CM_PROB_DISABLED},
        {test::kVnbLegacyDriver, DN_STARTED, 0, 0},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        DEVINST node = 0;
        ULONG status = kBogus, problem = kBogus;
        ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&node, const_cast<wchar_t*>(cases[i].id), 0)) << i;
        ASSERT_EQ(CR_SUCCESS, sys->CM_Get_DevNode_Status_Ex(&status, &problem, node, 0, nullptr)) << i;
        EXPECT_EQ(cases[i].started, status & DN_STARTED) << i;
        EXPECT_EQ(cases[i].problemBit, status & DN_HAS_PROBLEM) << i;
        EXPECT_EQ(cases[i].problem, problem) << i;
    }
    ASSERT_TRUE(VnbSetDeviceState(nullptr, test::kVnbEthernet, DN_HAS_PROBLEM, 10));
    DEVINST node = 0;
    ULONG status = 0, problem = 0;
    ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&node, const_cast<wchar_t*>(test::kVnbEthernet), 0));
    ASSERT_EQ(CR_SUCCESS, sys->CM_Get_DevNode_Status_Ex(&status, &problem, node, 0, nullptr));
    EXPECT_EQ(static_cast<ULONG>(DN_HAS_PROBLEM), status);
    EXPECT_EQ(10u, problem);
}

TEST_F(VnbDevNodeTest, SmallBuffersGetBufferSmall) {
    const wchar_t* longId = test::kVnbSoftModem;
    ASSERT_GE(wcslen(longId), 40u);
    DEVINST node = 0;
    ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&node, const_cast<wchar_t*>(longId), 0));
    ULONG length = 0;
    ASSERT_EQ(CR_SUCCESS, sys->CM_Get_Device_ID_Size(&length, node, 0));
    EXPECT_EQ(wcslen(longId), length);
    wchar_t id[260];
    wmemset(id, L'#', 260);
    EXPECT_EQ(CR_BUFFER_SMALL, sys->CM_Get_Device_IDW(node, id, length, 0));
    EXPECT_EQ(length - 1, wcslen(id));
    wmemset(id, L'#', 260);
    EXPECT_EQ(CR_BUFFER_SMALL, sys->CM_Get_Device_IDW(node, id, 10, 0));
    EXPECT_EQ(9u, wcslen(id));
    EXPECT_EQ(L'#', id[10]);
    ASSERT_EQ(CR_SUCCESS, sys->CM_Get_Device_IDW(node, id, length + 1, 0));
    EXPECT_STREQ(longId, id);

    std::wstring desc = test::Device(longId).description;
    ULONG bytes = 4, type = 0;
    BYTE buffer[520];
    EXPECT_EQ(CR_BUFFER_SMALL, sys->CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_DEVICEDESC, &type, buffer, &bytes, 0));
    EXPECT_EQ((desc.size() + 1) * sizeof(wchar_t), bytes);
    bytes = 0;
    EXPECT_EQ(CR_BUFFER_SMALL,
              sys->CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_DEVICEDESC, &type, nullptr, &bytes, 0));
    EXPECT_EQ((desc.size() + 1) * sizeof(wchar_t), bytes);
    bytes = sizeof(buffer);
    ASSERT_EQ(CR_SUCCESS, sys->CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_DEVICEDESC, &type, buffer, &bytes, 0));
    EXPECT_EQ(static_cast<ULONG>(REG_SZ), type);
    EXPECT_EQ(desc, reinterpret_cast<wchar_t*>(buffer));
    EXPECT_EQ((desc.size() + 1) * sizeof(wchar_t), bytes);

    DEVINST radio = 0;
    ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&radio, const_cast<wchar_t*>(test::kVnbBluetooth), 0));
    bytes = sizeof(buffer);
    EXPECT_EQ(CR_NO_SUCH_VALUE,
              sys->CM_Get_DevNode_Registry_PropertyW(radio, CM_DRP_FRIENDLYNAME, &type, buffer, &bytes, 0));
    DEVINST root = 0;
    ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&root, nullptr, 0));
    bytes = sizeof(buffer);
    EXPECT_EQ(CR_NO_SUCH_VALUE,
              sys->CM_Get_DevNode_Registry_PropertyW(root, CM_DRP_DEVICEDESC, &type, buffer, &bytes, 0));
}

// ---- Power status and service controls ----

using VnbPowerTest = VnbTest;

TEST_F(VnbPowerTest, SystemPowerStatusFollowsTheMachine) {
    SYSTEM_POWER_STATUS status{};
    ASSERT_TRUE(sys->GetSystemPowerStatus(&status));
    EXPECT_EQ(1, status.ACLineStatus);
    EXPECT_EQ(1, status.BatteryFlag);
    EXPECT_EQ(100, status.BatteryLifePercent);

    VnbPower power{};
    ASSERT_TRUE(VnbGetPower(nullptr, &power));
    power.acLineStatus = 0;
    power.batteryFlag = 2;
    power.batteryLifePercent = 27;
    power.batteryLifeTime = 3120;
    power.batteryFullLifeTime = 11400;
    ASSERT_TRUE(VnbSetPower(nullptr, &power));
    ASSERT_TRUE(sys->GetSystemPowerStatus(&status));
    EXPECT_EQ(0, status.ACLineStatus);
    EXPECT_EQ(2, status.BatteryFlag);
    EXPECT_EQ(27, status.BatteryLifePercent);
    EXPECT_EQ(3120u, status.BatteryLifeTime);
    EXPECT_EQ(11400u, status.BatteryFullLifeTime);
}

TEST_F(VnbPowerTest, ServiceControlsTranslateIntoPowerAndSessionEvents) {
    VnbPower power{};
    ASSERT_TRUE(VnbGetPower(nullptr, &power));
    power.sessionId = 3;
    ASSERT_TRUE(VnbSetPower(nullptr, &power));
    struct Case {
        DWORD control;
        BOOL translated;
        DWORD systemControl, eventType;
    } cases[] = {
        {160, TRUE, SERVICE_CONTROL_POWEREVENT, 0},   {170, TRUE, SERVICE_CONTROL_POWEREVENT, PBT_APMPOWERSTATUSCHANGE},
        {175, TRUE, SERVICE_CONTROL_POWEREVENT, 15},  {176, TRUE, SERVICE_CONTROL_SESSIONCHANGE, 0},
        {181, TRUE, SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON},
        {191, TRUE, SERVICE_CONTROL_SESSIONCHANGE, 15}, {159, FALSE, 0, 0}, {192, FALSE, 0, 0},
        {13, FALSE, 0, 0}, {14, FALSE, 0, 0}, {1, FALSE, 0, 0}, {128, FALSE, 0, 0},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        DWORD systemControl = kBogus, eventType = kBogus;
        WTSSESSION_NOTIFICATION data{kBogus, kBogus};
        BOOL translated = sys->TranslateServiceControl(cases[i].control, &systemControl, &eventType, &data, sizeof(data));
        EXPECT_EQ(cases[i].translated, translated) << i;
        if (!translated) continue;
        EXPECT_EQ(cases[i].systemControl, systemControl) << i;
        EXPECT_EQ(cases[i].eventType, eventType) << i;
        bool session = systemControl == SERVICE_CONTROL_SESSIONCHANGE;
        EXPECT_EQ(session ? sizeof(data) : kBogus, data.cbSize) << i;
        EXPECT_EQ(session ? 3u : kBogus, data.dwSessionId) << i;
    }
    DWORD systemControl = 0, eventType = 0;
    WTSSESSION_NOTIFICATION data{};
    EXPECT_FALSE(sys->TranslateServiceControl(181, &systemControl, &eventType, &data, sizeof(data) - 1));
    EXPECT_FALSE(sys->TranslateServiceControl(181, &systemControl, &eventType, nullptr, sizeof(data)));
    EXPECT_TRUE(sys->TranslateServiceControl(170, &systemControl, &eventType, nullptr, 0));
}

// ---- The machine file ----

using VnbMachineFileTest = VnbTest;

TEST_F(VnbMachineFileTest, TheFileIsTextWithTheClassesInItsHeader) {
    std::string text = FileText();
    EXPECT_EQ(0u, text.find("; Virtual notebook machine file")) << text.substr(0, 200);
    for (const char* expected : {"{4d36e972-e325-11ce-bfc1-08002be10318}", "{e0cbf06c-cd8b-4647-bb8a-263b43f0f974}",
                                 "[Machine]\r\nFormat=1", "[Power]\r\nACLineStatus=1",
                                 "[Device]\r\nInstanceId=HTREE\\ROOT\\0\r\nParent=\r\n",
                                 "InstanceId=ROOT\\LEGACY_ZORAEBL\\0000\r\nParent=HTREE\\ROOT\\0\r\n"
                                 "Class={8ecc055d-047f-11d1-a537-0000f8753ed1}\r\nDescription=zoraebl\r\n"})
        EXPECT_NE(std::string::npos, text.find(expected)) << expected;
}

TEST_F(VnbMachineFileTest, SectionsOfOtherSubsystemsSurviveARewrite) {
    std::string text = FileText() + "\r\n[Battery0]\r\nDesignCapacity=56160\r\n; kept\r\n";
    ASSERT_TRUE(test::WriteTextFile(m_machine.Path(), text.c_str()));
    ASSERT_EQ(0u, Switch(test::kVnbCamera, DICS_DISABLE));
    std::string after = FileText();
    EXPECT_NE(std::string::npos, after.find("[Battery0]\r\nDesignCapacity=56160\r\n; kept\r\n")) << after;
    EXPECT_EQ(static_cast<DWORD>(CM_PROB_DISABLED), test::Device(test::kVnbCamera).problem);
}

TEST_F(VnbMachineFileTest, AMissingFileIsCreatedWithTheDefaultMachine) {
    test::TempDir dir;
    std::wstring file = dir.Path() + L"\\new.machine";
    ZoraSystemApi table{};
    table.cbSize = sizeof(table);
    ASSERT_TRUE(VnbAttach(&table, file.c_str())) << GetLastError();
    EXPECT_NE(nullptr, table.CM_Locate_DevNodeW);
    EXPECT_EQ(VnbDeviceCount(m_machine.Path().c_str()), VnbDeviceCount(file.c_str()));
    // The attach above took this process's machine; give it back for the rest of the case.
    ASSERT_TRUE(VnbAttach(&table, m_machine.Path().c_str()));
    ZoraSystemApi old{};
    old.cbSize = sizeof(old) - sizeof(void*);
    SetLastError(kBogus);
    EXPECT_FALSE(VnbAttach(&old, file.c_str()));
    EXPECT_EQ(nullptr, old.CM_Locate_DevNodeW);
}

DWORD WINAPI TakeMachineMutexAndEnd(void*) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Global\\ZORA_VNB_MACHINE");
    if (!mutex || WaitForSingleObject(mutex, 5000) != WAIT_OBJECT_0) return 1;
    return 0;  // ends holding it
}

TEST_F(VnbMachineFileTest, AnAbandonedMutexIsTakenOver) {
    HANDLE thread = CreateThread(nullptr, 0, TakeMachineMutexAndEnd, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    DWORD code = 9;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    ASSERT_EQ(0u, code);
    VnbPower power{};
    EXPECT_TRUE(VnbGetPower(nullptr, &power)) << GetLastError();
    EXPECT_EQ(0u, Switch(test::kVnbCamera, DICS_DISABLE));
}

const char* const kMalformed[] = {
    "",
    "garbage\r\n",
    "[Power]\r\nACLineStatus=1\r\n",                              // no [Machine] first
    "[Machine]\r\nFormat=2\r\n",                                  // unknown format
    "[Machine]\r\nFormat=1\r\n[Device]\r\nInstanceId=HTREE\\ROOT\\0\r\n",  // no power, half a device
    "[Machine]\r\nFormat=1\r\n[Power]\r\nACLineStatus=1\r\nBatteryFlag=1\r\nBatteryLifePercent=300\r\n"
    "BatteryLifeTime=0\r\nBatteryFullLifeTime=0\r\nSessionId=1\r\n",  // a byte out of range
    "[Machine]\r\nFormat=1\r\n[Power]\r\nACLineStatus=1\r\nBatteryFlag=1\r\nBatteryLifePercent=3\r\n"
    "BatteryLifeTime=0\r\nBatteryFullLifeTime=0\r\nSessionId=1\r\n[Device]\r\nInstanceId=A\\B\\0\r\n"
    "Parent=X\\Y\\0\r\nClass=\r\nDescription=\r\nStatus=0\r\nProblem=0\r\nPresent=1\r\n",  // root with a parent
};

class VnbMalformedTest : public VnbTest, public ::testing::WithParamInterface<int> {};

TEST_P(VnbMalformedTest, EveryEntryFailsCleanlyAndTheFileIsKept) {
    const char* text = kMalformed[GetParam()];
    Set opened = EmptySet();
    SP_DEVINFO_DATA device = DevInfoData();
    ASSERT_TRUE(sys->SetupDiOpenDeviceInfoW(opened.handle, test::kVnbWireless, nullptr, 0, &device));
    SP_PROPCHANGE_PARAMS params = Change(DICS_DISABLE);
    ASSERT_TRUE(sys->SetupDiSetClassInstallParamsW(opened.handle, &device, &params.ClassInstallHeader, sizeof(params)));
    ASSERT_TRUE(test::WriteTextFile(m_machine.Path(), text));

    SetLastError(kBogus);
    EXPECT_EQ(INVALID_HANDLE_VALUE, sys->SetupDiGetClassDevsW(&kNet, nullptr, nullptr, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), GetLastError());
    SetLastError(kBogus);
    EXPECT_FALSE(sys->SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, opened.handle, &device));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), GetLastError());
    std::wstring value;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), Property(opened.handle, &device, SPDRP_DEVICEDESC, &value));
    DEVINST node = 0;
    EXPECT_EQ(CR_FAILURE, sys->CM_Locate_DevNodeW(&node, nullptr, 0));
    ULONG status = 0, problem = 0;
    EXPECT_EQ(CR_FAILURE, sys->CM_Get_DevNode_Status_Ex(&status, &problem, 1, 0, nullptr));
    SYSTEM_POWER_STATUS power{};
    SetLastError(kBogus);
    EXPECT_FALSE(sys->GetSystemPowerStatus(&power));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), GetLastError());
    DWORD systemControl = 0, eventType = 0;
    WTSSESSION_NOTIFICATION data{};
    EXPECT_FALSE(sys->TranslateServiceControl(181, &systemControl, &eventType, &data, sizeof(data)));
    EXPECT_EQ(-1, VnbDeviceCount(nullptr));
    VnbPower newPower{};
    EXPECT_FALSE(VnbSetPower(nullptr, &newPower));
    EXPECT_FALSE(VnbSetDeviceState(nullptr, test::kVnbWireless, 0, 0));
    EXPECT_EQ(std::string(text), FileText());
}

INSTANTIATE_TEST_SUITE_P(Texts, VnbMalformedTest, ::testing::Range(0, static_cast<int>(ARRAYSIZE(kMalformed))));

}  // namespace
