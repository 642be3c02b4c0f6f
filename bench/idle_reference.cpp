// The idle benchmark's yardstick: an empty Win32 program that sits in its message loop
// with one timer firing every second, and does nothing else. Started with the variable
// ZORA_IDLE_MODULES set (module paths separated by ';'), it first loads those modules and
// keeps them: the same yardstick carrying the modules another program needs.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t modules[8192];
    const DWORD length = GetEnvironmentVariableW(L"ZORA_IDLE_MODULES", modules, 8192);
    if (length > 0 && length < 8192) {
        std::wstring list(modules, length);
        for (size_t start = 0; start < list.size();) {
            size_t end = list.find(L';', start);
            if (end == std::wstring::npos) end = list.size();
            if (end > start) LoadLibraryW(list.substr(start, end - start).c_str());
            start = end + 1;
        }
    }
    SetTimer(nullptr, 1, 1000, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}
