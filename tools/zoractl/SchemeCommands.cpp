// zoractl scheme: the calling user's power schemes through CSchemeEx.
//   scheme list                         index, name, '*' for the active one
//   scheme show N                       every variable: name, unit, AC and DC values and their texts
//   scheme create NAME [--from N] [--desc TEXT]   a copy of scheme N (default: the active one)
//   scheme delete N | activate N
//   scheme get N VAR ac|dc | set N VAR ac|dc VALUE
//   scheme export N FILE | import FILE [--from N] [--name NAME]   (a new scheme; --name
//                                      overrides the file's name)
// The exported file is plain text a user may edit, one line per variable:
//   Name=<name>
//   Description=<text>
//   <variable>=<AC value> <DC value>     "-" for a half that is not set; VXPS holds one value
// Wrong arguments: a usage line and exit status 2. A refusal is said in words, status 1.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include "SchemeEx.h"
#include "WinHandles.h"
#include "ZORACfg.h"
#include "ZoraPowerVariables.h"
#include "ZoraSystemApi.h"
#include "ZoractlCommands.h"

namespace {

constexpr int kText = 260;

int Usage() {
    fwprintf(stderr,
             L"usage: zoractl scheme list | show N | create NAME [--from N] [--desc TEXT] | delete N | activate N\n"
             L"       zoractl scheme get N VAR ac|dc | set N VAR ac|dc VALUE | export N FILE\n"
             L"       zoractl scheme import FILE [--from N] [--name NAME]\n");
    return 2;
}

// The scheme model with the checks a tool needs before it changes anything.
class SchemeTool : public CSchemeEx {
public:
    SchemeTool() {
        Initialize();
        // A user without Vista's index map gets it, as at TALO's first run; a corrupt
        // file is not rebuilt behind the user's back (SchemeFileWatch says what became of it).
        if (GetPwrSchemeMaxIndex() < 0 && GetLastError() != ERROR_FILE_CORRUPT) InitCfgFile();
    }
    using CSchemeEx::FindPwrScheme;
    using CSchemeEx::ParseVarName;
    using CSchemeEx::ValidateData;

    std::wstring Name(int index) {
        wchar_t name[kText] = {};
        unsigned long capacity = kText;
        GetPwrSchemeNameDesc(index, name, &capacity, nullptr, nullptr);
        return name;
    }
    std::wstring Description(int index) {
        wchar_t name[kText] = {}, description[kText] = {};
        unsigned long nameCapacity = kText, descriptionCapacity = kText;
        GetPwrSchemeNameDesc(index, name, &nameCapacity, description, &descriptionCapacity);
        return description;
    }
    // The catalogue's text of a value, or empty.
    std::wstring OptionText(const wchar_t* variable, int value) {
        int count = GetPwrVariableOptCount(variable);
        for (int i = 0; i < count; ++i) {
            if (GetPwrVariableOptValue(variable, i) != value) continue;
            wchar_t text[kText] = {};
            if (GetPwrVariableOptDesc(variable, i, text, kText) > 0) return text;
        }
        return L"";
    }
    // Why a value is refused, in words.
    std::wstring WhyRefused(const wchar_t* variable, int value) {
        if (ParseVarName(variable) == zora_vars::HibernateTimeOut && value != 0 &&
            !ZoraSys()->IsPwrHibernateAllowed())
            return L"not allowed: hibernation is off on this machine";
        if (!ValidateData(variable, value)) {
            std::wstring allowed;
            int count = GetPwrVariableOptCount(variable);
            for (int i = 0; i < count; ++i) allowed += (i ? L", " : L"") + std::to_wstring(GetPwrVariableOptValue(variable, i));
            return L"the value " + std::to_wstring(value) + L" is not one of " + variable + L"'s options" +
                   (allowed.empty() ? L"" : L" (" + allowed + L")");
        }
        return L"";
    }
};

// The scheme file's copies the library kept aside as corrupt ("<file>.corrupt-<time>"):
// one that appears during the command is reported, and the command fails.
class SchemeFileWatch {
public:
    SchemeFileWatch() {
        CZORACfg cfg;
        CZORAProfile profile;
        wchar_t folder[kText] = {}, name[kText] = {};
        if (cfg.Initialize(L"ZORACfg.ini") && cfg.GetString(L"ZORACfg", L"PowerScheme", L"", name, kText) > 0 &&
            profile.GetHomePath(folder, kText))
            m_file = std::wstring(folder) + L"\\" + name;
        m_seen = Copies();
    }
    // True, after saying so, when a copy appeared since the last look.
    bool Report() {
        bool appeared = false;
        for (const std::wstring& copy : Copies()) {
            if (!m_seen.insert(copy).second) continue;
            wprintf(L"the scheme file %ls could not be used (empty, not a settings file, too long, or a corrupt index "
                    L"map): it is kept as %ls, and a new one is started\n",
                    m_file.c_str(), copy.c_str());
            appeared = true;
        }
        return appeared;
    }

private:
    std::set<std::wstring> Copies() const {
        std::set<std::wstring> copies;
        if (m_file.empty()) return copies;
        size_t slash = m_file.rfind(L'\\');
        WIN32_FIND_DATAW found{};
        UniqueFind find(FindFirstFileW((m_file + L".corrupt-*").c_str(), &found));
        for (BOOL more = find ? TRUE : FALSE; more; more = FindNextFileW(find.get(), &found))
            copies.insert(m_file.substr(0, slash + 1) + found.cFileName);
        return copies;
    }

