// A link label: underlined text that turns red under the mouse, shows the hand cursor and,
// when clicked, asks its parent to open what it stands for (message kOpenMessage with the
// label's identifier). The colours come through the reflected WM_CTLCOLORSTATIC, so the
// parent's map must reflect notifications.
#pragma once

#include <windows.h>

#include "Control.h"
#include "WinHandles.h"

namespace talo {

class CHyperLink : public CControlImpl<CHyperLink, CStatic> {
public:
    // Sent to the parent on a click; wParam: the label's identifier.
    static constexpr UINT kOpenMessage = WM_USER + 101;
    static constexpr COLORREF kNormalColor = 0xFFA146;
    static constexpr COLORREF kHoverColor = 0x0000FF;
    static constexpr COLORREF kVisitedColor = 0xFFA146;

    // Takes over a static the dialog made: notify style, underlined font, hand cursor.
    bool SubclassWindow(HWND hwnd);
    bool SubclassDlgItem(int id, HWND dialog) { return SubclassWindow(::GetDlgItem(dialog, id)); }
    bool Create(HWND parent, const RECT& rect, int id, const wchar_t* text);

    bool IsHover() const { return m_hover; }
    bool IsVisited() const { return m_visited; }
    void SetVisited(bool visited);
    // The colour the text is drawn in now.
    COLORREF CurrentColor() const;
    HFONT Font() const { return m_font.get(); }
    HCURSOR Cursor() const { return m_cursor; }

    BEGIN_MSG_MAP(CHyperLink)
        MSG_WM_MOUSEMOVE(OnMouseMove)
        MSG_WM_SETCURSOR(OnSetCursor)
        MESSAGE_HANDLER(WM_CAPTURECHANGED, OnCaptureChanged)
        MESSAGE_HANDLER(::talo::OCM_COMMAND, OnReflectedCommand)
        MSG_OCM_CTLCOLORSTATIC(OnCtlColor)
    END_MSG_MAP()

private:
    void OnMouseMove(UINT keys, POINT point);
    BOOL OnSetCursor(HWND, UINT, UINT);
    LRESULT OnCaptureChanged(UINT, WPARAM, LPARAM lParam, BOOL&);
    LRESULT OnReflectedCommand(UINT, WPARAM wParam, LPARAM, BOOL& handled);
    HBRUSH OnCtlColor(HDC dc, HWND);
    void LeaveHover();

    UniqueFont m_font;
    bool m_hover = false;
    bool m_visited = false;
    HCURSOR m_cursor = nullptr;  // shared system cursor
};

}  // namespace talo
