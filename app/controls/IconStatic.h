// The quick-switch strip's scheme labels: white bold text with a black shadow. A name
// longer than the label shows shortened, and scrolls through while the mouse is over it.
#pragma once

#include <windows.h>

#include <string>

#include "TALOStatic.h"

namespace talo {

class CIconStatic : public CTALOStatic {
public:
    // Sent by the strip when the mouse is over the label: starts the marquee of a long name.
    static constexpr UINT kMouseOverMessage = WM_USER + 1;
    static constexpr UINT_PTR kMarqueeTimer = 1;
    static constexpr UINT kMarqueeMs = 300;
    // Characters the label shows at once; a longer name shows its first kShortLength and "...".
    static constexpr size_t kMaxVisible = 13;
    static constexpr size_t kShortLength = 10;

    CIconStatic();

    // The full name; a long one is shortened and prepared for scrolling.
    void SetText(const wchar_t* text) override;

    const wchar_t* FullText() const { return m_fullText.c_str(); }
    const wchar_t* ShownText() const { return m_shownText.c_str(); }
    const wchar_t* MarqueeText() const { return m_marqueeText.c_str(); }
    size_t MarqueePosition() const { return m_marqueePos; }
    bool IsMarqueeOn() const { return m_marqueeOn; }
    bool IsTruncated() const { return m_truncated; }

    BEGIN_MSG_MAP(CIconStatic)
        MESSAGE_HANDLER(kMouseOverMessage, OnMouseOver)
        MESSAGE_HANDLER(WM_TIMER, OnTimer)
        CHAIN_MSG_MAP(CTALOStatic)
    END_MSG_MAP()

protected:
    void Draw(HDC dc, const RECT& client) override;

private:
    LRESULT OnMouseOver(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnTimer(UINT, WPARAM timerId, LPARAM, BOOL& handled);
    bool CursorOver() const;
    // The kMaxVisible characters of the marquee text from the marquee position, rotating.
    void ShowMarquee();
    void NotifyParent() const;

    std::wstring m_fullText;
    std::wstring m_shownText;
    std::wstring m_marqueeText;
    size_t m_marqueePos = 0;
    bool m_marqueeOn = false;
    bool m_truncated = false;
    COLORREF m_shadowColor = RGB(0, 0, 0);
    UniqueFont m_boldFont;
};

}  // namespace talo
