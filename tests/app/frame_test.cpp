// TALO's skinned frame and custom controls inside one process: real dialogs made from
// templates in memory, the controls subclassed and driven with the messages a user's mouse
// sends; the scheme model read from scratch power-setting and effect files in the tests'
// own installation.
#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "AppConfig.h"
#include "FrameDlg.h"
#include "HyperLink.h"
#include "IconButton.h"
#include "IconStatic.h"
#include "MemoryTemplate.h"
#include "MyProgress.h"
#include "TALOStatic.h"
#include "TestSupport.h"

namespace {

using test::MemoryTemplate;

constexpr int kRepeatButton = talo::CIconButton::kRepeatIdDown;
constexpr int kPlainButton = 8003;
constexpr int kNameLabel = 3001;
constexpr int kLink = 3002;
constexpr int kProgress = 3003;
constexpr int kPlainLabel = 3004;

// What the parent received from its controls.
struct Command {
    int id;
    int code;
};

class CHostDialog : public talo::CDialogImpl<CHostDialog> {
public:
    enum { IDD = 30002 };  // the tests make their templates in memory

    std::vector<Command> commands;
    std::vector<WPARAM> opens;

    int Count(int id, int code) const {
        int count = 0;
        for (const Command& command : commands) count += command.id == id && command.code == code ? 1 : 0;
        return count;
    }

    BEGIN_MSG_MAP(CHostDialog)
        MESSAGE_HANDLER(WM_COMMAND, OnCommand)
        MESSAGE_HANDLER(talo::CHyperLink::kOpenMessage, OnOpen)
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

private:
    LRESULT OnCommand(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
        commands.push_back({LOWORD(wParam), HIWORD(wParam)});
        handled = FALSE;  // on to the reflection
        return 0;
    }
    LRESULT OnOpen(UINT, WPARAM wParam, LPARAM, BOOL&) {
        opens.push_back(wParam);
        return 0;
    }
};

MemoryTemplate HostTemplate() {
    MemoryTemplate dialogTemplate(L"Controls", 200, 120, WS_POPUP | WS_VISIBLE | WS_CAPTION);
    dialogTemplate.Item(WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, kRepeatButton, MemoryTemplate::kButton, L"+", 10, 10, 30, 20)
        .Item(WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, kPlainButton, MemoryTemplate::kButton, L"Go", 50, 10, 30, 20)
        .Item(WS_CHILD | WS_VISIBLE | SS_LEFT, kNameLabel, MemoryTemplate::kStatic, L"", 10, 40, 80, 12)
        .Item(WS_CHILD | WS_VISIBLE | SS_LEFT, kLink, MemoryTemplate::kStatic, L"www", 10, 60, 60, 12)
        .Item(WS_CHILD | WS_VISIBLE | SS_LEFT, kProgress, MemoryTemplate::kStatic, L"", 10, 80, 102, 12)
        .Item(WS_CHILD | WS_VISIBLE | SS_LEFT, kPlainLabel, MemoryTemplate::kStatic, L"Label", 100, 40, 60, 12);
    return dialogTemplate;
}

// A modeless host dialog, destroyed at the end.
class Host {
public:
    Host() : m_template(HostTemplate()) { dialog.CreateIndirect(m_template.Get()); }
    ~Host() {
        if (dialog.IsWindow()) dialog.DestroyWindow();
    }
    POINT Centre(int id) const {
        RECT rect;
        GetWindowRect(dialog.GetDlgItem(id), &rect);
        return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    }

    CHostDialog dialog;

private:
    MemoryTemplate m_template;
};

LPARAM Point(int x, int y) { return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)); }

// Dispatches the thread's messages for ms milliseconds, the timers' among them.
void Pump(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (GetTickCount64() < end) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}

// The cursor where a case puts it, and back where it was afterwards.
class CursorAt {
public:
    explicit CursorAt(POINT point) {
        GetCursorPos(&m_previous);
        SetCursorPos(point.x, point.y);
    }
    ~CursorAt() { SetCursorPos(m_previous.x, m_previous.y); }

private:
    POINT m_previous = {};
};

