// The setup program, run silently as an administrator deploys it, in a Wine prefix of
// its own (tests/installer/fresh_prefix.sh names it in ZORA_SETUP): what an installation,
// an upgrade, a removal and a failed installation leave on the machine.
#include <shlobj.h>

#include <string>
#include <vector>

#include "ServiceSupport.h"
#include "TestSupport.h"

namespace {

constexpr wchar_t kInstallKey[] = L"Software\\Korvex\\ZORA";
constexpr wchar_t kMakerKey[] = L"Software\\Korvex";
constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumenkeep";
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kTaloKey[] = L"Software\\Korvex\\TALO";
constexpr DWORD kSetupWaitMs = 180000;

// Exit statuses of the setup program (docs/installer.md).
constexpr int kExitOk = 0;
constexpr int kExitServiceRegister = 7;

// The files of an installation.
const wchar_t* const kSuiteFiles[] = {
    L"bin\\TALO.exe",        L"bin\\TALORes.dll",      L"bin\\TALOResDE.dll",      L"bin\\Lumenkeep.chm",
    L"bin\\Lumenkeep.de.chm", L"bin\\ZORADLL.dll",      L"bin64\\ZORASrvc.exe",     L"bin64\\ZORADLL.dll",
    L"bin64\\GRAVO.exe",     L"cfg\\ZORACfg.ini",      L"cfg\\ZORASetting.ini",    L"cfg\\HubraCfg.ini",
    L"cfg\\USBCfg.ini",      L"cfg\\CPUCfg.ini",       L"cfg\\ZORADefScheme.ini",  L"cfg\\ZORAEffect.ini",
};

std::wstring SetupProgram() {
    wchar_t path[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"ZORA_SETUP", path, MAX_PATH);
    return path;
}

std::wstring InstallFolder() {
    wchar_t folder[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, folder);
    return std::wstring(folder) + L"\\Lumenkeep";
}

// The user's own folder: <local application data>\Korvex\ZORA\Cfg.
std::wstring UserFolder() {
    wchar_t folder[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder);
    return std::wstring(folder) + L"\\Korvex\\ZORA\\Cfg";
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool KeyExists(HKEY root, const wchar_t* key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key, 0, KEY_READ | KEY_WOW64_64KEY, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

// The value as a string (a DWORD in decimal); "(missing)" when there is none.
std::wstring RegValue(HKEY root, const wchar_t* key, const wchar_t* name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &handle) != ERROR_SUCCESS) return L"(missing)";
    union {
        wchar_t text[1024];
        DWORD number;
    } data{};
    DWORD bytes = sizeof(data) - sizeof(wchar_t), type = 0;
    LONG rc = RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &bytes);
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS) return L"(missing)";
    if (type == REG_DWORD) return std::to_wstring(data.number);
    return data.text;
}

std::wstring IniValue(const std::wstring& file, const wchar_t* section, const wchar_t* key) {
    wchar_t text[256] = L"";
    GetPrivateProfileStringW(section, key, L"(missing)", text, 256, file.c_str());
    return text;
}

int RunSetup(const std::wstring& arguments = L"/S") { return test::Run(SetupProgram(), arguments, nullptr, kSetupWaitMs); }

// The uninstaller waits for itself only when told where it runs from; it then stays
// behind itself (it cannot delete its own running program).
int RunUninstaller(const std::wstring& arguments) {
    std::wstring folder = InstallFolder();
    return test::Run(folder + L"\\Uninstall.exe", arguments + L" _?=" + folder, nullptr, kSetupWaitMs);
}

