#include "ZoractlCommands.h"

int HubCommand(int, wchar_t**) { return 2; }
