// The virtual notebook behind the library's system-API table, inside one process:
// device information sets, device switching as the device manager does it, the
// configuration manager's tree, the power status, the service-control translation,
// the driver's device object, the machine file and the values of its sections.
#include <gtest/gtest.h>
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <wtsapi32.h>
#include <winioctl.h>
#include <batclass.h>

#include <functional>
#include <string>
#include <vector>

#include "MachineSupport.h"
#include "TestSupport.h"
#include "ZoraInstallKey.h"
#include "ZoraEblContract.h"
#include "ZoraPowerPolicy.h"
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

SP_PROPCHANGE_PARAMS Change(DWORD action) {
    SP_PROPCHANGE_PARAMS params{};
    params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    params.StateChange = action;
    params.Scope = DICS_FLAG_GLOBAL;
    return params;
}

class VnbTest : public test::MachineCase {
protected:
    void SetUp() override {
        MachineCase::SetUp();
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
    Set ClassDevs(const GUID& guid, DWORD flags) {
        return Set{sys, sys->SetupDiGetClassDevsW(&guid, nullptr, nullptr, flags)};
    }
    Set EmptySet() { return Set{sys, sys->SetupDiCreateDeviceInfoList(nullptr, nullptr)}; }
    // A set holding the one device, opened by its instance ID.
    Set Opened(const wchar_t* instanceId, SP_DEVINFO_DATA* device) {
        Set set = EmptySet();
        *device = DevInfoData();
        EXPECT_TRUE(sys->SetupDiOpenDeviceInfoW(set.handle, instanceId, nullptr, 0, device)) << GetLastError();
        return set;
    }

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

    // The device manager's sequence: set params, change state (result unused), call
    // the class installer. Returns the class installer's last error, 0 on success.
    DWORD Switch(const wchar_t* instanceId, DWORD action) {
        SP_DEVINFO_DATA device;
        Set set = Opened(instanceId, &device);
        SP_PROPCHANGE_PARAMS params = Change(action);
        if (!sys->SetupDiSetClassInstallParamsW(set.handle, &device, &params.ClassInstallHeader, sizeof(params)))
            return GetLastError();
        sys->SetupDiChangeState(set.handle, &device);
        SetLastError(kBogus);
        return sys->SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set.handle, &device) ? 0 : GetLastError();
    }

    // Status and problem as the configuration manager reports them.
    CONFIGRET NodeStatus(const wchar_t* instanceId, ULONG* status, ULONG* problem, ULONG flags = 0) {
        DEVINST node = 0;
        CONFIGRET cr = sys->CM_Locate_DevNodeW(&node, const_cast<wchar_t*>(instanceId), flags);
        return cr == CR_SUCCESS ? sys->CM_Get_DevNode_Status_Ex(status, problem, node, 0, nullptr) : cr;
    }

    std::string FileText() { return test::ReadTextFile(m_machine.Path()); }

    ZoraSystemApi* sys = nullptr;
};

// ---- Device information sets ----

using VnbDeviceSetTest = VnbTest;

TEST_F(VnbDeviceSetTest, ClassDevicesAreListedUntilNoMoreItems) {
    const struct ClassCount {
        const GUID* guid;
        DWORD all, present;  // flags 0 (present or not), DIGCF_PRESENT
    } classes[] = {{&kNet, 3, 3},   {&kBluetooth, 1, 1}, {&kModem, 2, 1}, {&kImage, 1, 1},
                   {&kCdrom, 1, 1}, {&kMedia, 1, 1},     {&kLegacy, 1, 1}};
    for (size_t c = 0; c < ARRAYSIZE(classes); ++c) {
        for (DWORD flags : {0ul, static_cast<unsigned long>(DIGCF_PRESENT)}) {
            SCOPED_TRACE(testing::Message() << "class " << c << " flags " << flags);
            Set set = ClassDevs(*classes[c].guid, flags);
            ASSERT_NE(INVALID_HANDLE_VALUE, set.handle);
            DWORD index = 0;
            SP_DEVINFO_DATA device = DevInfoData();
            for (SetLastError(kBogus); sys->SetupDiEnumDeviceInfo(set.handle, index, &device); ++index) {
                EXPECT_TRUE(IsEqualGUID(*classes[c].guid, device.ClassGuid)) << index;
                VnbDevice node = test::Device(InstanceId(set.handle, &device).c_str());
                EXPECT_NE(L'\0', node.instanceId[0]) << index;
                EXPECT_TRUE(node.present || !flags) << index;
            }
            EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError());
            EXPECT_EQ(flags ? classes[c].present : classes[c].all, index);
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
    const struct {
        DWORD property;
        const wchar_t* text;
    } properties[] = {{SPDRP_DEVICEDESC, L"Gigabit Ethernet Controller"},
                      {SPDRP_FRIENDLYNAME, L"Gigabit Ethernet Controller (PCIe)"},
                      {SPDRP_CLASSGUID, L"{4d36e972-e325-11ce-bfc1-08002be10318}"},
                      {SPDRP_CLASS, L"Net"}};
    for (size_t i = 0; i < ARRAYSIZE(properties); ++i) {
        std::wstring text;
        ASSERT_EQ(0u, Property(listed.handle, &ethernet, properties[i].property, &text)) << "case " << i;
        EXPECT_EQ(properties[i].text, text) << "case " << i;
    }
    SP_DEVINFO_DATA none = DevInfoData();
    EXPECT_TRUE(
        test::FailsWith(ERROR_NO_MORE_ITEMS, [&] { return sys->SetupDiEnumDeviceInfo(listed.handle, 3, &none); }));
}

TEST_F(VnbDeviceSetTest, OpeningIsCaseInsensitiveAndUnknownDevicesFail) {
    std::wstring lower = test::kVnbBluetooth;
    CharLowerW(lower.data());
    SP_DEVINFO_DATA device;
    Set set = Opened(lower.c_str(), &device);
    EXPECT_EQ(std::wstring(test::kVnbBluetooth), InstanceId(set.handle, &device));
    SP_DEVINFO_DATA again = DevInfoData();
    ASSERT_TRUE(sys->SetupDiOpenDeviceInfoW(set.handle, test::kVnbBluetooth, nullptr, 0, &again));
    EXPECT_EQ(device.DevInst, again.DevInst) << "opening it again gives the same element, not a second one";
    EXPECT_FALSE(sys->SetupDiEnumDeviceInfo(set.handle, 1, &again));

    EXPECT_TRUE(test::FailsWith(ERROR_NO_SUCH_DEVINST, [&] {
        return sys->SetupDiOpenDeviceInfoW(set.handle, L"PCI\\VEN_0000&DEV_0000\\0", nullptr, 0, &again);
    }));
    Set net = Set{sys, sys->SetupDiCreateDeviceInfoList(&kNet, nullptr)};
    EXPECT_TRUE(test::FailsWith(ERROR_CLASS_MISMATCH, [&] {
        return sys->SetupDiOpenDeviceInfoW(net.handle, test::kVnbBluetooth, nullptr, 0, &again);
    }));
}

// The instance ID (in characters) and the description (in bytes): no buffer, one
// short, the exact fit; "#" marks what the call must not write.
TEST_F(VnbDeviceSetTest, BuffersReportTheirRequiredSizes) {
    SP_DEVINFO_DATA device;
    Set set = Opened(test::kVnbWireless, &device);
    const wchar_t* description = L"Wireless 802.11a/b/g/n Network Adapter";
    const struct {
        const wchar_t* text;
        DWORD fit;
        std::function<BOOL(wchar_t*, DWORD, DWORD*)> get;
    } getters[] = {{test::kVnbWireless, static_cast<DWORD>(wcslen(test::kVnbWireless) + 1),
                    [&](wchar_t* out, DWORD size, DWORD* required) {
                        return sys->SetupDiGetDeviceInstanceIdW(set.handle, &device, out, size, required);
                    }},
                   {description, static_cast<DWORD>((wcslen(description) + 1) * sizeof(wchar_t)),
                    [&](wchar_t* out, DWORD size, DWORD* required) {
                        DWORD type = 0;
                        BOOL ok = sys->SetupDiGetDeviceRegistryPropertyW(set.handle, &device, SPDRP_DEVICEDESC, &type,
                                                                         reinterpret_cast<BYTE*>(out), size, required);
                        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
                        return ok;
                    }}};
    for (size_t i = 0; i < ARRAYSIZE(getters); ++i) {
        for (DWORD size : {0ul, getters[i].fit - 1, getters[i].fit}) {
            SCOPED_TRACE(testing::Message() << "case " << i << " size " << size);
            wchar_t text[260];
            wmemset(text, L'#', 260);
            DWORD required = 0;
            SetLastError(kBogus);
            BOOL ok = getters[i].get(size ? text : nullptr, size, &required);
            EXPECT_EQ(size == getters[i].fit, ok != FALSE);
            EXPECT_EQ(ok ? 0u : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
            EXPECT_EQ(getters[i].fit, required);
            EXPECT_STREQ(ok ? getters[i].text : L"#", std::wstring(text, ok ? 260 : 1).c_str());
        }
    }
}

TEST_F(VnbDeviceSetTest, AbsentAndUnknownPropertiesFail) {
    SP_DEVINFO_DATA radio;
    Set set = Opened(test::kVnbBluetooth, &radio);
    std::wstring text;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), Property(set.handle, &radio, SPDRP_FRIENDLYNAME, &text));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_REG_PROPERTY),
              Property(set.handle, &radio, SPDRP_MAXIMUM_PROPERTY, &text));
    SP_DEVINFO_DATA wrongSize = radio;
    wrongSize.cbSize = sizeof(wrongSize) - 1;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_USER_BUFFER), Property(set.handle, &wrongSize, SPDRP_DEVICEDESC, &text));
}

TEST_F(VnbDeviceSetTest, ListDetailChecksItsSizeAndIsLocal) {
    Set set = ClassDevs(kNet, DIGCF_PRESENT);
    SP_DEVINFO_LIST_DETAIL_DATA_W detail{};
    detail.cbSize = sizeof(detail) + 1;
    EXPECT_TRUE(test::FailsWith(ERROR_INVALID_USER_BUFFER,
                                [&] { return sys->SetupDiGetDeviceInfoListDetailW(set.handle, &detail); }));
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
        auto fails = [&](BOOL result, const char* call) {
            EXPECT_FALSE(result) << call << ", case " << i;
            EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError()) << call << ", case " << i;
            SetLastError(kBogus);
        };
        SetLastError(kBogus);
        fails(sys->SetupDiEnumDeviceInfo(handles[i], 0, &device), "enum");
        fails(sys->SetupDiOpenDeviceInfoW(handles[i], test::kVnbWireless, nullptr, 0, &device), "open");
        fails(sys->SetupDiGetDeviceInfoListDetailW(handles[i], &detail), "detail");
        fails(sys->SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, handles[i], &device), "class installer");
        fails(sys->SetupDiDestroyDeviceInfoList(handles[i]), "destroy");
    }
}

TEST_F(VnbDeviceSetTest, ClassInstallParamsAreValidated) {
    SP_DEVINFO_DATA device;
    Set set = Opened(test::kVnbCamera, &device);
    const DWORD header = sizeof(SP_CLASSINSTALL_HEADER), whole = sizeof(SP_PROPCHANGE_PARAMS);
    struct Case {
        DWORD headerSize, function, size, stateChange, error;
    } cases[] = {
        {header + 4, DIF_PROPERTYCHANGE, whole, DICS_DISABLE, ERROR_INVALID_USER_BUFFER},
        {header, DIF_PROPERTYCHANGE, 2, DICS_DISABLE, ERROR_INVALID_USER_BUFFER},
        {header, DIF_REMOVE, whole, DICS_DISABLE, ERROR_INVALID_PARAMETER},
        {header, DIF_PROPERTYCHANGE, whole - 4, DICS_DISABLE, ERROR_INVALID_PARAMETER},
        {header, DIF_PROPERTYCHANGE, whole, 9, ERROR_INVALID_PARAMETER},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        SP_PROPCHANGE_PARAMS params = Change(cases[i].stateChange);
        params.ClassInstallHeader.cbSize = cases[i].headerSize;
        params.ClassInstallHeader.InstallFunction = cases[i].function;
        EXPECT_TRUE(test::FailsWith(cases[i].error,
                                    [&] {
                                        return sys->SetupDiSetClassInstallParamsW(
                                            set.handle, &device, &params.ClassInstallHeader, cases[i].size);
                                    }))
            << "case " << i;
    }
    EXPECT_TRUE(test::FailsWith(ERROR_NO_CLASSINSTALL_PARAMS, [&] {
        return sys->SetupDiChangeState(set.handle, &device);
    })) << "none of them was stored";
}

