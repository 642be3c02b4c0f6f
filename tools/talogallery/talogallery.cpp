// talogallery: photographs TALO's skinned dialogs as a resource module lays them out,
// one 24-bit BMP per dialog, so that a change of a template, a text or a picture can be
// looked at without driving TALO to each window. scripts/screenshots.sh runs it inside
// a Wine virtual desktop and turns the pictures into PNGs.
//
//   talogallery OUTDIR MODULE NAME=TEMPLATE [NAME=TEMPLATE ...]
//
// Each dialog opens in the skinned frame with the module as TALO's resource module, is
// photographed from the screen once it has painted, and closes again. Exit status 1 when
// the module cannot be loaded or a dialog cannot be made.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "AboutDlg.h"
#include "FrameDlg.h"
#include "ResourceModule.h"
#include "WinHandles.h"

namespace {

// Delivers the messages the dialog's painting needs for about ms milliseconds.
void Pump(DWORD ms) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}

// The window's rectangle of the screen as a bottom-up 24-bit BMP file.
bool SaveWindow(HWND hwnd, const std::wstring& path) {
    RECT rect;
    GetWindowRect(hwnd, &rect);
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = bitmap != nullptr;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != FALSE;
        SelectObject(memory, old);
        GdiFlush();
    }
    DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u, size = stride * static_cast<DWORD>(height);
    if (ok) {
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
        file.bfSize = file.bfOffBits + size;
        UniqueFile out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ok = out.get() != INVALID_HANDLE_VALUE && WriteFile(out.get(), &file, sizeof(file), &written, nullptr) &&
             WriteFile(out.get(), &info.bmiHeader, sizeof(info.bmiHeader), &written, nullptr) &&
             WriteFile(out.get(), bits, size, &written, nullptr);
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        fwprintf(stderr, L"usage: talogallery OUTDIR MODULE NAME=TEMPLATE [NAME=TEMPLATE ...]\n");
        return 2;
    }
    HMODULE module = LoadLibraryW(argv[2]);
    if (module == nullptr) {
        fwprintf(stderr, L"talogallery: %ls cannot be loaded (%lu)\n", argv[2], GetLastError());
        return 1;
    }
    talo::SetResourceModule(module);
    int status = 0;
    for (int i = 3; i < argc; ++i) {
        const wchar_t* equals = wcschr(argv[i], L'=');
        if (equals == nullptr) {
            fwprintf(stderr, L"talogallery: %ls is not NAME=TEMPLATE\n", argv[i]);
            status = 2;
            continue;
        }
        std::wstring name(argv[i], static_cast<size_t>(equals - argv[i]));
        // A dialog TALO has a class for is shown by that class, the others in the bare frame.
        UINT id = static_cast<UINT>(_wtoi(equals + 1));
        std::unique_ptr<talo::CFrameDlg> made;
        if (id == talo::CAboutDlg::IDD)
            made = std::make_unique<talo::CAboutDlg>();
        else
            made = std::make_unique<talo::CFrameDlg>(id);
        talo::CFrameDlg& dialog = *made;
        HWND hwnd = dialog.Create(nullptr);
        if (hwnd == nullptr) {
            fwprintf(stderr, L"talogallery: template %ls cannot be made (%lu)\n", equals + 1, GetLastError());
            status = 1;
            continue;
        }
        SetWindowPos(hwnd, HWND_TOP, 16, 16, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
        Pump(600);
        std::wstring path = std::wstring(argv[1]) + L"\\" + name + L".bmp";
        if (!SaveWindow(hwnd, path)) {
            fwprintf(stderr, L"talogallery: %ls cannot be written\n", path.c_str());
            status = 1;
        }
        dialog.DestroyWindow();
        Pump(50);
    }
    talo::SetResourceModule(nullptr);
    FreeLibrary(module);
    return status;
}
