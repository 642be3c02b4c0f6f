#include "SchemeSeeding.h"

#include <cstdio>
#include <string>
#include <vector>

#include "AppConfig.h"
#include "CatalogueTexts.h"
#include "PwrDesp.h"
#include "SchemeEx.h"
#include "WindowsVersion.h"
#include "ZORACfg.h"
#include "ZoraPowerPolicy.h"

namespace talo {
namespace {

// InitCfgFile is tried this often, this far apart: the service may still be starting
// when the user logs on.
constexpr int kInitAttempts = 7;
constexpr DWORD kInitRetryMs = 10000;

// What both seeding steps read: the three files and the variable list.
struct SeedFiles {
    std::wstring defaults;
    std::wstring profile;
    std::wstring settings;
    std::vector<std::wstring> variables;

    SeedFiles() {
        defaults = CfgString(CfgFileName(), L"ZORACfg", L"DefaultSchemes");
        profile = ProfileFile();
        settings = PowerSettingFile();
        int count = GetCfgInt(0, settings.c_str(), L"ItemList", L"ItemNum", 0);
        for (int i = 0; i < count; ++i) variables.push_back(CfgString(settings, L"ItemList", Numbered(L"Item", i)));
    }

    // The value of variable + "_AC"/"_DC" in a section of the default-scheme file (0 when
    // absent); a backlight value is an option number of the power-setting file.
    int Value(const std::wstring& section, const std::wstring& variable, bool ac) const {
        int value = GetCfgInt(0, defaults.c_str(), section.c_str(), (variable + (ac ? L"_AC" : L"_DC")).c_str(), 0);
        if (_wcsicmp(variable.c_str(), L"BacklightLevel") == 0)
            value = GetCfgInt(0, settings.c_str(), L"BacklightLevel", Numbered(L"ValueOption", value).c_str(), 0);
        return value;
    }

