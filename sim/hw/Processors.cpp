// The notebook's processor: a dual-core mobile part of family 6, model 23 (signature
// 0x10676, bus ratios 6 to 12 on a 200 MHz bus), with one MSR bank per logical processor
// behind the driver's functions 1 (read) and 2 (write).
//
// Machine file:
//   [Processors]  Count=2
//   [Processor0], [Processor1]: one key per MSR, the 64-bit value
//     PerfStatus=0x...      0x198, read-only: low bits 8-12 current ratio, 0-5 current
//                           voltage identifier, 24-28 lowest ratio; high bits 8-12 highest
//                           ratio, 0-5 its voltage identifier
//     PerfCtl=0x...         0x199: bits 8-12 target ratio, 0-5 target voltage identifier
//     ClockModulation=0x... 0x19A: bit 4 on, bits 1-3 duty in eighths
//     Therm2Ctl=0x...       0x19D: bits 8-12 and 0-5, the lowest operating point
//     PmgCstConfig=0x...    0xE2: C-state configuration
//     <name>Writes=N        how many writes the MSR has taken
//   An MSR whose key is empty or not a number is not implemented: reading or writing
//   it fails as the processor's fault would. Writing read-only or reserved bits fails
//   and changes nothing.
//
// An MSR access acts on the processor the calling thread runs on
// (GetCurrentProcessorNumber, taken modulo Count, so a host with more processors than
// the notebook folds onto its two and a host with one reaches processor 0 only).
//
// The voltage identifiers (1.225 V at ratio 12, 0.95 V at ratio 6, in 12.5 mV steps
// from 0.7125 V) are plausible values for the part, not datasheet figures.
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "Platform.h"
#include "ZoraEblContract.h"

