#include "CatalogueCheck.h"

#include <cwchar>
#include <mutex>
#include <string>
#include <vector>

#include "ZORABase.h"
#include "ZoraPowerVariables.h"
#include "ZoraSchemeFile.h"

using namespace zora_vars;

// The allowed values of every variable, as one version of the catalogue file holds them.
struct CatalogueCheck::Table {
    std::wstring path;
    ULONGLONG size = 0;
    FILETIME written = {};
    std::vector<int> options[kCount];
};

namespace {

// One profile call per section: "OptionNumber" and the "ValueOption%d" below it, read as
// the scheme file's values are read (a text that is no number offers nothing).
std::vector<int> OptionsOf(const wchar_t* path, const wchar_t* section) {
    std::vector<int> options;
    std::vector<wchar_t> text(32768);
    DWORD n = GetPrivateProfileSectionW(section, text.data(), static_cast<DWORD>(text.size()), path);
    std::vector<std::pair<std::wstring, int>> keys;
    for (const wchar_t* line = text.data(); line < text.data() + n && *line; line += wcslen(line) + 1) {
        const wchar_t* eq = wcschr(line, L'=');
        if (!eq) continue;
        std::wstring key(line, eq);
        while (!key.empty() && (key.back() == L' ' || key.back() == L'\t')) key.pop_back();
        keys.emplace_back(key, zora_scheme_file::StoredValue(eq + 1));
    }
    auto find = [&](const wchar_t* wanted, int* value) {
        for (const auto& [key, stored] : keys)
            if (_wcsicmp(key.c_str(), wanted) == 0) {
                *value = stored;
                return true;
            }
        return false;
    };
    int count = 0;
    if (!find(L"OptionNumber", &count) || count < 1 || count > 1000) return options;
    for (int i = 0; i < count; ++i) {
        wchar_t key[32];
        _snwprintf(key, 32, L"ValueOption%d", i);
        key[31] = L'\0';
        int value = -1;
        // Read as the library reads it for the editors: a missing option is -1.
        options.push_back(find(key, &value) ? value : -1);
    }
    return options;
}

std::mutex g_tableLock;
std::shared_ptr<const CatalogueCheck::Table> g_table;

// The table for the file as it is now: the one read before while the file has not
// changed, else read afresh.
std::shared_ptr<const CatalogueCheck::Table> CurrentTable(const wchar_t* path) {
    auto table = std::make_shared<CatalogueCheck::Table>();
    table->path = path ? path : L"";
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!path || !*path || !GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return table;
    table->size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    table->written = data.ftLastWriteTime;
    {
        std::lock_guard<std::mutex> lock(g_tableLock);
        if (g_table && g_table->size == table->size && CompareFileTime(&g_table->written, &table->written) == 0 &&
            _wcsicmp(g_table->path.c_str(), path) == 0)
            return g_table;
    }
    for (int number = 0; number < kCount; ++number) table->options[number] = OptionsOf(path, kNames[number]);
    std::lock_guard<std::mutex> lock(g_tableLock);
    g_table = table;
    return table;
}

}  // namespace

CatalogueCheck::CatalogueCheck(const wchar_t* catalogueFile) : m_table(CurrentTable(catalogueFile)) {}

bool CatalogueCheck::Allows(int number, int value) {
    if (value == -1) return true;
    if (number >= 0 && number < kCount)
        for (int option : m_table->options[number])
            if (option == value) return true;
    m_refused = true;
    CZORABase::DBGOUT(L"ApplyCurrentScheme: %ls=%d is not a value the catalogue offers; not applied.\n",
                      number >= 0 && number < kCount ? kNames[number] : L"?", value);
    return false;
}
