// The device manager on the virtual notebook inside one process: listing the
// configured classes, the name getters, switching by instance ID and by description,
// and the device-tree walk.
#include <gtest/gtest.h>
#include <windows.h>
#include <cfgmgr32.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "DebugCapture.h"
#include "DevMgr.h"
#include "MachineSupport.h"

namespace {

// The classes the tests' ZORACfg.ini lists under [DevGUIDs].
const wchar_t* const kListedClasses[] = {
    L"{4d36e972-e325-11ce-bfc1-08002be10318}", L"{e0cbf06c-cd8b-4647-bb8a-263b43f0f974}",
    L"{4d36e96d-e325-11ce-bfc1-08002be10318}", L"{6bdd1fc6-810f-11d0-bec7-08002be10318}",
    L"{4d36e965-e325-11ce-bfc1-08002be10318}", L"{4d36e96c-e325-11ce-bfc1-08002be10318}"};

bool Listed(const VnbDevice& d) {
    return std::any_of(std::begin(kListedClasses), std::end(kListedClasses),
                       [&](const wchar_t* guid) { return _wcsicmp(guid, d.classGuid) == 0; });
}

using DevMgrTest = test::MachineCase;

// Index of a device in a set-up manager's list, or -1.
long IndexOf(CDevMgr& manager, const wchar_t* instanceId) {
    for (long i = 0; i < manager.GetDeviceCount(); ++i) {
        wchar_t id[260];
        if (manager.GetInstID(i, id, 260) == S_OK && wcscmp(id, instanceId) == 0) return i;
    }
    return -1;
}

// Present or not, each device of each listed class once (the default machine has nine).
TEST_F(DevMgrTest, SetupListsEveryDeviceOfTheConfiguredClasses) {
    HWND list = CreateWindowW(L"LISTBOX", L"", 0, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(list);
    CDevMgr manager;
    manager.SetListenList(list);
    ASSERT_EQ(S_OK, manager.Setup());
    ASSERT_EQ(9, manager.GetDeviceCount());
    EXPECT_EQ(9, SendMessageW(list, LB_GETCOUNT, 0, 0));
    std::vector<std::wstring> ids;
    for (unsigned long i = 0; i < 9; ++i) {
        wchar_t id[260], text[128];
        ASSERT_EQ(S_OK, manager.GetInstID(i, id, 260));
        ids.push_back(id);
        VnbDevice d = test::Device(id);
        EXPECT_TRUE(Listed(d)) << test::Narrow(id);
        ASSERT_EQ(S_OK, manager.GetDesc(i, text, sizeof(text)));
        EXPECT_STREQ(d.description, text);
        EXPECT_EQ(d.friendlyName[0] ? S_OK : E_FAIL, manager.GetName(i, text, sizeof(text))) << test::Narrow(id);
        unsigned long status = 0, problem = 0;
        if (!d.present) continue;
        ASSERT_EQ(S_OK, manager.GetDeviceStatus(i, &status, &problem));
        EXPECT_EQ(d.status, status);
        EXPECT_EQ(d.problem, problem);
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids.end(), std::unique(ids.begin(), ids.end()));
    wchar_t id[260];
    EXPECT_EQ(E_FAIL, manager.GetInstID(9, id, 260));

    EXPECT_EQ(S_FALSE, manager.Setup());
    EXPECT_TRUE(DebugCapture::Contains("Setup has been invoked."));
    EXPECT_EQ(S_OK, manager.Cleanup());
    EXPECT_EQ(0, manager.GetDeviceCount());
    EXPECT_EQ(S_OK, manager.Setup()) << "after Cleanup the list is built again";
    EXPECT_EQ(9, manager.GetDeviceCount());
    DestroyWindow(list);
}

// The Ethernet controller's instance ID (in characters), description and friendly name
// (in bytes) into the exact fit and one short.
TEST_F(DevMgrTest, NameGettersFillTheCallersBuffer) {
    CDevMgr manager;
    ASSERT_EQ(S_OK, manager.Setup());
    long index = IndexOf(manager, test::kVnbEthernet);
    ASSERT_GE(index, 0);
    struct Case {
        long (CDevMgr::*get)(unsigned long, wchar_t*, int);
        const wchar_t* text;
        int unit;
    } cases[] = {{&CDevMgr::GetInstID, test::kVnbEthernet, 1},
                 {&CDevMgr::GetDesc, L"Gigabit Ethernet Controller", 2},
                 {&CDevMgr::GetName, L"Gigabit Ethernet Controller (PCIe)", 2}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        int fit = static_cast<int>(wcslen(cases[i].text) + 1) * cases[i].unit;
        wchar_t text[128];
        EXPECT_EQ(E_FAIL, (manager.*cases[i].get)(index, text, fit - 1)) << "one short, case " << i;
        wmemset(text, L'#', 128);
        ASSERT_EQ(S_OK, (manager.*cases[i].get)(index, text, fit)) << "the exact fit, case " << i;
        EXPECT_STREQ(cases[i].text, text) << "case " << i;
        EXPECT_EQ(L'#', text[wcslen(cases[i].text) + 1]) << "case " << i;
        EXPECT_EQ(E_FAIL, (manager.*cases[i].get)(index, nullptr, fit)) << "case " << i;
    }
}

TEST_F(DevMgrTest, ExecStateChangeDisablesAndEnablesForReal) {
    ASSERT_EQ(S_OK, CDevMgr::ExecStateChange(test::kVnbWireless, CDevMgr::Disable));
    VnbDevice off = test::Device(test::kVnbWireless);
    EXPECT_FALSE(off.status & DN_STARTED);
    EXPECT_EQ(22u, off.problem);
    ASSERT_EQ(S_OK, CDevMgr::ExecStateChange(test::kVnbWireless, CDevMgr::Enable));
    VnbDevice on = test::Device(test::kVnbWireless);
    EXPECT_TRUE(on.status & DN_STARTED);
    EXPECT_EQ(0u, on.problem);
}

TEST_F(DevMgrTest, DisablingWhatCannotBeDisabledChangesNothing) {
    VnbDevice fixed = test::Device(test::kVnbWanMiniport);
    EXPECT_EQ(S_OK, CDevMgr::ExecStateChange(fixed.instanceId, CDevMgr::Disable));
    EXPECT_EQ(fixed.status, test::Device(fixed.instanceId).status);
    EXPECT_EQ(fixed.problem, test::Device(fixed.instanceId).problem);

    EXPECT_EQ(S_OK, CDevMgr::ExecStateChange(test::kVnbSoftModem, CDevMgr::Disable));
    EXPECT_EQ(22u, test::Device(test::kVnbSoftModem).problem);
    // Enabling is always attempted.
    EXPECT_EQ(S_OK, CDevMgr::ExecStateChange(test::kVnbSoftModem, CDevMgr::Enable));
    EXPECT_TRUE(test::Device(test::kVnbSoftModem).status & DN_STARTED);
    EXPECT_EQ(0u, test::Device(test::kVnbSoftModem).problem);
}

TEST_F(DevMgrTest, UnknownInstanceIdFailsWithItsMessage) {
    EXPECT_EQ(E_FAIL, CDevMgr::ExecStateChange(L"PCI\\VEN_0000&DEV_0000\\NOWHERE", CDevMgr::Disable));
    EXPECT_TRUE(DebugCapture::Contains(
        "ExecStateChange failed in SetupDiOpenDeviceInfo(PCI\\VEN_0000&DEV_0000\\NOWHERE), le="));
    EXPECT_EQ(E_FAIL, CDevMgr::ExecStateChange(nullptr, CDevMgr::Disable));
}

TEST_F(DevMgrTest, DescriptionFindsTheNodeIgnoringLetterCase) {
    std::wstring flipped = test::Device(test::kVnbWireless).description;
    for (wchar_t& c : flipped) c = iswupper(c) ? towlower(c) : towupper(c);
    CDevMgr manager;
    wchar_t id[260];
    ASSERT_EQ(S_OK, manager.DrvDescToInstID(flipped.c_str(), id, 260));
    EXPECT_STREQ(test::kVnbWireless, id);
    EXPECT_TRUE(DebugCapture::Contains(test::Narrow(test::Device(test::kVnbWireless).description)))
        << "each description seen is written out";
    EXPECT_EQ(E_FAIL, manager.DrvDescToInstID(L"Device that is not in this machine", id, 260));

    ASSERT_EQ(S_OK, manager.ExecStateChange2(flipped.c_str(), CDevMgr::Disable));
    EXPECT_EQ(22u, test::Device(test::kVnbWireless).problem);
    EXPECT_EQ(E_FAIL, manager.ExecStateChange2(L"Device that is not in this machine", CDevMgr::Disable));
}

// The soft modem's instance ID is 76 characters: the exact fit, one short, far too small.
TEST_F(DevMgrTest, DescriptionLookupFillsTheCallersBuffer) {
    VnbDevice modem = test::Device(test::kVnbSoftModem);
    unsigned long fit = static_cast<unsigned long>(wcslen(modem.instanceId) + 1);
    ASSERT_EQ(77u, fit);
    CDevMgr manager;
    for (unsigned long size : {10ul, fit - 1}) {
        wchar_t id[128] = {};
        EXPECT_EQ(E_FAIL, manager.DrvDescToInstID(modem.description, id, size)) << size;
        EXPECT_EQ(L'\0', id[0]) << "nothing written into a short buffer";
    }
    EXPECT_TRUE(DebugCapture::Contains("Input buffer is too small for 77"));
    wchar_t id[128];
    wmemset(id, L'#', 128);
    ASSERT_EQ(S_OK, manager.DrvDescToInstID(modem.description, id, fit));
    EXPECT_STREQ(test::kVnbSoftModem, id);
    EXPECT_EQ(L'#', id[fit]);
}

TEST_F(DevMgrTest, ChangeStateBeforeSetupFailsAndTouchesNothing) {
    VnbDevice before = test::Device(test::kVnbWireless);
    CDevMgr manager;
    for (unsigned long i = 0; i < 4; ++i) EXPECT_EQ(E_FAIL, manager.ChangeState(i, CDevMgr::Disable));
    EXPECT_EQ(before.status, test::Device(test::kVnbWireless).status);
}

}  // namespace
