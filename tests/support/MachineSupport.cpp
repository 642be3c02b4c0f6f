#include "MachineSupport.h"

#include <cstdlib>

#include "ZORACfg.h"
#include "ZoraInstallKey.h"

namespace test {
namespace {
bool SetValue(const wchar_t* name, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, ZORA_INSTALL_KEY, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                             static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}
}  // namespace

const wchar_t kVnbWireless[] = L"PCI\\VEN_1C7A&DEV_4229&SUBSYS_11011C7A&REV_61\\4&1B3E6C5A&0&00E0";
const wchar_t kVnbEthernet[] = L"PCI\\VEN_1D12&DEV_10F5&SUBSYS_30A11B2F&REV_03\\4&2F8A77E1&0&00E1";
const wchar_t kVnbBluetooth[] = L"USB\\VID_0A5F&PID_1200\\5&2C8D0F31&0&2";
const wchar_t kVnbCamera[] = L"USB\\VID_1E7D&PID_0B19\\5&2C8D0F31&0&1";
const wchar_t kVnbSoftModem[] = L"HDAUDIO\\FUNC_02&VEN_11C1&DEV_1040&SUBSYS_1B2F30A1&REV_1002\\4&2A4CC8E5&0&0101";
const wchar_t kVnbBroadband[] = L"USB\\VID_1F3A&PID_7010\\5&2C8D0F31&0&3";
const wchar_t kVnbWanMiniport[] = L"ROOT\\MS_NDISWANIP\\0000";
const wchar_t kVnbLegacyDriver[] = L"ROOT\\LEGACY_ZORAEBL\\0000";
const wchar_t kVnbRoot[] = L"HTREE\\ROOT\\0";

FreshMachine::FreshMachine() : m_path(MachinePath()) {
    std::wstring folder = m_path.substr(0, m_path.find_last_of(L'\\'));
    CreateDirectoryW(folder.c_str(), nullptr);
    m_ok = VnbCreateDefaultMachine(m_path.c_str()) && SetValue(ZORA_INSTALL_MACHINE_FILE, m_path) &&
           SetValue(ZORA_INSTALL_PROVIDER_MODULE, ZORA_VNB_MODULE);
}

std::wstring FreshMachine::MachinePath() {
    std::wstring bin = ExeDir();  // <build root>\<arch>\bin
    std::wstring root = bin.substr(0, bin.find_last_of(L'\\'));
    root = root.substr(0, root.find_last_of(L'\\'));
    return root + L"\\vnb\\tests.machine";
}

void FreshMachine::SwitchOff() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ZORA_INSTALL_KEY, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, ZORA_INSTALL_MACHINE_FILE);
    RegDeleteValueW(key, ZORA_INSTALL_PROVIDER_MODULE);
    RegCloseKey(key);
}

std::wstring MachineValue(const wchar_t* section, const wchar_t* key) {
    wchar_t value[1024] = {};
    if (!VnbGetValue(FreshMachine::MachinePath().c_str(), section, key, value, 1024)) return L"(absent)";
    return value;
}

unsigned long long Number(const std::wstring& text) { return wcstoull(text.c_str(), nullptr, 0); }

void SetMachineValue(const wchar_t* section, const wchar_t* key, const std::wstring& value) {
    EXPECT_TRUE(VnbSetValue(FreshMachine::MachinePath().c_str(), section, key, value.c_str()))
        << Narrow(section) << "." << Narrow(key) << " error " << GetLastError();
}

void SetAcLine(BYTE acLineStatus) {
    VnbPower power{};
    const std::wstring machine = FreshMachine::MachinePath();
    EXPECT_TRUE(VnbGetPower(machine.c_str(), &power) && (power.acLineStatus = acLineStatus, true) &&
                VnbSetPower(machine.c_str(), &power))
        << "mains " << int{acLineStatus} << " error " << GetLastError();
}

DriverRequest LastRequest(int function) {
    return RecordedRequest(L"DriverRequests", L"Function" + std::to_wstring(function));
}

DriverRequest RecordedRequest(const wchar_t* section, const std::wstring& key) {
    DriverRequest request;
    std::wstring text = MachineValue(section, key.c_str());
    size_t colon = text.find(L':');
    if (colon == std::wstring::npos) return request;
    request.size = wcstol(text.c_str(), nullptr, 10);
    for (const wchar_t* at = text.c_str() + colon + 1; *at;) {
        wchar_t* end = nullptr;
        unsigned long byte = wcstoul(at, &end, 16);
        if (end == at) break;
        request.bytes.push_back(static_cast<uint8_t>(byte));
        at = end;
    }
    return request;
}