TEST(FrameControls, LabelDrawTextFlagsFollowTheStaticsStyle) {
    const struct {
        DWORD style;
        UINT flags;
    } cases[] = {
        {SS_LEFT, DT_WORDBREAK},
        {SS_CENTER | SS_NOPREFIX, DT_CENTER | DT_NOPREFIX | DT_WORDBREAK},
        {SS_RIGHT | SS_ENDELLIPSIS, DT_RIGHT | DT_END_ELLIPSIS | DT_WORDBREAK},
        {SS_LEFT | SS_PATHELLIPSIS, DT_PATH_ELLIPSIS | DT_WORDBREAK},
        {SS_LEFTNOWORDWRAP | SS_WORDELLIPSIS, DT_SINGLELINE | DT_WORD_ELLIPSIS},
        {SS_CENTER | SS_CENTERIMAGE, DT_CENTER | DT_SINGLELINE | DT_VCENTER},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].flags, talo::CTALOStatic::DrawTextFlags(cases[i].style)) << "case " << i;
    }
}

TEST(FrameControls, LabelTakesTheTemplatesTextAndKeepsItsOwnColours) {
    Host host;
    ASSERT_TRUE(host.dialog.IsWindow());
    talo::CTALOStatic label;
    ASSERT_TRUE(label.SubclassDlgItem(kPlainLabel, host.dialog));
    EXPECT_STREQ(L"Label", label.Text());
    EXPECT_TRUE(label.IsTransparent());
    EXPECT_EQ(RGB(0, 0, 0), label.TextColor());
    label.SetText(L"Title");
    label.SetTextColor(RGB(0xFF, 0xFF, 0xFF));
    wchar_t shown[16] = {};
    GetWindowTextW(label, shown, 16);
    EXPECT_STREQ(L"Title", shown);
    EXPECT_EQ(RGB(0xFF, 0xFF, 0xFF), label.TextColor());
    LOGFONTW font = {};
    label.GetLogFont(&font);
    EXPECT_STREQ(L"Tahoma", font.lfFaceName);
    EXPECT_EQ(13, font.lfHeight);
    EXPECT_EQ(FW_NORMAL, font.lfWeight);
    EXPECT_FALSE(label.IsFontChanged());
}

// The user moves onto the button, presses, holds, lets go and leaves: the states, the
// parent's hover/leave codes and, for the spin button only, the 300 ms auto-repeat.
TEST(FrameControls, IconButtonStatesAndAutoRepeat) {
    const struct {
        int id;
        bool repeats;
    } cases[] = {{kRepeatButton, true}, {kPlainButton, false}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        Host host;
        ASSERT_TRUE(host.dialog.IsWindow()) << "case " << i;
        talo::CIconButton button;
        ASSERT_TRUE(button.SubclassDlgItem(cases[i].id, host.dialog)) << "case " << i;
        EXPECT_EQ(BS_OWNERDRAW, button.GetStyle() & BS_TYPEMASK) << "case " << i;
        // Over the button, so that the system's leave tracking sees it there.
        CursorAt cursor(host.Centre(cases[i].id));
        const int id = cases[i].id;

        button.SendMessage(WM_MOUSEMOVE, 0, Point(5, 5));
        EXPECT_EQ(talo::CIconButton::kHighlighted, button.State()) << "case " << i;
        EXPECT_EQ(1, host.dialog.Count(id, talo::CIconButton::kCodeHover)) << "case " << i;

        button.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, Point(5, 5));
        EXPECT_EQ(talo::CIconButton::kPressed, button.State()) << "case " << i;
        EXPECT_EQ(cases[i].repeats, button.IsRepeating()) << "case " << i;
        Pump(800);
        const int repeats = host.dialog.Count(id, talo::CIconButton::kCodeRepeat);
        if (cases[i].repeats) {
            EXPECT_GE(repeats, 1) << "case " << i;
            EXPECT_LE(repeats, 3) << "case " << i;
        } else {
            EXPECT_EQ(0, repeats) << "case " << i;
        }

        button.SendMessage(WM_LBUTTONUP, 0, Point(5, 5));
        EXPECT_EQ(talo::CIconButton::kHighlighted, button.State()) << "case " << i;
        EXPECT_FALSE(button.IsRepeating()) << "case " << i;
        // The click itself reaches the parent as the button's command (BN_CLICKED, 0).
        EXPECT_EQ(repeats + 1, host.dialog.Count(id, BN_CLICKED)) << "case " << i;
        Pump(400);
        EXPECT_EQ(repeats + 1, host.dialog.Count(id, talo::CIconButton::kCodeRepeat)) << "no repeat after release, case " << i;

        button.SendMessage(WM_MOUSELEAVE);
        EXPECT_EQ(talo::CIconButton::kNormal, button.State()) << "case " << i;
        EXPECT_EQ(1, host.dialog.Count(id, talo::CIconButton::kCodeLeave)) << "case " << i;
    }
}

