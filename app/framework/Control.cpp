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
int ScrolledRow(HWND bar, WPARAM wParam, int first, int visible, int total) {
    switch (LOWORD(wParam)) {
    case SB_LINEUP: return first - 1;
    case SB_LINEDOWN: return first + 1;
    case SB_PAGEUP: return first - visible;
    case SB_PAGEDOWN: return first + visible;
    case SB_TOP: return 0;
    case SB_BOTTOM: return total;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
        SCROLLINFO info = {sizeof info, SIF_TRACKPOS, 0, 0, 0, 0, 0};
        ::GetScrollInfo(bar, SB_CTL, &info);
        return info.nTrackPos;
    }
    default: return first;
    }
}

int WheeledRow(WPARAM wParam, int first) { return first - GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA * 3; }

}  // namespace talo