::testing::AssertionResult DriverRequest::Is(long expectedSize, const std::vector<RequestField>& fields, size_t unsetAt,
                                             size_t unsetCount) const {
    if (size != expectedSize) return ::testing::AssertionFailure() << "size " << size << ", not " << expectedSize;
    if (size < 0) return ::testing::AssertionSuccess();
    std::vector<uint8_t> expected(static_cast<size_t>(expectedSize), 0);
    for (const RequestField& field : fields) {
        for (size_t i = 0; field.text && field.text[i]; ++i) {
            expected.at(field.offset + 2 * i) = static_cast<uint8_t>(field.text[i]);
            expected.at(field.offset + 2 * i + 1) = static_cast<uint8_t>(field.text[i] >> 8);
        }
        for (size_t i = 0; i < field.width; ++i)
            expected.at(field.offset + i) = static_cast<uint8_t>(field.value >> (8 * i));
    }
    for (size_t i = 0; i < expected.size(); ++i) {
        if (i >= unsetAt && i < unsetAt + unsetCount) continue;
        if (i >= bytes.size() || bytes[i] != expected[i])
            return ::testing::AssertionFailure()
                   << "byte " << i << " is " << (i < bytes.size() ? int(bytes[i]) : -1) << ", not " << int(expected[i]);
    }
    return ::testing::AssertionSuccess();
}

VnbDevice Device(const wchar_t* instanceId) {
    VnbDevice device{};
    if (!VnbFindDevice(FreshMachine::MachinePath().c_str(), instanceId, &device)) device = VnbDevice{};
    return device;
}

int ListedIndex(const std::string& listing, const wchar_t* instanceId) {
    size_t at = listing.find("[" + Narrow(instanceId) + "]");
    if (at == std::string::npos) return -1;
    size_t line = listing.rfind('\n', at);
    return atoi(listing.c_str() + (line == std::string::npos ? 0 : line + 1));
}

bool UsbDriverKeyExists(const std::wstring& driver) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"SYSTEM\\CurrentControlSet\\Control\\Class\\" + driver).c_str(), 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool FreshSchemeFile(CSchemeEx& schemes, std::wstring* file, std::wstring* folder) {
    schemes.Initialize();
    CZORAProfile profile;
    if (!profile.Initialize(L"ZORAScheme.ini", nullptr)) return false;
    *file = profile.GetFullPath();
    DeleteFileW(file->c_str());
    if (!schemes.InitCfgFile()) return false;
    wchar_t home[MAX_PATH] = {};
    if (!profile.GetHomePath(home, MAX_PATH)) return false;
    *folder = home;
    return true;
}

CfgOverride::CfgOverride(const wchar_t* fileName) : CfgOverride(fileName, ExeDir() + L"\\program") {}

CfgOverride::CfgOverride(const wchar_t* fileName, const std::wstring& program) {
    std::wstring bin = program.substr(0, program.find_last_of(L'\\'));
    m_path = bin.substr(0, bin.find_last_of(L'\\')) + L"\\cfg\\" + fileName;
    m_original = ReadTextFile(m_path);
}

CfgOverride::~CfgOverride() { WriteTextFile(m_path, m_original.c_str()); }

void CfgOverride::Set(const wchar_t* section, const wchar_t* key, const wchar_t* value) {
    WritePrivateProfileStringW(section, key, value, m_path.c_str());
}

int CfgOverride::GetInt(const wchar_t* section, const wchar_t* key, int otherwise) const {
    return static_cast<int>(GetPrivateProfileIntW(section, key, otherwise, m_path.c_str()));
}

void CfgOverride::BackdateWrite(int seconds) {
    HANDLE file = CreateFileW(m_path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
    time.QuadPart -= static_cast<ULONGLONG>(seconds) * 10000000ull;
    FILETIME then{time.LowPart, time.HighPart};
    SetFileTime(file, nullptr, nullptr, &then);
    CloseHandle(file);
}

const wchar_t kPanelServer[] = L"ZoraVnbPanel.dll";
const wchar_t kWmiServer[] = L"ZoraVnbWmi.dll";

HRESULT RegisterServer(const wchar_t* server, bool unregister) {
    HMODULE module = LoadLibraryW((ExeDir() + L"\\" + server).c_str());
    if (!module) return HRESULT_FROM_WIN32(GetLastError());
    typedef HRESULT(STDAPICALLTYPE * Entry)();
    Entry entry = reinterpret_cast<Entry>(
        reinterpret_cast<void*>(GetProcAddress(module, unregister ? "DllUnregisterServer" : "DllRegisterServer")));
    HRESULT hr = entry ? entry() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    FreeLibrary(module);
    return hr;
}

int RegisterOtherArchServer(const wchar_t* server) {
    std::wstring dll = ProgramPath(OtherArch(), server);
    if (dll.empty() || !ArchRuns(OtherArch())) return 0;  // no client of that architecture
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    std::wstring regsvr32 =
        std::wstring(windows) + (sizeof(void*) == 8 ? L"\\syswow64" : L"\\sysnative") + L"\\regsvr32.exe";
    return Run(regsvr32, L"/s \"" + dll + L"\"");
}

}  // namespace test
