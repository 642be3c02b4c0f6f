#include "ZoractlCommands.h"

int EcCommand(int, wchar_t**) { return 2; }
