#include "GravoTestSupport.h"

#include <cwchar>

#include "ZoraVnb.h"

namespace test {

HRESULT RegisterPanel(bool unregister) {
    std::wstring path = ExeDir() + L"\\ZoraVnbPanel.dll";
    HMODULE module = LoadLibraryW(path.c_str());
    if (!module) return HRESULT_FROM_WIN32(GetLastError());
    typedef HRESULT(STDAPICALLTYPE * Entry)();
    Entry entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(
        GetProcAddress(module, unregister ? "DllUnregisterServer" : "DllRegisterServer")));
    HRESULT hr = entry ? entry() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    FreeLibrary(module);
    return hr;
}

int RegisterOtherArchPanel() {
    std::wstring dll = ProgramPath(OtherArch(), L"ZoraVnbPanel.dll");
    if (dll.empty() || !ArchRuns(OtherArch())) return 0;  // no client of that architecture
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    std::wstring regsvr32 = std::wstring(windows) + (sizeof(void*) == 8 ? L"\\syswow64" : L"\\sysnative") +
                            L"\\regsvr32.exe";
    return Run(regsvr32, L"/s \"" + dll + L"\"");
}

std::wstring Graphics(const wchar_t* key) {
    wchar_t value[64] = {};
    if (!VnbGetValue(FreshMachine::MachinePath().c_str(), L"Graphics", key, value, 64)) return L"(missing)";
    return value;
}

unsigned long GraphicsNumber(const wchar_t* key) { return wcstoul(Graphics(key).c_str(), nullptr, 0); }

void SetGraphics(const wchar_t* key, const wchar_t* value) {
    ASSERT_TRUE(VnbSetValue(FreshMachine::MachinePath().c_str(), L"Graphics", key, value)) << Narrow(key);
}

void GravoTest::SetUpTestSuite() { ASSERT_EQ(S_OK, RegisterPanel()); }

}  // namespace test
