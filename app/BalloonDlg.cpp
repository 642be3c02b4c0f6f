#include "BalloonDlg.h"

#include <algorithm>
#include <cwchar>

#include "FrameDlg.h"
#include "ResourceModule.h"
#include "SchemeEx.h"
#include "TALOStatic.h"

namespace talo {
namespace {

constexpr COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);
// Line 1 by charge and source (0x00BBGGRR).
constexpr COLORREF kMainsColour = 0x00FF00;
constexpr COLORREF kChargedColour = 0x00FF82;
constexpr COLORREF kLowColour = 0x1F44FF;
constexpr COLORREF kMiddleColour = 0x00ACFF;
// Line 2 of the device view: the devices' names.
constexpr COLORREF kDeviceNamesColour = 0x00C6FF;

// The balloon's corner from the work area's bottom right corner.
constexpr int kRightMargin = 18;
constexpr int kBottomMargin = 7;
constexpr int kCornerSize = 20;
// Where the link goes once the fade-in has ended, and its size.
constexpr POINT kPowerLinkAt = {82, 61};
constexpr int kDeviceLinkX = 125;
constexpr int kDeviceLinkBelowRows = 25;
constexpr SIZE kLinkSize = {140, 20};
// The device view's slices: the top one ends where the rows begin.
constexpr int kRowsTop = 46;

// The first band whose top is at or above the percentage.
const struct {
    int top;
    UINT icon;
} kChargeBands[] = {{0, IDB_CHARGE_0},   {10, IDB_CHARGE_10}, {20, IDB_CHARGE_20}, {30, IDB_CHARGE_30},
                    {40, IDB_CHARGE_40}, {50, IDB_CHARGE_50}, {60, IDB_CHARGE_60}, {75, IDB_CHARGE_75},
                    {85, IDB_CHARGE_85}, {95, IDB_CHARGE_95}, {100, IDB_CHARGE_100}};

std::wstring PercentSuffix(int percentage) {
    wchar_t text[16];
    swprintf(text, 16, L": %d%%", percentage);
    return text;
}

}  // namespace

UINT ChargeIconId(int percentage) {
    for (const auto& band : kChargeBands)
        if (percentage <= band.top) return band.icon;
    return IDB_CHARGE_100;
}

std::wstring RemainingTimeText(int seconds) {
    if (seconds < 0) return L"N/A";
    wchar_t text[16];
    // All the hours: a day and an hour of battery is "25:00", not "01:00".
    swprintf(text, 16, L"%02d:%02d", seconds / 3600, seconds / 60 % 60);
    return text;
}

BalloonContent PowerBalloonContent(int sourceState, int percentage, int remainingTime, int batteryCount) {
    BalloonContent content;
    switch (sourceState) {
    case PowerSnapshot::kAcIdle:
        content.line1Text = IDS_BALLOON_ON_AC;
        content.line2Text = batteryCount > 0 ? IDS_BALLOON_FULLY_CHARGED : IDS_NO_BATTERY;
        content.stateIcon = IDB_STATE_AC;
        content.setsLine1Colour = true;
        content.line1Colour = kMainsColour;
        break;
    case PowerSnapshot::kAcCharging:
    case PowerSnapshot::kBattery:
        content.line1Text = sourceState == PowerSnapshot::kAcCharging ? IDS_BALLOON_CHARGING : IDS_BATTERY_NAME;
        content.line1Suffix = PercentSuffix(percentage);
        content.line2Text = IDS_BALLOON_REMAINING;
        content.line2Suffix = RemainingTimeText(remainingTime);
        content.stateIcon = ChargeIconId(percentage);
        content.setsLine1Colour = true;
        if (sourceState == PowerSnapshot::kAcCharging || percentage > 50)
            content.line1Colour = kChargedColour;
        else
            content.line1Colour = percentage < 10 ? kLowColour : kMiddleColour;
        break;
    default:
        content.line1Text = IDS_BALLOON_STATE_UNKNOWN;
        content.stateIcon = IDB_STATE_UNKNOWN;
        break;
    }
    return content;
}

