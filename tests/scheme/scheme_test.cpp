// The scheme model on the virtual notebook, run as XP and as Vista (zora_scheme_xp,
// zora_scheme_vista): results checked in the system's policy store (the registry keys
// XP keeps, the machine's Vista schemes) and in the user's scheme file.
#include <shlobj.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "MachineSupport.h"
#include "SchemeEx.h"
#include "TestSupport.h"
#include "WinHandles.h"
#include "ZORACfg.h"
#include "ZoraPowerPolicy.h"
#include "ZoraPowerVariables.h"
#include "ZoraSystemApi.h"
#include "gtest/gtest.h"

namespace {

using test::RunsAsVista;

// The protected operations, for the cases that check them directly.
class SchemeUnderTest : public CSchemeEx {
public:
    using CSchemeEx::FindPwrScheme;
    using CSchemeEx::GuidFromString;
    using CSchemeEx::GuidIntoString;
};

struct Listed {
    int index;
    std::wstring name;
};

unsigned char CALLBACK Collect(unsigned int index, unsigned long, wchar_t* name, unsigned long, wchar_t*,
                               LONG_PTR list) {
    reinterpret_cast<std::vector<Listed>*>(list)->push_back({static_cast<int>(index), name});
    return 1;
}

// The user's scheme file and its folder.
std::wstring SchemeFolder() {
    wchar_t folder[MAX_PATH] = {};
    CZORAProfile().GetHomePath(folder, MAX_PATH);
    return folder;
}
std::wstring SchemeFile() { return SchemeFolder() + L"\\ZORAScheme.ini"; }

std::wstring FileValue(const std::wstring& section, const wchar_t* key) {
    wchar_t value[260];
    GetPrivateProfileStringW(section.c_str(), key, L"(absent)", value, 260, SchemeFile().c_str());
    return value;
}
std::wstring Section(int index) { return L"Scheme " + std::to_wstring(index); }

class SchemeCase : public test::MachineCase {
protected:
    void SetUp() override {
        test::MachineCase::SetUp();
        DeleteFileW(SchemeFile().c_str());
        m_scheme.Initialize();
        ASSERT_EQ(m_scheme.InitCfgFile(), 1);
        // Only Vista's schemes are mapped to GUIDs in the scheme file.
        GUID guid;
        ASSERT_EQ(m_scheme.SchemeIndexToGuid(0, &guid) != 0, Vista()) << "the flavour follows the Windows version";
    }

    static bool Vista() { return RunsAsVista(); }
    std::vector<Listed> List() {
        std::vector<Listed> list;
        EXPECT_EQ(m_scheme.EnumPwrSchemes(Collect, reinterpret_cast<LONG_PTR>(&list)), 1);
        return list;
    }
    std::vector<std::wstring> Names() {
        std::vector<std::wstring> names;
        for (const Listed& listed : List()) names.push_back(listed.name);
        return names;
    }
    // A new scheme copied from the active one.
    int Add(const wchar_t* name) {
        int index = m_scheme.AddPwrScheme(name, L"made by a test", m_scheme.GetActivePwrScheme());
        EXPECT_GE(index, 0) << test::Narrow(name);
        return index;
    }
    GUID GuidOf(int index) {
        GUID guid = {};
        EXPECT_TRUE(m_scheme.SchemeIndexToGuid(index, &guid));
        return guid;
    }
    // A value index of the system's copy of a Vista scheme.
    DWORD SystemIndex(int index, int ac, const GUID& subgroup, const GUID& setting) {
        GUID scheme = GuidOf(index);
        DWORD value = 0xDEAD;
        DWORD rc = ac ? ZoraSys()->PowerReadACValueIndex(nullptr, &scheme, &subgroup, &setting, &value)
                      : ZoraSys()->PowerReadDCValueIndex(nullptr, &scheme, &subgroup, &setting, &value);
        EXPECT_EQ(rc, 0u);
        return value;
    }

