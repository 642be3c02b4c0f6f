#include "MyProgress.h"

#include "ResourceModule.h"
#include "TALOStatic.h"

namespace talo {

CMyProgress::CMyProgress() {
    const LOGFONTW font = MakeLogFont(L"Tahoma", 13, 5, FW_NORMAL);
    m_font = MakeFont(font);
}

bool CMyProgress::SubclassWindow(HWND hwnd) {
    if (!CControlImpl::SubclassWindow(hwnd)) return false;
    m_bar.reset(LoadResBitmap(kBarBitmap));
    return true;
}

bool CMyProgress::Create(HWND parent, const RECT& rect, int id) {
    return CreateSubclassed(parent, L"STATIC", rect, id, L"", 0);
}

void CMyProgress::SetPos(int position) {
    m_position = position;
    if (m_hWnd != nullptr) Invalidate(false);
}

int CMyProgress::DrawnPosition() const {
    if (m_position > 100) return 100;
    return m_position < 0 ? 0 : m_position;
}

int CMyProgress::BarWidth() const {
    RECT client = {};
    if (m_hWnd != nullptr) ::GetClientRect(m_hWnd, &client);
    const int inner = client.right - client.left - 2;
    return inner > 0 ? inner * DrawnPosition() / 100 : 0;
}

void CMyProgress::SetMode(int mode) {
    m_mode = mode == kTextMode ? kTextMode : kBarMode;
    if (m_hWnd != nullptr) Invalidate(false);
}

void CMyProgress::SetText(const wchar_t* text) {
    m_text = text != nullptr ? text : L"";
    SetMode(kTextMode);
}

void CMyProgress::OnPaint(HDC) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    if (dc == nullptr) return;
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    if (m_mode == kBarMode)
        DrawBar(dc, client);
    else
        DrawLabel(dc, client);
    EndPaint(m_hWnd, &paint);
}

void CMyProgress::DrawBar(HDC dc, const RECT& client) const {
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    UniqueBrush frame(CreateSolidBrush(kFrameColor));
    FrameRect(dc, &client, frame.get());
    RECT inner = client;
    InflateRect(&inner, -1, -1);
    UniqueBrush innerFrame(CreateSolidBrush(kInnerFrameColor));
    FrameRect(dc, &inner, innerFrame.get());
    const int width = BarWidth();
    if (!m_bar || width <= 0) return;
    CopyBitmap(dc, m_bar.get(), 1, 1, width, kBarHeight);
}

void CMyProgress::DrawLabel(HDC dc, const RECT& client) const {
    HWND parent = ::GetParent(m_hWnd);
    HBRUSH background = reinterpret_cast<HBRUSH>(
        ::SendMessageW(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(m_hWnd)));
    FillRect(dc, &client, background != nullptr ? background : GetSysColorBrush(COLOR_BTNFACE));
    RECT box = client;
    CSelectObject selected(dc, m_font.get());
    const int mode = SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, m_text.c_str(), -1, &box, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SetBkMode(dc, mode);
}

}  // namespace talo
