// The dialog base. A dialog class derives from CDialogImpl<itself>, names its template
// with enum { IDD = ... } and lists its handlers in a message map. The window procedure
// reaches the object through DWLP_USER, which is cleared on WM_NCDESTROY, before the
// window is gone; OnFinalMessage runs after that.
#pragma once

#include <windows.h>

#include "MessageMap.h"
#include "ResourceModule.h"
#include "Window.h"

namespace talo {

class CDialogBase : public CWindow, public CMessageMap {
public:
    CDialogBase() = default;
    CDialogBase(const CDialogBase&) = delete;
    CDialogBase& operator=(const CDialogBase&) = delete;

    // Modal from a template of the resource module, or from one in memory. Returns what
    // EndDialog was given, -1 when the dialog could not be created (last error set by the system).
    INT_PTR DoModalTemplate(const wchar_t* name, HWND parent, LPARAM initParam);
    INT_PTR DoModalIndirect(const DLGTEMPLATE* dialogTemplate, HWND parent = nullptr, LPARAM initParam = 0);
    // Modeless; returns the window, null when it could not be created.
    HWND CreateTemplate(const wchar_t* name, HWND parent, LPARAM initParam);
    HWND CreateIndirect(const DLGTEMPLATE* dialogTemplate, HWND parent = nullptr, LPARAM initParam = 0);

    // Ends a modal dialog with result, destroys a modeless one (its result is then unused).
    bool EndDialog(INT_PTR result);
    // The one close handler of the message maps: a button that only closes (OK of a box,
    // Cancel, Escape, the caption's close button) ends the dialog with its identifier.
    LRESULT OnCloseCmd(WORD, WORD id, HWND, BOOL&) {
        EndDialog(id);
        return 0;
    }
    bool IsModal() const { return m_modal; }

    // Sees a message for the dialog or one of its controls before the dialog manager
    // and the window do (keyboard navigation, dispatch), in the dialog's own modal loop and
    // in the application's loop alike; true when the dialog took the message, which then
    // goes no further.
    virtual bool PreTranslateMessage(MSG*) { return false; }
    // Offers message to the framework dialog its window belongs to; whether it took it.
    static bool PreTranslate(MSG* message);

    // The object a window of this framework's dialogs belongs to; null for any other window.
    static CDialogBase* FromHandle(HWND hwnd);
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    // Runs after the window's last message, when the object no longer has a window; a
    // modeless dialog allocated with new may delete itself here.
    virtual void OnFinalMessage(HWND hwnd) {}
    // Makes this object the one whose window the thread creates next: DialogProc attaches
    // it at the window's first message and hands initParam to WM_INITDIALOG.
    void PrepareCreate(bool modal, LPARAM initParam);

private:
    // The system's modal loop offers each message to the thread's message filter before
    // its dialog manager: while a modal dialog of the framework runs, the filter hands it
    // to PreTranslate.
    static void HookModalLoop();
    static void UnhookModalLoop();

    LPARAM m_initParam = 0;
    bool m_modal = false;
};

template <class T>
class CDialogImpl : public CDialogBase {
public:
    // The template T::IDD of the resource module.
    INT_PTR DoModal(HWND parent = ::GetActiveWindow(), LPARAM initParam = 0) {
        return DoModalTemplate(MAKEINTRESOURCEW(T::IDD), parent, initParam);
    }
    HWND Create(HWND parent, LPARAM initParam = 0) {
        return CreateTemplate(MAKEINTRESOURCEW(T::IDD), parent, initParam);
    }
};

}  // namespace talo