    SchemeUnderTest m_scheme;
};

using namespace zora_policy;

TEST_F(SchemeCase, AFreshUserGetsTheFolderTheFileAndTheSystemsSchemes) {
    // A user without the folder: the first operation makes it and the file, InitCfgFile
    // the map from the system's list.
    DeleteFileW(SchemeFile().c_str());
    ASSERT_TRUE(RemoveDirectoryW(SchemeFolder().c_str()));
    EXPECT_EQ(m_scheme.InitCfgFile(), 1);
    m_scheme.GetPwrVariable(m_scheme.GetActivePwrScheme(), 1, L"Wifi");  // XP opens the file here
    EXPECT_EQ(GetFileAttributesW(SchemeFolder().c_str()) & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_NE(GetFileAttributesW(SchemeFile().c_str()), INVALID_FILE_ATTRIBUTES);
    std::vector<std::wstring> expected =
        Vista() ? std::vector<std::wstring>{L"Balanced", L"High performance", L"Power saver"}
                : std::vector<std::wstring>{L"Home/Office Desk",         L"Portable/Laptop", L"Presentation",
                                            L"Always On", L"Minimal Power Management", L"Max Battery"};
    std::vector<std::wstring> names = Names();
    std::sort(names.begin(), names.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
    if (Vista()) {
        EXPECT_EQ(FileValue(L"Schemes", L"SchemeMaxIndex"), L"2");
    }
    EXPECT_EQ(m_scheme.GetPwrSchemeMaxIndex(), Vista() ? 2 : 5);
    EXPECT_NE(m_scheme.GetActivePwrScheme(), -1);
}

TEST_F(SchemeCase, CreatingFollowsTheNameRules) {
    const std::wstring builtIn = Vista() ? L"Balanced" : L"Max Battery";
    const int active = m_scheme.GetActivePwrScheme();
    struct Row {
        std::wstring name;
        int base;  // -1: the active scheme
        int xp, vista;  // 1: created; else the result
    } rows[] = {
        {L"  Office  ", -1, 1, 1},           // stored trimmed
        {L"", -1, -1, -1},
        {L"    ", -1, -1, -1},
        {std::wstring(29, L'x'), -1, 1, 1},
        {std::wstring(30, L'y'), -1, -1, 1},  // XP's names end at 29 characters
        {std::wstring(127, L'z'), -1, -1, 1},
        {std::wstring(128, L'w'), -1, -1, -1},
        {std::wstring(300, L'v'), -1, -1, -1},  // beyond the working buffer
        {builtIn, -1, -2, -2},
        {builtIn, 999, -2, -2},  // the duplicate is said even where the base is wrong
        {L"Orphan", 999, -1, -1},
        {L"office", -1, 1, 1},  // names compare with their letter case
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(test::Narrow(row.name.substr(0, 40)));
        size_t before = List().size();
        int expected = Vista() ? row.vista : row.xp;
        int got = m_scheme.AddPwrScheme(row.name.c_str(), nullptr, row.base == -1 ? active : row.base);
        if (expected == 1) {
            ASSERT_GE(got, 0);
            size_t first = row.name.find_first_not_of(L' ');
            std::wstring trimmed = row.name.substr(first, row.name.find_last_not_of(L' ') - first + 1);
            EXPECT_EQ(m_scheme.FindPwrScheme(trimmed.c_str()), got);
            EXPECT_EQ(List().size(), before + 1);
        } else {
            EXPECT_EQ(got, expected);
            EXPECT_EQ(List().size(), before);
        }
    }
}

TEST_F(SchemeCase, ACopyTakesTheBasesValuesAndIsKeptWhereTheSystemKeepsIt) {
    int base = Add(L"Base");
    ASSERT_GE(base, 0);
    ASSERT_EQ(m_scheme.SetPwrVariable(base, 1, L"Wifi", 0), 0);
    ASSERT_EQ(m_scheme.SetPwrVariable(base, 0, L"USBPort 3", 0), 0);
    ASSERT_EQ(m_scheme.SetPwrVariable(base, 0, L"MonitorOffTimeOut", 120), 1);
    ASSERT_EQ(m_scheme.SetPwrVariable(base, 1, L"LanSpeedVista", 0), 0);

    int copy = m_scheme.AddPwrScheme(L"Copy", L"the copy", base);
    ASSERT_GE(copy, 0);
    for (auto [name, ac] : {std::pair{L"Wifi", 1}, {L"USBPort 3", 0}, {L"MonitorOffTimeOut", 0},
                            {L"LanSpeedVista", 1}, {L"BTStatus", 1}})
        EXPECT_EQ(m_scheme.GetPwrVariable(copy, ac, name), m_scheme.GetPwrVariable(base, ac, name))
            << test::Narrow(name);

    wchar_t name[64] = {}, description[64] = {};
    unsigned long nameCapacity = 64, descriptionCapacity = 64;
    ASSERT_TRUE(m_scheme.GetPwrSchemeNameDesc(copy, name, &nameCapacity, description, &descriptionCapacity));
    EXPECT_STREQ(name, L"Copy");
    EXPECT_STREQ(description, L"the copy");
    if (Vista()) {
        GUID guid = GuidOf(copy);
        wchar_t systemName[64] = {};
        DWORD bytes = sizeof(systemName);
        EXPECT_EQ(ZoraSys()->PowerReadFriendlyName(nullptr, &guid, nullptr, nullptr,
                                                   reinterpret_cast<UCHAR*>(systemName), &bytes),
                  0u);
        EXPECT_STREQ(systemName, L"Copy");
        EXPECT_EQ(FileValue(L"Schemes", L"SchemeMaxIndex"), std::to_wstring(copy));
    } else {
        std::wstring key = L"Control Panel\\PowerCfg\\PowerPolicies\\" + std::to_wstring(copy);
        wchar_t stored[64] = {};
        DWORD bytes = sizeof(stored);
        EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"Name", RRF_RT_REG_SZ, nullptr, stored, &bytes), 0);
        EXPECT_STREQ(stored, L"Copy");
        UniqueKey powerCfg;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                                L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\PowerCfg", 0,
                                KEY_READ | KEY_WOW64_64KEY, powerCfg.put()),
                  0);
        bytes = sizeof(stored);
        EXPECT_EQ(RegGetValueW(powerCfg.get(), nullptr, L"LastID", RRF_RT_REG_SZ, nullptr, stored, &bytes), 0);
        EXPECT_EQ(std::wstring(stored), std::to_wstring(copy));
    }
}

TEST_F(SchemeCase, DeletingKeepsTheSystemsOwnAndTakesTheSettingsAlong) {
    int builtIn = Vista() ? m_scheme.FindPwrScheme(L"Balanced") : 3;
    size_t before = List().size();
    EXPECT_EQ(m_scheme.DeletePwrScheme(builtIn), 0);
    int added = Add(L"Short-lived");
    ASSERT_EQ(m_scheme.SetPwrVariable(added, 1, L"BTStatus", 1), 1);
    EXPECT_EQ(FileValue(Section(added), L"BTStatus").empty(), false);
    EXPECT_NE(m_scheme.DeletePwrScheme(added), 0);
    EXPECT_EQ(List().size(), before);
    EXPECT_EQ(m_scheme.FindPwrScheme(L"Short-lived"), -1);
    EXPECT_EQ(FileValue(Section(added), L"BTStatus"), L"(absent)");
    EXPECT_EQ(m_scheme.DeletePwrScheme(added), 0);

    // The system keeps its active scheme, and the scheme file keeps its settings.
    int active = Add(L"Busy");
    ASSERT_EQ(m_scheme.SetPwrVariable(active, 1, L"BTStatus", 1), 1);
    m_scheme.SetActivePwrScheme(active);
    ASSERT_EQ(m_scheme.GetActivePwrScheme(), active);
    EXPECT_EQ(m_scheme.DeletePwrScheme(active), 0);
    EXPECT_EQ(m_scheme.GetPwrVariable(active, 1, L"BTStatus"), 1);
}

