#pragma once
// The virtual notebook in tests: a fresh default machine per test case, at one path
// that both architectures' processes and the service share, named in the
// installation key so that the library attaches it.
#include <windows.h>

#include <string>

#include "ZoraVnb.h"

namespace test {

class FreshMachine {
public:
    // Writes the default machine to MachinePath() and names it, with the virtual
    // notebook's module, in the installation key (64-bit view). Construct it before
    // the process's first ZoraSys(): the library attaches once per process.
    FreshMachine();
    FreshMachine(const FreshMachine&) = delete;
    FreshMachine& operator=(const FreshMachine&) = delete;
    // Leaves the registry value: other processes of the test may still be running.
    ~FreshMachine() = default;

    bool Ok() const { return m_ok; }
    const std::wstring& Path() const { return m_path; }

    // <build root>\vnb\tests.machine, <build root> being the folder that holds the
    // i686 and x86_64 builds.
    static std::wstring MachinePath();
    // Deletes both values: processes started afterwards use the real machine.
    static void SwitchOff();

private:
    std::wstring m_path;
    bool m_ok = false;
};

// The node as the machine file holds it now; a zeroed record (empty instanceId)
// when there is no such node.
VnbDevice Device(const wchar_t* instanceId);

// Instance IDs of the default machine the tests refer to.
extern const wchar_t kVnbWireless[];      // Net, started, disableable
extern const wchar_t kVnbEthernet[];      // Net, started, disableable, with a friendly name
extern const wchar_t kVnbBluetooth[];     // Bluetooth radio, started, disableable, no friendly name
extern const wchar_t kVnbCamera[];        // Image, started, disableable
extern const wchar_t kVnbSoftModem[];     // Modem, disabled (problem 22)
extern const wchar_t kVnbBroadband[];     // Modem, not present
extern const wchar_t kVnbWanMiniport[];   // Net, started, not disableable
extern const wchar_t kVnbLegacyDriver[];  // LegacyDriver "zoraebl", started, not disableable
extern const wchar_t kVnbRoot[];

}  // namespace test
