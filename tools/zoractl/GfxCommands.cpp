#include "ZoractlCommands.h"

int GfxCommand(int, wchar_t**) { return 2; }
