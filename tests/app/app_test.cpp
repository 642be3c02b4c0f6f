// TALO's dialog framework inside one process: real dialogs made from templates built in
// memory, driven by the messages a user's clicks send, through the application object's
// message loop and the dialog manager's modal loop.
#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>

#include "AppBase.h"
#include "Control.h"
#include "Dialog.h"
#include "MemoryTemplate.h"

namespace {

constexpr int kGoButton = 1001;
constexpr int kLabel = 1002;
constexpr int kCheck = 1003;
constexpr UINT_PTR kClickTimer = 7;
constexpr UINT kPassOn = WM_APP;
constexpr UINT kAnswer = WM_APP + 1;

using test::MemoryTemplate;

// The framework's dialog: a caption, a push button kGoButton, a static kLabel and a check
// box kCheck.
MemoryTemplate FrameworkTemplate() {
    MemoryTemplate dialogTemplate(L"Framework", 160, 80);
    dialogTemplate.Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, kGoButton, MemoryTemplate::kButton, L"Go", 10, 10)
        .Item(WS_CHILD | WS_VISIBLE | SS_LEFT, kLabel, MemoryTemplate::kStatic, L"Label", 10, 30)
        .Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, kCheck, MemoryTemplate::kButton, L"Check", 10, 50);
    return dialogTemplate;
}

// What the handlers saw, with the typed arguments their crackers gave.
struct Seen {
    int initCalls = 0;
    LPARAM initParam = -1;
    HWND focus = nullptr;
    int goCalls = 0;
    WORD goCode = 0xFFFF;
    HWND goControl = nullptr;
    WORD endId = 0;
    UINT_PTR timerId = 0;
    int passOnCalls = 0;
    bool finalRan = false;
    LONG_PTR userAtFinal = -1;
};

class CTestDialog : public talo::CDialogImpl<CTestDialog> {
public:
    enum { IDD = 30001 };  // in no module: the tests make their templates in memory

    Seen seen;
    // The command the timer clicks, and what kGoButton ends a modal dialog with.
    WORD clickOnTimer = 0;
    INT_PTR goResult = 0;

    BEGIN_MSG_MAP(CTestDialog)
        MSG_WM_INITDIALOG(OnInitDialog)
        MSG_WM_TIMER(OnTimer)
        COMMAND_ID_HANDLER(kGoButton, OnGo)
        COMMAND_ID_HANDLER(IDOK, OnEnd)
        COMMAND_ID_HANDLER(IDCANCEL, OnEnd)
        MESSAGE_HANDLER(kPassOn, OnPassOn)
        MESSAGE_HANDLER(kAnswer, OnAnswer)
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

protected:
    void OnFinalMessage(HWND hwnd) override {
        seen.finalRan = true;
        seen.userAtFinal = GetWindowLongPtrW(hwnd, DWLP_USER);
    }

private:
    BOOL OnInitDialog(HWND focus, LPARAM initParam) {
        ++seen.initCalls;
        seen.initParam = initParam;
        seen.focus = focus;
        if (clickOnTimer != 0) SetTimer(m_hWnd, kClickTimer, 10, nullptr);
        return TRUE;
    }
    // The user's click: the control's notification to its dialog.
    void OnTimer(UINT_PTR id) {
        seen.timerId = id;
        KillTimer(m_hWnd, id);
        SendMessage(WM_COMMAND, MAKEWPARAM(clickOnTimer, BN_CLICKED),
                    reinterpret_cast<LPARAM>(GetDlgItem(clickOnTimer)));
    }
    LRESULT OnGo(WORD code, WORD id, HWND control, BOOL& handled) {
        ++seen.goCalls;
        seen.goCode = code;
        seen.goControl = control;
        if (IsModal()) EndDialog(goResult);
        return 0;
    }
    LRESULT OnEnd(WORD code, WORD id, HWND control, BOOL& handled) {
        seen.endId = id;
        EndDialog(id);
        return 0;
    }
    LRESULT OnPassOn(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled) {
        ++seen.passOnCalls;
        handled = FALSE;
        return 99;
    }
    LRESULT OnAnswer(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled) {
        return static_cast<LRESULT>(wParam + lParam);
    }
};

