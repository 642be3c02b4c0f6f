// The notebook's embedded-controller firmware behind the driver's method call
// (function 0): feature registers read with "GRDI" and written with "GWRI" by command
// code, the interface status "_STA", the self test "GDBG" and the battery rows "EBTR".
//
// Machine file:
//   [EmbeddedController]
//     BacklightCommand=0xF8  Backlight=8  BacklightLowest=1  BacklightHighest=8
//     RadioCommand=0xF2      Radio=1      the wireless switch: Wi-Fi and Bluetooth
//                                         together, 0 off, 1 on
//     DisplayCommand=0xF3    DisplayMode=1  1 panel, 2 external monitor, 3 both;
//                                         writing 0 switches to the next mode
//     Status=0xF             the "_STA" result (present, enabled, shown, working)
//     SelfTest=0             the "GDBG" result (0: passed)
//   [BatteryRows]
//     Present=1              0: no battery in the bay, "EBTR" answers no rows
//     Row0 .. Row11          the rows "EBTR" answers, the low byte of each holding data
//
// "GRDI" and "GWRI" answer the register's value; an unknown command code or a value the
// register does not take answers 0xFFFFFFFF and changes nothing. "EBTR" takes the
// number of rows wanted (at most 12), 0 and a selector; the rows do not depend on the
// selector. Default rows: design capacity 4800 mAh (rows 0-1), 57 cycles (2-3), full
// charge 4512 mAh (4-5), 11.1 V design voltage (6-7), 30 degrees (8): plausible
// values, not those of a particular pack.
#include <cstring>
#include <string>

#include "Platform.h"
#include "ZoraEblContract.h"

namespace vnb {
namespace {

constexpr uint32_t kRefused = 0xFFFFFFFF;
const unsigned kDefaultRows[kEblBatteryRowCount] = {0x12, 0xC0, 0x00, 0x39, 0x11, 0xA0, 0x2B, 0x5C, 0x1E, 0, 0, 0};

void DefaultController(Machine* machine) {
    Values ec;
    ec.SetNumber("BacklightCommand", 0xF8);
    ec.SetNumber("Backlight", 8);
    ec.SetNumber("BacklightLowest", 1);
    ec.SetNumber("BacklightHighest", 8);
    ec.SetNumber("RadioCommand", 0xF2);
    ec.SetNumber("Radio", 1);
    ec.SetNumber("DisplayCommand", 0xF3);
    ec.SetNumber("DisplayMode", 1);
    ec.SetNumber("Status", 0xF);
    ec.SetNumber("SelfTest", 0);
    PutSection(machine, "EmbeddedController", ec);
    Values battery;
    battery.SetNumber("Present", 1);
    for (unsigned i = 0; i < kEblBatteryRowCount; ++i) battery.SetNumber("Row" + std::to_string(i), kDefaultRows[i]);
    PutSection(machine, "BatteryRows", battery);
}
DefaultSection g_defaults(DefaultController);

uint32_t Number(const Values& ec, const char* key) { return static_cast<uint32_t>(ec.Number(key, kRefused)); }

// The register a command code addresses, or null.
const char* RegisterOf(const Values& ec, uint32_t code) {
    if (code == Number(ec, "BacklightCommand")) return "Backlight";
    if (code == Number(ec, "RadioCommand")) return "Radio";
    if (code == Number(ec, "DisplayCommand")) return "DisplayMode";
    return nullptr;
}

bool Accepts(const Values& ec, const std::string& reg, uint32_t value) {
    if (reg == "Backlight") return value >= Number(ec, "BacklightLowest") && value <= Number(ec, "BacklightHighest");
    if (reg == "Radio") return value <= 1;
    return value <= 3;
}

uint32_t ReadFeature(const Values& ec, uint32_t code) {
    const char* reg = RegisterOf(ec, code);
    return reg ? Number(ec, reg) : kRefused;
}

uint32_t WriteFeature(Values* ec, uint32_t code, uint32_t value) {
    const char* reg = RegisterOf(*ec, code);
    if (!reg || !Accepts(*ec, reg, value)) return kRefused;
    if (std::string(reg) == "DisplayMode" && value == 0) value = Number(*ec, reg) % 3 + 1;
    ec->SetNumber(reg, value);
    return value;
}

DWORD BatteryRows(const Machine& machine, const ZoraEblRequest& request, void* out, DWORD outSize, DWORD* returned) {
    if (request.argument1 > kEblBatteryRowCount) return ERROR_INVALID_PARAMETER;
    DWORD size = request.argument1 * sizeof(uint32_t);
    if (!out || outSize < size) return ERROR_INSUFFICIENT_BUFFER;
    Values battery;
    if (!GetSection(machine, "BatteryRows", &battery) || battery.Number("Present", 0) == 0) return ERROR_SUCCESS;
    ZoraEblBatteryReply reply{};
    for (unsigned i = 0; i < kEblBatteryRowCount; ++i)
        reply.rows[i] = static_cast<uint32_t>(battery.Number("Row" + std::to_string(i), 0));
    memcpy(out, &reply, size);
    *returned = size;
    return ERROR_SUCCESS;
}

DWORD Evaluate(Machine& machine, const ZoraEblRequest& request, void* out, DWORD outSize, DWORD* returned) {
    if (request.method == kEblMethodBattery) return BatteryRows(machine, request, out, outSize, returned);
    Values ec;
    GetSection(machine, "EmbeddedController", &ec);
    uint32_t result = 0;
    if (request.method == kEblMethodRead)
        result = ReadFeature(ec, request.argument1);
    else if (request.method == kEblMethodWrite)
        result = WriteFeature(&ec, request.argument1, request.argument2);
    else if (request.method == kEblMethodStatus)
        result = Number(ec, "Status");
    else if (request.method == kEblMethodSelfTest)
        result = Number(ec, "SelfTest");
    else
        return ERROR_NOT_SUPPORTED;  // the firmware has no method of that name
    if (!out || outSize < sizeof(ZoraEblMethodReply)) return ERROR_INSUFFICIENT_BUFFER;
    PutSection(&machine, "EmbeddedController", ec);
    ZoraEblMethodReply reply{result};
    memcpy(out, &reply, sizeof(reply));
    *returned = sizeof(reply);
    return ERROR_SUCCESS;
}

BOOL CallMethodFunction(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    DWORD result = ERROR_SUCCESS;
    *returned = 0;
    DWORD file = UpdateMachine(AttachedMachine(), [&](Machine& machine) {
        if (!in || inSize < sizeof(ZoraEblRequest)) {
            result = ERROR_INVALID_PARAMETER;
            return ERROR_SUCCESS;
        }
        ZoraEblRequest request;
        memcpy(&request, in, sizeof(request));
        result = Evaluate(machine, request, out, outSize, returned);
        return ERROR_SUCCESS;
    });
    if (file != ERROR_SUCCESS) result = file;
    if (result != ERROR_SUCCESS) *returned = 0;
    SetLastError(result);
    return result == ERROR_SUCCESS;
}
DriverFunctionEntry g_callMethod(kEblCallMethod, CallMethodFunction);

}  // namespace
}  // namespace vnb
