// talogallery: photographs TALO's windows, one 24-bit BMP each, so that a change of a
// template, a text or a picture can be looked at. scripts/screenshots.sh and the demo run
// it inside a Wine virtual desktop (with a taskbar) and turn the pictures into PNGs.
//
//   talogallery OUTDIR MODULE NAME=TEMPLATE [NAME=TEMPLATE ...]
//     Each skinned dialog opens in the frame with the module as TALO's resource module, is
//     photographed once it has painted, and closes again. The scheme dialogs show the
//     schemes of the machine the library sees (the virtual notebook, when it is on).
//   talogallery tray OUTDIR TALO SCHEME [COMMAND]
//     Runs TALO as a user meets it: right-clicks its tray icon and photographs the menu
//     (tray-menu), chooses the scheme named SCHEME in the menu with the keyboard,
//     photographs the device dialog if it comes (device-dialog) and keeps every device
//     off with OK, then runs COMMAND (such as unplugging the mains) and photographs the
//     balloon that follows (balloon); at the end TALO is closed.
//   talogallery quick OUTDIR TALO MODULE NAME
//     Runs TALO with MODULE as its resource module ([TALOCfg] TALOResource, put back
//     afterwards), opens the quick switch as the hotkey does and photographs the strip
//     once it has risen, with the desktop around it (NAME.bmp); then closes it and TALO.
//   talogallery battery OUTDIR TALO MODULE NAME
//     The same with the battery status dialog, opened as the tray menu's "Battery status"
//     does, photographed once it has shown its values (NAME.bmp).
//
// Exit status 1 when the module cannot be loaded, a dialog cannot be made, or TALO does
// not come up or answer.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "AboutDlg.h"
#include "AppConfig.h"
#include "ChangeIconDlg.h"
#include "ConfirmDlg.h"
#include "FrameDlg.h"
#include "PwrDesp.h"
#include "ResourceModule.h"
#include "SchemeEditDlg.h"
#include "SchemeEx.h"
#include "SchemeMainDlg.h"
#include "SchemeOptionDlg.h"
#include "TaloResIds.h"
#include "WarningDlg.h"
#include "ZORACfg.h"
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

// A rectangle of the screen as a bottom-up 24-bit BMP file.
bool SaveRect(const RECT& rect, const std::wstring& path) {
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

bool SaveWindow(HWND hwnd, const std::wstring& path) {
    RECT rect;
    return GetWindowRect(hwnd, &rect) && SaveRect(rect, path);
}

// ---- TALO as a user meets it ----

constexpr UINT kTrayCallback = WM_USER;  // TALO's tray callback message, icon 1

struct Search {
    DWORD processId;
    const wchar_t* className;
    bool visible;
    HWND found;
};

BOOL CALLBACK FindTopLevel(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    wchar_t cls[32] = L"";
    GetWindowThreadProcessId(hwnd, &owner);
    GetClassNameW(hwnd, cls, 32);
    if (owner != s->processId || wcscmp(cls, s->className) != 0 || (IsWindowVisible(hwnd) != FALSE) != s->visible)
        return TRUE;
    s->found = hwnd;
    return FALSE;
}

// A top-level window of the process, waited for up to timeoutMs.
HWND WaitForWindow(DWORD processId, const wchar_t* className, bool visible, DWORD timeoutMs) {
    for (DWORD waited = 0;; waited += 100) {
        Search search = {processId, className, visible, nullptr};
        EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) return search.found;
        if (waited >= timeoutMs) return nullptr;
        Sleep(100);
    }
}

// The window with the taskbar's notification corner beside it: what a user sees.
bool SaveWithTray(HWND hwnd, const std::wstring& path) {
    RECT rect, screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (!GetWindowRect(hwnd, &rect)) return false;
    rect.left = rect.left - 160 > 0 ? rect.left - 160 : 0;
    rect.top = rect.top - 16 > 0 ? rect.top - 16 : 0;
    rect.right = screen.right;
    rect.bottom = screen.bottom;
    return SaveRect(rect, path);
}

