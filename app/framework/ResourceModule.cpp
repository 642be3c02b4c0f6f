#include "ResourceModule.h"

namespace talo {
namespace {
// Set once by the application's start-up, read by the dialogs on its one UI thread.
HINSTANCE g_resourceModule = nullptr;
}  // namespace

HINSTANCE ResourceModule() { return g_resourceModule != nullptr ? g_resourceModule : GetModuleHandleW(nullptr); }

void SetResourceModule(HINSTANCE module) { g_resourceModule = module; }

int LoadResString(UINT id, wchar_t* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = L'\0';
    return LoadStringW(ResourceModule(), id, buffer, size);
}

std::wstring ResString(UINT id) {
    wchar_t text[512] = L"";
    if (id != 0) LoadResString(id, text, 512);
    return text;
}

HICON LoadResIcon(UINT id, int cx, int cy) {
    return static_cast<HICON>(
        LoadImageW(ResourceModule(), MAKEINTRESOURCEW(id), IMAGE_ICON, cx, cy, LR_SHARED | (cx == 0 ? LR_DEFAULTSIZE : 0)));
}

HCURSOR LoadResCursor(UINT id) {
    return static_cast<HCURSOR>(LoadImageW(ResourceModule(), MAKEINTRESOURCEW(id), IMAGE_CURSOR, 0, 0,
                                           LR_SHARED | LR_DEFAULTSIZE));
}

HBITMAP LoadResBitmap(UINT id) {
    return static_cast<HBITMAP>(
        LoadImageW(ResourceModule(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

}  // namespace talo
