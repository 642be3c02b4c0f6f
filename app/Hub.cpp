#include "Hub.h"

#include <string>
#include <vector>

#include "AboutDlg.h"
#include "AppConfig.h"
#include "BalloonDlg.h"
#include "BatteryStatusDlg.h"
#include "DeviceItems.h"
#include "DeviceShowDlg.h"
#include "FrameDlg.h"
#include "PwrDesp.h"
#include "QuickSwitchDlg.h"
#include "ResourceModule.h"
#include "SchemeEx.h"
#include "SchemeMainDlg.h"
#include "TALOApp.h"

namespace talo {
namespace {

// Dialog kinds, one of each open at a time in the session.
constexpr wchar_t kBatteryStatusMutex[] = L"BatteryStatusDlg";
constexpr wchar_t kSchemeMainMutex[] = L"SchemeMainDlg";
constexpr wchar_t kAboutMutex[] = L"AboutDlg";
constexpr wchar_t kQuickSwitchMutex[] = L"QuickSwitchDlg";

// Runs open() unless a dialog of that kind is open already (its mutex exists); false then.
template <class Open>
bool RunOnce(const wchar_t* mutexName, Open open) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, mutexName);
    if (mutex == nullptr) return false;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    open();
    CloseHandle(mutex);
    return true;
}

}  // namespace

UINT CDummyDlg::TaskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    // 0 would be WM_NULL; a failed registration answers no message at all.
    return message != 0 ? message : ~0u;
}

CDummyDlg::CDummyDlg() { CurrentPower() = PowerSnapshot{}; }

BOOL CDummyDlg::OnInitDialog(HWND, LPARAM) {
    ShowWindow(SW_HIDE);
    return FALSE;
}

void CDummyDlg::OnClose() { DestroyWindow(); }

void CDummyDlg::OnDestroy() {
    // While the window still exists, so that no shell keeps an icon of a window that is gone.
    m_tray.Remove();
    PostQuitMessage(0);
}

// ---- Power ----

void CDummyDlg::PowerPoll() { PollPower(CurrentPower(), m_battery); }

int CDummyDlg::ComputeDeviceStates(int schemeIndex, int ac) {
    return talo::ComputeDeviceStates(DeviceItems(), schemeIndex, ac);
}

// ---- Tray ----

// The icon of that identifier; a module that lacks it gives null.
HICON CDummyDlg::TrayIcon(UINT id) { return id != 0 ? LoadResIcon(id) : nullptr; }

// The icon TALO starts with when the module lacks the one the power state calls for: the
// module's unknown-state icon, else any of its tray icons, else the system's application
// icon. TALO is never invisible, so that it can always be found and left.
HICON CDummyDlg::StandInTrayIcon() {
    for (UINT id : {kIconPowerUnknown, kIconAcIdle, kIconAcCharging, kIconBatteryHigh, kIconBatteryMiddle,
                    kIconBatteryLow})
        if (HICON icon = TrayIcon(id)) return icon;
    return LoadIconW(nullptr, IDI_APPLICATION);
}

void CDummyDlg::StartTray() {
    m_tray.SetTarget(m_hWnd, kTrayCallbackMessage);
    PowerPoll();
    UpdateTrayIcon();
    SetTimer(m_hWnd, kPollTimer, kPollPeriodMs, nullptr);
    // Adds the icon when the update found it already chosen, or could not load it.
    HICON icon = TrayIcon(m_iconId);
    if (icon == nullptr) icon = m_tray.Icon() != nullptr ? m_tray.Icon() : StandInTrayIcon();
    m_tray.SetIcon(icon);
    m_tracker.SetTarget(m_hWnd, kTrayIconUid, kTrayCallbackMessage);
}

void CDummyDlg::UpdateTrayIcon() {
    UINT previous = m_iconId;
    m_iconId = TrayIconId(CurrentPower().sourceState, CurrentPower().percentage);
    // A module that lacks the new icon leaves the one shown as it is.
    if (m_iconId != previous) {
        if (HICON icon = TrayIcon(m_iconId)) m_tray.SetIcon(icon);
    }
    ShownPower() = CurrentPower();
}

LRESULT CDummyDlg::OnTaskbarCreated(UINT, WPARAM, LPARAM, BOOL&) {
    // The shell (re)started: whether it kept the icon or lost it, and whether it took it
    // before or not, it shows the icon TALO has (none before the tray starts).
    m_tray.Restore();
    return 0;
}

LRESULT CDummyDlg::OnTrayCallback(UINT, WPARAM wParam, LPARAM lParam, BOOL& handled) {
    // The same number is the dialog manager's DM_GETDEFID, which comes with 0.
    if (wParam != kTrayIconUid) {
        handled = FALSE;
        return 0;
    }
    switch (static_cast<UINT>(lParam)) {
    case WM_MOUSEMOVE:
        m_tracker.RecordMouseMove();
        if (!m_hoverArmed) {
            SetTimer(m_hWnd, kBalloonTimer, kBalloonDelayMs, nullptr);
            m_hoverArmed = 1;
        }
        break;
    case WM_LBUTTONUP:
        KillTimer(m_hWnd, kBalloonTimer);
        if (!m_clickPending) {
            m_clickPending = 1;
            SetTimer(m_hWnd, kClickTimer, kClickDelayMs, nullptr);
        } else {
            m_clickPending = 0;  // the second release of a double click
        }
        break;
    case WM_LBUTTONDBLCLK:
        KillTimer(m_hWnd, kBalloonTimer);
        KillTimer(m_hWnd, kClickTimer);
        SendMessage(WM_COMMAND, kCmdSchemeMain, 0);
        break;
    case WM_RBUTTONUP:
        KillTimer(m_hWnd, kBalloonTimer);
        ShowTrayMenu();
        break;
    case kTrayMouseLeave:
        KillTimer(m_hWnd, kBalloonTimer);
        m_hoverArmed = 0;
        break;
    default:
        break;
    }
    return 0;
}

