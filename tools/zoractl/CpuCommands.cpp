#include "ZoractlCommands.h"

int CpuCommand(int, wchar_t**) { return 2; }
