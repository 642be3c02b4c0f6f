#include "MachineSupport.h"

#include "TestSupport.h"

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

VnbDevice Device(const wchar_t* instanceId) {
    VnbDevice device{};
    if (!VnbFindDevice(FreshMachine::MachinePath().c_str(), instanceId, &device)) device = VnbDevice{};
    return device;
}

}  // namespace test
