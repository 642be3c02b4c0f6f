// The scheme store: the user's schemes, their indexes and the scheme file beside the
// system's list; creating, deleting, listing and activating schemes. The system's side
// of each operation is in SchemeXp.cpp and SchemeVista.cpp.
#include "SchemeEx.h"

#include <cwchar>

#include "EcAgent.h"
#include "GravoAgent.h"
#include "SchemeFiles.h"
#include "SchemePolicy.h"
#include "ShellGuid.h"
#include "WinHandles.h"
#include "WindowsVersion.h"
#include "ZoraPowerVariables.h"
#include "ZoraSystemApi.h"

using namespace scheme_files;

namespace {

constexpr int kNameWork = 259;  // the working buffer of a new scheme's name, with its terminator
constexpr int kXpNameMax = 29;
constexpr int kVistaNameMax = 127;
constexpr unsigned long kDefaultTimeoutMs = 1000;

// What the enumeration callbacks of this file carry.
struct NameDescCopy {
    int index;
    wchar_t* name;
    unsigned long nameCapacity;
    wchar_t* description;
    unsigned long descriptionCapacity;
};

struct NameSearch {
    const wchar_t* name;
    int index;
};

// Copies as much of `from` as fits `capacity` characters, always terminated.
void CopyCut(wchar_t* to, unsigned long capacity, const wchar_t* from) {
    if (!to || capacity == 0) return;
    size_t n = from ? wcslen(from) : 0;
    if (n > capacity - 1) n = capacity - 1;
    if (n) wmemcpy(to, from, n);
    to[n] = L'\0';
}

unsigned char CALLBACK CopyNameDesc(unsigned int index, unsigned long, wchar_t* name, unsigned long,
                                    wchar_t* description, LONG_PTR user) {
    auto* copy = reinterpret_cast<NameDescCopy*>(user);
    if (static_cast<int>(index) == copy->index) {
        CopyCut(copy->name, copy->nameCapacity, name);
        if (copy->description) CopyCut(copy->description, copy->descriptionCapacity, description);
    }
    return 1;
}

unsigned char CALLBACK MatchName(unsigned int index, unsigned long, wchar_t* name, unsigned long, wchar_t*,
                                 LONG_PTR user) {
    auto* search = reinterpret_cast<NameSearch*>(user);
    if (name && wcscmp(name, search->name) == 0) {
        search->index = static_cast<int>(index);
        return 0;
    }
    return 1;
}

// The variables a new scheme takes over from its base on both systems, in this order;
// the processor's on Vista and the system's own are copied by the system's side.
constexpr int kCopiedPacked[] = {zora_vars::LinkStepOption, zora_vars::BacklightLevel, zora_vars::BTStatus,
                                 zora_vars::Display, zora_vars::LanSpeed, zora_vars::LanSpeedVista};

}  // namespace

CSchemeEx::CSchemeEx() : m_nVista(0) {}
CSchemeEx::CSchemeEx(const CSchemeEx& other) : CZORABase(other), m_nVista(other.m_nVista) {}
CSchemeEx& CSchemeEx::operator=(const CSchemeEx& other) {
    m_nVista = other.m_nVista;
    return *this;
}
unsigned long CSchemeEx::GetVersion() { return 1000; }
CSchemeEx::~CSchemeEx() = default;

void CSchemeEx::Initialize() {
    DWORD major = 0;
    if (!WindowsMajorVersion(&major)) return;
    if (major != 6) {
        m_nVista = 0;
        return;
    }
    // The power-policy functions come from PowrProf.dll by name, through the
    // system-API table; each operation fails on its own when one is missing.
    if (GetModuleHandleW(L"PowrProf.dll") || LoadLibraryW(L"PowrProf.dll")) m_nVista = 1;
}

