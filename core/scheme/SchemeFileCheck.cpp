// The user's scheme file before any operation reads or writes it: made with a first line
// where it is missing, and checked where it exists. The profile functions read whatever a
// file holds and write back only what they could parse, so a garbled file would be
// silently replaced by the first write, and an index map beyond any bound would be
// walked index by index. A file that cannot be a scheme file is kept aside instead.
#include <windows.h>
#include <shlobj.h>

#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "SchemeFiles.h"
#include "WinHandles.h"
#include "ZORABase.h"

using namespace zora_scheme_file;

namespace scheme_files {
namespace {

// The first line of every scheme file the library makes: a file of its own is never
// empty, so an empty one has lost what it held.
constexpr char kFirstLine[] = "; Lumenkeep: the power schemes of this user\r\n";

enum class Verdict { Usable, Empty, TooLong, NotSettings, BadMaxIndex };

const wchar_t* Reason(Verdict verdict) {
    switch (verdict) {
    case Verdict::Empty:
        return L"empty";
    case Verdict::TooLong:
        return L"longer than any scheme file";
    case Verdict::NotSettings:
        return L"not a file of sections and keys";
    case Verdict::BadMaxIndex:
        return L"corrupt: [Schemes] SchemeMaxIndex is not -1 nor an index from 0 to 1023";
    default:
        return L"usable";
    }
}

bool IsBlank(unsigned unit) { return unit == L' ' || unit == L'\t' || unit == L'\r'; }
unsigned Lower(unsigned unit) { return unit >= L'A' && unit <= L'Z' ? unit - L'A' + L'a' : unit; }

// The file's text as code units: UTF-16 after its byte-order mark, else single bytes
// (ANSI or UTF-8, whose mark is passed over); only ASCII matters to the checks.
class Units {
public:
    Units(const unsigned char* data, size_t size) : m_data(data) {
        m_wide = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;
        if (m_wide) {
            m_first = 1;
            m_count = size / 2;
        } else {
            m_first = size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF ? 3 : 0;
            m_count = size;
        }
    }
    size_t Begin() const { return m_first; }
    size_t End() const { return m_count; }
    unsigned At(size_t i) const {
        return m_wide ? static_cast<unsigned>(m_data[2 * i] | (m_data[2 * i + 1] << 8)) : m_data[i];
    }
    bool Equals(size_t begin, size_t end, const wchar_t* ascii) const {
        for (; begin < end && *ascii; ++begin, ++ascii)
            if (Lower(At(begin)) != Lower(static_cast<unsigned>(*ascii))) return false;
        return begin == end && !*ascii;
    }

private:
    const unsigned char* m_data;
    bool m_wide = false;
    size_t m_first = 0, m_count = 0;
};

// Sections, keys and comments, as the profile functions read them. A control character
// other than tab and line ends is no text; a text without a single section, key or
// comment is none of ours.
Verdict InspectText(const Units& text) {
    bool recognised = false, inSchemes = false, maxSeen = false;
    for (size_t line = text.Begin(); line < text.End();) {
        size_t end = line;
        while (end < text.End() && text.At(end) != L'\n') ++end;
        size_t b = line, e = end;
        line = end + 1;
        for (size_t i = b; i < e; ++i)
            if (text.At(i) < 0x20 && text.At(i) != L'\t' && text.At(i) != L'\r') return Verdict::NotSettings;
        while (b < e && IsBlank(text.At(b))) ++b;
        while (e > b && IsBlank(text.At(e - 1))) --e;
        if (b == e) continue;
        unsigned first = text.At(b);
        if (first == L';' || first == L'#') {
            recognised = true;
            continue;
        }
        if (first == L'[') {
            recognised = true;
            size_t close = b + 1;
            while (close < e && text.At(close) != L']') ++close;
            size_t nb = b + 1, ne = close;
            while (nb < ne && IsBlank(text.At(nb))) ++nb;
            while (ne > nb && IsBlank(text.At(ne - 1))) --ne;
            inSchemes = text.Equals(nb, ne, L"Schemes");
            continue;
        }
        size_t eq = b;
        while (eq < e && text.At(eq) != L'=') ++eq;
        if (eq == e) continue;  // a bare word: a key without a value to the profile functions
        recognised = true;
        size_t ke = eq;
        while (ke > b && IsBlank(text.At(ke - 1))) --ke;
        if (!inSchemes || maxSeen || !text.Equals(b, ke, L"SchemeMaxIndex")) continue;
        maxSeen = true;  // the profile functions read the first
        wchar_t value[32] = {};
        size_t length = e - (eq + 1);
        if (length == 0) continue;  // an empty value reads as absent
        if (length >= 32) return Verdict::BadMaxIndex;
        for (size_t i = 0; i < length; ++i) value[i] = static_cast<wchar_t>(text.At(eq + 1 + i));
        int max = 0;
        if (!ReadStored(value, &max) || max < -1 || max > kMaxSchemeIndex) return Verdict::BadMaxIndex;
    }
    return recognised ? Verdict::Usable : Verdict::NotSettings;
}

Verdict Inspect(const wchar_t* path, ULONGLONG size) {
    if (size == 0) return Verdict::Empty;
    if (size > kMaxFileBytes) return Verdict::TooLong;
    UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return Verdict::Usable;  // unreadable now: the profile functions will say so
    std::unique_ptr<unsigned char[]> data(new (std::nothrow) unsigned char[static_cast<size_t>(size)]);
    if (!data) return Verdict::Usable;
    DWORD read = 0;
    if (!ReadFile(file.get(), data.get(), static_cast<DWORD>(size), &read, nullptr)) return Verdict::Usable;
    if (read == 0) return Verdict::Empty;
    return InspectText(Units(data.get(), read));
}

// The last file found usable, by its size and time of writing: an unchanged file is not
// read again. Operations of several threads share it.
struct Stamp {
    wchar_t path[MAX_PATH];
    ULONGLONG size;
    FILETIME written;
};
std::mutex g_usableLock;
Stamp g_usable = {};

bool SameStamp(const Stamp& a, const Stamp& b) {
    return a.size == b.size && CompareFileTime(&a.written, &b.written) == 0 && _wcsicmp(a.path, b.path) == 0;
}

// "<file>.corrupt-<local time>", numbered when that is taken; false when it cannot move.
bool KeepAside(const wchar_t* path, Verdict verdict) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t aside[MAX_PATH] = {};
    DWORD error = ERROR_SUCCESS;
    for (int n = 0; n < 100; ++n) {
        wchar_t number[16] = {};
        if (n) _snwprintf(number, 15, L"-%d", n);
        int chars = _snwprintf(aside, MAX_PATH - 1, L"%ls.corrupt-%04u%02u%02u-%02u%02u%02u%ls", path, now.wYear,
                               now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, number);
        if (chars <= 0) {
            error = ERROR_FILENAME_EXCED_RANGE;
            break;
        }
        if (MoveFileExW(path, aside, MOVEFILE_WRITE_THROUGH)) {
            CZORABase::DBGOUT(L"The scheme file %ls is %ls: it is kept as %ls, and a new one is started.\n", path,
                              Reason(verdict), aside);
            return true;
        }
        error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    CZORABase::DBGOUT(L"The scheme file %ls is %ls, and it cannot be kept aside (error %lu): it is not used.\n", path,
                      Reason(verdict), static_cast<unsigned long>(error));
    return false;
}

// A new scheme file with its first line, made whole under another name and then renamed,
// so that nobody ever finds it empty; when another process made one first, that one stays.
void MakeSchemeFile(const wchar_t* folder, const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        SHCreateDirectoryExW(nullptr, folder, nullptr);
    wchar_t temporary[MAX_PATH] = {};
    int chars = _snwprintf(temporary, MAX_PATH, L"%ls.new-%lu-%lu", path, GetCurrentProcessId(), GetCurrentThreadId());
    if (chars <= 0 || chars >= MAX_PATH) return;
    {
        UniqueFile file(
            CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return;
        DWORD written = 0;
        WriteFile(file.get(), kFirstLine, sizeof(kFirstLine) - 1, &written, nullptr);
    }
    if (!MoveFileExW(temporary, path, 0)) DeleteFileW(temporary);
}

// Whether the file at `path` in `folder` may be opened: made where missing, checked
// where it exists, kept aside where it cannot be a scheme file.
bool UsableSchemeFile(const wchar_t* folder, const wchar_t* path) {
    Stamp stamp = {};
    wcsncpy(stamp.path, path, MAX_PATH - 1);
    auto take = [&](Stamp* taken) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return false;
        taken->size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        taken->written = data.ftLastWriteTime;
        return true;
    };
    if (!take(&stamp)) {
        MakeSchemeFile(folder, path);
        return true;  // a new file, or the one another process made meanwhile
    }
    {
        std::lock_guard<std::mutex> lock(g_usableLock);
        if (SameStamp(stamp, g_usable)) return true;
    }
    // The profile functions of another process rewrite a file from its start: caught in
    // the middle, it is empty or cut. A file is corrupt only when it stays the same.
    Verdict verdict = Inspect(path, stamp.size);
    for (int look = 0; look < 3 && verdict != Verdict::Usable; ++look) {
        Sleep(20);
        Stamp again = stamp;
        if (!take(&again)) {
            MakeSchemeFile(folder, path);  // gone meanwhile
            return true;
        }
        if (SameStamp(again, stamp)) break;
        stamp = again;
        verdict = Inspect(path, stamp.size);
    }
    if (verdict == Verdict::Usable) {
        std::lock_guard<std::mutex> lock(g_usableLock);
        g_usable = stamp;
        return true;
    }
    KeepAside(path, verdict);
    SetLastError(ERROR_FILE_CORRUPT);
    return false;
}

}  // namespace

bool OpenSchemeFile(CZORAProfile& file) {
    wchar_t name[kTextChars];
    const wchar_t* folder = UserFolder();
    if (!folder || !NamedFile(L"PowerScheme", name)) return false;
    wchar_t path[MAX_PATH] = {};
    int chars = _snwprintf(path, MAX_PATH, L"%ls\\%ls", folder, name);
    if (chars <= 0 || chars >= MAX_PATH) return false;
    if (!UsableSchemeFile(folder, path)) return false;
    return file.Initialize(name, folder) != 0;
}

int ReadStoredValue(CZORAProfile& file, const wchar_t* section, const wchar_t* key, int absent) {
    // The default is no text a file can hold: it tells an absent key from any present one.
    constexpr wchar_t kAbsent[] = L"\x01";
    wchar_t text[64] = {};
    int chars = file.GetString(section, key, kAbsent, text, 64);
    if (chars == 1 && text[0] == kAbsent[0]) return absent;
    if (chars >= 63) return -1;  // cut short: longer than any value
    return StoredValue(text);
}

int InstalledString(CZORACfg& file, const wchar_t* section, const wchar_t* key, wchar_t (&text)[kTextChars]) {
    struct Kept {
        ULONGLONG size;
        FILETIME written;
        std::wstring value;
    };
    // Few keys are read this way (file names, the variables' GUIDs); past this many the
    // store starts again.
    constexpr size_t kMostKept = 512;
    static std::mutex lock;
    static std::map<std::wstring, Kept> kept;

    const wchar_t* path = file.GetFullPath();
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const bool stamped = path != nullptr && GetFileAttributesExW(path, GetFileExInfoStandard, &data);
    const ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    std::wstring id;
    if (stamped) {
        id = std::wstring(path) + L'\n' + section + L'\n' + key;
        std::lock_guard<std::mutex> guard(lock);
        auto found = kept.find(id);
        if (found != kept.end() && found->second.size == size &&
            CompareFileTime(&found->second.written, &data.ftLastWriteTime) == 0) {
            wcsncpy(text, found->second.value.c_str(), kTextChars - 1);
            text[kTextChars - 1] = L'\0';
            return static_cast<int>(wcslen(text));
        }
    }
    const int chars = file.GetString(section, key, L"", text, kTextChars);
    if (stamped) {
        std::lock_guard<std::mutex> guard(lock);
        if (kept.size() >= kMostKept) kept.clear();
        kept[id] = Kept{size, data.ftLastWriteTime, text};
    }
    return chars;
}

bool ReadMaxIndex(CZORAProfile& file, int* max) {
    wchar_t text[64] = {};
    if (file.GetString(L"Schemes", L"SchemeMaxIndex", L"", text, 64) == 0) {
        *max = -1;
        return true;
    }
    int value = -1;
    if (ReadStored(text, &value) && value >= -1 && value <= kMaxSchemeIndex) {
        *max = value;
        return true;
    }
    CZORABase::DBGOUT(L"The scheme file %ls is %ls.\n", file.GetFullPath(), Reason(Verdict::BadMaxIndex));
    SetLastError(ERROR_FILE_CORRUPT);
    return false;
}

}  // namespace scheme_files
