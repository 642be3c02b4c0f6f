// zoractl gfx: the display driver's power policies through the graphics agent.
//   gfx [show]                    capabilities, EBL level and the three policies
//   gfx level LEVEL               the whole EBL level (decimal or 0x-hexadecimal)
//   gfx saving off|STRENGTH       display power saving (VXPS), strength 1..1048575
//   gfx frequency on|off          dynamic graphics frequency (VXFG)
//   gfx brightness FIELD1 FIELD2  automatic display brightness (VXAB), each 0 or 1
// A change keeps the policies it does not name.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "GravoAgent.h"
#include "ZoractlCommands.h"

namespace {
int Usage() {
    wprintf(L"usage: zoractl gfx [show]\n"
            L"       zoractl gfx level LEVEL\n"
            L"       zoractl gfx saving off|STRENGTH\n"
            L"       zoractl gfx frequency on|off\n"
            L"       zoractl gfx brightness 0|1 0|1\n");
    return 1;
}

const wchar_t* OnOff(unsigned long level, unsigned long bit) { return (level & bit) ? L"on" : L"off"; }

int Show(CGravoAgent& agent) {
    unsigned long caps = agent.CheckSupportStatus();
    unsigned long level = agent.GetEblLevel();
    wprintf(L"capabilities       : 0x%08lX\n", caps);
    if (level == CGravoAgent::kNoLevel) {
        wprintf(L"the power policies cannot be read\n");
        return 1;
    }
    wprintf(L"EBL level          : 0x%08lX\n", level);
    wprintf(L"graphics frequency : %ls\n", OnOff(level, CGravoAgent::kVxfgEnabled));
    wprintf(L"auto brightness    : field 1 %lu, field 2 %lu\n", (level & CGravoAgent::kVxabField1) ? 1ul : 0ul,
            (level & CGravoAgent::kVxabField2) ? 1ul : 0ul);
    wprintf(L"power saving       : %ls, strength %lu\n", OnOff(level, CGravoAgent::kVxpsEnabled),
            level & CGravoAgent::kVxpsStrength);
    return 0;
}

int Apply(CGravoAgent& agent, unsigned long level) {
    if (agent.SetEblLevel(static_cast<int>(level)) == CGravoAgent::kNoLevel) {
        wprintf(L"the display driver refused level 0x%08lX\n", level);
        return 1;
    }
    return Show(agent);
}

bool ParseBit(const wchar_t* text, unsigned long bit, unsigned long* out) {
    if (wcscmp(text, L"1") == 0 || wcscmp(text, L"on") == 0) *out = bit;
    else if (wcscmp(text, L"0") == 0 || wcscmp(text, L"off") == 0) *out = 0;
    else return false;
    return true;
}

// The new level for a change of one policy, or false for bad arguments.
bool Changed(int argc, wchar_t** argv, unsigned long current, unsigned long* level) {
    unsigned long a = 0, b = 0;
    if (wcscmp(argv[0], L"saving") == 0 && argc == 2) {
        if (wcscmp(argv[1], L"off") == 0) {
            *level = current & ~(CGravoAgent::kVxpsEnabled | CGravoAgent::kVxpsStrength);
            return true;
        }
        if (!ParseNumber(argv[1], &a) || a == 0 || a > CGravoAgent::kVxpsStrength) return false;
        *level = (current & ~CGravoAgent::kVxpsStrength) | CGravoAgent::kVxpsEnabled | a;
        return true;
    }
    if (wcscmp(argv[0], L"frequency") == 0 && argc == 2 && ParseBit(argv[1], CGravoAgent::kVxfgEnabled, &a)) {
        *level = (current & ~CGravoAgent::kVxfgEnabled) | a;
        return true;
    }
    if (wcscmp(argv[0], L"brightness") == 0 && argc == 3 && ParseBit(argv[1], CGravoAgent::kVxabField1, &a) &&
        ParseBit(argv[2], CGravoAgent::kVxabField2, &b)) {
        *level = (current & ~(CGravoAgent::kVxabField1 | CGravoAgent::kVxabField2)) | a | b;
        return true;
    }
    return false;
}

int Run(CGravoAgent& agent, int argc, wchar_t** argv) {
    if (argc == 0 || (argc == 1 && wcscmp(argv[0], L"show") == 0)) return Show(agent);
    unsigned long level = 0;
    if (wcscmp(argv[0], L"level") == 0) {
        if (argc != 2 || !ParseNumber(argv[1], &level) || level == CGravoAgent::kNoLevel) return Usage();
        return Apply(agent, level);
    }
    unsigned long current = agent.GetEblLevel();
    if (current == CGravoAgent::kNoLevel) {
        wprintf(L"the power policies cannot be read: nothing changed\n");
        return 1;
    }
    if (!Changed(argc, argv, current, &level)) return Usage();
    return Apply(agent, level);
}
}  // namespace

int GfxCommand(int argc, wchar_t** argv) {
    if (argc > 0 && wcscmp(argv[0], L"show") != 0 && wcscmp(argv[0], L"level") != 0 &&
        wcscmp(argv[0], L"saving") != 0 && wcscmp(argv[0], L"frequency") != 0 && wcscmp(argv[0], L"brightness") != 0)
        return Usage();
    CGravoAgent agent;
    long hr = agent.Setup();
    if (hr != 0) {
        wprintf(L"the graphics control object \"Vidorra.PanelBridge\" is not available (0x%08lX)\n",
                static_cast<unsigned long>(hr));
        return 1;
    }
    return Run(agent, argc, argv);
}