// A push button whose clicks its dialog sends back to it.
class CCountingButton : public talo::CControlImpl<CCountingButton, talo::CButton> {
public:
    int clicks = 0;
    WORD lastCode = 0xFFFF;

    BEGIN_MSG_MAP(CCountingButton)
        MESSAGE_HANDLER(talo::OCM_COMMAND, OnReflectedCommand)
    END_MSG_MAP()

private:
    LRESULT OnReflectedCommand(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled) {
        ++clicks;
        lastCode = HIWORD(wParam);
        return 0;
    }
};

TEST(AppFramework, ModalDialogEndsWithTheClickedCommandsResult) {
    const MemoryTemplate dialogTemplate = FrameworkTemplate();
    struct Case {
        LPARAM initParam;
        WORD click;
        INT_PTR goResult;
        INT_PTR expected;
        int goCalls;
    } cases[] = {
        {42, kGoButton, 77, 77, 1},
        {-5, kGoButton, 0, 0, 1},
        {0, IDOK, 77, IDOK, 0},
        {7, IDCANCEL, 77, IDCANCEL, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        CTestDialog dialog;
        dialog.clickOnTimer = c.click;
        dialog.goResult = c.goResult;
        INT_PTR result = dialog.DoModalIndirect(dialogTemplate.Get(), nullptr, c.initParam);
        EXPECT_EQ(c.expected, result) << "case " << i;
        EXPECT_EQ(1, dialog.seen.initCalls) << "case " << i;
        EXPECT_EQ(c.initParam, dialog.seen.initParam) << "case " << i;
        EXPECT_NE(nullptr, dialog.seen.focus) << "case " << i;
        EXPECT_EQ(kClickTimer, dialog.seen.timerId) << "case " << i;
        EXPECT_EQ(c.goCalls, dialog.seen.goCalls) << "case " << i;
        if (c.goCalls != 0) {
            EXPECT_EQ(BN_CLICKED, dialog.seen.goCode) << "case " << i;
            EXPECT_NE(nullptr, dialog.seen.goControl) << "case " << i;
        } else {
            EXPECT_EQ(c.click, dialog.seen.endId) << "case " << i;
        }
        EXPECT_TRUE(dialog.seen.finalRan) << "case " << i;
        EXPECT_EQ(0, dialog.seen.userAtFinal) << "case " << i;
        EXPECT_EQ(nullptr, dialog.m_hWnd) << "case " << i;
    }
}

// A dialog that takes the left arrow before the dialog manager: it ends with kTakenResult.
class CKeyTakingDialog : public talo::CDialogImpl<CKeyTakingDialog> {
public:
    enum { IDD = 30002 };
    static constexpr INT_PTR kTakenResult = 55;

    // Where the key goes: the dialog itself, or its button kGoButton.
    bool toButton = false;
    WPARAM key = 0;

    bool PreTranslateMessage(MSG* message) override {
        if (message->message != WM_KEYDOWN || message->wParam != VK_LEFT) return false;
        EndDialog(kTakenResult);
        return true;
    }

    static constexpr INT_PTR kNothingResult = -7;

    BEGIN_MSG_MAP(CKeyTakingDialog)
        MSG_WM_INITDIALOG(OnInitDialog)
        MSG_WM_TIMER(OnTimer)
        COMMAND_ID_HANDLER(IDCANCEL, OnCloseCmd)
    END_MSG_MAP()

private:
    BOOL OnInitDialog(HWND, LPARAM) {
        ::PostMessageW(toButton ? GetDlgItem(kGoButton) : m_hWnd, WM_KEYDOWN, key, 0);
        // A key nobody ends the dialog for: it ends by itself.
        ::SetTimer(m_hWnd, kClickTimer, 5000, nullptr);
        return TRUE;
    }
    void OnTimer(UINT_PTR) { EndDialog(kNothingResult); }
};

// A dialog sees the keys for itself and its controls in its modal loop before the dialog
// manager: what it takes goes no further, the rest is the dialog manager's as before.
TEST(AppFramework, ModalDialogSeesItsKeysBeforeTheDialogManager) {
    const MemoryTemplate dialogTemplate = FrameworkTemplate();
    const struct {
        bool toButton;
        WPARAM key;
        INT_PTR expected;
    } cases[] = {
        {false, VK_LEFT, CKeyTakingDialog::kTakenResult},
        {true, VK_LEFT, CKeyTakingDialog::kTakenResult},
        {false, VK_ESCAPE, IDCANCEL},
        {true, VK_ESCAPE, IDCANCEL},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        CKeyTakingDialog dialog;
        dialog.toButton = cases[i].toButton;
        dialog.key = cases[i].key;
        EXPECT_EQ(cases[i].expected, dialog.DoModalIndirect(dialogTemplate.Get())) << "case " << i;
    }
}

TEST(AppFramework, ModelessDialogAnswersThroughItsMapAndLetsGoOnDestroy) {
    const MemoryTemplate dialogTemplate = FrameworkTemplate();
    CTestDialog dialog;
    HWND hwnd = dialog.CreateIndirect(dialogTemplate.Get(), nullptr, 1234);
    ASSERT_NE(nullptr, hwnd);
    EXPECT_EQ(hwnd, dialog.m_hWnd);
    EXPECT_FALSE(dialog.IsModal());
    EXPECT_EQ(&dialog, talo::CDialogBase::FromHandle(hwnd));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(&dialog), GetWindowLongPtrW(hwnd, DWLP_USER));
    EXPECT_EQ(1234, dialog.seen.initParam);

    struct Case {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        LRESULT expected;
        int goCalls;
        int passOnCalls;
    } cases[] = {
        // A handler's result comes back through DWLP_MSGRESULT.
        {kAnswer, 40, 2, 42, 0, 0},
        {kAnswer, 0, 0, 0, 0, 0},
        // A handler that clears bHandled leaves the message to the dialog manager.
        {kPassOn, 0, 0, 0, 0, 1},
        {WM_COMMAND, MAKEWPARAM(kGoButton, BN_CLICKED), 0, 0, 1, 1},
        {WM_COMMAND, MAKEWPARAM(kLabel, STN_CLICKED), 0, 0, 1, 1},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        LPARAM lParam = c.message == WM_COMMAND ? reinterpret_cast<LPARAM>(GetDlgItem(hwnd, LOWORD(c.wParam))) : c.lParam;
        EXPECT_EQ(c.expected, SendMessageW(hwnd, c.message, c.wParam, lParam)) << "case " << i;
        EXPECT_EQ(c.goCalls, dialog.seen.goCalls) << "case " << i;
        EXPECT_EQ(c.passOnCalls, dialog.seen.passOnCalls) << "case " << i;
    }
    EXPECT_EQ(GetDlgItem(hwnd, kGoButton), dialog.seen.goControl);

    // IDCANCEL of a modeless dialog destroys it.
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_TRUE(dialog.seen.finalRan);
    EXPECT_EQ(0, dialog.seen.userAtFinal);
    EXPECT_EQ(nullptr, dialog.m_hWnd);
}