TEST_F(SchemeCase, VistaLeavesNoSystemSchemeBehindWhenItCannotIndexIt) {
    if (!Vista()) GTEST_SKIP() << "Vista's index map";
    auto systemSchemes = [] {
        ULONG count = 0;
        for (GUID guid;; ++count) {
            DWORD size = sizeof(guid);
            if (ZoraSys()->PowerEnumerate(nullptr, nullptr, nullptr, ACCESS_SCHEME, count,
                                          reinterpret_cast<UCHAR*>(&guid), &size) != 0)
                return count;
        }
    };
    ULONG before = systemSchemes();
    WritePrivateProfileStringW(L"Schemes", L"SchemeMaxIndex", nullptr, SchemeFile().c_str());
    EXPECT_EQ(m_scheme.AddPwrScheme(L"Nowhere", nullptr, 0), -1);
    EXPECT_EQ(systemSchemes(), before);
}

TEST_F(SchemeCase, ActivatingSwitchesTheSystemEvenWithoutTheService) {
    int added = Add(L"Now");
    // No service here: the system has switched, the result says the service was not reached.
    EXPECT_EQ(m_scheme.SetActivePwrScheme(added), -1);
    EXPECT_EQ(m_scheme.GetActivePwrScheme(), added);
    EXPECT_EQ(FileValue(L"ZORACfg", L"CurrentScheme"), std::to_wstring(added));
    EXPECT_EQ(m_scheme.SetActivePwrScheme(9999), -1);
    EXPECT_EQ(m_scheme.GetActivePwrScheme(), added);
}

TEST_F(SchemeCase, VistaListsWhatTheSystemHasAndRegistersWhatItLearns) {
    if (!Vista()) GTEST_SKIP() << "Vista's index map";
    // A scheme made active outside the library is registered after the highest index.
    GUID balanced = GuidOf(m_scheme.FindPwrScheme(L"Balanced"));
    GUID* outside = nullptr;
    ASSERT_EQ(ZoraSys()->PowerDuplicateScheme(nullptr, &balanced, &outside), 0u);
    UniqueLocalGuid owner(outside);
    ASSERT_EQ(ZoraSys()->PowerSetActiveScheme(nullptr, outside), 0u);
    EXPECT_EQ(m_scheme.GetActivePwrScheme(), 3);
    EXPECT_EQ(FileValue(L"Schemes", L"SchemeMaxIndex"), L"3");
    EXPECT_EQ(m_scheme.SchemeGuidToIndex(outside), 3);

    // One deleted outside the library leaves the list, and its section goes when looked up.
    int added = Add(L"Gone soon");
    GUID guid = GuidOf(added);
    ASSERT_EQ(m_scheme.SetPwrVariable(added, 1, L"Wifi", 1), 1);
    ASSERT_EQ(ZoraSys()->PowerDeleteScheme(nullptr, &guid), 0u);
    for (const Listed& listed : List()) EXPECT_NE(listed.index, added);
    EXPECT_EQ(FileValue(Section(added), L"GUID"), L"(absent)");
    EXPECT_EQ(FileValue(Section(added), L"Wifi"), L"(absent)");
    EXPECT_EQ(m_scheme.GetPwrVariable(added, 1, L"Wifi"), -1);
}

TEST_F(SchemeCase, XpKeepsStandbyBeforeHibernation) {
    if (Vista()) GTEST_SKIP() << "XP's policy records";
    struct Row {
        const char* what;
        int ac;
        const wchar_t* variable;
        int value;
        int result, standby, hibernate;
    } rows[] = {
        {"standby past hibernation", 1, L"StandbyTimeOut", 1200, -2, 300, 900},
        {"standby later, hibernation kept", 1, L"StandbyTimeOut", 600, 1, 600, 900},
        {"standby off, hibernation idle", 1, L"StandbyTimeOut", 0, 1, 0, 900},
        {"standby back before hibernation", 0, L"StandbyTimeOut", 600, 1, 600, 900},
        {"hibernation off, standby kept", 1, L"HibernateTimeOut", 0, 1, 300, 0},
        {"mains: hibernation with standby", 1, L"HibernateTimeOut", 300, -2, 300, 900},
        {"battery: hibernation with standby turns it off", 0, L"HibernateTimeOut", 300, 1, 300, 0},
        {"hibernation before standby", 0, L"HibernateTimeOut", 120, -2, 300, 900},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        int index = Add((L"Order " + std::to_wstring(&row - rows)).c_str());
        for (int ac : {1, 0}) {
            ASSERT_EQ(m_scheme.SetPwrVariable(index, ac, L"HibernateTimeOut", 0), 1);
            ASSERT_EQ(m_scheme.SetPwrVariable(index, ac, L"StandbyTimeOut", 300), 1);
            ASSERT_EQ(m_scheme.SetPwrVariable(index, ac, L"HibernateTimeOut", 900), 1);
        }
        EXPECT_EQ(m_scheme.SetPwrVariable(index, row.ac, row.variable, row.value), row.result);
        EXPECT_EQ(m_scheme.GetPwrVariable(index, row.ac, L"StandbyTimeOut"), row.standby);
        EXPECT_EQ(m_scheme.GetPwrVariable(index, row.ac, L"HibernateTimeOut"), row.hibernate);
    }
    // Standby off and on again keeps hibernation's total time.
    int index = Add(L"Round trip");
    ASSERT_EQ(m_scheme.SetPwrVariable(index, 1, L"HibernateTimeOut", 0), 1);
    ASSERT_EQ(m_scheme.SetPwrVariable(index, 1, L"StandbyTimeOut", 0), 1);
    ASSERT_EQ(m_scheme.SetPwrVariable(index, 1, L"HibernateTimeOut", 900), 1);
    EXPECT_EQ(m_scheme.SetPwrVariable(index, 1, L"StandbyTimeOut", 300), 1);
    EXPECT_EQ(m_scheme.GetPwrVariable(index, 1, L"HibernateTimeOut"), 900);
    POWER_POLICY policy;
    ASSERT_TRUE(ZoraSys()->ReadPwrScheme(static_cast<UINT>(index), &policy));
    EXPECT_EQ(policy.user.IdleAc.Action, PowerActionSleep);
    EXPECT_EQ(policy.mach.DozeS4TimeoutAc, 600u);
}

