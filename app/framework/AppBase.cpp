#include "AppBase.h"

#include "Dialog.h"

namespace talo {

int CTaloAppBase::Run(HINSTANCE instance, int showCommand) {
    m_instance = instance;
    m_showCommand = showCommand;
    if (InitInstance()) RunMessageLoop();
    return ExitInstance();
}

int CTaloAppBase::RunMessageLoop() {
    MSG message = {};
    for (;;) {
        BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) break;
        if (got == -1) {
            m_exitCode = -1;
            return m_exitCode;
        }
        if (CDialogBase::PreTranslate(&message)) continue;
        HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
        if (root != nullptr && CDialogBase::FromHandle(root) != nullptr && IsDialogMessageW(root, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    m_exitCode = static_cast<int>(message.wParam);
    return m_exitCode;
}

}  // namespace talo
