#pragma once
#include "ZORABase.h"

struct IZoraPanelBridge;

// The graphics driver's three power policies through its control object
// "Vidorra.PanelBridge": dynamic graphics frequency (VXFG), automatic display
// brightness (VXAB) and display power saving with a strength (VXPS), packed into one
// EBL level:
//   bit 30 VXFG enabled, bit 29 VXAB field 2, bit 28 VXAB field 1,
//   bit 26 VXPS enabled, bits 0-19 VXPS strength; 0xFFFFFFFF is the failure result.
// Use an agent only on the thread that constructed it: COM is initialised there
// (multithreaded) for the agent's life.
class ZORADLL_API CGravoAgent : public CZORABase {
public:
    enum : unsigned long {
        kVxfgEnabled = 0x40000000,
        kVxabField2 = 0x20000000,
        kVxabField1 = 0x10000000,
        kVxpsEnabled = 0x04000000,
        kVxpsStrength = 0x000FFFFF,
        kNoLevel = 0xFFFFFFFF,
    };

    CGravoAgent();
    CGravoAgent(const CGravoAgent&) = delete;
    CGravoAgent& operator=(const CGravoAgent&) = delete;
    unsigned long GetVersion() override;
    ~CGravoAgent() override;

    // 0, or the HRESULT of the step that failed (E_NOTIMPL: no power interface,
    // E_ACCESSDENIED: held by another client, E_FAIL: any other refusal).
    long Setup();
    long Cleanup();
    // The capability bits of the control object; 0 on failure or before Setup.
    unsigned long CheckSupportStatus();
    unsigned long GetEblLevel();
    unsigned long SetEblLevel(int level);

private:
    long ReleaseBridge();

    IZoraPanelBridge* m_pBridge;
    unsigned long m_hPower;
    int m_nComInit;
};

// Placeholders offering the agents' operations, without effect.
class ZORADLL_API CDisplayAgent : public CZORABase {
public:
    CDisplayAgent() = default;
    unsigned long GetVersion() override;
    ~CDisplayAgent() override;

    unsigned long GetEblLevel();      // 0xFFFFFFFF
    unsigned long SetEblLevel(int);   // 0xFFFFFFFF
    unsigned long CheckSupportStatus();  // 0
};

class ZORADLL_API CEblTuner : public CZORABase {
public:
    CEblTuner() = default;
    unsigned long GetVersion() override;
    ~CEblTuner() override;

    unsigned long GetEblLevel();      // 0
    unsigned long SetEblLevel(int);   // 0
    unsigned long CheckSupportStatus();  // 0
};
