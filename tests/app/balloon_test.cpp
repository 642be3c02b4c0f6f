// TALO's balloon inside this process: what the power view shows for each power source and
// charge, the remaining time's text, the device view's rows and names, and the window on
// the tray cases' resource module (tests/app/TrayRes.rc, no bitmaps): its text, place,
// fade-in, link and the link's change of view.
#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>
#include <list>
#include <string>

#include "AppConfig.h"
#include "DeviceItems.h"
#include "BalloonDlg.h"
#include "PowerSnapshot.h"
#include "ResourceModule.h"
#include "TestSupport.h"

namespace {

using talo::CBalloon2Dlg;

std::string Text(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

TEST(TaloBalloonContent, PowerViewBySourceAndCharge) {
    const struct {
        int source, percentage, remaining, batteries;
        UINT line1;
        const wchar_t* suffix1;
        UINT line2;
        const wchar_t* suffix2;
        UINT icon;
        bool setsColour;
        COLORREF colour;
    } cases[] = {
        {4, 9, 5400, 1, 163, L": 9%", 159, L"01:30", 2117, true, 0x1F44FF},
        {4, 0, 60, 1, 163, L": 0%", 159, L"00:01", 2116, true, 0x1F44FF},
        {4, 10, -1, 1, 163, L": 10%", 159, L"N/A", 2117, true, 0x00ACFF},
        {4, 50, 7200, 2, 163, L": 50%", 159, L"02:00", 2121, true, 0x00ACFF},
        {4, 51, 7200, 1, 163, L": 51%", 159, L"02:00", 2122, true, 0x00FF82},
        {4, 100, 36000, 1, 163, L": 100%", 159, L"10:00", 2126, true, 0x00FF82},
        {2, 5, -1, 1, 162, L": 5%", 159, L"N/A", 2117, true, 0x00FF82},
        {2, 76, 1800, 1, 162, L": 76%", 159, L"00:30", 2124, true, 0x00FF82},
        {1, 100, -1, 1, 160, L"", 157, L"", 2041, true, 0x00FF00},
        {1, 0, 0, 0, 160, L"", 156, L"", 2041, true, 0x00FF00},
        {0, -1, -1, 0, 158, L"", 0, L"", 2043, false, 0},
        {3, 50, 600, 1, 158, L"", 0, L"", 2043, false, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const talo::BalloonContent content = talo::PowerBalloonContent(c.source, c.percentage, c.remaining, c.batteries);
        EXPECT_EQ(c.line1, content.line1Text) << "case " << i;
        EXPECT_EQ(c.suffix1, content.line1Suffix) << "case " << i;
        EXPECT_EQ(c.line2, content.line2Text) << "case " << i;
        EXPECT_EQ(c.suffix2, content.line2Suffix) << "case " << i;
        EXPECT_EQ(c.icon, content.stateIcon) << "case " << i;
        EXPECT_EQ(c.setsColour, content.setsLine1Colour) << "case " << i;
        if (c.setsColour) {
            EXPECT_EQ(c.colour, content.line1Colour) << "case " << i;
        }
    }
}

TEST(TaloBalloonContent, ChargeIconByBand) {
    const struct {
        int percentage;
        UINT icon;
    } cases[] = {{0, 2116},  {1, 2117},  {10, 2117}, {11, 2118}, {20, 2118}, {21, 2119}, {30, 2119},
                 {31, 2120}, {40, 2120}, {41, 2121}, {50, 2121}, {51, 2122}, {60, 2122}, {61, 2123},
                 {75, 2123}, {76, 2124}, {85, 2124}, {86, 2125}, {95, 2125}, {96, 2126}, {100, 2126}};
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].icon, talo::ChargeIconId(cases[i].percentage)) << "case " << i;
}

// A time span's hours of the day and minutes of the hour.
TEST(TaloBalloonContent, RemainingTimeText) {
    const struct {
        int seconds;
        const wchar_t* text;
    } cases[] = {{-1, L"N/A"},       {-3600, L"N/A"},     {0, L"00:00"},     {59, L"00:00"},    {60, L"00:01"},
                 {5400, L"01:30"},   {86399, L"23:59"},   {90000, L"25:00"}};
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].text, talo::RemainingTimeText(cases[i].seconds)) << "case " << i;
}

TEST(TaloBalloonContent, DeviceViewRowsByLength) {
    const struct {
        int length, rows;
    } cases[] = {{0, 2}, {19, 2}, {41, 2}, {42, 3}, {60, 3}, {61, 3}, {62, 4}, {200, 10}};
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].rows, talo::BalloonRows(cases[i].length)) << "case " << i;
}

