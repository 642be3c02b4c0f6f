// winlogon.exe of the test and demo environment: Wine has no logon process, and the
// service starts the graphics helper on Windows Vista with the token of the console
// session's "winlogon.exe". This stand-in is that process: started by the environment in
// the console session, it does nothing but exist until the prefix's server ends it or
// the event "Global\ZORA_WINLOGON_STANDIN_END" is raised. A second one leaves at once.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    HANDLE end = CreateEventW(nullptr, TRUE, FALSE, L"Global\\ZORA_WINLOGON_STANDIN_END");
    if (!end || GetLastError() == ERROR_ALREADY_EXISTS) return 0;
    WaitForSingleObject(end, INFINITE);
    CloseHandle(end);
    return 0;
}
