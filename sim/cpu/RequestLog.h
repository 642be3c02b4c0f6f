#pragma once
// The last request each driver function received, kept in section [EblRequests] of the
// machine file as "Function<n>=<size>:<bytes in hex>", so that the layout a caller
// sent can be checked at the driver's side.
#include <windows.h>

#include "Platform.h"

namespace vnb {

void RecordRequest(Machine* machine, DWORD function, const void* in, DWORD inSize);

// The section that holds one processor's MSR bank: "Processor0", "Processor1".
std::string ProcessorSection(unsigned processor);

}  // namespace vnb