std::wstring SwitchedOffDevices(const std::list<DeviceDesp>& devices) {
    std::wstring names;
    for (const DeviceDesp& device : devices) {
        if (device.state != 0) continue;
        if (!names.empty()) names += L", ";
        names += device.name;
    }
    return names;
}

bool AnyDeviceSwitchedOff(const std::list<DeviceDesp>& devices) {
    return std::any_of(devices.begin(), devices.end(), [](const DeviceDesp& device) { return device.state == 0; });
}

int BalloonRows(int length) { return std::max(2, (length + 18) * 10 / 200); }

CBalloon2Dlg::CBalloon2Dlg(bool activeSchemeDevices) : m_activeSchemeDevices(activeSchemeDevices) {}

BOOL CBalloon2Dlg::OnInitDialog(HWND, LPARAM) {
    RECT window = {};
    GetWindowRect(m_hWnd, &window);
    m_templateSize = {window.right - window.left, window.bottom - window.top};
    m_link.SubclassDlgItem(IDC_BALLOON_LINK, m_hWnd);
    HideLink();
    return FALSE;
}

// ---- Content ----

void CBalloon2Dlg::Prepare(int view) {
    m_view = view == kPowerView ? kPowerView : kDeviceView;

    m_width = m_templateSize.cx;
    m_height = m_templateSize.cy;
    {
        UniqueBitmap background(LoadResBitmap(m_background));
        BITMAP info = {};
        if (background && GetObjectW(background.get(), sizeof info, &info) != 0) {
            m_width = info.bmWidth;
            m_height = info.bmHeight;
        }
    }

    const PowerSnapshot& power = ShownPower();
    m_sourceState = power.sourceState;
    if (m_view == kPowerView) {
        const BalloonContent content =
            PowerBalloonContent(power.sourceState, power.percentage, power.remainingTime, power.batteryCount);
        m_line1 = ResString(content.line1Text) + content.line1Suffix;
        m_line2 = ResString(content.line2Text) + content.line2Suffix;
        m_stateIcon = content.stateIcon;
        if (content.setsLine1Colour) m_line1Colour = content.line1Colour;
        m_line2Colour = kWhite;
        m_line1Font = MakeLogFont(L"Verdana", 18, 7, 600);
        m_line2Font = MakeLogFont(L"Tahoma", 15, 5, 400);
        m_linkText = ResString(IDS_BALLOON_SHOW_DEVICES);
        m_top = m_middle = m_bottom = 0;
        // The devices the active scheme switches off on this source, for the link.
        m_devices = DeviceItems();
        const int ac = power.AcFlag();
        if (ac >= 0 && m_activeSchemeDevices) {
            CSchemeEx scheme;
            scheme.Initialize();
            ComputeDeviceStates(m_devices, scheme.GetActivePwrScheme(), ac);
        }
    } else {
        m_line1 = ResString(IDS_BALLOON_DEVICES_OFF);
        m_line2 = SwitchedOffDevices(m_devices);
        m_rows = BalloonRows(static_cast<int>(m_line2.size()));
        m_height += m_rows * kRowHeight + 8;
        m_stateIcon = IDB_STATE_DEVICE;
        m_line1Colour = kWhite;
        m_line2Colour = kDeviceNamesColour;
        m_line1Font = MakeLogFont(L"Tahoma", 16, 6, 400);
        m_line2Font = MakeLogFont(L"Verdana", 16, 6, 600);
        m_linkText = ResString(IDS_BALLOON_SHOW_POWER);
        m_top = IDB_BALLOON_TOP;
        m_middle = IDB_BALLOON_MIDDLE;
        m_bottom = IDB_BALLOON_BOTTOM;
    }

    HideLink();

    RECT work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    SetWindowPos(m_hWnd, nullptr, work.right - kRightMargin - m_width, work.bottom - kBottomMargin - m_height, m_width,
                 m_height, SWP_NOZORDER | SWP_NOACTIVATE);
    // The window owns the region from here on.
    HRGN region = CreateRoundRectRgn(0, 0, m_width, m_height, kCornerSize, kCornerSize);
    if (region != nullptr && !SetWindowRgn(m_hWnd, region, TRUE)) DeleteObject(region);

    // The texts are drawn, not controls: the window's text says what the balloon shows.
    SetWindowText((m_line1 + L"\r\n" + m_line2).c_str());
    Compose();
}