TEST_F(SchemeCase, XpProcessorPolicyGoesIntoBothRecords) {
    if (Vista()) GTEST_SKIP() << "XP's policy records";
    int index = Add(L"Processor");
    ASSERT_EQ(m_scheme.SetPwrVariable(index, 0, L"CpuSpeed", 50), 1);
    MACHINE_PROCESSOR_POWER_POLICY processor;
    POWER_POLICY power;
    ASSERT_TRUE(ZoraSys()->ReadProcessorPwrScheme(static_cast<UINT>(index), &processor));
    ASSERT_TRUE(ZoraSys()->ReadPwrScheme(static_cast<UINT>(index), &power));
    EXPECT_EQ(power.user.ForcedThrottleDc, 50);
    EXPECT_EQ(power.user.ThrottlePolicyDc, 0);
    EXPECT_EQ(processor.ProcessorPolicyDc.DynamicThrottle, 0);
    ASSERT_EQ(m_scheme.SetPwrVariable(index, 0, L"CpuAdaptive", 3), 1);
    ASSERT_TRUE(ZoraSys()->ReadProcessorPwrScheme(static_cast<UINT>(index), &processor));
    ASSERT_TRUE(ZoraSys()->ReadPwrScheme(static_cast<UINT>(index), &power));
    EXPECT_EQ(power.user.ForcedThrottleDc, 100);
    EXPECT_EQ(processor.ProcessorPolicyDc.DynamicThrottle, 3);
    EXPECT_EQ(m_scheme.GetPwrVariable(index, 0, L"CpuAdaptive"), 3);
    EXPECT_EQ(m_scheme.GetPwrVariable(index, 0, L"CpuSpeedMin"), -1);
}

TEST_F(SchemeCase, VistaMapsTimeOutsProcessorAndBacklight) {
    if (!Vista()) GTEST_SKIP() << "Vista's value indexes";
    int index = Add(L"Mapped");
    EXPECT_EQ(m_scheme.SetPwrVariable(index, 1, L"MonitorOffTimeOut", 90), -1);
    EXPECT_EQ(m_scheme.SetPwrVariable(index, 1, L"MonitorOffTimeOut", 120), 1);
    EXPECT_EQ(SystemIndex(index, 1, kVideo, kVideoIdle), 120u);

    // Adaptive off holds full speed on that side; on lets the system adapt.
    struct Row {
        int ac, value;
        DWORD policy, limits;  // limits 0: left as they were
    } rows[] = {{1, 0, 4, 100}, {0, 0, 5, 100}, {1, 1, 2, 0}, {0, 3, 3, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.ac * 10 + row.value);
        for (int ac : {1, 0}) {
            ASSERT_EQ(m_scheme.SetPwrVariable(index, ac, L"CpuSpeedMin", 5), 5);
            ASSERT_EQ(m_scheme.SetPwrVariable(index, ac, L"CpuSpeedMax", 50), 50);
        }
        EXPECT_EQ(m_scheme.SetPwrVariable(index, row.ac, L"CpuAdaptive", row.value), row.value);
        EXPECT_EQ(SystemIndex(index, row.ac, kProcessor, kPolicyFirst), row.policy);
        EXPECT_EQ(SystemIndex(index, row.ac, kProcessor, kPolicySecond), row.policy);
        EXPECT_EQ(SystemIndex(index, row.ac, kProcessor, kThrottleMin), row.limits ? row.limits : 5u);
        EXPECT_EQ(SystemIndex(index, row.ac, kProcessor, kThrottleMax), row.limits ? row.limits : 50u);
        EXPECT_EQ(SystemIndex(index, !row.ac, kProcessor, kThrottleMax), 50u);
    }

    // The limits read from the system fill a missing scheme-file key, DC high, AC low.
    WritePrivateProfileStringW(Section(index).c_str(), L"CpuSpeedMax", nullptr, SchemeFile().c_str());
    ASSERT_EQ(m_scheme.SetPwrVariable(index, 0, L"CpuSpeedMax", 75), 75);
    WritePrivateProfileStringW(Section(index).c_str(), L"CpuSpeedMax", nullptr, SchemeFile().c_str());
    EXPECT_EQ(m_scheme.GetPwrVariable(index, 1, L"CpuSpeedMax"), 50);
    EXPECT_EQ(FileValue(Section(index), L"CpuSpeedMax"), std::to_wstring((75 << 16) | 50));

    // Eight levels: level 3 is 42 percent, which reads back as (42 + 1) x 7 / 100 = 3.
    EXPECT_EQ(m_scheme.SetPwrVariable(index, 0, L"BacklightLevel", 3), 42);
    EXPECT_EQ(SystemIndex(index, 0, kVideo, kBrightness), 42u);
    EXPECT_EQ(m_scheme.GetPwrVariable(index, 0, L"BacklightLevel"), 3);
    {
        test::CfgOverride cfg(L"ZORACfg.ini");
        cfg.Set(L"ZORACfg", L"MaxBrightLevel", L"1");  // one level: no percent to convert to
        std::wstring before = FileValue(Section(index), L"BacklightLevel");
        EXPECT_EQ(m_scheme.SetPwrVariable(index, 1, L"BacklightLevel", 1), -1);
        EXPECT_EQ(FileValue(Section(index), L"BacklightLevel"), before);
    }
}

