#include "IconStatic.h"

namespace talo {

CIconStatic::CIconStatic() {
    m_textColor = RGB(0xFF, 0xFF, 0xFF);
    // Drawn over the key colour of a layered window: smoothed edges would mix the text with
    // the key into pink pixels that the window no longer leaves out.
    LOGFONTW bold = MakeLogFont(L"Tahoma", 13, 6, FW_BOLD);
    bold.lfQuality = NONANTIALIASED_QUALITY;
    m_boldFont = MakeFont(bold);
}

void CIconStatic::SetText(const wchar_t* text) {
    if (m_marqueeOn && m_hWnd != nullptr) ::KillTimer(m_hWnd, kMarqueeTimer);
    m_marqueeOn = false;
    m_marqueePos = 0;
    m_fullText = text != nullptr ? text : L"";
    m_truncated = m_fullText.size() > kMaxVisible;
    if (m_truncated) {
        m_shownText = m_fullText.substr(0, kShortLength) + L"...";
        m_marqueeText = m_fullText + L"   ";
    } else {
        m_shownText = m_fullText;
        m_marqueeText.clear();
    }
    CTALOStatic::SetText(m_fullText.c_str());
}

LRESULT CIconStatic::OnMouseOver(UINT, WPARAM, LPARAM, BOOL&) {
    if (!m_truncated) return 0;
    m_marqueePos = 0;
    ShowMarquee();
    NotifyParent();
    m_marqueeOn = ::SetTimer(m_hWnd, kMarqueeTimer, kMarqueeMs, nullptr) != 0;
    return 0;
}

LRESULT CIconStatic::OnTimer(UINT, WPARAM timerId, LPARAM, BOOL& handled) {
    if (timerId != kMarqueeTimer) {
        handled = FALSE;
        return 0;
    }
    if (CursorOver() && m_truncated) {
        m_marqueePos = (m_marqueePos + 1) % m_marqueeText.size();
        ShowMarquee();
    } else {
        ::KillTimer(m_hWnd, kMarqueeTimer);
        m_marqueeOn = false;
        m_shownText = m_truncated ? m_fullText.substr(0, kShortLength) + L"..." : m_fullText;
        Repaint();
    }
    NotifyParent();
    return 0;
}

bool CIconStatic::CursorOver() const {
    POINT cursor;
    RECT window;
    if (!::GetCursorPos(&cursor) || !::GetWindowRect(m_hWnd, &window)) return false;
    return PtInRect(&window, cursor) != FALSE;
}

void CIconStatic::ShowMarquee() {
    m_shownText.clear();
    const size_t length = m_marqueeText.size();
    for (size_t i = 0; i < kMaxVisible && length > 0; ++i) m_shownText += m_marqueeText[(m_marqueePos + i) % length];
    Repaint();
}

// The strip repaints the label's rectangle on its layered surface when told.
void CIconStatic::NotifyParent() const {
    HWND parent = ::GetParent(m_hWnd);
    if (parent == nullptr) return;
    ::SendMessageW(parent, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(m_hWnd), 0), reinterpret_cast<LPARAM>(m_hWnd));
}

void CIconStatic::Draw(HDC dc, const RECT& client) {
    FillBackground(dc, client);
    CSelectObject selected(dc, m_boldFont.get());
    const int mode = SetBkMode(dc, TRANSPARENT);
    const UINT flags = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
    RECT shadow = client;
    OffsetRect(&shadow, 1, 1);
    const COLORREF colour = ::SetTextColor(dc, m_shadowColor);
    DrawTextW(dc, m_shownText.c_str(), -1, &shadow, flags);
    ::SetTextColor(dc, m_textColor);
    RECT box = client;
    DrawTextW(dc, m_shownText.c_str(), -1, &box, flags);
    ::SetTextColor(dc, colour);
    SetBkMode(dc, mode);
}

}  // namespace talo
