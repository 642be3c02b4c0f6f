#include "CatalogueTexts.h"

#include "ResourceModule.h"
#include "TaloResIds.h"
#include "ZoraPowerVariables.h"

namespace talo {
namespace {

int VariableNumber(const wchar_t* variable) {
    if (variable == nullptr) return -1;
    for (int number = 0; number < zora_vars::kCount; ++number)
        if (lstrcmpiW(zora_vars::kNames[number], variable) == 0) return number;
    return -1;
}

}  // namespace

std::wstring ModuleText(UINT id, const std::wstring& fallback) {
    if (id == 0) return fallback;
    // A pointer into the module's own table, so a text of any length arrives whole.
    const wchar_t* text = nullptr;
    const int length = LoadStringW(ResourceModule(), id, reinterpret_cast<wchar_t*>(&text), 0);
    return length > 0 && text != nullptr ? std::wstring(text, static_cast<size_t>(length)) : fallback;
}

UINT CatalogueTextId(CatalogueText kind, const wchar_t* variable, int index) {
    switch (kind) {
        case CatalogueText::kVariableName:
        case CatalogueText::kDeviceName: {
            const int number = VariableNumber(variable);
            if (number < 0) return 0;
            return (kind == CatalogueText::kVariableName ? IDS_VARIABLE_NAME_BASE : IDS_DEVICE_NAME_BASE) + number;
        }
        default:
            break;
    }
    if (index < 0 || index >= IDS_CATALOGUE_SLOTS) return 0;
    switch (kind) {
        case CatalogueText::kEffectName: return IDS_EFFECT_NAME_BASE + index;
        case CatalogueText::kEffectDescription: return IDS_EFFECT_DESCRIPTION_BASE + index;
        case CatalogueText::kDefaultSchemeName: return IDS_DEFAULT_SCHEME_NAME_BASE + index;
        case CatalogueText::kDefaultSchemeDescription: return IDS_DEFAULT_SCHEME_DESC_BASE + index;
        case CatalogueText::kBatteryBasicLabel: return IDS_BATTERY_BA_LABEL_BASE + index;
        case CatalogueText::kBatteryExtendedLabel: return IDS_BATTERY_BEA_LABEL_BASE + index;
        default: return 0;
    }
}

UINT OptionTextId(const wchar_t* variable, int option) {
    const int number = VariableNumber(variable);
    if (number < 0 || option < 0 || option >= IDS_OPTION_SLOTS) return 0;
    return IDS_OPTION_TEXT(number, option);
}

std::wstring CatalogueString(CatalogueText kind, const wchar_t* variable, int index, const std::wstring& fallback) {
    return ModuleText(CatalogueTextId(kind, variable, index), fallback);
}

std::wstring OptionString(const wchar_t* variable, int option, const std::wstring& fallback) {
    return ModuleText(OptionTextId(variable, option), fallback);
}

}  // namespace talo
