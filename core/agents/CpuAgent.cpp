#include "CpuAgent.h"

#include "SharedHandles.h"
#include "WinHandles.h"
#include "ZoraEblContract.h"
#include "ZoraSystemApi.h"

namespace {
constexpr unsigned long kPerfStatus = 0x198;
constexpr unsigned long kPerfControl = 0x199;
constexpr unsigned long kClockModulation = 0x19A;
constexpr unsigned long kLowestOperatingPoint = 0x19D;
constexpr int kMaxProcessors = 8;
constexpr int kUnmodulated = 8;

unsigned long Low(unsigned long long value) { return static_cast<unsigned long>(value & 0xFFFFFFFFull); }
unsigned long High(unsigned long long value) { return static_cast<unsigned long>(value >> 32); }
unsigned long Ratio(unsigned long word) { return (word >> 8) & 0x1F; }

void LogDriverError() { CZORABase::DBGOUT(L"error code of calling DeviceIoControl: 0x%x. \n", GetLastError()); }
void LogNotInitialized() { CZORABase::DBGOUT(L"Please call Initialize() first.\n"); }

// Duty in eighths from a clock-modulation value: bits 1-3 while bit 4 is on.
int DutyOf(unsigned long long value) { return (value & 0x10) ? static_cast<int>((value >> 1) & 7) : kUnmodulated; }
}  // namespace

CCpuAgent::CCpuAgent() : m_nMinCBR(0), m_nMaxCBR(0), m_nMinVID(0), m_nMaxVID(0), m_nSpare(0), m_hDriver(nullptr) {}

CCpuAgent::CCpuAgent(const CCpuAgent& other)
    : CZORABase(other),
      m_nMinCBR(other.m_nMinCBR),
      m_nMaxCBR(other.m_nMaxCBR),
      m_nMinVID(other.m_nMinVID),
      m_nMaxVID(other.m_nMaxVID),
      m_nSpare(other.m_nSpare),
      m_hDriver(other.m_hDriver) {
    shared_handle::Hold(m_hDriver);
}

CCpuAgent& CCpuAgent::operator=(const CCpuAgent& other) {
    if (this == &other) return *this;
    CZORABase::operator=(other);
    shared_handle::Assign(&m_hDriver, other.m_hDriver);
    m_nMinCBR = other.m_nMinCBR;
    m_nMaxCBR = other.m_nMaxCBR;
    m_nMinVID = other.m_nMinVID;
    m_nMaxVID = other.m_nMaxVID;
    m_nSpare = other.m_nSpare;
    return *this;
}

unsigned long CCpuAgent::GetVersion() { return 1000; }

CCpuAgent::~CCpuAgent() { CloseDriver(); }

void CCpuAgent::CloseDriver() {
    shared_handle::Release(m_hDriver);
    m_hDriver = nullptr;
}

int CCpuAgent::Initialize() {
    // A handle already held is closed after the new one is open, so the two never share a value.
    HANDLE driver = ZoraSys()->CreateFileW(ZORAEBL_DEVICE_PATH, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr);
    CloseDriver();
    if (driver == INVALID_HANDLE_VALUE) {
        DBGOUT(L"Open connection with driver failed for %d.\n", GetLastError());
        return 0;
    }
    m_hDriver = driver;
    shared_handle::Hold(m_hDriver);
    unsigned long long status = 0, lowest = 0;
    if (!ReadMSR(kPerfStatus, &status) || !ReadMSR(kLowestOperatingPoint, &lowest)) {
        LogDriverError();
        CloseDriver();
        return 0;
    }
    m_nMinCBR = (Low(status) >> 24) & 0x1F;
    m_nMaxCBR = Ratio(High(status));
    m_nMaxVID = High(status) & 0x3F;
    m_nMinVID = Low(lowest) & 0x3F;
    DBGOUT(L"m_nMinCBR%ld,m_nMaxCBR%ld,m_nMinVID%ld,m_nMaxVID%ld\n", m_nMinCBR, m_nMaxCBR, m_nMinVID, m_nMaxVID);
    // Every level is a fraction of the highest ratio: without one there is nothing to set.
    if (m_nMaxCBR == 0 || m_nMinCBR > m_nMaxCBR) {
        DBGOUT(L"Invalid bus ratio range %ld-%ld.\n", m_nMinCBR, m_nMaxCBR);
        CloseDriver();
        return 0;
    }
    return 1;
}

unsigned long CCpuAgent::GetCBRRange() {
    if (!m_hDriver) return 0xFFFFFFFF;
    return m_nMaxCBR * 65536 + m_nMinCBR;
}

int CCpuAgent::CalcVID(int ratio) {
    if (ratio < static_cast<int>(m_nMinCBR) || ratio > static_cast<int>(m_nMaxCBR)) return 0;
    if (m_nMinCBR == m_nMaxCBR) return static_cast<int>(m_nMinVID);
    double vid = (static_cast<double>(m_nMaxVID) - static_cast<double>(m_nMinVID)) *
                     (ratio - static_cast<int>(m_nMinCBR)) / static_cast<double>(m_nMaxCBR - m_nMinCBR) +
                 static_cast<double>(m_nMinVID);
    return static_cast<int>(vid);
}

int CCpuAgent::GetCBR() {
    if (!m_hDriver) {
        LogNotInitialized();
        return -1;
    }
    unsigned long long status = 0;
    if (!ReadMSR(kPerfStatus, &status)) {
        LogDriverError();
        return -1;
    }
    unsigned long ratio = Ratio(Low(status));
    DBGOUT(L"bCurrentCBR%ld\n", ratio);
    return static_cast<int>(ratio);
}

