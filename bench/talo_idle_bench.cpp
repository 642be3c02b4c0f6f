// TALO idle in the notification area on the virtual notebook, beside an empty Win32
// program with one 1-s timer (zora_idle_reference), both on TALO's Wine virtual desktop
// for the same 60 s: the CPU time each used in that time as a share of one core, and its
// working set at the end. TALO polls the power source and the batteries every second.
// Goals: below 0.1 % of one core and 8 MB.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "MachineSupport.h"
#include "SchemeEx.h"
#include "TaloProcess.h"
#include "ZoraSystemApi.h"
#include "ZoraVnb.h"

using namespace talo_test;

namespace {

struct Usage {
    double cpuSeconds = -1;
    double workingSetMb = -1;
};

// Wine 8 answers GetProcessTimes for another process with the caller's own times; the
// host's /proc (Wine's drive Z:) has the right ones: the Linux process whose command
// line names the program, its utime and stime in clock ticks of 10 ms (over 60 s, 0.017 %
// of one core). -1 when there is no such process (not under Wine).
double HostCpuSeconds(const std::wstring& program) {
    auto readAll = [](const std::wstring& path) {
        std::string text;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return text;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) text.append(buffer, got);
        CloseHandle(file);
        return text;
    };
    std::string name;
    for (wchar_t c : program) name += static_cast<char>(c);
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(L"Z:\\proc\\*", &entry);
    if (find == INVALID_HANDLE_VALUE) return -1;
    double seconds = -1;
    do {
        if (entry.cFileName[0] < L'0' || entry.cFileName[0] > L'9') continue;
        const std::wstring dir = std::wstring(L"Z:\\proc\\") + entry.cFileName;
        if (readAll(dir + L"\\cmdline").find(name) == std::string::npos) continue;
        const std::string stat = readAll(dir + L"\\stat");
        const size_t at = stat.rfind(')');
        unsigned long long utime = 0, stime = 0;
        // After the name: the state, fields 4 to 13, then utime and stime.
        if (at != std::string::npos &&
            std::sscanf(stat.c_str() + at + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
                        &stime) == 2) {
            seconds = static_cast<double>(utime + stime) / 100.0;
            break;
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return seconds;
}

double CpuSeconds(HANDLE process, const std::wstring& program) {
    const double host = HostCpuSeconds(program);
    if (host >= 0) return host;
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
    auto seconds = [](const FILETIME& time) {
        return static_cast<double>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

double WorkingSetMb(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(process, &counters, sizeof(counters))) return -1;
    return static_cast<double>(counters.WorkingSetSize) / (1024.0 * 1024.0);
}

// What one of TALO's polls asks of the library, timed in this process on the same
// machine: the median of 50 rounds, in milliseconds.
void PrintPollParts() {
    const struct {
        const char* name;
        void (*call)();
    } parts[] = {
        {"CallNtPowerInformation(SystemBatteryState)",
         [] {
             SYSTEM_BATTERY_STATE state = {};
             ZoraSys()->CallNtPowerInformation(SystemBatteryState, nullptr, 0, &state, sizeof(state));
         }},
        {"CSchemeEx::GetBatteryCount", [] { CSchemeEx().GetBatteryCount(); }},
        {"CSchemeEx::GetCompleteTime", [] { CSchemeEx().GetCompleteTime(0); }},
        {"CSchemeEx::GetRemainBatPer", [] { CSchemeEx().GetRemainBatPer(0); }},
    };
    std::printf("  one poll's library calls in this process (median of 50):\n");
    for (const auto& part : parts) {
        std::vector<double> samples;
        for (int i = 0; i < 50; ++i) {
            LARGE_INTEGER start, end, frequency;
            QueryPerformanceFrequency(&frequency);
            QueryPerformanceCounter(&start);
            part.call();
            QueryPerformanceCounter(&end);
            samples.push_back(1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                              static_cast<double>(frequency.QuadPart));
        }
        std::sort(samples.begin(), samples.end());
        std::printf("    %-44s %7.3f ms\n", part.name, samples[samples.size() / 2]);
    }
}

void Print(const char* name, const Usage& usage, double seconds) {
    std::printf("  %-32s CPU %6.0f ms = %6.3f %% of one core   working set %6.1f MB\n", name,
                1000.0 * usage.cpuSeconds, 100.0 * usage.cpuSeconds / seconds, usage.workingSetMb);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    std::printf("TALO idle in the tray for %d s on the virtual notebook (polling every second)\n", seconds);
    test::FreshMachine machine;
    if (!machine.Ok() || !VnbSetBatteryRates(machine.Path().c_str(), 0, 0, 0)) {
        std::printf("  the virtual notebook could not be prepared\n");
        return 1;
    }
    SetTaloFlag(L"TALOStartFlag", 1);  // the first run's seeding is not idling
    SetTaloFlag(L"DevShowFlag", 0);
    TaloDesktop desktop;
    desktop.Run([] {}, true);
    DesktopProcess talo, reference;
    const std::wstring programs[2] = {Talo(), test::ExeDir() + L"\\zora_idle_reference.exe"};
    if (!talo.Start(programs[0]) || !reference.Start(programs[1])) {
        std::printf("  TALO or the reference program could not be started\n");
        return 1;
    }
    HWND hub = nullptr;
    for (int i = 0; i < 600 && hub == nullptr; ++i) desktop.Run([&] { hub = HubOf(talo.Id(), 100); });
    if (hub == nullptr) {
        std::printf("  TALO's hub did not come up\n");
        return 1;
    }
    Sleep(3000);  // start-up is over: the first polls, the icon, the loaded modules
    HANDLE processes[2] = {OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, talo.Id()),
                           OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, reference.Id())};
    Usage usage[2];
    double before[2] = {CpuSeconds(processes[0], programs[0]), CpuSeconds(processes[1], programs[1])};
    const ULONGLONG start = GetTickCount64();
    Sleep(static_cast<DWORD>(seconds) * 1000);
    const double elapsed = static_cast<double>(GetTickCount64() - start) / 1000.0;
    for (int i = 0; i < 2; ++i) {
        usage[i].cpuSeconds = CpuSeconds(processes[i], programs[i]) - before[i];
        usage[i].workingSetMb = WorkingSetMb(processes[i]);
        CloseHandle(processes[i]);
    }
    Print("TALO", usage[0], elapsed);
    Print("empty program with a 1-s timer", usage[1], elapsed);
    // A ratio needs the yardstick's CPU time above a clock tick.
    const double cpuRatio = usage[1].cpuSeconds > 0 ? usage[0].cpuSeconds / usage[1].cpuSeconds : 0;
    const double memoryRatio = usage[1].workingSetMb > 0 ? usage[0].workingSetMb / usage[1].workingSetMb : 0;
    std::printf("  TALO / empty program: CPU %.1fx, working set %.1fx   (goals for TALO: below 0.1 %% and 8 MB)\n",
                cpuRatio, memoryRatio);
    std::fflush(stdout);
    PostMessageW(hub, WM_CLOSE, 0, 0);
    talo.Wait(20000);
    // The reference program has no window to close: it ends with its DesktopProcess.
    PrintPollParts();
    RegDeleteTreeW(HKEY_CURRENT_USER, kTaloKey);
    return 0;
}