// A 14-character name shows as its first 10 characters and "..."; with the mouse over
// it, it scrolls one character a step through the name and three blanks; with the
// mouse gone, the next step shows the short form again.
TEST(FrameControls, IconStaticMarqueeOfALongName) {
    Host host;
    ASSERT_TRUE(host.dialog.IsWindow());
    talo::CIconStatic label;
    ASSERT_TRUE(label.SubclassDlgItem(kNameLabel, host.dialog));
    label.SetText(L"ABCDEFGHIJKLMN");
    EXPECT_STREQ(L"ABCDEFGHIJ...", label.ShownText());
    EXPECT_TRUE(label.IsTruncated());
    EXPECT_STREQ(L"ABCDEFGHIJKLMN   ", label.MarqueeText());

    CursorAt cursor(host.Centre(kNameLabel));
    label.SendMessage(talo::CIconStatic::kMouseOverMessage);
    EXPECT_TRUE(label.IsMarqueeOn());
    EXPECT_STREQ(L"ABCDEFGHIJKLM", label.ShownText());
    EXPECT_EQ(1, host.dialog.Count(kNameLabel, 0));

    const struct {
        int steps;
        const wchar_t* shown;
    } cases[] = {{1, L"BCDEFGHIJKLMN"}, {1, L"CDEFGHIJKLMN "}, {3, L"FGHIJKLMN   A"}, {12, L"ABCDEFGHIJKLM"}};
    int notified = 1;
    for (size_t i = 0; i < std::size(cases); ++i) {
        for (int step = 0; step < cases[i].steps; ++step) label.SendMessage(WM_TIMER, talo::CIconStatic::kMarqueeTimer);
        notified += cases[i].steps;
        EXPECT_STREQ(cases[i].shown, label.ShownText()) << "case " << i;
        EXPECT_EQ(notified, host.dialog.Count(kNameLabel, 0)) << "case " << i;
    }

    SetCursorPos(host.Centre(kNameLabel).x, host.Centre(kNameLabel).y + 200);
    label.SendMessage(WM_TIMER, talo::CIconStatic::kMarqueeTimer);
    EXPECT_FALSE(label.IsMarqueeOn());
    EXPECT_STREQ(L"ABCDEFGHIJ...", label.ShownText());
    EXPECT_EQ(notified + 1, host.dialog.Count(kNameLabel, 0));
}

TEST(FrameControls, IconStaticShortNameNeverScrolls) {
    Host host;
    ASSERT_TRUE(host.dialog.IsWindow());
    talo::CIconStatic label;
    ASSERT_TRUE(label.SubclassDlgItem(kNameLabel, host.dialog));
    const wchar_t* names[] = {L"Balanced", L"ABCDEFGHIJKLM"};
    for (size_t i = 0; i < std::size(names); ++i) {
        label.SetText(names[i]);
        EXPECT_STREQ(names[i], label.ShownText()) << "case " << i;
        EXPECT_FALSE(label.IsTruncated()) << "case " << i;
        label.SendMessage(talo::CIconStatic::kMouseOverMessage);
        EXPECT_FALSE(label.IsMarqueeOn()) << "case " << i;
        EXPECT_EQ(0, host.dialog.Count(kNameLabel, 0)) << "case " << i;
    }
}

// The colour the parent's WM_CTLCOLORSTATIC gives the link's text, through its reflection.
COLORREF LinkColour(HWND dialog, HWND link, HBRUSH* brush) {
    HDC dc = CreateCompatibleDC(nullptr);
    SetTextColor(dc, RGB(1, 2, 3));
    *brush = reinterpret_cast<HBRUSH>(
        SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(link)));
    const COLORREF colour = GetTextColor(dc);
    DeleteDC(dc);
    return colour;
}

