#pragma once
// The power variables: every setting a power scheme holds, in their fixed order. A
// variable's position is its number; its name keys the scheme file's values, the
// power-setting file's sections and what the service applies. Names compare without
// regard to ASCII letter case.
//
// Shared by the library's scheme model, the service, the tools and TALO.
#include <cstddef>

namespace zora_vars {

enum Number : int {
    MonitorOffTimeOut = 0,
    DiskOffTimeOut,
    StandbyTimeOut,
    HibernateTimeOut,
    CpuSpeedMin,
    CpuSpeedMax,
    CpuAdaptive,
    CpuSpeed,
    BacklightLevel,
    BTStatus,
    VXPS,
    LanSpeed,
    Display,
    LinkStepOption,
    Wifi,            // first device variable
    HDAudio,         // 15-26: the I/O hub's functions
    ThermalThrottle = 27,
    USBPort0 = 28,   // 28-39: USB ports 0-11
    USBPort11 = 39,  // last device variable
    LanSpeedVista = 40,
    kCount
};

inline constexpr const wchar_t* kNames[kCount] = {
    L"MonitorOffTimeOut", L"DiskOffTimeOut", L"StandbyTimeOut", L"HibernateTimeOut", L"CpuSpeedMin",
    L"CpuSpeedMax",       L"CpuAdaptive",    L"CpuSpeed",       L"BacklightLevel",   L"BTStatus",
    L"VXPS",              L"LanSpeed",       L"Display",        L"LinkStepOption",   L"Wifi",
    L"HD Audio",          L"Modem",          L"DVD Drive",      L"Serial ATA1",      L"Serial ATA2",
    L"SM Bus",            L"PCIE1",          L"PCIE2",          L"PCIE3",            L"PCIE4",
    L"PCIE5",             L"PCIE6",          L"Thermal Throttle", L"USBPort 0",      L"USBPort 1",
    L"USBPort 2",         L"USBPort 3",      L"USBPort 4",      L"USBPort 5",        L"USBPort 6",
    L"USBPort 7",         L"USBPort 8",      L"USBPort 9",      L"USBPort 10",       L"USBPort 11",
    L"LanSpeedVista",
};

// Wifi through USBPort 11: switched on and off by the service, one device each.
constexpr bool IsDevice(int number) { return number >= Wifi && number <= USBPort11; }

// A packed AC/DC value: the mains (AC) half in the low 16 bits, the battery (DC) half in
// the high 16 bits; -1 means not set.
constexpr int AcHalf(int packed) { return static_cast<int>(static_cast<unsigned>(packed) & 0xFFFFu); }
constexpr int DcHalf(int packed) { return static_cast<int>(static_cast<unsigned>(packed) >> 16); }
// The half the service applies for a power source (an ACLineStatus): mains, or an unknown
// source, the AC half as an unsigned number; battery the DC half with its sign, so that a
// DC half of 0xFFFF is not set. A packed -1 stays -1.
constexpr int HalfForSource(int packed, unsigned char acLineStatus) {
    return packed == -1 ? -1 : acLineStatus ? AcHalf(packed) : (packed >> 16);
}
constexpr int Pack(int old, int ac, int value) {
    return ac ? static_cast<int>((static_cast<unsigned>(old) & 0xFFFF0000u) | (static_cast<unsigned>(value) & 0xFFFFu))
              : static_cast<int>((static_cast<unsigned>(old) & 0xFFFFu) | (static_cast<unsigned>(value) << 16));
}

}  // namespace zora_vars
