// GRAVO.exe: the graphics helper the service starts with one decimal argument when a
// scheme is applied: 0 switches the display's power saving off, n > 0 switches it on
// with strength n (at most 1048575). The driver's other power policies keep their
// state. Exit status:
//   0  applied
//   1  usage: no argument, more than one, or not a decimal number in range
//   2  the graphics driver's control object is missing or refused (its Setup result
//      is written to stderr)
//   3  the driver does not offer display power saving
//   4  the driver refused the change (or its current state could not be read)
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "GravoAgent.h"

namespace {
enum GravoExit { kApplied = 0, kUsage = 1, kNoDriver = 2, kNotSupported = 3, kRefused = 4 };
constexpr unsigned long kDisplayPowerSaving = 0x2;  // capability bit of the control object

bool ParseStrength(const wchar_t* text, unsigned long* strength) {
    unsigned long value = 0;
    if (!*text) return false;
    for (const wchar_t* c = text; *c; ++c) {
        if (*c < L'0' || *c > L'9') return false;
        value = value * 10 + (*c - L'0');
        if (value > CGravoAgent::kVxpsStrength) return false;
    }
    *strength = value;
    return true;
}

int Apply(unsigned long strength) {
    CGravoAgent agent;
    long hr = agent.Setup();
    if (hr != 0) {
        fwprintf(stderr, L"GRAVO: the graphics control object is not available (0x%08lX)\n",
                 static_cast<unsigned long>(hr));
        return kNoDriver;
    }
    if (!(agent.CheckSupportStatus() & kDisplayPowerSaving)) {
        fwprintf(stderr, L"GRAVO: the display driver offers no display power saving\n");
        return kNotSupported;
    }
    unsigned long level = agent.GetEblLevel();
    if (level == CGravoAgent::kNoLevel) {
        fwprintf(stderr, L"GRAVO: the display driver's power policies cannot be read\n");
        return kRefused;
    }
    level &= ~(CGravoAgent::kVxpsEnabled | CGravoAgent::kVxpsStrength);
    if (strength > 0) level |= CGravoAgent::kVxpsEnabled | strength;
    if (agent.SetEblLevel(static_cast<int>(level)) == CGravoAgent::kNoLevel) {
        fwprintf(stderr, L"GRAVO: the display driver refused level 0x%08lX\n", level);
        return kRefused;
    }
    wprintf(L"display power saving %ls", strength ? L"on" : L"off");
    if (strength) wprintf(L", strength %lu", strength);
    wprintf(L"\n");
    return kApplied;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    unsigned long strength = 0;
    if (argc != 2 || !ParseStrength(argv[1], &strength)) {
        fwprintf(stderr, L"usage: GRAVO STRENGTH   0 = display power saving off, 1..%lu = on with that strength\n",
                 static_cast<unsigned long>(CGravoAgent::kVxpsStrength));
        return kUsage;
    }
    return Apply(strength);
}