    std::wstring m_file;
    std::set<std::wstring> m_seen;
};

bool Index(const wchar_t* text, int* index) {
    unsigned long value = 0;
    if (!ParseNumber(text, &value) || value > 0x7FFFFFFF) return false;
    *index = static_cast<int>(value);
    return true;
}

bool Side(const wchar_t* text, int* ac) {
    if (wcscmp(text, L"ac") == 0) *ac = 1;
    else if (wcscmp(text, L"dc") == 0) *ac = 0;
    else return false;
    return true;
}

bool Value(const wchar_t* text, int* value) {
    wchar_t* end = nullptr;
    long v = wcstol(text, &end, 0);
    if (!*text || *end) return false;
    *value = static_cast<int>(v);
    return true;
}

int NoScheme(int index) {
    wprintf(L"there is no scheme %d\n", index);
    return 1;
}

unsigned char CALLBACK ListOne(unsigned int index, unsigned long, wchar_t* name, unsigned long, wchar_t*,
                               LONG_PTR active) {
    wprintf(L"%lc %3u  %ls\n", static_cast<int>(index) == static_cast<int>(active) ? L'*' : L' ', index, name);
    return 1;
}

int List(SchemeTool& schemes) {
    if (!schemes.EnumPwrSchemes(ListOne, schemes.GetActivePwrScheme())) {
        wprintf(L"the schemes cannot be listed\n");
        return 1;
    }
    return 0;
}

std::wstring Shown(SchemeTool& schemes, const wchar_t* variable, int value) {
    if (value == -1) return L"-";
    std::wstring text = std::to_wstring(value);
    std::wstring option = schemes.OptionText(variable, value);
    return option.empty() ? text : text + L" (" + option + L")";
}

int Show(SchemeTool& schemes, int index) {
    if (!schemes.FindPwrScheme(index)) return NoScheme(index);
    wprintf(L"scheme %d: %ls\n", index, schemes.Name(index).c_str());
    std::wstring description = schemes.Description(index);
    if (!description.empty()) wprintf(L"  %ls\n", description.c_str());
    wprintf(L"%-40ls %-9ls %-36ls %ls\n", L"variable", L"unit", L"AC", L"DC");
    for (const wchar_t* variable : zora_vars::kNames) {
        wchar_t name[kText] = {}, unit[kText] = {};
        int number = schemes.ParseVarName(variable);
        std::wstring shown = variable;
        if (schemes.GetPwrVariableName(variable, name, kText) == 0)
            shown = number >= zora_vars::USBPort0 && number <= zora_vars::USBPort11
                        ? shown + L" (" + name + L")"  // a port is named by its device
                        : name;
        schemes.GetPwrVariableUnit(variable, unit, kText);
        int ac = schemes.GetPwrVariable(index, 1, variable);
        int dc = number == zora_vars::VXPS ? ac : schemes.GetPwrVariable(index, 0, variable);
        wprintf(L"%-40ls %-9ls %-36ls %ls\n", shown.c_str(), unit, Shown(schemes, variable, ac).c_str(),
                Shown(schemes, variable, dc).c_str());
    }
    wprintf(L"(- : not set in this scheme, or not kept on this system)\n");
    return 0;
}

int Create(SchemeTool& schemes, int argc, wchar_t** argv) {
    if (argc < 1) return Usage();
    int base = schemes.GetActivePwrScheme();
    const wchar_t* description = nullptr;
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 >= argc) return Usage();
        if (wcscmp(argv[i], L"--from") == 0) {
            if (!Index(argv[i + 1], &base)) return Usage();
        } else if (wcscmp(argv[i], L"--desc") == 0) {
            description = argv[i + 1];
        } else {
            return Usage();
        }
    }
    if (!schemes.FindPwrScheme(base)) return NoScheme(base);
    int added = schemes.AddPwrScheme(argv[0], description, base);
    if (added == -2) {
        wprintf(L"a scheme with that name exists\n");
        return 1;
    }
    if (added < 0) {
        wprintf(L"the scheme cannot be created: a name needs 1 to 29 characters on XP, 1 to 127 on Vista\n");
        return 1;
    }
    wprintf(L"created scheme %d: %ls\n", added, schemes.Name(added).c_str());
    return 0;
}

