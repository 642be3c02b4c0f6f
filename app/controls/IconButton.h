// A bitmap button: one image per state (normal, pressed, highlighted) from the resource
// module, drawn centred on the colour 0xFF00FF that a layered parent shows through. It
// tells its parent when the mouse comes and goes, and the spin buttons 8001 and 8002
// repeat their command while held.
#pragma once

#include <windows.h>

#include <string>

#include "Control.h"
#include "Gdi.h"
#include "WinHandles.h"

namespace talo {

class CIconButton : public CControlImpl<CIconButton, CButton> {
public:
    enum State { kNormal = 0, kPressed = 1, kHighlighted = 2 };
    // Notification codes of the WM_COMMAND the button sends its parent.
    static constexpr WORD kCodeRepeat = 0;
    static constexpr WORD kCodeHover = 1;
    static constexpr WORD kCodeLeave = 2;
    static constexpr UINT_PTR kRepeatTimer = 5;
    static constexpr UINT kRepeatMs = 300;
    static constexpr int kRepeatIdDown = 8001;
    static constexpr int kRepeatIdUp = 8002;

    // Takes over a button the dialog made and switches it to owner drawing.
    bool SubclassWindow(HWND hwnd);
    bool SubclassDlgItem(int id, HWND dialog) { return SubclassWindow(::GetDlgItem(dialog, id)); }
    bool Create(HWND parent, const RECT& rect, int id, const wchar_t* caption = L"");

    // Bitmap identifiers of the resource module for the three states (0: none).
    void SetImages(UINT normal, UINT pressed, UINT highlighted);
    UINT Image(int state) const { return state >= 0 && state < 3 ? m_images[state] : 0; }
    void SetCaption(const wchar_t* caption) { m_caption = caption != nullptr ? caption : L""; }
    const wchar_t* Caption() const { return m_caption.c_str(); }
    // The scheme the button stands for as a quick-switch slot.
    void SetScheme(int index, const wchar_t* name);
    int SchemeIndex() const { return m_schemeIndex; }
    const wchar_t* SchemeName() const { return m_schemeName.c_str(); }

    int State() const { return m_state; }
    // Shows the button in a state (a quick-switch slot marks the active scheme so).
    void SetState(int state);
    bool IsRepeating() const { return m_repeating; }
    // Ends an auto-repeat while the button is still held (its command has nothing left to do).
    void StopRepeat();

    BEGIN_MSG_MAP(CIconButton)
        MSG_WM_MOUSEMOVE(OnMouseMove)
        MSG_WM_MOUSELEAVE(OnMouseLeave)
        MESSAGE_HANDLER(WM_LBUTTONDOWN, OnLButtonDown)
        MESSAGE_HANDLER(WM_LBUTTONUP, OnLButtonUp)
        MESSAGE_HANDLER(WM_TIMER, OnTimer)
        MSG_OCM_DRAWITEM(OnDrawItem)
    END_MSG_MAP()

private:
    void OnMouseMove(UINT keys, POINT point);
    void OnMouseLeave();
    // Both go on to the button's own procedure, which captures the mouse and clicks.
    LRESULT OnLButtonDown(UINT, WPARAM, LPARAM lParam, BOOL& handled);
    LRESULT OnLButtonUp(UINT, WPARAM, LPARAM, BOOL& handled);
    LRESULT OnTimer(UINT, WPARAM timerId, LPARAM, BOOL& handled);
    void OnDrawItem(const DRAWITEMSTRUCT* item);
    void NotifyParent(WORD code) const;
    bool Repeats() const;

    std::wstring m_caption;
    int m_state = kNormal;
    UINT m_images[3] = {0, 0, 0};
    int m_schemeIndex = -1;
    std::wstring m_schemeName;
    bool m_repeating = false;
};

}  // namespace talo
