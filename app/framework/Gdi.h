// The drawing kit every skinned window shares: the colour that stands for "transparent"
// in the artwork, fonts from LOGFONT records, a box centred in the work area, an object
// selected into a device context for a scope, and the copy of a bitmap onto a context.
#pragma once

#include <windows.h>

#include "WinHandles.h"

namespace talo {

// The artwork's key colour: pixels of 0xFF00FF are left out when a bitmap is copied keyed,
// and a layered window shows through them.
constexpr COLORREF kTransparentKey = RGB(0xFF, 0x00, 0xFF);

// A LOGFONT of the given face, height, width and weight (the rest defaults).
LOGFONTW MakeLogFont(const wchar_t* face, int height, int width, int weight);
// The font a LOGFONT describes; empty when the system cannot make it.
UniqueFont MakeFont(const LOGFONTW& font);

// Sizes a window to width x height, centred in the work area. When the work area cannot
// be read, the window keeps its place and says so on the debugger output.
void CenterInWorkArea(HWND window, int width, int height);

// Selects an object into a device context for its own life and puts back what was
// selected before; a null object selects nothing.
class CSelectObject {
public:
    CSelectObject(HDC dc, HGDIOBJ object)
        : m_dc(dc), m_previous(object != nullptr ? SelectObject(dc, object) : nullptr) {}
    ~CSelectObject() {
        if (m_previous != nullptr) SelectObject(m_dc, m_previous);
    }
    CSelectObject(const CSelectObject&) = delete;
    CSelectObject& operator=(const CSelectObject&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

// How CopyBitmap puts a bitmap onto a context.
enum class BlitMode {
    kCopy,   // the pixels as they are
    kKeyed,  // kTransparentKey left out
};

// Copies bitmap (from sourceX, sourceY to its right and bottom edges) onto dc at (x, y),
// stretched to width x height; a width or height of 0 keeps the bitmap's own. False when
// there is no bitmap or the system refuses.
bool CopyBitmap(HDC dc, HBITMAP bitmap, int x, int y, int width = 0, int height = 0, BlitMode mode = BlitMode::kCopy,
                int sourceX = 0, int sourceY = 0);
// The size of a bitmap; {0, 0} for none.
SIZE BitmapSize(HBITMAP bitmap);

}  // namespace talo
