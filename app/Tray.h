// TALO's notification-area icon: the icon record and its add/change/remove, the thread
// that notices the cursor leaving the icon, the icon chosen by the power source and the
// charge, and the context menu with the scheme list.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstddef>

#include "PowerSnapshot.h"
#include "TaloResIds.h"
#include "Window.h"

namespace talo {

// The tray callback message and the icon's identifier.
constexpr UINT kTrayCallbackMessage = WM_USER;
constexpr UINT kTrayIconUid = 1;
// The hover and leave the tracker reports through the callback message.
constexpr UINT kTrayMouseHover = WM_MOUSEHOVER;
constexpr UINT kTrayMouseLeave = WM_MOUSELEAVE;

// Icons of the resource module by power source and charge band.
constexpr UINT kIconBatteryLow = IDI_TRAY_BATTERY_LOW;     // on battery, below 30 %
constexpr UINT kIconBatteryMiddle = IDI_TRAY_BATTERY_MID;  // on battery, 30 to 59 %
constexpr UINT kIconBatteryHigh = IDI_TRAY_BATTERY_HIGH;    // on battery, 60 % and more
constexpr UINT kIconAcCharging = IDI_TRAY_AC_CHARGING;
constexpr UINT kIconAcIdle = IDI_TRAY_AC;
constexpr UINT kIconPowerUnknown = IDI_TRAY_UNKNOWN;

// Menu commands the hub answers.
constexpr UINT kCmdBatteryStatus = 32771;
constexpr UINT kCmdSchemeMain = 32772;
constexpr UINT kCmdExit = 32773;
constexpr UINT kCmdAbout = 32774;
// Scheme item i of the menu: kCmdFirstScheme + i (i in enumeration order).
constexpr UINT kCmdFirstScheme = 32800;

// Menu texts of the resource module.
constexpr UINT kStrMenuBatteryStatus = IDS_BATTERY_STATUS;
constexpr UINT kStrMenuSchemeMain = IDS_MENU_SCHEMES;
constexpr UINT kStrMenuExit = IDS_MENU_EXIT;
constexpr UINT kStrMenuAbout = IDS_MENU_ABOUT;

// The icon for a source state and a percentage.
UINT TrayIconId(int sourceState, int percentage);

// Fills an empty pop-up menu: the schemes (the active one checked), then the battery
// status, the main dialog (the default item), about and exit. The fixed items are always
// there, so that TALO can be left whatever the library answers: 1; 0 when the schemes
// could not be listed (the menu then holds the fixed items only). On the first run not
// yet done it prepares the configuration files first, keeping what the user's schemes hold.
int BuildTrayMenu(HMENU menu);

// The record of one notification-area icon; it makes no window of its own.
class CTray : public CWindow {
public:
    // The record's size: up to the balloon's fields and the GUID, without the balloon
    // icon, so that XP's shell takes it as well.
    static constexpr DWORD kRecordSize = offsetof(NOTIFYICONDATAW, hBalloonIcon);

    CTray();
    CTray(const CTray&) = delete;
    CTray& operator=(const CTray&) = delete;
    // Removes the icon (Remove).
    ~CTray() override;

    // Sets the window and callback message the shell reports mouse events with.
    void SetTarget(HWND window, UINT callbackMessage);
    // Shows the icon: added when the shell is not known to have it, changed when it is. A
    // refused add is tried again as a change (the shell still has the icon, say after a
    // taskbar restart that kept it), a refused change as an add (the shell lost it). The
    // icon stays remembered either way, so a later call or Restore shows it. With null,
    // Remove. The shell's result.
    int SetIcon(HICON icon);
    // The shell announced itself ("TaskbarCreated"): shows the remembered icon again,
    // whether the shell kept it or not. 0 when there is none yet.
    int Restore();
    // Takes the icon away whatever TALO knows of it: every icon it ever offered the shell,
    // taken or not, is deleted once. 1 when there was nothing to delete.
    int Remove();
    HICON Icon() const { return m_nid.hIcon; }
    // Whether the shell took the last add or change.
    bool Shown() const { return m_shown; }

private:
    BOOL Notify(DWORD command);

    NOTIFYICONDATAW m_nid;
    bool m_shown = false;    // the shell took the last add or change
    bool m_offered = false;  // an add or change went to the shell since the last removal
};

// Watches the cursor after a mouse move over the icon and reports hover and leave: the
// shell tells of moves over an icon, never of the cursor leaving it.
class CTrayPos {
public:
    CTrayPos();
    CTrayPos(const CTrayPos&) = delete;
    CTrayPos& operator=(const CTrayPos&) = delete;
    // Stops the thread (5 s, then terminated), closes the event.
    virtual ~CTrayPos();
    virtual void OnMouseHover() = 0;
    virtual void OnMouseLeave() = 0;

    // A mouse move over the icon: records the cursor; the first one reports a hover.
    void RecordMouseMove();

protected:
    // Ends the thread; a derived class calls it first in its destructor, so that the
    // thread never reports through a half-destroyed object. Safe to call twice.
    void Stop();

private:
    static DWORD WINAPI ThreadProc(void* tracker);
    // Every 800 ms while inside: a cursor that moved from the recorded place has left.
    DWORD Run();

    POINT m_cursor = {};
    HANDLE m_thread = nullptr;
    HANDLE m_stop = nullptr;
    int m_inside = 0;
    CRITICAL_SECTION m_lock;
};

// Reports hover and leave to a window as tray callbacks (WM_MOUSEHOVER, WM_MOUSELEAVE).
class CMsgTrayPos : public CTrayPos {
public:
    CMsgTrayPos() = default;
    ~CMsgTrayPos() override;
    void SetTarget(HWND window, UINT uid, UINT callbackMessage);
    void OnMouseHover() override;
    void OnMouseLeave() override;

private:
    void Post(UINT mouseMessage);

    std::atomic<HWND> m_target{nullptr};
    UINT m_uid = kTrayIconUid;
    UINT m_callbackMessage = kTrayCallbackMessage;
};

}  // namespace talo