int RunCommand(const wchar_t* commandLine) {
    std::wstring line = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return -1;
    WaitForSingleObject(info.hProcess, 60000);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return static_cast<int>(code);
}

// The menu's item of the scheme of that name: the menu lists the schemes in the library's
// order. -1 when there is none.
int SchemeItem(const wchar_t* name) {
    CSchemeEx scheme;
    scheme.Initialize();
    std::vector<talo::PWRDESP> list;
    if (!talo::EnumSchemes(scheme, list)) return -1;
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].name == name) return static_cast<int>(i);
    return -1;
}

int Tray(const std::wstring& outDir, const wchar_t* talo, const wchar_t* schemeName, const wchar_t* command) {
    std::wstring line = std::wstring(L"\"") + talo + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(talo, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        fwprintf(stderr, L"talogallery: %ls cannot be started (%lu)\n", talo, GetLastError());
        return 1;
    }
    UniqueHandle process(info.hProcess);
    CloseHandle(info.hThread);
    const DWORD id = info.dwProcessId;
    HWND hub = WaitForWindow(id, L"#32770", false, 60000);
    int status = 0;
    if (hub == nullptr) {
        fwprintf(stderr, L"talogallery: TALO's window did not come\n");
        return 1;
    }
    // TALO's first run makes its schemes before its message loop starts, a few seconds on
    // a busy machine: wait for the scheme and for the hub to answer.
    int item = -1;
    for (int waited = 0; waited < 60000 && (item = SchemeItem(schemeName)) < 0; waited += 250) Sleep(250);
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(hub, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 60000, &answer);
    Sleep(2500);  // the first polls; the icon is in the taskbar
    if (item < 0) {
        fwprintf(stderr, L"talogallery: no scheme is named %ls\n", schemeName);
        status = 1;
    }

    // The right button released over the icon: the menu at the cursor.
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 60, GetSystemMetrics(SM_CYSCREEN) - 10);
    PostMessageW(hub, kTrayCallback, 1, WM_RBUTTONUP);
    HWND menu = WaitForWindow(id, L"#32768", true, 10000);
    if (menu == nullptr) {
        fwprintf(stderr, L"talogallery: TALO's menu did not open\n");
        status = 1;
    } else {
        Sleep(500);
        if (!SaveWithTray(menu, outDir + L"\\tray-menu.bmp")) status = 1;
        for (int i = 0; i <= item; ++i) PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageW(menu, WM_KEYDOWN, item >= 0 ? VK_RETURN : VK_ESCAPE, 0);
        // With the device dialog on, it asks which devices to keep running.
        if (HWND devices = WaitForWindow(id, L"#32770", true, 4000)) {
            Sleep(800);
            if (!SaveWindow(devices, outDir + L"\\device-dialog.bmp")) status = 1;
            PostMessageW(devices, WM_COMMAND, IDOK, 0);
        }
    }
    Sleep(2000);
    if (command != nullptr && RunCommand(command) != 0) {
        fwprintf(stderr, L"talogallery: %ls failed\n", command);
        status = 1;
    }
    // The poll notices the new source within a second; the balloon fades in.
    if (HWND balloon = WaitForWindow(id, L"#32770", true, 5000)) {
        Sleep(1200);
        if (!SaveWithTray(balloon, outDir + L"\\balloon.bmp")) status = 1;
    }
    PostMessageW(hub, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.get(), 20000) != WAIT_OBJECT_0) {
        fwprintf(stderr, L"talogallery: TALO did not end\n");
        TerminateProcess(process.get(), 1);
        status = 1;
    }
    return status;
}

// What TALO is asked to open: the quick switch by its hotkey, or the battery status dialog
// by the tray menu's command.
enum class TaloWindow { kQuickSwitch, kBatteryStatus };

