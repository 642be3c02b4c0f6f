#pragma once
#include "HwIA.h"

// Switches functions of the I/O controller hub (a PCI Express port, the audio
// controller, a SATA port...) by one bit of a hub register; where the register and bit
// are, and how the hub is recognised, comes from "HubraCfg.ini".
class ZORADLL_API CHwHubra : public CHwIA {
public:
    CHwHubra();
    CHwHubra(const CHwHubra& other);
    CHwHubra& operator=(const CHwHubra& other);
    ~CHwHubra() override;

    // identify 0: connect only. 0, 1 (already identified) or E_FAIL.
    long Setup(int identify);
    // disable: 1 off, 0 on (any other value sets the bit).
    long FunctionDisable(const wchar_t* function, int disable);
    // *disabled = 1 when the function is off.
    long GetFunctionDisable(const wchar_t* function, int* disabled);

protected:
    wchar_t m_szHubName[260];
};
