// TALO's help as its dialogs open it: the file of the resource module's language beside the
// program (the configuration's name for a module without one), opened by HTML Help in a
// window of its own, which each case closes again. Wine has no HTML engine here, so the
// window's pages stay empty; the window and its caption, which HTML Help takes from the
// file's own window definition, show which file it opened.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "BatteryStatusDlg.h"
#include "FrameDlg.h"
#include "ResourceModule.h"
#include "TestSupport.h"

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::wstring Caption(HWND window) {
    wchar_t text[128] = {};
    GetWindowTextW(window, text, 128);
    return text;
}

BOOL CALLBACK CollectHelpWindow(HWND window, LPARAM found) {
    if (ClassName(window) == L"HH Parent") reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

// The help windows this thread has open: HTML Help makes them on the caller's thread.
std::vector<HWND> HelpWindows() {
    std::vector<HWND> windows;
    EnumThreadWindows(GetCurrentThreadId(), CollectHelpWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// Lets HTML Help finish what it posted to its window.
void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// [TALOCfg] HelpFileName of the tests' installation set for one case, then put back.
class HelpFileNameOverride {
public:
    explicit HelpFileNameOverride(const wchar_t* value) : m_path(test::ExeDir() + L"\\..\\cfg\\ZORACfg.ini") {
        wchar_t old[MAX_PATH] = {};
        GetPrivateProfileStringW(L"TALOCfg", L"HelpFileName", L"", old, MAX_PATH, m_path.c_str());
        m_old = old;
        WritePrivateProfileStringW(L"TALOCfg", L"HelpFileName", value, m_path.c_str());
    }
    HelpFileNameOverride(const HelpFileNameOverride&) = delete;
    HelpFileNameOverride& operator=(const HelpFileNameOverride&) = delete;
    ~HelpFileNameOverride() {
        WritePrivateProfileStringW(L"TALOCfg", L"HelpFileName", m_old.c_str(), m_path.c_str());
    }

private:
    std::wstring m_path;
    std::wstring m_old;
};

// The resource module for one case; null keeps the test program, which has no strings.
class ScopedResourceModule {
public:
    explicit ScopedResourceModule(const wchar_t* file)
        : m_module(file ? LoadLibraryW((test::ExeDir() + L"\\" + file).c_str()) : nullptr) {
        talo::SetResourceModule(m_module);
    }
    ScopedResourceModule(const ScopedResourceModule&) = delete;
    ScopedResourceModule& operator=(const ScopedResourceModule&) = delete;
    ~ScopedResourceModule() {
        talo::SetResourceModule(nullptr);
        if (m_module) FreeLibrary(m_module);
    }
    HMODULE get() const { return m_module; }

private:
    HMODULE m_module;
};

const struct {
    const wchar_t* module;  // null: the test program, a module without the help's name
    const wchar_t* file;    // the help file the help call opens
    const wchar_t* caption; // the caption of that file's help window
} kCases[] = {
    {L"TALORes.dll", L"Lumenkeep.chm", L"Lumenkeep Help"},
    {L"TALOResDE.dll", L"Lumenkeep.de.chm", L"Lumenkeep-Hilfe"},
    {nullptr, L"Lumenkeep.de.chm", L"Lumenkeep-Hilfe"},  // by [TALOCfg] HelpFileName
};

TEST(Help, PathNamesTheFileOfTheModulesLanguageBesideTheProgram) {
    HelpFileNameOverride configured(L"Lumenkeep.de.chm");
    for (size_t i = 0; i < std::size(kCases); ++i) {
        ScopedResourceModule module(kCases[i].module);
        if (kCases[i].module) {
            ASSERT_NE(nullptr, module.get()) << "case " << i;
        }
        const std::wstring path = talo::CFrameDlg::HelpPath();
        EXPECT_EQ(test::ExeDir() + L"\\" + kCases[i].file, path) << "case " << i;
        EXPECT_TRUE(Exists(path)) << "case " << i << ": no " << path;
    }
}

// At the default page, and at a dialog's own page (the battery dialog's F1).
TEST(Help, ShowHelpOpensTheFilesWindowAndItCloses) {
    HelpFileNameOverride configured(L"Lumenkeep.de.chm");
    for (size_t n = 0; n < 2 * std::size(kCases); ++n) {
        const size_t i = n % std::size(kCases);
        const wchar_t* topic = n < std::size(kCases) ? nullptr : talo::CBatteryStatusDlg::kHelpTopic;
        SCOPED_TRACE(topic != nullptr ? "battery.htm" : "default page");
        ScopedResourceModule module(kCases[i].module);
        ASSERT_TRUE(HelpWindows().empty()) << "case " << i;
        EXPECT_TRUE(talo::CFrameDlg::ShowHelp(topic)) << "case " << i;
        Pump();
        const std::vector<HWND> windows = HelpWindows();
        ASSERT_EQ(1u, windows.size()) << "case " << i;
        EXPECT_EQ(std::wstring(kCases[i].caption), Caption(windows[0])) << "case " << i;
        EXPECT_TRUE(IsWindowVisible(windows[0])) << "case " << i;
        SendMessageW(windows[0], WM_CLOSE, 0, 0);
        Pump();
        EXPECT_FALSE(IsWindow(windows[0])) << "case " << i;
        EXPECT_TRUE(HelpWindows().empty()) << "case " << i;
    }
}

// A name that is not beside the program opens nothing, and the call says so.
TEST(Help, ShowHelpOfAMissingFileOpensNoWindow) {
    HelpFileNameOverride configured(L"NoSuchHelp.chm");
    ScopedResourceModule module(nullptr);
    EXPECT_FALSE(talo::CFrameDlg::ShowHelp());
    Pump();
    EXPECT_TRUE(HelpWindows().empty());
}

}  // namespace
