// TALO's small dialogs inside one process, from the English resource module: the warning
// and confirmation boxes (layout, icon, result) and the icon chooser with the scheme
// page's icon button. A modal dialog is driven from a thread timer that runs inside its
// own message loop.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "ChangeIconBtn.h"
#include "ChangeIconDlg.h"
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

// An empty popup with a caption: the host of the icon button.
struct alignas(4) EmptyTemplate {
    DLGTEMPLATE header;
    WORD menu, windowClass, title;
};
constexpr EmptyTemplate kPageTemplate = {{WS_POPUP | WS_VISIBLE | WS_CAPTION, 0, 0, 0, 0, 120, 100}, 0, 0, 0};

// A scheme page as the chooser sees it: a number of icons, the chosen one, editable or
// not, and its icon button in a window of its own.
class FakePage : public talo::IIconOwnerPage {
public:
    FakePage(int count, int chosen, bool editable) : m_count(count), m_chosen(chosen), m_editable(editable) {
        m_host.CreateIndirect(&kPageTemplate.header);
        m_button.Create(m_host, RECT{10, 10, 100, 110});
        m_button.SetImage(talo::CChangeIconBtn::kFirstImage + static_cast<UINT>(chosen));
    }
    ~FakePage() override {
        if (m_host.IsWindow()) m_host.DestroyWindow();
    }
    int IconCount() const override { return m_count; }
    int ChosenIcon() const override { return m_chosen; }
    void SetChosenIcon(int number) override { m_chosen = number; }
    bool IsEditable() const override { return m_editable; }
    talo::CChangeIconBtn* IconButton() override { return &m_button; }

    class CPageHost : public talo::CDialogImpl<CPageHost> {
    public:
        enum { IDD = 30003 };  // made in memory
        std::vector<int> commands;
        BEGIN_MSG_MAP(CPageHost)
            MESSAGE_HANDLER(WM_COMMAND, OnCommand)
            REFLECT_NOTIFICATIONS()
        END_MSG_MAP()

    private:
        LRESULT OnCommand(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
            commands.push_back(LOWORD(wParam));
            handled = FALSE;
            return 0;
        }
    };

    CPageHost m_host;
    talo::CChangeIconBtn m_button;

private:
    int m_count;
    int m_chosen;
    bool m_editable;
};

LPARAM Point(int x, int y) { return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)); }