// What the model keeps of the installed files holds only while they stay as they were: the
// scheme file ZORACfg.ini names is the one the next operation opens, and once the name
// goes back the other file is not made again.
TEST_F(SchemeCase, ANameChangedInTheInstalledFilesIsReadAgain) {
    const int active = m_scheme.GetActivePwrScheme();
    m_scheme.GetPwrVariable(active, 1, L"Wifi");
    const std::wstring other = SchemeFolder() + L"\\Other.ini";
    DeleteFileW(other.c_str());
    {
        test::CfgOverride cfg(L"ZORACfg.ini");
        cfg.Set(L"ZORACfg", L"PowerScheme", L"Other.ini");
        m_scheme.GetPwrVariable(active, 1, L"Wifi");
        EXPECT_NE(GetFileAttributesW(other.c_str()), INVALID_FILE_ATTRIBUTES) << "the old name was kept";
    }
    ASSERT_TRUE(DeleteFileW(other.c_str()));
    m_scheme.GetPwrVariable(active, 1, L"Wifi");
    EXPECT_EQ(GetFileAttributesW(other.c_str()), INVALID_FILE_ATTRIBUTES) << "the changed name was kept";
}

TEST_F(SchemeCase, SchemeFileValuesArePackedAndNamesFoundInAnyCase) {
    int index = Add(L"Packed");
    // A scheme that never had it: -1, and "-1" is stored; one half written over it.
    WritePrivateProfileStringW(Section(index).c_str(), L"BTStatus", nullptr, SchemeFile().c_str());
    EXPECT_EQ(m_scheme.GetPwrVariable(index, 1, L"BTStatus"), -1);
    EXPECT_EQ(FileValue(Section(index), L"BTStatus"), L"-1");
    EXPECT_EQ(m_scheme.SetPwrVariable(index, 0, L"BTStatus", 1), 1);
    EXPECT_EQ(FileValue(Section(index), L"BTStatus"), L"131071");
    EXPECT_EQ(m_scheme.GetPwrVariable(index, 1, L"BTStatus"), 65535);

    // VXPS is one value for both sources.
    int vxps = m_scheme.GetPwrVariableOptValue(L"VXPS", 1);
    EXPECT_EQ(m_scheme.SetPwrVariable(index, 0, L"VXPS", vxps), vxps);
    EXPECT_EQ(FileValue(Section(index), L"VXPS"), std::to_wstring(vxps));
    EXPECT_EQ(m_scheme.GetPwrVariable(index, 1, L"vxps"), vxps);

    EXPECT_EQ(m_scheme.SetPwrVariable(index, 1, L"wifi", 1), 1);
    EXPECT_EQ(m_scheme.GetPwrVariable(index, 1, L"WIFI"), 1);
    EXPECT_EQ(m_scheme.SetPwrVariable(index, 1, L"NoSuchVariable", 1), -1);
    EXPECT_EQ(m_scheme.SetPwrVariable(index, 1, L"Wifi", 7), -1);  // not among its options
    EXPECT_EQ(m_scheme.SetPwrVariable(index, 1, L"LanSpeedVista", 0), 0);
    EXPECT_EQ(m_scheme.GetPwrVariable(index, 1, L"LanSpeedVista"), 0);
    EXPECT_EQ(m_scheme.GetPwrVariable(index, 1, Vista() ? L"LanSpeed" : L"CpuSpeedMin"), -1);
    EXPECT_EQ(m_scheme.GetPwrVariable(index, 1, L"Wifi", nullptr, 0), 0);
    EXPECT_EQ(m_scheme.SetPwrVariable(index, 1, L"Wifi", L"1"), 0);

    if (Vista()) {
        // Any whole number of minutes for the exact time-out name; the catalogue otherwise.
        EXPECT_EQ(m_scheme.SetPwrVariable(index, 1, L"MonitorOffTimeOut", 660), 1);
        EXPECT_EQ(m_scheme.SetPwrVariable(index, 1, L"monitorofftimeout", 660), -1);
        // The processor's settings start at the system's defaults.
        for (auto [name, value, stored] : {std::tuple{L"CpuAdaptive", 3, 196611}, {L"CpuSpeed", 100, 6553700}}) {
            WritePrivateProfileStringW(Section(index).c_str(), name, nullptr, SchemeFile().c_str());
            EXPECT_EQ(m_scheme.GetPwrVariable(index, 0, name), value);
            EXPECT_EQ(FileValue(Section(index), name), std::to_wstring(stored));
        }
    }
}

TEST_F(SchemeCase, HibernationNeedsAMachineThatCanHibernate) {
    int index = Add(L"Sleepy");
    test::SetMachineValue(L"PowerProfile", L"HibernateAllowed", L"0");
    // XP refuses a hibernation time; Vista's time-out rule decides alone.
    EXPECT_EQ(m_scheme.SetPwrVariable(index, 1, L"HibernateTimeOut", 3600), Vista() ? 1 : -1);
    EXPECT_EQ(m_scheme.SetPwrVariable(index, 1, L"HibernateTimeOut", 0), 1);
}

