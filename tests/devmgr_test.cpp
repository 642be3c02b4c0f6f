// The device manager on the virtual notebook: listing the configured classes,
// switching by instance ID and by description, the device-tree walk, and switching
// by index locally and through the request channel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "DebugCapture.h"
#include "DevMgr.h"
#include "MachineSupport.h"
#include "PeerProtocol.h"
#include "TestSupport.h"
#include "ZoraVnb.h"

namespace {

// The classes the tests' ZORACfg.ini lists under [DevGUIDs].
const wchar_t* const kListedClasses[] = {
    L"{4d36e972-e325-11ce-bfc1-08002be10318}", L"{e0cbf06c-cd8b-4647-bb8a-263b43f0f974}",
    L"{4d36e96d-e325-11ce-bfc1-08002be10318}", L"{6bdd1fc6-810f-11d0-bec7-08002be10318}",
    L"{4d36e965-e325-11ce-bfc1-08002be10318}", L"{4d36e96c-e325-11ce-bfc1-08002be10318}"};

constexpr DWORD kStarted = 0x8, kDisableable = 0x2000;

bool Listed(const VnbDevice& d) {
    for (const wchar_t* guid : kListedClasses)
        if (_wcsicmp(guid, d.classGuid) == 0) return true;
    return false;
}

class DevMgrTest : public ::testing::Test {
protected:
    void SetUp() override {
        DebugCapture::Clear();
        DebugCapture::Start();
        for (int i = 0, n = VnbDeviceCount(m_machine.Path().c_str()); i < n; ++i) {
            VnbDevice d{};
            ASSERT_TRUE(VnbGetDevice(m_machine.Path().c_str(), i, &d));
            m_devices.push_back(d);
        }
        ASSERT_FALSE(m_devices.empty());
    }
    void TearDown() override { DebugCapture::Stop(); }

    // The first listed, present device whose status has all of `with` and none of `without`.
    VnbDevice Find(DWORD with, DWORD without, DWORD problem = 0) {
        for (const VnbDevice& d : m_devices)
            if (Listed(d) && d.present && (d.status & with) == with && !(d.status & without) && d.problem == problem)
                return d;
        ADD_FAILURE() << "the default machine has no device with status " << with << " and not " << without;
        return VnbDevice{};
    }
    VnbDevice Now(const VnbDevice& d) { return test::Device(d.instanceId); }

