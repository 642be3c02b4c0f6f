#pragma once
#include "ZoraExport.h"
#include "IpbProtocol.h"

// Base of the library's exported classes: version, diagnostics, and the client side
// of the request channel to the service.
class ZORADLL_API CZORABase {
public:
    CZORABase() = default;
    CZORABase(const CZORABase&) = default;
    CZORABase& operator=(const CZORABase&) = default;
    virtual unsigned long GetVersion() = 0;
    virtual ~CZORABase();

    // printf-style wide diagnostics to the debugger output, on when key "Debug" of
    // section "ZORACfg" in ZORACfg.ini is 1 or more (read once per process).
    // Messages longer than 1023 characters are cut.
    static void DBGOUT(const wchar_t* format, ...);

    // Sends one request to the service and waits up to timeoutMs for its answer.
    // Returns the task's result, or E_FAIL when the call could not be completed.
    // The header argument is a caller's scratch record: neither read nor written.
    long ServiceCall(unsigned int code, const wchar_t* data, unsigned long param,
                     IpbDataHeader* header, unsigned long timeoutMs);
};
