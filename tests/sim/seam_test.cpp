// The system-API table's defaults on the real machine: entries found by name in a
// system DLL are that DLL's exports or, where it lacks one, fail as a missing system
// function does; the provider module the installation names decides whether the
// virtual notebook takes its entries. Each case is the first ZoraSys() of its process.
#include <gtest/gtest.h>
#include <windows.h>

#include "MachineSupport.h"
#include "TestSupport.h"
#include "ZoraInstallKey.h"
#include "ZoraSystemApi.h"

namespace {

constexpr DWORD kBogus = 0xdeadbeef;

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
