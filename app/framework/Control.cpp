#include "Control.h"

#include <new>

namespace talo {
namespace subclass {
namespace {
// The control's object (null once it let go), the object's handle member (cleared when
// the control is destroyed under it) and the procedure the control had before.
struct Link {
    CMessageMap* map;
    HWND* owner;
    WNDPROC previous;
};

constexpr const wchar_t* kLinkProperty = L"TaloControlLink";

LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* link = static_cast<Link*>(GetPropW(hwnd, kLinkProperty));
    if (link == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
    const WNDPROC previous = link->previous;
    LRESULT result = 0;
    if (link->map == nullptr || !link->map->ProcessWindowMessage(hwnd, message, wParam, lParam, result)) {
        result = CallWindowProcW(previous, hwnd, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        if (link->map != nullptr) *link->owner = nullptr;
        if (reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC)) == Procedure) {
            SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        }
        RemovePropW(hwnd, kLinkProperty);
        delete link;
    }
    return result;
}
}  // namespace

bool Install(HWND hwnd, CMessageMap* map, HWND* owner) {
    if (GetPropW(hwnd, kLinkProperty) != nullptr) return false;
    auto* link = new (std::nothrow) Link{map, owner, nullptr};
    if (link == nullptr) return false;
    if (!SetPropW(hwnd, kLinkProperty, link)) {
        delete link;
        return false;
    }
    link->previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Procedure)));
    if (link->previous == nullptr) {
        RemovePropW(hwnd, kLinkProperty);
        delete link;
        return false;
    }
    return true;
}

bool Remove(HWND hwnd, CMessageMap* map) {
    auto* link = static_cast<Link*>(GetPropW(hwnd, kLinkProperty));
    if (link == nullptr || link->map != map) return false;
    // Someone subclassed the control after us: our procedure stays in its chain and only
    // passes messages on from now on; it frees the link with the window.
    if (reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC)) != Procedure) {
        link->map = nullptr;
        return true;
    }
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(link->previous));
    RemovePropW(hwnd, kLinkProperty);
    delete link;
    return true;
}

}  // namespace subclass
void CRowScroller::Set(HWND parent, int id, const RECT& rect, int visible, int total) {
    m_visible = visible;
    m_total = total;
    if (visible >= total) {
        if (m_bar != nullptr) ::DestroyWindow(m_bar);
        m_bar = nullptr;
        m_first = 0;
        return;
    }
    if (m_bar == nullptr) {
        m_bar = ::CreateWindowExW(0, L"SCROLLBAR", L"", WS_CHILD | WS_VISIBLE | SBS_VERT, 0, 0, 1, 1, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
    }
    if (m_bar == nullptr) return;
    ::MoveWindow(m_bar, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
    if (m_first > total - visible) m_first = total - visible;
    SCROLLINFO info = {sizeof info, SIF_RANGE | SIF_PAGE | SIF_POS, 0, total - 1, static_cast<UINT>(visible), m_first, 0};
    ::SetScrollInfo(m_bar, SB_CTL, &info, TRUE);
}

bool CRowScroller::InView(int row, int* place) const {
    *place = row - m_first;
    return *place >= 0 && *place < m_visible;
}

bool CRowScroller::ScrollTo(int first) {
    const int last = m_total - m_visible;
    if (first > last) first = last;
    if (first < 0) first = 0;
    if (first == m_first || m_bar == nullptr) return false;
    m_first = first;
    SCROLLINFO info = {sizeof info, SIF_POS, 0, 0, 0, first, 0};
    ::SetScrollInfo(m_bar, SB_CTL, &info, TRUE);
    return true;
}

bool CRowScroller::OnScroll(WPARAM wParam, LPARAM lParam, BOOL& handled) {
    if (m_bar == nullptr || reinterpret_cast<HWND>(lParam) != m_bar) {
        handled = FALSE;
        return false;
    }
    switch (LOWORD(wParam)) {
    case SB_LINEUP: return ScrollTo(m_first - 1);
    case SB_LINEDOWN: return ScrollTo(m_first + 1);
    case SB_PAGEUP: return ScrollTo(m_first - m_visible);
    case SB_PAGEDOWN: return ScrollTo(m_first + m_visible);
    case SB_TOP: return ScrollTo(0);
    case SB_BOTTOM: return ScrollTo(m_total);
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
        SCROLLINFO info = {sizeof info, SIF_TRACKPOS, 0, 0, 0, 0, 0};
        ::GetScrollInfo(m_bar, SB_CTL, &info);
        return ScrollTo(info.nTrackPos);
    }
    default: return false;
    }
}

bool CRowScroller::OnWheel(WPARAM wParam, BOOL& handled) {
    if (m_bar == nullptr) {
        handled = FALSE;
        return false;
    }
    return ScrollTo(m_first - GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA * 3);
}

}  // namespace talo
