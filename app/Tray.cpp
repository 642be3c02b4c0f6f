#include "Tray.h"

#include <vector>

#include "AppConfig.h"
#include "PwrDesp.h"
#include "ResourceModule.h"
#include "SchemeEx.h"
#include "SchemeSeeding.h"

namespace talo {
namespace {

constexpr DWORD kTrackerPeriodMs = 800;
constexpr DWORD kTrackerStopWaitMs = 5000;

#ifndef _WIN64
static_assert(CTray::kRecordSize == 952, "the record XP's shell and later ones take");
#endif

void AppendResString(HMENU menu, UINT command, UINT stringId) {
    wchar_t text[128] = L"";
    LoadResString(stringId, text, 128);
    AppendMenuW(menu, MF_STRING, command, text);
}

// The product mark beside the main dialog's item: the module's bitmap with its 0xFF00FF
// key turned into the menu's own colour (hbmpItem draws no key on XP). Made once per
// resource module; it lives as long as the process.
HBITMAP TrayMenuBitmap() {
    static HINSTANCE madeFor = nullptr;
    static HBITMAP made = nullptr;
    if (made != nullptr && madeFor == ResourceModule()) return made;
    if (made != nullptr) DeleteObject(made);
    made = nullptr;
    madeFor = ResourceModule();
    HBITMAP source = LoadResBitmap(IDB_TRAY_MENU);
    BITMAP info = {};
    if (source == nullptr || !GetObjectW(source, sizeof(info), &info) || info.bmWidth <= 0 || info.bmHeight <= 0) {
        if (source != nullptr) DeleteObject(source);
        return nullptr;
    }
    BITMAPINFO format = {};
    format.bmiHeader = {sizeof(BITMAPINFOHEADER), info.bmWidth, -info.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    made = CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (made != nullptr &&
        GetDIBits(screen, source, 0, static_cast<UINT>(info.bmHeight), bits, &format, DIB_RGB_COLORS) != 0) {
        const COLORREF menu = GetSysColor(COLOR_MENU);
        const DWORD background = (GetRValue(menu) << 16) | (GetGValue(menu) << 8) | GetBValue(menu);
        DWORD* pixel = static_cast<DWORD*>(bits);
        for (LONG i = 0; i < info.bmWidth * info.bmHeight; ++i)
            if ((pixel[i] & 0xFFFFFF) == 0xFF00FF) pixel[i] = background;
    } else if (made != nullptr) {
        DeleteObject(made);
        made = nullptr;
    }
    ReleaseDC(nullptr, screen);
    DeleteObject(source);
    return made;
}

}  // namespace

UINT TrayIconId(int sourceState, int percentage) {
    switch (sourceState) {
    case PowerSnapshot::kAcIdle:
        return kIconAcIdle;
    case PowerSnapshot::kAcCharging:
        return kIconAcCharging;
    case PowerSnapshot::kBattery:
        if (percentage < 30) return kIconBatteryLow;
        return percentage < 60 ? kIconBatteryMiddle : kIconBatteryHigh;
    default:
        return kIconPowerUnknown;
    }
}

int BuildTrayMenu(HMENU menu) {
    CSchemeEx scheme;
    scheme.Initialize();
    if (StartFlag() == 0) {
        PrepareSchemeFiles(scheme);  // a failure leaves the files as they are; the menu still lists
        SetStartFlag();
    }
    std::vector<PWRDESP> list;
    const bool listed = EnumSchemes(scheme, list);
    // Without an active scheme the schemes are still offered, none of them checked.
    const int active = listed ? scheme.GetActivePwrScheme() : -1;
    for (size_t i = 0; listed && i < list.size(); ++i) {
        UINT flags = MF_STRING | (list[i].index == active ? MF_CHECKED : MF_UNCHECKED);
        AppendMenuW(menu, flags, kCmdFirstScheme + i, list[i].name.c_str());
    }
    if (listed && !list.empty()) AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendResString(menu, kCmdBatteryStatus, kStrMenuBatteryStatus);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendResString(menu, kCmdSchemeMain, kStrMenuSchemeMain);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendResString(menu, kCmdAbout, kStrMenuAbout);
    AppendResString(menu, kCmdExit, kStrMenuExit);
    SetMenuDefaultItem(menu, kCmdSchemeMain, FALSE);
    if (HBITMAP mark = TrayMenuBitmap()) {
        // In the check marks' column, which it shares with them.
        MENUINFO style = {};
        style.cbSize = sizeof(style);
        style.fMask = MIM_STYLE;
        style.dwStyle = MNS_CHECKORBMP;
        SetMenuInfo(menu, &style);
        MENUITEMINFOW item = {};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_BITMAP;
        item.hbmpItem = mark;
        SetMenuItemInfoW(menu, kCmdSchemeMain, FALSE, &item);
    }
    return listed ? 1 : 0;
}

// ---- CTray ----

CTray::CTray() {
    ZeroMemory(&m_nid, sizeof(m_nid));
    m_nid.cbSize = kRecordSize;
    m_nid.uID = kTrayIconUid;
}

CTray::~CTray() { Remove(); }

void CTray::SetTarget(HWND window, UINT callbackMessage) {
    m_hWnd = window;
    m_nid.hWnd = window;
    m_nid.uCallbackMessage = callbackMessage;
}

BOOL CTray::Notify(DWORD command) {
    m_nid.uFlags = command == NIM_DELETE ? 0 : NIF_ICON;
    if (command != NIM_DELETE && m_nid.uCallbackMessage != 0 && m_nid.hWnd != nullptr) m_nid.uFlags |= NIF_MESSAGE;
    return Shell_NotifyIconW(command, &m_nid);
}

int CTray::SetIcon(HICON icon) {
    if (icon == nullptr) return Remove();
    m_nid.hIcon = icon;
    m_offered = true;
    // The shell refuses an add for an icon it has and a change for one it has not; what
    // TALO believes may be out of date after the taskbar restarted, so the other command
    // is the fallback.
    const DWORD first = m_shown ? NIM_MODIFY : NIM_ADD;
    BOOL result = Notify(first);
    if (!result) result = Notify(first == NIM_ADD ? NIM_MODIFY : NIM_ADD);
    m_shown = result != FALSE;
    return result;
}

int CTray::Restore() {
    if (m_nid.hIcon == nullptr) return 0;
    m_shown = false;  // the shell restarted: an add first
    return SetIcon(m_nid.hIcon);
}

int CTray::Remove() {
    if (!m_offered) return 1;
    BOOL result = Notify(NIM_DELETE);
    m_offered = false;
    m_shown = false;
    m_nid.hIcon = nullptr;
    return result;
}

// ---- CTrayPos ----

CTrayPos::CTrayPos() {
    InitializeCriticalSection(&m_lock);
    m_stop = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (m_stop != nullptr) m_thread = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
}

CTrayPos::~CTrayPos() {
    Stop();
    if (m_stop != nullptr) CloseHandle(m_stop);
    DeleteCriticalSection(&m_lock);
}

void CTrayPos::Stop() {
    if (m_thread == nullptr) return;
    SetEvent(m_stop);
    if (WaitForSingleObject(m_thread, kTrackerStopWaitMs) == WAIT_TIMEOUT) TerminateThread(m_thread, 0);
    CloseHandle(m_thread);
    m_thread = nullptr;
}

void CTrayPos::RecordMouseMove() {
    EnterCriticalSection(&m_lock);
    GetCursorPos(&m_cursor);
    if (m_inside == 0) {
        OnMouseHover();
        m_inside = 1;
    }
    LeaveCriticalSection(&m_lock);
}

DWORD WINAPI CTrayPos::ThreadProc(void* tracker) { return static_cast<CTrayPos*>(tracker)->Run(); }

DWORD CTrayPos::Run() {
    while (WaitForSingleObject(m_stop, kTrackerPeriodMs) == WAIT_TIMEOUT) {
        // Compared and cleared under the lock, so that a move recorded meanwhile is not lost.
        EnterCriticalSection(&m_lock);
        if (m_inside == 1) {
            POINT now;
            if (GetCursorPos(&now) && (now.x != m_cursor.x || now.y != m_cursor.y)) {
                m_inside = 0;
                OnMouseLeave();
            }
        }
        LeaveCriticalSection(&m_lock);
    }
    return 0;
}

// ---- CMsgTrayPos ----

CMsgTrayPos::~CMsgTrayPos() { Stop(); }

void CMsgTrayPos::SetTarget(HWND window, UINT uid, UINT callbackMessage) {
    m_uid = uid;
    m_callbackMessage = callbackMessage;
    m_target = window;
}

void CMsgTrayPos::OnMouseHover() { Post(kTrayMouseHover); }
void CMsgTrayPos::OnMouseLeave() { Post(kTrayMouseLeave); }

void CMsgTrayPos::Post(UINT mouseMessage) {
    HWND target = m_target;
    if (target != nullptr && ::IsWindow(target)) PostMessageW(target, m_callbackMessage, m_uid, mouseMessage);
}

}  // namespace talo