int CSchemeEx::GuidIntoString(GUID* guid, wchar_t* buffer, unsigned long* capacity) {
    if (!guid || !buffer || !capacity) return 0;
    wchar_t text[64];
    int n = swprintf(text, 64, L" {%08lX-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                     static_cast<unsigned long>(guid->Data1), guid->Data2, guid->Data3, guid->Data4[0],
                     guid->Data4[1], guid->Data4[2], guid->Data4[3], guid->Data4[4], guid->Data4[5],
                     guid->Data4[6], guid->Data4[7]);
    if (n < 0 || *capacity < static_cast<unsigned long>(n) + 1) {
        *capacity = static_cast<unsigned long>(n) + 1;
        return 0;
    }
    wcscpy(buffer, text);
    return 1;
}

int CSchemeEx::GuidFromString(const wchar_t* text, GUID* guid) { return ParseShellGuid(text, guid) ? 1 : 0; }

int CSchemeEx::GetPwrSchemeMaxIndex() {
    if (m_nVista) {
        CZORAProfile file;
        int max = -1;
        if (!OpenSchemeFile(file) || !ReadMaxIndex(file, &max)) return -1;
        return max;
    }
    int highest = 0;
    xp_policy::ForEachScheme(HKEY_LOCAL_MACHINE, [&highest](int id) {
        if (id > highest) highest = id;
        return true;
    });
    return highest;
}

bool scheme_files::MapSchemeIndex(CZORAProfile& file, int index, GUID* guid) {
    SchemeSection section(index);
    wchar_t text[kTextChars];
    if (file.GetString(section, L"GUID", L"", text, kTextChars) <= 0) return false;
    if (!ParseShellGuid(text, guid)) return false;
    DWORD size = 0;
    DWORD rc = ZoraSys()->PowerReadFriendlyName(nullptr, guid, nullptr, nullptr, nullptr, &size);
    if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) return true;
    // Without the function the system cannot say whether it still knows the scheme:
    // the index stays mapped.
    if (rc == ERROR_CALL_NOT_IMPLEMENTED) return false;
    // The system no longer knows it: the stale index goes with its settings.
    WritePrivateProfileStringW(section, nullptr, nullptr, file.GetFullPath());
    return false;
}

int scheme_files::IndexOfGuid(CZORAProfile& file, int max, const GUID& guid) {
    for (int n = 0; n <= max; ++n) {
        wchar_t text[kTextChars];
        if (file.GetString(SchemeSection(n), L"GUID", L"", text, kTextChars) <= 0) continue;
        // A GUID that does not parse is an entry that is missing, not the end of the map.
        GUID stored;
        if (!ParseShellGuid(text, &stored)) continue;
        if (memcmp(&stored, &guid, sizeof(GUID)) == 0) return n;
    }
    return -1;
}

int CSchemeEx::SchemeIndexToGuid(int index, GUID* guid) {
    if (!guid) return 0;
    CZORAProfile file;
    return OpenSchemeFile(file) && MapSchemeIndex(file, index, guid) ? 1 : 0;
}

int CSchemeEx::SchemeGuidToIndex(const GUID* guid) {
    if (!guid) return -1;
    CZORAProfile file;
    int max = -1;
    if (!OpenSchemeFile(file) || !ReadMaxIndex(file, &max)) return -1;
    return IndexOfGuid(file, max, *guid);
}

int CSchemeEx::FindPwrScheme(int index) {
    if (m_nVista) {
        GUID guid;
        return SchemeIndexToGuid(index, &guid);
    }
    bool found = false;
    xp_policy::ForEachScheme(HKEY_CURRENT_USER, [&found, index](int id) {
        found = id == index;
        return !found;
    });
    return found ? 1 : 0;
}

int CSchemeEx::FindPwrScheme(const wchar_t* name) {
    if (!name) return -1;
    NameSearch search{name, -1};
    EnumPwrSchemes(MatchName, reinterpret_cast<LONG_PTR>(&search));
    return search.index;
}

