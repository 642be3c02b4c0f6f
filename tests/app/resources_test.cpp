// TALO's resource modules as TALO meets them: the English and the German module beside
// the program, loaded as data, each holding every template and string TALO asks for, the
// German one in German; and both pure resource modules that load without imports or code.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "CatalogueTexts.h"
#include "FrameDlg.h"
#include "ResourceModule.h"
#include "TaloResIds.h"
#include "TestSupport.h"
#include "ZoraPowerVariables.h"

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
    IDS_NAME_EXISTS, IDS_AC_PAGE_UNSEEN, IDS_DC_PAGE_UNSEEN, IDS_VALUE_REFUSED, IDS_SCHEME_GONE_CAPTION,
    IDS_SCHEME_GONE_TEXT, IDS_NO_BATTERY, IDS_TECHNOLOGY_PRIMARY, IDS_TECHNOLOGY_RECHARGEABLE,
    IDS_BATTERY_UNKNOWN, IDS_BATTERY_POWER_ONLINE, IDS_BATTERY_TIME_UNIT, IDS_BATTERY_DISCHARGING,
    IDS_BATTERY_CHARGING, IDS_BATTERY_CRITICAL,
    IDS_HELP_FILE,
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
}

// A text of the installed files, as the tests' installation holds them.
std::wstring Installed(const wchar_t* file, const std::wstring& section, const std::wstring& key) {
    wchar_t text[512] = {};
    GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", text, static_cast<DWORD>(std::size(text)),
                             (test::ExeDir() + L"\\..\\cfg\\" + file).c_str());
    return text;
}
int InstalledInt(const wchar_t* file, const std::wstring& section, const wchar_t* key) {
    return static_cast<int>(
        GetPrivateProfileIntW(section.c_str(), key, 0, (test::ExeDir() + L"\\..\\cfg\\" + file).c_str()));
}

// Every text of the installed catalogue with the string id TALO looks it up by: variable
// names and options of the power-setting file, device names of [SchemeItemList], effects,
// default schemes and battery rows.
struct CatalogueEntry {
    UINT id;
    std::wstring installed;
};
std::vector<CatalogueEntry> InstalledCatalogue() {
    using talo::CatalogueText;
    std::vector<CatalogueEntry> entries;
    for (const wchar_t* variable : zora_vars::kNames) {
        entries.push_back({talo::CatalogueTextId(CatalogueText::kVariableName, variable, 0),
                           Installed(L"ZORASetting.ini", variable, L"Name")});
        const int options = InstalledInt(L"ZORASetting.ini", variable, L"OptionNumber");
        for (int d = 0; d < options; ++d)
            entries.push_back({talo::OptionTextId(variable, d),
                               Installed(L"ZORASetting.ini", variable, L"DescOption" + std::to_wstring(d))});
    }
    const int items = InstalledInt(L"ZORACfg.ini", L"SchemeItemList", L"ItemNum");
    for (int i = 0; i < items; ++i) {
        if (InstalledInt(L"ZORACfg.ini", L"SchemeItemList", (L"IfDevice" + std::to_wstring(i)).c_str()) != 1) continue;
        const std::wstring variable = Installed(L"ZORACfg.ini", L"SchemeItemList", L"Item" + std::to_wstring(i));
        entries.push_back({talo::CatalogueTextId(CatalogueText::kDeviceName, variable.c_str(), 0),
                           Installed(L"ZORACfg.ini", L"SchemeItemList", L"DeviceName" + std::to_wstring(i))});
    }
    const int effects = InstalledInt(L"ZORAEffect.ini", L"NormalSettings", L"Number");
    for (int e = 0; e < effects; ++e) {
        const std::wstring section = L"Effect" + std::to_wstring(e);
        entries.push_back({talo::CatalogueTextId(CatalogueText::kEffectName, nullptr, e),
                           Installed(L"ZORAEffect.ini", section, L"Name")});
        entries.push_back({talo::CatalogueTextId(CatalogueText::kEffectDescription, nullptr, e),
                           Installed(L"ZORAEffect.ini", section, L"Description")});
    }
    const int schemes = InstalledInt(L"ZORADefScheme.ini", L"Schemes", L"DefaultSchemesNum");
    for (int d = 0; d < schemes; ++d) {
        entries.push_back({talo::CatalogueTextId(CatalogueText::kDefaultSchemeName, nullptr, d),
                           Installed(L"ZORADefScheme.ini", L"Scheme " + std::to_wstring(d), L"SchemeName")});
        // The file has no description: the module's is the only one.
        entries.push_back({talo::CatalogueTextId(CatalogueText::kDefaultSchemeDescription, nullptr, d), L""});
    }
    const struct {
        const wchar_t* prefix;
        CatalogueText kind;
    } rows[] = {{L"BA", CatalogueText::kBatteryBasicLabel}, {L"BEA", CatalogueText::kBatteryExtendedLabel}};
    for (const auto& row : rows) {
        const int count = InstalledInt(L"ZORACfg.ini", L"BatteryInforList", (std::wstring(row.prefix) + L"ItemNum").c_str());
        for (int d = 0; d < count; ++d)
            entries.push_back({talo::CatalogueTextId(row.kind, nullptr, d),
                               Installed(L"ZORACfg.ini", L"BatteryInforList",
                                         std::wstring(row.prefix) + L"Description" + std::to_wstring(d))});
    }
    return entries;
}

