// TALO's resource modules as TALO meets them: the English and the German module beside
// the program, loaded as data, each holding every template and string TALO asks for, the
// German one in German; and both pure resource modules that load without imports or code.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "TaloResIds.h"
#include "TestSupport.h"

namespace {

constexpr const wchar_t* kEnglish = L"TALORes.dll";
constexpr const wchar_t* kGerman = L"TALOResDE.dll";
constexpr const wchar_t* kModules[] = {kEnglish, kGerman};

constexpr UINT kDialogs[] = {
    IDD_HUB,         IDD_BALLOON,     IDD_ABOUT,       IDD_BATTERY_STATUS, IDD_QUICK_SWITCH,
    IDD_DEVICE_SHOW, IDD_WARNING,     IDD_CONFIRM,     IDD_CHANGE_ICON,    IDD_SCHEME_MAIN,
    IDD_SCHEME_EDIT, IDD_SCHEME_OPTIONS, IDD_SCHEME_PAGE,
};

constexpr UINT kStrings[] = {
    IDS_SCHEME_NAME_LABEL, IDS_EFFECTS_HEADING, IDS_ON_BATTERY, IDS_ON_AC, IDS_SETTINGS_HEADING,
    IDS_REGISTERED_MARK, IDS_OPTIONS_HOTKEY_PREFIX, IDS_OPTIONS_TITLE, IDS_OPTIONS_LIST_HEADING,
    IDS_OPTIONS_SCHEME_COLUMN, IDS_BATTERY_STATUS, IDS_MENU_SCHEMES, IDS_MENU_EXIT, IDS_MENU_ABOUT,
    IDS_BATTERY_SELECT_GROUP, IDS_BATTERY_INFO_GROUP, IDS_BATTERY_LEFT_NAME_HEADING,
    IDS_BATTERY_LEFT_VALUE_HEADING, IDS_BATTERY_RIGHT_NAME_HEADING, IDS_BATTERY_RIGHT_VALUE_HEADING,
    IDS_CHANGE_ICON_TITLE, IDS_CHANGE_ICON_PROMPT, IDS_CHANGE_ICON_BUTTON, IDS_NOT_RELEVANT_ON_AC,
    IDS_ABOUT_PRODUCT, IDS_ABOUT_VERSION, IDS_ABOUT_COPYRIGHT, IDS_ABOUT_DESCRIPTION,
    IDS_BALLOON_SHOW_DEVICES, IDS_BALLOON_DEVICES_OFF, IDS_BALLOON_SHOW_POWER, IDS_BALLOON_FULLY_CHARGED,
    IDS_BALLOON_STATE_UNKNOWN, IDS_BALLOON_REMAINING, IDS_BALLOON_ON_AC, IDS_BALLOON_BATTERY_LOW,
    IDS_BALLOON_CHARGING, IDS_BATTERY_NAME, IDS_DEVICE_PROMPT, IDS_DEVICE_DONT_ASK, IDS_DEVICE_TITLE,
    IDS_OPTIONS_DEVICE_LABEL, IDS_OPTIONS_DEVICE_ASK, IDS_DELETE_FAILED, IDS_DELETE_DONE,
    IDS_DELETE_CONFIRM, IDS_TOO_MANY_SCHEMES, IDS_CREATE_FAILED, IDS_NAME_EMPTY, IDS_NAME_TOO_LONG,
    IDS_NAME_EXISTS, IDS_AC_PAGE_UNSEEN, IDS_DC_PAGE_UNSEEN, IDS_SCHEME_GONE_CAPTION,
    IDS_SCHEME_GONE_TEXT, IDS_NO_BATTERY, IDS_TECHNOLOGY_PRIMARY, IDS_TECHNOLOGY_RECHARGEABLE,
    IDS_BATTERY_UNKNOWN, IDS_BATTERY_POWER_ONLINE, IDS_BATTERY_TIME_UNIT, IDS_BATTERY_DISCHARGING,
    IDS_BATTERY_CHARGING, IDS_BATTERY_CRITICAL,
};

std::wstring ModulePath(const wchar_t* file) { return test::ExeDir() + L"\\" + file; }

// A module mapped as TALO's lookups see it: resources only, nothing run.
class DataModule {
public:
    explicit DataModule(const wchar_t* file)
        : m_module(LoadLibraryExW(ModulePath(file).c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    DataModule(const DataModule&) = delete;
    DataModule& operator=(const DataModule&) = delete;
    ~DataModule() {
        if (m_module) FreeLibrary(m_module);
    }
    HMODULE get() const { return m_module; }

private:
    HMODULE m_module;
};

// The string as the module holds it; empty when missing.
std::wstring ResString(HMODULE module, UINT id) {
    const wchar_t* text = nullptr;
    int length = LoadStringW(module, id, reinterpret_cast<wchar_t*>(&text), 0);
    return length > 0 && text ? std::wstring(text, length) : std::wstring();
}

// The module file's PE headers, read from disk.
struct PeFacts {
    bool read = false;
    WORD machine = 0;
    DWORD entry = 0;
    IMAGE_DATA_DIRECTORY imports = {};
    IMAGE_DATA_DIRECTORY exports = {};
    IMAGE_DATA_DIRECTORY resources = {};
};

PeFacts ReadPe(const wchar_t* file) {
    PeFacts facts;
    HANDLE handle = CreateFileW(ModulePath(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE) return facts;
    std::vector<char> bytes(4096);
    DWORD got = 0;
    BOOL ok = ReadFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(handle);
    if (!ok || got < sizeof(IMAGE_DOS_HEADER)) return facts;
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0 ||
        static_cast<DWORD>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS) > got)
        return facts;
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(bytes.data() + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC) return facts;
    facts.read = true;
    facts.machine = nt->FileHeader.Machine;
    facts.entry = nt->OptionalHeader.AddressOfEntryPoint;
    facts.imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    facts.exports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    facts.resources = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
    return facts;
}

BOOL CALLBACK CollectBundle(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR bundles) {
    if (IS_INTRESOURCE(name))
        reinterpret_cast<std::vector<UINT>*>(bundles)->push_back(static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name)));
    return TRUE;
}