    test::FreshMachine m_machine;
    std::vector<VnbDevice> m_devices;
};

TEST_F(DevMgrTest, SetupListsEveryDeviceOfTheConfiguredClasses) {
    std::vector<std::wstring> expected;
    for (const VnbDevice& d : m_devices)
        if (Listed(d)) expected.push_back(d.instanceId);
    ASSERT_GE(expected.size(), 6u);

    HWND list = CreateWindowW(L"LISTBOX", L"", 0, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(list);
    CDevMgr manager;
    manager.SetListenList(list);
    ASSERT_EQ(S_OK, manager.Setup());
    ASSERT_EQ(static_cast<long>(expected.size()), manager.GetDeviceCount());
    EXPECT_EQ(static_cast<LRESULT>(expected.size()), SendMessageW(list, LB_GETCOUNT, 0, 0));

    std::vector<std::wstring> got;
    for (unsigned long i = 0; i < expected.size(); ++i) {
        wchar_t id[260], desc[128];
        ASSERT_EQ(S_OK, manager.GetInstID(i, id, 260));
        got.push_back(id);
        VnbDevice d = test::Device(id);
        ASSERT_EQ(S_OK, manager.GetDesc(i, desc, sizeof(desc)));
        EXPECT_STREQ(d.description, desc);
        wchar_t name[128];
        if (d.friendlyName[0]) {
            ASSERT_EQ(S_OK, manager.GetName(i, name, sizeof(name)));
            EXPECT_STREQ(d.friendlyName, name);
        } else {
            EXPECT_EQ(E_FAIL, manager.GetName(i, name, sizeof(name))) << "a device without a friendly name";
        }
        unsigned long status = 0, problem = 0;
        if (d.present) {
            ASSERT_EQ(S_OK, manager.GetDeviceStatus(i, &status, &problem));
            EXPECT_EQ(d.status, status);
            EXPECT_EQ(d.problem, problem);
        }
    }
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(expected, got) << "present or not, each device of each listed class once";
    wchar_t id[260];
    EXPECT_EQ(E_FAIL, manager.GetInstID(static_cast<unsigned long>(expected.size()), id, 260));

    EXPECT_EQ(S_FALSE, manager.Setup());
    EXPECT_TRUE(DebugCapture::Contains("Setup has been invoked."));
    EXPECT_EQ(S_OK, manager.Cleanup());
    EXPECT_EQ(0, manager.GetDeviceCount());
    EXPECT_EQ(S_OK, manager.Setup()) << "after Cleanup the list is built again";
    EXPECT_EQ(static_cast<long>(expected.size()), manager.GetDeviceCount());
    DestroyWindow(list);
}

TEST_F(DevMgrTest, ExecStateChangeDisablesAndEnablesForReal) {
    VnbDevice d = Find(kStarted | kDisableable, 0);
    ASSERT_EQ(S_OK, CDevMgr::ExecStateChange(d.instanceId, CDevMgr::Disable));
    VnbDevice off = Now(d);
    EXPECT_FALSE(off.status & kStarted);
    EXPECT_EQ(22u, off.problem);
    ASSERT_EQ(S_OK, CDevMgr::ExecStateChange(d.instanceId, CDevMgr::Enable));
    VnbDevice on = Now(d);
    EXPECT_TRUE(on.status & kStarted);
    EXPECT_EQ(0u, on.problem);
}

TEST_F(DevMgrTest, DisablingWhatCannotBeDisabledChangesNothing) {
    VnbDevice fixed = Find(kStarted, kDisableable);
    EXPECT_EQ(S_OK, CDevMgr::ExecStateChange(fixed.instanceId, CDevMgr::Disable));
    EXPECT_EQ(fixed.status, Now(fixed).status);
    EXPECT_EQ(fixed.problem, Now(fixed).problem);

    VnbDevice disabled = Find(0, kStarted, 22);
    EXPECT_EQ(S_OK, CDevMgr::ExecStateChange(disabled.instanceId, CDevMgr::Disable));
    EXPECT_EQ(22u, Now(disabled).problem);
    // Enabling is always attempted.
    EXPECT_EQ(S_OK, CDevMgr::ExecStateChange(disabled.instanceId, CDevMgr::Enable));
    EXPECT_TRUE(Now(disabled).status & kStarted);
    EXPECT_EQ(0u, Now(disabled).problem);
}

TEST_F(DevMgrTest, UnknownInstanceIdFailsWithItsMessage) {
    EXPECT_EQ(E_FAIL, CDevMgr::ExecStateChange(L"PCI\\VEN_0000&DEV_0000\\NOWHERE", CDevMgr::Disable));
    EXPECT_TRUE(DebugCapture::Contains("ExecStateChange failed in SetupDiOpenDeviceInfo(PCI\\VEN_0000&DEV_0000\\NOWHERE), le="));
    EXPECT_EQ(E_FAIL, CDevMgr::ExecStateChange(nullptr, CDevMgr::Disable));
}

TEST_F(DevMgrTest, DescriptionFindsTheNodeIgnoringLetterCase) {
    VnbDevice d = Find(kStarted | kDisableable, 0);
    std::wstring flipped = d.description;
    for (wchar_t& c : flipped) c = iswupper(c) ? towlower(c) : towupper(c);
    CDevMgr manager;
    wchar_t id[260];
    ASSERT_EQ(S_OK, manager.DrvDescToInstID(flipped.c_str(), id, 260));
    EXPECT_EQ(0, _wcsicmp(d.instanceId, id));
    EXPECT_TRUE(DebugCapture::Contains(test::Narrow(d.description))) << "each description seen is written out";

    EXPECT_EQ(E_FAIL, manager.DrvDescToInstID(L"Device that is not in this machine", id, 260));

    ASSERT_EQ(S_OK, manager.ExecStateChange2(flipped.c_str(), CDevMgr::Disable));
    EXPECT_EQ(22u, Now(d).problem);
    EXPECT_EQ(E_FAIL, manager.ExecStateChange2(L"Device that is not in this machine", CDevMgr::Disable));
}

TEST_F(DevMgrTest, ShortBufferReportsTheLengthNeeded) {
    VnbDevice longest{};
    for (const VnbDevice& d : m_devices)
        if (d.present && d.description[0] && wcslen(d.instanceId) > wcslen(longest.instanceId)) longest = d;
    size_t length = wcslen(longest.instanceId);
    ASSERT_GE(length, 40u);
    CDevMgr manager;
    wchar_t id[10] = {};
    EXPECT_EQ(E_FAIL, manager.DrvDescToInstID(longest.description, id, 10));
    EXPECT_TRUE(DebugCapture::Contains("Input buffer is too small for " + std::to_string(length + 1)));
    EXPECT_EQ(L'\0', id[0]) << "nothing written into a short buffer";
}

TEST_F(DevMgrTest, ChangeStateBeforeSetupFailsAndTouchesNothing) {
    VnbDevice d = Find(kStarted | kDisableable, 0);
    CDevMgr manager;
    for (unsigned long i = 0; i < 4; ++i) EXPECT_EQ(E_FAIL, manager.ChangeState(i, CDevMgr::Disable));
    EXPECT_EQ(d.status, Now(d).status);
}

// DmOptions=1 (the tests' installation): the switch is a request to the service,
// here answered by a test answerer of the other architecture, which changes nothing.
TEST_F(DevMgrTest, ChangeStateAsksTheServiceWithTheInstanceIdAndAction) {
    test::Answerer answerer;
    ASSERT_TRUE(answerer.Start(test::PeerArch()));
    CDevMgr manager;
    ASSERT_EQ(S_OK, manager.Setup());
    for (unsigned long i = 0; i < static_cast<unsigned long>(manager.GetDeviceCount()); ++i) {
        wchar_t id[260];
        ASSERT_EQ(S_OK, manager.GetInstID(i, id, 260));
        EXPECT_EQ(static_cast<long>(PeerResult(CDevMgr::Disable, id)), manager.ChangeState(i, CDevMgr::Disable));
        EXPECT_EQ(test::Device(id).status, Now(test::Device(id)).status);
    }
    EXPECT_EQ(static_cast<long>(PeerResult(CDevMgr::Enable, L"X\\Y\\0")), manager.DoStateChangeRemote(L"X\\Y\\0", 1));
    EXPECT_EQ(E_FAIL, manager.ChangeState(999, CDevMgr::Disable));
    EXPECT_TRUE(DebugCapture::Contains("DoStateChange failed in GetInstID()."));
}

// DmOptions=0: zoractl of either architecture switches by index itself.
class DevMgrLocalTest : public ::testing::TestWithParam<const wchar_t*> {
protected:
    void SetUp() override {
        if (!test::ArchRuns(GetParam())) GTEST_SKIP() << test::CannotRun(GetParam());
    }
};

TEST_P(DevMgrLocalTest, ZoractlSwitchesByIndexWithoutTheService) {
    test::FreshMachine machine;
    const wchar_t* arch = GetParam();
    test::TempDir root;
    std::wstring bin = root.Path() + L"\\bin", cfg = root.Path() + L"\\cfg";
    CreateDirectoryW(bin.c_str(), nullptr);
    CreateDirectoryW(cfg.c_str(), nullptr);
    for (const wchar_t* file : {L"ZORADLL.dll", L"ZoraVnb.dll", L"zoractl.exe"})
        ASSERT_TRUE(test::CopyInto(test::ProgramPath(arch, file), bin)) << test::Narrow(file);
    ASSERT_TRUE(test::WriteTextFile(cfg + L"\\ZORACfg.ini",
                                    "[ZoraDevMgr]\r\nDmOptions=0\r\n[DevGUIDs]\r\nNum=1\r\n"
                                    "GUID0={4d36e972-e325-11ce-bfc1-08002be10318}\r\n"));
    std::string listing;
    ASSERT_EQ(0, test::Run(bin + L"\\zoractl.exe", L"devices", &listing)) << listing;

    // The network class alone: find a switchable one's index in the listing.
    int index = -1;
    VnbDevice target{};
    for (int i = 0, n = VnbDeviceCount(machine.Path().c_str()); i < n && index < 0; ++i) {
        VnbDevice d{};
        VnbGetDevice(machine.Path().c_str(), i, &d);
        if (_wcsicmp(d.classGuid, kListedClasses[0]) || !d.present ||
            (d.status & (kStarted | kDisableable)) != (kStarted | kDisableable))
            continue;
        size_t at = listing.find("[" + test::Narrow(d.instanceId) + "]");
        if (at == std::string::npos) continue;
        size_t line = listing.rfind('\n', at);
        index = atoi(listing.c_str() + line + 1);
        target = d;
    }
    ASSERT_GE(index, 0) << listing;
    std::string output;
    EXPECT_EQ(0, test::Run(bin + L"\\zoractl.exe", L"device disable " + std::to_wstring(index), &output)) << output;
    EXPECT_EQ(22u, test::Device(target.instanceId).problem);
    EXPECT_EQ(0, test::Run(bin + L"\\zoractl.exe", L"device enable " + std::to_wstring(index), &output)) << output;
    EXPECT_EQ(0u, test::Device(target.instanceId).problem);
    EXPECT_NE(0, test::Run(bin + L"\\zoractl.exe", L"device disable 999", &output));

    // No class named: said so, not "0 devices".
    ASSERT_TRUE(test::WriteTextFile(cfg + L"\\ZORACfg.ini", "[ZoraDevMgr]\r\nDmOptions=0\r\n"));
    EXPECT_EQ(1, test::Run(bin + L"\\zoractl.exe", L"devices", &output));
    EXPECT_NE(std::string::npos, output.find("names no device class")) << output;
}

INSTANTIATE_TEST_SUITE_P(Arch, DevMgrLocalTest, ::testing::Values(L"i686", L"x86_64"),
                         [](const auto& info) { return test::Narrow(info.param); });

}  // namespace
