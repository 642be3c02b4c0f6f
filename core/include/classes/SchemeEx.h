#pragma once
#include <windows.h>
#include <batclass.h>

#include "ZORABase.h"
#include "ZORACfg.h"

// Called once per scheme by CSchemeEx::EnumPwrSchemes; nonzero continues. The sizes are
// those the operating system reports: bytes on XP, characters plus one on Vista.
typedef unsigned char(CALLBACK* EnumPwrSchemesProc)(unsigned int index, unsigned long nameSize, wchar_t* name,
                                                    unsigned long descriptionSize, wchar_t* description,
                                                    LONG_PTR userValue);

// The power schemes of the calling user: the operating system's list of schemes (the
// numbered schemes of XP's power-profile functions, or the GUID schemes of Vista's
// power-policy functions) and beside it the per-user scheme file, which maps Vista's
// GUIDs to small indexes and holds the settings the system does not know (devices,
// radios, backlight, link speed, and the processor policy on Vista).
//
// Cheap: it holds no handle or file, every operation opens what it needs. Construct,
// call Initialize once, use it from one thread, drop it.
//
// Results: an index or a value, -1 on failure; -2 for a refused combination (a
// duplicate name, an XP standby/hibernation order); yes/no operations 0 on failure.
// The AC flag is nonzero for mains, 0 for battery.
class ZORADLL_API CSchemeEx : public CZORABase {
public:
    CSchemeEx();
    CSchemeEx(const CSchemeEx& other);
    CSchemeEx& operator=(const CSchemeEx& other);
    unsigned long GetVersion() override;
    ~CSchemeEx() override;

    // Chooses the policy API by the system's version (6: Vista's power-policy functions).
    void Initialize();
    // First-run preparation: on Vista rebuilds the index map from the system's schemes
    // (discarding every setting kept for the old indexes); on both records in the
    // power-setting file which variables this machine supports. 1 = done, 0 = failed.
    int InitCfgFile();

    // ---- The scheme store ----
    int GetPwrSchemeMaxIndex();
    int SchemeIndexToGuid(int index, GUID* guid);
    int SchemeGuidToIndex(const GUID* guid);
    // Index of the scheme with exactly that name (letter case counts), or -1.
    int FindPwrScheme(const wchar_t* name);
    int EnumPwrSchemes(EnumPwrSchemesProc callback, LONG_PTR userValue);
    // Copies the name and (when given) the description, each cut to the capacity its
    // pointer holds (characters, with the terminator).
    int GetPwrSchemeNameDesc(int index, wchar_t* name, unsigned long* nameCapacity, wchar_t* description,
                             unsigned long* descriptionCapacity);
    // A new scheme copied from `base`: the new index, -2 when the name exists, -1 otherwise.
    // A name longer than GetMaxSchemeNameLength (without its outer spaces) is refused.
    int AddPwrScheme(const wchar_t* name, const wchar_t* description, int base);
    int DeletePwrScheme(int index);
    // The longest scheme name this system keeps: 29 characters on XP, 127 on Vista.
    int GetMaxSchemeNameLength();
    int GetActivePwrScheme();
    // Activates the scheme in the system, records it as the user's current scheme and
    // has the service apply it. The previously active index, or -1.
    int SetActivePwrScheme(int index);

    // ---- The power variables ----
    int GetPwrVariable(int index, int ac, const wchar_t* name);
    int SetPwrVariable(int index, int ac, const wchar_t* name, int value);
    // Placeholders for string values: 0, nothing read or written.
    int GetPwrVariable(int index, int ac, const wchar_t* name, wchar_t* buffer, int capacity);
    int SetPwrVariable(int index, int ac, const wchar_t* name, const wchar_t* value);

    // ---- Live state: the devices scheme variables switch, and the batteries ----
    // By variable name (any letter case). Radios (BTStatus, Wifi): the firmware's reply,
    // *status 1 = on; hub functions and USB ports: 0, *status 1 = off; other variables 0
    // and nothing read; -1 for an unknown name or a failure.
    int GetDeviceStatus(const wchar_t* name, int* status);
    int SetDeviceStatus(const wchar_t* name, int value);
    unsigned long GetBatteryCount();
    // An item of ZORACfg.ini's [BatteryInforList] (the extended list first): its bytes
    // in the low bytes of *value; 0 also for a name in neither list, -1 on failure.
    int GetBatteryInformation(int battery, const wchar_t* name, unsigned long* value);
    int GetBatteryStatus(int battery, BATTERY_STATUS& status);
    // Battery 0 only: seconds to full or to empty, 0xFFFFFFFF when unknown.
    unsigned long GetCompleteTime(int battery);
    // Battery 0 only: the system's remaining capacity as a fraction 0.0 .. 1.0.
    float GetRemainBatPer(int battery);
    // Battery 0 from one reading, for a caller that asks every second: the system's
    // battery record read once into state, and from that same record the seconds
    // GetCompleteTime(0) and the fraction GetRemainBatPer(0) give. Opens no battery
    // device. 0 success; -1 when the record cannot be read (state zero, seconds
    // 0xFFFFFFFF, fraction 0.0).
    int GetBatteryReading(SYSTEM_BATTERY_STATE& state, unsigned long& seconds, float& fraction);

    // ---- The catalogue (the power-setting file) ----
    int GetPwrVariableName(const wchar_t* name, wchar_t* buffer, int capacity);
    int GetPwrVariableUnit(const wchar_t* name, wchar_t* buffer, int capacity);
    int GetPwrVariableOptCount(const wchar_t* name);
    int GetPwrVariableOptValue(const wchar_t* name, int option);
    int GetPwrVariableOptDesc(const wchar_t* name, int option, wchar_t* buffer, int capacity);

protected:
    int FindPwrScheme(int index);
    int GuidIntoString(GUID* guid, wchar_t* buffer, unsigned long* capacity);
    int GuidFromString(const wchar_t* text, GUID* guid);
    int ValidateData(const wchar_t* name, int value);
    int ParseVarName(const wchar_t* name);
    int ParseVarName(const wchar_t* name, GUID* subgroup, GUID* setting);

private:
    // The variable's number, or -1 when the scheme or the name is unknown; on Vista also
    // the scheme's GUID, the setting's and the opened scheme file.
    int LocateVariable(int index, const wchar_t* name, CZORAProfile& file, bool* opened, GUID* scheme,
                       GUID* subgroup, GUID* setting);
    // The system's side of the variables (SchemeXp.cpp, SchemeVista.cpp).
    int XpGetPolicyVariable(int index, int ac, int number);
    int XpSetPolicyVariable(int index, int ac, int number, int value);
    int VistaGetPolicyVariable(int index, int ac, int number, const GUID& scheme, const GUID& subgroup,
                               const GUID& setting);
    int VistaSetPolicyVariable(int index, int ac, int number, int value, const GUID& scheme, const GUID& subgroup,
                               const GUID& setting);
    bool VistaActivate(int index, int* previous);
    int VistaGetActive();
    int VistaAddScheme(const wchar_t* name, const wchar_t* description, int base);
    int XpAddScheme(const wchar_t* name, const wchar_t* description, int base);

    int m_nVista;  // 0: XP's power-profile functions; 1: Vista's power-policy functions
};
