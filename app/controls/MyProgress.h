// A flat bar graph: bitmap 2091 stretched over the share of the width the position gives
// (0 to 100; more draws a full bar), or, in text mode, a line of text instead.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "Control.h"
#include "WinHandles.h"

namespace talo {

class CMyProgress : public CControlImpl<CMyProgress, CStatic> {
public:
    static constexpr UINT kBarBitmap = 2091;
    static constexpr int kBarHeight = 10;
    static constexpr COLORREF kFrameColor = 0x8E9F8E;
    static constexpr COLORREF kInnerFrameColor = 0xD5D5D5;
    enum Mode { kTextMode = 0, kBarMode = 1 };

    CMyProgress();

    bool SubclassWindow(HWND hwnd);
    bool SubclassDlgItem(int id, HWND dialog) { return SubclassWindow(::GetDlgItem(dialog, id)); }
    bool Create(HWND parent, const RECT& rect, int id);

    void SetPos(int position);
    int Position() const { return m_position; }
    // The position the bar is drawn at: clamped to 0 .. 100.
    int DrawnPosition() const;
    // Width of the bar inside the frame: (client width - 2) x drawn position / 100.
    int BarWidth() const;
    void SetMode(int mode);
    int Mode() const { return m_mode; }
    // Switches to text mode.
    void SetText(const wchar_t* text);
    const wchar_t* Text() const { return m_text.c_str(); }

    BEGIN_MSG_MAP(CMyProgress)
        MSG_WM_PAINT(OnPaint)
        MSG_WM_ERASEBKGND(OnEraseBackground)
        MESSAGE_HANDLER(PBM_GETPOS, OnGetPos)
    END_MSG_MAP()

private:
    void OnPaint(HDC dc);
    BOOL OnEraseBackground(HDC) { return TRUE; }
    // The position, as the system's progress bar answers it (for tools that read the bar).
    LRESULT OnGetPos(UINT, WPARAM, LPARAM, BOOL&) { return m_position; }
    void DrawBar(HDC dc, const RECT& client) const;
    void DrawLabel(HDC dc, const RECT& client) const;

    int m_position = 0;
    int m_mode = kBarMode;
    std::wstring m_text;
    UniqueFont m_font;
    UniqueBitmap m_bar;
};

}  // namespace talo
