#include "ChangeIconBtn.h"

#include "ResourceModule.h"
#include "WinHandles.h"

namespace talo {
namespace {

// Draws bitmap id of the resource module with its top-left corner at (x, y), leaving out
// the key colour; returns its size ({0, 0} when it cannot be loaded).
SIZE DrawKeyed(HDC dc, UINT id, int x, int y, bool centred, const RECT& area) {
    UniqueBitmap image(LoadResBitmap(id));
    const SIZE size = BitmapSize(image.get());
    if (centred) {
        x = area.left + (area.right - area.left - size.cx) / 2;
        y = area.top + (area.bottom - area.top - size.cy) / 2;
    }
    return CopyBitmap(dc, image.get(), x, y, 0, 0, BlitMode::kKeyed) ? size : SIZE{0, 0};
}

}  // namespace

bool CChangeIconBtn::Create(HWND parent, const RECT& rect) {
    wchar_t caption[128] = L"";
    LoadResString(kCaption, caption, 128);
    return CIconButton::Create(parent, rect, kId, caption);
}

void CChangeIconBtn::SetImage(UINT image) {
    m_image = image;
    if (m_hWnd != nullptr) Invalidate(false);
}

void CChangeIconBtn::OnDrawFace(const DRAWITEMSTRUCT* item) {
    HDC dc = item->hDC;
    // The page's own background under the face, as if the button were not there.
    POINT origin = {0, 0};
    ::MapWindowPoints(m_hWnd, GetParent(), &origin, 1);
    POINT previous = {};
    SetViewportOrgEx(dc, -origin.x, -origin.y, &previous);
    ::SendMessageW(GetParent(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    SetViewportOrgEx(dc, previous.x, previous.y, nullptr);
    // The cell at the top, centred across; the icon centred on the cell; the caption below.
    RECT cellArea = item->rcItem;
    SIZE cell = {0, 0};
    {
        UniqueBitmap probe(LoadResBitmap(kCell));
        BITMAP info = {};
        if (probe && GetObjectW(probe.get(), sizeof info, &info) != 0) cell = SIZE{info.bmWidth, info.bmHeight};
    }
    if (cell.cy > 0) cellArea.bottom = cellArea.top + cell.cy;
    DrawKeyed(dc, kCell, 0, 0, true, cellArea);
    DrawKeyed(dc, m_image, 0, 0, true, cellArea);
    RECT text = item->rcItem;
    text.top = cellArea.bottom;
    if (text.top < text.bottom && Caption()[0] != L'\0') {
        const int mode = SetBkMode(dc, TRANSPARENT);
        CSelectObject font(dc, reinterpret_cast<HFONT>(::SendMessageW(GetParent(), WM_GETFONT, 0, 0)));
        DrawTextW(dc, Caption(), -1, &text, DT_CENTER | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        SetBkMode(dc, mode);
    }
}

}  // namespace talo
