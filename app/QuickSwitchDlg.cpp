#include "QuickSwitchDlg.h"

#include <algorithm>

#include "AppConfig.h"
#include "DeviceItems.h"
#include "DeviceShowDlg.h"
#include "FrameDlg.h"
#include "Gdi.h"
#include "PowerSnapshot.h"
#include "SchemeEx.h"
#include "WinHandles.h"

namespace talo {
namespace {

// The styles that make the strip a layered window (WS_EX_LAYERED with
// WS_EX_NOINHERITLAYOUT); the template has neither, so they are added.
constexpr LONG_PTR kLayeredStyles = 0x180000;
// The alpha handed over with the colour key; only the key is asked for.
constexpr BYTE kKeyAlpha = 128;

using SetLayeredWindowAttributesProc = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);

RECT SlotRect(int slot) {
    const int left = CQuickSwitchDlg::kSlotLeft + CQuickSwitchDlg::kSlotPitch * slot;
    return {left, 0, left + CQuickSwitchDlg::kSlotSize, CQuickSwitchDlg::kSlotSize};
}

RECT LabelRect(int slot) {
    const int left = CQuickSwitchDlg::kSlotLeft + CQuickSwitchDlg::kSlotPitch * slot;
    return {left, CQuickSwitchDlg::kLabelTop, left + CQuickSwitchDlg::kSlotSize,
            CQuickSwitchDlg::kLabelTop + CQuickSwitchDlg::kLabelHeight};
}

}  // namespace

BOOL CQuickSwitchDlg::OnInitDialog(HWND, LPARAM) {
    // It starts just below the visible part of the screen and rises from there.
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &m_workArea, 0))
        m_workArea = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    m_left = (m_workArea.left + m_workArea.right) / 2 - kWidth / 2;
    m_offset = 0;
    // The template's caption names the window (for screen readers) but the strip has no
    // title bar or border: its client area is the whole 550 x 120.
    ::SetWindowLongPtrW(m_hWnd, GWL_STYLE,
                        ::GetWindowLongPtrW(m_hWnd, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_CAPTION | WS_THICKFRAME));
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    MoveStrip();
    MakeKeyTransparent();

    if (!LoadShownSchemes()) {
        // Nothing to offer: an invisible strip would hold the hotkey's dialog open.
        EndDialog(IDCANCEL);
        return TRUE;
    }
    m_slots = std::min(Count(), kMaxSlots);
    CreateControls();
    m_current = FindCurrent();
    m_first = 0;
    if (m_current != -1 && Count() >= m_slots) {
        if (Count() - m_current - 1 < m_slots / 2)
            m_first = Count() - m_slots;
        else
            m_first = std::max(0, m_current - m_slots / 2);
    }
    MarkCurrent(true);
    FillSlots();
    SetTimer(m_hWnd, kRiseTimer, kSlideMs, nullptr);
    return TRUE;
}

void CQuickSwitchDlg::MakeKeyTransparent() const {
    ::SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, ::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) | kLayeredStyles);
    HMODULE user32 = GetModuleHandleW(L"User32.DLL");
    auto setAttributes = user32 != nullptr ? reinterpret_cast<SetLayeredWindowAttributesProc>(reinterpret_cast<void*>(
                                                 GetProcAddress(user32, "SetLayeredWindowAttributes")))
                                           : nullptr;
    if (setAttributes != nullptr) setAttributes(m_hWnd, kTransparentKey, kKeyAlpha, LWA_COLORKEY);
}

bool CQuickSwitchDlg::LoadShownSchemes() {
    m_shown.clear();
    CSchemeEx scheme;
    scheme.Initialize();
    std::vector<PWRDESP> all;
    if (!EnumSchemes(scheme, all)) return false;
    const std::wstring profile = ProfileFile();
    for (const PWRDESP& entry : all) {
        if (GetCfgInt(1, profile.c_str(), Numbered(L"Scheme", entry.index).c_str(), L"IfShow", 0) == 1)
            m_shown.push_back(entry);
    }
    return true;
}

int CQuickSwitchDlg::FindCurrent() const {
    CSchemeEx scheme;
    scheme.Initialize();
    std::vector<PWRDESP> all;
    if (!EnumSchemes(scheme, all)) return -1;
    const int active = scheme.GetActivePwrScheme();
    if (active < 0) return -1;
    for (size_t i = 0; i < m_shown.size(); ++i)
        if (m_shown[i].index == active) return static_cast<int>(i);
    return -1;
}