TEST(AppFramework, SubclassedControlGetsItsReflectedClicksUntilDestroyed) {
    const MemoryTemplate dialogTemplate = FrameworkTemplate();
    CTestDialog dialog;
    HWND hwnd = dialog.CreateIndirect(dialogTemplate.Get());
    ASSERT_NE(nullptr, hwnd);
    CCountingButton button;
    ASSERT_TRUE(button.SubclassDlgItem(kCheck, hwnd));
    EXPECT_FALSE(button.SubclassDlgItem(kCheck, hwnd)) << "a second subclass of the same object";

    struct Case {
        int control;
        WORD code;
        int clicks;
        int goCalls;
    } cases[] = {
        // The dialog's own map comes first; the commands it leaves go back to their control.
        {kGoButton, BN_CLICKED, 0, 1},
        {kCheck, BN_CLICKED, 1, 1},
        {kLabel, STN_CLICKED, 1, 1},
        {kCheck, BN_SETFOCUS, 2, 1},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(c.control, c.code),
                     reinterpret_cast<LPARAM>(GetDlgItem(hwnd, c.control)));
        EXPECT_EQ(c.clicks, button.clicks) << "case " << i;
        EXPECT_EQ(c.goCalls, dialog.seen.goCalls) << "case " << i;
    }
    EXPECT_EQ(BN_SETFOCUS, button.lastCode);
    // Messages the control's map leaves go on to the button's own procedure.
    button.SetCheck(BST_CHECKED);
    EXPECT_EQ(BST_CHECKED, button.GetCheck());
    EXPECT_TRUE(button.SetWindowText(L"Again"));
    wchar_t text[16] = {};
    EXPECT_EQ(5, button.GetWindowText(text, 16));
    EXPECT_STREQ(L"Again", text);

    EXPECT_EQ(GetDlgItem(hwnd, kCheck), button.UnsubclassWindow());
    EXPECT_EQ(nullptr, button.m_hWnd);
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(kCheck, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(hwnd, kCheck)));
    EXPECT_EQ(2, button.clicks) << "after UnsubclassWindow";

    ASSERT_TRUE(button.SubclassDlgItem(kCheck, hwnd));
    dialog.DestroyWindow();
    EXPECT_EQ(nullptr, button.m_hWnd) << "the control went with its dialog";
    EXPECT_EQ(nullptr, dialog.m_hWnd);
}

