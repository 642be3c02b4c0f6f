#include "PwrDesp.h"

namespace talo {
namespace {

// One element per scheme, in the library's order; always asks for the next.
unsigned char CALLBACK AppendScheme(unsigned int index, unsigned long, wchar_t* name, unsigned long,
                                    wchar_t* description, LONG_PTR userValue) {
    auto* list = reinterpret_cast<std::vector<PWRDESP>*>(userValue);
    list->push_back(PWRDESP{static_cast<int>(index), name != nullptr ? name : L"",
                            description != nullptr ? description : L""});
    return 1;
}

}  // namespace

bool EnumSchemes(CSchemeEx& scheme, std::vector<PWRDESP>& list) {
    return scheme.EnumPwrSchemes(AppendScheme, reinterpret_cast<LONG_PTR>(&list)) != 0;
}

}  // namespace talo