namespace vnb {
namespace {

constexpr unsigned kProcessorCount = 2;

// The section that holds one processor's MSR bank: "Processor0", "Processor1".
std::string ProcessorSection(unsigned processor) { return "Processor" + std::to_string(processor); }

struct MsrSlot {
    DWORD index;
    const char* key;
    unsigned long long writable;  // bits a write may set; 0: read-only
    unsigned long long initial;
};

constexpr unsigned long long kHighRatio = 12, kLowRatio = 6, kHighVid = 0x29, kLowVid = 0x13;

const MsrSlot kMsrs[] = {
    {0x198, "PerfStatus", 0,
     (((kHighRatio << 8) | kHighVid) << 32) | (kLowRatio << 24) | (kHighRatio << 8) | kHighVid},
    {0x199, "PerfCtl", 0x10000FFFFull, (kHighRatio << 8) | kHighVid},
    {0x19A, "ClockModulation", 0x1E, 0},
    {0x19D, "Therm2Ctl", 0x1FFFF, (kLowRatio << 8) | kLowVid},
    {0xE2, "PmgCstConfig", 0xFFFFFFFFull, 0x00000003},
};

const MsrSlot* FindMsr(DWORD index) {
    for (const MsrSlot& slot : kMsrs)
        if (slot.index == index) return &slot;
    return nullptr;
}

void DefaultProcessors(Machine* machine) {
    Values processors;
    processors.SetNumber("Count", kProcessorCount);
    PutSection(machine, "Processors", processors);
    for (unsigned cpu = 0; cpu < kProcessorCount; ++cpu) {
        Values bank;
        for (const MsrSlot& slot : kMsrs) bank.SetNumber(slot.key, slot.initial);
        PutSection(machine, ProcessorSection(cpu), bank);
    }
}
DefaultSection g_defaults(DefaultProcessors);

void FollowTarget(Values* bank, unsigned long long target);

// The performance target and the clock modulation are back at their power-on values
// after a sleep; the status follows the target.
void ProcessorsAfterSleep(Machine* machine) {
    for (unsigned cpu = 0; cpu < kProcessorCount; ++cpu) {
        Values bank;
        if (!GetSection(*machine, ProcessorSection(cpu), &bank)) continue;
        for (const MsrSlot& slot : kMsrs)
            if (slot.index == 0x199 || slot.index == 0x19A) bank.SetNumber(slot.key, slot.initial);
        FollowTarget(&bank, kMsrs[1].initial);
        PutSection(machine, ProcessorSection(cpu), bank);
    }
}
SleepLoss g_sleep(ProcessorsAfterSleep);

unsigned CurrentProcessor(const Machine& machine) {
    Values processors;
    unsigned count = GetSection(machine, "Processors", &processors)
                         ? static_cast<unsigned>(processors.Number("Count", kProcessorCount))
                         : kProcessorCount;
    if (count == 0) count = 1;
    return GetCurrentProcessorNumber() % count;
}

bool ReadValue(const Values& bank, const MsrSlot& slot, unsigned long long* value) {
    std::string text = bank.Get(slot.key);
    char* end = nullptr;
    *value = strtoull(text.c_str(), &end, 0);
    return !text.empty() && end && *end == '\0';
}

// The status follows a new performance target at once: the transition is complete by
// the time the write returns. Ratios beyond the part's range run at the nearest one.
void FollowTarget(Values* bank, unsigned long long target) {
    unsigned long long status = 0;
    if (!ReadValue(*bank, kMsrs[0], &status)) return;
    unsigned long long lowest = (status >> 24) & 0x1F, highest = (status >> 40) & 0x1F;
    unsigned long long ratio = (target >> 8) & 0x1F;
    if (ratio < lowest) ratio = lowest;
    if (ratio > highest) ratio = highest;
    status = (status & ~0xFFFFull) | (ratio << 8) | (target & 0x3F);
    bank->SetNumber(kMsrs[0].key, status);
}

DWORD ReadMsr(Machine& machine, DWORD index, unsigned long long* value) {
    const MsrSlot* slot = FindMsr(index);
    Values bank;
    if (!slot || !GetSection(machine, ProcessorSection(CurrentProcessor(machine)), &bank)) return ERROR_INVALID_PARAMETER;
    return ReadValue(bank, *slot, value) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

DWORD WriteMsr(Machine& machine, DWORD index, unsigned long long value) {
    const MsrSlot* slot = FindMsr(index);
    std::string section = ProcessorSection(CurrentProcessor(machine));
    Values bank;
    unsigned long long old = 0;
    if (!slot || !GetSection(machine, section, &bank) || !ReadValue(bank, *slot, &old)) return ERROR_INVALID_PARAMETER;
    if (slot->writable == 0 || (value & ~slot->writable) != 0) return ERROR_INVALID_PARAMETER;
    bank.SetNumber(slot->key, value);
    std::string writes = std::string(slot->key) + "Writes";
    bank.SetNumber(writes, bank.Number(writes, 0) + 1);
    if (index == 0x199) FollowTarget(&bank, value);
    PutSection(&machine, section, bank);
    return ERROR_SUCCESS;
}

// Runs one request against the machine: operate() acts on it under the machine's mutex.
BOOL Serve(const std::function<DWORD(Machine&)>& operate) {
    DWORD result = ERROR_SUCCESS;
    DWORD file = UpdateMachine(AttachedMachine(), [&](Machine& machine) {
        result = operate(machine);
        return ERROR_SUCCESS;
    });
    if (file != ERROR_SUCCESS) result = file;
    SetLastError(result);
    return result == ERROR_SUCCESS;
}

BOOL MsrReadFunction(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    ZoraEblMsrRecord reply{};
    BOOL ok = Serve([&](Machine& machine) -> DWORD {
        if (!in || inSize < sizeof(ZoraEblMsrIndex)) return ERROR_INVALID_PARAMETER;
        if (!out || outSize < sizeof(ZoraEblMsrRecord)) return ERROR_INSUFFICIENT_BUFFER;
        ZoraEblMsrIndex request;
        memcpy(&request, in, sizeof(request));
        unsigned long long value = 0;
        DWORD error = ReadMsr(machine, request.index, &value);
        reply = ZoraEblMsrRecord{request.index, static_cast<uint32_t>(value >> 32), static_cast<uint32_t>(value)};
        return error;
    });
    if (ok) {
        memcpy(out, &reply, sizeof(reply));
        *returned = sizeof(reply);
    }
    return ok;
}

BOOL MsrWriteFunction(const void* in, DWORD inSize, void*, DWORD, DWORD* returned) {
    return Serve([&](Machine& machine) -> DWORD {
        if (!in || inSize < sizeof(ZoraEblMsrRecord)) return ERROR_INVALID_PARAMETER;
        ZoraEblMsrRecord request;
        memcpy(&request, in, sizeof(request));
        *returned = 0;
        return WriteMsr(machine, request.index, (static_cast<unsigned long long>(request.high) << 32) | request.low);
    });
}
DriverFunctionEntry g_msrRead(kEblMsrRead, MsrReadFunction);
DriverFunctionEntry g_msrWrite(kEblMsrWrite, MsrWriteFunction);

// CPUID of the part: "GenuineIntel", signature 0x10676, two logical processors, SSE3,
// SSSE3, SSE4.1, enhanced speed stepping, TM2, 64-bit and NX.
void SetBrand(int regs[4], int part) {
    static const char brand[49] = "Intel(R) Core(TM)2 Duo CPU     T8300  @ 2.40GHz";
    memcpy(regs, brand + 16 * part, 16);
}

void ProcessorCpuid(int regs[4], int leaf) {
    regs[0] = regs[1] = regs[2] = regs[3] = 0;
    switch (static_cast<unsigned>(leaf)) {
    case 0:
        regs[0] = 0xA;
        memcpy(&regs[1], "Genu", 4);
        memcpy(&regs[3], "ineI", 4);
        memcpy(&regs[2], "ntel", 4);
        break;
    case 1:
        regs[0] = 0x00010676;
        regs[1] = 0x00020800;  // two logical processors, 64-byte CLFLUSH line
        regs[2] = 0x0008E3BD;
        regs[3] = static_cast<int>(0xBFEBFBFF);
        break;
    case 0x80000000:
        regs[0] = static_cast<int>(0x80000008);
        break;
    case 0x80000001:
        regs[2] = 0x00000001;
        regs[3] = 0x20100000;
        break;
    case 0x80000002:
    case 0x80000003:
    case 0x80000004:
        SetBrand(regs, leaf - static_cast<int>(0x80000002));
        break;
    case 0x80000008:
        regs[0] = 0x00003024;  // 36-bit physical, 48-bit linear addresses
        break;
    default:
        break;
    }
}
CpuidEntry g_cpuid(ProcessorCpuid);

}  // namespace
}  // namespace vnb
