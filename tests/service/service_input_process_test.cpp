// What any local program can hand the service, and what the service makes of it: the
// folder of a request to apply a scheme, the values of a scheme file, and zoractl's word
// on a failed request. The service is installed, started and driven as its callers do.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <functional>
#include <optional>
#include <string>

#include "DebuggeeOutput.h"
#include "EcAgent.h"
#include "IpbProtocol.h"
#include "LanAgent.h"
#include "MachineSupport.h"
#include "SchemeEx.h"
#include "ServiceSupport.h"
#include "ZORACfg.h"
#include "ZoraPowerVariables.h"

namespace {

using test::Eventually;

int Packed(int ac, int dc) { return zora_vars::Pack(zora_vars::Pack(0, 1, ac), 0, dc); }

long Call(unsigned code, const std::wstring& data) {
    CZORACfg client;
    IpbDataHeader scratch{};
    return client.ServiceCall(code, data.c_str(), 0, &scratch, 15000);
}

int LiveDevice(const wchar_t* name) {
    CSchemeEx schemes;
    int status = -1;
    return schemes.GetDeviceStatus(name, &status) < 0 ? -1 : status;
}

// The started service on a fresh machine, the user's scheme file fresh with its active
// scheme current, and the service's log followed.
class ServiceInput : public ::testing::Test {
protected:
    void SetUp() override {
        if (test::ServiceProgram().empty()) GTEST_SKIP() << "the 64-bit build with ZORASrvc.exe is missing";
        if (sizeof(void*) != 8) GTEST_SKIP() << "the service's log is seen only by a 64-bit debugger";
        m_machine.emplace();
        ASSERT_TRUE(m_machine->Ok());
        ASSERT_EQ(S_OK, test::RegisterServer(test::kWmiServer));
        ASSERT_TRUE(test::FreshSchemeFile(m_schemes, &m_file, &m_folder));
        m_scheme = m_schemes.GetActivePwrScheme();
        ASSERT_GE(m_scheme, 0);
        m_section = L"Scheme " + std::to_wstring(m_scheme);
        Put(L"ZORACfg", L"CurrentScheme", std::to_wstring(m_scheme));
        m_service.emplace();
        ASSERT_TRUE(m_service->Start());
        ASSERT_TRUE(m_log.Attach(m_service->ProcessId())) << m_log.AttachError();
    }
    void TearDown() override {
        m_service.reset();
        if (!m_file.empty()) DeleteFileW(m_file.c_str());
        test::FreshMachine::SwitchOff();
    }
    void Put(const wchar_t* section, const wchar_t* key, const std::wstring& value) {
        WritePrivateProfileStringW(section, key, value.c_str(), m_file.c_str());
    }
    void PutScheme(const wchar_t* key, const std::wstring& value) { Put(m_section.c_str(), key, value); }

    std::optional<test::FreshMachine> m_machine;
    std::optional<test::RunningService> m_service;
    test::DebuggeeOutput m_log;
    CSchemeEx m_schemes;
    std::wstring m_file, m_folder, m_section;
    int m_scheme = -1;
};

// Only the console user's own scheme folder is applied. A share (opened with the
// machine's credentials), a device path, a relative path and another user's folder are
// refused before any file is read: the scheme files there (and the user's own, behind
// the device path) switch nothing. A text that is no path is an invalid argument.
TEST_F(ServiceInput, OnlyTheConsoleUsersOwnFolderIsApplied) {
    const std::wstring korvex = L"C:\\users\\Public\\AppData\\Local\\Korvex";
    const std::wstring other = korvex + L"\\ZORA\\Cfg";
    int made = SHCreateDirectoryExW(nullptr, other.c_str(), nullptr);
    ASSERT_TRUE(made == ERROR_SUCCESS || made == ERROR_ALREADY_EXISTS) << made;
    const std::wstring otherFile = other + L"\\ZORAScheme.ini";
    WritePrivateProfileStringW(L"ZORACfg", L"CurrentScheme", std::to_wstring(m_scheme).c_str(), otherFile.c_str());
    WritePrivateProfileStringW(m_section.c_str(), L"USBPort 5", std::to_wstring(Packed(1, 1)).c_str(),
                               otherFile.c_str());
    PutScheme(L"USBPort 5", std::to_wstring(Packed(1, 1)));
    std::wstring upper = m_folder;
    for (wchar_t& c : upper) c = towupper(c);
    const struct {
        std::wstring folder;
        long result;
    } cases[] = {
        {L"\\\\127.0.0.1\\C$" + m_folder.substr(2), E_ACCESSDENIED},
        {L"\\\\?\\" + m_folder, E_ACCESSDENIED},
        {L"\\\\.\\" + m_folder, E_ACCESSDENIED},
        {L"Korvex\\ZORA\\Cfg", E_ACCESSDENIED},
        {m_folder.substr(2), E_ACCESSDENIED},
        {other, E_ACCESSDENIED},
        {m_folder + L"\\..\\..\\..\\..\\..\\..\\Public\\AppData\\Local\\Korvex\\ZORA\\Cfg", E_ACCESSDENIED},
        {m_folder + L"|", E_INVALIDARG},
        {L"", E_INVALIDARG},
        // Letter case and a trailing backslash aside, the folder itself: applied.
        {upper + L"\\", S_OK},
    };
    size_t refused = 0;
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        EXPECT_EQ(cases[i].result, Call(ApplySchemeRequest, cases[i].folder)) << "case " << i;
        EXPECT_EQ(cases[i].result == S_OK ? 1 : 0, LiveDevice(L"USBPort 5")) << "case " << i;
        // An application logs "nvxps id with" once it has read the scheme file.
        if (cases[i].result == S_OK) {
            EXPECT_TRUE(m_log.WaitFor("nvxps id with", 5000)) << "case " << i;
        } else {
            ++refused;
            EXPECT_TRUE(Eventually([&] { return m_log.Count("ZoraWorker refused the scheme folder") == refused; }))
                << "case " << i << "\n" << m_log.Text();
            EXPECT_EQ(0u, m_log.Count("nvxps id with")) << "case " << i;
        }
    }
    DeleteFileW(otherFile.c_str());
    RemoveDirectoryW(other.c_str());
    RemoveDirectoryW((korvex + L"\\ZORA").c_str());
    RemoveDirectoryW(korvex.c_str());
}

