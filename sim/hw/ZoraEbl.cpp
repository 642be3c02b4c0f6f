// The driver "\\.\zoraebl": opened while the machine has it installed ([Driver]
// Installed=1); each control code goes to the function its subsystem registered.
//
// Every request the driver receives, a malformed one too, is recorded before its function
// runs, in the same update of the machine as the function's own, in section
// [DriverRequests] as "Function<n>=<size>:<bytes in hex>" (the last request of each
// function; larger requests by their size and first bytes), so that the layout a caller
// sent can be checked at the driver's side.
#include <cstdio>
#include <cwchar>

#include "Platform.h"
#include "ZoraEblContract.h"

namespace vnb {
namespace {

void DefaultDriver(Machine* machine) {
    Values driver;
    driver.Set("Installed", "1");
    PutSection(machine, "Driver", driver);
}
DefaultSection g_defaults(DefaultDriver);

constexpr DWORD kRecordedBytes = 256;

// The record of a request goes with the request's own update of the machine (one write),
// or on its own when the function made none.
void RecordRequest(Machine& machine, const std::string& key, const std::string& text) {
    Values log;
    GetSection(machine, "DriverRequests", &log);
    log.Set(key, text);
    PutSection(&machine, "DriverRequests", log);
}

class ZoraEblObject : public DeviceObject {
public:
    BOOL Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) override {
        *returned = 0;
        DWORD function = (code >> 2) & 0xFFF;
        DriverFunction handler = (code >> 16) == kZoraEblDeviceType && (code & 3) == 0 && ((code >> 14) & 3) == 0
                                     ? FindDriverFunction(function)
                                     : nullptr;
        if (!handler) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return FALSE;
        }
        std::string key = "Function" + std::to_string(function), text = RequestText(in, inSize, kRecordedBytes);
        RidingEdit record(AttachedMachine(), [&](Machine& machine) { RecordRequest(machine, key, text); });
        BOOL ok = handler(in, inSize, out, outSize, returned);
        DWORD error = GetLastError();
        record.Flush();
        SetLastError(error);
        return ok;
    }
};

bool OpenZoraEbl(const std::wstring& path, std::unique_ptr<DeviceObject>* object, DWORD* error) {
    if (_wcsicmp(path.c_str(), ZORAEBL_DEVICE_PATH) != 0) return false;
    Machine machine;
    DWORD read = ReadMachine(AttachedMachine(), &machine);
    Values driver;
    if (read != ERROR_SUCCESS) {
        *error = read;
    } else if (!GetSection(machine, "Driver", &driver) || driver.Number("Installed") != 1) {
        *error = ERROR_FILE_NOT_FOUND;  // what opening a driver that is not loaded reports
    } else {
        object->reset(new ZoraEblObject);
    }
    return true;
}
DevicePath g_path(OpenZoraEbl);

}  // namespace
}  // namespace vnb
