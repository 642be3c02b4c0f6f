// The driver "\\.\zoraebl": opened while the machine has it installed ([Driver]
// Installed=1); each control code goes to the function its subsystem registered.
//
// Every request the driver receives, a malformed one too, is recorded before its function
// runs, in section [DriverRequests] as "Function<n>=<size>:<bytes in hex>" (the last
// request of each function; larger requests by their size and first bytes), so that the
// layout a caller sent can be checked at the driver's side.
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

void RecordRequest(DWORD function, const void* in, DWORD inSize) {
    std::string text = RequestText(in, inSize, kRecordedBytes);
    UpdateMachine(AttachedMachine(), [&](Machine& machine) -> DWORD {
        Values log;
        GetSection(machine, "DriverRequests", &log);
        log.Set("Function" + std::to_string(function), text);
        PutSection(&machine, "DriverRequests", log);
        return ERROR_SUCCESS;
    });
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
        RecordRequest(function, in, inSize);
        return handler(in, inSize, out, outSize, returned);
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