// ---- Switching devices ----

using VnbSwitchTest = VnbTest;

TEST_F(VnbSwitchTest, DisableThenEnableChangesTheMachine) {
    VnbDevice before = test::Device(test::kVnbWireless);
    ASSERT_EQ(static_cast<DWORD>(DN_STARTED | DN_DISABLEABLE), before.status & (DN_STARTED | DN_DISABLEABLE));
    ASSERT_EQ(0u, Switch(test::kVnbWireless, DICS_DISABLE));
    VnbDevice disabled = test::Device(test::kVnbWireless);
    EXPECT_EQ(static_cast<DWORD>(DN_HAS_PROBLEM), disabled.status & (DN_STARTED | DN_HAS_PROBLEM));
    EXPECT_EQ(static_cast<DWORD>(CM_PROB_DISABLED), disabled.problem);
    ULONG status = 0, problem = 0;
    ASSERT_EQ(CR_SUCCESS, NodeStatus(test::kVnbWireless, &status, &problem));
    EXPECT_EQ(disabled.status, status);
    EXPECT_EQ(static_cast<ULONG>(CM_PROB_DISABLED), problem);

    ASSERT_EQ(0u, Switch(test::kVnbWireless, DICS_ENABLE));
    EXPECT_EQ(before.status, test::Device(test::kVnbWireless).status);
    EXPECT_EQ(0u, test::Device(test::kVnbWireless).problem);
}

TEST_F(VnbSwitchTest, TheDisabledModemCanBeEnabled) {
    ASSERT_EQ(static_cast<DWORD>(CM_PROB_DISABLED), test::Device(test::kVnbSoftModem).problem);
    ASSERT_EQ(0u, Switch(test::kVnbSoftModem, DICS_ENABLE));
    VnbDevice modem = test::Device(test::kVnbSoftModem);
    EXPECT_EQ(static_cast<DWORD>(DN_STARTED), modem.status & (DN_STARTED | DN_HAS_PROBLEM));
    EXPECT_EQ(0u, modem.problem);
}

TEST_F(VnbSwitchTest, ChangeStateAndClassInstallerTogetherSwitchOnce) {
    SP_DEVINFO_DATA device;
    Set set = Opened(test::kVnbCamera, &device);
    SP_PROPCHANGE_PARAMS params = Change(DICS_DISABLE);
    ASSERT_TRUE(sys->SetupDiSetClassInstallParamsW(set.handle, &device, &params.ClassInstallHeader, sizeof(params)));
    EXPECT_TRUE(sys->SetupDiChangeState(set.handle, &device));
    EXPECT_TRUE(sys->SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set.handle, &device));
    EXPECT_EQ(static_cast<DWORD>(CM_PROB_DISABLED), test::Device(test::kVnbCamera).problem);
    EXPECT_EQ(0u, test::Device(test::kVnbCamera).status & DN_STARTED);

    ASSERT_TRUE(sys->SetupDiSetClassInstallParamsW(set.handle, &device, nullptr, 0));
    EXPECT_TRUE(test::FailsWith(ERROR_NO_CLASSINSTALL_PARAMS, [&] {
        return sys->SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set.handle, &device);
    })) << "cleared parameters leave nothing to apply";
}

TEST_F(VnbSwitchTest, ADeviceThatIsNotDisableableRefuses) {
    const wchar_t* fixed[] = {test::kVnbLegacyDriver, test::kVnbWanMiniport};
    for (size_t i = 0; i < ARRAYSIZE(fixed); ++i) {
        VnbDevice before = test::Device(fixed[i]);
        ASSERT_EQ(static_cast<DWORD>(DN_STARTED), before.status & (DN_STARTED | DN_DISABLEABLE)) << i;
        EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_DISABLEABLE), Switch(fixed[i], DICS_DISABLE)) << i;
        EXPECT_EQ(before.status, test::Device(fixed[i]).status) << i;
        EXPECT_EQ(0u, test::Device(fixed[i]).problem) << i;
    }
}

TEST_F(VnbSwitchTest, WithoutParamsOrForOtherFunctionsNothingChanges) {
    std::string text = FileText();
    SP_DEVINFO_DATA device;
    Set set = Opened(test::kVnbEthernet, &device);
    EXPECT_TRUE(
        test::FailsWith(ERROR_NO_CLASSINSTALL_PARAMS, [&] { return sys->SetupDiChangeState(set.handle, &device); }));
    EXPECT_TRUE(test::FailsWith(ERROR_NO_CLASSINSTALL_PARAMS, [&] {
        return sys->SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set.handle, &device);
    }));
    SP_PROPCHANGE_PARAMS params = Change(DICS_DISABLE);
    ASSERT_TRUE(sys->SetupDiSetClassInstallParamsW(set.handle, &device, &params.ClassInstallHeader, sizeof(params)));
    EXPECT_TRUE(test::FailsWith(ERROR_DI_DO_DEFAULT, [&] {
        return sys->SetupDiCallClassInstaller(DIF_SELECTBESTCOMPATDRV, set.handle, &device);
    }));
    EXPECT_EQ(text, FileText());
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
    std::vector<std::wstring> expected, visited;
    VnbDevice d{};
    for (int i = 0; VnbGetDevice(m_machine.Path().c_str(), i, &d); ++i)
        if (d.present) expected.push_back(d.instanceId);
    ASSERT_GT(expected.size(), 10u);
    DEVINST node = 0, next = 0;
    ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&node, nullptr, CM_LOCATE_DEVNODE_NORMAL));
    for (bool done = false; !done;) {
        visited.push_back(DeviceId(sys, node));
        ASSERT_LT(visited.size(), 100u) << "the walk does not end";
        if (sys->CM_Get_Child(&next, node, 0) == CR_SUCCESS) {
            node = next;
            continue;
        }
        while (!done && sys->CM_Get_Sibling(&next, node, 0) != CR_SUCCESS) {
            done = sys->CM_Get_Parent(&next, node, 0) != CR_SUCCESS;
            node = next;
        }
        node = next;
    }
    EXPECT_EQ(expected, visited);
}

TEST_F(VnbDevNodeTest, LocatingFindsTheRootNodesByIdAndPhantomsOnlyWhenAsked) {
    DEVINST root = 0, empty = 0, node = 0, parent = 0, child = 0;
    ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&root, nullptr, 0));
    ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&empty, const_cast<wchar_t*>(L""), 0));
    EXPECT_EQ(root, empty);
    EXPECT_EQ(std::wstring(test::kVnbRoot), DeviceId(sys, root));
    EXPECT_EQ(CR_NO_SUCH_DEVNODE, sys->CM_Get_Parent(&parent, root, 0));
    EXPECT_EQ(CR_NO_SUCH_DEVNODE, sys->CM_Get_Sibling(&parent, root, 0));

    std::wstring lower = test::kVnbLegacyDriver;
    CharLowerW(lower.data());
    ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&node, lower.data(), 0));
    EXPECT_EQ(std::wstring(test::kVnbLegacyDriver), DeviceId(sys, node));
    ASSERT_EQ(CR_SUCCESS, sys->CM_Get_Parent(&parent, node, 0));
    EXPECT_EQ(root, parent);
    EXPECT_EQ(CR_NO_SUCH_DEVNODE, sys->CM_Get_Child(&child, node, 0));

    ULONG status = 0, problem = 0;
    EXPECT_EQ(CR_NO_SUCH_DEVNODE, NodeStatus(test::kVnbBroadband, &status, &problem));
    ASSERT_EQ(CR_SUCCESS,
              sys->CM_Locate_DevNodeW(&node, const_cast<wchar_t*>(test::kVnbBroadband), CM_LOCATE_DEVNODE_PHANTOM));
    EXPECT_EQ(std::wstring(test::kVnbBroadband), DeviceId(sys, node));
    EXPECT_EQ(CR_NO_SUCH_DEVINST, sys->CM_Get_DevNode_Status_Ex(&status, &problem, node, 0, nullptr))
        << "a phantom is found, but has no status";
    EXPECT_EQ(CR_NO_SUCH_DEVNODE, NodeStatus(L"PCI\\VEN_0000&DEV_0000\\0", &status, &problem));
    EXPECT_EQ(CR_NO_SUCH_DEVINST, sys->CM_Get_DevNode_Status_Ex(&status, &problem, 0x7777, 0, nullptr));
}

TEST_F(VnbDevNodeTest, StatusAndProblemComeFromTheMachine) {
    ASSERT_TRUE(VnbSetDeviceState(nullptr, test::kVnbEthernet, DN_HAS_PROBLEM, 10));
    struct Case {
        const wchar_t* id;
        ULONG status, problem;  // status bits started and has-problem
    } cases[] = {
        {test::kVnbWireless, DN_STARTED, 0},
        {test::kVnbSoftModem, DN_HAS_PROBLEM, CM_PROB_DISABLED},
        {test::kVnbLegacyDriver, DN_STARTED, 0},
        {test::kVnbEthernet, DN_HAS_PROBLEM, 10},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        ULONG status = kBogus, problem = kBogus;
        ASSERT_EQ(CR_SUCCESS, NodeStatus(cases[i].id, &status, &problem)) << "case " << i;
        EXPECT_EQ(cases[i].status, status & (DN_STARTED | DN_HAS_PROBLEM)) << "case " << i;
        EXPECT_EQ(cases[i].problem, problem) << "case " << i;
    }
}