// The chooser lists one 60 x 60 image per icon of the page with 68-pixel spacing; a click
// on an icon, or OK with one selected, makes it the page's choice, and the page's button
// shows it when the page is editable; Cancel after a click keeps the click's choice.
TEST(SmallDialogs, IconChooserListsTheIconsAndAClickChoosesOne) {
    EnglishModule module;
    ASSERT_TRUE(module.Ok());
    const struct {
        int count, chosen;
        bool editable;
        int click, select;  // -1: none
        int press;
        int chosenAfter;
    } cases[] = {
        {9, 0, true, 3, -1, IDCANCEL, 3},  {9, 1, false, 4, -1, IDOK, 4}, {5, 0, true, -1, 2, IDOK, 2},
        {5, 4, false, -1, 1, IDOK, 1},     {5, 4, true, -1, -1, IDOK, 4}, {3, 2, true, -1, 0, IDCANCEL, 2},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        FakePage page(c.count, c.chosen, c.editable);
        ASSERT_TRUE(page.m_button.IsWindow()) << "case " << i;
        talo::CChangeIconDlg chooser(page);
        const INT_PTR result = RunModal(chooser, c.press, [&](HWND dialog) {
            wchar_t title[128] = L"", expected[128] = L"";
            GetWindowTextW(dialog, title, 128);
            talo::LoadResString(IDS_CHANGE_ICON_TITLE, expected, 128);
            EXPECT_STREQ(expected, title) << "case " << i;
            RECT window = {};
            GetWindowRect(dialog, &window);
            EXPECT_EQ(400, window.right - window.left) << "case " << i;
            EXPECT_EQ(335, window.bottom - window.top) << "case " << i;
            // Below the frame's header, which the prompt and the list leave to the product's name.
            const int listTop = chooser.HeaderHeight() + 35;
            EXPECT_EQ("(20, " + std::to_string(listTop) + ")-(378, 255)", Text(ChildRect(dialog, IDC_CHANGE_ICON_LIST)))
                << "case " << i;
            EXPECT_LE(chooser.HeaderHeight(), ChildRect(dialog, IDC_CHANGE_ICON_PROMPT).top) << "case " << i;
            EXPECT_EQ("(190, 265)-(270, 290)", Text(ChildRect(dialog, IDOK))) << "case " << i;
            EXPECT_EQ("(290, 265)-(370, 290)", Text(ChildRect(dialog, IDCANCEL))) << "case " << i;
            HWND list = GetDlgItem(dialog, IDC_CHANGE_ICON_LIST);
            EXPECT_EQ(c.count, ListView_GetItemCount(list)) << "case " << i;
            HIMAGELIST images = ListView_GetImageList(list, LVSIL_NORMAL);
            EXPECT_EQ(c.count, ImageList_GetImageCount(images)) << "case " << i;
            int cx = 0, cy = 0;
            ImageList_GetIconSize(images, &cx, &cy);
            EXPECT_EQ(60, cx) << "case " << i;
            EXPECT_EQ(60, cy) << "case " << i;
            const DWORD spacing = static_cast<DWORD>(ListView_GetItemSpacing(list, FALSE));
            EXPECT_EQ(68, LOWORD(spacing)) << "case " << i;
            EXPECT_EQ(68, HIWORD(spacing)) << "case " << i;
            if (c.click >= 0) {
                RECT icon = {};
                ListView_GetItemRect(list, c.click, &icon, LVIR_ICON);
                const LPARAM at = Point((icon.left + icon.right) / 2, (icon.top + icon.bottom) / 2);
                SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
                SendMessageW(list, WM_LBUTTONUP, 0, at);
                EXPECT_EQ(c.click, page.ChosenIcon()) << "case " << i << ": chosen on the click";
            }
            if (c.select >= 0) ListView_SetItemState(list, c.select, LVIS_SELECTED, LVIS_SELECTED);
        });
        EXPECT_EQ(c.press, result) << "case " << i;
        EXPECT_EQ(c.chosenAfter, page.ChosenIcon()) << "case " << i;
        const int shown = c.editable ? c.chosenAfter : c.chosen;
        EXPECT_EQ(talo::CChangeIconBtn::kFirstImage + static_cast<UINT>(shown), page.m_button.Image()) << "case " << i;
    }
}

// The icon button: 8000, the caption of the module, the first icon; a press released on
// it sends command 8000 to its parent, one released elsewhere sends nothing.
TEST(SmallDialogs, IconButtonClickSendsItsCommand) {
    EnglishModule module;
    ASSERT_TRUE(module.Ok());
    wchar_t caption[128] = L"";
    talo::LoadResString(IDS_CHANGE_ICON_BUTTON, caption, 128);
    ASSERT_NE(L'\0', caption[0]);
    const struct {
        POINT release;
        size_t commands;
    } cases[] = {{{20, 20}, 1}, {{200, 200}, 0}, {{-5, 30}, 0}, {{89, 99}, 1}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        FakePage::CPageHost host;
        ASSERT_NE(nullptr, host.CreateIndirect(&kPageTemplate.header)) << "case " << i;
        talo::CChangeIconBtn button;
        ASSERT_TRUE(button.Create(host, RECT{10, 10, 100, 110})) << "case " << i;
        EXPECT_EQ(8000, button.GetDlgCtrlID()) << "case " << i;
        EXPECT_STREQ(caption, button.Caption()) << "case " << i;
        EXPECT_EQ(2072u, button.Image()) << "case " << i;
        EXPECT_EQ(BS_OWNERDRAW, button.GetStyle() & BS_TYPEMASK) << "case " << i;
        button.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, Point(10, 10));
        button.SendMessage(WM_LBUTTONUP, 0, Point(cases[i].release.x, cases[i].release.y));
        EXPECT_EQ(cases[i].commands, host.commands.size()) << "case " << i;
        for (int command : host.commands) EXPECT_EQ(8000, command) << "case " << i;
        host.DestroyWindow();
    }
}

}  // namespace