// A window of TALO with a resource module of its own.
int OpenAndPhotograph(TaloWindow window, const std::wstring& outDir, const wchar_t* talo, const wchar_t* module,
                      const wchar_t* name) {
    CZORACfg cfg;
    wchar_t previous[MAX_PATH] = L"";
    if (!cfg.Initialize(L"ZORACfg.ini") ||
        !cfg.GetString(L"TALOCfg", L"TALOResource", L"TALORes.dll", previous, MAX_PATH) ||
        !cfg.PutString(L"TALOCfg", L"TALOResource", module)) {
        fwprintf(stderr, L"talogallery: the installed configuration cannot be changed\n");
        return 1;
    }
    std::wstring line = std::wstring(L"\"") + talo + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(talo, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        fwprintf(stderr, L"talogallery: %ls cannot be started (%lu)\n", talo, GetLastError());
        cfg.PutString(L"TALOCfg", L"TALOResource", previous);
        return 1;
    }
    UniqueHandle process(info.hProcess);
    CloseHandle(info.hThread);
    const DWORD id = info.dwProcessId;
    int status = 0;
    HWND hub = WaitForWindow(id, L"#32770", false, 60000);
    if (hub == nullptr) {
        fwprintf(stderr, L"talogallery: TALO's window did not come\n");
        status = 1;
    } else {
        Sleep(1500);  // the first polls
        if (window == TaloWindow::kQuickSwitch)
            PostMessageW(hub, WM_HOTKEY, 10999, 0);
        else
            PostMessageW(hub, WM_COMMAND, 32771, 0);
        // A first run prepares the schemes before the hub takes messages.
        HWND opened = WaitForWindow(id, L"#32770", true, 60000);
        if (opened == nullptr) {
            fwprintf(stderr, L"talogallery: TALO's window did not come\n");
            status = 1;
        } else {
            Sleep(1000);  // risen (or filled) and painted
            RECT rect;
            GetWindowRect(opened, &rect);
            if (window == TaloWindow::kQuickSwitch) {
                rect.left -= 20;
                rect.top -= 20;
                rect.right += 20;
                rect.bottom = GetSystemMetrics(SM_CYSCREEN);
            }
            if (!SaveRect(rect, outDir + L"\\" + name + L".bmp")) status = 1;
            PostMessageW(opened, WM_COMMAND, IDCANCEL, 0);
            Sleep(500);
        }
    }
    PostMessageW(hub, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.get(), 20000) != WAIT_OBJECT_0) {
        fwprintf(stderr, L"talogallery: TALO did not end\n");
        TerminateProcess(process.get(), 1);
        status = 1;
    }
    cfg.PutString(L"TALOCfg", L"TALOResource", previous);
    return status;
}

// ---- The dialogs by their classes ----

constexpr int kNotMade = 1, kNotWritten = 2;
constexpr wchar_t kProduct[] = L"Lumenkeep";

std::wstring ModuleText(UINT id) {
    wchar_t text[512] = L"";
    talo::LoadResString(id, text, 512);
    return text;
}

// The icon chooser's owner as a read-only scheme page with the third icon chosen.
class GalleryPage : public talo::IIconOwnerPage {
public:
    int IconCount() const override { return 9; }
    int ChosenIcon() const override { return 2; }
    void SetChosenIcon(int) override {}
    bool IsEditable() const override { return false; }
    talo::CChangeIconBtn* IconButton() override { return nullptr; }
};