void CBalloon2Dlg::Show() {
    Prepare(kPowerView);
    m_step = 0;
    m_fadeTotal = 0;
    m_fading = true;
    KillTimer(m_hWnd, kHideTimer);
    SetTimer(m_hWnd, kFadeTimer, kFadePeriodMs, nullptr);
    ShowWindow(SW_SHOWNOACTIVATE);
}

// ---- Link ----

void CBalloon2Dlg::HideLink() {
    if (m_link.m_hWnd == nullptr) return;
    m_link.SetWindowText(L"");
    SetWindowPos(m_link, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    m_link.ShowWindow(SW_HIDE);
}

void CBalloon2Dlg::PlaceLink() {
    if (m_link.m_hWnd == nullptr) return;
    if (!AnyDeviceSwitchedOff(m_devices)) {
        HideLink();
        return;
    }
    const POINT at = m_view == kPowerView ? kPowerLinkAt
                                          : POINT{kDeviceLinkX, m_rows * kRowHeight + kDeviceLinkBelowRows};
    m_link.SetWindowText(m_linkText.c_str());
    SetWindowPos(m_link, nullptr, at.x, at.y, kLinkSize.cx, kLinkSize.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    m_link.ShowWindow(SW_SHOWNA);
}

LRESULT CBalloon2Dlg::OnToggleView(UINT, WPARAM, LPARAM, BOOL&) {
    Prepare(m_view == kPowerView ? kDeviceView : kPowerView);
    // The link leads back: it stays once the fade-in has ended.
    if (!m_fading) PlaceLink();
    Blend();
    RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
    return 0;
}

// ---- Timers and mouse ----

void CBalloon2Dlg::OnTimer(UINT_PTR timerId) {
    switch (timerId) {
    case kFadeTimer:
        FadeStep();
        break;
    case kHideTimer:
        m_step = 0;
        m_fading = false;
        KillTimer(m_hWnd, kFadeTimer);
        KillTimer(m_hWnd, kHideTimer);
        AnimateWindow(m_hWnd, kBlendOutMs, AW_HIDE | AW_BLEND);
        // Where the system cannot animate the window it is hidden all the same.
        if (IsWindowVisible(m_hWnd)) ShowWindow(SW_HIDE);
        // Hidden, the balloon keeps no picture while TALO idles: the next show composes
        // its own.
        m_image.reset();
        break;
    default:
        break;
    }
}

void CBalloon2Dlg::FadeStep() {
    if (m_fadeTotal < kFadeEnd) {
        m_step += 4;
        m_fadeTotal += m_step / 100;
        m_blend.SourceConstantAlpha = static_cast<BYTE>(std::min(255, m_fadeTotal + 10));
        Blend();
    }
    if (m_fadeTotal >= kFadeEnd) {
        m_fadeTotal = 0;
        m_fading = false;
        PlaceLink();
        KillTimer(m_hWnd, kFadeTimer);
        SetTimer(m_hWnd, kHideTimer, kHideDelayMs, nullptr);
    }
}

// The balloon stays while the cursor is on it.
void CBalloon2Dlg::OnMouseMove(UINT, POINT) {
    KillTimer(m_hWnd, kHideTimer);
    TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, m_hWnd, 0};
    TrackMouseEvent(&track);
}

void CBalloon2Dlg::OnMouseLeave() { SetTimer(m_hWnd, kHideTimer, kHideDelayMs, nullptr); }

void CBalloon2Dlg::OnHelp(LPHELPINFO) { CFrameDlg::ShowHelp(); }

// ---- Drawing ----

void CBalloon2Dlg::DrawBitmap(HDC dc, UINT id, int x, int y, bool transparent) const {
    if (id == 0) return;
    UniqueBitmap bitmap(LoadResBitmap(id));
    CopyBitmap(dc, bitmap.get(), x, y, 0, 0, transparent ? BlitMode::kKeyed : BlitMode::kCopy);
}

void CBalloon2Dlg::DrawLine(HDC dc, const std::wstring& text, const LOGFONTW& font, COLORREF colour, RECT rect,
                            UINT format) const {
    UniqueFont handle = MakeFont(font);
    CSelectObject selected(dc, handle.get());
    SetTextColor(dc, colour);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, format | DT_NOPREFIX);
}

