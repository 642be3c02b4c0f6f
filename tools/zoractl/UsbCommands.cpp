#include "ZoractlCommands.h"

int UsbCommand(int, wchar_t**) { return 2; }
