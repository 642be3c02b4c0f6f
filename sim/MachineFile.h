#pragma once
// The machine file: the whole state of one virtual notebook, shared by every process
// that attaches it, always up to date on disk. Read whole and written under the global
// mutex: a change of the same length (a register, a counter) is written through in place,
// only the bytes that changed, in one write; any other goes to a temporary file that then
// replaces the machine file. Either way a reader never sees half.
//
// Format (UTF-8 text, one "Key=Value" per line, ';' starts a comment line):
//
//   [Machine]                  exactly once, first
//   Format=1
//
//   [Power]                    exactly once: the system power status
//   ACLineStatus=1             0 battery, 1 mains, 255 unknown
//   BatteryFlag=1              SYSTEM_POWER_STATUS bits: 1 high, 2 low, 4 critical, 8 charging, 128 none
//   BatteryLifePercent=100     0..100, 255 unknown
//   BatteryLifeTime=0xFFFFFFFF seconds left, 0xFFFFFFFF unknown
//   BatteryFullLifeTime=0xFFFFFFFF
//   SessionId=1                session the session-change controls report
//
//   [Device]                   one per node of the device tree, in tree order; the first is the root
//   InstanceId=PCI\VEN_...     unique, compared without regard to case
//   Parent=HTREE\ROOT\0        a node defined above; empty only for the root
//   Class={4d36e972-...}       setup class GUID in brace form; empty for bus nodes without one
//   Description=...            the device description; empty = the property is absent
//   FriendlyName=...           optional; absent or empty = the property is absent
//   Status=0x0180200A          node status bits (DN_*)
//   Problem=0                  problem number (22 = disabled)
//   Present=1                  0 for a node that is installed but not attached (a phantom)
//
// Numbers are decimal or 0x-prefixed hexadecimal. Sections of other names belong to
// the machine's other subsystems and are kept as they are when the file is rewritten.
// Anything else (an unknown key, a line that is not "Key=Value", a missing key, a
// Parent not defined above, a duplicate InstanceId) makes the file malformed: every
// entry then fails with ERROR_FILE_CORRUPT (CR_FAILURE) and the file is left untouched.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "ZoraVnb.h"

namespace vnb {

struct Node {
    std::wstring instanceId;
    std::wstring parentId;
    std::wstring classGuid;
    std::wstring description;
    std::wstring friendlyName;
    DWORD status = 0;
    DWORD problem = 0;
    bool present = true;
};

struct Machine {
    VnbPower power{};
    std::vector<Node> nodes;
    std::string otherSections;  // raw text of the sections this module does not model

    // Index of the node with that instance ID (case-insensitive), or -1.
    int Find(const wchar_t* instanceId) const;
};

// Field limits of VnbDevice, which every node must fit.
constexpr size_t kMaxInstanceId = 199;
constexpr size_t kMaxClassGuid = 38;
constexpr size_t kMaxText = 127;

// ERROR_SUCCESS or ERROR_FILE_CORRUPT.
DWORD ParseMachine(const std::string& text, Machine* machine);
std::string FormatMachine(const Machine& machine);
void DefaultMachine(Machine* machine);

// Whole-file access under the machine mutex; results are Win32 error codes
// (ERROR_TIMEOUT when the mutex cannot be had, ERROR_FILE_NOT_FOUND, ERROR_FILE_CORRUPT).
DWORD ReadMachine(const wchar_t* file, Machine* machine);
// Lets read() look at the machine in place, under the mutex, without a copy of it: what a
// query of one value costs then is the query, not a copy of every section.
DWORD ViewMachine(const wchar_t* file, const std::function<DWORD(const Machine&)>& read);
DWORD ReplaceMachine(const wchar_t* file, const Machine& machine);
// Reads, lets change() modify, and writes back, all under one hold of the mutex.
// A change that returns an error leaves the file as it was.
DWORD UpdateMachine(const wchar_t* file, const std::function<DWORD(Machine&)>& change);
// Writes the default machine unless the file exists.
DWORD CreateMachineIfMissing(const wchar_t* file);

// An edit made together with this thread's next update of the machine file (inside
// UpdateMachine, before its change, under the same hold of the mutex and in the same
// write): the driver's record of a request goes with the request's own change, so a
// request costs one write, not two. What no update took is made on its own by Flush (the
// destructor flushes). Objects nest: the innermost rides first.
class RidingEdit {
public:
    RidingEdit(const wchar_t* file, std::function<void(Machine&)> edit);
    RidingEdit(const RidingEdit&) = delete;
    RidingEdit& operator=(const RidingEdit&) = delete;
    ~RidingEdit();
    DWORD Flush();

    // Used by UpdateMachine.
    std::wstring m_file;
    std::function<void(Machine&)> m_edit;
    RidingEdit* m_previous;
    bool m_done = false;
};

// The time spent in the virtual notebook. Every entry of the system-API table and every
// access to the machine file counts the time it takes in one counter that every process
// shares (an entry inside another counts once), so that a benchmark can tell the
// notebook's share of an operation from the product's own (VnbGetMachineTime).
class MachineClock {
public:
    MachineClock();
    MachineClock(const MachineClock&) = delete;
    MachineClock& operator=(const MachineClock&) = delete;
    ~MachineClock();

private:
    LARGE_INTEGER m_start{};
    bool m_outer;
};
// Microseconds counted so far by every process, and how many entries.
void MachineTime(ULONGLONG* microseconds, ULONGLONG* entries);

// A mutex of the global name space that every process (the service's too) may open,
// created or opened once and kept for the life of the process; null when it cannot be had.
HANDLE KeptGlobalMutex(const wchar_t* name);

// The machine file this process attached (empty before VnbAttach).
const wchar_t* AttachedMachine();
void SetAttachedMachine(const wchar_t* file);

// Brace-form GUID text <-> GUID.
bool ParseGuid(const std::wstring& text, GUID* guid);
std::wstring FormatGuid(const GUID& guid);

}  // namespace vnb
