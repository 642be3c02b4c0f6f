// Device information sets: heap objects of this module, known by address in a
// process-wide list, so that a handle that is not one of them fails with
// ERROR_INVALID_HANDLE before anything behind it is touched. A set holds instance
// IDs; the nodes themselves are read from the machine file at every call, so a
// switch made by another process is seen at once.
#include <cstddef>
#include <cwchar>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "Entries.h"
#include "Platform.h"

namespace vnb {
namespace {
constexpr DWORD kSetMagic = 0x5642'4E44;  // "VBND"
constexpr DWORD kOpenFlags = DIOD_INHERIT_CLASSDRVS | DIOD_CANCEL_REMOVE;
constexpr DWORD kClassDevsFlags = DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_PROFILE |
                                  DIGCF_DEVICEINTERFACE;

struct Member {
    std::wstring instanceId;
    DEVINST devInst = 0;
    GUID classGuid{};
    bool hasParams = false;
    SP_PROPCHANGE_PARAMS params{};
};

struct DeviceSet {
    DWORD magic = kSetMagic;
    bool hasClass = false;
    GUID classGuid{};
    std::vector<Member> members;
    // A set of device interfaces (DIGCF_DEVICEINTERFACE) of class classGuid: their paths.
    std::vector<std::wstring> interfaces;
};

std::mutex g_setsLock;
std::set<DeviceSet*> g_sets;

// Runs `call` on the live set behind the handle while holding the list lock, so a
// set cannot be destroyed by another thread during the call.
template <class F>
BOOL WithSet(HDEVINFO handle, F call) {
    std::lock_guard<std::mutex> hold(g_setsLock);
    auto* set = static_cast<DeviceSet*>(handle);
    if (!handle || handle == INVALID_HANDLE_VALUE || !g_sets.count(set) || set->magic != kSetMagic) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return call(*set);
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL Succeed() {
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

HDEVINFO NewSet(const GUID* classGuid) {
    auto* set = new (std::nothrow) DeviceSet;
    if (!set) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    if (classGuid) {
        set->hasClass = true;
        set->classGuid = *classGuid;
    }
    std::lock_guard<std::mutex> hold(g_setsLock);
    g_sets.insert(set);
    return set;
}

GUID ClassOf(const Node& node) {
    GUID guid{};
    if (!ParseGuid(node.classGuid, &guid)) guid = GUID{};
    return guid;
}

void Describe(const Member& member, size_t index, PSP_DEVINFO_DATA data) {
    data->ClassGuid = member.classGuid;
    data->DevInst = member.devInst;
    data->Reserved = static_cast<ULONG_PTR>(index + 1);
}

// The member a caller's SP_DEVINFO_DATA names, or null with the last error set.
Member* MemberOf(DeviceSet& set, PSP_DEVINFO_DATA data) {
    if (!data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    size_t slot = static_cast<size_t>(data->Reserved);
    if (slot >= 1 && slot <= set.members.size() && set.members[slot - 1].devInst == data->DevInst)
        return &set.members[slot - 1];
    for (Member& m : set.members)
        if (m.devInst == data->DevInst) return &m;
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

// Adds the node to the set unless it is there already; its position in the set.
size_t AddMember(DeviceSet& set, const Machine& machine, int index) {
    DEVINST devInst = DevInstOf(index);
    for (size_t i = 0; i < set.members.size(); ++i)
        if (set.members[i].devInst == devInst) return i;
    Member member;
    member.instanceId = machine.nodes[index].instanceId;
    member.devInst = devInst;
    member.classGuid = ClassOf(machine.nodes[index]);
    set.members.push_back(member);
    return set.members.size() - 1;
}

bool EnumeratorMatches(const Node& node, PCWSTR enumerator) {
    if (!enumerator || !enumerator[0]) return true;
    size_t length = wcslen(enumerator);
    return node.instanceId.size() > length && node.instanceId[length] == L'\\' &&
           CompareStringOrdinal(node.instanceId.c_str(), static_cast<int>(length), enumerator,
                                static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

bool CopyText(const std::wstring& text, PWSTR out, DWORD outChars, PDWORD required) {
    DWORD chars = static_cast<DWORD>(text.size() + 1);
    if (required) *required = chars;
    if (outChars < chars) return false;
    wmemcpy(out, text.c_str(), chars);
    return true;
}

// Makes the switch the property-change record asks for on the node, as the default
// class installer does; the result is a Win32 error code.
DWORD ApplyStateChange(Node& node, const SP_PROPCHANGE_PARAMS& params) {
    if (!node.present) return ERROR_NO_SUCH_DEVINST;
    switch (params.StateChange) {
    case DICS_ENABLE:
    case DICS_START:
        node.status = (node.status | DN_DRIVER_LOADED | DN_STARTED) & ~DN_HAS_PROBLEM;
        node.problem = 0;
        return ERROR_SUCCESS;
    case DICS_DISABLE:
    case DICS_STOP:
        if (node.problem == CM_PROB_DISABLED && !(node.status & DN_STARTED)) return ERROR_SUCCESS;
        if (!(node.status & DN_DISABLEABLE)) return ERROR_NOT_DISABLEABLE;
        node.status = (node.status | DN_HAS_PROBLEM) & ~(DN_DRIVER_LOADED | DN_STARTED);
        node.problem = CM_PROB_DISABLED;
        return ERROR_SUCCESS;
    case DICS_PROPCHANGE:
        // A restart of a started device leaves it started; a stopped one stays as it is.
        return ERROR_SUCCESS;
    default: return ERROR_INVALID_PARAMETER;
    }
}

BOOL ChangeMemberState(Member& member) {
    if (!member.hasParams) return Fail(ERROR_NO_CLASSINSTALL_PARAMS);
    SP_PROPCHANGE_PARAMS params = member.params;
    const std::wstring id = member.instanceId;
    DWORD error = UpdateMachine(AttachedMachine(), [&](Machine& machine) {
        int index = machine.Find(id.c_str());
        if (index < 0) return static_cast<DWORD>(ERROR_NO_SUCH_DEVINST);
        bool wasStarted = (machine.nodes[index].status & DN_STARTED) != 0;
        DWORD result = ApplyStateChange(machine.nodes[index], params);
        // The device starts: restarted by a property change, or started from stopped.
        if (result == ERROR_SUCCESS && (machine.nodes[index].status & DN_STARTED) &&
            (params.StateChange == DICS_PROPCHANGE || !wasStarted)) {
            Node restarted = machine.nodes[index];
            RestartDevice(&machine, restarted);
        }
        return result;
    });
    return error == ERROR_SUCCESS ? Succeed() : Fail(error);
}

bool ValidPropertyChange(const SP_PROPCHANGE_PARAMS& p) {
    if (p.StateChange < DICS_ENABLE || p.StateChange > DICS_STOP) return false;
    return p.Scope == DICS_FLAG_GLOBAL || p.Scope == DICS_FLAG_CONFIGSPECIFIC || p.Scope == DICS_FLAG_CONFIGGENERAL;
}
}  // namespace

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* classGuid, HWND) {
    HDEVINFO set = NewSet(classGuid);
    if (set != INVALID_HANDLE_VALUE) SetLastError(ERROR_SUCCESS);
    return set;
}

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND, DWORD flags) {
    if (flags & ~kClassDevsFlags) {
        SetLastError(ERROR_INVALID_FLAGS);
        return INVALID_HANDLE_VALUE;
    }
    bool allClasses = (flags & DIGCF_ALLCLASSES) != 0;
    if (!classGuid && !allClasses) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    Machine machine;
    DWORD error = ReadMachine(AttachedMachine(), &machine);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    HDEVINFO handle = NewSet(allClasses ? nullptr : classGuid);
    if (handle == INVALID_HANDLE_VALUE) return handle;
    std::lock_guard<std::mutex> hold(g_setsLock);
    DeviceSet& set = *static_cast<DeviceSet*>(handle);
    // A set of interfaces holds the interfaces a device of the machine exposes in that
    // class (the batteries'); of any other class it is empty.
    if (flags & DIGCF_DEVICEINTERFACE) {
        if (classGuid && !allClasses)
            ListDeviceInterfaces(machine, *classGuid, (flags & DIGCF_PRESENT) != 0, &set.interfaces);
        SetLastError(ERROR_SUCCESS);
        return handle;
    }
    for (size_t i = 0; i < machine.nodes.size(); ++i) {
        const Node& node = machine.nodes[i];
        GUID guid{};
        bool hasClass = ParseGuid(node.classGuid, &guid);
        if (!allClasses && (!hasClass || !IsEqualGUID(guid, *classGuid))) continue;
        if ((flags & DIGCF_PRESENT) && !node.present) continue;
        if (!EnumeratorMatches(node, enumerator)) continue;
        AddMember(set, machine, static_cast<int>(i));
    }
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO handle, DWORD index, PSP_DEVINFO_DATA data) {
    return WithSet(handle, [&](DeviceSet& set) {
        if (!data) return Fail(ERROR_INVALID_PARAMETER);
        if (data->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
        if (index >= set.members.size()) return Fail(ERROR_NO_MORE_ITEMS);
        Describe(set.members[index], index, data);
        return Succeed();
    });
}

BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO handle, PSP_DEVINFO_DATA data, PWSTR id, DWORD idSize,
                                        PDWORD required) {
    return WithSet(handle, [&](DeviceSet& set) {
        Member* member = MemberOf(set, data);
        if (!member) return FALSE;
        if (!id && idSize) return Fail(ERROR_INVALID_USER_BUFFER);
        if (!CopyText(member->instanceId, id, idSize, required)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        return Succeed();
    });
}

BOOL WINAPI SetupDiOpenDeviceInfoW(HDEVINFO handle, PCWSTR instanceId, HWND, DWORD flags, PSP_DEVINFO_DATA data) {
    return WithSet(handle, [&](DeviceSet& set) {
        if (flags & ~kOpenFlags) return Fail(ERROR_INVALID_FLAGS);
        if (!instanceId || !instanceId[0]) return Fail(ERROR_INVALID_DEVINST_NAME);
        if (data && data->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
        Machine machine;
        DWORD error = ReadMachine(AttachedMachine(), &machine);
        if (error != ERROR_SUCCESS) return Fail(error);
        int index = machine.Find(instanceId);
        if (index < 0) return Fail(ERROR_NO_SUCH_DEVINST);
        if (set.hasClass && !IsEqualGUID(set.classGuid, ClassOf(machine.nodes[index])))
            return Fail(ERROR_CLASS_MISMATCH);
        size_t slot = AddMember(set, machine, index);
        if (data) Describe(set.members[slot], slot, data);
        return Succeed();
    });
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD property, PDWORD type,
                                              PBYTE buffer, DWORD size, PDWORD required) {
    return WithSet(handle, [&](DeviceSet& set) {
        Member* member = MemberOf(set, data);
        if (!member) return FALSE;
        if (property >= SPDRP_MAXIMUM_PROPERTY) return Fail(ERROR_INVALID_REG_PROPERTY);
        if (!buffer && size) return Fail(ERROR_INVALID_USER_BUFFER);
        Machine machine;
        DWORD error = ReadMachine(AttachedMachine(), &machine);
        if (error != ERROR_SUCCESS) return Fail(error);
        int index = machine.Find(member->instanceId.c_str());
        if (index < 0) return Fail(ERROR_NO_SUCH_DEVINST);
        std::wstring value;
        if (!NodeProperty(machine.nodes[index], property, &value)) return Fail(ERROR_INVALID_DATA);
        DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
        if (type) *type = REG_SZ;
        if (required) *required = bytes;
        if (size < bytes) return Fail(ERROR_INSUFFICIENT_BUFFER);
        memcpy(buffer, value.c_str(), bytes);
        return Succeed();
    });
}

BOOL WINAPI SetupDiGetDeviceInfoListDetailW(HDEVINFO handle, PSP_DEVINFO_LIST_DETAIL_DATA_W detail) {
    return WithSet(handle, [&](DeviceSet& set) {
        if (!detail) return Fail(ERROR_INVALID_PARAMETER);
        if (detail->cbSize != sizeof(SP_DEVINFO_LIST_DETAIL_DATA_W)) return Fail(ERROR_INVALID_USER_BUFFER);
        detail->ClassGuid = set.hasClass ? set.classGuid : GUID{};
        detail->RemoteMachineHandle = nullptr;
        detail->RemoteMachineName[0] = L'\0';
        return Succeed();
    });
}

BOOL WINAPI SetupDiSetClassInstallParamsW(HDEVINFO handle, PSP_DEVINFO_DATA data, PSP_CLASSINSTALL_HEADER params,
                                          DWORD size) {
    return WithSet(handle, [&](DeviceSet& set) {
        Member* member = MemberOf(set, data);
        if (!member) return FALSE;
        if (!params) {
            if (size) return Fail(ERROR_INVALID_PARAMETER);
            member->hasParams = false;
            return Succeed();
        }
        if (size < sizeof(SP_CLASSINSTALL_HEADER) || params->cbSize != sizeof(SP_CLASSINSTALL_HEADER))
            return Fail(ERROR_INVALID_USER_BUFFER);
        if (params->InstallFunction != DIF_PROPERTYCHANGE || size != sizeof(SP_PROPCHANGE_PARAMS))
            return Fail(ERROR_INVALID_PARAMETER);
        auto* change = reinterpret_cast<const SP_PROPCHANGE_PARAMS*>(params);
        if (!ValidPropertyChange(*change)) return Fail(ERROR_INVALID_PARAMETER);
        member->params = *change;
        member->hasParams = true;
        return Succeed();
    });
}

BOOL WINAPI SetupDiChangeState(HDEVINFO handle, PSP_DEVINFO_DATA data) {
    return WithSet(handle, [&](DeviceSet& set) {
        Member* member = MemberOf(set, data);
        return member ? ChangeMemberState(*member) : FALSE;
    });
}

// Stands for the class installer of every class, which leaves everything to the
// default handling; for a property change that is SetupDiChangeState.
BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO handle, PSP_DEVINFO_DATA data) {
    return WithSet(handle, [&](DeviceSet& set) {
        if (function != DIF_PROPERTYCHANGE) return Fail(ERROR_DI_DO_DEFAULT);
        Member* member = MemberOf(set, data);
        return member ? ChangeMemberState(*member) : FALSE;
    });
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA data, const GUID* interfaceClass,
                                        DWORD index, PSP_DEVICE_INTERFACE_DATA interfaceData) {
    return WithSet(handle, [&](DeviceSet& set) {
        if (!interfaceClass || !interfaceData) return Fail(ERROR_INVALID_PARAMETER);
        if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
        if (data && data->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
        // The interfaces belong to no device of the set: one named by the caller has none.
        if (data || !set.hasClass || !IsEqualGUID(set.classGuid, *interfaceClass) || index >= set.interfaces.size())
            return Fail(ERROR_NO_MORE_ITEMS);
        interfaceData->InterfaceClassGuid = *interfaceClass;
        interfaceData->Flags = SPINT_ACTIVE;
        interfaceData->Reserved = static_cast<ULONG_PTR>(index + 1);
        return Succeed();
    });
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                             PDWORD required, PSP_DEVINFO_DATA data) {
    return WithSet(handle, [&](DeviceSet& set) {
        if (!interfaceData) return Fail(ERROR_INVALID_PARAMETER);
        if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
        size_t slot = static_cast<size_t>(interfaceData->Reserved);
        if (slot < 1 || slot > set.interfaces.size()) return Fail(ERROR_INVALID_PARAMETER);
        // As SetupAPI checks: the record's cbSize is the fixed part's size (not the
        // buffer's), and no buffer goes with a size of 0.
        if (detail && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
            return Fail(ERROR_INVALID_USER_BUFFER);
        if (!detail && detailSize) return Fail(ERROR_INVALID_USER_BUFFER);
        if (data && data->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
        const std::wstring& path = set.interfaces[slot - 1];
        DWORD bytes = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                         (path.size() + 1) * sizeof(wchar_t));
        if (required) *required = bytes;
        if (detailSize < bytes) return Fail(ERROR_INSUFFICIENT_BUFFER);
        wmemcpy(detail->DevicePath, path.c_str(), path.size() + 1);
        if (data) {
            data->ClassGuid = set.classGuid;
            data->DevInst = 0;
            data->Reserved = 0;
        }
        return Succeed();
    });
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
    std::unique_ptr<DeviceSet> doomed;  // freed outside the list lock
    return WithSet(handle, [&](DeviceSet& set) {
        set.magic = 0;
        g_sets.erase(&set);
        doomed.reset(&set);
        return Succeed();
    });
}

}  // namespace vnb