// How many strings the module holds: the non-empty entries of its string bundles.
int CountStrings(HMODULE module) {
    std::vector<UINT> bundles;
    EnumResourceNamesW(module, RT_STRING, CollectBundle, reinterpret_cast<LONG_PTR>(&bundles));
    int count = 0;
    for (UINT bundle : bundles)
        for (UINT j = 0; j < 16; ++j) count += ResString(module, (bundle - 1) * 16 + j).empty() ? 0 : 1;
    return count;
}

INT_PTR CALLBACK InertDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

std::wstring ItemText(HWND dialog, int id) {
    wchar_t text[256] = {};
    GetDlgItemTextW(dialog, id, text, static_cast<int>(std::size(text)));
    return text;
}

TEST(Resources, EveryDialogTemplateInBothModules) {
    for (const wchar_t* file : kModules) {
        DataModule module(file);
        ASSERT_NE(module.get(), nullptr) << "module " << testing::PrintToString(std::wstring(file))
                                         << " error " << GetLastError();
        for (size_t i = 0; i < std::size(kDialogs); ++i) {
            SetLastError(0xdeadbeef);
            HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(kDialogs[i]), RT_DIALOG);
            EXPECT_NE(found, nullptr) << "case " << i << ": dialog " << kDialogs[i] << " in "
                                      << testing::PrintToString(std::wstring(file)) << ", error " << GetLastError();
        }
    }
}

TEST(Resources, EveryStringNonEmptyInBothModules) {
    DataModule english(kEnglish), german(kGerman);
    ASSERT_NE(english.get(), nullptr);
    ASSERT_NE(german.get(), nullptr);
    for (size_t i = 0; i < std::size(kStrings); ++i) {
        EXPECT_FALSE(ResString(english.get(), kStrings[i]).empty()) << "case " << i << ": English string " << kStrings[i];
        EXPECT_FALSE(ResString(german.get(), kStrings[i]).empty()) << "case " << i << ": German string " << kStrings[i];
    }
    // Nothing beyond them either: the table is the whole of each module's strings.
    EXPECT_EQ(CountStrings(english.get()), static_cast<int>(std::size(kStrings)));
    EXPECT_EQ(CountStrings(german.get()), static_cast<int>(std::size(kStrings)));
}