    // Every variable but the excluded ones, AC then DC, into scheme index.
    void Write(CSchemeEx& scheme, int index, const std::wstring& section,
               std::initializer_list<const wchar_t*> excluded = {}) const {
        for (int ac = 1; ac >= 0; --ac) {
            for (const std::wstring& variable : variables) {
                bool skip = false;
                for (const wchar_t* name : excluded) skip = skip || _wcsicmp(name, variable.c_str()) == 0;
                if (skip) continue;
                scheme.SetPwrVariable(index, ac, variable.c_str(), Value(section, variable, ac != 0));
            }
        }
    }
};

std::wstring Trimmed(const wchar_t* text) {
    std::wstring trimmed = text;
    trimmed.erase(0, trimmed.find_first_not_of(L" \t"));
    trimmed.erase(trimmed.find_last_not_of(L" \t") + 1);
    return trimmed;
}

// The settings of the scheme file's [Scheme n] sections that carry a GUID (Vista's
// index map), by GUID: each section's lines but the GUID's.
struct MappedSettings {
    std::wstring section;
    std::wstring guid;
    std::vector<std::wstring> lines;  // "key=value"
};

// With mapOnly, every mapped section is listed, with or without settings.
std::vector<MappedSettings> ReadMappedSettings(const std::wstring& file, bool mapOnly = false) {
    std::vector<MappedSettings> sections;
    const int max = static_cast<int>(GetPrivateProfileIntW(L"Schemes", L"SchemeMaxIndex", -1, file.c_str()));
    std::vector<wchar_t> buffer(32767);
    for (int n = 0; n <= max; ++n) {
        MappedSettings section;
        section.section = Numbered(L"Scheme ", n);
        DWORD length = GetPrivateProfileSectionW(section.section.c_str(), buffer.data(),
                                                 static_cast<DWORD>(buffer.size()), file.c_str());
        for (const wchar_t* line = buffer.data(); line < buffer.data() + length && *line != L'\0';
             line += wcslen(line) + 1) {
            const wchar_t* equals = wcschr(line, L'=');
            if (equals == nullptr) continue;
            if (_wcsnicmp(line, L"GUID", 4) == 0 && equals == line + 4)
                section.guid = Trimmed(equals + 1);
            else
                section.lines.emplace_back(line);
        }
        if (!section.guid.empty() && (mapOnly || !section.lines.empty())) sections.push_back(std::move(section));
    }
    return sections;
}

}  // namespace

int PrepareSchemeFiles(CSchemeEx& scheme) {
    // InitCfgFile rebuilds Vista's index map from the system's enumeration and drops every
    // setting stored under the old indexes: a scheme the user made before (with zoractl,
    // say) would lose all but its name. Its settings follow its GUID to its new index; a
    // scheme the system no longer has is not mapped again, and its settings go.
    // Only looked at: an empty file made here would be taken for a damaged scheme file.
    std::wstring file;
    const std::wstring name = CfgString(CfgFileName(), L"ZORACfg", L"PowerScheme");
    wchar_t folder[MAX_PATH] = {};
    if (!name.empty() && CZORAProfile().GetHomePath(folder, MAX_PATH)) file = std::wstring(folder) + L"\\" + name;
    const bool exists = !file.empty() && GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
    const std::vector<MappedSettings> kept = exists ? ReadMappedSettings(file) : std::vector<MappedSettings>{};
    if (!scheme.InitCfgFile()) return 0;
    if (kept.empty()) return 1;
    const std::vector<MappedSettings> now = ReadMappedSettings(file, true);
    for (const MappedSettings& before : kept) {
        for (const MappedSettings& mapped : now) {
            if (_wcsicmp(mapped.guid.c_str(), before.guid.c_str()) != 0) continue;
            for (const std::wstring& line : before.lines) {
                const size_t equals = line.find(L'=');
                WritePrivateProfileStringW(mapped.section.c_str(), line.substr(0, equals).c_str(),
                                           line.c_str() + equals + 1, file.c_str());
            }
        }
    }
    return 1;
}

void SeedDefaultSchemes(CSchemeEx& scheme) {
    std::vector<PWRDESP> list;
    if (!EnumSchemes(scheme, list)) return;
    int base = list.empty() ? 0 : list.front().index;
    SeedFiles files;
    int count = GetCfgInt(0, files.defaults.c_str(), L"Schemes", L"DefaultSchemesNum", 0);
    for (int d = 0; d < count; ++d) {
        std::wstring section = Numbered(L"Scheme ", d);
        std::wstring name = CfgString(files.defaults, section, L"SchemeName");
        if (name.empty()) continue;
        // Named and described in the resource module's language; the file's name where the
        // module has none (the file has no description).
        name = CatalogueString(CatalogueText::kDefaultSchemeName, nullptr, d, name);
        const std::wstring description = CatalogueString(CatalogueText::kDefaultSchemeDescription, nullptr, d, L"");
        int index = scheme.AddPwrScheme(name.c_str(), description.c_str(), base);
        // -2: the name is taken, by a scheme of the user's own; that scheme is left as it is.
        if (index < 0) continue;
        files.Write(scheme, index, section);
        std::wstring profileSection = Numbered(L"Scheme", index);
        // Marked as the product's own (only a scheme made here is), so that the scheme
        // dialogs keep it from being edited or deleted; nothing else sets the mark.
        PutProfileInt(files.profile.c_str(), profileSection.c_str(), L"IfDefault", 1);
        PutProfileInt(files.profile.c_str(), profileSection.c_str(), L"IconNum",
                      GetCfgInt(0, files.defaults.c_str(), section.c_str(), L"IconIndex", 0));
        PutProfileInt(files.profile.c_str(), profileSection.c_str(), L"IfShow",
                      GetCfgInt(0, files.defaults.c_str(), section.c_str(), L"IfShow", 0));
    }
}

void SeedBuiltInSchemes(CSchemeEx& scheme) {
    SeedFiles files;
    DWORD major = 0;
    WindowsMajorVersion(&major);
    if (major >= 6) {
        const GUID builtIn[] = {zora_policy::kPowerSaver, zora_policy::kHighPerformance, zora_policy::kBalanced};
        int show = GetCfgInt(0, files.defaults.c_str(), L"Scheme Vista", L"IfShow", 0);
        for (const GUID& guid : builtIn) {
            int index = scheme.SchemeGuidToIndex(&guid);
            PutProfileInt(files.profile.c_str(), Numbered(L"Scheme", index).c_str(), L"IfShow", show);
            // The system keeps its own values for the processor and the idle time-outs.
            files.Write(scheme, index, L"Scheme Vista",
                        {L"CpuSpeed", L"MonitorOffTimeOut", L"DiskOffTimeOut", L"StandbyTimeOut", L"HibernateTimeOut"});
        }
        return;
    }
    int show = GetCfgInt(0, files.defaults.c_str(), L"Scheme XP", L"IfShow", 0);
    for (int index = 0; index <= 5; ++index) {
        PutProfileInt(files.profile.c_str(), Numbered(L"Scheme", index).c_str(), L"IfShow", show);
        files.Write(scheme, index, L"Scheme XP",
                    {L"CpuSpeedMax", L"CpuSpeedMin", L"CpuSpeed", L"MonitorOffTimeOut", L"DiskOffTimeOut",
                     L"StandbyTimeOut"});
    }
}

int SeedSchemeSettings() {
    CSchemeEx scheme;
    scheme.Initialize();
    if (StartFlag() == 0) {
        int attempt = 1;
        while (!PrepareSchemeFiles(scheme)) {
            if (attempt++ == kInitAttempts) return 0;
            Sleep(kInitRetryMs);
        }
        SetStartFlag();
        std::vector<PWRDESP> list;
        if (!EnumSchemes(scheme, list)) return 0;
        std::wstring profile = ProfileFile();
        for (size_t i = 0; i < list.size(); ++i) {
            std::wstring section = Numbered(L"Scheme", list[i].index);
            PutProfileInt(profile.c_str(), section.c_str(), L"IfDefault", 0);
            PutProfileInt(profile.c_str(), section.c_str(), L"IconNum", static_cast<int>(i % 9));
            PutProfileInt(profile.c_str(), section.c_str(), L"IfShow", 1);
        }
        SeedDefaultSchemes(scheme);
        SeedBuiltInSchemes(scheme);
    }
    LoadLayoutSettings();
    return 1;
}

}  // namespace talo