// The soft modem's ID into the exact fit, one short and far too small; its description
// by size only, into a small buffer and the exact fit; an absent property.
TEST_F(VnbDevNodeTest, SmallBuffersGetBufferSmall) {
    const wchar_t* longId = test::kVnbSoftModem;
    DEVINST node = 0;
    ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&node, const_cast<wchar_t*>(longId), 0));
    ULONG length = 0;
    ASSERT_EQ(CR_SUCCESS, sys->CM_Get_Device_ID_Size(&length, node, 0));
    EXPECT_EQ(76u, length);
    const struct {
        ULONG size;
        CONFIGRET result;
        size_t copied;
    } cases[] = {{length, CR_BUFFER_SMALL, length - 1}, {10, CR_BUFFER_SMALL, 9}, {length + 1, CR_SUCCESS, length}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        wchar_t id[260];
        wmemset(id, L'#', 260);
        EXPECT_EQ(cases[i].result, sys->CM_Get_Device_IDW(node, id, cases[i].size, 0)) << "case " << i;
        EXPECT_EQ(cases[i].copied, wcslen(id)) << "terminated within the buffer, case " << i;
        EXPECT_EQ(0, wcsncmp(longId, id, cases[i].copied)) << "case " << i;
        EXPECT_EQ(L'#', id[cases[i].size]) << "case " << i;
    }

    std::wstring desc = test::Device(longId).description;
    ULONG fit = static_cast<ULONG>((desc.size() + 1) * sizeof(wchar_t)), type = 0;
    BYTE buffer[520];
    for (BYTE* target : {buffer, static_cast<BYTE*>(nullptr)}) {
        ULONG bytes = target ? 4 : 0;
        EXPECT_EQ(CR_BUFFER_SMALL,
                  sys->CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_DEVICEDESC, &type, target, &bytes, 0));
        EXPECT_EQ(fit, bytes);
    }
    ULONG bytes = fit;
    ASSERT_EQ(CR_SUCCESS, sys->CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_DEVICEDESC, &type, buffer, &bytes, 0));
    EXPECT_EQ(static_cast<ULONG>(REG_SZ), type);
    EXPECT_EQ(desc, reinterpret_cast<wchar_t*>(buffer));
    EXPECT_EQ(fit, bytes);

    DEVINST radio = 0, root = 0;
    ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&radio, const_cast<wchar_t*>(test::kVnbBluetooth), 0));
    ASSERT_EQ(CR_SUCCESS, sys->CM_Locate_DevNodeW(&root, nullptr, 0));
    bytes = sizeof(buffer);
    EXPECT_EQ(CR_NO_SUCH_VALUE,
              sys->CM_Get_DevNode_Registry_PropertyW(radio, CM_DRP_FRIENDLYNAME, &type, buffer, &bytes, 0));
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
    // The flag and the times are the battery's, set to 27 % and discharging at 15 W.
    EXPECT_EQ(0, status.ACLineStatus);
    EXPECT_EQ(2, status.BatteryFlag);
    EXPECT_EQ(27, status.BatteryLifePercent);
    EXPECT_NEAR(13811 * 3600 / 15000, status.BatteryLifeTime, 5);
    EXPECT_EQ(51150u * 3600 / 15000, status.BatteryFullLifeTime);

    // A machine without battery slots keeps the status as set.
    std::string text = FileText();
    size_t at = text.find("[Battery0]");
    ASSERT_NE(std::string::npos, at);
    text.replace(at, 10, "[Cell0]");
    ASSERT_TRUE(test::WriteTextFile(m_machine.Path(), text.c_str()));
    power.batteryFlag = 2;
    power.batteryLifeTime = 3120;
    power.batteryFullLifeTime = 11400;
    ASSERT_TRUE(VnbSetPower(nullptr, &power));
    ASSERT_TRUE(sys->GetSystemPowerStatus(&status));
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
        {160, TRUE, SERVICE_CONTROL_POWEREVENT, 0},
        {170, TRUE, SERVICE_CONTROL_POWEREVENT, PBT_APMPOWERSTATUSCHANGE},
        {175, TRUE, SERVICE_CONTROL_POWEREVENT, 15},
        {176, TRUE, SERVICE_CONTROL_SESSIONCHANGE, 0},
        {181, TRUE, SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON},
        {191, TRUE, SERVICE_CONTROL_SESSIONCHANGE, 15},
        {159, FALSE, kBogus, kBogus},
        {192, TRUE, SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMEAUTOMATIC},
        {193, FALSE, kBogus, kBogus},
        {13, FALSE, kBogus, kBogus},
        {14, FALSE, kBogus, kBogus},
        {1, FALSE, kBogus, kBogus},
        {128, FALSE, kBogus, kBogus},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        DWORD systemControl = kBogus, eventType = kBogus;
        WTSSESSION_NOTIFICATION data{kBogus, kBogus};
        EXPECT_EQ(cases[i].translated,
                  sys->TranslateServiceControl(cases[i].control, &systemControl, &eventType, &data, sizeof(data)))
            << "case " << i;
        EXPECT_EQ(cases[i].systemControl, systemControl) << "case " << i;
        EXPECT_EQ(cases[i].eventType, eventType) << "case " << i;
        bool session = systemControl == SERVICE_CONTROL_SESSIONCHANGE;
        EXPECT_EQ(session ? sizeof(data) : kBogus, data.cbSize) << "case " << i;
        EXPECT_EQ(session ? 3u : kBogus, data.dwSessionId) << "case " << i;
    }
    DWORD systemControl = 0, eventType = 0;
    WTSSESSION_NOTIFICATION data{};
    EXPECT_FALSE(sys->TranslateServiceControl(181, &systemControl, &eventType, &data, sizeof(data) - 1));
    EXPECT_FALSE(sys->TranslateServiceControl(181, &systemControl, &eventType, nullptr, sizeof(data)));
    EXPECT_TRUE(sys->TranslateServiceControl(170, &systemControl, &eventType, nullptr, 0));
}

// ---- The driver's device object ----

HANDLE OpenDriver() {
    return ZoraSys()->CreateFileW(ZORAEBL_DEVICE_PATH, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST_F(VnbTest, DriverOpensOnlyWhileInstalled) {
    HANDLE driver = OpenDriver();
    ASSERT_NE(INVALID_HANDLE_VALUE, driver);
    // An unknown function of the driver's device type, and another device type.
    for (DWORD code : {static_cast<DWORD>(ZoraEblCode(0x7FF)), static_cast<DWORD>(0x00220000)}) {
        DWORD returned = 99;
        char out[16];
        EXPECT_TRUE(test::FailsWith(ERROR_INVALID_FUNCTION, [&] {
            return sys->DeviceIoControl(driver, code, nullptr, 0, out, sizeof(out), &returned, nullptr);
        })) << code;
        EXPECT_EQ(0u, returned) << code;
    }
    EXPECT_TRUE(sys->CloseHandle(driver));

    test::SetMachineValue(L"Driver", L"Installed", L"0");
    EXPECT_TRUE(test::FailsWith(ERROR_FILE_NOT_FOUND, [&] { return OpenDriver(); }));
}

TEST_F(VnbTest, OtherPathsReachTheRealSystem) {
    test::TempDir dir;
    std::wstring file = dir.Path() + L"\\real.txt";
    HANDLE h = sys->CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));
    EXPECT_TRUE(sys->CloseHandle(h));
    EXPECT_EQ("abc", test::ReadTextFile(file));
    SetLastError(kBogus);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              sys->CreateFileW(L"\\\\.\\NoSuchDeviceHere", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_NE(kBogus, GetLastError());
}

// ---- The machine file and its values ----

using VnbMachineFileTest = VnbTest;

// "0x1234" into the exact fit and one short; absent sections and keys; names and values
// that would break the file's text.
TEST_F(VnbMachineFileTest, ValuesFillTheCallersBufferAndRefuseWhatTheFileCannotHold) {
    const wchar_t* path = m_machine.Path().c_str();
    ASSERT_TRUE(VnbSetValue(path, L"Scratch", L"Marker", L"0x1234"));
    const struct Case {
        const wchar_t *section, *key;
        DWORD chars;
        DWORD error;  // 0: copied
        const wchar_t* text;
    } cases[] = {{L"Scratch", L"Marker", 7, 0, L"0x1234"},
                 {L"Scratch", L"Marker", 6, ERROR_INSUFFICIENT_BUFFER, L""},
                 {L"Driver", L"NoSuchKey", 32, ERROR_NOT_FOUND, L"#"},
                 {L"NoSuchSection", L"Installed", 32, ERROR_NOT_FOUND, L"#"},
                 {L"Driver", L"Installed", 0, ERROR_INVALID_PARAMETER, L"#"}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        wchar_t value[32];
        wmemset(value, L'#', 32);
        value[1] = L'\0';
        SetLastError(kBogus);
        EXPECT_EQ(cases[i].error == 0,
                  VnbGetValue(path, cases[i].section, cases[i].key, value, cases[i].chars) != FALSE)
            << "case " << i;
        EXPECT_EQ(cases[i].error, GetLastError()) << "case " << i;
        EXPECT_STREQ(cases[i].text, value) << "case " << i;
    }
    const wchar_t* refused[][2] = {{L"Bad]Name", L"v"}, {L"Driver", L"two\r\nlines"}};
    for (size_t i = 0; i < ARRAYSIZE(refused); ++i) {
        EXPECT_TRUE(test::FailsWith(ERROR_INVALID_PARAMETER,
                                    [&] { return VnbSetValue(path, refused[i][0], L"k", refused[i][1]); }))
            << "case " << i;
    }
}

// The configured machine file's name into the exact fit (its length and the terminator)
// and one short.
TEST_F(VnbMachineFileTest, TheConfiguredMachineFillsTheExactFit) {
    const std::wstring& path = m_machine.Path();
    const DWORD exact = static_cast<DWORD>(path.size() + 1);
    std::vector<wchar_t> name(exact + 8, L'#');
    ASSERT_TRUE(VnbConfiguredMachine(name.data(), exact)) << GetLastError();
    EXPECT_EQ(path, std::wstring(name.data()));
    EXPECT_EQ(L'#', name[exact]) << "nothing written past the buffer";
    std::fill(name.begin(), name.end(), L'#');
    EXPECT_TRUE(test::FailsWith(ERROR_MORE_DATA, [&] { return VnbConfiguredMachine(name.data(), exact - 1); }));
    EXPECT_EQ(L'\0', name[0]);
}

TEST_F(VnbMachineFileTest, TheFileIsTextWithTheClassesInItsHeader) {
    std::string text = FileText();
    EXPECT_EQ(0u, text.find("; Virtual notebook machine file")) << text.substr(0, 200);
    for (const char* expected :
         {"{4d36e972-e325-11ce-bfc1-08002be10318}", "{e0cbf06c-cd8b-4647-bb8a-263b43f0f974}", "[Machine]\r\nFormat=1",
          "[Power]\r\nACLineStatus=1", "[Device]\r\nInstanceId=HTREE\\ROOT\\0\r\nParent=\r\n",
          "InstanceId=ROOT\\LEGACY_ZORAEBL\\0000\r\nParent=HTREE\\ROOT\\0\r\n"
          "Class={8ecc055d-047f-11d1-a537-0000f8753ed1}\r\nDescription=zoraebl\r\n"})
        EXPECT_NE(std::string::npos, text.find(expected)) << expected;
}

TEST_F(VnbMachineFileTest, SectionsOfOtherSubsystemsSurviveARewrite) {
    std::string text = FileText() + "\r\n[Battery0]\r\nDesignCapacity=56160\r\n; kept\r\n";
    ASSERT_TRUE(test::WriteTextFile(m_machine.Path(), text.c_str()));
    ASSERT_EQ(0u, Switch(test::kVnbCamera, DICS_DISABLE));
    EXPECT_NE(std::string::npos, FileText().find("[Battery0]\r\nDesignCapacity=56160\r\n; kept\r\n")) << FileText();
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
    EXPECT_NE(kBogus, GetLastError());
    EXPECT_EQ(nullptr, old.CM_Locate_DevNodeW);
}

DWORD WINAPI TakeMachineMutexAndEnd(void*) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Global\\ZORA_VNB_MACHINE");
    return mutex && WaitForSingleObject(mutex, 5000) == WAIT_OBJECT_0 ? 0 : 1;  // ends holding it
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
    "[Power]\r\nACLineStatus=1\r\n",                                       // no [Machine] first
    "[Machine]\r\nFormat=2\r\n",                                           // unknown format
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
    SP_DEVINFO_DATA device;
    Set opened = Opened(test::kVnbWireless, &device);
    SP_PROPCHANGE_PARAMS params = Change(DICS_DISABLE);
    ASSERT_TRUE(sys->SetupDiSetClassInstallParamsW(opened.handle, &device, &params.ClassInstallHeader, sizeof(params)));
    ASSERT_TRUE(test::WriteTextFile(m_machine.Path(), text));

    EXPECT_TRUE(
        test::FailsWith(ERROR_FILE_CORRUPT, [&] { return sys->SetupDiGetClassDevsW(&kNet, nullptr, nullptr, 0); }));
    EXPECT_TRUE(test::FailsWith(ERROR_FILE_CORRUPT, [&] {
        return sys->SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, opened.handle, &device);
    }));
    std::wstring value;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), Property(opened.handle, &device, SPDRP_DEVICEDESC, &value));
    DEVINST node = 0;
    EXPECT_EQ(CR_FAILURE, sys->CM_Locate_DevNodeW(&node, nullptr, 0));
    ULONG status = 0, problem = 0;
    EXPECT_EQ(CR_FAILURE, sys->CM_Get_DevNode_Status_Ex(&status, &problem, 1, 0, nullptr));
    SYSTEM_POWER_STATUS power{};
    EXPECT_TRUE(test::FailsWith(ERROR_FILE_CORRUPT, [&] { return sys->GetSystemPowerStatus(&power); }));
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

// ---- The system-API table's defaults on the real machine: entries found by name in a
// system DLL are that DLL's exports or, where it lacks one, fail as a missing system
// function does; the provider module the installation names decides whether the
// virtual notebook takes its entries. Each case is the first ZoraSys() of its process
// (ctest runs every case as a process of its own). ----

template <class Function>
void* Address(Function function) {
    return reinterpret_cast<void*>(function);
}

// The real machine's own GetSystemPowerStatus is in the table: no provider took it.
bool RealTable(const ZoraSystemApi* sys) {
    return Address(sys->GetSystemPowerStatus) ==
           Address(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemPowerStatus"));
}

// Calls an entry with every argument zero or null.
template <class Result, class... Parameters>
Result CallWithNothing(Result(WINAPI* function)(Parameters...)) {
    return function(Parameters{}...);
}

// An entry found by name in PowrProf.dll: the export itself, or (the DLL lacks it) a
// function failing with ERROR_CALL_NOT_IMPLEMENTED. Counts the exports that are missing.
template <auto Member>
void ExpectPowrProfEntry(const ZoraSystemApi& sys, const char* name, int* missing) {
    auto entry = sys.*Member;
    ASSERT_NE(nullptr, Address(entry)) << name;
    FARPROC exported = GetProcAddress(GetModuleHandleW(L"PowrProf.dll"), name);
    if (exported) {
        EXPECT_EQ(Address(exported), Address(entry)) << name;
        return;
    }
    ++*missing;
    SetLastError(kBogus);
    EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED), CallWithNothing(entry)) << name;
    EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED), GetLastError()) << name;
}

