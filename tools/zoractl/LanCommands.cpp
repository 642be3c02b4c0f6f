// zoractl lan: the wired network adapter through the LAN agent.
//   lan [show]      the link speed index the adapter's driver key holds, and the
//                   power-saving features through the vendor's WMI provider:
//                   supported=0xMASK, level=0xBITS and one line per feature
//   lan speed N     writes link speed index N and restarts the adapter to take it
//   lan level BITS  switches the supported power-saving features as BITS says (bit i:
//                   the i-th feature of the list "lan show" prints)
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "LanAgent.h"
#include "ZoractlCommands.h"

namespace {
// The EBL level's bits, in order.
const wchar_t* const kFeatures[] = {L"ACBSMode",
                                    L"ReduceSpeedOnPowerDown",
                                    L"SavePowerNowEnabled",
                                    L"SmartPowerDown",
                                    L"AutoPowerSaveModeEnabled",
                                    L"EnhancedASPMPowerSaver",
                                    L"LinkSpeedBatterySaver",
                                    L"SystemIdlePowerSaver"};

int Usage() {
    wprintf(L"usage: zoractl lan [show]\n"
            L"       zoractl lan speed N      (0 auto, 1..5 the driver's fixed speeds)\n"
            L"       zoractl lan level BITS   (0x00..0xFF, bit i the i-th power-saving feature)\n");
    return 1;
}

// 0 auto-negotiation; the fixed speeds in the order of the standardised keyword.
const wchar_t* SpeedName(unsigned long speed) {
    static const wchar_t* const kNames[] = {L"auto-negotiation", L"10 Mbps half duplex", L"10 Mbps full duplex",
                                            L"100 Mbps half duplex", L"100 Mbps full duplex", L"1 Gbps full duplex"};
    return speed < ARRAYSIZE(kNames) ? kNames[speed] : L"the driver's own value";
}

// The power-saving features; false when the provider does not answer.
bool ShowPowerSaving(CLanAgent& agent, int connected) {
    if (!connected) {
        wprintf(L"power saving   : vendor provider not reachable\n");
        return false;
    }
    unsigned long supported = agent.CheckSupportStatus();
    unsigned long level = agent.GetEblLevel();
    if (supported == CLanAgent::kFailed || level == CLanAgent::kFailed) {
        wprintf(L"power saving   : the vendor provider does not answer for the adapter\n");
        return false;
    }
    wprintf(L"supported=0x%02lX\nlevel=0x%02lX\n", supported, level);
    for (unsigned bit = 0; bit < ARRAYSIZE(kFeatures); ++bit)
        wprintf(L"  bit %u %-26ls %ls\n", bit, kFeatures[bit],
                !(supported & (1ul << bit)) ? L"not supported" : (level & (1ul << bit)) ? L"on" : L"off");
    return true;
}

int Show(CLanAgent& agent, int connected) {
    unsigned long speed = agent.GetLanSpeed();
    bool speedRead = speed != CLanAgent::kFailed;
    if (speedRead)
        wprintf(L"link speed     : %lu (%ls)\n", speed, SpeedName(speed));
    else
        wprintf(L"link speed     : the adapter's driver key cannot be read\n");
    bool savingRead = ShowPowerSaving(agent, connected);
    // The link speed decides, as before; the features are there when the provider is.
    return speedRead && (savingRead || !connected) ? 0 : 1;
}
}  // namespace

int LanCommand(int argc, wchar_t** argv) {
    CLanAgent agent;
    // Initialize reads the configured adapter name first; the vendor's provider may
    // still be missing, which leaves the link speed usable.
    int connected = agent.Initialize();
    if (argc == 0 || (argc == 1 && wcscmp(argv[0], L"show") == 0)) return Show(agent, connected);
    if (argc == 2 && wcscmp(argv[0], L"speed") == 0) {
        unsigned long speed = 0;
        if (!ParseNumber(argv[1], &speed) || speed > 0x7FFFFFFF) return Usage();
        if (agent.SetLanSpeed(static_cast<int>(speed)) == CLanAgent::kFailed) {
            wprintf(L"the adapter refused link speed %lu\n", speed);
            return 1;
        }
        if (agent.ApplySettings() == CLanAgent::kFailed) {
            wprintf(L"the adapter's device was not found: the speed takes effect at its next start\n");
            return 1;
        }
        return Show(agent, connected);
    }
    if (argc == 2 && wcscmp(argv[0], L"level") == 0) {
        unsigned long level = 0;
        if (!ParseNumber(argv[1], &level) || level > 0xFF) return Usage();
        if (!connected) {
            wprintf(L"the adapter vendor's WMI provider is not reachable\n");
            return 1;
        }
        if (agent.SetEblLevel(static_cast<int>(level)) == CLanAgent::kFailed) {
            wprintf(L"the adapter refused power-saving level 0x%02lX\n", level);
            return 1;
        }
        return ShowPowerSaving(agent, connected) ? 0 : 1;
    }
    return Usage();
}