void CQuickSwitchDlg::CreateControls() {
    for (int k = 0; k < m_slots; ++k) {
        m_slotButtons[k].Create(m_hWnd, SlotRect(k), IDC_QUICK_SLOT_BASE + k);
        m_slotLabels[k].Create(m_hWnd, LabelRect(k), IDC_QUICK_LABEL_BASE + k);
        m_slotLabels[k].SetTextColor(kLabelColor);
    }
    const RECT left = {0, 0, kArrowWidth, kSlotSize};
    const RECT right = {m_slots * kSlotPitch + kSlotLeft, 0, m_slots * kSlotPitch + kSlotLeft + kArrowWidth, kSlotSize};
    m_scrollLeft.Create(m_hWnd, left, IDC_QUICK_SCROLL_LEFT, L"<<");
    m_scrollLeft.SetImages(IDB_SCROLL_LEFT, IDB_SCROLL_LEFT, IDB_SCROLL_LEFT_HOT);
    m_scrollRight.Create(m_hWnd, right, IDC_QUICK_SCROLL_RIGHT, L">>");
    m_scrollRight.SetImages(IDB_SCROLL_RIGHT, IDB_SCROLL_RIGHT, IDB_SCROLL_RIGHT_HOT);
}

void CQuickSwitchDlg::FillSlots() {
    m_scrollLeft.ShowWindow(m_first > 0 ? SW_SHOW : SW_HIDE);
    m_scrollRight.ShowWindow(m_first + m_slots < Count() ? SW_SHOW : SW_HIDE);
    const std::wstring profile = ProfileFile();
    for (int k = 0; k < m_slots; ++k) {
        const PWRDESP& entry = m_shown[static_cast<size_t>(m_first + k)];
        CIconButton& button = m_slotButtons[k];
        button.SetScheme(entry.index, entry.name.c_str());
        // Not drawn (the button shows its image), but read by screen readers.
        button.SetWindowText(entry.name.c_str());
        const int icon = GetCfgInt(1, profile.c_str(), Numbered(L"Scheme", entry.index).c_str(), L"IconNum", -1);
        button.SetImages(kSlotNormalBase + icon, kSlotPressedBase + icon, kSlotHotBase + icon);
        button.Invalidate(false);
        m_slotLabels[k].SetText(entry.name.c_str());
        m_slotLabels[k].SetTextColor(kLabelColor);
    }
}

void CQuickSwitchDlg::MarkCurrent(bool on) {
    if (m_current < m_first || m_current >= m_first + m_slots) return;
    m_slotButtons[m_current - m_first].SetState(on ? CIconButton::kHighlighted : CIconButton::kNormal);
}

void CQuickSwitchDlg::ScrollLeft() {
    if (m_first < 1) return;
    MarkCurrent(false);
    --m_first;
    MarkCurrent(true);
    FillSlots();
    if (m_first == 0) m_scrollLeft.StopRepeat();
}

void CQuickSwitchDlg::ScrollRight() {
    if (m_first + m_slots >= Count()) return;
    MarkCurrent(false);
    ++m_first;
    MarkCurrent(true);
    FillSlots();
    if (m_first + m_slots >= Count()) m_scrollRight.StopRepeat();
}

void CQuickSwitchDlg::Choose(int slot) {
    // A choice ends the strip: it no longer slides while the device dialog asks.
    StopTimers();
    const int ac = CurrentPower().AcFlag();
    if (ac >= 0) {
        const int index = m_slotButtons[slot].SchemeIndex();
        bool activate = true;
        if (ReadDevShowFlag() == 1) {
            // One device dialog at a time: a scheme chosen while another asks is not switched to.
            CDeviceShowDlg devices;
            activate = devices.Show(index, ac, m_hWnd) != CDeviceShowDlg::kAlreadyOpen;
        } else {
            ComputeDeviceStates(DeviceItems(), index, ac);
        }
        if (activate) {
            CSchemeEx scheme;
            scheme.Initialize();
            scheme.SetActivePwrScheme(index);
        }
    }
    EndDialog(IDOK);
}

