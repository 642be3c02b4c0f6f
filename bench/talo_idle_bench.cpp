// TALO idle in the notification area beside the empty Win32 program with one 1-s timer
// (zora_idle_reference) and the same program carrying the modules TALO has loaded, the
// virtual notebook's excepted (zora_idle_modules), all three on TALO's Wine virtual
// desktop for the same time (60 s unless given; rounds as given): the CPU time each used
// as a share of one core, its working set at the end and what the working set is made
// of. Each round runs TALO on the virtual notebook and then on Wine's own power functions
// (no battery), which is TALO without the virtual notebook's module, machine and answers.
// Then the library calls of one poll, timed in this process on the virtual notebook.
// Goals for TALO: at most 0.1 % of one core, a working set at most twice the empty
// program's.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "MachineSupport.h"
#include "PowerSnapshot.h"
#include "SchemeEx.h"
#include "TaloProcess.h"
#include "ZoraSystemApi.h"
#include "ZoraVnb.h"

using namespace talo_test;

namespace {

// What makes up a working set, by the mappings that hold its pages.
enum Part { kProgram, kLibrary, kVirtualNotebook, kResources, kWineModules, kHostLibraries, kFiles, kAnonymous, kParts };
const char* const kPartNames[kParts] = {
    "the program itself",
    "ZORADLL",
    "the virtual notebook's modules",
    "the resource module",
    "Wine's modules (system DLLs, ntdll.so)",
    "host libraries (X11, fonts, libc)",
    "other mapped files (fonts, code pages)",
    "anonymous (heaps, stacks, Wine's tables)",
};

struct Usage {
    double cpuSeconds = -1;
    double workingSetMb = -1;
    double partsMb[kParts] = {};
    double hostRssMb = -1;
};

std::string ReadAll(const std::wstring& path) {
    std::string text;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    char buffer[16384];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(file);
    return text;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

// The host's /proc folder (Wine's drive Z:) of the Linux process whose command line names
// the program by its whole path (other builds on the machine run programs of the same
// name); empty when there is none (not under Wine).
std::wstring HostProcDir(const std::wstring& program) {
    std::string name;
    for (wchar_t c : program) name += static_cast<char>(c);
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(L"Z:\\proc\\*", &entry);
    if (find == INVALID_HANDLE_VALUE) return L"";
    std::wstring found;
    do {
        if (entry.cFileName[0] < L'0' || entry.cFileName[0] > L'9') continue;
        const std::wstring dir = std::wstring(L"Z:\\proc\\") + entry.cFileName;
        if (Lower(ReadAll(dir + L"\\cmdline")).find(Lower(name)) != std::string::npos) {
            found = dir;
            break;
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return found;
}

// Wine 8 answers GetProcessTimes for another process with the caller's own times; the
// host's /proc has the right ones: utime and stime in clock ticks of 10 ms (over 60 s,
// 0.017 % of one core). -1 when there is no such process (not under Wine).
double HostCpuSeconds(const std::wstring& procDir) {
    if (procDir.empty()) return -1;
    const std::string stat = ReadAll(procDir + L"\\stat");
    const size_t at = stat.rfind(')');
    unsigned long long utime = 0, stime = 0;
    // After the name: the state, fields 4 to 13, then utime and stime.
    if (at == std::string::npos ||
        std::sscanf(stat.c_str() + at + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
                    &stime) != 2)
        return -1;
    return static_cast<double>(utime + stime) / 100.0;
}

double CpuSeconds(HANDLE process, const std::wstring& procDir) {
    const double host = HostCpuSeconds(procDir);
    if (host >= 0) return host;
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
    auto seconds = [](const FILETIME& time) {
        return static_cast<double>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

Part PartOf(const std::string& path, const std::string& program) {
    if (path.empty() || path[0] == '[') return kAnonymous;
    const std::string lower = Lower(path);
    const std::string file = lower.substr(lower.find_last_of('/') + 1);
    if (file == Lower(program)) return kProgram;
    if (file == "zoradll.dll") return kLibrary;
    if (file.rfind("zoravnb", 0) == 0) return kVirtualNotebook;
    if (file.rfind("talores", 0) == 0) return kResources;
    if (lower.find("/wine/") != std::string::npos && lower.find(".nls") == std::string::npos) return kWineModules;
    if (lower.find(".so") != std::string::npos) return kHostLibraries;
    if (lower.find("(deleted)") != std::string::npos || lower.rfind("/dev/", 0) == 0 ||
        lower.rfind("/memfd", 0) == 0)
        return kAnonymous;  // Wine's shared sections
    return kFiles;
}

// The resident pages of the host process by the mapping that holds them (smaps' Rss).
void ReadParts(const std::wstring& procDir, const std::wstring& program, Usage* usage) {
    if (procDir.empty()) return;
    std::string name;
    for (wchar_t c : program) name += static_cast<char>(c);
    name = name.substr(name.find_last_of("\\/") + 1);
    const std::string smaps = ReadAll(procDir + L"\\smaps");
    Part part = kAnonymous;
    double total = 0;
    size_t at = 0;
    while (at < smaps.size()) {
        size_t end = smaps.find('\n', at);
        if (end == std::string::npos) end = smaps.size();
        const std::string line = smaps.substr(at, end - at);
        at = end + 1;
        unsigned long kb = 0;
        if (std::sscanf(line.c_str(), "Rss: %lu kB", &kb) == 1) {
            usage->partsMb[part] += kb / 1024.0;
            total += kb / 1024.0;
            continue;
        }
        // A mapping's header: "start-end perms offset dev inode [path]".
        const size_t dash = line.find('-');
        if (dash == std::string::npos || dash == 0 || line.find(':') < dash ||
            line.find_first_not_of("0123456789abcdef") != dash)
            continue;
        size_t field = 0, pos = 0;
        while (field < 5 && pos != std::string::npos) {
            pos = line.find_first_not_of(' ', line.find(' ', pos));
            ++field;
        }
        part = PartOf(pos == std::string::npos ? std::string() : line.substr(pos), name);
    }
    usage->hostRssMb = total;
}

double WorkingSetMb(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(process, &counters, sizeof(counters))) return -1;
    return static_cast<double>(counters.WorkingSetSize) / (1024.0 * 1024.0);
}

// The modules a process has loaded, as paths, the virtual notebook's left out: what the
// program needs on a notebook, where drivers answer instead.
std::wstring ModulesWithoutTheVirtualNotebook(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    std::wstring list;
    if (process == nullptr) return list;
    HMODULE modules[512];
    DWORD bytes = 0;
    if (EnumProcessModules(process, modules, sizeof(modules), &bytes)) {
        // The first is the program itself.
        for (DWORD i = 1; i < std::min<DWORD>(bytes / sizeof(HMODULE), 512); ++i) {
            wchar_t path[MAX_PATH];
            if (!GetModuleFileNameExW(process, modules[i], path, MAX_PATH)) continue;
            const wchar_t* file = wcsrchr(path, L'\\');
            if (_wcsnicmp(file ? file + 1 : path, L"ZoraVnb", 7) == 0) continue;
            list += std::wstring(path) + L";";
        }
    }
    CloseHandle(process);
    return list;
}

double MedianMs(void (*call)(), int rounds) {
    std::vector<double> samples;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (int i = 0; i < rounds; ++i) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        call();
        QueryPerformanceCounter(&end);
        samples.push_back(1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                          static_cast<double>(frequency.QuadPart));
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

talo::PowerSnapshot g_snapshot;
SYSTEM_BATTERY_STATE g_battery;

// What one of TALO's polls asks of the library, timed in this process on the same
// machine: the median of 50 rounds, in milliseconds.
void PrintPollParts() {
    const struct {
        const char* name;
        void (*call)();
    } parts[] = {
        {"the whole poll (talo::PollPower)", [] { talo::PollPower(g_snapshot, g_battery); }},
        {"  CSchemeEx::GetBatteryReading",
         [] {
             SYSTEM_BATTERY_STATE state;
             unsigned long seconds;
             float fraction;
             CSchemeEx().GetBatteryReading(state, seconds, fraction);
         }},
        {"the four single queries a poll made before:", nullptr},
        {"  CallNtPowerInformation(SystemBatteryState)",
         [] {
             SYSTEM_BATTERY_STATE state = {};
             ZoraSys()->CallNtPowerInformation(SystemBatteryState, nullptr, 0, &state, sizeof(state));
         }},
        {"  CSchemeEx::GetBatteryCount", [] { CSchemeEx().GetBatteryCount(); }},
        {"  CSchemeEx::GetCompleteTime", [] { CSchemeEx().GetCompleteTime(0); }},
        {"  CSchemeEx::GetRemainBatPer", [] { CSchemeEx().GetRemainBatPer(0); }},
        {"the system's own record, not the virtual notebook's:", nullptr},
        {"  Wine's CallNtPowerInformation",
         [] {
             SYSTEM_BATTERY_STATE state = {};
             ::CallNtPowerInformation(SystemBatteryState, nullptr, 0, &state, sizeof(state));
         }},
    };
    std::printf("  one poll's library calls in this process (median of 50):\n");
    talo::PollPower(g_snapshot, g_battery);  // the batteries counted once, as TALO has
    for (const auto& part : parts) {
        if (part.call == nullptr)
            std::printf("    %s\n", part.name);
        else
            std::printf("    %-46s %7.3f ms\n", part.name, MedianMs(part.call, 50));
    }
}

void Print(const char* name, const Usage& usage, double seconds) {
    std::printf("  %-36s CPU %5.0f ms = %6.3f %% of one core   working set %5.1f MB\n", name,
                1000.0 * usage.cpuSeconds, 100.0 * usage.cpuSeconds / seconds, usage.workingSetMb);
}

struct Program {
    const char* title;
    std::wstring path;
    std::wstring modules;  // ZORA_IDLE_MODULES for the reference, or empty
    DesktopProcess process;
    std::wstring procDir;
    HANDLE handle = nullptr;
};

struct Round {
    double taloShare = 0, referenceShare = 0, memoryRatio = 0, likeRatio = 0;
};

// TALO and the two yardsticks side by side for `seconds`; false when one could not start.
bool RunRound(TaloDesktop& desktop, int seconds, Round* result) {
    Program programs[3];
    programs[0].title = "TALO";
    programs[0].path = Talo();
    programs[1].title = "empty program with a 1-s timer";
    programs[1].path = test::ExeDir() + L"\\zora_idle_reference.exe";
    programs[2].title = "the same with TALO's modules";
    programs[2].path = test::ExeDir() + L"\\zora_idle_modules.exe";
    if (!programs[0].process.Start(programs[0].path)) {
        std::printf("  TALO could not be started\n");
        return false;
    }
    HWND hub = nullptr;
    for (int i = 0; i < 600 && hub == nullptr; ++i) desktop.Run([&] { hub = HubOf(programs[0].process.Id(), 100); });
    if (hub == nullptr) {
        std::printf("  TALO's hub did not come up\n");
        return false;
    }
    Sleep(3000);  // start-up is over: the first polls, the icon, the loaded modules
    programs[2].modules = ModulesWithoutTheVirtualNotebook(programs[0].process.Id());
    for (int i = 1; i < 3; ++i) {
        SetEnvironmentVariableW(L"ZORA_IDLE_MODULES", programs[i].modules.empty() ? nullptr : programs[i].modules.c_str());
        const bool started = programs[i].process.Start(programs[i].path);
        SetEnvironmentVariableW(L"ZORA_IDLE_MODULES", nullptr);
        if (!started) {
            std::printf("  the reference program could not be started\n");
            PostMessageW(hub, WM_CLOSE, 0, 0);
            programs[0].process.Wait(20000);
            return false;
        }
    }
    Sleep(2000);
    Usage usage[3];
    double before[3];
    for (int i = 0; i < 3; ++i) {
        programs[i].procDir = HostProcDir(programs[i].path);
        programs[i].handle = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, programs[i].process.Id());
        before[i] = CpuSeconds(programs[i].handle, programs[i].procDir);
    }
    const ULONGLONG start = GetTickCount64();
    Sleep(static_cast<DWORD>(seconds) * 1000);
    const double elapsed = static_cast<double>(GetTickCount64() - start) / 1000.0;
    for (int i = 0; i < 3; ++i) {
        usage[i].cpuSeconds = CpuSeconds(programs[i].handle, programs[i].procDir) - before[i];
        usage[i].workingSetMb = WorkingSetMb(programs[i].handle);
        ReadParts(programs[i].procDir, programs[i].path, &usage[i]);
        CloseHandle(programs[i].handle);
    }
    for (int i = 0; i < 3; ++i) Print(programs[i].title, usage[i], elapsed);
    if (usage[0].hostRssMb >= 0) {
        std::printf("  the working sets by what holds their pages (MB, the host's /proc/<pid>/smaps):\n");
        std::printf("    %-42s %8s %8s %8s\n", "", "TALO", "empty", "modules");
        for (int part = 0; part < kParts; ++part)
            std::printf("    %-42s %8.1f %8.1f %8.1f\n", kPartNames[part], usage[0].partsMb[part], usage[1].partsMb[part],
                        usage[2].partsMb[part]);
        std::printf("    %-42s %8.1f %8.1f %8.1f\n", "resident in all", usage[0].hostRssMb, usage[1].hostRssMb,
                    usage[2].hostRssMb);
    }
    result->taloShare = 100.0 * usage[0].cpuSeconds / elapsed;
    result->referenceShare = 100.0 * usage[1].cpuSeconds / elapsed;
    result->memoryRatio = usage[1].workingSetMb > 0 ? usage[0].workingSetMb / usage[1].workingSetMb : 0;
    result->likeRatio = usage[2].workingSetMb > 0 ? usage[0].workingSetMb / usage[2].workingSetMb : 0;
    std::printf("  TALO's working set: %.2fx the empty program's, %.2fx the one with TALO's modules\n",
                result->memoryRatio, result->likeRatio);
    std::fflush(stdout);
    PostMessageW(hub, WM_CLOSE, 0, 0);
    programs[0].process.Wait(20000);
    // The reference programs have no window to close: they end with their DesktopProcess.
    return true;
}

void PrintSpread(const char* title, const std::vector<Round>& rounds) {
    if (rounds.empty()) return;
    auto spread = [&](double Round::*field) {
        double low = rounds.front().*field, high = low;
        for (const Round& round : rounds) {
            low = std::min(low, round.*field);
            high = std::max(high, round.*field);
        }
        return std::make_pair(low, high);
    };
    const auto talo = spread(&Round::taloShare), reference = spread(&Round::referenceShare),
               memory = spread(&Round::memoryRatio), like = spread(&Round::likeRatio);
    std::printf("  %s, %zu round(s): TALO %.3f..%.3f %% of one core (the empty program %.3f..%.3f %%); working set "
                "%.2f..%.2fx the empty program's, %.2f..%.2fx the one with TALO's modules\n",
                title, rounds.size(), talo.first, talo.second, reference.first, reference.second, memory.first,
                memory.second, like.first, like.second);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    std::printf("TALO idle in the tray for %d s (polling every second) beside the empty program, %d round(s)\n",
                seconds, rounds);
    test::FreshMachine machine;
    if (!machine.Ok() || !VnbSetBatteryRates(machine.Path().c_str(), 0, 0, 0)) {
        std::printf("  the virtual notebook could not be prepared\n");
        return 1;
    }
    // This process stays on the virtual notebook (the library attaches once per process)
    // for the poll's parts below.
    talo::PollPower(g_snapshot, g_battery);
    SetTaloFlag(L"TALOStartFlag", 1);  // the first run's seeding is not idling
    SetTaloFlag(L"DevShowFlag", 0);
    TaloDesktop desktop;
    desktop.Run([] {}, true);
    // On the virtual notebook, and then on Wine's own power functions (no battery): the
    // second is TALO without the virtual notebook's module, machine and answers.
    std::vector<Round> onNotebook, onWine;
    for (int round = 0; round < rounds; ++round) {
        Round result;
        std::printf(" round %d, on the virtual notebook:\n", round + 1);
        if (!RunRound(desktop, seconds, &result)) return 1;
        onNotebook.push_back(result);
        test::FreshMachine::SwitchOff();
        std::printf(" round %d, on Wine's own power functions (no virtual notebook):\n", round + 1);
        const bool ran = RunRound(desktop, seconds, &result);
        test::FreshMachine again;
        if (!ran || !again.Ok() || !VnbSetBatteryRates(again.Path().c_str(), 0, 0, 0)) return 1;
        onWine.push_back(result);
    }
    PrintSpread("on the virtual notebook", onNotebook);
    PrintSpread("without it", onWine);
    std::printf("  goals for TALO: at most 0.100 %% of one core, at most 2.00x the empty program's working set\n");
    PrintPollParts();
    // The CPU time of polls in this process, against the virtual notebook TALO used: the
    // share of one core that a poll a second costs, nearly all of it the virtual notebook
    // answering the battery record (Wine's own answer is the line above).
    const int polls = 200;
    FILETIME created, exited, kernel[2], user[2];
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel[0], &user[0]);
    for (int i = 0; i < polls; ++i) talo::PollPower(g_snapshot, g_battery);
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel[1], &user[1]);
    auto ms = [](const FILETIME& time) {
        return static_cast<double>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e4;
    };
    const double perPoll = (ms(kernel[1]) + ms(user[1]) - ms(kernel[0]) - ms(user[0])) / polls;
    std::printf("  CPU time of one poll (%d polls in this process): %.3f ms, at one poll a second %.3f %% of one "
                "core\n",
                polls, perPoll, perPoll / 10.0);
    RegDeleteTreeW(HKEY_CURRENT_USER, kTaloKey);
    return 0;
}
