// The power variables of a scheme: where each is kept (the system's copy of the scheme
// or the user's scheme file), their packed AC/DC values, the check against the
// catalogue's allowed values, and the catalogue's texts for the user interface.
#include <climits>
#include <cwchar>

#include "AsciiText.h"
#include "HwUSBPorts.h"
#include "SchemeEx.h"
#include "SchemeFiles.h"
#include "ZoraPowerVariables.h"
#include "ZoraSystemApi.h"

using namespace scheme_files;
using namespace zora_vars;

namespace {

// One variable's key in [Scheme N] of the open scheme file.
class SchemeValue {
public:
    SchemeValue(CZORAProfile& file, int index, const wchar_t* name) : m_file(file), m_section(index), m_name(name) {}
    // The stored value; -1 (as stored, or the default) means missing.
    int Read() { return ReadStoredValue(m_file, m_section, m_name, -1); }
    // The stored value, or absent when the key is not there at all.
    int ReadOr(int absent) { return ReadStoredValue(m_file, m_section, m_name, absent); }
    bool Write(int value) { return m_file.PutInt(m_section, m_name, value) != 0; }
    // One half replaced; the other as stored (0 when the key is absent, not set when the
    // text is no value).
    bool WriteHalf(int ac, int value) { return Write(Pack(ReadStoredValue(m_file, m_section, m_name, 0), ac, value)); }

private:
    CZORAProfile& m_file;
    SchemeSection m_section;
    const wchar_t* m_name;
};

// A missing value reads -1 and is then stored as -1. A value stored as -1 is not written
// again: every write rewrites the whole file, and a reader of the file (the service, the
// next open) looks at all of it again after a change.
int ReadOrMark(SchemeValue& value, int ac, bool packed) {
    constexpr int kAbsent = INT_MIN;
    int stored = value.ReadOr(kAbsent);
    if (stored == kAbsent) {
        value.Write(-1);
        return -1;
    }
    if (stored == -1) return -1;
    return !packed ? stored : ac ? AcHalf(stored) : DcHalf(stored);
}

bool IsVistaTimeOut(const wchar_t* name) {
    for (int number = MonitorOffTimeOut; number <= HibernateTimeOut; ++number)
        if (wcscmp(name, kNames[number]) == 0) return true;
    return false;
}

}  // namespace

int CSchemeEx::ParseVarName(const wchar_t* name) {
    if (!name) return -1;
    for (int number = 0; number < kCount; ++number)
        if (EqualsAsciiNoCase(name, kNames[number])) return number;
    return -1;
}

int CSchemeEx::ParseVarName(const wchar_t* name, GUID* subgroup, GUID* setting) {
    if (!m_nVista || !subgroup || !setting) return -1;
    int number = ParseVarName(name);
    // Only the system's own settings have GUIDs.
    if (number >= CpuSpeed && number != BacklightLevel) return number;
    if (!name) return -1;
    CZORACfg file;
    if (!OpenSettingFile(file)) return -1;
    wchar_t text[kTextChars];
    if (InstalledString(file, name, L"SubGroupGuid", text) <= 0) return -1;
    GuidFromString(text, subgroup);
    if (InstalledString(file, name, L"Guid", text) <= 0) return -1;
    GuidFromString(text, setting);
    return number;
}

int CSchemeEx::LocateVariable(int index, const wchar_t* name, CZORAProfile& file, bool* opened, GUID* scheme,
                              GUID* subgroup, GUID* setting) {
    if (m_nVista) {
        // The scheme file is opened once for the whole operation; the map says whether
        // the scheme exists.
        *opened = OpenSchemeFile(file);
        if (!*opened || !MapSchemeIndex(file, index, scheme)) return -1;
        return ParseVarName(name, subgroup, setting);
    }
    return FindPwrScheme(index) ? ParseVarName(name) : -1;
}

int CSchemeEx::GetPwrVariable(int index, int ac, const wchar_t* name) {
    GUID scheme = {}, subgroup = {}, setting = {};
    CZORAProfile file;
    bool opened = false;
    int number = LocateVariable(index, name, file, &opened, &scheme, &subgroup, &setting);
    if (number < 0) return -1;
    if (m_nVista && (number <= CpuSpeedMax || number == BacklightLevel))
        return VistaGetPolicyVariable(index, ac, number, scheme, subgroup, setting);
    if (!m_nVista && number <= CpuSpeed) return XpGetPolicyVariable(index, ac, number);
    if (number == LanSpeed && m_nVista) return -1;  // XP's link speed; Vista has its own

    if (!opened && !OpenSchemeFile(file)) return -1;
    SchemeValue value(file, index, kNames[number]);
    if (number == CpuAdaptive || number == CpuSpeed) {  // Vista: kept in the scheme file
        int stored = value.Read();
        if (stored == -1) {
            int fallback = number == CpuAdaptive ? 3 : 100;
            value.Write(Pack(Pack(0, 1, fallback), 0, fallback));
            return fallback;
        }
        return ac ? AcHalf(stored) : DcHalf(stored);
    }
    return ReadOrMark(value, ac, number != VXPS);
}