#define POWRPROF_ENTRY(name) {#name, ExpectPowrProfEntry<&ZoraSystemApi::name>}
const struct {
    const char* name;
    void (*expect)(const ZoraSystemApi& sys, const char* name, int* missing);
} kPowrProfEntries[] = {
    POWRPROF_ENTRY(PowerEnumerate),         POWRPROF_ENTRY(PowerDeleteScheme),
    POWRPROF_ENTRY(PowerDuplicateScheme),   POWRPROF_ENTRY(PowerWriteFriendlyName),
    POWRPROF_ENTRY(PowerWriteDescription),  POWRPROF_ENTRY(PowerWriteACValueIndex),
    POWRPROF_ENTRY(PowerReadACValueIndex),  POWRPROF_ENTRY(PowerWriteDCValueIndex),
    POWRPROF_ENTRY(PowerReadDCValueIndex),  POWRPROF_ENTRY(PowerReadDescription),
    POWRPROF_ENTRY(PowerReadFriendlyName),  POWRPROF_ENTRY(PowerSetActiveScheme),
    POWRPROF_ENTRY(PowerGetActiveScheme),
};
#undef POWRPROF_ENTRY

TEST(SeamDefaultsTest, PowerPolicyEntriesAreTheExportsOrFailAsMissingFunctions) {
    test::FreshMachine::SwitchOff();
    ZoraSystemApi* sys = ZoraSys();
    ASSERT_TRUE(RealTable(sys)) << "a machine provider is attached";
    int missing = 0;
    for (const auto& entry : kPowrProfEntries) entry.expect(*sys, entry.name, &missing);
    int count = static_cast<int>(ARRAYSIZE(kPowrProfEntries));
    // Wine's PowrProf.dll exports PowerGetActiveScheme and a few others, and lacks
    // PowerDeleteScheme and most of the value functions: both kinds are checked.
    if (missing == 0 || missing == count)
        GTEST_SKIP() << "this PowrProf.dll exports " << (count - missing) << " of the " << count
                     << " functions: one kind was not checked";
}

// The provider module value beside a machine file that exists.
struct ProviderCase {
    const wchar_t* module;  // null: no such value
    bool attached;
};
const ProviderCase kProviderCases[] = {
    {ZORA_VNB_MODULE, true},
    {nullptr, false},
    {L"", false},
    {L"NoSuchProvider.dll", false},  // does not load
    {L"ZORADLL.dll", false},         // loads, has no VnbAttach
    {L"..\\bin\\" ZORA_VNB_MODULE, false},  // the provider, but named by a path
};

class SeamProviderTest : public ::testing::TestWithParam<int> {};

TEST_P(SeamProviderTest, OnlyTheNamedModuleBesideTheLibraryTakesItsEntries) {
    const ProviderCase& c = kProviderCases[GetParam()];
    test::FreshMachine machine;
    ASSERT_TRUE(machine.Ok());
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, ZORA_INSTALL_KEY, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                                           &key));
    LONG rc = c.module ? RegSetValueExW(key, ZORA_INSTALL_PROVIDER_MODULE, 0, REG_SZ,
                                        reinterpret_cast<const BYTE*>(c.module),
                                        static_cast<DWORD>((wcslen(c.module) + 1) * sizeof(wchar_t)))
                       : RegDeleteValueW(key, ZORA_INSTALL_PROVIDER_MODULE);
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, rc);

    ZoraSystemApi* sys = ZoraSys();
    DWORD control = 0, type = 0;
    EXPECT_EQ(c.attached, sys->TranslateServiceControl(170, &control, &type, nullptr, 0) != FALSE)
        << "case " << GetParam();
    EXPECT_EQ(!c.attached, RealTable(sys)) << "case " << GetParam();
    test::FreshMachine::SwitchOff();
}

INSTANTIATE_TEST_SUITE_P(Modules, SeamProviderTest, ::testing::Range(0, static_cast<int>(ARRAYSIZE(kProviderCases))));

}  // namespace

// Windows Vista's power policy
// The thirteen power-policy entries of PowrProf.dll answered by the machine's
// power-policy store: the built-in schemes, the size protocols and the failures for what
// does not exist, duplicating, deleting and activating schemes, and published defaults.
namespace {
namespace vista {

using namespace zora_policy;
const GUID kUnknown = {0x0badf00d, 0x1234, 0x5678, {0x9a, 0xbc, 0xde, 0xf0, 0x12, 0x34, 0x56, 0x78}};

constexpr DWORD kAnySize = 0xFFFFFFFF;  // the case does not look at the size

std::wstring Text(const GUID& g) {
    wchar_t text[40] = {};
    _snwprintf(text, 39, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned long>(g.Data1),
               g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
               g.Data4[7]);
    return text;
}

class VnbVistaPolicyTest : public VnbTest {
protected:
    // The friendly name (or description) of a scheme, or "(error n)".
    std::wstring Read(const GUID& scheme, bool name = true) {
        wchar_t text[260] = {};
        DWORD size = sizeof(text);
        auto read = name ? sys->PowerReadFriendlyName : sys->PowerReadDescription;
        DWORD rc = read(nullptr, &scheme, nullptr, nullptr, reinterpret_cast<UCHAR*>(text), &size);
        if (rc != ERROR_SUCCESS) return L"(error " + std::to_wstring(rc) + L")";
        EXPECT_EQ((wcslen(text) + 1) * sizeof(wchar_t), size) << test::Narrow(text);
        return text;
    }
    DWORD Write(const GUID& scheme, const std::wstring& text, bool name = true) {
        auto write = name ? sys->PowerWriteFriendlyName : sys->PowerWriteDescription;
        return write(nullptr, &scheme, nullptr, nullptr, reinterpret_cast<UCHAR*>(const_cast<wchar_t*>(text.c_str())),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    // The value index, AC or DC, or 0xdeadbeef after an error.
    DWORD Index(const GUID& scheme, const GUID& subgroup, const GUID& setting, bool ac) {
        DWORD value = kBogus;
        auto read = ac ? sys->PowerReadACValueIndex : sys->PowerReadDCValueIndex;
        EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), read(nullptr, &scheme, &subgroup, &setting, &value));
        return value;
    }
    // The schemes as PowerEnumerate lists them.
    std::vector<GUID> Schemes() {
        std::vector<GUID> schemes;
        for (ULONG index = 0;; ++index) {
            GUID guid{};
            DWORD size = sizeof(guid);
            DWORD rc = sys->PowerEnumerate(nullptr, nullptr, nullptr, ACCESS_SCHEME, index,
                                           reinterpret_cast<UCHAR*>(&guid), &size);
            if (rc != ERROR_SUCCESS) {
                EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), rc) << index;
                return schemes;
            }
            EXPECT_EQ(sizeof(GUID), size) << index;
            schemes.push_back(guid);
        }
    }
    std::wstring Section(const GUID& scheme) { return L"PowerScheme " + Text(scheme); }
};

TEST_F(VnbVistaPolicyTest, TheBuiltInSchemesAreEnumeratedInOrderWithTheirNames) {
    const struct {
        GUID guid;
        const wchar_t* name;
    } expected[] = {{kBalanced, L"Balanced"}, {kHighPerformance, L"High performance"}, {kPowerSaver, L"Power saver"}};
    std::vector<GUID> schemes = Schemes();
    ASSERT_EQ(ARRAYSIZE(expected), schemes.size());
    for (size_t i = 0; i < schemes.size(); ++i) {
        EXPECT_TRUE(IsEqualGUID(expected[i].guid, schemes[i]))
            << "scheme " << i << ": " << test::Narrow(Text(schemes[i]));
        EXPECT_EQ(std::wstring(expected[i].name), Read(schemes[i])) << "scheme " << i;
    }
    EXPECT_EQ(L"Favors performance, but may use more energy.", Read(kHighPerformance, false));
}

// Each case calls one entry with a buffer of `size` bytes (or none: the size then says
// the buffer would fit) and expects its result and the size it reports; what does not
// exist fails as the policy store does.
TEST_F(VnbVistaPolicyTest, SizeQueriesShortBuffersAndUnknownsFailAsWindowsDoes) {
    alignas(8) UCHAR buffer[64];
    struct Case {
        const char* what;
        DWORD size;
        std::function<DWORD(ZoraSystemApi*, UCHAR*, DWORD*)> call;
        DWORD result, reported;
    } cases[] = {
        {"enumerate, no buffer", 16,
         [](ZoraSystemApi* s, UCHAR*, DWORD* n) {
             return s->PowerEnumerate(nullptr, nullptr, nullptr, ACCESS_SCHEME, 0, nullptr, n);
         },
         ERROR_MORE_DATA, 16},
        {"enumerate, 15 bytes", 15,
         [](ZoraSystemApi* s, UCHAR* b, DWORD* n) {
             return s->PowerEnumerate(nullptr, nullptr, nullptr, ACCESS_SCHEME, 0, b, n);
         },
         ERROR_MORE_DATA, 16},
        {"enumerate past the end", 16,
         [](ZoraSystemApi* s, UCHAR* b, DWORD* n) {
             return s->PowerEnumerate(nullptr, nullptr, nullptr, ACCESS_SCHEME, 3, b, n);
         },
         ERROR_NO_MORE_ITEMS, 16},
        {"settings of the sleep subgroup", 16,
         [](ZoraSystemApi* s, UCHAR* b, DWORD* n) {
             return s->PowerEnumerate(nullptr, &kBalanced, &kSleep, ACCESS_INDIVIDUAL_SETTING, 1, b, n);
         },
         ERROR_SUCCESS, 16},
        {"subgroups of an unknown scheme", 16,
         [](ZoraSystemApi* s, UCHAR* b, DWORD* n) {
             return s->PowerEnumerate(nullptr, &kUnknown, nullptr, ACCESS_SUBGROUP, 0, b, n);
         },
         ERROR_FILE_NOT_FOUND, kAnySize},
        {"name, no buffer", 64,
         [](ZoraSystemApi* s, UCHAR*, DWORD* n) {
             return s->PowerReadFriendlyName(nullptr, &kBalanced, nullptr, nullptr, nullptr, n);
         },
         ERROR_SUCCESS, sizeof(L"Balanced")},
        {"name, one byte short", sizeof(L"Balanced") - 1,
         [](ZoraSystemApi* s, UCHAR* b, DWORD* n) {
             return s->PowerReadFriendlyName(nullptr, &kBalanced, nullptr, nullptr, b, n);
         },
         ERROR_MORE_DATA, sizeof(L"Balanced")},
        {"name, exact fit", sizeof(L"Balanced"),
         [](ZoraSystemApi* s, UCHAR* b, DWORD* n) {
             return s->PowerReadFriendlyName(nullptr, &kBalanced, nullptr, nullptr, b, n);
         },
         ERROR_SUCCESS, sizeof(L"Balanced")},
        {"description, no buffer", 256,
         [](ZoraSystemApi* s, UCHAR*, DWORD* n) {
             return s->PowerReadDescription(nullptr, &kHighPerformance, nullptr, nullptr, nullptr, n);
         },
         ERROR_SUCCESS, sizeof(L"Favors performance, but may use more energy.")},
        {"setting's name", 64,
         [](ZoraSystemApi* s, UCHAR* b, DWORD* n) {
             return s->PowerReadFriendlyName(nullptr, nullptr, &kSleep, &kStandbyIdle, b, n);
         },
         ERROR_SUCCESS, sizeof(L"Sleep after")},
        {"name of an unknown scheme", 64,
         [](ZoraSystemApi* s, UCHAR* b, DWORD* n) {
             return s->PowerReadFriendlyName(nullptr, &kUnknown, nullptr, nullptr, b, n);
         },
         ERROR_FILE_NOT_FOUND, kAnySize},
        {"a root key", 64,
         [](ZoraSystemApi* s, UCHAR* b, DWORD* n) {
             return s->PowerReadFriendlyName(HKEY_CURRENT_USER, &kBalanced, nullptr, nullptr, b, n);
         },
         ERROR_INVALID_PARAMETER, kAnySize},
        {"value of an unknown scheme", 4,
         [](ZoraSystemApi* s, UCHAR* b, DWORD*) {
             return s->PowerReadACValueIndex(nullptr, &kUnknown, &kVideo, &kVideoIdle, reinterpret_cast<DWORD*>(b));
         },
         ERROR_FILE_NOT_FOUND, kAnySize},
        {"a setting under another subgroup", 4,
         [](ZoraSystemApi* s, UCHAR* b, DWORD*) {
             return s->PowerReadDCValueIndex(nullptr, &kBalanced, &kDisk, &kVideoIdle, reinterpret_cast<DWORD*>(b));
         },
         ERROR_FILE_NOT_FOUND, kAnySize},
        {"an unknown setting", 4,
         [](ZoraSystemApi* s, UCHAR*, DWORD*) {
             return s->PowerWriteACValueIndex(nullptr, &kBalanced, &kVideo, &kUnknown, 60);
         },
         ERROR_FILE_NOT_FOUND, kAnySize},
        {"maximum processor state 101", 4,
         [](ZoraSystemApi* s, UCHAR*, DWORD*) {
             return s->PowerWriteDCValueIndex(nullptr, &kBalanced, &kProcessor, &kThrottleMax, 101);
         },
         ERROR_INVALID_PARAMETER, kAnySize},
        {"processor policy 6", 4,
         [](ZoraSystemApi* s, UCHAR*, DWORD*) {
             return s->PowerWriteACValueIndex(nullptr, &kBalanced, &kProcessor, &kPolicySecond, 6);
         },
         ERROR_INVALID_PARAMETER, kAnySize},
        {"a setting's name written", 4,
         [](ZoraSystemApi* s, UCHAR*, DWORD*) {
             return s->PowerWriteFriendlyName(nullptr, &kBalanced, &kSleep, &kStandbyIdle,
                                              reinterpret_cast<UCHAR*>(const_cast<wchar_t*>(L"Nap")), sizeof(L"Nap"));
         },
         ERROR_ACCESS_DENIED, kAnySize},
        {"duplicate an unknown scheme", 4,
         [](ZoraSystemApi* s, UCHAR*, DWORD*) {
             GUID* created = nullptr;
             return s->PowerDuplicateScheme(nullptr, &kUnknown, &created);
         },
         ERROR_FILE_NOT_FOUND, kAnySize},
        {"activate an unknown scheme", 4,
         [](ZoraSystemApi* s, UCHAR*, DWORD*) { return s->PowerSetActiveScheme(nullptr, &kUnknown); },
         ERROR_FILE_NOT_FOUND, kAnySize},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        const Case& c = cases[i];
        memset(buffer, 0xAB, sizeof(buffer));
        DWORD size = c.size;
        EXPECT_EQ(c.result, c.call(sys, buffer, &size)) << "case " << i << ": " << c.what;
        if (c.reported != kAnySize) {
            EXPECT_EQ(c.reported, size) << "case " << i << ": " << c.what;
        }
        if (c.result == ERROR_MORE_DATA) {
            EXPECT_EQ(0xAB, buffer[0]) << "case " << i << ": " << c.what;
        }
    }
    // The exact fit holds the name and its terminator; the setting listed second under
    // sleep is hibernate-after, in the registry's order.
    DWORD size = sizeof(L"Balanced");
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              sys->PowerReadFriendlyName(nullptr, &kBalanced, nullptr, nullptr, buffer, &size));
    EXPECT_EQ(0, memcmp(L"Balanced", buffer, sizeof(L"Balanced")));
    GUID second{};
    size = sizeof(second);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              sys->PowerEnumerate(nullptr, &kBalanced, &kSleep, ACCESS_INDIVIDUAL_SETTING, 1,
                                  reinterpret_cast<UCHAR*>(&second), &size));
    EXPECT_EQ(L"{9D7815A6-7EE4-497E-8888-515A05F02364}", Text(second));
}