TEST_F(SchemeCase, NamesAndGuidsStayInTheCallersBuffers) {
    int index = Add(L"A rather long name");
    wchar_t name[8];
    wmemset(name, L'#', 8);
    unsigned long capacity = 5;
    EXPECT_TRUE(m_scheme.GetPwrSchemeNameDesc(index, name, &capacity, nullptr, nullptr));
    EXPECT_STREQ(name, L"A ra");
    EXPECT_EQ(name[5], L'#');
    EXPECT_EQ(m_scheme.GetPwrSchemeNameDesc(9999, name, &capacity, nullptr, nullptr), 0);

    GUID guid = kBalanced;
    wchar_t text[64];
    unsigned long size = 39;
    EXPECT_EQ(m_scheme.GuidIntoString(&guid, text, &size), 0);
    EXPECT_EQ(size, 40u);
    EXPECT_EQ(m_scheme.GuidIntoString(&guid, text, &size), 1);
    EXPECT_STREQ(text, L" {381B4222-F694-41f0-9685-FF5BB260DF2E}");
}

// A stored text that is no number is not set, as for the service and the tools: it
// reads -1 (and is then marked -1). A number beyond 32 bits is no number either.
TEST_F(SchemeCase, StoredTextsThatAreNoNumbersAreNotSet) {
    int active = m_scheme.GetActivePwrScheme();
    const struct {
        const wchar_t* stored;
        int ac, dc;
    } rows[] = {{L"zz", -1, -1}, {L"1e9", -1, -1}, {L"0x10", -1, -1}, {L"4294967297", -1, -1}, {L" 131073 ", 1, 2}};
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i) {
        WritePrivateProfileStringW(Section(active).c_str(), L"Wifi", rows[i].stored, SchemeFile().c_str());
        EXPECT_EQ(m_scheme.GetPwrVariable(active, 0, L"Wifi"), rows[i].dc) << "case " << i;
        EXPECT_EQ(m_scheme.GetPwrVariable(active, 1, L"Wifi"), rows[i].ac) << "case " << i;
    }
}

// A GUID that does not parse is a missing entry, not the end of the map: the schemes
// after it are still found, so listing the schemes and asking for the active one
// twenty times over registers nothing and leaves the file as it was.
TEST_F(SchemeCase, VistaPassesOverAMalformedGuid) {
    if (!Vista()) GTEST_SKIP() << "Vista's index map";
    int last = m_scheme.GetPwrSchemeMaxIndex();
    ASSERT_GT(last, 0);
    m_scheme.SetActivePwrScheme(last);  // no service here: the system switches all the same
    ASSERT_EQ(m_scheme.GetActivePwrScheme(), last);
    size_t listed = List().size();
    WritePrivateProfileStringW(Section(0).c_str(), L"GUID", L" {not-a-guid}", SchemeFile().c_str());
    std::string before = test::ReadTextFile(SchemeFile());
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(List().size(), listed - 1) << "listing " << i;
        EXPECT_EQ(m_scheme.GetActivePwrScheme(), last) << "listing " << i;
    }
    EXPECT_EQ(test::ReadTextFile(SchemeFile()), before);
}

// A file that cannot be a scheme file is neither used nor written over: the operation
// that meets it fails at once with ERROR_FILE_CORRUPT, the file is kept beside itself
// as "<name>.corrupt-<time>" with every byte it had, and the next operation starts a new
// one. On Vista the operation is the listing; XP lists from the system and meets the
// file when it reads a variable.
// The scheme file's copies kept aside as corrupt ("<name>.corrupt-<time>").
std::vector<std::wstring> KeptCopies() {
    std::vector<std::wstring> copies;
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileW((SchemeFile() + L".corrupt-*").c_str(), &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found))
        copies.push_back(SchemeFolder() + L"\\" + found.cFileName);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    return copies;
}

TEST_F(SchemeCase, ACorruptSchemeFileIsKeptAsideAndTheCallerTold) {
    for (const std::wstring& left : KeptCopies()) DeleteFileW(left.c_str());  // by an earlier run
    const struct {
        const char* what;
        std::string content;
    } rows[] = {
        {"empty", ""},
        {"binary", "\x89PNG\r\n\x1a\n\x01\x02\x03"},
        {"text", "this is no settings file\r\nnor this\r\n"},
        {"index map beyond bounds", "[Schemes]\r\nSchemeMaxIndex=2000000000\r\n[Scheme 0]\r\nWifi=65537\r\n"},
        {"too long", "[Scheme 0]\r\n" + std::string(4 * 1024 * 1024, ';')},
    };
    int active = m_scheme.GetActivePwrScheme();
    for (const auto& row : rows) {
        ASSERT_TRUE(test::WriteTextFile(SchemeFile(), row.content.c_str())) << row.what;
        SetLastError(0xdeadbeef);
        std::vector<Listed> list;
        if (Vista()) {
            EXPECT_EQ(m_scheme.EnumPwrSchemes(Collect, reinterpret_cast<LONG_PTR>(&list)), 0) << row.what;
        } else {
            EXPECT_EQ(m_scheme.GetPwrVariable(active, 1, L"Wifi"), -1) << row.what;
        }
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_CORRUPT)) << row.what;
        std::vector<std::wstring> copies = KeptCopies();
        ASSERT_EQ(copies.size(), 1u) << row.what;
        EXPECT_TRUE(test::ReadTextFile(copies[0]) == row.content) << row.what << ": kept whole";
        EXPECT_TRUE(DeleteFileW(copies[0].c_str())) << row.what;
        EXPECT_EQ(m_scheme.InitCfgFile(), 1) << row.what;
        EXPECT_EQ(m_scheme.SetPwrVariable(active, 1, L"Wifi", 1), 1) << row.what << ": a new file";
    }
}

}  // namespace

