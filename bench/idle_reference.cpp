// The idle benchmark's yardstick: an empty Win32 program that sits in its message loop
// with one timer firing every second, and does nothing else.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    SetTimer(nullptr, 1, 1000, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}