int CSchemeEx::SetPwrVariable(int index, int ac, const wchar_t* name, int value) {
    GUID scheme = {}, subgroup = {}, setting = {};
    CZORAProfile file;
    bool opened = false;
    int number = LocateVariable(index, name, file, &opened, &scheme, &subgroup, &setting);
    if (number < 0 || !ValidateData(name, value)) return -1;

    if (!m_nVista) {
        if (number <= CpuSpeed) return XpSetPolicyVariable(index, ac, number, value);
    } else {
        if (number <= HibernateTimeOut)
            return VistaSetPolicyVariable(index, ac, number, value, scheme, subgroup, setting);
        if (number == LanSpeed) return -1;  // XP's link speed; Vista has its own
        if (number == BacklightLevel) {
            // The level must convert into the system's percent before anything is written.
            CZORACfg cfg;
            int levels = OpenMachineCfg(cfg) ? cfg.GetInt(L"ZORACfg", L"MaxBrightLevel", 0) : 0;
            if (levels < 2 || value > levels) return -1;
        }
    }

    if (!opened && !OpenSchemeFile(file)) return -1;
    SchemeValue stored(file, index, kNames[number]);
    if (number == VXPS) return stored.Write(value) ? value : -1;  // one value for both sources
    if (!stored.WriteHalf(ac, value)) return -1;
    if (!m_nVista) return value;
    switch (number) {
    case CpuSpeed:
        // A fixed speed takes over from the system's adaptive one.
        if (value == 0) SetPwrVariable(index, ac, kNames[CpuAdaptive], 3);
        return value;
    case CpuSpeedMin:
    case CpuSpeedMax:
    case CpuAdaptive:
    case BacklightLevel:
        return VistaSetPolicyVariable(index, ac, number, value, scheme, subgroup, setting);
    default:
        return value;
    }
}

int CSchemeEx::GetPwrVariable(int, int, const wchar_t*, wchar_t*, int) { return 0; }
int CSchemeEx::SetPwrVariable(int, int, const wchar_t*, const wchar_t*) { return 0; }

int CSchemeEx::ValidateData(const wchar_t* name, int value) {
    if (!name) return 0;
    // Vista takes any whole number of minutes for its time-outs.
    if (m_nVista && IsVistaTimeOut(name)) return value >= 0 && value % 60 == 0 ? 1 : 0;
    if (wcscmp(name, kNames[HibernateTimeOut]) == 0 && value != 0 && !ZoraSys()->IsPwrHibernateAllowed()) return 0;
    CZORACfg file;
    if (!OpenSettingFile(file)) return 0;
    int options = file.GetInt(name, L"OptionNumber", 0);
    for (int i = 0; i < options; ++i) {
        wchar_t key[32];
        swprintf(key, 32, L"ValueOption%d", i);
        if (file.GetInt(name, key, -1) == value) return 1;
    }
    return 0;
}

int CSchemeEx::GetPwrVariableOptCount(const wchar_t* name) {
    CZORACfg file;
    if (!name || !OpenSettingFile(file)) return -1;
    return file.GetInt(name, L"OptionNumber", -1);
}

int CSchemeEx::GetPwrVariableOptValue(const wchar_t* name, int option) {
    CZORACfg file;
    if (!name || !OpenSettingFile(file)) return -1;
    wchar_t key[32];
    swprintf(key, 32, L"ValueOption%d", option);
    return file.GetInt(name, key, -1);
}

int CSchemeEx::GetPwrVariableOptDesc(const wchar_t* name, int option, wchar_t* buffer, int capacity) {
    CZORACfg file;
    if (!name || !buffer || capacity <= 0 || !OpenSettingFile(file)) return -1;
    if (option >= file.GetInt(name, L"OptionNumber", -1)) return -1;
    wchar_t key[32];
    swprintf(key, 32, L"DescOption%d", option);
    int n = file.GetString(name, key, L"", buffer, capacity);
    return n > 0 ? n : -1;
}

int CSchemeEx::GetPwrVariableUnit(const wchar_t* name, wchar_t* buffer, int capacity) {
    CZORACfg file;
    if (!name || !buffer || capacity <= 0 || !OpenSettingFile(file)) return -1;
    int n = file.GetString(name, L"Unit", L"", buffer, capacity);
    return n > 0 ? n : -1;
}

int CSchemeEx::GetPwrVariableName(const wchar_t* name, wchar_t* buffer, int capacity) {
    int number = ParseVarName(name);
    if (number < 0 || !buffer || capacity <= 0) return -1;
    if (number >= USBPort0 && number <= USBPort11) {
        // A port is named by the device attached to it.
        CHwUSBPorts ports;
        long hr = ports.Setup(0);
        if (hr < 0) {
            DBGOUT(L"init UsbPort device failed for HRESULT: 0x%x", hr);
            return -1;
        }
        int port = number - USBPort0;
        hr = ports.GetPortDeviceName(port, buffer, capacity);
        if (hr < 0) {
            DBGOUT(L"Get USBPort No.%d device name failed for HRESULT: 0x%x", port, hr);
            return -1;
        }
        return 0;
    }
    CZORACfg file;
    if (!OpenSettingFile(file)) return -1;
    return file.GetString(name, L"Name", L"", buffer, capacity) > 0 ? 0 : -1;
}