int Delete(SchemeTool& schemes, int index) {
    if (!schemes.FindPwrScheme(index)) return NoScheme(index);
    if (!schemes.DeletePwrScheme(index)) {
        wprintf(L"scheme %d cannot be deleted: the system's own schemes and the active one stay\n", index);
        return 1;
    }
    wprintf(L"deleted scheme %d\n", index);
    return 0;
}

int Activate(SchemeTool& schemes, int index) {
    if (!schemes.FindPwrScheme(index)) return NoScheme(index);
    int previous = schemes.SetActivePwrScheme(index);
    if (previous < 0) {
        if (schemes.GetActivePwrScheme() == index && !ServiceServes())
            wprintf(L"scheme %d is active, but the service is not running to apply it\n", index);
        else if (schemes.GetActivePwrScheme() == index)
            wprintf(L"scheme %d is active, but the service did not apply it\n", index);
        else
            wprintf(L"scheme %d cannot be activated\n", index);
        return 1;
    }
    wprintf(L"scheme %d active and applied (scheme %d was active)\n", index, previous);
    return 0;
}

// Sets one half, saying why when it is refused; 0 or 1 as an exit status.
int SetOne(SchemeTool& schemes, int index, const wchar_t* variable, int ac, int value) {
    int result = schemes.SetPwrVariable(index, ac, variable, value);
    if (result == -2) {
        wprintf(L"refused: standby must come before hibernation (on mains, strictly before)\n");
        return 1;
    }
    if (result == -1) {
        std::wstring why = schemes.WhyRefused(variable, value);
        wprintf(L"%ls\n", why.empty() ? L"the value cannot be set on this system" : why.c_str());
        return 1;
    }
    return 0;
}

int GetSet(SchemeTool& schemes, bool set, int argc, wchar_t** argv) {
    int index = 0, ac = 0, value = 0;
    if (argc != (set ? 4 : 3) || !Index(argv[0], &index) || !Side(argv[2], &ac) || (set && !Value(argv[3], &value)))
        return Usage();
    if (!schemes.FindPwrScheme(index)) return NoScheme(index);
    if (schemes.ParseVarName(argv[1]) < 0) {
        wprintf(L"there is no variable \"%ls\"\n", argv[1]);
        return 1;
    }
    if (set) return SetOne(schemes, index, argv[1], ac, value);
    int read = schemes.GetPwrVariable(index, ac, argv[1]);
    if (read == -1) {
        wprintf(L"-\n");
        return 1;
    }
    wprintf(L"%d\n", read);
    return 0;
}

int Export(SchemeTool& schemes, int index, const wchar_t* path) {
    if (!schemes.FindPwrScheme(index)) return NoScheme(index);
    FILE* file = _wfopen(path, L"w, ccs=UTF-8");
    if (!file) {
        wprintf(L"%ls cannot be written\n", path);
        return 1;
    }
    fwprintf(file, L"; A Lumenkeep power scheme: <variable>=<AC value> <DC value>, \"-\" for a value not set.\n");
    fwprintf(file, L"Name=%ls\nDescription=%ls\n", schemes.Name(index).c_str(), schemes.Description(index).c_str());
    for (const wchar_t* variable : zora_vars::kNames) {
        int ac = schemes.GetPwrVariable(index, 1, variable);
        auto half = [](int v) { return v == -1 ? std::wstring(L"-") : std::to_wstring(v); };
        if (schemes.ParseVarName(variable) == zora_vars::VXPS) {
            fwprintf(file, L"%ls=%ls\n", variable, half(ac).c_str());
            continue;
        }
        int dc = schemes.GetPwrVariable(index, 0, variable);
        fwprintf(file, L"%ls=%ls %ls\n", variable, half(ac).c_str(), half(dc).c_str());
    }
    bool ok = !ferror(file);
    ok = fclose(file) == 0 && ok;
    if (!ok) {
        wprintf(L"%ls cannot be written\n", path);
        return 1;
    }
    wprintf(L"exported scheme %d to %ls\n", index, path);
    return 0;
}

