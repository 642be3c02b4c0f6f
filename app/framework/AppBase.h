// The application object. Run drives it: InitInstance does the start-up and may run the
// message loop itself (returning false, so that Run's own loop is not entered);
// ExitInstance always runs last and gives the process's exit code.
#pragma once

#include <windows.h>

#include "ResourceModule.h"

namespace talo {

class CTaloAppBase {
public:
    CTaloAppBase() = default;
    CTaloAppBase(const CTaloAppBase&) = delete;
    CTaloAppBase& operator=(const CTaloAppBase&) = delete;
    virtual ~CTaloAppBase() = default;

    // InitInstance, then the message loop when it returned true, then ExitInstance; returns
    // ExitInstance's value.
    int Run(HINSTANCE instance, int showCommand);

    // Start-up. True: enter the framework's message loop; false: go straight to ExitInstance.
    virtual bool InitInstance() = 0;
    // Shutdown; returns the process's exit code (by default the code WM_QUIT carried, 0 when
    // no loop ran).
    virtual int ExitInstance() { return m_exitCode; }

    // Runs until WM_QUIT; a framework dialog sees its messages first (PreTranslateMessage),
    // then keyboard navigation goes to the framework's dialogs. Returns and
    // keeps the code WM_QUIT carried.
    int RunMessageLoop();

    // The module of every resource lookup; the application sets it after loading its
    // resource module (null: the executable again).
    HINSTANCE ResourceModule() const { return talo::ResourceModule(); }
    void SetResourceModule(HINSTANCE module) { talo::SetResourceModule(module); }

    HINSTANCE Instance() const { return m_instance; }
    int ShowCommand() const { return m_showCommand; }

protected:
    int m_exitCode = 0;

private:
    HINSTANCE m_instance = nullptr;
    int m_showCommand = SW_SHOWNORMAL;
};

}  // namespace talo