TEST(FrameControls, HyperLinkHoverVisitedAndOpen) {
    Host host;
    ASSERT_TRUE(host.dialog.IsWindow());
    talo::CHyperLink link;
    ASSERT_TRUE(link.SubclassDlgItem(kLink, host.dialog));
    EXPECT_NE(0, link.GetStyle() & SS_NOTIFY);
    LOGFONTW font = {};
    ASSERT_NE(0, GetObjectW(link.GetFont(), sizeof font, &font));
    EXPECT_TRUE(font.lfUnderline);
    EXPECT_EQ(LoadCursorW(nullptr, IDC_HAND), link.Cursor());
    RECT client;
    link.GetClientRect(&client);

    enum Action { kMoveIn, kMoveOut, kClick };
    const struct {
        Action action;
        bool hover;
        bool visited;
        COLORREF colour;
        size_t opens;
    } cases[] = {
        {kMoveIn, true, false, 0x0000FF, 0},  {kMoveOut, false, false, 0xFFA146, 0},
        {kClick, false, true, 0xFFA146, 1},   {kMoveIn, true, true, 0xFFA146, 1},
        {kMoveOut, false, true, 0xFFA146, 1},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        switch (cases[i].action) {
        case kMoveIn:
            link.SendMessage(WM_MOUSEMOVE, 0, Point(2, 2));
            EXPECT_EQ(static_cast<HWND>(link), GetCapture()) << "case " << i;
            break;
        case kMoveOut:
            link.SendMessage(WM_MOUSEMOVE, 0, Point(client.right + 5, 2));
            EXPECT_EQ(nullptr, GetCapture()) << "case " << i;
            break;
        case kClick:
            link.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, Point(2, 2));
            link.SendMessage(WM_LBUTTONUP, 0, Point(2, 2));
            break;
        }
        EXPECT_EQ(cases[i].hover, link.IsHover()) << "case " << i;
        EXPECT_EQ(cases[i].visited, link.IsVisited()) << "case " << i;
        HBRUSH brush = nullptr;
        EXPECT_EQ(cases[i].colour, LinkColour(host.dialog, link, &brush)) << "case " << i;
        EXPECT_EQ(GetStockObject(NULL_BRUSH), brush) << "case " << i;
        ASSERT_EQ(cases[i].opens, host.dialog.opens.size()) << "case " << i;
        if (cases[i].opens > 0) {
            EXPECT_EQ(static_cast<WPARAM>(kLink), host.dialog.opens.back()) << "case " << i;
        }
    }
}

TEST(FrameControls, ProgressClampsItsBarAndSwitchesToText) {
    Host host;
    ASSERT_TRUE(host.dialog.IsWindow());
    talo::CMyProgress progress;
    ASSERT_TRUE(progress.SubclassDlgItem(kProgress, host.dialog));
    RECT client;
    progress.GetClientRect(&client);
    const int inner = client.right - 2;
    ASSERT_GT(inner, 0);
    const struct {
        int position;
        int drawn;
        int width;
    } cases[] = {{150, 100, inner}, {100, 100, inner}, {50, 50, inner / 2}, {0, 0, 0}, {-20, 0, 0}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        progress.SetPos(cases[i].position);
        EXPECT_EQ(cases[i].position, progress.Position()) << "case " << i;
        EXPECT_EQ(cases[i].drawn, progress.DrawnPosition()) << "case " << i;
        EXPECT_EQ(cases[i].width, progress.BarWidth()) << "case " << i;
        EXPECT_EQ(talo::CMyProgress::kBarMode, progress.Mode()) << "case " << i;
    }
    progress.SetText(L"Charging");
    EXPECT_EQ(talo::CMyProgress::kTextMode, progress.Mode());
    EXPECT_STREQ(L"Charging", progress.Text());
    UpdateWindow(progress);  // both modes paint without a bitmap in the module
}

// ---- the frame ----

class CTestFrame : public talo::CFrameDlg {
public:
    CTestFrame() : CFrameDlg(30003) {}
};

