// Message maps: a class lists its handlers between BEGIN_MSG_MAP and END_MSG_MAP, which
// define its ProcessWindowMessage. An entry that matches calls its handler; a raw handler
// may clear bHandled to let the message go on to the next entries and then to the
// window's default handling. A cracker (MSG_WM_*) always handles its message.
#pragma once

#include <windows.h>

namespace talo {

// Messages a parent sends back to the control that notified it (REFLECT_NOTIFICATIONS).
constexpr UINT kReflectBase = WM_USER + 0x1C00;
constexpr UINT OCM_COMMAND = kReflectBase + WM_COMMAND;
constexpr UINT OCM_NOTIFY = kReflectBase + WM_NOTIFY;
constexpr UINT OCM_DRAWITEM = kReflectBase + WM_DRAWITEM;
constexpr UINT OCM_CTLCOLORSTATIC = kReflectBase + WM_CTLCOLORSTATIC;

class CMessageMap {
public:
    virtual ~CMessageMap() = default;
    // True when the map handled the message, with its result in result; false passes it
    // on to the window's default handling.
    virtual bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;
};

// Sends a control's WM_COMMAND, WM_NOTIFY, WM_DRAWITEM or WM_CTLCOLORSTATIC back to that
// control as OCM_*; returns whether message was one of those from a control, its result in
// result (a control that does not handle its OCM_* gives 0: the default handling).
bool ReflectNotification(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

}  // namespace talo

#define BEGIN_MSG_MAP(theClass)                                                                              \
public:                                                                                                      \
    bool ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override { \
        BOOL bHandled = TRUE;                                                                                \
        (void)hWnd;                                                                                          \
        (void)bHandled;

// LRESULT func(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled)
#define MESSAGE_HANDLER(msg, func)                               \
    if (uMsg == (msg)) {                                         \
        bHandled = TRUE;                                         \
        lResult = func(uMsg, wParam, lParam, bHandled);          \
        if (bHandled) return true;                               \
    }

// LRESULT func(WORD wNotifyCode, WORD wID, HWND hWndCtl, BOOL& bHandled)
#define COMMAND_HANDLER(id, code, func)                                                                \
    if (uMsg == WM_COMMAND && LOWORD(wParam) == (id) && HIWORD(wParam) == (code)) {                    \
        bHandled = TRUE;                                                                               \
        lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled);      \
        if (bHandled) return true;                                                                     \
    }
#define COMMAND_ID_HANDLER(id, func)                                                                   \
    if (uMsg == WM_COMMAND && LOWORD(wParam) == (id)) {                                                \
        bHandled = TRUE;                                                                               \
        lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled);      \
        if (bHandled) return true;                                                                     \
    }

// Any notification of the controls first .. last.
#define COMMAND_RANGE_HANDLER(first, last, func)                                                       \
    if (uMsg == WM_COMMAND && LOWORD(wParam) >= (first) && LOWORD(wParam) <= (last)) {                \
        bHandled = TRUE;                                                                               \
        lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled);      \
        if (bHandled) return true;                                                                     \
    }

// LRESULT func(int idCtrl, LPNMHDR pnmh, BOOL& bHandled)
#define NOTIFY_ID_HANDLER(id, func)                                                                    \
    if (uMsg == WM_NOTIFY && reinterpret_cast<LPNMHDR>(lParam)->idFrom == static_cast<UINT_PTR>(id)) { \
        bHandled = TRUE;                                                                               \
        lResult = func(static_cast<int>(wParam), reinterpret_cast<LPNMHDR>(lParam), bHandled);        \
        if (bHandled) return true;                                                                     \
    }

// Crackers. BOOL func(HWND focus, LPARAM initParam): true lets the system set the focus.
#define MSG_WM_INITDIALOG(func)                                                            \
    if (uMsg == WM_INITDIALOG) {                                                           \
        lResult = func(reinterpret_cast<HWND>(wParam), lParam) ? TRUE : FALSE;             \
        return true;                                                                       \
    }
// void func(UINT_PTR timerId)
#define MSG_WM_TIMER(func)                       \
    if (uMsg == WM_TIMER) {                      \
        func(static_cast<UINT_PTR>(wParam));     \
        lResult = 0;                             \
        return true;                             \
    }