struct ImportLine {
    int line;
    std::wstring variable;
    int number;
    int ac, dc;  // -1: not set
};

std::wstring Trim(const std::wstring& text) {
    size_t first = text.find_first_not_of(L" \t\r\n");
    if (first == std::wstring::npos) return L"";
    return text.substr(first, text.find_last_not_of(L" \t\r\n") - first + 1);
}

// One half of a value line: "-" or a number in the catalogue.
bool ImportHalf(SchemeTool& schemes, const std::wstring& variable, const std::wstring& text, int* value,
                std::wstring* why) {
    if (text == L"-") {
        *value = -1;
        return true;
    }
    if (!Value(text.c_str(), value)) {
        *why = L"\"" + text + L"\" is not a number";
        return false;
    }
    *why = schemes.WhyRefused(variable.c_str(), *value);
    return why->empty();
}

int Import(SchemeTool& schemes, const wchar_t* path, int base, const wchar_t* newName) {
    FILE* file = _wfopen(path, L"r, ccs=UTF-8");
    if (!file) {
        wprintf(L"%ls cannot be read\n", path);
        return 1;
    }
    std::wstring name, description;
    std::vector<ImportLine> values;
    std::vector<bool> seen(zora_vars::kCount, false);
    wchar_t buffer[1024];
    int line = 0;
    std::wstring error;
    while (error.empty() && fgetws(buffer, 1024, file)) {
        ++line;
        std::wstring text = Trim(buffer);
        if (text.empty() || text[0] == L';') continue;
        size_t equals = text.find(L'=');
        if (equals == std::wstring::npos) {
            error = L"not \"<variable>=<AC value> <DC value>\"";
            break;
        }
        std::wstring key = Trim(text.substr(0, equals)), value = Trim(text.substr(equals + 1));
        if (key == L"Name") {
            name = value;
            continue;
        }
        if (key == L"Description") {
            description = value;
            continue;
        }
        int number = schemes.ParseVarName(key.c_str());
        if (number < 0) {
            error = L"there is no variable \"" + key + L"\"";
            break;
        }
        if (seen[number]) {
            error = key + L" is given twice";
            break;
        }
        seen[number] = true;
        ImportLine entry{line, zora_vars::kNames[number], number, -1, -1};
        size_t blank = value.find_first_of(L" \t");
        std::wstring acText = blank == std::wstring::npos ? value : value.substr(0, blank);
        std::wstring dcText = blank == std::wstring::npos ? L"" : Trim(value.substr(blank));
        if (number == zora_vars::VXPS ? !dcText.empty() : dcText.empty()) {
            error = number == zora_vars::VXPS ? L"VXPS holds one value" : L"an AC and a DC value are needed";
            break;
        }
        std::wstring why;
        if (!ImportHalf(schemes, entry.variable, acText, &entry.ac, &why) ||
            (number != zora_vars::VXPS && !ImportHalf(schemes, entry.variable, dcText, &entry.dc, &why))) {
            error = why;
            break;
        }
        values.push_back(entry);
    }
    fclose(file);
    if (newName) name = newName;
    if (error.empty() && name.empty()) error = L"the file names no scheme (a \"Name=\" line)", line = 0;
    if (!error.empty()) {
        if (line) wprintf(L"%ls:%d: %ls; nothing imported\n", path, line, error.c_str());
        else wprintf(L"%ls: %ls; nothing imported\n", path, error.c_str());
        return 1;
    }

    if (!schemes.FindPwrScheme(base)) return NoScheme(base);
    int added = schemes.AddPwrScheme(name.c_str(), description.empty() ? nullptr : description.c_str(), base);
    if (added == -2) {
        wprintf(L"a scheme with that name exists\n");
        return 1;
    }
    if (added < 0) {
        wprintf(L"the scheme \"%ls\" cannot be created\n", name.c_str());
        return 1;
    }
    // One half of a line; false once a value is refused, after saying so.
    auto set = [&](const ImportLine& entry, int ac) {
        int value = ac ? entry.ac : entry.dc;
        if (value == -1 || (entry.number == zora_vars::VXPS && !ac)) return true;
        if (SetOne(schemes, added, entry.variable.c_str(), ac, value) == 0) return true;
        wprintf(L"%ls:%d: %ls cannot be set; nothing imported\n", path, entry.line, entry.variable.c_str());
        return false;
    };
    auto find = [&](int number) -> const ImportLine* {
        for (const ImportLine& entry : values)
            if (entry.number == number) return &entry;
        return nullptr;
    };
    // The order matters where the system ties settings together: XP keeps standby before
    // hibernation (so hibernation is cleared first and set last), and a fixed processor
    // speed and an adaptive one replace each other (so the one that rules comes last).
    bool ok = true;
    for (int ac : {1, 0})
        ok = ok && schemes.SetPwrVariable(added, ac, zora_vars::kNames[zora_vars::HibernateTimeOut], 0) != -1;
    for (const ImportLine& entry : values)
        if (entry.number != zora_vars::HibernateTimeOut && entry.number != zora_vars::CpuAdaptive &&
            entry.number != zora_vars::CpuSpeed)
            ok = ok && set(entry, 1) && set(entry, 0);
    const ImportLine* adaptive = find(zora_vars::CpuAdaptive);
    const ImportLine* speed = find(zora_vars::CpuSpeed);
    for (int ac : {1, 0}) {
        bool adapts = adaptive && (ac ? adaptive->ac : adaptive->dc) > 0;
        const ImportLine* order[2] = {adapts ? speed : adaptive, adapts ? adaptive : speed};
        for (const ImportLine* entry : order)
            if (entry) ok = ok && set(*entry, ac);
    }
    if (const ImportLine* hibernate = find(zora_vars::HibernateTimeOut)) ok = ok && set(*hibernate, 1) && set(*hibernate, 0);
    if (!ok) {
        schemes.DeletePwrScheme(added);
        return 1;
    }
    wprintf(L"imported scheme %d: %ls\n", added, schemes.Name(added).c_str());
    return 0;
}

