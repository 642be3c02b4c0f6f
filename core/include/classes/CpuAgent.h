#pragma once
#include <windows.h>

#include "ZORABase.h"

// Sets the processor's speed as one number, the EBL level: a percentage of full speed
// reached by the bus ratio with its matching core voltage and by on-demand clock
// modulation in eighths, both through MSRs of the driver "\\.\zoraebl". One thread
// uses an instance at a time.
class ZORADLL_API CCpuAgent : public CZORABase {
public:
    CCpuAgent();
    CCpuAgent(const CCpuAgent& other);
    CCpuAgent& operator=(const CCpuAgent& other);
    unsigned long GetVersion() override;
    ~CCpuAgent() override;

    // 1 once the driver is open and the ratio and voltage range read, else 0.
    int Initialize();
    // 0-100, or -1.
    int GetEblLevel();
    // Level 1-100; the level actually set, or -1.
    int SetEblLevel(int level);

private:
    unsigned long GetCBRRange();
    int CalcVID(int ratio);
    int SetCBR(int ratio);
    int GetCBR();
    int SetModulation(int duty);
    int GetModulation();

    int ReadMSR(unsigned long index, unsigned long long* value);
    int WriteMSR(unsigned long index, unsigned long long* value);
    // Writes the MSR once on each of the first eight processors of the process.
    int WriteOnEachProcessor(unsigned long index, unsigned long long value);
    void CloseDriver();

    unsigned long m_nMinCBR;
    unsigned long m_nMaxCBR;
    unsigned long m_nMinVID;
    unsigned long m_nMaxVID;
    unsigned long m_nSpare;
    HANDLE m_hDriver;
};