TEST_F(VnbVistaPolicyTest, ADuplicateCopiesItsSourceAndKeepsWhatIsWrittenToIt) {
    GUID* created = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), sys->PowerDuplicateScheme(nullptr, &kPowerSaver, &created));
    ASSERT_NE(nullptr, created);
    const GUID copy = *created;
    EXPECT_EQ(nullptr, LocalFree(created)) << "not memory of LocalAlloc";
    EXPECT_EQ(L"Power saver", Read(copy));
    EXPECT_EQ(50u, Index(copy, kProcessor, kThrottleMax, false));
    EXPECT_EQ(4u, Schemes().size());

    // Into a GUID the caller names, which must not exist yet.
    GUID named = kUnknown;
    GUID* into = &named;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), sys->PowerDuplicateScheme(nullptr, &kBalanced, &into));
    EXPECT_EQ(&named, into);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), sys->PowerDuplicateScheme(nullptr, &kPowerSaver, &into));
    EXPECT_EQ(L"Balanced", Read(named));

    // Blanks at the ends of a name survive; the values written are the file's.
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Write(copy, L" Quiet evening "));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Write(copy, L"Dim and slow.", false));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              sys->PowerWriteACValueIndex(nullptr, &copy, &kVideo, &kVideoIdle, 120));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              sys->PowerWriteDCValueIndex(nullptr, &copy, &kProcessor, &kPolicyFirst, 5));
    EXPECT_EQ(L" Quiet evening ", Read(copy));
    EXPECT_EQ(L"Dim and slow.", Read(copy, false));
    EXPECT_EQ(120u, Index(copy, kVideo, kVideoIdle, true));
    EXPECT_EQ(120u, Index(copy, kVideo, kVideoIdle, false)) << "Power saver's DC value copied";
    EXPECT_EQ(5u, Index(copy, kProcessor, kPolicyFirst, false));
    EXPECT_EQ(L"Power saver", Read(kPowerSaver)) << "the source is unchanged";
    EXPECT_EQ(L"\" Quiet evening \"", test::MachineValue(Section(copy).c_str(), L"Name"));
    EXPECT_EQ(L"120,120", test::MachineValue(Section(copy).c_str(), Text(kVideoIdle).c_str()));

    // A half written by hand is read as written and kept when the other half changes.
    test::SetMachineValue(Section(copy).c_str(), Text(kBrightness).c_str(), L"0x28,30");
    EXPECT_EQ(40u, Index(copy, kVideo, kBrightness, true));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              sys->PowerWriteDCValueIndex(nullptr, &copy, &kVideo, &kBrightness, 10));
    EXPECT_EQ(L"0x28,10", test::MachineValue(Section(copy).c_str(), Text(kBrightness).c_str()));
}

TEST_F(VnbVistaPolicyTest, TheActiveSchemeComesInLocalMemoryAndCannotBeDeleted) {
    GUID* active = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), sys->PowerGetActiveScheme(nullptr, &active));
    ASSERT_NE(nullptr, active);
    EXPECT_GE(LocalSize(active), sizeof(GUID));
    EXPECT_TRUE(IsEqualGUID(kBalanced, *active)) << test::Narrow(Text(*active));
    EXPECT_EQ(nullptr, LocalFree(active));

    GUID* created = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), sys->PowerDuplicateScheme(nullptr, &kBalanced, &created));
    const GUID copy = *created;
    LocalFree(created);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), sys->PowerSetActiveScheme(nullptr, &copy));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), sys->PowerGetActiveScheme(nullptr, &active));
    EXPECT_TRUE(IsEqualGUID(copy, *active)) << test::Narrow(Text(*active));
    EXPECT_EQ(nullptr, LocalFree(active));
    EXPECT_EQ(0, _wcsicmp(Text(copy).c_str(), test::MachineValue(L"PowerPolicy", L"Active").c_str()));

    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), sys->PowerDeleteScheme(nullptr, &copy));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), sys->PowerDeleteScheme(nullptr, &kPowerSaver)) << "not active";
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), sys->PowerSetActiveScheme(nullptr, &kHighPerformance));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), sys->PowerDeleteScheme(nullptr, &copy));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), sys->PowerDeleteScheme(nullptr, &copy));
    EXPECT_EQ(L"(error 2)", Read(copy));
    EXPECT_EQ(L"(absent)", test::MachineValue(Section(copy).c_str(), L"Name"));
    std::vector<GUID> left = Schemes();
    ASSERT_EQ(2u, left.size());
    EXPECT_TRUE(IsEqualGUID(kBalanced, left[0]) && IsEqualGUID(kHighPerformance, left[1]));
}

// Defaults of the built-in schemes that Windows' own documentation and published
// references give (the sources are named in sim/scheme/VistaPowerPolicy.cpp).
TEST_F(VnbVistaPolicyTest, PublishedDefaultsAreTheBuiltInSchemesValues) {
    const struct {
        const GUID& scheme;
        const GUID& subgroup;
        const GUID& setting;
        bool ac;
        DWORD value;
    } defaults[] = {
        {kBalanced, kVideo, kVideoIdle, true, 600},        {kPowerSaver, kVideo, kVideoIdle, true, 300},
        {kBalanced, kSleep, kStandbyIdle, true, 1800},     {kPowerSaver, kSleep, kStandbyIdle, true, 900},
        {kHighPerformance, kSleep, kStandbyIdle, true, 0}, {kBalanced, kDisk, kDiskIdle, true, 1200},
        {kBalanced, kDisk, kDiskIdle, false, 600},         {kBalanced, kProcessor, kThrottleMin, true, 5},
        {kBalanced, kProcessor, kThrottleMax, false, 100}, {kBalanced, kProcessor, kPolicyFirst, true, 2},
        {kBalanced, kProcessor, kPolicySecond, false, 3},
    };
    for (size_t i = 0; i < ARRAYSIZE(defaults); ++i) {
        const auto& d = defaults[i];
        EXPECT_EQ(d.value, Index(d.scheme, d.subgroup, d.setting, d.ac)) << "case " << i;
    }
}

}  // namespace vista
}  // namespace

// Windows XP's power profiles
// The nine power-profile functions of PowrProf.dll through the seam: the six schemes of a
// fresh installation, schemes written, replaced, deleted and activated, all kept in XP's
// own registry keys (read here directly, in the 64-bit view); the system's applied policy
// and the ability to hibernate in the machine's [PowerProfile].
namespace {

constexpr wchar_t kXpUserRoot[] = L"Control Panel\\PowerCfg";
constexpr wchar_t kXpMachineRoot[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\PowerCfg";
constexpr UINT kXpUnknown = 42;

std::wstring XpKey(const wchar_t* root, const wchar_t* folder, UINT id) {
    return std::wstring(root) + L"\\" + folder + L"\\" + std::to_wstring(id);
}
std::wstring XpUserKey(UINT id) { return XpKey(kXpUserRoot, L"PowerPolicies", id); }
std::wstring XpMachineKey(UINT id) { return XpKey(kXpMachineRoot, L"PowerPolicies", id); }
std::wstring XpProcessorKey(UINT id) { return XpKey(kXpMachineRoot, L"ProcessorPolicies", id); }

bool XpKeyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// A value's type and bytes; type REG_NONE and no bytes when it is absent.
struct XpValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    std::wstring Text() const {
        return type == REG_SZ ? std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2)
                              : L"(absent)";
    }
};
XpValue XpRead(HKEY root, const std::wstring& path, const wchar_t* name) {
    XpValue value;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return value;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.bytes.resize(size);
        RegQueryValueExW(key, name, nullptr, &value.type, value.bytes.data(), &size);
    }
    RegCloseKey(key);
    return value;
}

// REG_SZ data as XP stores it: the text and its terminator.
std::wstring XpStored(const std::wstring& text) { return std::wstring(text.c_str(), text.size() + 1); }

template <class Record>
std::vector<BYTE> XpBytes(const Record& record) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&record);
    return std::vector<BYTE>(bytes, bytes + sizeof(record));
}

template <class Record>
bool XpSame(const Record& a, const Record& b) {
    return memcmp(&a, &b, sizeof(Record)) == 0;
}

