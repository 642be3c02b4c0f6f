#pragma once
#include <windows.h>

// Starts the graphics helper "GRAVO.exe" with one decimal argument (0 switches the
// display's power saving off, n > 0 on with strength n) and waits for its end. On
// Windows major version 6 it runs as the user of the console session, with the token of
// that session's "winlogon.exe"; earlier versions start it plainly. The helper is
// looked for in the installation folder ("SDKFolder"; without it the library's home
// folder) and then beside the library. False when it could not be started, or when it
// did not end within 30 s, or within 2 s after `stop` was raised (it is then ended).
bool RunGraphicsHelper(int argument, bool vista, HANDLE stop);
