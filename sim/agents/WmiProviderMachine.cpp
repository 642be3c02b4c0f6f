// Section [DovnetWmi] of every new default machine: the one wired adapter with all its
// power properties (WmiProviderServer.cpp describes the section).
#include "WmiProviderMachine.h"

#include "Platform.h"

namespace vnb {
namespace {
void DefaultDovnetWmi(Machine* machine) {
    Values wmi;
    for (const auto& line : dovnet::kDefaultLines) wmi.Set(line[0], line[1]);
    PutSection(machine, dovnet::kSectionA, wmi);
}
DefaultSection g_defaults(DefaultDovnetWmi);
}  // namespace
}  // namespace vnb
