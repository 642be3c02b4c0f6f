#include "IconButton.h"

#include "ResourceModule.h"

namespace talo {

bool CIconButton::SubclassWindow(HWND hwnd) {
    if (!CControlImpl::SubclassWindow(hwnd)) return false;
    SetButtonType(BS_OWNERDRAW);
    ::SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    return true;
}

bool CIconButton::Create(HWND parent, const RECT& rect, int id, const wchar_t* caption) {
    if (!CreateSubclassed(parent, L"BUTTON", rect, id, caption, BS_PUSHBUTTON)) return false;
    SetCaption(caption);
    return true;
}

void CIconButton::SetImages(UINT normal, UINT pressed, UINT highlighted) {
    m_images[kNormal] = normal;
    m_images[kPressed] = pressed;
    m_images[kHighlighted] = highlighted;
    if (m_hWnd != nullptr) Invalidate(false);
}

void CIconButton::SetScheme(int index, const wchar_t* name) {
    m_schemeIndex = index;
    m_schemeName = name != nullptr ? name : L"";
}

void CIconButton::SetState(int state) {
    if (m_state == state) return;
    m_state = state;
    Invalidate(false);
}

void CIconButton::StopRepeat() {
    if (m_hWnd != nullptr) ::KillTimer(m_hWnd, kRepeatTimer);
    m_repeating = false;
}

void CIconButton::NotifyParent(WORD code) const {
    HWND parent = GetParent();
    if (parent == nullptr) return;
    ::SendMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(), code), reinterpret_cast<LPARAM>(m_hWnd));
}

bool CIconButton::Repeats() const {
    const int id = GetDlgCtrlID();
    return id == kRepeatIdDown || id == kRepeatIdUp;
}

void CIconButton::OnMouseMove(UINT, POINT) {
    if (m_state == kNormal) {
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, m_hWnd, 0};
        ::TrackMouseEvent(&track);
        SetState(kHighlighted);
    }
    NotifyParent(kCodeHover);
}

void CIconButton::OnMouseLeave() {
    if (m_state == kPressed || m_state == kHighlighted) SetState(kNormal);
    NotifyParent(kCodeLeave);
}

LRESULT CIconButton::OnLButtonDown(UINT, WPARAM, LPARAM lParam, BOOL& handled) {
    if (m_state == kHighlighted) SetState(kPressed);
    if (Repeats()) {
        const POINT point = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        RECT client;
        ::GetClientRect(m_hWnd, &client);
        if (PtInRect(&client, point)) m_repeating = ::SetTimer(m_hWnd, kRepeatTimer, kRepeatMs, nullptr) != 0;
    }
    handled = FALSE;
    return 0;
}

LRESULT CIconButton::OnLButtonUp(UINT, WPARAM, LPARAM, BOOL& handled) {
    if (m_state == kPressed) SetState(kHighlighted);
    if (Repeats()) StopRepeat();
    handled = FALSE;
    return 0;
}

LRESULT CIconButton::OnTimer(UINT, WPARAM timerId, LPARAM, BOOL& handled) {
    if (timerId != kRepeatTimer) {
        handled = FALSE;
        return 0;
    }
    NotifyParent(kCodeRepeat);
    return 0;
}

void CIconButton::OnDrawItem(const DRAWITEMSTRUCT* item) {
    UniqueBrush key(CreateSolidBrush(kTransparentKey));
    FillRect(item->hDC, &item->rcItem, key.get());
    UniqueBitmap image(m_images[m_state] != 0 ? LoadResBitmap(m_images[m_state]) : nullptr);
    const SIZE size = BitmapSize(image.get());
    const int x = item->rcItem.left + (item->rcItem.right - item->rcItem.left - size.cx) / 2;
    const int y = item->rcItem.top + (item->rcItem.bottom - item->rcItem.top - size.cy) / 2;
    CopyBitmap(item->hDC, image.get(), x, y);
}

}  // namespace talo
