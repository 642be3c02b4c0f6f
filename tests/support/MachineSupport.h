#pragma once
// The virtual notebook in tests: a fresh default machine per test case, at one path
// that both architectures' processes and the service share, named in the
// installation key so that the library attaches it; its values as the tests read and
// set them; installed files changed for one case; the display driver's control object.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "SchemeEx.h"
#include "TestSupport.h"
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

// A test case on a fresh default machine.
class MachineCase : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_machine.Ok()) << Narrow(m_machine.Path()); }

    FreshMachine m_machine;
};

// A value of the machine's hardware sections as text; "(absent)" when the section or
// the key is not there.
std::wstring MachineValue(const wchar_t* section, const wchar_t* key);
// A value's text as a number (decimal or 0x hexadecimal); 0 for "(absent)".
unsigned long long Number(const std::wstring& text);
// Plugs (1) or unplugs (0) the machine's mains; a refusal fails the case.
void SetAcLine(BYTE acLineStatus);
// Sets a value (creating its section and key); a refusal fails the case.
void SetMachineValue(const wchar_t* section, const wchar_t* key, const std::wstring& value);

// A field of an expected driver request: `width` bytes of `value` (little-endian) at
// `offset`, or with `text` that UTF-16 string there.
struct RequestField {
    size_t offset, width;
    uint64_t value;
    const wchar_t* text = nullptr;
};

// The last request of a driver function as the driver recorded it in [DriverRequests]
// ("Function<n>=<size>:<bytes in hex>").
struct DriverRequest {
    long size = -1;  // -1: the function received no request
    std::vector<uint8_t> bytes;
    // Exactly `size` bytes: the fields as given and every other byte zero, but for the
    // `unsetCount` bytes from `unsetAt` that the sender leaves as they were.
    ::testing::AssertionResult Is(long size, const std::vector<RequestField>& fields, size_t unsetAt = 0,
                                  size_t unsetCount = 0) const;
};
DriverRequest LastRequest(int function);
// A request recorded the same way ("<size>:<bytes in hex>") under another key, such as a
// battery's in [BatteryRequests].
DriverRequest RecordedRequest(const wchar_t* section, const std::wstring& key);

// The node as the machine file holds it now; a zeroed record (empty instanceId)
// when there is no such node.
VnbDevice Device(const wchar_t* instanceId);
// The index "zoractl devices" lists a device under, or -1.
int ListedIndex(const std::string& listing, const wchar_t* instanceId);

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

// Whether HKLM\SYSTEM\CurrentControlSet\Control\Class\<driver> exists: the driver key
// the virtual notebook writes for a USB device plugged in with a description.
bool UsbDriverKeyExists(const std::wstring& driver);

// The calling user's schemes made anew for a case: schemes initialised, the scheme file
// deleted and the index map built again from the system's list. The file's path and the
// user's folder in file and folder; false when the file or the map cannot be made.
bool FreshSchemeFile(CSchemeEx& schemes, std::wstring* file, std::wstring* folder);

// Replaces keys of an installed file of <build>/<arch>/cfg for the life of the object;
// the original file comes back at the end.
class CfgOverride {
public:
    // The test program's own file.
    explicit CfgOverride(const wchar_t* fileName);
    // The file installed beside `program` (<build>/<arch>/bin/<program>): the service's
    // own, which a 32-bit test program does not share.
    CfgOverride(const wchar_t* fileName, const std::wstring& program);
    CfgOverride(const CfgOverride&) = delete;
    CfgOverride& operator=(const CfgOverride&) = delete;
    ~CfgOverride();
    // value null deletes the key.
    void Set(const wchar_t* section, const wchar_t* key, const wchar_t* value);
    int GetInt(const wchar_t* section, const wchar_t* key, int otherwise) const;
    // Dates the file's last write `seconds` back: an installed file that has not changed
    // for a while.
    void BackdateWrite(int seconds);

private:
    std::wstring m_path;
    std::string m_original;
};

// The virtual notebook's in-process COM servers: the display driver's control object
// and the network adapter vendor's WMI provider.
extern const wchar_t kPanelServer[];  // ZoraVnbPanel.dll
extern const wchar_t kWmiServer[];    // ZoraVnbWmi.dll
// The server of this build registered (or unregistered) through its own entry.
HRESULT RegisterServer(const wchar_t* module, bool unregister = false);
// The other architecture's server, by that architecture's regsvr32 (its own view of
// the classes); the regsvr32 exit code, 0 when that build is missing or cannot run.
int RegisterOtherArchServer(const wchar_t* module);
inline HRESULT RegisterPanel(bool unregister = false) { return RegisterServer(kPanelServer, unregister); }
inline int RegisterOtherArchPanel() { return RegisterOtherArchServer(kPanelServer); }

// A fresh machine with the control object registered: the graphics agent's cases.
class GraphicsCase : public MachineCase {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(S_OK, RegisterPanel()); }
    static std::wstring Graphics(const wchar_t* key) { return MachineValue(L"Graphics", key); }
    static void SetGraphics(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> values) {
        for (const auto& [key, value] : values) SetMachineValue(L"Graphics", key, value);
    }
};

}  // namespace test