// Whatever of the suite is on the machine, one line each; empty when nothing is.
std::vector<std::string> SuiteTraces() {
    std::vector<std::string> traces;
    if (test::ServiceInstalled()) traces.push_back("service ZORASrvc");
    struct Key {
        HKEY root;
        const wchar_t* key;
        const wchar_t* value;  // null: the key itself
    };
    const Key keys[] = {
        {HKEY_LOCAL_MACHINE, kMakerKey, nullptr},
        {HKEY_LOCAL_MACHINE, kUninstallKey, nullptr},
        {HKEY_LOCAL_MACHINE, kRunKey, L"TALO"},
        {HKEY_CLASSES_ROOT, L"AppID\\{BC3250F3-FCD9-415A-B62A-6274395DEFB6}", nullptr},
        {HKEY_CLASSES_ROOT, L"AppID\\ZORASrvc.EXE", nullptr},
        {HKEY_CLASSES_ROOT, L"TypeLib\\{F0FF7A18-F942-4CA8-B6E4-661BB075A630}", nullptr},
    };
    for (const Key& key : keys) {
        bool present = key.value ? RegValue(key.root, key.key, key.value) != L"(missing)" : KeyExists(key.root, key.key);
        if (present) traces.push_back("registry " + test::Narrow(key.key) + (key.value ? " " + test::Narrow(key.value) : ""));
    }
    std::wstring folder = InstallFolder();
    for (const wchar_t* file : kSuiteFiles)
        if (Exists(folder + L"\\" + file)) traces.push_back("file " + test::Narrow(file));
    for (const wchar_t* sub : {L"bin", L"bin64", L"cfg"})
        if (Exists(folder + L"\\" + sub)) traces.push_back("folder " + test::Narrow(sub));
    return traces;
}

DWORD ServiceProcessId() {
    SC_HANDLE service = test::OpenZoraService(SERVICE_QUERY_STATUS);
    if (!service) return 0;
    SERVICE_STATUS_PROCESS status = test::WaitForState(service, SERVICE_RUNNING, 30000);
    CloseServiceHandle(service);
    return status.dwCurrentState == SERVICE_RUNNING ? status.dwProcessId : 0;
}

class SetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Outside its own prefix a case would install the suite into whatever prefix it runs in.
        ASSERT_FALSE(SetupProgram().empty()) << "ZORA_SETUP is not set: run through tests/installer/fresh_prefix.sh";
    }
};