TEST(TaloBalloonContent, DeviceViewListsTheDevicesSwitchedOff) {
    const struct {
        int states[3];
        const wchar_t* names;
    } cases[] = {{{0, 0, 0}, L"Wireless LAN, Card reader, Camera"},
                 {{1, 0, -1}, L"Card reader"},
                 {{0, 1, 0}, L"Wireless LAN, Camera"},
                 {{1, -1, 1}, L""}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::list<talo::DeviceDesp> devices;
        const wchar_t* names[] = {L"Wireless LAN", L"Card reader", L"Camera"};
        for (int d = 0; d < 3; ++d) devices.push_back({d, cases[i].states[d], L"Key", names[d]});
        EXPECT_EQ(cases[i].names, talo::SwitchedOffDevices(devices)) << "case " << i;
        EXPECT_EQ(cases[i].names[0] != L'\0', talo::AnyDeviceSwitchedOff(devices)) << "case " << i;
    }
}

// The window made from the tray cases' module, with no hub: the device states stay as
// each case sets them.
class TaloBalloonWindow : public ::testing::Test {
protected:
    void SetUp() override {
        m_module = LoadLibraryW((test::ExeDir() + L"\\TaloTrayRes.dll").c_str());
        ASSERT_NE(nullptr, m_module) << GetLastError();
        talo::SetResourceModule(m_module);
        ASSERT_NE(nullptr, m_balloon.Create(nullptr)) << GetLastError();
    }
    void TearDown() override {
        m_balloon.DestroyWindow();
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {}
        talo::FreeDeviceItems();
        talo::ShownPower() = talo::PowerSnapshot{};
        talo::SetResourceModule(nullptr);
        if (m_module != nullptr) FreeLibrary(m_module);
    }
    static std::wstring String(UINT id) {
        wchar_t text[256] = L"";
        talo::LoadResString(id, text, 256);
        return text;
    }
    static void SetDevices(const int (&states)[2]) {
        talo::FreeDeviceItems();
        talo::DeviceItems().push_back({1, states[0], L"WLAN", L"Wireless LAN"});
        talo::DeviceItems().push_back({2, states[1], L"Camera", L"Camera"});
    }
    std::wstring WindowText() {
        wchar_t text[512] = L"";
        m_balloon.GetWindowText(text, 512);
        return text;
    }
    // The fade-in's steps, as its timer would give them; the steps it took.
    int Fade() {
        int steps = 0;
        for (; steps < 1000 && m_balloon.Fading(); ++steps) m_balloon.SendMessage(WM_TIMER, CBalloon2Dlg::kFadeTimer);
        return steps;
    }
    // The link's place in the balloon's client area, its size and text; visible or not.
    bool LinkShown(RECT* place, std::wstring* text) {
        HWND link = m_balloon.Link();
        GetWindowRect(link, place);
        MapWindowPoints(nullptr, m_balloon, reinterpret_cast<POINT*>(place), 2);
        wchar_t buffer[128] = L"";
        GetWindowTextW(link, buffer, 128);
        *text = buffer;
        return IsWindowVisible(link) != FALSE;
    }

    HMODULE m_module = nullptr;
    CBalloon2Dlg m_balloon;
};

// The window's text is the two lines; the link comes after the fade-in, only when a device
// is switched off.
TEST_F(TaloBalloonWindow, ShowsThePowerLinesAndTheLinkOnlyWithADeviceSwitchedOff) {
    const struct {
        talo::PowerSnapshot power;
        int devices[2];
        std::wstring text;
        bool link;
    } cases[] = {
        {{4, 1, 5400, 9}, {0, 1}, String(163) + L": 9%\r\n" + String(159) + L"01:30", true},
        {{2, 1, -1, 80}, {-1, 0}, String(162) + L": 80%\r\n" + String(159) + L"N/A", true},
        {{1, 1, -1, 100}, {1, 1}, String(160) + L"\r\n" + String(157), false},
        {{1, 0, 0, 0}, {-1, -1}, String(160) + L"\r\n" + String(156), false},
        {{0, 0, -1, -1}, {1, 1}, String(158) + L"\r\n", false},
    };
    ASSERT_FALSE(String(163).empty());
    RECT work = {};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        talo::ShownPower() = c.power;
        SetDevices(c.devices);
        m_balloon.Show();
        EXPECT_TRUE(IsWindowVisible(m_balloon)) << "case " << i;
        EXPECT_EQ(c.text, WindowText()) << "case " << i;
        RECT place, window;
        std::wstring linkText;
        EXPECT_FALSE(LinkShown(&place, &linkText)) << "case " << i << ": not while fading in";
        EXPECT_GT(Fade(), 1) << "case " << i;
        EXPECT_GE(m_balloon.Alpha(), 116) << "case " << i;
        EXPECT_EQ(c.link, LinkShown(&place, &linkText)) << "case " << i;
        if (c.link) {
            EXPECT_EQ(String(136), linkText) << "case " << i;
            EXPECT_EQ(Text({82, 61, 82 + 140, 61 + 20}), Text(place)) << "case " << i;
        } else {
            EXPECT_EQ(L"", linkText) << "case " << i;
            EXPECT_EQ(place.left, place.right) << "case " << i;
        }
        // The corner 18 pixels left of the work area's right edge, 7 above its bottom; rounded.
        ASSERT_TRUE(GetWindowRect(m_balloon, &window));
        EXPECT_EQ(work.right - 18, window.right) << "case " << i;
        EXPECT_EQ(work.bottom - 7, window.bottom) << "case " << i;
        HRGN region = CreateRectRgn(0, 0, 0, 0);
        EXPECT_NE(ERROR, GetWindowRgn(m_balloon, region)) << "case " << i;
        EXPECT_FALSE(PtInRegion(region, 1, 1)) << "case " << i;
        EXPECT_TRUE(PtInRegion(region, 10, 10)) << "case " << i;
        DeleteObject(region);
    }
}