TEST(Resources, GermanTextsAreGerman) {
    struct Case {
        UINT id;
        const wchar_t* german;  // null: only different from the English text
    };
    // The umlauts check that the UTF-8 sources arrive as the right characters.
    const Case cases[] = {
        {IDS_MENU_EXIT, L"Beenden"},
        {IDS_CHANGE_ICON_BUTTON, L"Symbol \u00e4ndern"},
        {IDS_DELETE_CONFIRM, L"M\u00f6chten Sie dieses Energieschema wirklich l\u00f6schen?"},
        {IDS_BATTERY_STATUS, nullptr},
        {IDS_EFFECTS_HEADING, nullptr},
        {IDS_NAME_TOO_LONG, nullptr},
    };
    DataModule english(kEnglish), german(kGerman);
    ASSERT_NE(english.get(), nullptr);
    ASSERT_NE(german.get(), nullptr);
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::wstring en = ResString(english.get(), cases[i].id), de = ResString(german.get(), cases[i].id);
        EXPECT_FALSE(de.empty()) << "case " << i;
        EXPECT_NE(de, en) << "case " << i;
        if (cases[i].german) {
            EXPECT_EQ(de, cases[i].german) << "case " << i;
        }
    }
}

TEST(Resources, ModulesHoldResourcesOnly) {
#if defined(_WIN64)
    constexpr WORD kMachine = IMAGE_FILE_MACHINE_AMD64;
#else
    constexpr WORD kMachine = IMAGE_FILE_MACHINE_I386;
#endif
    for (size_t i = 0; i < std::size(kModules); ++i) {
        PeFacts pe = ReadPe(kModules[i]);
        ASSERT_TRUE(pe.read) << "case " << i;
        EXPECT_EQ(pe.machine, kMachine) << "case " << i;
        EXPECT_EQ(pe.entry, 0u) << "case " << i;
        EXPECT_EQ(pe.imports.VirtualAddress, 0u) << "case " << i;
        EXPECT_EQ(pe.imports.Size, 0u) << "case " << i;
        EXPECT_EQ(pe.exports.Size, 0u) << "case " << i;
        EXPECT_NE(pe.resources.Size, 0u) << "case " << i;

        // Loaded as a library, as TALO loads it: nothing to resolve, nothing to run.
        SetLastError(0xdeadbeef);
        HMODULE loaded = LoadLibraryW(ModulePath(kModules[i]).c_str());
        EXPECT_NE(loaded, nullptr) << "case " << i << ": error " << GetLastError();
        if (loaded) {
            EXPECT_NE(FindResourceW(loaded, MAKEINTRESOURCEW(IDD_ABOUT), RT_DIALOG), nullptr) << "case " << i;
            FreeLibrary(loaded);
        }
    }
}

TEST(Resources, EveryTemplateCreatesADialog) {
    // The list views of the templates are the common controls' class.
    HMODULE controls = LoadLibraryW(L"comctl32.dll");
    ASSERT_NE(controls, nullptr);
    HWND owner = CreateWindowExW(0, L"Static", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    for (const wchar_t* file : kModules) {
        DataModule module(file);
        ASSERT_NE(module.get(), nullptr);
        for (size_t i = 0; i < std::size(kDialogs); ++i) {
            SetLastError(0xdeadbeef);
            HWND dialog = CreateDialogParamW(module.get(), MAKEINTRESOURCEW(kDialogs[i]), owner, InertDialogProc, 0);
            EXPECT_NE(dialog, nullptr) << "case " << i << ": dialog " << kDialogs[i] << " of "
                                       << testing::PrintToString(std::wstring(file)) << ", error " << GetLastError();
            if (dialog) DestroyWindow(dialog);
        }
    }
    DestroyWindow(owner);
    FreeLibrary(controls);
}

TEST(Resources, GermanAboutDialogSpeaksGerman) {
    DataModule english(kEnglish), german(kGerman);
    ASSERT_NE(german.get(), nullptr);
    ASSERT_NE(english.get(), nullptr);
    HWND dialog = CreateDialogParamW(german.get(), MAKEINTRESOURCEW(IDD_ABOUT), nullptr, InertDialogProc, 0);
    ASSERT_NE(dialog, nullptr) << "error " << GetLastError();
    std::wstring product = ItemText(dialog, IDC_ABOUT_PRODUCT);
    wchar_t caption[128] = {};
    GetWindowTextW(dialog, caption, static_cast<int>(std::size(caption)));
    DestroyWindow(dialog);

    EXPECT_EQ(product, ResString(german.get(), IDS_ABOUT_PRODUCT));
    EXPECT_NE(product, ResString(english.get(), IDS_ABOUT_PRODUCT));
    EXPECT_EQ(std::wstring(caption), L"\u00dcber Lumenkeep");
}

}  // namespace
