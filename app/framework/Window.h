// Thin wrappers of a window handle: they own nothing, copying one copies the handle.
#pragma once

#include <windows.h>

namespace talo {

class CWindow {
public:
    CWindow(HWND hwnd = nullptr) : m_hWnd(hwnd) {}
    virtual ~CWindow() = default;

    operator HWND() const { return m_hWnd; }
    HWND Handle() const { return m_hWnd; }
    void Attach(HWND hwnd) { m_hWnd = hwnd; }
    HWND Detach() {
        HWND hwnd = m_hWnd;
        m_hWnd = nullptr;
        return hwnd;
    }

    bool IsWindow() const { return m_hWnd != nullptr && ::IsWindow(m_hWnd); }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    bool PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::PostMessageW(m_hWnd, message, wParam, lParam) != FALSE;
    }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    HWND GetParent() const { return ::GetParent(m_hWnd); }
    bool SetWindowText(const wchar_t* text) const { return ::SetWindowTextW(m_hWnd, text) != FALSE; }
    // Copies at most size - 1 characters and a terminator; returns the characters copied.
    int GetWindowText(wchar_t* buffer, int size) const { return ::GetWindowTextW(m_hWnd, buffer, size); }
    LONG_PTR GetStyle() const { return ::GetWindowLongPtrW(m_hWnd, GWL_STYLE); }
    bool ShowWindow(int command) const { return ::ShowWindow(m_hWnd, command) != FALSE; }
    bool EnableWindow(bool enable) const { return ::EnableWindow(m_hWnd, enable) != FALSE; }
    bool Invalidate(bool erase = true) const { return ::InvalidateRect(m_hWnd, nullptr, erase) != FALSE; }
    bool GetClientRect(RECT* rect) const { return ::GetClientRect(m_hWnd, rect) != FALSE; }
    bool MoveWindow(int x, int y, int cx, int cy, bool repaint = true) const {
        return ::MoveWindow(m_hWnd, x, y, cx, cy, repaint) != FALSE;
    }
    HFONT GetFont() const { return reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)); }
    void SetFont(HFONT font, bool redraw = true) const {
        SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
    }
    bool DestroyWindow() {
        return m_hWnd != nullptr && ::DestroyWindow(m_hWnd) != FALSE;
    }

    HWND m_hWnd;
};

class CButton : public CWindow {
public:
    CButton(HWND hwnd = nullptr) : CWindow(hwnd) {}
    int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
    void SetCheck(int check) const { SendMessage(BM_SETCHECK, check); }
    UINT GetState() const { return static_cast<UINT>(SendMessage(BM_GETSTATE)); }
    // Replaces the button's type bits (BS_TYPEMASK), as owner-drawn buttons need.
    void SetButtonType(UINT type, bool redraw = true) const {
        UINT style = (static_cast<UINT>(GetStyle()) & ~static_cast<UINT>(BS_TYPEMASK)) | (type & BS_TYPEMASK);
        SendMessage(BM_SETSTYLE, style, redraw);
    }
    void Click() const { SendMessage(BM_CLICK); }
};

class CStatic : public CWindow {
public:
    CStatic(HWND hwnd = nullptr) : CWindow(hwnd) {}
    // Return the image shown before (null when none).
    HICON SetIcon(HICON icon) const { return reinterpret_cast<HICON>(SendMessage(STM_SETICON, reinterpret_cast<WPARAM>(icon))); }
    HBITMAP SetBitmap(HBITMAP bitmap) const {
        return reinterpret_cast<HBITMAP>(SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
    }
};

}  // namespace talo
