// zoractl cpu: the processor's speed as the EBL level, through the CPU throttling agent.
//   cpu show          level=N   the current level (percent of full speed)
//   cpu set LEVEL     level=N   sets 1-100; N is the level actually set
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "CpuAgent.h"
#include "ZoractlCommands.h"

namespace {
int Usage() {
    wprintf(L"usage: zoractl cpu show | set LEVEL (1-100)\n");
    return 1;
}

int Report(int level) {
    if (level < 0) {
        wprintf(L"the processor level cannot be reached (is the driver \\\\.\\zoraebl loaded?)\n");
        return 1;
    }
    wprintf(L"level=%d\n", level);
    return 0;
}
}  // namespace

int CpuCommand(int argc, wchar_t** argv) {
    bool show = argc == 1 && wcscmp(argv[0], L"show") == 0;
    unsigned long level = 0;
    bool set = argc == 2 && wcscmp(argv[0], L"set") == 0 && ParseNumber(argv[1], &level);
    if (!show && !set) return Usage();
    if (set && (level < 1 || level > 100)) {
        wprintf(L"the level %ls is outside 1-100\n", argv[1]);
        return 1;
    }
    CCpuAgent agent;
    if (!agent.Initialize()) return Report(-1);
    return Report(show ? agent.GetEblLevel() : agent.SetEblLevel(static_cast<int>(level)));
}