int CSchemeEx::EnumPwrSchemes(EnumPwrSchemesProc callback, LONG_PTR userValue) {
    if (!callback) return 0;
    if (!m_nVista) return xp_policy::Enumerate(callback, userValue);
    // A scheme file that cannot be read is a failed listing, not an empty one.
    CZORAProfile file;
    int max = -1;
    if (!OpenSchemeFile(file) || !ReadMaxIndex(file, &max)) return 0;
    for (int n = 0; n <= max; ++n) {
        GUID guid;
        if (!MapSchemeIndex(file, n, &guid)) continue;
        wchar_t name[kTextChars] = {};
        wchar_t description[kTextChars] = {};
        DWORD size = sizeof(name);
        if (ZoraSys()->PowerReadFriendlyName(nullptr, &guid, nullptr, nullptr, reinterpret_cast<UCHAR*>(name),
                                             &size) != ERROR_SUCCESS)
            name[0] = L'\0';
        size = sizeof(description);
        if (ZoraSys()->PowerReadDescription(nullptr, &guid, nullptr, nullptr, reinterpret_cast<UCHAR*>(description),
                                            &size) != ERROR_SUCCESS)
            description[0] = L'\0';
        name[kTextChars - 1] = description[kTextChars - 1] = L'\0';
        if (!callback(static_cast<unsigned int>(n), static_cast<unsigned long>(wcslen(name) + 1), name,
                      static_cast<unsigned long>(wcslen(description) + 1), description, userValue))
            break;
    }
    return 1;
}

int CSchemeEx::GetPwrSchemeNameDesc(int index, wchar_t* name, unsigned long* nameCapacity, wchar_t* description,
                                    unsigned long* descriptionCapacity) {
    if (!FindPwrScheme(index)) return 0;
    NameDescCopy copy{index, name, nameCapacity ? *nameCapacity : 0, description,
                      descriptionCapacity ? *descriptionCapacity : 0};
    return EnumPwrSchemes(CopyNameDesc, reinterpret_cast<LONG_PTR>(&copy));
}

int CSchemeEx::AddPwrScheme(const wchar_t* name, const wchar_t* description, int base) {
    if (!name) return -1;
    // A name that does not fit the working buffer is too long for either system.
    size_t length = wcsnlen(name, kNameWork);
    if (length == 0 || length >= static_cast<size_t>(kNameWork)) return -1;
    wchar_t work[kNameWork];
    const wchar_t* first = name;
    while (*first == L' ') ++first;
    size_t n = wcslen(first);
    while (n > 0 && first[n - 1] == L' ') --n;
    if (n == 0) return -1;
    wmemcpy(work, first, n);
    work[n] = L'\0';

    if (FindPwrScheme(work) != -1) return -2;
    if (!FindPwrScheme(base)) return -1;
    if (n > static_cast<size_t>(GetMaxSchemeNameLength())) return -1;

    int added = m_nVista ? VistaAddScheme(work, description, base) : XpAddScheme(work, description, base);
    if (added < 0) return -1;

    auto copy = [&](int number, int ac) {
        const wchar_t* variable = zora_vars::kNames[number];
        SetPwrVariable(added, ac, variable, GetPwrVariable(base, ac, variable));
    };
    for (int number : kCopiedPacked) {
        copy(number, 1);
        copy(number, 0);
    }
    copy(zora_vars::VXPS, 1);  // one value for both sources
    for (int number = zora_vars::Wifi; number <= zora_vars::USBPort11; ++number) {
        copy(number, 1);
        copy(number, 0);
    }
    return added;
}

int CSchemeEx::GetMaxSchemeNameLength() { return m_nVista ? kVistaNameMax : kXpNameMax; }

int CSchemeEx::DeletePwrScheme(int index) {
    if (m_nVista) {
        GUID guid;
        if (!SchemeIndexToGuid(index, &guid)) return 0;
        if (vista_policy::IsBuiltIn(guid)) return 0;
        if (ZoraSys()->PowerDeleteScheme(nullptr, &guid) != ERROR_SUCCESS) return 0;
    } else {
        if (index >= 0 && index <= 5) return 0;
        if (!ZoraSys()->DeletePwrScheme(static_cast<UINT>(index))) return 0;
    }
    // The scheme's own settings go only once the system has let the scheme go.
    CZORAProfile file;
    if (OpenSchemeFile(file)) WritePrivateProfileStringW(SchemeSection(index), nullptr, nullptr, file.GetFullPath());
    return 1;
}

