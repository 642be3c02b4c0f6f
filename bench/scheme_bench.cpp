// What TALO's dialogs do on every redraw: reading a whole scheme (every variable, AC and
// DC) through CSchemeEx, and listing ten schemes with their names; beside them one
// GetPrivateProfileIntW on the same scheme file, measured in the same run, so the
// ratios show what opening the files costs. Runs as the Windows version Wine gives the
// program (the bench target runs it as Vista and as XP).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "MachineSupport.h"
#include "SchemeEx.h"
#include "TestSupport.h"
#include "ZORACfg.h"
#include "ZoraPowerVariables.h"

namespace {
constexpr int kSchemes = 10;

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

template <class F>
double MedianMicroseconds(int rounds, F work) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> samples;
    for (int i = 0; i < rounds; ++i) {
        LARGE_INTEGER a, b;
        QueryPerformanceCounter(&a);
        work();
        QueryPerformanceCounter(&b);
        samples.push_back(static_cast<double>(b.QuadPart - a.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart));
    }
    return Median(samples);
}

unsigned char CALLBACK CountScheme(unsigned int, unsigned long, wchar_t* name, unsigned long, wchar_t*, LONG_PTR count) {
    *reinterpret_cast<int*>(count) += name[0] != L'\0';
    return 1;
}
}  // namespace

int main() {
    test::FreshMachine machine;
    if (!machine.Ok()) {
        fprintf(stderr, "bench: no virtual notebook\n");
        return 1;
    }
    wchar_t folder[MAX_PATH] = {};
    CZORAProfile().GetHomePath(folder, MAX_PATH);
    std::wstring file = std::wstring(folder) + L"\\ZORAScheme.ini";
    DeleteFileW(file.c_str());

    CSchemeEx scheme;
    scheme.Initialize();
    scheme.InitCfgFile();
    int listed = 0;
    scheme.EnumPwrSchemes(CountScheme, reinterpret_cast<LONG_PTR>(&listed));
    int active = scheme.GetActivePwrScheme();
    for (int i = listed; i < kSchemes; ++i) scheme.AddPwrScheme((L"Bench " + std::to_wstring(i)).c_str(), nullptr, active);
    auto readAll = [&] {
        for (const wchar_t* variable : zora_vars::kNames)
            for (int ac : {1, 0}) scheme.GetPwrVariable(active, ac, variable);
    };
    readAll();  // the first read stores what was missing

    double whole = MedianMicroseconds(30, readAll);
    double list = MedianMicroseconds(30, [&] {
        int count = 0;
        scheme.EnumPwrSchemes(CountScheme, reinterpret_cast<LONG_PTR>(&count));
    });
    double one = MedianMicroseconds(500, [&] { GetPrivateProfileIntW(L"Scheme 0", L"Wifi", -1, file.c_str()); });

    printf("scheme model as %s\n", test::RunsAsVista() ? "Vista" : "XP");
    printf("one GetPrivateProfileIntW           median %10.1f us\n", one);
    printf("whole scheme (%d variables, AC+DC)  median %10.1f us  ratio %.0f\n", zora_vars::kCount, whole, whole / one);
    printf("list of %d schemes with names       median %10.1f us  ratio %.0f\n", kSchemes, list, list / one);
    printf("a dialog's redraw (both): %.1f ms, %s the 50 ms of a dialog that opens without a visible pause\n",
           (whole + list) / 1000, whole + list < 50000 ? "within" : "beyond");
    return 0;
}
