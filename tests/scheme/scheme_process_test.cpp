// The scheme model across processes: the activation's request to the service, zoractl's
// scheme commands, and the same schemes seen by both architectures. Run as XP and as
// Vista like the rest of the area; zoractl runs as the same version.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "MachineSupport.h"
#include "PeerProtocol.h"
#include "SchemeEx.h"
#include "TestSupport.h"
#include "ZORACfg.h"
#include "ZoraPowerVariables.h"
#include "gtest/gtest.h"

namespace {

class SchemeProcessCase : public test::MachineCase {
protected:
    void SetUp() override {
        test::MachineCase::SetUp();
        wchar_t folder[MAX_PATH] = {};
        CZORAProfile().GetHomePath(folder, MAX_PATH);
        m_folder = folder;
        DeleteFileW((m_folder + L"\\ZORAScheme.ini").c_str());
        m_scheme.Initialize();
        ASSERT_EQ(m_scheme.InitCfgFile(), 1);
    }

    int Zoractl(const wchar_t* arch, const std::wstring& arguments, std::string* output = nullptr) {
        return test::Run(test::ProgramPath(arch, L"zoractl.exe"), L"scheme " + arguments, output);
    }
    int Zoractl(const std::wstring& arguments, std::string* output = nullptr) {
        return Zoractl(test::OwnArch(), arguments, output);
    }