TEST(FrameDialog, HeaderHeightAndMarkFollowTheWidth) {
    const struct {
        int width;
        int header;
        int markFont;
        RECT mark;
    } cases[] = {
        {610, 60, 12, {137, 15, 152, 28}}, {421, 60, 12, {137, 15, 152, 28}}, {420, 50, 11, {125, 14, 140, 25}},
        {201, 50, 11, {125, 14, 140, 25}}, {200, 30, 9, {80, 14, 95, 23}},    {120, 30, 9, {80, 14, 95, 23}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        CTestFrame frame;
        EXPECT_EQ(70, frame.HeaderHeight()) << "before layout, case " << i;
        frame.OnLayout(cases[i].width);
        EXPECT_EQ(cases[i].header, frame.HeaderHeight()) << "case " << i;
        EXPECT_EQ(cases[i].markFont, frame.MarkFontHeight()) << "case " << i;
        EXPECT_TRUE(EqualRect(&cases[i].mark, &frame.MarkRect())) << "case " << i;
        const RECT circle = frame.MarkCircle();
        const int diameter = cases[i].mark.bottom - cases[i].mark.top;
        EXPECT_EQ(cases[i].mark.left - 3, circle.left) << "case " << i;
        EXPECT_EQ(diameter, circle.right - circle.left) << "case " << i;
        EXPECT_EQ(diameter, circle.bottom - circle.top) << "case " << i;
    }
}

// The header bitmap covers exactly the header the width gives: the row above the header's
// end is the bitmap's, the row below is what was there before.
TEST(FrameDialog, HeaderBitmapFillsTheHeaderAndNoMore) {
    HMODULE module = LoadLibraryW((test::ExeDir() + L"\\TALORes.dll").c_str());
    ASSERT_NE(nullptr, module);
    talo::SetResourceModule(module);
    constexpr COLORREF kBefore = RGB(1, 2, 3);
    for (const int width : {610, 421, 420, 344, 201, 200, 120}) {
        CTestFrame frame;
        frame.OnLayout(width);
        const int header = talo::CFrameDlg::HeaderHeightFor(width);
        EXPECT_EQ(header, frame.HeaderHeight()) << "width " << width;
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP canvas = CreateCompatibleBitmap(screen, width, 80);
        ReleaseDC(nullptr, screen);
        HGDIOBJ previous = SelectObject(dc, canvas);
        HBRUSH fill = CreateSolidBrush(kBefore);
        const RECT all = {0, 0, width, 80};
        FillRect(dc, &all, fill);
        DeleteObject(fill);
        frame.DrawFrame(dc, width);
        // Right of the logo, which has its own height.
        for (const int x : {width - 8, width - 1}) {
            EXPECT_NE(kBefore, GetPixel(dc, x, header - 1)) << "width " << width << ", x " << x;
            EXPECT_EQ(kBefore, GetPixel(dc, x, header)) << "width " << width << ", x " << x;
        }
        SelectObject(dc, previous);
        DeleteObject(canvas);
        DeleteDC(dc);
    }
    talo::SetResourceModule(nullptr);
    FreeLibrary(module);
}

TEST(FrameDialog, CeilingDivisionSizesGrids) {
    const struct {
        int a, b, c, result;
    } cases[] = {{10, 3, 20, 80}, {9, 3, 20, 60}, {1, 4, 7, 7}, {0, 4, 7, 0}, {5, 0, 7, 0}};
    CTestFrame frame;
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].result, frame.CeilMultiple(cases[i].a, cases[i].b, cases[i].c)) << "case " << i;
    }
}

