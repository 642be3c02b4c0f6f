#include "TALOStatic.h"

#include <commdlg.h>

namespace talo {
namespace {

// The font chooser is TALO's only use of the common dialogs, and a rare one: comdlg32, and
// the printing support it brings along (winspool; under Wine the host's printing, TLS
// and Kerberos libraries, some 5 MB), is loaded on first use and kept, not at start-up.
using ChooseFontProc = BOOL(WINAPI*)(LPCHOOSEFONTW);
ChooseFontProc ChooseFontEntry() {
    static ChooseFontProc entry = [] {
        HMODULE module = LoadLibraryW(L"comdlg32.dll");
        return module != nullptr
                   ? reinterpret_cast<ChooseFontProc>(reinterpret_cast<void*>(GetProcAddress(module, "ChooseFontW")))
                   : nullptr;
    }();
    return entry;
}

}  // namespace

CTALOStatic::CTALOStatic() : m_logFont(MakeLogFont(L"Tahoma", 13, 5, FW_NORMAL)) {
    m_font = MakeFont(m_logFont);
}

bool CTALOStatic::SubclassWindow(HWND hwnd) {
    if (!CControlImpl::SubclassWindow(hwnd)) return false;
    const int length = ::GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(hwnd, text.data(), length + 1)));
    SetText(text.c_str());
    return true;
}

bool CTALOStatic::Create(HWND parent, const RECT& rect, int id, const wchar_t* text, DWORD style) {
    return CreateSubclassed(parent, L"STATIC", rect, id, text, style);
}

void CTALOStatic::GetLogFont(LOGFONTW* font) const {
    if (font != nullptr) *font = m_logFont;
}

void CTALOStatic::SetLogFont(const LOGFONTW& font) {
    HFONT created = CreateFontIndirectW(&font);
    if (created == nullptr) return;
    m_logFont = font;
    m_font.reset(created);
    Repaint();
}

bool CTALOStatic::ChooseFontDialog() {
    LOGFONTW chosen = m_logFont;
    CHOOSEFONTW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = m_hWnd;
    dialog.lpLogFont = &chosen;
    dialog.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_EFFECTS;
    dialog.rgbColors = m_textColor;
    const ChooseFontProc chooseFont = ChooseFontEntry();
    if (chooseFont == nullptr || !chooseFont(&dialog)) return false;
    SetLogFont(chosen);
    m_fontChanged = true;
    Repaint();
    return true;
}

void CTALOStatic::SetText(const wchar_t* text) {
    m_text = text != nullptr ? text : L"";
    if (m_hWnd != nullptr) ::SetWindowTextW(m_hWnd, m_text.c_str());
    Repaint();
}

void CTALOStatic::SetTextColor(COLORREF colour) {
    m_textColor = colour;
    Repaint();
}

void CTALOStatic::SetTransparent(bool transparent) {
    m_transparent = transparent;
    Repaint();
}

void CTALOStatic::SetBackColor(COLORREF colour) {
    m_backColor = colour;
    Repaint();
}

UINT CTALOStatic::DrawTextFlags(DWORD style) {
    UINT flags = 0;
    switch (style & SS_TYPEMASK) {
    case SS_CENTER:
        flags |= DT_CENTER;
        break;
    case SS_RIGHT:
        flags |= DT_RIGHT;
        break;
    case SS_SIMPLE:
    case SS_LEFTNOWORDWRAP:
        flags |= DT_SINGLELINE;
        break;
    default:
        break;
    }
    if ((style & SS_CENTERIMAGE) != 0) flags |= DT_SINGLELINE | DT_VCENTER;
    if ((style & SS_NOPREFIX) != 0) flags |= DT_NOPREFIX;
    switch (style & SS_ELLIPSISMASK) {
    case SS_ENDELLIPSIS:
        flags |= DT_END_ELLIPSIS;
        break;
    case SS_PATHELLIPSIS:
        flags |= DT_PATH_ELLIPSIS;
        break;
    case SS_WORDELLIPSIS:
        flags |= DT_WORD_ELLIPSIS;
        break;
    default:
        break;
    }
    if ((flags & DT_SINGLELINE) == 0) flags |= DT_WORDBREAK;
    return flags;
}

void CTALOStatic::Repaint() const {
    if (m_hWnd != nullptr) ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CTALOStatic::FillBackground(HDC dc, const RECT& client) const {
    if (m_transparent) return;
    UniqueBrush brush(CreateSolidBrush(m_backColor));
    FillRect(dc, &client, brush.get());
}

void CTALOStatic::Draw(HDC dc, const RECT& client) {
    FillBackground(dc, client);
    RECT box = client;
    CSelectObject selected(dc, m_font.get());
    const int mode = SetBkMode(dc, TRANSPARENT);
    const COLORREF colour = ::SetTextColor(dc, m_textColor);
    DrawTextW(dc, m_text.c_str(), -1, &box, DrawTextFlags(static_cast<DWORD>(GetStyle())));
    ::SetTextColor(dc, colour);
    SetBkMode(dc, mode);
}

void CTALOStatic::OnPaint(HDC) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    if (dc == nullptr) return;
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    Draw(dc, client);
    EndPaint(m_hWnd, &paint);
}

void CTALOStatic::OnDrawItem(const DRAWITEMSTRUCT* item) { Draw(item->hDC, item->rcItem); }

}  // namespace talo
