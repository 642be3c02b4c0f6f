#include "HyperLink.h"

#include "TALOStatic.h"

namespace talo {

bool CHyperLink::SubclassWindow(HWND hwnd) {
    if (!CControlImpl::SubclassWindow(hwnd)) return false;
    ::SetWindowLongPtrW(hwnd, GWL_STYLE, ::GetWindowLongPtrW(hwnd, GWL_STYLE) | SS_NOTIFY);
    // An underlined copy of the font the label has; Arial 15 when it has none.
    LOGFONTW font = MakeLogFont(L"Arial", 15, 0, FW_NORMAL);
    HFONT current = GetFont();
    if (current != nullptr) GetObjectW(current, sizeof font, &font);
    font.lfUnderline = TRUE;
    m_font = MakeFont(font);
    if (m_font) SetFont(m_font.get());
    m_cursor = ::LoadCursorW(nullptr, IDC_HAND);
    return true;
}

bool CHyperLink::Create(HWND parent, const RECT& rect, int id, const wchar_t* text) {
    return CreateSubclassed(parent, L"STATIC", rect, id, text, SS_LEFT);
}

void CHyperLink::SetVisited(bool visited) {
    m_visited = visited;
    Invalidate();
}

COLORREF CHyperLink::CurrentColor() const {
    if (m_visited) return kVisitedColor;
    if (m_hover) return kHoverColor;
    return kNormalColor;
}

void CHyperLink::OnMouseMove(UINT, POINT point) {
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    if (PtInRect(&client, point)) {
        if (m_hover) return;
        m_hover = true;
        Invalidate();
        ::SetCapture(m_hWnd);
    } else if (m_hover) {
        LeaveHover();
    }
}

void CHyperLink::LeaveHover() {
    m_hover = false;
    if (::GetCapture() == m_hWnd) ::ReleaseCapture();
    Invalidate();
}

BOOL CHyperLink::OnSetCursor(HWND, UINT, UINT) {
    if (m_cursor != nullptr) ::SetCursor(m_cursor);
    return TRUE;
}

// Another window took the mouse: the cursor is no longer known to be over the label.
LRESULT CHyperLink::OnCaptureChanged(UINT, WPARAM, LPARAM lParam, BOOL&) {
    if (m_hover && reinterpret_cast<HWND>(lParam) != m_hWnd) {
        m_hover = false;
        Invalidate();
    }
    return 0;
}

LRESULT CHyperLink::OnReflectedCommand(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    if (HIWORD(wParam) != STN_CLICKED) {
        handled = FALSE;
        return 0;
    }
    HWND parent = GetParent();
    if (parent != nullptr) ::SendMessageW(parent, kOpenMessage, static_cast<WPARAM>(GetDlgCtrlID()), 0);
    SetVisited(true);
    return 0;
}

HBRUSH CHyperLink::OnCtlColor(HDC dc, HWND) {
    ::SetTextColor(dc, CurrentColor());
    ::SetBkMode(dc, TRANSPARENT);
    return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
}

}  // namespace talo
