#include "Gdi.h"

namespace talo {

LOGFONTW MakeLogFont(const wchar_t* face, int height, int width, int weight) {
    LOGFONTW font = {};
    font.lfHeight = height;
    font.lfWidth = width;
    font.lfWeight = weight;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    return font;
}

UniqueFont MakeFont(const LOGFONTW& font) { return UniqueFont(CreateFontIndirectW(&font)); }

void CenterInWorkArea(HWND window, int width, int height) {
    RECT work = {};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
        OutputDebugStringW(L"SystemParametersInfo failed \n");
        SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        return;
    }
    MoveWindow(window, work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2, width, height, TRUE);
}

SIZE BitmapSize(HBITMAP bitmap) {
    BITMAP info = {};
    if (bitmap == nullptr || GetObjectW(bitmap, sizeof info, &info) == 0) return SIZE{0, 0};
    return SIZE{info.bmWidth, info.bmHeight};
}

bool CopyBitmap(HDC dc, HBITMAP bitmap, int x, int y, int width, int height, BlitMode mode, int sourceX,
                int sourceY) {
    const SIZE size = BitmapSize(bitmap);
    const int sourceWidth = size.cx - sourceX;
    const int sourceHeight = size.cy - sourceY;
    if (dc == nullptr || sourceWidth <= 0 || sourceHeight <= 0) return false;
    if (width == 0) width = sourceWidth;
    if (height == 0) height = sourceHeight;
    UniqueMemoryDc source(CreateCompatibleDC(dc));
    if (!source) return false;
    CSelectObject selected(source.get(), bitmap);
    if (mode == BlitMode::kKeyed)
        return GdiTransparentBlt(dc, x, y, width, height, source.get(), sourceX, sourceY, sourceWidth, sourceHeight,
                                 kTransparentKey) != FALSE;
    if (width == sourceWidth && height == sourceHeight)
        return BitBlt(dc, x, y, width, height, source.get(), sourceX, sourceY, SRCCOPY) != FALSE;
    return StretchBlt(dc, x, y, width, height, source.get(), sourceX, sourceY, sourceWidth, sourceHeight, SRCCOPY) !=
           FALSE;
}

}  // namespace talo
