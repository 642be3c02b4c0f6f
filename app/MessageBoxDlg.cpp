#include "MessageBoxDlg.h"

namespace talo {

void CenterBoxInWorkArea(HWND box, int width, int height) {
    RECT work = {};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
        OutputDebugStringW(L"SystemParametersInfo failed \n");
        SetWindowPos(box, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        return;
    }
    MoveWindow(box, work.left + (work.right - work.left - width) / 2, work.top + (work.bottom - work.top - height) / 2,
               width, height, TRUE);
}

}  // namespace talo
