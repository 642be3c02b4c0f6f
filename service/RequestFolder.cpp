#include "RequestFolder.h"

#include <shlobj.h>
#include <wtsapi32.h>

#include <cwchar>

#include "ServiceModule.h"
#include "WinHandles.h"
#include "ZORABase.h"

namespace {

// A text no path can be: the file system's forbidden characters, and a colon anywhere
// but after a drive letter.
bool CanBeAPath(const wchar_t* folder, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        wchar_t c = folder[i];
        if (c < 0x20 || wcschr(L"<>\"|?*", c)) return false;
        if (c == L':' && i != 1) return false;
    }
    return true;
}

// "X:\...": a local absolute path. Everything else is relative to something (the
// service's current folder or drive), or reaches beyond the local file system.
bool IsLocalAbsolute(const wchar_t* folder, size_t length) {
    wchar_t drive = folder[0];
    return length >= 3 && ((drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z')) &&
           folder[1] == L':' && folder[2] == L'\\';
}

// The console user's scheme folder, as the service computes it for its own events.
bool ConsoleUserSchemeFolder(wchar_t (&folder)[MAX_PATH]) {
    DWORD session = WTSGetActiveConsoleSessionId();
    if (session == 0xFFFFFFFF) return false;
    HANDLE raw = nullptr;
    if (!WTSQueryUserToken(session, &raw)) return false;
    UniqueHandle token(raw);
    return UserSchemeFolder(token.get(), folder);
}

long Refuse(const wchar_t* folder, long result, const wchar_t* why) {
    CZORABase::DBGOUT(L"ZoraWorker refused the scheme folder %s: %s\n", folder ? folder : L"(none)", why);
    return result;
}

}  // namespace

bool UserSchemeFolder(HANDLE token, wchar_t (&folder)[MAX_PATH]) {
    HRESULT hr = SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, token, SHGFP_TYPE_CURRENT, folder);
    if (FAILED(hr)) {
        _Module.LogEvent(L"SHGetFolderPath failed for %ld", static_cast<long>(hr));
        return false;
    }
    size_t n = wcslen(folder);
    if (n == 0) return false;
    if (folder[n - 1] != L'\\') wcsncat(folder, L"\\", MAX_PATH - n - 1);
    wcsncat(folder, L"Korvex\\ZORA\\Cfg", MAX_PATH - wcslen(folder) - 1);
    return true;
}

long CheckRequestedSchemeFolder(const wchar_t* folder) {
    size_t length = folder ? wcsnlen(folder, MAX_PATH) : 0;
    if (length == 0 || length >= MAX_PATH) return Refuse(folder, E_INVALIDARG, L"no path");
    // Both "\\server\share" and the "\\?\" and "\\.\" forms: a share would be opened
    // with the machine's credentials, a device path reaches past every name check.
    if ((folder[0] == L'\\' || folder[0] == L'/') && (folder[1] == L'\\' || folder[1] == L'/'))
        return Refuse(folder, E_ACCESSDENIED, L"not a local path");
    if (!CanBeAPath(folder, length)) return Refuse(folder, E_INVALIDARG, L"no path");
    if (!IsLocalAbsolute(folder, length)) return Refuse(folder, E_ACCESSDENIED, L"not an absolute local path");

    wchar_t own[MAX_PATH] = {};
    if (!ConsoleUserSchemeFolder(own)) return Refuse(folder, E_ACCESSDENIED, L"nobody is at the console");
    size_t compared = length;
    if (compared > 3 && folder[compared - 1] == L'\\') --compared;
    size_t ownLength = wcslen(own);
    if (ownLength > 3 && own[ownLength - 1] == L'\\') --ownLength;
    if (compared != ownLength ||
        CompareStringOrdinal(folder, static_cast<int>(compared), own, static_cast<int>(ownLength), TRUE) != CSTR_EQUAL)
        return Refuse(folder, E_ACCESSDENIED, L"not the console user's scheme folder");

    // The folder itself, not a link that leads elsewhere.
    DWORD attributes = GetFileAttributesW(own);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return Refuse(folder, E_ACCESSDENIED, L"not an existing folder of its own");
    return S_OK;
}
