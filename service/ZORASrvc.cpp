#include <windows.h>

#include "ServiceModule.h"

CServiceModule _Module;

int wmain(int, wchar_t**) { return _Module.Start(GetModuleHandleW(nullptr), GetCommandLineW()); }