namespace {

// The installed catalogue: every variable described, every option with its text, the
// defaults among the options, the editors' list made of known variables.
TEST(SchemeCatalogueTest, TheCatalogueDescribesEveryVariable) {
    CZORACfg cfg;
    ASSERT_TRUE(cfg.Initialize(L"ZORACfg.ini"));
    wchar_t name[MAX_PATH];
    ASSERT_GT(cfg.GetString(L"ZORACfg", L"PowerSetting", L"", name, MAX_PATH), 0);
    CZORACfg catalogue;
    ASSERT_TRUE(catalogue.Initialize(name));
    SchemeUnderTest scheme;
    for (int number = 0; number < zora_vars::kCount; ++number) {
        const wchar_t* variable = zora_vars::kNames[number];
        SCOPED_TRACE(test::Narrow(variable));
        wchar_t text[MAX_PATH];
        if (number < zora_vars::USBPort0 || number > zora_vars::USBPort11) {  // ports are named by their device
            EXPECT_EQ(scheme.GetPwrVariableName(variable, text, MAX_PATH), 0);
        }
        int options = scheme.GetPwrVariableOptCount(variable);
        ASSERT_GE(options, 1);
        std::vector<int> values;
        for (int i = 0; i < options; ++i) {
            values.push_back(scheme.GetPwrVariableOptValue(variable, i));
            EXPECT_GT(scheme.GetPwrVariableOptDesc(variable, i, text, MAX_PATH), 0) << i;
        }
        EXPECT_EQ(std::set<int>(values.begin(), values.end()).size(), values.size()) << "an option twice";
        for (const wchar_t* key : {L"DefaultAC", L"DefaultDC"}) {
            int option = catalogue.GetInt(variable, key, -1);
            EXPECT_TRUE(option >= 0 && option < options) << test::Narrow(key);
        }
        bool vistaSetting = number <= zora_vars::CpuAdaptive || number == zora_vars::BacklightLevel;
        for (const wchar_t* key : {L"SubGroupGuid", L"Guid"}) {
            GUID guid;
            bool has = catalogue.GetString(variable, key, L"", text, MAX_PATH) > 0;
            EXPECT_EQ(has, vistaSetting) << test::Narrow(key);
            if (has) {
                EXPECT_TRUE(scheme.GuidFromString(text, &guid)) << test::Narrow(text);
            }
        }
    }
    int items = catalogue.GetInt(L"ItemList", L"ItemNum", 0);
    EXPECT_GT(items, 0);
    for (int i = 0; i < items; ++i) {
        wchar_t key[16], item[MAX_PATH];
        swprintf(key, 16, L"Item%d", i);
        catalogue.GetString(L"ItemList", key, L"", item, MAX_PATH);
        EXPECT_NE(std::find_if(std::begin(zora_vars::kNames), std::end(zora_vars::kNames),
                               [&](const wchar_t* n) { return wcscmp(n, item) == 0; }),
                  std::end(zora_vars::kNames))
            << test::Narrow(item);
    }
}

}  // namespace

namespace {

// Devices switched at once by variable name: the radios through the embedded controller
// (1 = on), hub functions and USB ports through their disable bits (1 = off).
class DeviceStatusCase : public test::MachineCase {};

uint32_t Memory32(uint32_t address) {
    DWORD value = 0;
    return VnbPeekHw(test::FreshMachine::MachinePath().c_str(), 0, address, &value, 4) ? value : 0xDEADBEEF;
}

TEST_F(DeviceStatusCase, NamesReachTheirHardware) {
    constexpr uint32_t kFunctionDisable = 0xFED1C000 + 0x3418, kUsbPortDisable = 0xFED1C000 + 0x359C;
    struct Row {
        const wchar_t* name;
        int value;
        int result;    // of the write
        int status;    // read back; 77: left untouched
        int radio;  // the machine's radio switch afterwards; -1: not a radio
        uint32_t address, bit;  // a disable bit afterwards (address 0: none)
    } rows[] = {
        {L"wifi", 0, 0, 0, 0, 0, 0},
        {L"Wifi", 1, 1, 1, 1, 0, 0},
        {L"PCIE1", 1, 0, 1, -1, kFunctionDisable, 1u << 16},
        {L"pcie1", 0, 0, 0, -1, kFunctionDisable, 0},
        {L"USBPort 3", 1, 0, 1, -1, kUsbPortDisable, 1u << 3},
        {L"CpuSpeed", 50, 0, 77, -1, 0, 0},
        {L"No Such Device", 1, -1, 77, -1, 0, 0},
    };
    CSchemeEx scheme;
    for (const Row& row : rows) {
        SCOPED_TRACE(test::Narrow(row.name));
        EXPECT_EQ(scheme.SetDeviceStatus(row.name, row.value), row.result);
        int status = 77;
        EXPECT_EQ(scheme.GetDeviceStatus(row.name, &status), row.result == -1 ? -1 : row.radio >= 0 ? row.value : 0);
        EXPECT_EQ(status, row.status);
        if (row.radio >= 0) {
            EXPECT_EQ(test::Number(test::MachineValue(L"EmbeddedController", L"Radio")), static_cast<unsigned>(row.radio));
        }
        if (row.address) {
            EXPECT_EQ(Memory32(row.address) & (row.bit ? row.bit : 1u << 16), row.bit);
        }
    }
}

}  // namespace

