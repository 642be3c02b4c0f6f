// Round trip of one service call against a minimal answering process, beside a raw
// two-process event ping-pong measured in the same run. Prints both medians and
// their ratio.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "TestSupport.h"
#include "ZORACfg.h"

namespace {
constexpr int kRounds = 2000;

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

bool MeasurePingPong(std::vector<double>* samples, LARGE_INTEGER frequency) {
    test::NamedEvent ping(L"ping", FALSE), pong(L"pong", FALSE);
    test::Process peer;
    if (!peer.Start(test::ProgramPath(test::OwnArch(), L"zora_peer.exe"),
                    L"pingpong " + ping.Name() + L" " + pong.Name() + L" " + std::to_wstring(kRounds)))
        return false;
    for (int i = 0; i < kRounds; ++i) {
        LARGE_INTEGER a, b;
        QueryPerformanceCounter(&a);
        SetEvent(ping.Get());
        if (WaitForSingleObject(pong.Get(), 10000) != WAIT_OBJECT_0) return false;
        QueryPerformanceCounter(&b);
        samples->push_back(Microseconds(a, b, frequency));
    }
    return peer.Wait() == 0;
}

bool MeasureServiceCall(std::vector<double>* samples, LARGE_INTEGER frequency) {
    test::Answerer answerer;
    if (!answerer.Start(test::OwnArch())) return false;
    CZORACfg client;
    for (int i = 0; i < kRounds; ++i) {
        IpbDataHeader scratch{};
        LARGE_INTEGER a, b;
        QueryPerformanceCounter(&a);
        long result = client.ServiceCall(DeviceStateRequest, L"ROOT\\LEGACY_ZORAEBL\\0000", 2, &scratch, 5000);
        QueryPerformanceCounter(&b);
        if (result == E_FAIL) return false;
        samples->push_back(Microseconds(a, b, frequency));
    }
    return true;
}
}  // namespace

int main() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> raw, call;
    if (!MeasurePingPong(&raw, frequency) || !MeasureServiceCall(&call, frequency)) {
        fprintf(stderr, "bench: a peer did not run\n");
        return 1;
    }
    double rawMedian = Median(raw), callMedian = Median(call);
    printf("raw event ping-pong   median %8.1f us  (%d rounds)\n", rawMedian, kRounds);
    printf("ServiceCall round trip median %8.1f us  (%d calls)\n", callMedian, kRounds);
    printf("ratio ServiceCall / ping-pong: %.2f\n", callMedian / rawMedian);
    return 0;
}
