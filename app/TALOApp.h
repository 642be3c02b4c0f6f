// TALO's application object: the single instance, the resource module, the first run's
// preparation, the process-wide settings, the hidden hub window and the message loop.
#pragma once

#include <windows.h>

#include <string>

#include "AppBase.h"

namespace talo {

class CBalloon2Dlg;
class CDummyDlg;

class CTALOApp : public CTaloAppBase {
public:
    CTALOApp() = default;
    ~CTALOApp() override;

    // The whole start-up; runs the message loop itself and always returns false. A start
    // that cannot go on (ZORACfg.ini missing or naming no module, a module that does not
    // load, no hub window) says which file and why: a debugger line "TALO cannot start:
    // ..." and a message box with the same text; a second instance leaves silently.
    bool InitInstance() override;
    int ExitInstance() override;

    // Loads the module [TALOCfg] TALOResource names and makes it the module of every
    // resource lookup, freeing the one loaded before. 1; 0 with a debug line naming the
    // path and the system's error.
    int LoadResourceModule();

private:
    // [TALOCfg] TALOResource of ZORACfg.ini into the resource module path; false, with
    // what is wrong and in which file, when the file is missing, unreadable or names none.
    bool ReadResourcePath(std::wstring* problem);

    std::wstring m_resourcePath;
    DWORD m_loadError = 0;
    HINSTANCE m_resourceModule = nullptr;
    HANDLE m_instanceMutex = nullptr;
};

// The one hub window's object; null before it is made and after the exit.
CDummyDlg* Hub();
// The one balloon's object; null before it is made, after the exit and when it could not be made.
CBalloon2Dlg* Balloon();

}  // namespace talo
