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

// Rows of controls that a vertical scroll bar control brings into view: Visible() rows of
// Total() at once, from First() on. The owner places its rows after each change.
class CRowScroller {
public:
    // visible rows of total at once: a bar at rect (the parent's client coordinates, child
    // id) when they do not all fit, none otherwise.
    void Set(HWND parent, int id, const RECT& rect, int visible, int total);
    HWND Bar() const { return m_bar; }
    int First() const { return m_first; }
    int Visible() const { return m_visible; }
    // Where row is among the rows in view (0 the top one); false when it is out of view.
    bool InView(int row, int* place) const;
    // The first row in view becomes first, kept within the rows; true when that changed.
    bool ScrollTo(int first);
    // The parent's WM_VSCROLL (handled cleared when it is not the bar's) and WM_MOUSEWHEEL
    // (three rows a notch, as a list scrolls; not handled without a bar); true when the
    // rows moved.
    bool OnScroll(WPARAM wParam, LPARAM lParam, BOOL& handled);
    bool OnWheel(WPARAM wParam, BOOL& handled);

private:
    HWND m_bar = nullptr;
    int m_first = 0;
    int m_visible = 0;
    int m_total = 0;
};

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