class CTestApp : public talo::CTaloAppBase {
public:
    bool enterLoop = false;
    WPARAM quitCode = 0;
    bool ownLoop = false;
    int initCalls = 0;
    int exitCalls = 0;
    CTestDialog dialog;

    bool InitInstance() override {
        ++initCalls;
        const MemoryTemplate dialogTemplate = FrameworkTemplate();
        if (dialog.CreateIndirect(dialogTemplate.Get()) == nullptr) return false;
        // A command the loop delivers: the dialog ends, and then the application.
        dialog.PostMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        PostQuitMessage(static_cast<int>(quitCode));
        if (ownLoop) {
            RunMessageLoop();
            return false;
        }
        return enterLoop;
    }
    int ExitInstance() override {
        ++exitCalls;
        if (dialog.IsWindow()) dialog.DestroyWindow();
        return talo::CTaloAppBase::ExitInstance();
    }
};

TEST(AppFramework, ApplicationRunsItsLoopAndExitsWithTheQuitCode) {
    struct Case {
        bool enterLoop;
        bool ownLoop;
        WPARAM quitCode;
        int expected;
        bool dialogEnded;
    } cases[] = {
        {true, false, 3, 3, true},
        {false, true, 5, 5, true},
        {false, false, 9, 0, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        CTestApp app;
        app.enterLoop = c.enterLoop;
        app.ownLoop = c.ownLoop;
        app.quitCode = c.quitCode;
        EXPECT_EQ(c.expected, app.Run(GetModuleHandleW(nullptr), SW_SHOW)) << "case " << i;
        EXPECT_EQ(1, app.initCalls) << "case " << i;
        EXPECT_EQ(1, app.exitCalls) << "case " << i;
        EXPECT_EQ(c.dialogEnded ? IDCANCEL : 0, app.dialog.seen.endId) << "case " << i;
        EXPECT_EQ(nullptr, app.dialog.m_hWnd) << "case " << i;
        // A loop that did not run leaves its messages behind.
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {}
    }
}

TEST(AppFramework, TemplatesComeFromTheResourceModule) {
    const HINSTANCE exe = GetModuleHandleW(nullptr);
    const HINSTANCE user32 = GetModuleHandleW(L"user32.dll");
    struct Case {
        HINSTANCE set;
        HINSTANCE expected;
    } cases[] = {{user32, user32}, {nullptr, exe}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        CTestApp app;
        app.SetResourceModule(cases[i].set);
        EXPECT_EQ(cases[i].expected, app.ResourceModule()) << "case " << i;
        EXPECT_EQ(cases[i].expected, talo::ResourceModule()) << "case " << i;
        // Neither module has a template or string 30001: the lookup is made there and fails.
        CTestDialog dialog;
        SetLastError(0xdeadbeef);
        EXPECT_EQ(-1, dialog.DoModal(nullptr)) << "case " << i;
        EXPECT_NE(0xdeadbeefu, GetLastError()) << "case " << i;
        EXPECT_EQ(0, dialog.seen.initCalls) << "case " << i;
        wchar_t text[8] = L"x";
        EXPECT_EQ(0, talo::LoadResString(30001, text, 8)) << "case " << i;
        EXPECT_EQ(L'\0', text[0]) << "case " << i;
    }
    talo::SetResourceModule(nullptr);
}

}  // namespace