void CQuickSwitchDlg::MoveStrip() const {
    ::SetWindowPos(m_hWnd, nullptr, m_left, m_workArea.bottom - m_offset, kWidth, kHeight,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

void CQuickSwitchDlg::RestartStay() { SetTimer(m_hWnd, kStayTimer, kStayMs, nullptr); }

void CQuickSwitchDlg::StopTimers() {
    KillTimer(m_hWnd, kRiseTimer);
    KillTimer(m_hWnd, kStayTimer);
    KillTimer(m_hWnd, kFallTimer);
}

void CQuickSwitchDlg::OnTimer(UINT_PTR timerId) {
    switch (timerId) {
    case kRiseTimer:
        m_offset += kSlideStep;
        MoveStrip();
        if (m_offset >= kRiseHeight) {
            KillTimer(m_hWnd, kRiseTimer);
            RestartStay();
        }
        break;
    case kStayTimer:
        KillTimer(m_hWnd, kStayTimer);
        SetTimer(m_hWnd, kFallTimer, kSlideMs, nullptr);
        break;
    case kFallTimer:
        MoveStrip();
        m_offset -= kSlideStep;
        if (m_offset <= 0) {
            KillTimer(m_hWnd, kFallTimer);
            EndDialog(IDCANCEL);
        }
        break;
    default:
        break;
    }
}

// Everything but the buttons and the labels is the key colour, which the layered window
// leaves out.
void CQuickSwitchDlg::OnPaint(HDC) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    if (dc == nullptr) return;
    RECT client;
    GetClientRect(&client);
    UniqueBrush key(CreateSolidBrush(kTransparentKey));
    FillRect(dc, &client, key.get());
    EndPaint(m_hWnd, &paint);
}

void CQuickSwitchDlg::OnMouseMove(UINT, POINT point) {
    // The strip stays while the mouse is on it.
    KillTimer(m_hWnd, kStayTimer);
    TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, m_hWnd, 0};
    ::TrackMouseEvent(&track);
    for (int k = 0; k < m_slots; ++k) {
        const RECT label = LabelRect(k);
        if (PtInRect(&label, point)) m_slotLabels[k].SendMessage(CIconStatic::kMouseOverMessage);
    }
}

void CQuickSwitchDlg::OnMouseLeave() { RestartStay(); }

void CQuickSwitchDlg::OnHelp(LPHELPINFO) const { CFrameDlg::ShowHelp(); }

bool CQuickSwitchDlg::PreTranslateMessage(MSG* message) {
    if (message->message != WM_KEYDOWN) return false;
    bool taken = false;
    if (message->wParam == VK_LEFT) {
        ScrollLeft();
        taken = true;
    } else if (message->wParam == VK_RIGHT) {
        ScrollRight();
        taken = true;
    }
    RestartStay();
    return taken;
}

LRESULT CQuickSwitchDlg::OnCommand(UINT, WPARAM wParam, LPARAM, BOOL& handled) {
    const int id = LOWORD(wParam);
    const WORD code = HIWORD(wParam);
    const bool scroll = id == IDC_QUICK_SCROLL_LEFT || id == IDC_QUICK_SCROLL_RIGHT;
    const bool slot = id >= IDC_QUICK_SLOT_BASE && id < IDC_QUICK_SLOT_BASE + m_slots;
    if (scroll || slot) {
        if (code == CIconButton::kCodeHover) {
            KillTimer(m_hWnd, kStayTimer);
        } else if (code == CIconButton::kCodeLeave) {
            RestartStay();
        } else if (code == BN_CLICKED) {  // also the arrows' auto-repeat
            if (id == IDC_QUICK_SCROLL_LEFT)
                ScrollLeft();
            else if (id == IDC_QUICK_SCROLL_RIGHT)
                ScrollRight();
            else
                Choose(id - IDC_QUICK_SLOT_BASE);
        }
        return 0;
    }
    if (id >= IDC_QUICK_LABEL_BASE && id < IDC_QUICK_LABEL_BASE + m_slots) {
        // A label's new text is drawn over the key colour again, not over its old text.
        const RECT label = LabelRect(id - IDC_QUICK_LABEL_BASE);
        RedrawWindow(m_hWnd, &label, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        return 0;
    }
    handled = FALSE;
    return 0;
}

}  // namespace talo
