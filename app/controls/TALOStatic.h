// A label that draws its own text: TALO's skinned dialogs put white titles on bitmap
// headers, so the text is drawn in a font and colour of the label's own, by default on a
// transparent background (nothing filled under it).
#pragma once

#include <windows.h>

#include <string>

#include "Control.h"
#include "Gdi.h"
#include "WinHandles.h"

namespace talo {

class CTALOStatic : public CControlImpl<CTALOStatic, CStatic> {
public:
    CTALOStatic();

    // Takes over a static the dialog made; its text becomes the label's.
    bool SubclassWindow(HWND hwnd);
    bool SubclassDlgItem(int id, HWND dialog) { return SubclassWindow(::GetDlgItem(dialog, id)); }
    // A child static of parent with identifier id, taken over at once.
    bool Create(HWND parent, const RECT& rect, int id, const wchar_t* text = L"", DWORD style = SS_LEFT);

    virtual void GetLogFont(LOGFONTW* font) const;
    virtual void SetLogFont(const LOGFONTW& font);
    // The system's font dialog; on OK applies the font, marks it changed, repaints and
    // returns true.
    virtual bool ChooseFontDialog();
    virtual void SetText(const wchar_t* text);
    virtual void SetTextColor(COLORREF colour);

    void SetTransparent(bool transparent);
    void SetBackColor(COLORREF colour);
    const wchar_t* Text() const { return m_text.c_str(); }
    COLORREF TextColor() const { return m_textColor; }
    COLORREF BackColor() const { return m_backColor; }
    bool IsTransparent() const { return m_transparent; }
    bool IsFontChanged() const { return m_fontChanged; }
    HFONT Font() const { return m_font.get(); }

    // DrawText flags for a static's style: centre and right alignment, no prefix and the
    // ellipses map to their DrawText equivalents; word-wrap unless the style asks for a
    // single line.
    static UINT DrawTextFlags(DWORD style);

    BEGIN_MSG_MAP(CTALOStatic)
        MSG_WM_PAINT(OnPaint)
        MSG_WM_ERASEBKGND(OnEraseBackground)
        MSG_OCM_DRAWITEM(OnDrawItem)
    END_MSG_MAP()

protected:
    // Paints the label's client area into dc.
    virtual void Draw(HDC dc, const RECT& client);
    void FillBackground(HDC dc, const RECT& client) const;
    void Repaint() const;

    LOGFONTW m_logFont;
    UniqueFont m_font;
    bool m_transparent = true;
    COLORREF m_backColor = RGB(0xFF, 0xFF, 0xFF);
    COLORREF m_textColor = RGB(0, 0, 0);
    std::wstring m_text;
    bool m_fontChanged = false;

private:
    void OnPaint(HDC dc);
    BOOL OnEraseBackground(HDC) { return TRUE; }
    void OnDrawItem(const DRAWITEMSTRUCT* item);
};

}  // namespace talo
