#include "SchemeSeeding.h"

#include <cstdio>
#include <string>
#include <vector>

#include "AppConfig.h"
#include "PwrDesp.h"
#include "SchemeEx.h"
#include "WindowsVersion.h"
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

}  // namespace

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
        int index = scheme.AddPwrScheme(name.c_str(), L"", base);
        if (index == -2) index = scheme.FindPwrScheme(name.c_str());
        if (index < 0) continue;
        files.Write(scheme, index, section);
        std::wstring profileSection = Numbered(L"Scheme", index);
        // Marked as the product's own, so that the scheme dialogs keep it from being
        // edited or deleted; nothing else sets the mark.
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
        while (!scheme.InitCfgFile()) {
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