// Opens the dialog modeless, photographs it once it has painted and closes it again;
// prepare, when given, acts on the window first (as a click would).
template <class Dialog>
int Photograph(Dialog& dialog, const std::wstring& path, void (*prepare)(HWND) = nullptr) {
    HWND hwnd = dialog.Create(nullptr);
    if (hwnd == nullptr) return kNotMade;
    SetWindowPos(hwnd, HWND_TOP, 16, 16, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    if (prepare != nullptr) prepare(hwnd);
    Pump(600);
    const bool saved = SaveWindow(hwnd, path);
    dialog.DestroyWindow();
    Pump(50);
    return saved ? 0 : kNotWritten;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 5 && wcscmp(argv[1], L"tray") == 0)
        return Tray(argv[2], argv[3], argv[4], argc > 5 ? argv[5] : nullptr);
    if (argc >= 6 && wcscmp(argv[1], L"quick") == 0)
        return OpenAndPhotograph(TaloWindow::kQuickSwitch, argv[2], argv[3], argv[4], argv[5]);
    if (argc >= 6 && wcscmp(argv[1], L"battery") == 0)
        return OpenAndPhotograph(TaloWindow::kBatteryStatus, argv[2], argv[3], argv[4], argv[5]);
    if (argc < 4) {
        fwprintf(stderr,
                 L"usage: talogallery OUTDIR MODULE NAME=TEMPLATE[+TAB] [NAME=TEMPLATE[+TAB] ...]\n"
                 L"       talogallery tray OUTDIR TALO SCHEME [COMMAND]\n"
                 L"       talogallery quick OUTDIR TALO MODULE NAME\n"
                 L"       talogallery battery OUTDIR TALO MODULE NAME\n");
        return 2;
    }
    HMODULE module = LoadLibraryW(argv[2]);
    if (module == nullptr) {
        fwprintf(stderr, L"talogallery: %ls cannot be loaded (%lu)\n", argv[2], GetLastError());
        return 1;
    }
    talo::SetResourceModule(module);
    talo::LoadLayoutSettings();
    int status = 0;
    for (int i = 3; i < argc; ++i) {
        const wchar_t* equals = wcschr(argv[i], L'=');
        if (equals == nullptr) {
            fwprintf(stderr, L"talogallery: %ls is not NAME=TEMPLATE\n", argv[i]);
            status = 2;
            continue;
        }
        std::wstring name(argv[i], static_cast<size_t>(equals - argv[i]));
        const std::wstring path = std::wstring(argv[1]) + L"\\" + name + L".bmp";
        // A dialog TALO has a class for is shown by that class, the others in the bare frame.
        UINT id = static_cast<UINT>(_wtoi(equals + 1));
        int result = 0;
        if (id == talo::CAboutDlg::IDD) {
            talo::CAboutDlg dialog;
            result = Photograph(dialog, path);
        } else if (id == talo::CWarningDlg::IDD) {
            talo::CWarningDlg dialog;
            dialog.SetTexts(kProduct, ModuleText(IDS_NAME_EXISTS).c_str());
            result = Photograph(dialog, path);
        } else if (id == talo::CConfirmDlg::IDD) {
            talo::CConfirmDlg dialog;
            dialog.SetTexts(kProduct, ModuleText(IDS_DELETE_CONFIRM).c_str());
            result = Photograph(dialog, path);
        } else if (id == talo::CSchemeMainDlg::IDD) {
            talo::CSchemeMainDlg dialog;
            result = Photograph(dialog, path);
        } else if (id == talo::CSchemeEditDlg::IDD) {
            // A new scheme; "+1" shows the second tab (mains), as a click on it does.
            talo::CSchemeEditDlg dialog;
            const bool mains = wcsstr(equals, L"+1") != nullptr;
            result = Photograph(dialog, path, mains ? +[](HWND hwnd) {
                PostMessageW(GetDlgItem(hwnd, IDC_EDIT_SHEET), PSM_SETCURSEL, 1, 0);
            } : nullptr);
        } else if (id == talo::CSchemeOptionDlg::IDD) {
            talo::CSchemeOptionDlg dialog;
            result = Photograph(dialog, path);
        } else if (id == talo::CChangeIconDlg::IDD) {
            GalleryPage page;
            talo::CChangeIconDlg dialog(page);
            result = Photograph(dialog, path);
        } else {
            talo::CFrameDlg dialog(id);
            result = Photograph(dialog, path);
        }
        if (result == kNotMade) fwprintf(stderr, L"talogallery: template %ls cannot be made (%lu)\n", equals + 1, GetLastError());
        if (result == kNotWritten) fwprintf(stderr, L"talogallery: %ls cannot be written\n", path.c_str());
        if (result != 0) status = 1;
    }
    talo::SetResourceModule(nullptr);
    FreeLibrary(module);
    return status;
}
