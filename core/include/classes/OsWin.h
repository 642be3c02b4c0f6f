#pragma once
#include <windows.h>

#include "ZORABase.h"

// Small helpers over the differences between Windows XP and Vista: the version test,
// Vista's desktop composition (loaded at run time, so the library loads on XP), and
// registry access with diagnostics.
class ZORADLL_API COsWin : public CZORABase {
public:
    unsigned long GetVersion() override;

    static int IsVista();
    static long LoadDwmLibrary();
    static long SetAero(int enable);
    static long IsAeroOn(int* enabled);
    static long SetLinkPowerMgr(int value);
    // Both return 0 or the registry call's own error code (E_FAIL for a null argument).
    static long ReadRegValue(HKEY root, const wchar_t* subkey, const wchar_t* name, unsigned long* type,
                             unsigned char* data, unsigned long* size);
    static long WriteRegValue(HKEY root, const wchar_t* subkey, const wchar_t* name, unsigned long reserved,
                              const unsigned long* type, const void* data, const unsigned long* size);

    static HMODULE m_hDwmLibrary;
};