// Red below 10 % on battery; a state without a source of its own keeps the colour.
TEST_F(TaloBalloonWindow, UnknownSourceKeepsTheFirstLinesColour) {
    talo::ShownPower() = {4, 1, 600, 9};
    m_balloon.Prepare(CBalloon2Dlg::kPowerView);
    EXPECT_EQ(0x1F44FFu, m_balloon.Line1Colour());
    EXPECT_EQ(2117u, m_balloon.StateIcon());
    talo::ShownPower() = {0, 0, -1, -1};
    m_balloon.Prepare(CBalloon2Dlg::kPowerView);
    EXPECT_EQ(0x1F44FFu, m_balloon.Line1Colour());
    EXPECT_EQ(2043u, m_balloon.StateIcon());
}

// The link's click shows the devices switched off, taller by their rows, with the link
// back; a second one (the link's message) the power view again.
TEST_F(TaloBalloonWindow, LinkTogglesBetweenThePowerAndTheDeviceView) {
    talo::ShownPower() = {4, 1, 5400, 50};
    SetDevices({0, 0});
    m_balloon.Show();
    Fade();
    const int powerHeight = m_balloon.Height();
    const std::wstring powerText = WindowText();
    const std::wstring names = L"Wireless LAN, Camera";  // 20 characters: two rows

    // A click on the link, as the static reports it to the balloon.
    m_balloon.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_BALLOON_LINK, STN_CLICKED),
                          reinterpret_cast<LPARAM>(m_balloon.Link().Handle()));
    EXPECT_EQ(CBalloon2Dlg::kDeviceView, m_balloon.View());
    EXPECT_EQ(String(137) + L"\r\n" + names, WindowText());
    EXPECT_EQ(2, m_balloon.Rows());
    EXPECT_EQ(powerHeight + 2 * 18 + 8, m_balloon.Height());
    EXPECT_EQ(0x00C6FFu, m_balloon.Line2Colour());
    EXPECT_EQ(2061u, m_balloon.StateIcon());
    RECT place;
    std::wstring linkText;
    EXPECT_TRUE(LinkShown(&place, &linkText));
    EXPECT_EQ(String(138), linkText);
    EXPECT_EQ(Text({125, 2 * 18 + 25, 125 + 140, 2 * 18 + 25 + 20}), Text(place));

    m_balloon.SendMessage(CBalloon2Dlg::kToggleView, IDC_BALLOON_LINK);
    EXPECT_EQ(CBalloon2Dlg::kPowerView, m_balloon.View());
    EXPECT_EQ(powerText, WindowText());
    EXPECT_EQ(powerHeight, m_balloon.Height());
    EXPECT_TRUE(LinkShown(&place, &linkText));
    EXPECT_EQ(String(136), linkText);
}

// Its 4 s over, the balloon goes (Wine hides at once where Windows blends it out).
TEST_F(TaloBalloonWindow, HideTimerHidesTheBalloon) {
    talo::ShownPower() = {1, 1, -1, 100};
    m_balloon.Show();
    Fade();
    ASSERT_TRUE(IsWindowVisible(m_balloon));
    m_balloon.SendMessage(WM_TIMER, CBalloon2Dlg::kHideTimer);
    EXPECT_FALSE(IsWindowVisible(m_balloon));
}

}  // namespace