bool CBalloon2Dlg::Compose() {
    m_image.reset();
    if (m_width <= 0 || m_height <= 0) return false;
    HDC screen = GetDC(m_hWnd);
    if (screen == nullptr) return false;
    m_image.reset(CreateCompatibleBitmap(screen, m_width, m_height));
    UniqueMemoryDc dc(CreateCompatibleDC(screen));
    ReleaseDC(m_hWnd, screen);
    if (!m_image || !dc) {
        m_image.reset();
        return false;
    }
    CSelectObject selected(dc.get(), m_image.get());
    DrawBitmap(dc.get(), m_background, 0, 0, false);
    if (m_view == kPowerView) {
        DrawBitmap(dc.get(), m_stateIcon, 12, 11, true);
        if (m_sourceState == PowerSnapshot::kAcCharging) DrawBitmap(dc.get(), IDB_CHARGING_MARK, 35, 30, true);
    } else {
        DrawBitmap(dc.get(), m_top, 0, 0, false);
        for (int row = 0; row < m_rows - 2; ++row) DrawBitmap(dc.get(), m_middle, 0, kRowsTop + row * kRowHeight, false);
        DrawBitmap(dc.get(), m_bottom, 0, m_rows * kRowHeight + 10, false);
        DrawBitmap(dc.get(), m_stateIcon, 18, 14, true);
    }
    SetBkMode(dc.get(), TRANSPARENT);
    if (m_view == kPowerView) {
        const UINT single = DT_SINGLELINE | DT_VCENTER | DT_LEFT;
        DrawLine(dc.get(), m_line1, m_line1Font, m_line1Colour, RECT{81, 11, 224, 35}, single);
        DrawLine(dc.get(), m_line2, m_line2Font, m_line2Colour, RECT{83, 38, 226, 58}, single);
    } else {
        DrawLine(dc.get(), m_line1, m_line1Font, m_line1Colour, RECT{38, 11, 240, 56}, DT_WORDBREAK);
        DrawLine(dc.get(), m_line2, m_line2Font, m_line2Colour, RECT{38, 46, 240, m_rows * kRowHeight + 76},
                 DT_WORDBREAK);
    }
    return true;
}

void CBalloon2Dlg::Blend() {
    if (!m_image) return;
    HDC window = GetDC(m_hWnd);
    if (window == nullptr) return;
    UniqueMemoryDc source(CreateCompatibleDC(window));
    if (source) {
        CSelectObject selected(source.get(), m_image.get());
        GdiAlphaBlend(window, 0, 0, m_width, m_height, source.get(), 0, 0, m_width, m_height, m_blend);
    }
    ReleaseDC(m_hWnd, window);
}

// During the fade-in the timer draws; afterwards the picture is painted whole.
void CBalloon2Dlg::OnPaint(HDC) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    if (dc == nullptr) return;
    if (!m_fading) PaintImage(dc);
    EndPaint(m_hWnd, &paint);
}

LRESULT CBalloon2Dlg::OnPrintClient(UINT, WPARAM wParam, LPARAM, BOOL&) {
    PaintImage(reinterpret_cast<HDC>(wParam));
    return 0;
}

void CBalloon2Dlg::PaintImage(HDC dc) const {
    CopyBitmap(dc, m_image.get(), 0, 0);
}

}  // namespace talo