int RunSchemeCommand(SchemeTool& schemes, int argc, wchar_t** argv) {
    const wchar_t* verb = argv[0];
    --argc;
    ++argv;
    int index = 0;
    if (wcscmp(verb, L"list") == 0) return argc == 0 ? List(schemes) : Usage();
    if (wcscmp(verb, L"create") == 0) return Create(schemes, argc, argv);
    if (wcscmp(verb, L"get") == 0 || wcscmp(verb, L"set") == 0) return GetSet(schemes, verb[0] == L's', argc, argv);
    if (wcscmp(verb, L"import") == 0) {
        if (argc < 1) return Usage();
        int base = schemes.GetActivePwrScheme();
        const wchar_t* name = nullptr;
        for (int i = 1; i < argc; i += 2) {
            if (i + 1 >= argc) return Usage();
            if (wcscmp(argv[i], L"--from") == 0 && Index(argv[i + 1], &base)) continue;
            if (wcscmp(argv[i], L"--name") == 0) {
                name = argv[i + 1];
                continue;
            }
            return Usage();
        }
        return Import(schemes, argv[0], base, name);
    }
    if (wcscmp(verb, L"export") == 0) return argc == 2 && Index(argv[0], &index) ? Export(schemes, index, argv[1]) : Usage();
    if (argc != 1 || !Index(argv[0], &index)) return Usage();
    if (wcscmp(verb, L"show") == 0) return Show(schemes, index);
    if (wcscmp(verb, L"delete") == 0) return Delete(schemes, index);
    if (wcscmp(verb, L"activate") == 0) return Activate(schemes, index);
    return Usage();
}

}  // namespace

int SchemeCommand(int argc, wchar_t** argv) {
    if (argc < 1) return Usage();
    SchemeFileWatch watch;
    SchemeTool schemes;
    if (watch.Report()) return 1;
    int rc = RunSchemeCommand(schemes, argc, argv);
    return watch.Report() && rc != 2 ? 1 : rc;
}