// A value the catalogue does not offer never reaches the hardware: the device keeps its
// state, the log names the variable and the value, and the result says "in part"
// (S_FALSE). The rest of the scheme is applied. A text that is no number is not set.
TEST_F(ServiceInput, ValuesTheCatalogueDoesNotOfferAreNotApplied) {
    test::CfgOverride cfg(L"ZORACfg.ini", test::ServiceProgram());
    cfg.Set(L"ZORASrvc", L"UseBacklightScheme", L"0");
    cfg.Set(L"ZORASrvc", L"CheckCpuTimes", L"0");
    test::SetAcLine(1);
    CEcAgent ec;
    ASSERT_GE(ec.Setup(), 0);
    ASSERT_NE(0xFFFFFFFFul, ec.SetBacklightLevel(5));
    auto backlight = [] {
        CEcAgent agent;
        return agent.Setup() < 0 ? -1 : static_cast<int>(agent.GetBacklightLevel());
    };
    auto lanSpeed = [] {
        CLanAgent lan;
        lan.Initialize();
        return static_cast<int>(lan.GetLanSpeed());
    };
    auto linkLevel = [] {
        CLanAgent lan;
        return lan.Initialize() ? static_cast<int>(lan.GetEblLevel()) : -1;
    };
    const struct {
        const wchar_t* name;
        std::wstring stored;
        const char* logged;  // the refusal in the log; null: applied or not set
        int after;           // -2: as it was before
        std::function<int()> live;
    } rows[] = {
        {L"Wifi", std::to_wstring(Packed(2, 2)), "Wifi=2 ", -2, [] { return LiveDevice(L"Wifi"); }},
        {L"USBPort 4", std::to_wstring(0x0000FFFF), "USBPort 4=65535 ", -2, [] { return LiveDevice(L"USBPort 4"); }},
        {L"PCIE2", L"7", "PCIE2=7 ", -2, [] { return LiveDevice(L"PCIE2"); }},
        {L"BacklightLevel", std::to_wstring(Packed(99, 99)), "BacklightLevel=99 ", -2, backlight},
        {L"LanSpeedVista", std::to_wstring(Packed(9, 9)), "LanSpeedVista=9 ", -2, lanSpeed},
        {L"BTStatus", L"zz", nullptr, -2, [] { return LiveDevice(L"BTStatus"); }},
        {L"HD Audio", std::to_wstring(Packed(1, 1)), nullptr, 1, [] { return LiveDevice(L"HD Audio"); }},
        {L"USBPort 3", std::to_wstring(Packed(1, 1)), nullptr, 1, [] { return LiveDevice(L"USBPort 3"); }},
        {L"LinkStepOption", std::to_wstring(Packed(43, 43)), nullptr, 43, linkLevel},
    };
    int before[ARRAYSIZE(rows)];
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i) {
        before[i] = rows[i].live();
        PutScheme(rows[i].name, rows[i].stored);
    }
    EXPECT_EQ(S_FALSE, Call(ApplySchemeRequest, m_folder));
    // The network adapter is written on a thread of its own: its link level comes last.
    EXPECT_TRUE(Eventually([&] { return linkLevel() == 43; }));
    for (size_t i = 0; i < ARRAYSIZE(rows); ++i) {
        int want = rows[i].after == -2 ? before[i] : rows[i].after;
        EXPECT_EQ(want, rows[i].live()) << test::Narrow(rows[i].name);
        if (rows[i].logged) {
            EXPECT_TRUE(m_log.WaitFor(std::string(rows[i].logged) + "is not a value the catalogue offers", 5000))
                << test::Narrow(rows[i].name) << "\n" << m_log.Text();
        }
    }
    EXPECT_EQ(0u, m_log.Count("BTStatus=")) << "a text that is no number is not set, not refused";
}

// zoractl tells a task that failed (the service answered) from a service that is not
// there. The task fails here for want of a current scheme.
TEST_F(ServiceInput, ZoractlTellsAFailedTaskFromAMissingService) {
    Put(L"ZORACfg", L"CurrentScheme", L"zz");
    const std::wstring zoractl = test::ProgramPath(test::PeerArch(), L"zoractl.exe");
    const struct {
        bool serving;
        std::wstring arguments;
        const char* said;
    } cases[] = {
        {true, L"apply", "not applied: the service could not apply it (result 0x80004005)"},
        {true, L"call 3 \"" + m_folder + L"\" 0 15000", "request 3 answered: result 0x80004005"},
        {false, L"apply", "not applied: the service is not running"},
        {false, L"call 3 \"" + m_folder + L"\"", "request 3 failed: the service is not running"},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        if (!cases[i].serving) m_service.reset();
        std::string output;
        int exitCode = test::Run(zoractl, cases[i].arguments, &output);
        EXPECT_NE(std::string::npos, output.find(cases[i].said))
            << "case " << i << ", exit " << exitCode << ": " << output;
    }
}

}  // namespace
