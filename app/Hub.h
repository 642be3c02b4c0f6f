// The hub: TALO's hidden main window. It owns the tray icon and its tracker, runs the
// power poll every second, receives the tray's mouse events, the menu's commands and the
// quick switch's hotkey, and opens the program's dialogs; it is never shown.
#pragma once

#include <windows.h>

#include "Dialog.h"
#include "PowerSnapshot.h"
#include "TaloResIds.h"
#include "Tray.h"

namespace talo {

class CDummyDlg : public CDialogImpl<CDummyDlg> {
public:
    enum { IDD = IDD_HUB };

    // The hub's timers.
    static constexpr UINT_PTR kBalloonTimer = 1;    // 1.5 s after the cursor came over the icon
    static constexpr UINT_PTR kPollTimer = 3;       // every second: power poll, icon
    static constexpr UINT_PTR kClickTimer = 4;      // 200 ms after a left click: the menu
    static constexpr UINT kBalloonDelayMs = 1500;
    static constexpr UINT kPollPeriodMs = 1000;
    static constexpr UINT kClickDelayMs = 200;
    // The message box for a scheme that vanished: caption and text.
    static constexpr UINT kStrSchemeGoneCaption = IDS_SCHEME_GONE_CAPTION;
    static constexpr UINT kStrSchemeGoneText = IDS_SCHEME_GONE_TEXT;

    // Starts the tracker's thread and resets the power snapshot.
    CDummyDlg();
    ~CDummyDlg() override = default;

    BEGIN_MSG_MAP(CDummyDlg)
        MESSAGE_HANDLER(WM_COMMAND, OnCommandHook)
        MESSAGE_HANDLER(kTrayCallbackMessage, OnTrayCallback)
        MESSAGE_HANDLER(WM_HOTKEY, OnHotKey)
        COMMAND_ID_HANDLER(kCmdSchemeMain, OnSchemeMain)
        COMMAND_ID_HANDLER(kCmdBatteryStatus, OnBatteryStatus)
        COMMAND_ID_HANDLER(kCmdExit, OnExit)
        COMMAND_ID_HANDLER(kCmdAbout, OnAbout)
        MSG_WM_TIMER(OnTimer)
        MESSAGE_HANDLER(WM_HELP, OnHelp)
        MESSAGE_HANDLER(TaskbarCreatedMessage(), OnTaskbarCreated)
        MSG_WM_INITDIALOG(OnInitDialog)
        MSG_WM_CLOSE(OnClose)
        MSG_WM_DESTROY(OnDestroy)
    END_MSG_MAP()

    // Start-up's tray step: the first poll, the icon, the poll timer, the tracker's target.
    void StartTray();
    // Reads the power source and the batteries into CurrentPower().
    void PowerPoll();
    // Shows the icon CurrentPower() calls for (a module lacking it leaves the icon as it
    // was); records the power state as shown.
    void UpdateTrayIcon();
    // Sets each device item's state for the scheme and power source; the number of
    // devices the scheme turns off (all recorded ones where the enforce record applies).
    int ComputeDeviceStates(int schemeIndex, int ac);

    UINT CurrentIconId() const { return m_iconId; }

    // The message the shell broadcasts when it (re)starts.
    static UINT TaskbarCreatedMessage();

private:
    BOOL OnInitDialog(HWND focus, LPARAM initParam);
    // Closing the hub (the session ending) ends TALO.
    void OnClose();
    void OnDestroy();
    // Before the map's own entries: a scheme item of the menu is switched to here; every
    // command then goes on.
    LRESULT OnCommandHook(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnTrayCallback(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnHotKey(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);
    LRESULT OnSchemeMain(WORD code, WORD id, HWND control, BOOL& handled);
    LRESULT OnBatteryStatus(WORD code, WORD id, HWND control, BOOL& handled);
    LRESULT OnExit(WORD code, WORD id, HWND control, BOOL& handled);
    LRESULT OnAbout(WORD code, WORD id, HWND control, BOOL& handled);
    void OnTimer(UINT_PTR timerId);
    // F1 over the hidden window: no help.
    LRESULT OnHelp(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);
    // The shell (re)started, with or without the icon: the icon is shown again.
    LRESULT OnTaskbarCreated(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);

    // The icon of that identifier, null when the module lacks it; the one shown instead
    // at the start when the module lacks the icon the power state calls for.
    static HICON TrayIcon(UINT id);
    static HICON StandInTrayIcon();

    void SwitchScheme(int item);
    void ShowTrayMenu();

    // The dialogs the hub opens, one of each kind at a time (named mutexes).
    void OpenBatteryStatusDialog();
    void OpenSchemeMainDialog();
    void OpenAboutDialog();
    void OpenQuickSwitchDialog();
    // Modal before a switch when DevShowFlag is 1: the devices to keep on. What the
    // dialog's Show returned.
    INT_PTR ShowDeviceDialog(int schemeIndex, int ac);
    // The balloon's fade-in with the power view.
    void ShowBalloon();

    CTray m_tray;
    UINT m_iconId = kIconBatteryMiddle;
    int m_clickPending = 0;
    CMsgTrayPos m_tracker;
    int m_hoverArmed = 0;
    SYSTEM_BATTERY_STATE m_battery = {};
};

}  // namespace talo
