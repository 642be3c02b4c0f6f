// The balloon above the tray icon. After the cursor has rested on the icon for 1.5 s, or
// when the power source changes, it fades in at the notification area's corner with the
// power source, the charge and the remaining time (the power view); its link turns it
// into the list of devices the active scheme switches off (the device view) and back.
// It stays while the cursor is on it and blends out 4 s after the cursor left it.
// One process-wide object, created modeless at start-up and hidden between its shows.
#pragma once

#include <windows.h>

#include <list>
#include <string>

#include "AppConfig.h"
#include "DeviceItems.h"
#include "Dialog.h"
#include "HyperLink.h"
#include "PowerSnapshot.h"
#include "TaloResIds.h"
#include "WinHandles.h"

namespace talo {

// What the power view shows for a power snapshot: the first line is string line1Text,
// then line1Suffix; the second line string line2Text (none when 0), then line2Suffix.
struct BalloonContent {
    UINT line1Text = 0;
    std::wstring line1Suffix;
    UINT line2Text = 0;
    std::wstring line2Suffix;
    UINT stateIcon = 0;
    // false: the first line keeps the colour it had.
    bool setsLine1Colour = false;
    COLORREF line1Colour = 0;
};

// The power view's content for a source state (PowerSnapshot::Source), a percentage, a
// remaining time in seconds and a number of batteries.
BalloonContent PowerBalloonContent(int sourceState, int percentage, int remainingTime, int batteryCount);
// The state icon of a charge (the bitmap of its band).
UINT ChargeIconId(int percentage);
// "N/A" for a negative time, otherwise the seconds as a time span's "%H:%M" (hours of the
// day, minutes of the hour, two digits each).
std::wstring RemainingTimeText(int seconds);
// The device view's second line: the names of the devices with state 0, in list order,
// joined by ", ".
std::wstring SwitchedOffDevices(const std::list<DeviceDesp>& devices);
bool AnyDeviceSwitchedOff(const std::list<DeviceDesp>& devices);
// The device view's 18-pixel text rows for a device line of that many characters.
int BalloonRows(int length);

class CBalloon2Dlg : public CDialogImpl<CBalloon2Dlg> {
public:
    enum { IDD = IDD_BALLOON };

    static constexpr int kPowerView = 1;
    static constexpr int kDeviceView = 2;
    static constexpr UINT_PTR kHideTimer = 1;  // the balloon blends out when it fires
    static constexpr UINT_PTR kFadeTimer = 3;  // a fade-in step
    static constexpr UINT kHideDelayMs = 4000;
    static constexpr UINT kFadePeriodMs = 5;
    static constexpr UINT kBlendOutMs = 1000;
    static constexpr int kFadeEnd = 106;
    // The link's click (CHyperLink::kOpenMessage): the other view.
    static constexpr UINT kToggleView = WM_USER + 101;
    static constexpr int kRowHeight = 18;

    // activeSchemeDevices: the power view takes the device states of the active scheme on
    // the present source; false takes the device items' states as they stand.
    explicit CBalloon2Dlg(bool activeSchemeDevices = false);
    ~CBalloon2Dlg() override = default;

    // Sets size, place, texts, colours and bitmaps for a view from ShownPower() and the
    // device items, hides the link, and makes the window's text the two lines.
    void Prepare(int view);
    // The show from the hub: the power view fades in.
    void Show();

    int View() const { return m_view; }
    int Rows() const { return m_rows; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    bool Fading() const { return m_fading; }
    BYTE Alpha() const { return m_blend.SourceConstantAlpha; }
    const std::wstring& Line1() const { return m_line1; }
    const std::wstring& Line2() const { return m_line2; }
    COLORREF Line1Colour() const { return m_line1Colour; }
    COLORREF Line2Colour() const { return m_line2Colour; }
    UINT StateIcon() const { return m_stateIcon; }
    const CHyperLink& Link() const { return m_link; }

    BEGIN_MSG_MAP(CBalloon2Dlg)
        MSG_WM_INITDIALOG(OnInitDialog)
        MSG_WM_TIMER(OnTimer)
        MSG_WM_MOUSEMOVE(OnMouseMove)
        MSG_WM_MOUSELEAVE(OnMouseLeave)
        MESSAGE_HANDLER(kToggleView, OnToggleView)
        MSG_WM_ERASEBKGND(OnEraseBackground)
        MSG_WM_PAINT(OnPaint)
        MESSAGE_HANDLER(WM_PRINTCLIENT, OnPrintClient)
        MSG_WM_HELP(OnHelp)
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

private:
    BOOL OnInitDialog(HWND focus, LPARAM initParam);
    void OnTimer(UINT_PTR timerId);
    void OnMouseMove(UINT keys, POINT point);
    void OnMouseLeave();
    LRESULT OnToggleView(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);
    BOOL OnEraseBackground(HDC) { return TRUE; }
    void OnPaint(HDC dc);
    // What AnimateWindow captures of the window to blend it out.
    LRESULT OnPrintClient(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);
    void OnHelp(LPHELPINFO info);

    void FadeStep();
    // The link with the view's text where the view has it, when a device is switched off;
    // otherwise hidden (size 0, no text).
    void PlaceLink();
    void HideLink();
    // The balloon's picture for the present view into a memory image.
    bool Compose();
    // The picture blended onto the window with the present constant alpha.
    void Blend();
    // The picture copied whole onto dc (painting, printing for an animation).
    void PaintImage(HDC dc) const;
    void DrawBitmap(HDC dc, UINT id, int x, int y, bool transparent) const;
    void DrawLine(HDC dc, const std::wstring& text, const LOGFONTW& font, COLORREF colour, RECT rect,
                  UINT format) const;

    bool m_activeSchemeDevices;
    // The device items as the power view found them; the device view shows these.
    std::list<DeviceDesp> m_devices;
    int m_view = kPowerView;
    int m_step = 0;
    int m_fadeTotal = 0;
    bool m_fading = false;
    BLENDFUNCTION m_blend = {AC_SRC_OVER, 0, 0, 0};
    UINT m_background = IDB_BALLOON;
    UINT m_top = 0;
    UINT m_middle = 0;
    UINT m_bottom = 0;
    int m_rows = 2;
    int m_width = 0;
    int m_height = 0;
    // The template's size, kept where the background bitmap is missing.
    SIZE m_templateSize = {0, 0};
    LOGFONTW m_line1Font = {};
    LOGFONTW m_line2Font = {};
    COLORREF m_line1Colour = RGB(0xFF, 0xFF, 0xFF);
    COLORREF m_line2Colour = RGB(0xFF, 0xFF, 0xFF);
    std::wstring m_line1;
    std::wstring m_line2;
    UINT m_stateIcon = 0;
    int m_sourceState = PowerSnapshot::kUnknown;
    std::wstring m_linkText;
    CHyperLink m_link;
    UniqueBitmap m_image;
};

}  // namespace talo