// void func(UINT notifyCode, int id, HWND control)
#define MSG_WM_COMMAND(func)                                                                              \
    if (uMsg == WM_COMMAND) {                                                                             \
        func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam));                             \
        lResult = 0;                                                                                      \
        return true;                                                                                      \
    }
// void func()
#define MSG_WM_CLOSE(func) \
    if (uMsg == WM_CLOSE) { \
        func();             \
        lResult = 0;        \
        return true;        \
    }
#define MSG_WM_DESTROY(func) \
    if (uMsg == WM_DESTROY) { \
        func();               \
        lResult = 0;          \
        return true;          \
    }
// void func(HDC dc)
#define MSG_WM_PAINT(func)                              \
    if (uMsg == WM_PAINT) {                             \
        func(reinterpret_cast<HDC>(wParam));            \
        lResult = 0;                                    \
        return true;                                    \
    }
// void func(UINT keys, POINT point)
#define MSG_WM_MOUSEMOVE(func)                                                       \
    if (uMsg == WM_MOUSEMOVE) {                                                      \
        func(static_cast<UINT>(wParam), POINT{static_cast<short>(LOWORD(lParam)),    \
                                              static_cast<short>(HIWORD(lParam))});  \
        lResult = 0;                                                                 \
        return true;                                                                 \
    }
// void func(const DRAWITEMSTRUCT* item), a control's own drawing sent back by its parent.
#define MSG_OCM_DRAWITEM(func)                                                   \
    if (uMsg == ::talo::OCM_DRAWITEM) {                                          \
        func(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));                   \
        lResult = TRUE;                                                          \
        return true;                                                             \
    }

// void func(UINT keys, POINT point)
#define MSG_WM_LBUTTONDOWN(func)                                                     \
    if (uMsg == WM_LBUTTONDOWN) {                                                    \
        func(static_cast<UINT>(wParam), POINT{static_cast<short>(LOWORD(lParam)),    \
                                              static_cast<short>(HIWORD(lParam))});  \
        lResult = 0;                                                                 \
        return true;                                                                 \
    }
#define MSG_WM_LBUTTONUP(func)                                                       \
    if (uMsg == WM_LBUTTONUP) {                                                      \
        func(static_cast<UINT>(wParam), POINT{static_cast<short>(LOWORD(lParam)),    \
                                              static_cast<short>(HIWORD(lParam))});  \
        lResult = 0;                                                                 \
        return true;                                                                 \
    }
// void func()
#define MSG_WM_MOUSELEAVE(func)  \
    if (uMsg == WM_MOUSELEAVE) { \
        func();                  \
        lResult = 0;             \
        return true;             \
    }
// BOOL func(HDC dc): nonzero when the background is erased.
#define MSG_WM_ERASEBKGND(func)                                   \
    if (uMsg == WM_ERASEBKGND) {                                  \
        lResult = func(reinterpret_cast<HDC>(wParam));            \
        return true;                                              \
    }
// BOOL func(HWND window, UINT hitTest, UINT message): TRUE when the cursor is set.
#define MSG_WM_SETCURSOR(func)                                                                        \
    if (uMsg == WM_SETCURSOR) {                                                                       \
        lResult = func(reinterpret_cast<HWND>(wParam), LOWORD(lParam), HIWORD(lParam));               \
        return true;                                                                                  \
    }
// void func(LPHELPINFO info)
#define MSG_WM_HELP(func)                                 \
    if (uMsg == WM_HELP) {                                \
        func(reinterpret_cast<LPHELPINFO>(lParam));       \
        lResult = TRUE;                                   \
        return true;                                      \
    }
// HBRUSH func(HDC dc, HWND control): a static's colours, sent back by its parent.
#define MSG_OCM_CTLCOLORSTATIC(func)                                                          \
    if (uMsg == ::talo::OCM_CTLCOLORSTATIC) {                                                 \
        lResult = reinterpret_cast<LRESULT>(func(reinterpret_cast<HDC>(wParam),               \
                                                 reinterpret_cast<HWND>(lParam)));            \
        return true;                                                                          \
    }

// Sends controls' notifications back to them (see ReflectNotification).
#define REFLECT_NOTIFICATIONS()                                                    \
    if (::talo::ReflectNotification(uMsg, wParam, lParam, lResult)) return true;

#define CHAIN_MSG_MAP(theBase)                                                      \
    if (theBase::ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult)) return true;

#define END_MSG_MAP() \
    return false;     \
    }