namespace {

// The batteries through the scheme model: the items ZORACfg.ini's [BatteryInforList]
// names, read from the system's battery record and the controller's extended record.
class BatteryQueryCase : public test::MachineCase {
protected:
    CSchemeEx m_scheme;
};

TEST_F(BatteryQueryCase, ItemsComeFromTheirRecordsByTheConfiguredRange) {
    struct Row {
        const wchar_t* item;
        int battery;
        const wchar_t *key, *value;  // a ZORACfg.ini change for the row, or null
        int result;
        unsigned long read;  // 0x5EED: left as it was
    } rows[] = {
        {L"Designed Capacity", 0, nullptr, nullptr, 0, 53280},      // the system's record, bytes 12-15
        {L"Full Charged Capacity", 0, nullptr, nullptr, 0, 51150},  // 16-19
        {L"Design Capacity mAh", 0, nullptr, nullptr, 0, 4800},     // the controller's, bytes 4-7
        {L"Design Voltage", 0, nullptr, nullptr, 0, 11100},         // its last four bytes
        {L"Design Voltage", 0, L"BEAStart3", L"14", -1, 0x5EED},    // past the 16-byte record
        {L"Designed Capacity", 0, L"BASize5", L"5", -1, 0x5EED},    // wider than the result
        {L"Designed Capacity", 0, L"BAName6", L"Designed Capacity", 0, 53280},  // the first of two
        {L"Design Voltage", 0, L"BAName4", L"Design Voltage", 0, 11100},  // the extended list first
        {L"Designed Capacity", 5, nullptr, nullptr, -1, 0x5EED},
        {L"Designed Capacity", -1, nullptr, nullptr, -1, 0x5EED},
        {L"No Such Item", 0, nullptr, nullptr, 0, 0x5EED},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(test::Narrow(row.item) + " " + std::to_string(row.battery));
        test::CfgOverride cfg(L"ZORACfg.ini");
        if (row.key) cfg.Set(L"BatteryInforList", row.key, row.value);
        unsigned long value = 0x5EED;
        EXPECT_EQ(m_scheme.GetBatteryInformation(row.battery, row.item, &value), row.result);
        EXPECT_EQ(value, row.read);
    }
}

TEST_F(BatteryQueryCase, CountTimeAndChargeFollowTheMachine) {
    const std::wstring machine = test::FreshMachine::MachinePath();
    EXPECT_EQ(m_scheme.GetBatteryCount(), 1u);
    EXPECT_EQ(m_scheme.GetCompleteTime(0), 0xFFFFFFFFu);  // on mains and full: neither
    EXPECT_FLOAT_EQ(m_scheme.GetRemainBatPer(0), 1.0f);

    test::SetAcLine(0);
    ASSERT_TRUE(VnbSetBatteryCharge(machine.c_str(), 0, 50));
    BATTERY_STATUS status = {};
    ASSERT_EQ(m_scheme.GetBatteryStatus(0, status), 0);
    EXPECT_EQ(status.PowerState & (BATTERY_DISCHARGING | BATTERY_POWER_ON_LINE), BATTERY_DISCHARGING);
    unsigned long left = m_scheme.GetCompleteTime(0);
    EXPECT_GT(left, 0u);
    EXPECT_LT(left, 0xFFFFFFFFu);
    EXPECT_NEAR(m_scheme.GetRemainBatPer(0), 0.5f, 0.01f);
    EXPECT_EQ(m_scheme.GetCompleteTime(1), 0u);
    EXPECT_EQ(m_scheme.GetRemainBatPer(1), 0.0f);

    ASSERT_TRUE(VnbSetBatteryPresent(machine.c_str(), 0, FALSE));
    EXPECT_EQ(m_scheme.GetBatteryStatus(0, status), -1);
    EXPECT_EQ(m_scheme.GetRemainBatPer(0), 0.0f);
}

// One reading answers what the time and the charge queries answer one by one, with the
// record they read: charging, discharging, full on mains, and with no battery in.
TEST_F(BatteryQueryCase, OneReadingAnswersAsTheSingleQueries) {
    const std::wstring machine = test::FreshMachine::MachinePath();
    // 10 mW: one mWh in six minutes, so the charge holds still for the case.
    ASSERT_TRUE(VnbSetBatteryRates(machine.c_str(), 0, 10, 10));
    const struct {
        BYTE ac;
        DWORD charge;
        BOOL present;
        BOOLEAN charging, discharging;
    } rows[] = {
        {1, 100, TRUE, 0, 0},  // full on mains: neither
        {1, 50, TRUE, 1, 0},   {0, 40, TRUE, 0, 1}, {0, 40, FALSE, 0, 0}, {1, 40, FALSE, 0, 0},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        test::SetAcLine(rows[i].ac);
        ASSERT_TRUE(VnbSetBatteryPresent(machine.c_str(), 0, TRUE));
        ASSERT_TRUE(VnbSetBatteryCharge(machine.c_str(), 0, rows[i].charge));
        ASSERT_TRUE(VnbSetBatteryPresent(machine.c_str(), 0, rows[i].present));
        SYSTEM_BATTERY_STATE state;
        memset(&state, 0x5E, sizeof(state));
        unsigned long seconds = 0x5EED;
        float fraction = -1.0f;
        ASSERT_EQ(m_scheme.GetBatteryReading(state, seconds, fraction), 0);
        EXPECT_EQ(state.AcOnLine, rows[i].ac);
        EXPECT_EQ(state.BatteryPresent, rows[i].present);
        EXPECT_EQ(state.Charging, rows[i].charging);
        EXPECT_EQ(state.Discharging, rows[i].discharging);
        EXPECT_EQ(seconds, m_scheme.GetCompleteTime(0));
        EXPECT_EQ(fraction, m_scheme.GetRemainBatPer(0));
        EXPECT_NEAR(fraction, rows[i].present ? rows[i].charge / 100.0f : 0.0f, 0.01f);
        if (rows[i].discharging) {
            EXPECT_EQ(seconds, state.EstimatedTime);
        }
    }
}

}  // namespace
