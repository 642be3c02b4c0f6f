#include "DeviceItems.h"

#include <windows.h>

#include "AppConfig.h"
#include "CatalogueTexts.h"
#include "SchemeEx.h"

namespace talo {
namespace {

std::list<DeviceDesp> g_deviceItems;

}  // namespace

std::list<DeviceDesp>& DeviceItems() { return g_deviceItems; }

int LoadDeviceItems() {
    g_deviceItems.clear();
    int count = GetCfgInt(0, CfgFileName(), L"SchemeItemList", L"ItemNum", 0);
    for (int i = 0; i < count; ++i) {
        if (GetCfgInt(0, CfgFileName(), L"SchemeItemList", Numbered(L"IfDevice", i).c_str(), 0) != 1) continue;
        std::wstring item = CfgString(CfgFileName(), L"SchemeItemList", Numbered(L"Item", i));
        if (!IsItemOsSupported(item.c_str()) || !IsItemSupported(item.c_str())) continue;
        // The name in the resource module's language; the installed list's where it has none.
        std::wstring name = CatalogueString(CatalogueText::kDeviceName, item.c_str(), 0,
                                            CfgString(CfgFileName(), L"SchemeItemList", Numbered(L"DeviceName", i)));
        g_deviceItems.push_back(DeviceDesp{i, -1, item, std::move(name)});
    }
    return 1;
}

void FreeDeviceItems() { g_deviceItems.clear(); }

int ComputeDeviceStates(std::list<DeviceDesp>& devices, int schemeIndex, int ac) {
    std::wstring schemeFile;
    GetCfgString(CfgFileName(), L"ZORACfg", L"PowerScheme", schemeFile);
    int enforcedAc = GetCfgInt(1, schemeFile.c_str(), L"EnforceSetting", L"bIfAC", -1);
    int enforcedScheme = GetCfgInt(1, schemeFile.c_str(), L"EnforceSetting", L"SchemeID", -1);
    bool enforced = enforcedScheme == schemeIndex && enforcedAc == ac;

    CSchemeEx scheme;
    scheme.Initialize();
    int count = 0;
    for (DeviceDesp& device : devices) {
        if (enforced) {
            int value = GetCfgInt(1, schemeFile.c_str(), L"EnforceSetting", device.key.c_str(), -1);
            if (value >= 0) {
                device.state = value;
                ++count;
                continue;
            }
        }
        wchar_t key[255];
        lstrcpynW(key, device.key.c_str(), 255);
        int result = scheme.GetPwrVariable(schemeIndex, ac, key);
        if (result == 0) {
            device.state = 0;
            ++count;
        } else {
            device.state = result == 1 ? 1 : -1;
        }
    }
    return count;
}

}  // namespace talo