void CDummyDlg::ShowTrayMenu() {
    POINT cursor = {};
    GetCursorPos(&cursor);
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) return;
    BuildTrayMenu(menu);
    SetForegroundWindow(m_hWnd);
    TrackPopupMenu(menu, TPM_LEFTALIGN, cursor.x, cursor.y, 0, m_hWnd, nullptr);
    // Without it the menu stays open when the user clicks elsewhere.
    PostMessage(WM_NULL);
    DestroyMenu(menu);
}

void CDummyDlg::OnTimer(UINT_PTR timerId) {
    switch (timerId) {
    case kBalloonTimer:
        ShowBalloon();
        break;
    case kPollTimer: {
        PowerPoll();
        // Mains plugged or unplugged (not the first source learnt, nor the battery starting
        // or ending a charge) shows itself in the balloon.
        const int shownAc = ShownPower().AcFlag();
        const bool sourceChanged = shownAc >= 0 && CurrentPower().AcFlag() != shownAc;
        UpdateTrayIcon();
        if (sourceChanged) ShowBalloon();
        break;
    }
    case kClickTimer:
        KillTimer(m_hWnd, kClickTimer);
        m_clickPending = 0;
        ShowTrayMenu();
        break;
    default:
        break;
    }
}

// ---- Commands ----

LRESULT CDummyDlg::OnCommandHook(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    UINT id = LOWORD(wParam);
    if (id >= kCmdFirstScheme) SwitchScheme(static_cast<int>(id - kCmdFirstScheme));
    handled = FALSE;
    return 0;
}

void CDummyDlg::SwitchScheme(int item) {
    CSchemeEx scheme;
    scheme.Initialize();
    std::vector<PWRDESP> list;
    if (!EnumSchemes(scheme, list)) return;
    if (item < static_cast<int>(list.size())) {
        int ac = CurrentPower().AcFlag();
        if (ac < 0) return;  // no poll yet: the power source is not known
        int index = list[static_cast<size_t>(item)].index;
        if (ReadDevShowFlag() == 1) {
            // One device dialog at a time: a scheme chosen while one asks is not switched to.
            if (ShowDeviceDialog(index, ac) == CDeviceShowDlg::kAlreadyOpen) return;
        } else {
            ComputeDeviceStates(index, ac);
        }
        scheme.SetActivePwrScheme(index);
        return;
    }
    wchar_t caption[128] = L"";
    wchar_t text[512] = L"";
    LoadResString(kStrSchemeGoneCaption, caption, 128);
    LoadResString(kStrSchemeGoneText, text, 512);
    MessageBoxW(m_hWnd, text, caption, MB_OK);
}

LRESULT CDummyDlg::OnSchemeMain(WORD, WORD, HWND, BOOL&) {
    if (RunOnce(kSchemeMainMutex, [this] { OpenSchemeMainDialog(); })) return 0;
    // Open already: it comes to the front, found by the scheme dialogs' title.
    HWND dialog = FindWindowW(nullptr, CFrameDlg::WindowTitle().c_str());
    if (dialog != nullptr) ::SendMessageW(dialog, CFrameDlg::kBringForward, 0, 0);
    return 0;
}

LRESULT CDummyDlg::OnBatteryStatus(WORD, WORD, HWND, BOOL&) {
    RunOnce(kBatteryStatusMutex, [this] { OpenBatteryStatusDialog(); });
    return 0;
}

LRESULT CDummyDlg::OnAbout(WORD, WORD, HWND, BOOL&) {
    RunOnce(kAboutMutex, [this] { OpenAboutDialog(); });
    return 0;
}

LRESULT CDummyDlg::OnExit(WORD, WORD, HWND, BOOL&) {
    PostQuitMessage(0);
    return 0;
}

LRESULT CDummyDlg::OnHotKey(UINT, WPARAM, LPARAM, BOOL&) {
    RunOnce(kQuickSwitchMutex, [this] { OpenQuickSwitchDialog(); });
    return 0;
}

LRESULT CDummyDlg::OnHelp(UINT, WPARAM, LPARAM, BOOL&) { return TRUE; }

// ---- Dialogs still to come ----

void CDummyDlg::OpenBatteryStatusDialog() {
    CBatteryStatusDlg dialog;
    dialog.DoModal(m_hWnd);
}
void CDummyDlg::OpenSchemeMainDialog() {
    CSchemeMainDlg dialog;
    dialog.DoModal(m_hWnd);
}
void CDummyDlg::OpenAboutDialog() {
    CAboutDlg about;
    about.DoModal(m_hWnd);
}
void CDummyDlg::OpenQuickSwitchDialog() {
    // Modal over the hub until it slid away or a scheme was chosen.
    CQuickSwitchDlg strip;
    strip.DoModal(m_hWnd);
}
// Modal over the hub; it starts the enforce record and computes the device states itself.
INT_PTR CDummyDlg::ShowDeviceDialog(int schemeIndex, int ac) {
    CDeviceShowDlg dialog;
    return dialog.Show(schemeIndex, ac, m_hWnd);
}

// ---- Balloon ----

// The balloon fades in with the power view; a hover waiting for it is done with.
void CDummyDlg::ShowBalloon() {
    CBalloon2Dlg* balloon = Balloon();
    if (balloon != nullptr && balloon->IsWindow()) balloon->Show();
    KillTimer(m_hWnd, kBalloonTimer);
}

}  // namespace talo
