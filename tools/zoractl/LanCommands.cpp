// zoractl lan: the wired network adapter through the LAN agent.
//   lan [show]      the link speed index the adapter's driver key holds
//   lan speed N     writes link speed index N and restarts the adapter to take it
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "LanAgent.h"
#include "ZoractlCommands.h"

namespace {
int Usage() {
    wprintf(L"usage: zoractl lan [show]\n"
            L"       zoractl lan speed N      (0 auto, 1..5 the driver's fixed speeds)\n");
    return 1;
}

// 0 auto-negotiation; the fixed speeds in the order of the standardised keyword.
const wchar_t* SpeedName(unsigned long speed) {
    static const wchar_t* const kNames[] = {L"auto-negotiation", L"10 Mbps half duplex", L"10 Mbps full duplex",
                                            L"100 Mbps half duplex", L"100 Mbps full duplex", L"1 Gbps full duplex"};
    return speed < ARRAYSIZE(kNames) ? kNames[speed] : L"the driver's own value";
}

int Show(CLanAgent& agent, int connected) {
    unsigned long speed = agent.GetLanSpeed();
    if (speed == CLanAgent::kFailed) {
        wprintf(L"link speed     : the adapter's driver key cannot be read\n");
        return 1;
    }
    wprintf(L"link speed     : %lu (%ls)\n", speed, SpeedName(speed));
    wprintf(L"power saving   : %ls\n", connected ? L"vendor provider connected" : L"vendor provider not reachable");
    return 0;
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
    return Usage();
}