int CSchemeEx::GetActivePwrScheme() {
    if (m_nVista) return VistaGetActive();
    UINT id = 0;
    return ZoraSys()->GetActivePwrScheme(&id) ? static_cast<int>(id) : -1;
}

int CSchemeEx::SetActivePwrScheme(int index) {
    int previous = -1;
    if (m_nVista) {
        if (!VistaActivate(index, &previous)) return -1;
    } else {
        if (index < 0 || !FindPwrScheme(index)) return -1;
        previous = GetActivePwrScheme();
        if (!ZoraSys()->SetActivePwrScheme(static_cast<UINT>(index), nullptr, nullptr)) return -1;
    }

    CZORAProfile file;
    if (OpenSchemeFile(file)) file.PutInt(L"ZORACfg", L"CurrentScheme", index);

    CZORACfg cfg;
    unsigned long timeoutMs = kDefaultTimeoutMs;
    if (OpenMachineCfg(cfg))
        timeoutMs = static_cast<unsigned long>(cfg.GetInt(L"ZoraDevMgr", L"TimeoutMS", kDefaultTimeoutMs));
    wchar_t folder[kTextChars] = {};
    file.GetHomePath(folder, kTextChars);
    IpbDataHeader scratch = {};
    long result = ServiceCall(ApplySchemeRequest, folder, static_cast<unsigned long>(index), &scratch, timeoutMs);
    return result < 0 ? -1 : previous;
}

int CSchemeEx::InitCfgFile() {
    CZORACfg cfg;
    if (!OpenMachineCfg(cfg)) return 0;
    CZORACfg setting;
    if (m_nVista) {
        CZORAProfile file;
        int max = -1;
        if (!OpenSchemeFile(file) || !ReadMaxIndex(file, &max) || !OpenSettingFile(setting)) return 0;
        for (int n = 0; n <= (max < 0 ? 0 : max); ++n)
            WritePrivateProfileStringW(SchemeSection(n), nullptr, nullptr, file.GetFullPath());
        // The index of a scheme is its place in the system's enumeration.
        int count = 0;
        for (; count <= zora_scheme_file::kMaxSchemeIndex; ++count) {
            GUID guid;
            DWORD size = sizeof(guid);
            if (ZoraSys()->PowerEnumerate(nullptr, nullptr, nullptr, ACCESS_SCHEME, static_cast<ULONG>(count),
                                          reinterpret_cast<UCHAR*>(&guid), &size) != ERROR_SUCCESS)
                break;
            wchar_t text[64];
            unsigned long capacity = 64;
            GuidIntoString(&guid, text, &capacity);
            if (!file.PutString(SchemeSection(count), L"GUID", text)) return 0;
        }
        if (!file.PutInt(L"Schemes", L"SchemeMaxIndex", count - 1)) return 0;
    } else if (!OpenSettingFile(setting)) {
        return 0;
    }

    auto support = [&setting](int number, bool supported) {
        setting.PutString(zora_vars::kNames[number], L"SupportStatus", supported ? L"1" : L"0");
    };
    support(zora_vars::LinkStepOption, true);
    {
        CGravoAgent graphics;  // initialises COM for its life
        unsigned long caps = graphics.Setup() == 0 ? graphics.CheckSupportStatus() : 0;
        support(zora_vars::VXPS, (caps & 2) != 0 && caps != 0xFFFFFFFF);
        graphics.Cleanup();
    }
    {
        CEcAgent ec;
        support(zora_vars::BacklightLevel, ec.Setup() == 0 && ec.GetMaxLevels() > 0);
        ec.Cleanup();
    }
    return 1;
}
