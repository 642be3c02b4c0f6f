// TALO.exe: the user's control program for the suite.
#include <windows.h>

#include "TALOApp.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    talo::CTALOApp app;
    return app.Run(instance, showCommand);
}
