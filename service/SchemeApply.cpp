#include "SchemeApply.h"

#include <windows.h>

#include "ZORABase.h"

// Nothing is applied yet: every request is refused, so no caller takes a scheme
// for applied.
long ApplyCurrentScheme(const wchar_t* folder) {
    CZORABase::DBGOUT(L"ApplyCurrentScheme for %s is not available.\n", folder ? folder : L"(none)");
    return E_FAIL;
}
