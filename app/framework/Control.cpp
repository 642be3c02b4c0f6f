#include "Control.h"

#include <commctrl.h>

#include <new>

namespace talo {
namespace subclass {
namespace {
// The owner's handle member, cleared when the control is destroyed under the object.
struct Link {
    CMessageMap* map;
    HWND* owner;
};

constexpr UINT_PTR kSubclassId = 0x54414C4F;

LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data) {
    auto* link = reinterpret_cast<Link*>(data);
    LRESULT result = 0;
    if (!link->map->ProcessWindowMessage(hwnd, message, wParam, lParam, result)) {
        result = DefSubclassProc(hwnd, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        *link->owner = nullptr;
        RemoveWindowSubclass(hwnd, Procedure, id);
        delete link;
    }
    return result;
}
}  // namespace

bool Install(HWND hwnd, CMessageMap* map, HWND* owner) {
    DWORD_PTR existing = 0;
    if (GetWindowSubclass(hwnd, Procedure, kSubclassId, &existing)) return false;
    auto* link = new (std::nothrow) Link{map, owner};
    if (link == nullptr) return false;
    if (!SetWindowSubclass(hwnd, Procedure, kSubclassId, reinterpret_cast<DWORD_PTR>(link))) {
        delete link;
        return false;
    }
    return true;
}

bool Remove(HWND hwnd, CMessageMap* map) {
    DWORD_PTR data = 0;
    if (!GetWindowSubclass(hwnd, Procedure, kSubclassId, &data)) return false;
    auto* link = reinterpret_cast<Link*>(data);
    if (link->map != map) return false;
    RemoveWindowSubclass(hwnd, Procedure, kSubclassId);
    delete link;
    return true;
}

}  // namespace subclass
}  // namespace talo
