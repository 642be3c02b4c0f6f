#include "RequestLog.h"

#include <cstdio>

namespace vnb {
namespace {
// Requests larger than this are recorded by their size and first bytes only.
constexpr DWORD kRecordedBytes = 128;
}  // namespace

void RecordRequest(Machine* machine, DWORD function, const void* in, DWORD inSize) {
    std::string text = std::to_string(inSize) + ":";
    const BYTE* bytes = static_cast<const BYTE*>(in);
    for (DWORD i = 0; bytes && i < inSize && i < kRecordedBytes; ++i) {
        char hex[4];
        snprintf(hex, sizeof(hex), i ? " %02X" : "%02X", bytes[i]);
        text += hex;
    }
    Values log;
    GetSection(*machine, "EblRequests", &log);
    log.Set("Function" + std::to_string(function), text);
    PutSection(machine, "EblRequests", log);
}

std::string ProcessorSection(unsigned processor) { return "Processor" + std::to_string(processor); }

}  // namespace vnb
