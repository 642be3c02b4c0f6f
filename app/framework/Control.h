// Controls with behaviour of their own: a class derives from CControlImpl<itself, CButton>
// (or CStatic, CWindow), lists its handlers in a message map and subclasses a control the
// dialog made. Messages the map leaves go on to the control's own procedure. The
// subclass (the control's window procedure replaced, with no need of comctl32) is
// removed on WM_NCDESTROY, or earlier by UnsubclassWindow.
#pragma once

#include <windows.h>

#include "MessageMap.h"
#include "Window.h"

namespace talo {

// The subclassing under every CControlImpl; the map is the control object itself.
namespace subclass {
bool Install(HWND hwnd, CMessageMap* map, HWND* owner);
bool Remove(HWND hwnd, CMessageMap* map);
}  // namespace subclass

// Rows scrolled by a scroll bar control: the first row that a WM_VSCROLL from bar asks for
// (wParam as the message has it), when the rows from first on are shown, visible at once,
// of total. Not clamped: the caller keeps it within its rows.
int ScrolledRow(HWND bar, WPARAM wParam, int first, int visible, int total);
// The first row after a WM_MOUSEWHEEL (wParam as the message has it): three rows a notch,
// as a list scrolls.
int WheeledRow(WPARAM wParam, int first);

template <class T, class TBase = CWindow>
class CControlImpl : public TBase, public CMessageMap {
public:
    CControlImpl() = default;
    CControlImpl(const CControlImpl&) = delete;
    CControlImpl& operator=(const CControlImpl&) = delete;
    ~CControlImpl() override { UnsubclassWindow(); }

    // Takes over hwnd's messages; false when already subclassing or hwnd is no window.
    bool SubclassWindow(HWND hwnd) {
        if (this->m_hWnd != nullptr || !::IsWindow(hwnd)) return false;
        if (!subclass::Install(hwnd, this, &this->m_hWnd)) return false;
        this->m_hWnd = hwnd;
        return true;
    }
    // Makes a child control of the system class className and takes it over as T does
    // (T::SubclassWindow); false, with no window left behind, when either fails.
    bool CreateSubclassed(HWND parent, const wchar_t* className, const RECT& rect, int id, const wchar_t* text,
                          DWORD style) {
        if (this->m_hWnd != nullptr) return false;
        HWND hwnd = ::CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, rect.left, rect.top,
                                      rect.right - rect.left, rect.bottom - rect.top, parent,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr),
                                      nullptr);
        if (hwnd == nullptr) return false;
        if (!static_cast<T*>(this)->SubclassWindow(hwnd)) {
            ::DestroyWindow(hwnd);
            return false;
        }
        return true;
    }
    // The dialog's control with identifier id.
    bool SubclassDlgItem(int id, HWND dialog) { return SubclassWindow(::GetDlgItem(dialog, id)); }
    // Gives the messages back to the control's own procedure; returns the control.
    HWND UnsubclassWindow() {
        HWND hwnd = this->m_hWnd;
        if (hwnd != nullptr) subclass::Remove(hwnd, this);
        this->m_hWnd = nullptr;
        return hwnd;
    }
};

}  // namespace talo
