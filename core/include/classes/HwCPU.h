#pragma once
#include "HwIA.h"

// The processor's idle states: identifies the processor from "CPUCfg.ini", enables C4
// and deep C4 at set-up, and enters a C-state by reading its level register of the
// power-management I/O block.
class ZORADLL_API CHwCPU : public CHwIA {
public:
    CHwCPU();
    CHwCPU(const CHwCPU& other);
    CHwCPU& operator=(const CHwCPU& other);
    ~CHwCPU() override;

    long Setup(int unused);
    // mwait non-zero (the monitor-wait instruction) is refused: it is privileged and
    // cannot run in the caller's process.
    long SetCState(int state, int mwait);

protected:
    long EnableC4State(int enable);
    long EnableDeepC4(int enable);

    unsigned long m_dwPmBase;
    unsigned long m_dwLevelOffset;
    unsigned long m_dwMaxCState;
    unsigned long m_dwMinCState;
    wchar_t m_szCpuName[260];
};