// INI values of the tests' installation set for one case; every file it touched gets its
// bytes back afterwards, and scratch files are removed.
class CfgOverride {
public:
    CfgOverride() : m_folder(test::ExeDir() + L"\\..\\cfg\\") {}
    CfgOverride(const CfgOverride&) = delete;
    CfgOverride& operator=(const CfgOverride&) = delete;
    ~CfgOverride() {
        for (const auto& [path, text] : m_originals) test::WriteTextFile(path, text.c_str());
        for (const std::wstring& path : m_scratch) DeleteFileW(path.c_str());
    }
    // A null value removes the key.
    void Set(const wchar_t* file, const wchar_t* section, const wchar_t* key, const wchar_t* value) {
        const std::wstring path = m_folder + file;
        bool kept = false;
        for (const auto& original : m_originals) kept = kept || original.first == path;
        if (!kept) m_originals.emplace_back(path, test::ReadTextFile(path));
        WritePrivateProfileStringW(section, key, value, path.c_str());
    }
    void Set(const wchar_t* file, const wchar_t* section, const std::wstring& key, int value) {
        Set(file, section, key.c_str(), std::to_wstring(value).c_str());
    }
    bool Scratch(const wchar_t* file, const char* text) {
        m_scratch.push_back(m_folder + file);
        return test::WriteTextFile(m_scratch.back(), text);
    }

private:
    std::wstring m_folder;
    std::vector<std::pair<std::wstring, std::string>> m_originals;
    std::vector<std::wstring> m_scratch;
};

constexpr wchar_t kCfg[] = L"ZORACfg.ini";
constexpr wchar_t kSettings[] = L"FrameTestSetting.ini";
constexpr wchar_t kEffects[] = L"FrameTestEffect.ini";

// Five listed items: Wifi is for no Windows version (left out), BTStatus is unsupported,
// VXPS works on battery only.
constexpr char kSettingsText[] =
    "[LanSpeed]\r\nName=Link speed\r\nSupportStatus=1\r\nOptionNumber=3\r\n"
    "[VXPS]\r\nName=Panel saving\r\nSupportStatus=1\r\nOptionNumber=2\r\n"
    "[Wifi]\r\nName=Wireless\r\nSupportStatus=1\r\nOSVerMin=99\r\nOSVerMax=99\r\nOptionNumber=2\r\n"
    "[BTStatus]\r\nName=Bluetooth\r\nSupportStatus=0\r\nOptionNumber=2\r\n"
    "[CpuSpeed]\r\nName=Processor\r\nSupportStatus=1\r\nOptionNumber=5\r\n";
constexpr const wchar_t* kListed[] = {L"LanSpeed", L"VXPS", L"Wifi", L"BTStatus", L"CpuSpeed"};

// Effect 0 names an unknown variable, effect 1 one in another letter case: both ignored.
constexpr char kEffectsText[] =
    "[NormalSettings]\r\nNumber=2\r\n"
    "[Effect0]\r\nName=Battery life\r\nDescription=Longer on battery\r\nNumber=4\r\n"
    "OptionDesc0=LanSpeed\r\nOptionVal0=2\r\nOptionDesc1=VXPS\r\nOptionVal1=3\r\n"
    "OptionDesc2=Unknown\r\nOptionVal2=9\r\nOptionDesc3=CpuSpeed\r\nOptionVal3=-1\r\n"
    "[Effect1]\r\nName=Performance\r\nDescription=Faster\r\nNumber=2\r\n"
    "OptionDesc0=cpuspeed\r\nOptionVal0=5\r\nOptionDesc1=BTStatus\r\nOptionVal1=4\r\n";

// The tests' installation with the scratch catalogue and item list, the effect file as
// the case names it, and the first run done (so that the model prepares nothing).
class FrameModel : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_cfg.Scratch(kSettings, kSettingsText));
        ASSERT_TRUE(m_cfg.Scratch(kEffects, kEffectsText));
        m_cfg.Set(kCfg, L"ZORACfg", L"PowerSetting", kSettings);
        m_cfg.Set(kCfg, L"SchemeItemList", L"ItemNum", static_cast<int>(std::size(kListed)));
        for (int i = 0; i < static_cast<int>(std::size(kListed)); ++i) {
            m_cfg.Set(kCfg, L"SchemeItemList", (L"Item" + std::to_wstring(i)).c_str(), kListed[i]);
            m_cfg.Set(kCfg, L"SchemeItemList", L"IfDevice" + std::to_wstring(i), i == 0 ? 1 : 0);
        }
        m_startFlag = talo::StartFlag();
        talo::SetStartFlagValue(1);
    }
    void TearDown() override { talo::SetStartFlagValue(m_startFlag); }
    void UseEffects(const wchar_t* file) { m_cfg.Set(kCfg, L"TALOCfg", L"EffectSettings", file); }

    CfgOverride m_cfg;
    int m_startFlag = 0;
};

