#pragma once
// The network adapter vendor's WMI provider as the machine file keeps it: section
// [DovnetWmi], described in WmiProviderServer.cpp. Shared by ZoraVnb.dll, which writes
// the section of every new default machine, and ZoraVnbWmi.dll, which serves it.
#include <cstdint>

namespace dovnet {

constexpr wchar_t kSection[] = L"DovnetWmi";
constexpr char kSectionA[] = "DovnetWmi";

// The adapter's power properties, in the order of the lists in [DovnetWmi] and of the
// bits of "AdapterN.Supported". `low`..`high` are the values the adapter accepts.
struct PowerProperty {
    const wchar_t* name;
    uint32_t low, high, initial;
};
constexpr int kPowerProperties = 8;
constexpr PowerProperty kProperties[kPowerProperties] = {
    {L"ACBSMode", 0, 1, 0},
    {L"ReduceSpeedOnPowerDown", 0, 1, 1},
    {L"SavePowerNowEnabled", 1, 2, 1},  // 1 off, 2 on
    {L"SmartPowerDown", 0, 1, 1},
    {L"AutoPowerSaveModeEnabled", 0, 1, 0},
    {L"EnhancedASPMPowerSaver", 0, 1, 0},
    {L"LinkSpeedBatterySaver", 0, 1, 0},
    {L"SystemIdlePowerSaver", 0, 1, 0},
};
constexpr uint32_t kAllSupported = 0xFF;
// At most this many adapters are served, whatever "Adapters" says.
constexpr int kMaxAdapters = 8;

// The default machine's section, as "Key=Value" lines of UTF-8.
constexpr const char* kDefaultLines[][2] = {
    {"Adapters", "1"},
    {"Transaction", "none"},
    {"Adapter0.Status", "0"},
    {"Adapter0.Supported", "0xFF"},
    {"Adapter0.Values", "0,1,1,1,0,0,0,0"},
    {"Adapter0.Pending", ""},
};

}  // namespace dovnet
