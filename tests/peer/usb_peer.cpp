// Plugs devices into the configured virtual notebook's USB ports from another process:
//   usb_peer attach <controller> <port> [description]
//   usb_peer detach <controller> <port>
// Exit code 0, or the Win32 error of the call; 87 for bad arguments.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "ZoraVnb.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return ERROR_INVALID_PARAMETER;
    int controller = _wtoi(argv[2]), port = _wtoi(argv[3]);
    BOOL ok = FALSE;
    if (wcscmp(argv[1], L"attach") == 0)
        ok = VnbAttachUsbDevice(nullptr, controller, port, argc > 4 ? argv[4] : nullptr);
    else if (wcscmp(argv[1], L"detach") == 0)
        ok = VnbDetachUsbDevice(nullptr, controller, port);
    else
        return ERROR_INVALID_PARAMETER;
    DWORD error = ok ? 0 : GetLastError();
    printf("result=%lu\n", static_cast<unsigned long>(error));
    return static_cast<int>(error);
}