// Each module has every catalogue text the installation shows, the English one word for
// word as installed; with the strings above that is the whole of each module's strings.
TEST(Resources, EveryCatalogueTextInBothModules) {
    DataModule english(kEnglish), german(kGerman);
    ASSERT_NE(english.get(), nullptr);
    ASSERT_NE(german.get(), nullptr);
    const std::vector<CatalogueEntry> entries = InstalledCatalogue();
    ASSERT_GT(entries.size(), 200u);
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string where = "case " + std::to_string(i) + ": string " + std::to_string(entries[i].id);
        ASSERT_NE(entries[i].id, 0u) << where;
        const std::wstring en = ResString(english.get(), entries[i].id);
        if (!entries[i].installed.empty()) {
            EXPECT_EQ(en, entries[i].installed) << where;
        }
        EXPECT_FALSE(en.empty()) << where;
        EXPECT_FALSE(ResString(german.get(), entries[i].id).empty()) << where;
    }
    // Nothing beyond them: every string a module holds is one TALO asks for.
    const int total = static_cast<int>(std::size(kStrings) + entries.size());
    EXPECT_EQ(CountStrings(english.get()), total);
    EXPECT_EQ(CountStrings(german.get()), total);
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
        {IDS_DEVICE_NAME_BASE + zora_vars::Wifi, L"WLAN"},
        {IDS_DEFAULT_SCHEME_NAME_BASE + 2, L"Akku sparen"},
        {IDS_OPTION_TEXT(zora_vars::MonitorOffTimeOut, 16), L"Nie"},
        {IDS_EFFECT_NAME_BASE + 0, L"Akkulaufzeit"},
        {IDS_BATTERY_BA_LABEL_BASE + 2, L"Restzeit"},
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

// The skinned dialogs: the frame paints its header over their top rows.
constexpr UINT kSkinnedDialogs[] = {IDD_ABOUT,       IDD_BATTERY_STATUS, IDD_DEVICE_SHOW,   IDD_CHANGE_ICON,
                                    IDD_SCHEME_MAIN, IDD_SCHEME_EDIT,    IDD_SCHEME_OPTIONS};

std::wstring WindowText(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, static_cast<int>(std::size(text)));
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return name;
}

// The room a control's text needs beside what the control itself draws (a check box's box,
// a group box's frame), and whether it wraps; false for a control that shows no text of its own.
bool TextRoom(HWND control, int* extraWidth, bool* wraps) {
    const std::wstring kind = ClassOf(control);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    *extraWidth = 0;
    *wraps = false;
    if (lstrcmpiW(kind.c_str(), L"Static") == 0) {
        const LONG type = style & SS_TYPEMASK;
        if (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT && type != SS_OWNERDRAW && type != SS_SIMPLE &&
            type != SS_LEFTNOWORDWRAP)
            return false;
        *wraps = type != SS_SIMPLE && type != SS_LEFTNOWORDWRAP;
        return true;
    }
    if (lstrcmpiW(kind.c_str(), L"Button") == 0) {
        const LONG type = style & BS_TYPEMASK;
        if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON) {
            *extraWidth = GetSystemMetrics(SM_CXMENUCHECK) + 4;
            *wraps = (style & BS_MULTILINE) != 0;
            return true;
        }
        if (type == BS_GROUPBOX) {
            *extraWidth = 16;
            return true;
        }
        return true;  // push buttons: one line
    }
    return false;
}

// Every template of both modules as a user sees it: in a skinned dialog no control lies
// under the frame's header (whose height the dialog's width decides), and every text fits
// its control, measured with the dialog's own font.
TEST(Resources, TemplatesLeaveTheHeaderFreeAndTheirTextsFit) {
    HMODULE controls = LoadLibraryW(L"comctl32.dll");
    ASSERT_NE(controls, nullptr);
    // The setting page is a child window: it needs a parent.
    HWND owner = CreateWindowExW(0, L"Static", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    for (const wchar_t* file : kModules) {
        DataModule module(file);
        ASSERT_NE(module.get(), nullptr);
        for (size_t i = 0; i < std::size(kDialogs); ++i) {
            const std::string where = "case " + std::to_string(i) + ": dialog " + std::to_string(kDialogs[i]) +
                                      " of " + testing::PrintToString(std::wstring(file));
            HWND dialog = CreateDialogParamW(module.get(), MAKEINTRESOURCEW(kDialogs[i]), owner, InertDialogProc, 0);
            ASSERT_NE(dialog, nullptr) << where;
            RECT client = {};
            GetClientRect(dialog, &client);
            const bool skinned = std::find(std::begin(kSkinnedDialogs), std::end(kSkinnedDialogs), kDialogs[i]) !=
                                 std::end(kSkinnedDialogs);
            const int header = skinned ? talo::CFrameDlg::HeaderHeightFor(client.right) : 0;
            HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
            HDC dc = GetDC(dialog);
            HGDIOBJ previous = SelectObject(dc, font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT));
            for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
                RECT rect = {};
                GetWindowRect(child, &rect);
                MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
                const std::string control = where + ", control " + std::to_string(GetDlgCtrlID(child));
                EXPECT_GE(rect.top, header) << control << " lies under the " << header << "-pixel header";
                int extraWidth = 0;
                bool wraps = false;
                const std::wstring text = WindowText(child);
                if (text.empty() || !TextRoom(child, &extraWidth, &wraps)) continue;
                const int width = rect.right - rect.left - extraWidth;
                RECT needed = {0, 0, width, 0};
                DrawTextW(dc, text.c_str(), -1, &needed,
                          DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
                EXPECT_LE(needed.right, width) << control << ": " << testing::PrintToString(text) << " needs "
                                               << needed.right << " pixels across";
                EXPECT_LE(needed.bottom, rect.bottom - rect.top)
                    << control << ": " << testing::PrintToString(text) << " needs " << needed.bottom << " pixels down";
            }
            SelectObject(dc, previous);
            ReleaseDC(dialog, dc);
            DestroyWindow(dialog);
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
