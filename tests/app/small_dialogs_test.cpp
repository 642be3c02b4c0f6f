// TALO's small dialogs inside one process, from the English resource module: the warning
// and confirmation boxes (layout, icon, result). A modal dialog is driven from a thread timer that runs inside its
// own message loop.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "ConfirmDlg.h"
#include "Dialog.h"
#include "ResourceModule.h"
#include "TaloResIds.h"
#include "TestSupport.h"
#include "WarningDlg.h"

namespace {

// The English resource module for the life of a case.
class EnglishModule {
public:
    EnglishModule() : m_module(LoadLibraryW((test::ExeDir() + L"\\TALORes.dll").c_str())) {
        talo::SetResourceModule(m_module);
    }
    ~EnglishModule() {
        talo::SetResourceModule(nullptr);
        if (m_module != nullptr) FreeLibrary(m_module);
    }
    bool Ok() const { return m_module != nullptr; }

private:
    HMODULE m_module;
};

// What the timer does once the dialog has a window; it then ends the dialog with the
// button given, or with Cancel when the dialog stays after some seconds.
struct ModalDriver {
    const talo::CDialogBase* dialog;
    std::function<void(HWND)> inspect;
    int button;
    bool inspected = false;
    int ticks = 0;
};
ModalDriver* g_driver = nullptr;

void CALLBACK DriveModal(HWND, UINT, UINT_PTR, DWORD) {
    ModalDriver* driver = g_driver;
    if (driver == nullptr || driver->dialog->m_hWnd == nullptr) return;
    HWND dialog = driver->dialog->m_hWnd;
    if (!driver->inspected) {
        driver->inspected = true;
        UpdateWindow(dialog);
        driver->inspect(dialog);
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(driver->button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, driver->button)));
    } else if (++driver->ticks == 100) {
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    }
}

// Runs the dialog modally, inspect(window) once it is up, then ends it with button.
template <class Dialog>
INT_PTR RunModal(Dialog& dialog, int button, const std::function<void(HWND)>& inspect) {
    ModalDriver driver = {&dialog, inspect, button};
    g_driver = &driver;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, DriveModal);
    const INT_PTR result = dialog.DoModal(nullptr);
    KillTimer(nullptr, timer);
    g_driver = nullptr;
    return driver.inspected ? result : -2;
}

RECT ChildRect(HWND dialog, int id) {
    RECT rect = {};
    HWND child = GetDlgItem(dialog, id);
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::string Text(const RECT& r) {
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ")-(" + std::to_string(r.right) + ", " +
           std::to_string(r.bottom) + ")";
}

// The distinct colours of a square of the dialog's client area as drawn on screen.
size_t ColoursAt(HWND dialog, int x, int y, int size) {
    std::set<COLORREF> colours;
    HDC dc = GetDC(dialog);
    for (int dy = 0; dy < size; ++dy)
        for (int dx = 0; dx < size; ++dx) colours.insert(GetPixel(dc, x + dx, y + dy));
    ReleaseDC(dialog, dc);
    return colours.size();
}

// Both boxes: their size centred in the work area, the caption as title, the message in
// Tahoma 13 x 5 at its place, the buttons at theirs; the warning paints the system's
// warning icon at (20, 20); the box ends with the button pressed.
TEST(SmallDialogs, WarningAndConfirmLayoutIconAndResult) {
    EnglishModule module;
    ASSERT_TRUE(module.Ok());
    RECT work = {};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    struct Control {
        int id;
        RECT rect;
    };
    const struct {
        bool warning;
        int press;
        SIZE size;
        RECT message;
        std::vector<Control> buttons;
    } cases[] = {
        {true, IDOK, {380, 130}, {60, 20, 360, 70}, {{IDOK, {140, 65, 230, 90}}}},
        {false, IDOK, {320, 130}, {60, 25, 280, 75}, {{IDOK, {60, 65, 150, 90}}, {IDCANCEL, {160, 65, 250, 90}}}},
        {false, IDCANCEL, {320, 130}, {60, 25, 280, 75}, {{IDOK, {60, 65, 150, 90}}, {IDCANCEL, {160, 65, 250, 90}}}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const std::wstring caption = L"Caption " + std::to_wstring(i);
        const std::wstring message = L"Message number " + std::to_wstring(i);
        talo::CWarningDlg warning;
        talo::CConfirmDlg confirm;
        warning.SetTexts(caption.c_str(), message.c_str());
        confirm.SetTexts(caption.c_str(), message.c_str());
        const talo::CTALOStatic& label = c.warning ? warning.Message() : confirm.Message();
        auto inspect = [&](HWND box) {
            RECT window = {};
            GetWindowRect(box, &window);
            EXPECT_EQ(c.size.cx, window.right - window.left) << "case " << i;
            EXPECT_EQ(c.size.cy, window.bottom - window.top) << "case " << i;
            EXPECT_EQ(work.left + (work.right - work.left - c.size.cx) / 2, window.left) << "case " << i;
            EXPECT_EQ(work.top + (work.bottom - work.top - c.size.cy) / 2, window.top) << "case " << i;
            wchar_t title[64] = L"";
            GetWindowTextW(box, title, 64);
            EXPECT_EQ(caption, title) << "case " << i;
            EXPECT_EQ(message, label.Text()) << "case " << i;
            LOGFONTW font = {};
            label.GetLogFont(&font);
            EXPECT_STREQ(L"Tahoma", font.lfFaceName) << "case " << i;
            EXPECT_EQ(13, font.lfHeight) << "case " << i;
            EXPECT_EQ(5, font.lfWidth) << "case " << i;
            EXPECT_EQ(FW_NORMAL, font.lfWeight) << "case " << i;
            EXPECT_EQ(Text(c.message), Text(ChildRect(box, IDC_MESSAGE_TEXT))) << "case " << i;
            for (const Control& button : c.buttons)
                EXPECT_EQ(Text(button.rect), Text(ChildRect(box, button.id))) << "case " << i << ", button " << button.id;
            EXPECT_EQ(c.warning ? nullptr : GetDlgItem(box, IDCANCEL), GetDlgItem(box, IDCANCEL)) << "case " << i;
            // The icon is more than one colour; where the confirmation has none, the
            // background is one.
            const size_t colours = ColoursAt(box, 20, 20, 32);
            if (c.warning)
                EXPECT_GT(colours, 2u) << "case " << i;
            else
                EXPECT_EQ(1u, colours) << "case " << i;
        };
        const INT_PTR result = c.warning ? RunModal(warning, c.press, inspect) : RunModal(confirm, c.press, inspect);
        EXPECT_EQ(c.press, result) << "case " << i;
    }
}

}  // namespace