    std::wstring m_folder;
    CSchemeEx m_scheme;
    test::WindowsVersionOf m_zoractl{L"zoractl.exe", test::RunsAsVista() ? L"vista" : L"winxp"};
};

TEST_F(SchemeProcessCase, ActivationAsksTheServiceToApplyTheUsersScheme) {
    test::Answerer answerer;
    ASSERT_TRUE(answerer.Start(test::OwnArch(), true));
    int previous = m_scheme.GetActivePwrScheme();
    int index = m_scheme.AddPwrScheme(L"Served", nullptr, previous);
    ASSERT_GE(index, 0);
    EXPECT_EQ(m_scheme.SetActivePwrScheme(index), previous);
    answerer.Stop();
    EXPECT_NE(answerer.Requests().find("request code=3 param=" + std::to_string(index) +
                                       " data=" + test::Narrow(m_folder)),
              std::string::npos)
        << answerer.Requests();
}

TEST_F(SchemeProcessCase, ExportThenImportGivesEqualValues) {
    test::TempDir dir;
    int base = m_scheme.GetActivePwrScheme();
    int index = m_scheme.AddPwrScheme(L"Travel", L"away from the desk", base);
    ASSERT_GE(index, 0);
    ASSERT_EQ(m_scheme.SetPwrVariable(index, 0, L"Wifi", 0), 0);
    ASSERT_EQ(m_scheme.SetPwrVariable(index, 0, L"USBPort 5", 0), 0);
    ASSERT_EQ(m_scheme.SetPwrVariable(index, 1, L"MonitorOffTimeOut", 600), 1);

    std::wstring file = dir.Path() + L"\\travel.txt";
    std::string output;
    ASSERT_EQ(Zoractl(L"export " + std::to_wstring(index) + L" \"" + file + L"\"", &output), 0) << output;
    ASSERT_EQ(Zoractl(L"import \"" + file + L"\" --name \"Travel again\"", &output), 0) << output;
    int copy = m_scheme.FindPwrScheme(L"Travel again");
    ASSERT_GE(copy, 0) << output;
    for (const wchar_t* variable : zora_vars::kNames)
        for (int ac : {1, 0})
            EXPECT_EQ(m_scheme.GetPwrVariable(copy, ac, variable), m_scheme.GetPwrVariable(index, ac, variable))
                << test::Narrow(variable) << (ac ? " AC" : " DC");
}

TEST_F(SchemeProcessCase, ABadImportNamesItsLineAndCreatesNothing) {
    test::TempDir dir;
    struct Row {
        const char* text;
        const char* said;
    } rows[] = {
        {"Name=Bad\nWifi=1 1\nNoSuchThing=1 1\n", ":3: there is no variable"},
        {"Name=Bad\n; a comment\nWifi=1 7\n", ":3: the value 7 is not one of Wifi's options"},
        {"Name=Bad\nVXPS=1 1\n", ":2: VXPS holds one value"},
        {"Name=Bad\nBTStatus=on off\n", ":2: \"on\" is not a number"},
        {"Wifi=1 1\n", "names no scheme"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        std::wstring file = dir.Path() + L"\\bad.txt";
        ASSERT_TRUE(test::WriteTextFile(file, row.text));
        std::string output;
        EXPECT_EQ(Zoractl(L"import \"" + file + L"\"", &output), 1);
        EXPECT_NE(output.find(row.said), std::string::npos) << output;
        EXPECT_EQ(m_scheme.FindPwrScheme(L"Bad"), -1);
    }
}

TEST_F(SchemeProcessCase, WrongArgumentsGetTheUsageAndRefusalsAreSaid) {
    std::string output;
    for (const wchar_t* wrong : {L"", L"show", L"show x", L"get 0 Wifi both", L"set 0 Wifi ac", L"frobnicate 1"})
        EXPECT_EQ(Zoractl(wrong, &output), 2) << test::Narrow(wrong);
    EXPECT_NE(output.find("usage: zoractl scheme"), std::string::npos);

    int active = m_scheme.GetActivePwrScheme();
    wchar_t name[64] = {};
    unsigned long capacity = 64;
    ASSERT_TRUE(m_scheme.GetPwrSchemeNameDesc(active, name, &capacity, nullptr, nullptr));
    EXPECT_EQ(Zoractl(L"create \"" + std::wstring(name) + L"\"", &output), 1);
    EXPECT_NE(output.find("a scheme with that name exists"), std::string::npos) << output;

    if (!test::RunsAsVista()) {
        test::SetMachineValue(L"PowerProfile", L"HibernateAllowed", L"0");
        EXPECT_EQ(Zoractl(L"set " + std::to_wstring(active) + L" HibernateTimeOut ac 3600", &output), 1);
        EXPECT_NE(output.find("not allowed: hibernation is off on this machine"), std::string::npos) << output;
    }
    ASSERT_EQ(Zoractl(L"list", &output), 0);
    output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());
    char line[128];
    snprintf(line, sizeof(line), "* %3d  %s\n", active, test::Narrow(name).c_str());
    EXPECT_NE(output.find(line), std::string::npos) << output;
}

TEST_F(SchemeProcessCase, WithoutThePolicyFunctionsTheMapStays) {
    if (!test::RunsAsVista()) GTEST_SKIP() << "Vista's index map";
    // Wine's own PowrProf.dll lacks the name function: a program on the real system
    // cannot tell whether a scheme still exists, and must not forget it.
    std::wstring file = m_folder + L"\\ZORAScheme.ini";
    wchar_t text[64];
    GetPrivateProfileStringW(L"Scheme 0", L"GUID", L"", text, 64, file.c_str());
    ASSERT_NE(text[0], L'\0');
    ASSERT_EQ(m_scheme.SetPwrVariable(0, 1, L"Wifi", 1), 1);
    test::FreshMachine::SwitchOff();
    std::string output;
    EXPECT_EQ(Zoractl(L"get 0 Wifi ac", &output), 1) << output;
    wchar_t after[64];
    GetPrivateProfileStringW(L"Scheme 0", L"GUID", L"", after, 64, file.c_str());
    EXPECT_STREQ(after, text);
    EXPECT_EQ(GetPrivateProfileIntW(L"Scheme 0", L"Wifi", -1, file.c_str()), 1);
}

// zoractl says where a scheme file it could not use went, and fails; the next command
// starts a new one.
TEST_F(SchemeProcessCase, ZoractlSaysWhereACorruptSchemeFileWent) {
    std::wstring file = m_folder + L"\\ZORAScheme.ini";
    auto copies = [&] {
        std::vector<std::wstring> found;
        WIN32_FIND_DATAW data{};
        HANDLE find = FindFirstFileW((file + L".corrupt-*").c_str(), &data);
        for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data))
            found.push_back(m_folder + L"\\" + data.cFileName);
        if (find != INVALID_HANDLE_VALUE) FindClose(find);
        return found;
    };
    for (const std::wstring& left : copies()) DeleteFileW(left.c_str());  // by an earlier run
    int active = m_scheme.GetActivePwrScheme();
    ASSERT_TRUE(test::WriteTextFile(file, "no settings file\r\n"));
    std::string output;
    EXPECT_EQ(Zoractl(L"show " + std::to_wstring(active), &output), 1) << output;
    EXPECT_NE(output.find("could not be used"), std::string::npos) << output;
    EXPECT_NE(output.find("ZORAScheme.ini.corrupt-"), std::string::npos) << output;
    EXPECT_EQ(Zoractl(L"list", &output), 0) << output;
    std::vector<std::wstring> kept = copies();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(test::ReadTextFile(kept[0]), "no settings file\r\n");
    DeleteFileW(kept[0].c_str());
}

// Both builds of the library list the same schemes of the same user.
class SchemeArchCase : public test::ArchCase {};

TEST_P(SchemeArchCase, BothArchitecturesSeeTheSameSchemes) {
    test::FreshMachine machine;
    ASSERT_TRUE(machine.Ok());
    test::WindowsVersionOf zoractl(L"zoractl.exe", test::RunsAsVista() ? L"vista" : L"winxp");
    std::string own, other;
    ASSERT_EQ(test::Run(test::ProgramPath(test::OwnArch(), L"zoractl.exe"), L"scheme create Shared", &own), 0) << own;
    ASSERT_EQ(test::Run(test::ProgramPath(GetParam(), L"zoractl.exe"), L"scheme list", &other), 0) << other;
    ASSERT_EQ(test::Run(test::ProgramPath(test::OwnArch(), L"zoractl.exe"), L"scheme list", &own), 0) << own;
    EXPECT_EQ(other, own);
    EXPECT_NE(own.find("Shared"), std::string::npos);
}
ZORA_FOR_BOTH_ARCHS(Zoractl, SchemeArchCase);

}  // namespace
