#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>

#include "WinHandles.h"
#include "ZORACfg.h"

namespace {
constexpr int kPathSize = 260;
constexpr wchar_t kProfileSubfolder[] = L"Korvex\\ZORA\\Cfg";

int IsFolder(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
}  // namespace

CZORAProfile::~CZORAProfile() = default;
unsigned long CZORAProfile::GetVersion() { return 1000; }

wchar_t* CZORAProfile::GetHomePath(wchar_t* buffer, int size) {
    if (!buffer || size <= 0) return nullptr;
    wchar_t folder[MAX_PATH] = {};
    HRESULT hr = SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
    if (FAILED(hr)) {
        DBGOUT(L"SHGetFolderPath failed for %ld", static_cast<long>(hr));
        return nullptr;
    }
    size_t len = wcslen(folder);
    if (len == 0) return nullptr;
    int needSlash = folder[len - 1] != L'\\';
    size_t total = len + static_cast<size_t>(needSlash) + wcslen(kProfileSubfolder);
    if (total + 1 > static_cast<size_t>(size)) return nullptr;
    wcscpy(buffer, folder);
    if (needSlash) wcscat(buffer, L"\\");
    wcscat(buffer, kProfileSubfolder);
    return buffer;
}

int CZORAProfile::Initialize(const wchar_t* fileName, const wchar_t* folder) {
    m_szPath[0] = L'\0';
    if (!fileName) return 0;
    if (folder) {
        if (wcslen(folder) + 1 > static_cast<size_t>(kPathSize)) return 0;
        wcscpy(m_szPath, folder);
        size_t len = wcslen(m_szPath);
        if (len && m_szPath[len - 1] == L'\\') m_szPath[len - 1] = L'\0';
    } else if (!GetHomePath(m_szPath, kPathSize)) {
        m_szPath[0] = L'\0';
        return 0;
    }

    if (!IsFolder(m_szPath)) SHCreateDirectoryExW(nullptr, m_szPath, nullptr);

    if (wcslen(m_szPath) + 1 + wcslen(fileName) + 1 > static_cast<size_t>(kPathSize)) {
        m_szPath[0] = L'\0';
        return 0;
    }
    wcscat(m_szPath, L"\\");
    wcscat(m_szPath, fileName);
    if (PathFileExistsW(m_szPath)) return 1;

    // An empty file; the profile functions fill it on the first write.
    UniqueFile file(CreateFileW(m_szPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return 1;
    return PathFileExistsW(m_szPath) ? 1 : 0;
}
