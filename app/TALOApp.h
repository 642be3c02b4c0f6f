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

    // The whole start-up; runs the message loop itself and always returns false.
    bool InitInstance() override;
    int ExitInstance() override;

    // Loads the module [TALOCfg] TALOResource names and makes it the module of every
    // resource lookup, freeing the one loaded before. 1; 0 with a debug line naming the
    // path and the system's error.
    int LoadResourceModule();

private:
    std::wstring m_resourcePath;
    HINSTANCE m_resourceModule = nullptr;
    HANDLE m_instanceMutex = nullptr;
};

// The one hub window's object; null before it is made and after the exit.
CDummyDlg* Hub();
// The one balloon's object; null before it is made, after the exit and when it could not be made.
CBalloon2Dlg* Balloon();

}  // namespace talo
