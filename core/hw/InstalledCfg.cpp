#include "InstalledCfg.h"

#include <winternl.h>

#include <cwchar>
#include <cwctype>
#include <mutex>
#include <string>
#include <vector>

#include "ZORACfg.h"

// The system's own conversion behind GetPrivateProfileIntW (mingw's headers lack it).
extern "C" NTSTATUS NTAPI RtlUnicodeStringToInteger(const UNICODE_STRING* text, ULONG base, ULONG* value);

namespace hw {

struct CfgKey {
    std::wstring name;
    std::wstring value;
    bool hasValue = false;
};

struct CfgSection {
    std::wstring name;
    std::vector<CfgKey> keys;
};

struct CfgContents {
    std::vector<CfgSection> sections;
};

namespace {
// A file written less recently than this before it was read has settled (100-ns units).
constexpr ULONGLONG kSettled = 2ull * 10000000ull;

ULONGLONG Ticks(const FILETIME& time) { return (ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

bool SameFile(const WIN32_FILE_ATTRIBUTE_DATA& a, const WIN32_FILE_ATTRIBUTE_DATA& b) {
    return a.nFileSizeHigh == b.nFileSizeHigh && a.nFileSizeLow == b.nFileSizeLow &&
           Ticks(a.ftLastWriteTime) == Ticks(b.ftLastWriteTime);
}

// The double-null-terminated list a profile function returns, grown until it fits
// (a list that fills the buffer to size - 2 was cut).
template <class Read>
std::vector<std::wstring> ProfileList(Read read) {
    std::vector<wchar_t> buffer(4096);
    for (;;) {
        DWORD n = read(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n + 2 < buffer.size() || buffer.size() >= (1u << 24)) {
            std::vector<std::wstring> items;
            for (const wchar_t* item = buffer.data(); item < buffer.data() + n && *item; item += wcslen(item) + 1)
                items.emplace_back(item);
            return items;
        }
        buffer.assign(buffer.size() * 4, L'\0');
    }
}

std::shared_ptr<const CfgContents> ReadContents(const wchar_t* path) {
    auto contents = std::make_shared<CfgContents>();
    std::vector<std::wstring> names = ProfileList([&](wchar_t* buffer, DWORD size) {
        return GetPrivateProfileSectionNamesW(buffer, size, path);
    });
    for (const std::wstring& name : names) {
        bool duplicate = false;
        for (const CfgSection& section : contents->sections)
            duplicate = duplicate || _wcsicmp(section.name.c_str(), name.c_str()) == 0;
        if (duplicate) continue;  // the profile functions only ever reach the first
        CfgSection section;
        section.name = name;
        std::vector<std::wstring> lines = ProfileList([&](wchar_t* buffer, DWORD size) {
            return GetPrivateProfileSectionW(name.c_str(), buffer, size, path);
        });
        for (const std::wstring& line : lines) {
            CfgKey key;
            size_t eq = line.find(L'=');
            key.name = line.substr(0, eq);
            if (eq != std::wstring::npos) {
                key.value = line.substr(eq + 1);
                key.hasValue = true;
            }
            section.keys.push_back(key);
        }
        contents->sections.push_back(section);
    }
    return contents;
}

struct KeptFile {
    std::wstring path;
    WIN32_FILE_ATTRIBUTE_DATA data;
    std::shared_ptr<const CfgContents> contents;
};
std::mutex g_keptLock;
std::vector<KeptFile> g_kept;  // one per installed file, under g_keptLock

// A requested name without its surrounding blanks, as the profile functions take it.
std::wstring Trimmed(const wchar_t* name) {
    std::wstring text = name ? name : L"";
    size_t first = 0, last = text.size();
    while (first < last && iswspace(text[first])) ++first;
    while (last > first && iswspace(text[last - 1])) --last;
    return text.substr(first, last - first);
}

const CfgKey* FindKey(const CfgContents* contents, const wchar_t* section, const wchar_t* key) {
    if (!contents || !section || !key) return nullptr;
    std::wstring sectionName = Trimmed(section), keyName = Trimmed(key);
    for (const CfgSection& s : contents->sections) {
        if (_wcsicmp(s.name.c_str(), sectionName.c_str()) != 0) continue;
        for (const CfgKey& k : s.keys)
            if (_wcsicmp(k.name.c_str(), keyName.c_str()) == 0) return k.hasValue ? &k : nullptr;
        return nullptr;
    }
    return nullptr;
}
}  // namespace

bool InstalledCfg::Open(const wchar_t* fileName) {
    m_contents.reset();
    CZORACfg cfg;
    if (!cfg.Initialize(fileName)) return false;
    const wchar_t* path = cfg.GetFullPath();
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return false;

    std::lock_guard<std::mutex> hold(g_keptLock);
    KeptFile* kept = nullptr;
    for (KeptFile& file : g_kept)
        if (_wcsicmp(file.path.c_str(), path) == 0) kept = &file;
    if (kept && kept->contents && SameFile(kept->data, data)) {
        m_contents = kept->contents;
        return true;
    }
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    std::shared_ptr<const CfgContents> contents = ReadContents(path);
    m_contents = contents;
    // Kept only once settled; a file written in the last moments is read at every use.
    bool settled = Ticks(now) >= Ticks(data.ftLastWriteTime) + kSettled;
    if (!kept) {
        g_kept.push_back(KeptFile{path, data, nullptr});
        kept = &g_kept.back();
    }
    kept->data = data;
    kept->contents = settled ? contents : nullptr;
    return true;
}

int InstalledCfg::GetString(const wchar_t* section, const wchar_t* key, const wchar_t* fallback, wchar_t* out,
                            int size) const {
    if (!out || size <= 0) return 0;
    const CfgKey* found = FindKey(m_contents.get(), section, key);
    std::wstring value = found ? found->value : (fallback ? fallback : L"");
    if (!found)
        while (!value.empty() && value.back() == L' ') value.pop_back();  // as the profile functions take it
    // Surrounding quotes are dropped: "text" and 'text' read as text.
    size_t begin = 0, end = value.size();
    if (end >= 2 && (value[0] == L'"' || value[0] == L'\'') && value[end - 1] == value[0]) {
        ++begin;
        --end;
    }
    size_t count = end - begin;
    if (count > static_cast<size_t>(size - 1)) count = static_cast<size_t>(size - 1);
    wmemcpy(out, value.c_str() + begin, count);
    out[count] = L'\0';
    return static_cast<int>(count);
}

int InstalledCfg::GetInt(const wchar_t* section, const wchar_t* key, int fallback) const {
    wchar_t text[30];
    if (!GetString(section, key, L"", text, 30) || !text[0]) return fallback;
    UNICODE_STRING unicode;
    RtlInitUnicodeString(&unicode, text);
    ULONG value = 0;
    RtlUnicodeStringToInteger(&unicode, 0, &value);
    return static_cast<int>(value);
}

int InstalledCfg::GetHex(const wchar_t* section, const wchar_t* key, int fallback) const {
    wchar_t text[20];
    int n = GetString(section, key, L"", text, 20);
    if (n < 3 || text[0] != L'0' || text[1] != L'x') return fallback;
    // Hex digits right after "0x", read as far as they go (as "%x" does).
    unsigned value = 0;
    int digits = 0;
    for (const wchar_t* p = text + 2; iswxdigit(*p); ++p, ++digits)
        value = value * 16 + static_cast<unsigned>(iswdigit(*p) ? *p - L'0' : (towlower(*p) - L'a' + 10));
    return digits ? static_cast<int>(value) : fallback;
}

}  // namespace hw
