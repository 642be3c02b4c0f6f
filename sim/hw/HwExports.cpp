// The hub's exports for tools and tests (ZoraVnb.h, block "I/O controller hub").
#include "HwMachine.h"
#include "Platform.h"
#include "ZoraVnb.h"

namespace {
using vnb::ExportResult;
using vnb::Machine;
using vnb::ResolveMachine;
using vnb::hw::HwState;
using vnb::hw::PciFunction;

DWORD LoadHub(const Machine& machine, HwState* state) {
    return state->Load(machine) ? static_cast<DWORD>(ERROR_SUCCESS) : static_cast<DWORD>(ERROR_NOT_READY);
}

// The hub as the machine file holds it now, for a read-only look. The state refers to
// the machine it was loaded from, so the caller keeps both.
DWORD ReadHub(const wchar_t* machineFile, Machine* machine, HwState* state) {
    wchar_t scratch[MAX_PATH];
    DWORD error = vnb::ReadMachine(ResolveMachine(machineFile, scratch), machine);
    return error == ERROR_SUCCESS ? LoadHub(*machine, state) : error;
}
}  // namespace

ZORAVNB_API BOOL WINAPI VnbRenumberPciDevice(const wchar_t* machineFile, DWORD bus, DWORD device, DWORD function,
                                             DWORD object) {
    if (object > 31) return ExportResult(ERROR_INVALID_PARAMETER);
    wchar_t scratch[MAX_PATH];
    return ExportResult(vnb::UpdateMachine(ResolveMachine(machineFile, scratch), [&](Machine& machine) -> DWORD {
        HwState state;
        DWORD error = LoadHub(machine, &state);
        if (error != ERROR_SUCCESS) return error;
        PciFunction* moved = state.FindAddress(static_cast<int>(bus), static_cast<int>(device),
                                               static_cast<int>(function));
        if (!moved) return ERROR_NOT_FOUND;
        PciFunction* holder = state.FindObject(static_cast<int>(object));
        if (holder) holder->object = moved->object;
        moved->object = static_cast<int>(object);
        state.Save(&machine);
        return ERROR_SUCCESS;
    }));
}

ZORAVNB_API BOOL WINAPI VnbGetPciDeviceObject(const wchar_t* machineFile, DWORD bus, DWORD device, DWORD function,
                                              DWORD* object) {
    if (!object) return ExportResult(ERROR_INVALID_PARAMETER);
    Machine machine;
    HwState state;
    DWORD error = ReadHub(machineFile, &machine, &state);
    if (error != ERROR_SUCCESS) return ExportResult(error);
    PciFunction* f = state.FindAddress(static_cast<int>(bus), static_cast<int>(device), static_cast<int>(function));
    if (!f) return ExportResult(ERROR_NOT_FOUND);
    *object = static_cast<DWORD>(f->object);
    return TRUE;
}

ZORAVNB_API BOOL WINAPI VnbPeekHw(const wchar_t* machineFile, DWORD space, DWORD address, void* buffer, DWORD length) {
    if (!buffer || length == 0 || space > 2) return ExportResult(ERROR_INVALID_PARAMETER);
    Machine machine;
    HwState state;
    DWORD error = ReadHub(machineFile, &machine, &state);
    if (error != ERROR_SUCCESS) return ExportResult(error);
    uint8_t* out = static_cast<uint8_t*>(buffer);
    if (space == 2) {
        PciFunction* f = state.FindObject(static_cast<int>(address >> 16));
        DWORD offset = address & 0xFFFF;
        if (!f || offset >= vnb::hw::kConfigBytes || length > vnb::hw::kConfigBytes - offset)
            return ExportResult(ERROR_INVALID_PARAMETER);
        for (DWORD i = 0; i < length; ++i) out[i] = f->config[offset + i];
        return TRUE;
    }
    for (DWORD i = 0; i < length; ++i)
        out[i] = space == 0 ? state.ReadMemory(address + i) : state.ReadIo(static_cast<uint16_t>(address + i), false);
    return TRUE;
}
