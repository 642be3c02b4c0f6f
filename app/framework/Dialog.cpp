#include "Dialog.h"

namespace talo {
namespace {
// The object whose dialog the thread is creating: the system hands the creation
// parameter only to WM_INITDIALOG, while WM_SETFONT and others come before it.
thread_local CDialogBase* t_creating = nullptr;
// The thread's message filter while modal dialogs of the framework run, and how many do.
thread_local HHOOK t_filter = nullptr;
thread_local int t_modalDepth = 0;

LRESULT CALLBACK ModalFilter(int code, WPARAM wParam, LPARAM lParam) {
    if (code == MSGF_DIALOGBOX && CDialogBase::PreTranslate(reinterpret_cast<MSG*>(lParam))) return TRUE;
    return CallNextHookEx(t_filter, code, wParam, lParam);
}

// Messages whose result a dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message) {
    switch (message) {
    case WM_INITDIALOG:
    case WM_CHARTOITEM:
    case WM_COMPAREITEM:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_QUERYDRAGICON:
    case WM_VKEYTOITEM:
        return true;
    default:
        return false;
    }
}
}  // namespace

void CDialogBase::PrepareCreate(bool modal, LPARAM initParam) {
    m_modal = modal;
    m_initParam = initParam;
    t_creating = this;
}

void CDialogBase::HookModalLoop() {
    if (t_modalDepth++ == 0) t_filter = SetWindowsHookExW(WH_MSGFILTER, ModalFilter, nullptr, GetCurrentThreadId());
}

void CDialogBase::UnhookModalLoop() {
    if (--t_modalDepth > 0) return;
    if (t_filter != nullptr) UnhookWindowsHookEx(t_filter);
    t_filter = nullptr;
}

bool CDialogBase::PreTranslate(MSG* message) {
    if (message == nullptr || message->hwnd == nullptr) return false;
    CDialogBase* dialog = FromHandle(GetAncestor(message->hwnd, GA_ROOT));
    return dialog != nullptr && dialog->PreTranslateMessage(message);
}

INT_PTR CDialogBase::DoModalTemplate(const wchar_t* name, HWND parent, LPARAM initParam) {
    PrepareCreate(true, initParam);
    HookModalLoop();
    INT_PTR result = DialogBoxParamW(ResourceModule(), name, parent, DialogProc, 0);
    UnhookModalLoop();
    t_creating = nullptr;
    return result;
}

INT_PTR CDialogBase::DoModalIndirect(const DLGTEMPLATE* dialogTemplate, HWND parent, LPARAM initParam) {
    PrepareCreate(true, initParam);
    HookModalLoop();
    INT_PTR result = DialogBoxIndirectParamW(ResourceModule(), dialogTemplate, parent, DialogProc, 0);
    UnhookModalLoop();
    t_creating = nullptr;
    return result;
}

HWND CDialogBase::CreateTemplate(const wchar_t* name, HWND parent, LPARAM initParam) {
    PrepareCreate(false, initParam);
    HWND hwnd = CreateDialogParamW(ResourceModule(), name, parent, DialogProc, 0);
    t_creating = nullptr;
    return hwnd;
}

HWND CDialogBase::CreateIndirect(const DLGTEMPLATE* dialogTemplate, HWND parent, LPARAM initParam) {
    PrepareCreate(false, initParam);
    HWND hwnd = CreateDialogIndirectParamW(ResourceModule(), dialogTemplate, parent, DialogProc, 0);
    t_creating = nullptr;
    return hwnd;
}

bool CDialogBase::EndDialog(INT_PTR result) {
    if (m_hWnd == nullptr) return false;
    if (m_modal) return ::EndDialog(m_hWnd, result) != FALSE;
    return ::DestroyWindow(m_hWnd) != FALSE;
}

CDialogBase* CDialogBase::FromHandle(HWND hwnd) {
    wchar_t className[8] = {};
    if (hwnd == nullptr || GetClassNameW(hwnd, className, 8) == 0 || lstrcmpW(className, L"#32770") != 0) {
        return nullptr;
    }
    if (reinterpret_cast<DLGPROC>(GetWindowLongPtrW(hwnd, DWLP_DLGPROC)) != DialogProc) return nullptr;
    return reinterpret_cast<CDialogBase*>(GetWindowLongPtrW(hwnd, DWLP_USER));
}

INT_PTR CALLBACK CDialogBase::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CDialogBase*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (self == nullptr) {
        self = t_creating;
        // A message after WM_NCDESTROY, or a window this thread is not creating.
        if (self == nullptr || message == WM_NCDESTROY) return FALSE;
        t_creating = nullptr;
        self->m_hWnd = hwnd;
        SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    }
    if (message == WM_INITDIALOG) lParam = self->m_initParam;

    LRESULT result = 0;
    bool handled = self->ProcessWindowMessage(hwnd, message, wParam, lParam, result);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        self->OnFinalMessage(hwnd);
        return FALSE;
    }
    if (!handled) return FALSE;
    if (ReturnsDirectly(message)) return static_cast<INT_PTR>(result);
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}

bool ReflectNotification(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    HWND control = nullptr;
    switch (message) {
    case WM_COMMAND:
    case WM_CTLCOLORSTATIC:
        control = reinterpret_cast<HWND>(lParam);
        break;
    case WM_NOTIFY:
        control = reinterpret_cast<LPNMHDR>(lParam)->hwndFrom;
        break;
    case WM_DRAWITEM:
        // wParam 0 is a menu's item, which has no control to go back to.
        if (wParam != 0) control = reinterpret_cast<LPDRAWITEMSTRUCT>(lParam)->hwndItem;
        break;
    default:
        return false;
    }
    if (control == nullptr || !::IsWindow(control)) return false;
    result = ::SendMessageW(control, kReflectBase + message, wParam, lParam);
    return true;
}

}  // namespace talo