TEST_F(FrameModel, ItemsAndAvailabilityFromTheCatalogue) {
    UseEffects(kEffects);
    CTestFrame frame;
    ASSERT_EQ(1, frame.LoadModel());
    const struct {
        const wchar_t* variable;
        const wchar_t* name;
        int ac, dc;
        bool device;
    } cases[] = {
        {L"LanSpeed", L"Link speed", 1, 1, true},
        {L"VXPS", L"Panel saving", 0, 1, false},
        {L"BTStatus", L"Bluetooth", 0, 0, false},
        {L"CpuSpeed", L"Processor", 1, 1, false},
    };
    ASSERT_EQ(static_cast<int>(std::size(cases)), frame.ItemCount());
    EXPECT_EQ(frame.ItemCount(), frame.CountItems());
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto* item = frame.GetItem(static_cast<int>(i));
        ASSERT_NE(nullptr, item) << "case " << i;
        EXPECT_EQ(cases[i].variable, item->variable) << "case " << i;
        EXPECT_EQ(cases[i].name, item->name) << "case " << i;
        EXPECT_EQ(cases[i].ac, item->acAvailable) << "case " << i;
        EXPECT_EQ(cases[i].dc, item->dcAvailable) << "case " << i;
        EXPECT_EQ(cases[i].device, frame.IsItemDevice(static_cast<int>(i))) << "case " << i;
    }
    EXPECT_EQ(nullptr, frame.GetItem(4));
}

TEST_F(FrameModel, EffectsAndWeightsFromTheEffectFile) {
    UseEffects(kEffects);
    CTestFrame frame;
    ASSERT_EQ(1, frame.LoadModel());
    ASSERT_EQ(2, frame.EffectCount());
    EXPECT_EQ(L"Battery life", frame.GetEffect(0)->name);
    EXPECT_EQ(L"Longer on battery", frame.GetEffect(0)->description);
    EXPECT_EQ(L"Performance", frame.GetEffect(1)->name);
    // Items: LanSpeed, VXPS, BTStatus, CpuSpeed.
    const int weights[2][4] = {{2, 3, 0, -1}, {0, 0, 4, 0}};
    for (int e = 0; e < 2; ++e) {
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(weights[e][i], frame.Weight(e, i)) << "effect " << e << " item " << i;
        }
    }
}

// first: n x w for each positive weight, plus each negative w; second: (n + 1) x w for each
// negative weight; only items available on the source count.
TEST_F(FrameModel, EffectRangeOnTheSmallTable) {
    UseEffects(kEffects);
    CTestFrame frame;
    ASSERT_EQ(1, frame.LoadModel());
    const struct {
        int ac, effect, first, second;
    } cases[] = {
        {1, 0, 3 * 2 - 1, 6 * -1},          // VXPS not on mains
        {0, 0, 3 * 2 + 2 * 3 - 1, 6 * -1},  // VXPS on battery
        {1, 1, 0, 0},                       // BTStatus unsupported
        {0, 1, 0, 0},
        {1, 2, 77, 88},  // no such effect: untouched
        {0, -1, 77, 88},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        int first = 77;
        int second = 88;
        frame.GetEffectRange(cases[i].ac, cases[i].effect, &first, &second);
        EXPECT_EQ(cases[i].first, first) << "case " << i;
        EXPECT_EQ(cases[i].second, second) << "case " << i;
    }
}

TEST_F(FrameModel, MissingEffectFileGivesNoEffects) {
    const wchar_t* files[] = {L"FrameTestNoSuchEffect.ini", L""};
    for (size_t i = 0; i < std::size(files); ++i) {
        UseEffects(files[i]);
        CTestFrame frame;
        ASSERT_EQ(1, frame.LoadModel()) << "case " << i;
        EXPECT_EQ(4, frame.ItemCount()) << "case " << i;
        EXPECT_EQ(0, frame.EffectCount()) << "case " << i;
        EXPECT_EQ(0, frame.Weight(0, 0)) << "case " << i;
        int first = 77;
        int second = 88;
        frame.GetEffectRange(1, 0, &first, &second);
        EXPECT_EQ(77, first) << "case " << i;
        EXPECT_EQ(88, second) << "case " << i;
    }
}