// Installed, upgraded over itself as over an older version, removed keeping the user's
// files, installed again and removed with them: one prefix through every step.
TEST_F(SetupTest, InstallUpgradeUninstall) {
    const std::wstring folder = InstallFolder(), cfg = folder + L"\\cfg\\ZORACfg.ini";
    const std::wstring schemeFile = UserFolder() + L"\\ZORAScheme.ini";

    // Installed: every file, the service running, the installation key, TALO at logon,
    // the entry in the list of installed programs.
    ASSERT_EQ(kExitOk, RunSetup());
    for (const wchar_t* file : kSuiteFiles) EXPECT_TRUE(Exists(folder + L"\\" + file)) << test::Narrow(file);
    SC_HANDLE service = test::OpenZoraService(SERVICE_QUERY_CONFIG);
    ASSERT_NE(nullptr, service);
    union {
        QUERY_SERVICE_CONFIGW config;
        BYTE bytes[8192];
    } query{};
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigW(service, &query.config, sizeof(query), &needed));
    CloseServiceHandle(service);
    EXPECT_EQ(DWORD{SERVICE_AUTO_START}, query.config.dwStartType);
    EXPECT_EQ(L"\"" + folder + L"\\bin64\\ZORASrvc.exe\"", std::wstring(query.config.lpBinaryPathName));
    const DWORD firstService = ServiceProcessId();
    EXPECT_NE(0u, firstService) << "the service does not run";
    EXPECT_EQ(folder + L"\\", RegValue(HKEY_LOCAL_MACHINE, kInstallKey, L"SDKFolder"));
    EXPECT_EQ(L"\"" + folder + L"\\bin\\TALO.exe\"", RegValue(HKEY_LOCAL_MACHINE, kRunKey, L"TALO"));
    struct Entry {
        const wchar_t* name;
        std::wstring value;
    };
    const Entry entries[] = {
        {L"DisplayName", L"Lumenkeep"},
        {L"DisplayVersion", L"1.0.0"},
        {L"Publisher", L"Korvex"},
        {L"InstallLocation", folder},
        {L"UninstallString", L"\"" + folder + L"\\Uninstall.exe\""},
        {L"QuietUninstallString", L"\"" + folder + L"\\Uninstall.exe\" /S"},
    };
    for (const Entry& entry : entries)
        EXPECT_EQ(entry.value, RegValue(HKEY_LOCAL_MACHINE, kUninstallKey, entry.name)) << test::Narrow(entry.name);
    EXPECT_GT(_wtoi(RegValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize").c_str()), 1000);
    EXPECT_TRUE(Exists(folder + L"\\Uninstall.exe"));

    // An older installation: one without [ZORASrvc] CheckCpuInterval, whose administrator
    // turned diagnostics on, and a user with a scheme file of their own.
    ASSERT_TRUE(WritePrivateProfileStringW(L"ZORACfg", L"Debug", L"1", cfg.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(L"ZORASrvc", L"CheckCpuInterval", nullptr, cfg.c_str()));
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion", REG_SZ, L"0.9.0",
                                             sizeof(L"0.9.0")));
    ASSERT_EQ(0, SHCreateDirectoryExW(nullptr, UserFolder().c_str(), nullptr));
    const char* const scheme = "[ZORACfg]\r\nCurrentScheme=3\r\n[Scheme 3]\r\nName=Mine\r\n";
    ASSERT_TRUE(test::WriteTextFile(schemeFile, scheme));
    const DWORD startFlag = 1;
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_CURRENT_USER, kTaloKey, L"TALOStartFlag", REG_DWORD, &startFlag, sizeof(startFlag)));

    // Upgraded: the setting kept, the new key added, the user's file untouched, the
    // service started again from the new programs.
    ASSERT_EQ(kExitOk, RunSetup());
    EXPECT_EQ(L"1", IniValue(cfg, L"ZORACfg", L"Debug"));
    EXPECT_EQ(L"1000", IniValue(cfg, L"ZORASrvc", L"CheckCpuInterval"));
    EXPECT_EQ(L"ZORAScheme.ini", IniValue(cfg, L"ZORACfg", L"PowerScheme"));
    EXPECT_EQ(scheme, test::ReadTextFile(schemeFile));
    EXPECT_EQ(L"1.0.0", RegValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion"));
    const DWORD upgradedService = ServiceProcessId();
    EXPECT_NE(0u, upgradedService) << "the service does not run after the upgrade";
    EXPECT_NE(firstService, upgradedService) << "the service was not started again";
    for (const wchar_t* file : kSuiteFiles) EXPECT_FALSE(Exists(folder + L"\\" + file + L".lkold")) << test::Narrow(file);

    // Removed: nothing of the suite is left but the uninstaller itself (see RunUninstaller);
    // the user's files stay.
    ASSERT_EQ(kExitOk, RunUninstaller(L"/S"));
    std::vector<std::string> none;
    EXPECT_EQ(none, SuiteTraces());
    EXPECT_EQ(scheme, test::ReadTextFile(schemeFile));
    EXPECT_EQ(L"1", RegValue(HKEY_CURRENT_USER, kTaloKey, L"TALOStartFlag"));
    DeleteFileW((folder + L"\\Uninstall.exe").c_str());
    RemoveDirectoryW(folder.c_str());

    // Installed again and removed with the switch: the user's files go too.
    ASSERT_EQ(kExitOk, RunSetup());
    EXPECT_EQ(L"0", IniValue(cfg, L"ZORACfg", L"Debug")) << "a removed installation's settings came back";
    ASSERT_EQ(kExitOk, RunUninstaller(L"/S /REMOVEUSERFILES"));
    EXPECT_EQ(none, SuiteTraces());
    EXPECT_FALSE(Exists(UserFolder()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTaloKey));
}

// A service the service manager refuses (another one already has its display name):
// the setup program says so in its exit status and leaves nothing behind.
TEST_F(SetupTest, RefusedServiceLeavesNothing) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(nullptr, manager);
    SC_HANDLE other = CreateServiceW(manager, L"ZoraNamesake", L"ZORASrvc", SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                     L"C:\\windows\\system32\\cmd.exe", nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, other) << GetLastError();

    EXPECT_EQ(kExitServiceRegister, RunSetup());
    std::vector<std::string> none;
    EXPECT_EQ(none, SuiteTraces());
    EXPECT_FALSE(Exists(InstallFolder()));

    DeleteService(other);
    CloseServiceHandle(other);
    CloseServiceHandle(manager);
}

}  // namespace