int CCpuAgent::GetModulation() {
    if (!m_hDriver) {
        LogNotInitialized();
        return -1;
    }
    unsigned long long value = 0;
    if (!ReadMSR(kClockModulation, &value)) {
        LogDriverError();
        return -1;
    }
    int duty = DutyOf(value);
    DBGOUT(L"bDuty%ld\n", duty);
    return duty;
}

int CCpuAgent::SetCBR(int ratio) {
    if (!m_hDriver) {
        LogNotInitialized();
        return -1;
    }
    if (ratio < static_cast<int>(m_nMinCBR) || ratio > static_cast<int>(m_nMaxCBR)) {
        DBGOUT(L"Invalid level %ld.\n", ratio);
        return -1;
    }
    int vid = CalcVID(ratio);
    if (vid == 0) {
        DBGOUT(L"Cannot calucate VID.\n");
        return -1;
    }
    unsigned long long control = 0;
    if (!ReadMSR(kPerfControl, &control)) {
        // Without the old value the other bits of the register are unknown: nothing is written.
        LogDriverError();
        return -1;
    }
    unsigned long low = (Low(control) & ~0x1F3Ful) | (static_cast<unsigned long>(ratio) & 0x1F) << 8 |
                        (static_cast<unsigned long>(vid) & 0x3F);
    DBGOUT(L"Begin to write MSR with CBR:%ld, VID:%ld. \n", ratio, vid);
    if (WriteOnEachProcessor(kPerfControl, (static_cast<unsigned long long>(High(control)) << 32) | low) != 0)
        return -1;
    return ratio;
}

int CCpuAgent::SetModulation(int duty) {
    if (duty < 1 || duty > kUnmodulated) return -1;
    unsigned long long value = duty == kUnmodulated ? 0x2 : static_cast<unsigned long long>((duty | 8) * 2);
    if (WriteOnEachProcessor(kClockModulation, value) != 0) return -1;
    return duty;
}

int CCpuAgent::WriteOnEachProcessor(unsigned long index, unsigned long long value) {
    DWORD_PTR processMask = 0, systemMask = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask)) processMask = 1;
    HANDLE thread = GetCurrentThread();
    DWORD_PTR previous = 0;
    // The caller's thread runs where it ran before, whatever the writes did.
    ScopeExit restore([&] {
        if (previous) SetThreadAffinityMask(thread, previous);
    });
    for (int i = 0; i < kMaxProcessors; ++i) {
        DWORD_PTR bit = static_cast<DWORD_PTR>(1) << i;
        if (!(processMask & bit)) continue;
        DWORD_PTR before = SetThreadAffinityMask(thread, bit);
        if (!before) {
            // Not pinned, the write would land on whichever processor the thread is on.
            LogDriverError();
            return -1;
        }
        if (!previous) previous = before;
        DBGOUT(L"Begin to write MSR with EAX:%ld on core%ld . \n", Low(value), i);
        unsigned long long written = value;
        if (!WriteMSR(index, &written)) {
            LogDriverError();
            return -1;
        }
    }
    return 0;
}

int CCpuAgent::GetEblLevel() {
    if (!m_hDriver) return -1;
    unsigned long long status = 0;
    if (!ReadMSR(kPerfStatus, &status)) {
        LogDriverError();
        return -1;
    }
    unsigned long ratio = Ratio(Low(status));
    DBGOUT(L"bCurrentCBR%ld\n", ratio);
    int duty = GetModulation();
    if (duty == -1 || duty == 0) return -1;
    return static_cast<int>(duty * ratio * 100 / (m_nMaxCBR * kUnmodulated));
}

int CCpuAgent::SetEblLevel(int level) {
    if (level < 1 || level > 100 || !m_hDriver) return -1;
    int ratio = static_cast<int>(m_nMinCBR);
    while (ratio < static_cast<int>(m_nMaxCBR) && ratio * 100 / static_cast<int>(m_nMaxCBR) < level) ++ratio;

    if (GetCBR() != ratio && SetCBR(ratio) == -1) return -1;

    int fullSpeed = static_cast<int>(m_nMaxCBR) * kUnmodulated;
    int duty = 1;
    while (duty < kUnmodulated && ratio * 100 * duty / fullSpeed < level) ++duty;

    if (GetModulation() != duty && SetModulation(duty) == -1) return -1;
    return duty * ratio * 100 / fullSpeed;
}

int CCpuAgent::ReadMSR(unsigned long index, unsigned long long* value) {
    ZoraEblMsrIndex request{static_cast<uint32_t>(index)};
    ZoraEblMsrRecord reply{};
    DWORD returned = 0;
    if (!ZoraSys()->DeviceIoControl(m_hDriver, IOCTL_ZORAEBL_MSR_READ, &request, sizeof(request), &reply,
                                    sizeof(reply), &returned, nullptr))
        return 0;
    *value = (static_cast<unsigned long long>(reply.high) << 32) | reply.low;
    return 1;
}

int CCpuAgent::WriteMSR(unsigned long index, unsigned long long* value) {
    ZoraEblMsrRecord request{static_cast<uint32_t>(index), static_cast<uint32_t>(*value >> 32),
                             static_cast<uint32_t>(*value)};
    DWORD returned = 0;
    return ZoraSys()->DeviceIoControl(m_hDriver, IOCTL_ZORAEBL_MSR_WRITE, &request, sizeof(request), nullptr, 0,
                                      &returned, nullptr)
               ? 1
               : 0;
}