// A record as the machine file holds it: hexadecimal, two digits a byte.
template <class Record>
std::wstring XpHex(const Record& record) {
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    for (BYTE b : XpBytes(record)) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

// What EnumPwrSchemes hands its callback; the callback says FALSE at call `stopAt`
// (counted from 1; 0: never).
struct XpListed {
    UINT id;
    DWORD nameBytes, descriptionBytes;
    std::wstring name, description;
    POWER_POLICY policy;
};
struct XpListing {
    size_t stopAt = 0;
    std::vector<XpListed> schemes;
};
BOOLEAN CALLBACK XpCollect(UINT id, DWORD nameBytes, LPWSTR name, DWORD descriptionBytes, LPWSTR description,
                           PPOWER_POLICY policy, LPARAM param) {
    XpListing* listing = reinterpret_cast<XpListing*>(param);
    listing->schemes.push_back(XpListed{id, nameBytes, descriptionBytes, name, description, *policy});
    return listing->schemes.size() != listing->stopAt;
}

using XpPowerProfileTest = VnbTest;

// The published values, in seconds (0: never); hibernation counts from idle, as the
// Power Options page shows it: standby, then DozeS4Timeout more.
const struct XpBuiltIn {
    const wchar_t* name;
    ULONG monitorAc, monitorDc, disksAc, disksDc, standbyAc, standbyDc, hibernateAc, hibernateDc;
    UCHAR throttleAc, throttleDc;
} kXpBuiltIns[] = {
    {L"Home/Office Desk", 1200, 300, 0, 600, 0, 300, 0, 1200, PO_THROTTLE_NONE, PO_THROTTLE_ADAPTIVE},
    {L"Portable/Laptop", 900, 300, 1800, 300, 1200, 300, 10800, 7200, PO_THROTTLE_ADAPTIVE, PO_THROTTLE_ADAPTIVE},
    {L"Presentation", 0, 0, 0, 300, 0, 900, 0, 0, PO_THROTTLE_ADAPTIVE, PO_THROTTLE_DEGRADE},
    {L"Always On", 1200, 900, 0, 1800, 0, 0, 0, 0, PO_THROTTLE_NONE, PO_THROTTLE_NONE},
    {L"Minimal Power Management", 900, 300, 0, 900, 0, 300, 0, 0, PO_THROTTLE_ADAPTIVE, PO_THROTTLE_ADAPTIVE},
    {L"Max Battery", 900, 60, 0, 180, 1200, 120, 10800, 3600, PO_THROTTLE_ADAPTIVE, PO_THROTTLE_DEGRADE},
};

ULONG XpHibernation(ULONG dozeS4, ULONG standby) { return dozeS4 ? standby + dozeS4 : 0; }

TEST_F(XpPowerProfileTest, TheSixBuiltInSchemesAreListedWithTheirPublishedValues) {
    XpListing listing;
    SetLastError(kBogus);
    EXPECT_TRUE(sys->EnumPwrSchemes(XpCollect, reinterpret_cast<LPARAM>(&listing))) << GetLastError();
    ASSERT_EQ(ARRAYSIZE(kXpBuiltIns), listing.schemes.size());
    for (UINT i = 0; i < ARRAYSIZE(kXpBuiltIns); ++i) {
        SCOPED_TRACE(testing::Message() << "scheme " << i);
        const XpBuiltIn& b = kXpBuiltIns[i];
        const XpListed& s = listing.schemes[i];
        EXPECT_EQ(i, s.id);
        EXPECT_EQ(std::wstring(b.name), s.name);
        EXPECT_EQ((s.name.size() + 1) * sizeof(wchar_t), s.nameBytes);
        EXPECT_FALSE(s.description.empty());
        EXPECT_EQ((s.description.size() + 1) * sizeof(wchar_t), s.descriptionBytes);
        const USER_POWER_POLICY& u = s.policy.user;
        const MACHINE_POWER_POLICY& m = s.policy.mach;
        EXPECT_EQ(1u, u.Revision);
        EXPECT_EQ(1u, m.Revision);
        EXPECT_EQ(PowerActionSleep, u.IdleAc.Action);
        EXPECT_EQ(PowerActionSleep, u.IdleDc.Action);
        EXPECT_EQ(b.monitorAc, u.VideoTimeoutAc);
        EXPECT_EQ(b.monitorDc, u.VideoTimeoutDc);
        EXPECT_EQ(b.disksAc, u.SpindownTimeoutAc);
        EXPECT_EQ(b.disksDc, u.SpindownTimeoutDc);
        EXPECT_EQ(b.standbyAc, u.IdleTimeoutAc);
        EXPECT_EQ(b.standbyDc, u.IdleTimeoutDc);
        EXPECT_EQ(b.hibernateAc, XpHibernation(m.DozeS4TimeoutAc, u.IdleTimeoutAc));
        EXPECT_EQ(b.hibernateDc, XpHibernation(m.DozeS4TimeoutDc, u.IdleTimeoutDc));
        EXPECT_EQ(b.throttleAc, u.ThrottlePolicyAc);
        EXPECT_EQ(b.throttleDc, u.ThrottlePolicyDc);

        POWER_POLICY read{};
        EXPECT_TRUE(sys->ReadPwrScheme(i, &read)) << GetLastError();
        EXPECT_TRUE(XpSame(s.policy, read));
        MACHINE_PROCESSOR_POWER_POLICY processor{};
        EXPECT_TRUE(sys->ReadProcessorPwrScheme(i, &processor)) << GetLastError();
        EXPECT_EQ(1u, processor.Revision);
        EXPECT_EQ(b.throttleAc, processor.ProcessorPolicyAc.DynamicThrottle);
        EXPECT_EQ(b.throttleDc, processor.ProcessorPolicyDc.DynamicThrottle);
        EXPECT_EQ(XpStored(b.name), XpRead(HKEY_CURRENT_USER, XpUserKey(i), L"Name").Text());
    }
    UINT active = kBogus;
    EXPECT_TRUE(sys->GetActivePwrScheme(&active));
    EXPECT_EQ(1u, active);  // Portable/Laptop on a notebook
    EXPECT_EQ(XpStored(L"1"), XpRead(HKEY_CURRENT_USER, kXpUserRoot, L"CurrentPowerPolicy").Text());
    EXPECT_EQ(XpStored(L"5"), XpRead(HKEY_LOCAL_MACHINE, kXpMachineRoot, L"LastID").Text());
    EXPECT_EQ(XpHex(listing.schemes[1].policy), test::MachineValue(L"PowerProfile", L"AppliedPolicy"));
}

// The callback's FALSE at call `stopAt` (0: never) ends the enumeration there; the result
// is TRUE once a callback has said TRUE.
TEST_F(XpPowerProfileTest, AnEnumerationStopsWhenTheCallbackSaysFalse) {
    const struct {
        size_t stopAt, calls;
        BOOLEAN result;
    } cases[] = {{1, 1, FALSE}, {3, 3, TRUE}, {6, 6, TRUE}, {0, 6, TRUE}};
    for (size_t c = 0; c < ARRAYSIZE(cases); ++c) {
        XpListing listing;
        listing.stopAt = cases[c].stopAt;
        EXPECT_EQ(cases[c].result, sys->EnumPwrSchemes(XpCollect, reinterpret_cast<LPARAM>(&listing))) << "case " << c;
        EXPECT_EQ(cases[c].calls, listing.schemes.size()) << "case " << c;
    }
}

// Each call fails with its last error and leaves the store as it was.
TEST_F(XpPowerProfileTest, UnknownSchemesAndMissingRecordsFail) {
    POWER_POLICY policy{};
    MACHINE_PROCESSOR_POWER_POLICY processor{};
    UINT id = NEWSCHEME;
    const struct {
        const char* call;
        std::function<BOOLEAN()> run;
        DWORD error;
    } cases[] = {
        {"ReadPwrScheme unknown", [&] { return sys->ReadPwrScheme(kXpUnknown, &policy); }, ERROR_FILE_NOT_FOUND},
        {"ReadPwrScheme null", [&] { return sys->ReadPwrScheme(0, nullptr); }, ERROR_INVALID_PARAMETER},
        {"WritePwrScheme null", [&] { return sys->WritePwrScheme(&id, nullptr, nullptr, nullptr); },
         ERROR_INVALID_PARAMETER},
        {"ReadProcessorPwrScheme unknown", [&] { return sys->ReadProcessorPwrScheme(kXpUnknown, &processor); },
         ERROR_FILE_NOT_FOUND},
        {"WriteProcessorPwrScheme unknown", [&] { return sys->WriteProcessorPwrScheme(kXpUnknown, &processor); },
         ERROR_FILE_NOT_FOUND},
        {"EnumPwrSchemes null", [&] { return sys->EnumPwrSchemes(nullptr, 0); }, ERROR_INVALID_PARAMETER},
        {"GetActivePwrScheme null", [&] { return sys->GetActivePwrScheme(nullptr); }, ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        SetLastError(kBogus);
        EXPECT_FALSE(c.run()) << c.call;
        EXPECT_EQ(c.error, GetLastError()) << c.call;
    }
    EXPECT_FALSE(XpKeyExists(HKEY_CURRENT_USER, XpUserKey(kXpUnknown)));
    EXPECT_FALSE(XpKeyExists(HKEY_LOCAL_MACHINE, XpProcessorKey(kXpUnknown)));
    EXPECT_FALSE(XpKeyExists(HKEY_CURRENT_USER, XpUserKey(6)));
    EXPECT_EQ(XpStored(L"5"), XpRead(HKEY_LOCAL_MACHINE, kXpMachineRoot, L"LastID").Text());
}

// A new scheme (NEWSCHEME takes the id after LastID; any other unknown id is taken as
// given) lands in XP's keys: its user part and texts under HKCU, its machine part and
// processor policy under HKLM; it reads back as written. A processor policy not yet
// written is scheme 0's.
TEST_F(XpPowerProfileTest, ANewSchemeIsKeptWhereXpKeepsIt) {
    POWER_POLICY policy{};
    ASSERT_TRUE(sys->ReadPwrScheme(1, &policy));
    policy.user.VideoTimeoutAc = 420;
    policy.mach.DozeS4TimeoutDc = 4242;
    MACHINE_PROCESSOR_POWER_POLICY processor{}, scheme0{};
    ASSERT_TRUE(sys->ReadProcessorPwrScheme(0, &scheme0));
    const struct {
        UINT id, expectedId;
        const wchar_t* lastId;
    } cases[] = {{NEWSCHEME, 6, L"6"}, {9, 9, L"6"}, {NEWSCHEME, 7, L"7"}};
    for (size_t c = 0; c < ARRAYSIZE(cases); ++c) {
        SCOPED_TRACE(testing::Message() << "case " << c);
        UINT id = cases[c].id;
        std::wstring name = L"Field Trip " + std::to_wstring(c);
        wchar_t description[] = L"Long days away from the mains.";
        policy.user.SpindownTimeoutDc = 100 + static_cast<ULONG>(c);
        ASSERT_TRUE(sys->WritePwrScheme(&id, name.data(), description, &policy)) << GetLastError();
        EXPECT_EQ(cases[c].expectedId, id);
        EXPECT_EQ(XpStored(cases[c].lastId), XpRead(HKEY_LOCAL_MACHINE, kXpMachineRoot, L"LastID").Text());
        EXPECT_EQ(XpStored(name), XpRead(HKEY_CURRENT_USER, XpUserKey(id), L"Name").Text());
        EXPECT_EQ(XpStored(description), XpRead(HKEY_CURRENT_USER, XpUserKey(id), L"Description").Text());
        XpValue user = XpRead(HKEY_CURRENT_USER, XpUserKey(id), L"Policies");
        XpValue machine = XpRead(HKEY_LOCAL_MACHINE, XpMachineKey(id), L"Policies");
        EXPECT_EQ(static_cast<DWORD>(REG_BINARY), user.type);
        EXPECT_EQ(XpBytes(policy.user), user.bytes);
        EXPECT_EQ(static_cast<DWORD>(REG_BINARY), machine.type);
        EXPECT_EQ(XpBytes(policy.mach), machine.bytes);
        POWER_POLICY read{};
        EXPECT_TRUE(sys->ReadPwrScheme(id, &read));
        EXPECT_TRUE(XpSame(policy, read));

        EXPECT_TRUE(sys->ReadProcessorPwrScheme(id, &processor));
        EXPECT_TRUE(XpSame(scheme0, processor));
        processor.ProcessorPolicyDc.DynamicThrottle = PO_THROTTLE_CONSTANT;
        EXPECT_TRUE(sys->WriteProcessorPwrScheme(id, &processor)) << GetLastError();
        EXPECT_EQ(XpBytes(processor), XpRead(HKEY_LOCAL_MACHINE, XpProcessorKey(id), L"Policies").bytes);
        MACHINE_PROCESSOR_POWER_POLICY readProcessor{};
        EXPECT_TRUE(sys->ReadProcessorPwrScheme(id, &readProcessor));
        EXPECT_TRUE(XpSame(processor, readProcessor));
    }
    XpListing listing;
    EXPECT_TRUE(sys->EnumPwrSchemes(XpCollect, reinterpret_cast<LPARAM>(&listing)));
    EXPECT_EQ(9u, listing.schemes.size());
}

// Writing an existing id replaces its records; a null name or description keeps the
// stored one, and no new scheme appears.
TEST_F(XpPowerProfileTest, ReplacingASchemeKeepsTheTextsNotGiven) {
    const struct {
        UINT id;
        const wchar_t* name;
        const wchar_t* description;
    } cases[] = {{2, nullptr, nullptr}, {3, L"Server Room", nullptr}, {4, nullptr, L""}};
    for (size_t c = 0; c < ARRAYSIZE(cases); ++c) {
        SCOPED_TRACE(testing::Message() << "case " << c);
        UINT id = cases[c].id;
        std::wstring storedName = XpRead(HKEY_CURRENT_USER, XpUserKey(id), L"Name").Text();
        std::wstring storedText = XpRead(HKEY_CURRENT_USER, XpUserKey(id), L"Description").Text();
        POWER_POLICY policy{};
        ASSERT_TRUE(sys->ReadPwrScheme(id, &policy));
        policy.user.SpindownTimeoutDc = 77 + static_cast<ULONG>(c);
        policy.mach.DozeS4TimeoutAc = 7777;
        std::wstring name = cases[c].name ? cases[c].name : L"";
        std::wstring text = cases[c].description ? cases[c].description : L"";
        ASSERT_TRUE(sys->WritePwrScheme(&id, cases[c].name ? name.data() : nullptr,
                                        cases[c].description ? text.data() : nullptr, &policy));
        EXPECT_EQ(cases[c].id, id);
        EXPECT_EQ(cases[c].name ? XpStored(name) : storedName,
                  XpRead(HKEY_CURRENT_USER, XpUserKey(id), L"Name").Text());
        EXPECT_EQ(cases[c].description ? XpStored(text) : storedText,
                  XpRead(HKEY_CURRENT_USER, XpUserKey(id), L"Description").Text());
        POWER_POLICY read{};
        EXPECT_TRUE(sys->ReadPwrScheme(id, &read));
        EXPECT_TRUE(XpSame(policy, read));
    }
    EXPECT_FALSE(XpKeyExists(HKEY_CURRENT_USER, XpUserKey(6)));
    EXPECT_EQ(XpStored(L"5"), XpRead(HKEY_LOCAL_MACHINE, kXpMachineRoot, L"LastID").Text());
}

// The active scheme cannot be deleted; another loses its user key, machine key and
// processor policy; an unknown one fails.
TEST_F(XpPowerProfileTest, DeletingRemovesEveryPartButRefusesTheActiveScheme) {
    const struct {
        UINT id;
        BOOLEAN result;
        DWORD error;  // of a failure
    } cases[] = {{1, FALSE, ERROR_ACCESS_DENIED},
                 {3, TRUE, 0},
                 {3, FALSE, ERROR_FILE_NOT_FOUND},
                 {kXpUnknown, FALSE, ERROR_FILE_NOT_FOUND}};
    for (size_t c = 0; c < ARRAYSIZE(cases); ++c) {
        SetLastError(kBogus);
        EXPECT_EQ(cases[c].result, sys->DeletePwrScheme(cases[c].id)) << "case " << c;
        if (!cases[c].result) {
            EXPECT_EQ(cases[c].error, GetLastError()) << "case " << c;
        }
    }
    for (UINT id : {1u, 3u}) {
        SCOPED_TRACE(testing::Message() << "scheme " << id);
        bool kept = id == 1;
        EXPECT_EQ(kept, XpKeyExists(HKEY_CURRENT_USER, XpUserKey(id)));
        EXPECT_EQ(kept, XpKeyExists(HKEY_LOCAL_MACHINE, XpMachineKey(id)));
        EXPECT_EQ(kept, XpKeyExists(HKEY_LOCAL_MACHINE, XpProcessorKey(id)));
    }
    POWER_POLICY policy{};
    SetLastError(kBogus);
    EXPECT_FALSE(sys->ReadPwrScheme(3, &policy));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    XpListing listing;
    EXPECT_TRUE(sys->EnumPwrSchemes(XpCollect, reinterpret_cast<LPARAM>(&listing)));
    EXPECT_EQ(5u, listing.schemes.size());
}

// Activating records the id in CurrentPowerPolicy and applies the stored scheme (as it
// is now) or the records given, which leave the stored scheme alone. An unknown id or
// a record XP would not validate changes nothing.
TEST_F(XpPowerProfileTest, ActivatingAppliesTheStoredSchemeOrTheGivenRecord) {
    POWER_POLICY stored{};
    ASSERT_TRUE(sys->ReadPwrScheme(4, &stored));
    stored.user.VideoTimeoutDc = 123;
    UINT four = 4;
    ASSERT_TRUE(sys->WritePwrScheme(&four, nullptr, nullptr, &stored));
    POWER_POLICY presentation{};
    ASSERT_TRUE(sys->ReadPwrScheme(2, &presentation));
    POWER_POLICY given = presentation, badRevision = presentation, badAction = presentation;
    given.user.VideoTimeoutAc = 60;
    badRevision.user.Revision = 2;
    badAction.user.IdleAc.Action = static_cast<POWER_ACTION>(99);
    GLOBAL_POWER_POLICY global{};
    global.user.Revision = global.mach.Revision = 1;
    global.mach.LidOpenWakeAc = global.mach.LidOpenWakeDc = PowerSystemWorking;

    const struct {
        UINT id;
        GLOBAL_POWER_POLICY* global;
        POWER_POLICY* record;
        BOOLEAN result;
        DWORD error;  // of a failure
        UINT active;
        const POWER_POLICY* applied;
    } cases[] = {
        {4, nullptr, nullptr, TRUE, 0, 4, &stored},
        {2, &global, &given, TRUE, 0, 2, &given},
        {kXpUnknown, nullptr, nullptr, FALSE, ERROR_FILE_NOT_FOUND, 2, &given},
        {0, nullptr, &badRevision, FALSE, ERROR_REVISION_MISMATCH, 2, &given},
        {0, nullptr, &badAction, FALSE, ERROR_INVALID_DATA, 2, &given},
    };
    for (size_t c = 0; c < ARRAYSIZE(cases); ++c) {
        SCOPED_TRACE(testing::Message() << "case " << c);
        SetLastError(kBogus);
        EXPECT_EQ(cases[c].result, sys->SetActivePwrScheme(cases[c].id, cases[c].global, cases[c].record));
        if (!cases[c].result) {
            EXPECT_EQ(cases[c].error, GetLastError());
        }
        UINT active = kBogus;
        EXPECT_TRUE(sys->GetActivePwrScheme(&active));
        EXPECT_EQ(cases[c].active, active);
        EXPECT_EQ(XpHex(*cases[c].applied), test::MachineValue(L"PowerProfile", L"AppliedPolicy"));
    }
    EXPECT_EQ(XpHex(global), test::MachineValue(L"PowerProfile", L"AppliedGlobalPolicy"));
    POWER_POLICY read{};
    EXPECT_TRUE(sys->ReadPwrScheme(2, &read));
    EXPECT_TRUE(XpSame(presentation, read));
}

TEST_F(XpPowerProfileTest, HibernationFollowsTheMachine) {
    const struct {
        const wchar_t* allowed;  // null: the new machine's value
        BOOLEAN result;
    } cases[] = {{nullptr, TRUE}, {L"0", FALSE}, {L"1", TRUE}};
    for (size_t c = 0; c < ARRAYSIZE(cases); ++c) {
        if (cases[c].allowed) test::SetMachineValue(L"PowerProfile", L"HibernateAllowed", cases[c].allowed);
        EXPECT_EQ(cases[c].result, sys->IsPwrHibernateAllowed()) << "case " << c;
    }
}

// A new machine puts back a fresh installation's keys: the six built-in schemes and no
// other, LastID 5, Portable/Laptop active.
TEST_F(XpPowerProfileTest, AFreshMachineRestoresTheBuiltInSchemes) {
    POWER_POLICY original{}, policy{};
    ASSERT_TRUE(sys->ReadPwrScheme(3, &original));
    ASSERT_TRUE(sys->DeletePwrScheme(3));
    policy = original;
    policy.user.VideoTimeoutAc = 1;
    UINT id = NEWSCHEME, zero = 0;
    ASSERT_TRUE(sys->WritePwrScheme(&id, nullptr, nullptr, &policy));
    ASSERT_TRUE(sys->WritePwrScheme(&zero, nullptr, nullptr, &policy));
    ASSERT_TRUE(sys->SetActivePwrScheme(zero, nullptr, nullptr));

    ASSERT_TRUE(VnbCreateDefaultMachine(m_machine.Path().c_str())) << GetLastError();
    POWER_POLICY read{};
    EXPECT_TRUE(sys->ReadPwrScheme(3, &read)) << GetLastError();
    EXPECT_TRUE(XpSame(original, read));
    EXPECT_TRUE(sys->ReadPwrScheme(0, &read));
    EXPECT_EQ(kXpBuiltIns[0].monitorAc, read.user.VideoTimeoutAc);
    EXPECT_FALSE(XpKeyExists(HKEY_CURRENT_USER, XpUserKey(id)));
    EXPECT_FALSE(XpKeyExists(HKEY_LOCAL_MACHINE, XpMachineKey(id)));
    EXPECT_TRUE(XpKeyExists(HKEY_LOCAL_MACHINE, XpProcessorKey(3)));
    UINT active = kBogus;
    EXPECT_TRUE(sys->GetActivePwrScheme(&active));
    EXPECT_EQ(1u, active);
    EXPECT_EQ(XpStored(L"5"), XpRead(HKEY_LOCAL_MACHINE, kXpMachineRoot, L"LastID").Text());
    XpListing listing;
    EXPECT_TRUE(sys->EnumPwrSchemes(XpCollect, reinterpret_cast<LPARAM>(&listing)));
    EXPECT_EQ(ARRAYSIZE(kXpBuiltIns), listing.schemes.size());
}

// Batteries

const GUID kBatteryInterface = {0x72631e54, 0x78a4, 0x11d0, {0xbc, 0xf7, 0x00, 0xaa, 0x00, 0xb7, 0xb3, 0x2a}};

SP_DEVICE_INTERFACE_DATA InterfaceData() {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    return data;
}

std::wstring BatteryPath(int slot) {
    return L"\\\\?\\ACPI#PNP0C0A#" + std::to_wstring(slot + 1) + L"#{72631e54-78a4-11d0-bcf7-00aa00b7b32a}";
}

void AddBatterySlot(int slot, const wchar_t* present) {
    std::wstring section = L"Battery" + std::to_wstring(slot);
    test::SetMachineValue(section.c_str(), L"Present", present);
    test::SetMachineValue(section.c_str(), L"Tag", L"3");
    test::SetMachineValue(section.c_str(), L"FullChargedCapacity", L"28000");
    test::SetMachineValue(section.c_str(), L"RemainingCapacity", L"14000");
}

unsigned long long Remaining() { return test::Number(test::MachineValue(L"Battery0", L"RemainingCapacity")); }

// Moves the batteries' clock back: that much time has passed at the next read.
void PassTime(unsigned long long seconds) {
    unsigned long long clock = test::Number(test::MachineValue(L"Batteries", L"Clock"));
    test::SetMachineValue(L"Batteries", L"Clock", std::to_wstring(clock - seconds));
}

class VnbBatteryTest : public VnbTest {
protected:
    HANDLE Open(int slot) {
        return sys->CreateFileW(BatteryPath(slot).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    SYSTEM_BATTERY_STATE State() {
        SYSTEM_BATTERY_STATE state{};
        EXPECT_EQ(0, sys->CallNtPowerInformation(SystemBatteryState, nullptr, 0, &state, sizeof(state)));
        return state;
    }
};

TEST_F(VnbBatteryTest, InterfacesAreListedWithTheirPaths) {
    AddBatterySlot(1, L"0");
    AddBatterySlot(2, L"1");
    Set set = ClassDevs(kBatteryInterface, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(INVALID_HANDLE_VALUE, set.handle);
    for (DWORD index = 0; index < 4; ++index) {
        SP_DEVICE_INTERFACE_DATA data = InterfaceData();
        SetLastError(kBogus);
        BOOL ok = sys->SetupDiEnumDeviceInterfaces(set.handle, nullptr, &kBatteryInterface, index, &data);
        if (index == 3) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError());
            break;
        }
        ASSERT_TRUE(ok) << index;
        EXPECT_TRUE(IsEqualGUID(kBatteryInterface, data.InterfaceClassGuid)) << index;
        std::wstring path = BatteryPath(static_cast<int>(index));
        DWORD expected = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                            (path.size() + 1) * sizeof(wchar_t));
        DWORD required = 0;
        EXPECT_TRUE(test::FailsWith(ERROR_INSUFFICIENT_BUFFER, [&] {
            return sys->SetupDiGetDeviceInterfaceDetailW(set.handle, &data, nullptr, 0, &required, nullptr);
        })) << index;
        EXPECT_EQ(expected, required) << index;
        std::vector<BYTE> buffer(required);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
        detail->cbSize = required;  // the buffer's size instead of the record's
        EXPECT_TRUE(test::FailsWith(ERROR_INVALID_USER_BUFFER, [&] {
            return sys->SetupDiGetDeviceInterfaceDetailW(set.handle, &data, detail, required, nullptr, nullptr);
        })) << index;
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        EXPECT_TRUE(test::FailsWith(ERROR_INSUFFICIENT_BUFFER, [&] {
            return sys->SetupDiGetDeviceInterfaceDetailW(set.handle, &data, detail, required - 2, nullptr, nullptr);
        })) << index;
        ASSERT_TRUE(sys->SetupDiGetDeviceInterfaceDetailW(set.handle, &data, detail, required, nullptr, nullptr));
        EXPECT_EQ(path, detail->DevicePath) << index;
    }
    // Another class, or a set of devices, has no battery interface.
    Set other = ClassDevs(kNet, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data = InterfaceData();
    EXPECT_TRUE(test::FailsWith(ERROR_NO_MORE_ITEMS, [&] {
        return sys->SetupDiEnumDeviceInterfaces(other.handle, nullptr, &kBatteryInterface, 0, &data);
    }));
    data.cbSize = 0;
    EXPECT_TRUE(test::FailsWith(ERROR_INVALID_USER_BUFFER, [&] {
        return sys->SetupDiEnumDeviceInterfaces(set.handle, nullptr, &kBatteryInterface, 0, &data);
    }));
}

TEST_F(VnbBatteryTest, RequestsAtTheBattery) {
    HANDLE battery = Open(0);
    ASSERT_NE(INVALID_HANDLE_VALUE, battery) << GetLastError();
    struct Query {
        ULONG tag, level, atRate;
    };
    const struct {
        DWORD code;
        std::vector<ULONG> in;
        DWORD outSize, error, returned;
        const wchar_t* recorded;  // the key in [BatteryRequests]
    } cases[] = {
        {IOCTL_BATTERY_QUERY_TAG, {5000}, 4, 0, 4, L"Tag0"},
        {IOCTL_BATTERY_QUERY_TAG, {}, 4, ERROR_INVALID_PARAMETER, 0, L"Tag0"},
        {IOCTL_BATTERY_QUERY_INFORMATION, {1, BatteryInformation, 0}, 40, 0, 36, L"Information0"},
        {IOCTL_BATTERY_QUERY_INFORMATION, {1, BatteryInformation, 0}, 35, ERROR_INSUFFICIENT_BUFFER, 0,
         L"Information0"},
        {IOCTL_BATTERY_QUERY_INFORMATION, {2, BatteryTemperature, 0}, 4, ERROR_FILE_NOT_FOUND, 0, L"Information0"},
        {IOCTL_BATTERY_QUERY_INFORMATION, {1, BatteryManufactureDate, 0}, 4, 0, 4, L"Information0"},
        {IOCTL_BATTERY_QUERY_INFORMATION, {1, BatterySerialNumber, 0}, 8, ERROR_INSUFFICIENT_BUFFER, 0,
         L"Information0"},
        {IOCTL_BATTERY_QUERY_INFORMATION, {1, BatterySerialNumber, 0}, 10, 0, 10, L"Information0"},
        {IOCTL_BATTERY_QUERY_INFORMATION, {1, BatteryGranularityInformation, 0}, 64, ERROR_INVALID_FUNCTION, 0,
         L"Information0"},
        {IOCTL_BATTERY_QUERY_STATUS, {1, 0, 1, 0, 0}, 16, 0, 16, L"Status0"},
        {IOCTL_BATTERY_QUERY_STATUS, {9, 0, 1, 0, 0}, 16, ERROR_FILE_NOT_FOUND, 0, L"Status0"},
        {IOCTL_BATTERY_QUERY_STATUS, {1, 0, 1, 0}, 16, ERROR_INVALID_PARAMETER, 0, L"Status0"},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        BYTE out[64];
        memset(out, 0xCC, sizeof(out));
        DWORD returned = kBogus, inSize = static_cast<DWORD>(cases[i].in.size() * sizeof(ULONG));
        std::vector<ULONG> in = cases[i].in;
        SetLastError(kBogus);
        BOOL ok = sys->DeviceIoControl(battery, cases[i].code, in.empty() ? nullptr : in.data(), inSize, out,
                                       cases[i].outSize, &returned, nullptr);
        EXPECT_EQ(cases[i].error == 0, ok != FALSE) << i;
        if (cases[i].error) {
            EXPECT_EQ(cases[i].error, GetLastError()) << i;
        }
        EXPECT_EQ(cases[i].returned, returned) << i;
        std::wstring expected = std::to_wstring(inSize) + L":";
        for (DWORD b = 0; b < inSize; ++b) {
            wchar_t hex[4];
            swprintf(hex, 4, b ? L" %02X" : L"%02X", reinterpret_cast<const BYTE*>(in.data())[b]);
            expected += hex;
        }
        EXPECT_EQ(expected, test::MachineValue(L"BatteryRequests", cases[i].recorded)) << i;
        EXPECT_EQ(std::to_wstring(cases[i].outSize),
                  test::MachineValue(L"BatteryRequests", (std::wstring(cases[i].recorded) + L"Out").c_str()))
            << i;
        if (i == 7) {
            EXPECT_STREQ(L"4107", reinterpret_cast<const wchar_t*>(out)) << i;
        }
    }
    EXPECT_TRUE(sys->CloseHandle(battery));
    test::SetMachineValue(L"Battery0", L"OpenError", L"5");
    EXPECT_TRUE(test::FailsWith(ERROR_ACCESS_DENIED, [&] { return Open(0) != INVALID_HANDLE_VALUE; }));
    EXPECT_TRUE(test::FailsWith(ERROR_FILE_NOT_FOUND, [&] { return Open(1) != INVALID_HANDLE_VALUE; }));
}

TEST_F(VnbBatteryTest, ChargeFollowsTimeUntilFullOrEmpty) {
    const struct {
        BYTE ac;
        DWORD percent;
        unsigned long long seconds, remaining;
    } cases[] = {
        {0, 100, 3600, 51150 - 15000},  // an hour on battery at 15 W
        {1, 50, 1800, 25575 + 12500},   // half an hour on mains at 25 W
        {1, 90, 7200, 51150},           // charging stops at full
        {0, 10, 7200, 0},               // and discharging at empty
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        test::SetAcLine(cases[i].ac);
        ASSERT_TRUE(VnbSetBatteryCharge(nullptr, 0, cases[i].percent));
        PassTime(cases[i].seconds);
        SYSTEM_POWER_STATUS status{};
        ASSERT_TRUE(sys->GetSystemPowerStatus(&status));
        EXPECT_NEAR(static_cast<double>(cases[i].remaining), static_cast<double>(Remaining()), 40) << i;
        EXPECT_EQ(Remaining() * 100 / 51150, status.BatteryLifePercent) << i;
    }
}

TEST_F(VnbBatteryTest, SystemBatteryStateAndPowerStatusAgree) {
    const struct {
        BYTE ac;
        DWORD percent;
        BOOL present;
        BYTE flag;
    } cases[] = {
        {1, 100, TRUE, 1}, {1, 50, TRUE, 8}, {0, 80, TRUE, 1}, {0, 50, TRUE, 0},
        {0, 20, TRUE, 2},  {0, 3, TRUE, 6},  {1, 20, TRUE, 10}, {0, 50, FALSE, 128},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        test::SetAcLine(cases[i].ac);
        ASSERT_TRUE(VnbSetBatteryPresent(nullptr, 0, TRUE));
        ASSERT_TRUE(VnbSetBatteryCharge(nullptr, 0, cases[i].percent));
        ASSERT_TRUE(VnbSetBatteryPresent(nullptr, 0, cases[i].present));
        PassTime(60);
        SYSTEM_BATTERY_STATE state = State();
        SYSTEM_POWER_STATUS status{};
        ASSERT_TRUE(sys->GetSystemPowerStatus(&status));
        EXPECT_EQ(cases[i].ac, status.ACLineStatus) << i;
        EXPECT_EQ(cases[i].ac, state.AcOnLine) << i;
        EXPECT_EQ(cases[i].present, state.BatteryPresent) << i;
        EXPECT_EQ(cases[i].flag, status.BatteryFlag) << i;
        EXPECT_EQ(cases[i].present && !cases[i].ac, state.Discharging) << i;
        EXPECT_EQ((cases[i].flag & 8) != 0, state.Charging != FALSE) << i;
        if (!cases[i].present) {
            EXPECT_EQ(255, status.BatteryLifePercent) << i;
            EXPECT_EQ(0u, state.MaxCapacity) << i;
            EXPECT_EQ(MAXDWORD, status.BatteryLifeTime) << i;
            continue;
        }
        EXPECT_EQ(51150u, state.MaxCapacity) << i;
        EXPECT_EQ(state.RemainingCapacity * 100 / state.MaxCapacity, status.BatteryLifePercent) << i;
        EXPECT_EQ(state.EstimatedTime, status.BatteryLifeTime) << i;
        if (cases[i].ac) {
            EXPECT_EQ(MAXDWORD, status.BatteryLifeTime) << i;
            EXPECT_EQ(cases[i].percent == 100 ? 0 : 25000, static_cast<LONG>(state.Rate)) << i;
        } else {
            EXPECT_EQ(-15000, static_cast<LONG>(state.Rate)) << i;
            EXPECT_EQ(state.RemainingCapacity * 3600 / 15000, state.EstimatedTime) << i;
            EXPECT_EQ(51150u * 3600 / 15000, status.BatteryFullLifeTime) << i;
        }
    }
    SYSTEM_BATTERY_STATE small{};
    EXPECT_EQ(static_cast<LONG>(0xC0000023),
              sys->CallNtPowerInformation(SystemBatteryState, nullptr, 0, &small, sizeof(small) - 1));
    // Other levels are the system's own.
    auto real = reinterpret_cast<decltype(&::CallNtPowerInformation)>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"powrprof.dll"), "CallNtPowerInformation")));
    ASSERT_NE(nullptr, real);
    SYSTEM_POWER_CAPABILITIES viaTable{}, system{};
    EXPECT_EQ(real(SystemPowerCapabilities, nullptr, 0, &system, sizeof(system)),
              sys->CallNtPowerInformation(SystemPowerCapabilities, nullptr, 0, &viaTable, sizeof(viaTable)));
    EXPECT_EQ(0, memcmp(&system, &viaTable, sizeof(system)));
}

TEST_F(VnbBatteryTest, ChangesToSlotsTheMachineLacksAreRefused) {
    EXPECT_TRUE(test::FailsWith(ERROR_NOT_FOUND, [&] { return VnbSetBatteryCharge(nullptr, 1, 50); }));
    EXPECT_TRUE(test::FailsWith(ERROR_INVALID_PARAMETER, [&] { return VnbSetBatteryCharge(nullptr, 0, 101); }));
    EXPECT_TRUE(test::FailsWith(ERROR_INVALID_PARAMETER, [&] { return VnbSetBatteryRates(nullptr, 6, 1, 1); }));
    EXPECT_TRUE(test::FailsWith(ERROR_INVALID_PARAMETER, [&] { return VnbSetBatteryPresent(nullptr, -1, TRUE); }));
    EXPECT_EQ(L"1", test::MachineValue(L"Battery0", L"Tag"));
    ASSERT_TRUE(VnbSetBatteryPresent(nullptr, 0, FALSE));
    ASSERT_TRUE(VnbSetBatteryPresent(nullptr, 0, TRUE));
    EXPECT_EQ(L"2", test::MachineValue(L"Battery0", L"Tag")) << "a battery put back in is a new one";
}

}  // namespace
