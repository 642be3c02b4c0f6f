// The scheme list as TALO's dialogs and menus hold it: one PWRDESP per scheme the
// library enumerates, in the library's order, on the caller's stack.
#pragma once

#include <string>
#include <vector>

#include "SchemeEx.h"

namespace talo {

struct PWRDESP {
    int index;
    std::wstring name;
    std::wstring description;
};

// The schemes of an initialised CSchemeEx appended to list; false when the enumeration fails.
bool EnumSchemes(CSchemeEx& scheme, std::vector<PWRDESP>& list);

}  // namespace talo
