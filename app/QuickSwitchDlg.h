// The quick switch: a strip of scheme icons that rises from the bottom edge of the work
// area when the hotkey is pressed. It offers the schemes whose profile flag IfShow is 1,
// five at a time with arrow buttons (and the arrow keys) for the rest; a click on one
// activates it, and the strip slides away by itself five seconds after it rose or after
// the mouse left it. Only its buttons and labels are seen: the rest of the window is the
// key colour of a layered window.
#pragma once

#include <windows.h>

#include <vector>

#include "Dialog.h"
#include "IconButton.h"
#include "IconStatic.h"
#include "PwrDesp.h"
#include "TaloResIds.h"

namespace talo {

class CQuickSwitchDlg : public CDialogImpl<CQuickSwitchDlg> {
public:
    enum { IDD = IDD_QUICK_SWITCH };

    // Geometry in client pixels: five slot widths and room for the arrows, fixed before
    // the number of slots is known.
    static constexpr int kWidth = 550;
    static constexpr int kHeight = 120;
    static constexpr int kMaxSlots = 5;
    static constexpr int kSlotPitch = 100;
    static constexpr int kSlotLeft = 30;
    static constexpr int kSlotSize = 90;
    static constexpr int kLabelTop = 100;
    static constexpr int kLabelHeight = 20;
    static constexpr int kArrowWidth = 20;
    // How far the strip rises above the work area's bottom edge, in steps of kSlideStep.
    static constexpr int kRiseHeight = 180;
    static constexpr int kSlideStep = 10;

    // Timers of the strip.
    static constexpr UINT_PTR kRiseTimer = 1;
    static constexpr UINT_PTR kStayTimer = 2;  // one shot: then the strip falls
    static constexpr UINT_PTR kFallTimer = 3;
    static constexpr UINT kSlideMs = 10;
    static constexpr UINT kStayMs = 5000;

    // A slot's images are the scheme's icon number plus these.
    static constexpr UINT kSlotNormalBase = IDB_SLOT_NORMAL_BASE;
    static constexpr UINT kSlotPressedBase = IDB_SLOT_PRESSED_BASE;
    static constexpr UINT kSlotHotBase = IDB_SLOT_HOT_BASE;
    static constexpr COLORREF kLabelColor = RGB(0xFF, 0xFF, 0xFF);

    CQuickSwitchDlg() = default;

    int Count() const { return static_cast<int>(m_shown.size()); }
    int Slots() const { return m_slots; }
    int First() const { return m_first; }
    int Current() const { return m_current; }
    int SlideOffset() const { return m_offset; }

    // The arrow keys scroll; every key restarts the five seconds.
    bool PreTranslateMessage(MSG* message) override;

    BEGIN_MSG_MAP(CQuickSwitchDlg)
        MSG_WM_INITDIALOG(OnInitDialog)
        MSG_WM_PAINT(OnPaint)
        MSG_WM_ERASEBKGND(OnEraseBackground)
        MSG_WM_MOUSEMOVE(OnMouseMove)
        MSG_WM_MOUSELEAVE(OnMouseLeave)
        MSG_WM_TIMER(OnTimer)
        MSG_WM_HELP(OnHelp)
        COMMAND_ID_HANDLER(IDCANCEL, OnCloseCmd)
        MESSAGE_HANDLER(WM_COMMAND, OnCommand)
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

private:
    BOOL OnInitDialog(HWND focus, LPARAM initParam);
    void OnPaint(HDC dc);
    BOOL OnEraseBackground(HDC) { return TRUE; }
    void OnMouseMove(UINT keys, POINT point);
    void OnMouseLeave();
    void OnTimer(UINT_PTR timerId);
    void OnHelp(LPHELPINFO) const;
    // The buttons' clicks and their hover and leave notices, the labels' repaint requests.
    LRESULT OnCommand(UINT, WPARAM wParam, LPARAM lParam, BOOL& handled);

    // The window's layered style with the key colour left out of it.
    void MakeKeyTransparent() const;
    // The schemes to offer ([Scheme<i>] IfShow 1 of the profile file), in the library's
    // order; false when the enumeration fails.
    bool LoadShownSchemes();
    // The active scheme's place in the shown list, -1 when it is not there.
    int FindCurrent() const;
    void CreateControls();
    // The slots from first on: each button's scheme, name and images, each label's name;
    // the arrows shown where there is more to scroll to.
    void FillSlots();
    void ScrollLeft();
    void ScrollRight();
    // Highlights or clears the slot that shows the active scheme, when it is in view.
    void MarkCurrent(bool on);
    void Choose(int slot);
    void MoveStrip() const;
    void RestartStay();
    void StopTimers();

    std::vector<PWRDESP> m_shown;
    int m_slots = kMaxSlots;
    int m_first = 0;
    int m_current = -1;
    int m_offset = 0;
    int m_left = 0;
    RECT m_workArea = {};
    CIconButton m_slotButtons[kMaxSlots];
    CIconStatic m_slotLabels[kMaxSlots];
    CIconButton m_scrollLeft;
    CIconButton m_scrollRight;
};

}  // namespace talo