TEST_F(FrameModel, MissingItemListGivesAnEmptyModel) {
    UseEffects(kEffects);
    m_cfg.Set(kCfg, L"SchemeItemList", L"ItemNum", nullptr);
    CTestFrame frame;
    ASSERT_EQ(1, frame.LoadModel());
    EXPECT_EQ(0, frame.ItemCount());
    EXPECT_EQ(0, frame.CountItems());
    EXPECT_EQ(2, frame.EffectCount());
    EXPECT_EQ(0, frame.Weight(0, 0));
    EXPECT_FALSE(frame.IsItemDevice(0));
}

// The title label (2012) carries [TALOCfg] Name, the short product name with room for the
// mark the frame draws; the mark label is a second 2012.
TEST_F(FrameModel, TitleAndMarkLabels) {
    const struct {
        const wchar_t* name;
        const wchar_t* title;
    } cases[] = {{talo::kProductShortName, talo::kProductMarkRoomName}, {L"Power Manager", L"Power Manager"}};
    const MemoryTemplate dialogTemplate(L"Frame", 300, 150, WS_POPUP | WS_CAPTION);
    for (size_t i = 0; i < std::size(cases); ++i) {
        m_cfg.Set(kCfg, L"TALOCfg", L"Name", cases[i].name);
        CTestFrame frame;
        ASSERT_NE(nullptr, frame.CreateIndirect(dialogTemplate.Get())) << "case " << i;
        EXPECT_STREQ(cases[i].title, frame.TitleLabel().Text()) << "case " << i;
        EXPECT_EQ(talo::CFrameDlg::kTitleId, frame.TitleLabel().GetDlgCtrlID()) << "case " << i;
        EXPECT_EQ(talo::CFrameDlg::kTitleId, frame.MarkLabel().GetDlgCtrlID()) << "case " << i;
        EXPECT_EQ(RGB(0xFF, 0xFF, 0xFF), frame.TitleLabel().TextColor()) << "case " << i;
        LOGFONTW font = {};
        frame.TitleLabel().GetLogFont(&font);
        EXPECT_STREQ(L"Verdana", font.lfFaceName) << "case " << i;
        EXPECT_EQ(600, font.lfWeight) << "case " << i;
        RECT client;
        frame.GetClientRect(&client);
        EXPECT_EQ(client.right > 420 ? 60 : client.right > 200 ? 50 : 30, frame.HeaderHeight()) << "case " << i;
        UpdateWindow(frame);  // the frame paints with no bitmaps in the module
        frame.DestroyWindow();
    }
}

// The mark label's text is string 114 of whichever module TALO runs with: English, German,
// or a module without it (here the test program itself), which leaves the label empty and
// the frame painting as before.
TEST_F(FrameModel, MarkLabelTakesItsTextFromTheResourceModule) {
    const struct {
        const wchar_t* module;  // null: the test program, which has no strings
        const wchar_t* mark;
    } cases[] = {{nullptr, L""}, {L"TALORes.dll", nullptr}, {L"TALOResDE.dll", nullptr}};
    const MemoryTemplate dialogTemplate(L"Frame", 300, 150, WS_POPUP | WS_CAPTION);
    for (size_t i = 0; i < std::size(cases); ++i) {
        HMODULE module = nullptr;
        if (cases[i].module != nullptr) {
            module = LoadLibraryW((test::ExeDir() + L"\\" + cases[i].module).c_str());
            ASSERT_NE(nullptr, module) << "case " << i;
        }
        talo::SetResourceModule(module);
        {
            CTestFrame frame;
            ASSERT_NE(nullptr, frame.CreateIndirect(dialogTemplate.Get())) << "case " << i;
            if (cases[i].mark != nullptr)
                EXPECT_STREQ(cases[i].mark, frame.MarkLabel().Text()) << "case " << i;
            else
                EXPECT_NE(L'\0', frame.MarkLabel().Text()[0]) << "case " << i;
            UpdateWindow(frame);
            frame.DestroyWindow();
        }
        talo::SetResourceModule(nullptr);
        if (module != nullptr) FreeLibrary(module);
    }
}

}  // namespace
