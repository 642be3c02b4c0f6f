// The configuration manager's view of the device tree. Nodes that are not present
// (phantoms) can be located with CM_LOCATE_DEVNODE_PHANTOM and their properties read,
// but they are not part of the running tree: the walk skips them and they have no
// status, as on Windows.
#include <cwchar>

#include "Entries.h"

namespace vnb {
namespace {

struct ClassName {
    const wchar_t* guid;
    const wchar_t* name;
};

const ClassName kClassNames[] = {
    {L"{4d36e972-e325-11ce-bfc1-08002be10318}", L"Net"},
    {L"{e0cbf06c-cd8b-4647-bb8a-263b43f0f974}", L"Bluetooth"},
    {L"{4d36e96d-e325-11ce-bfc1-08002be10318}", L"Modem"},
    {L"{6bdd1fc6-810f-11d0-bec7-08002be10318}", L"Image"},
    {L"{4d36e965-e325-11ce-bfc1-08002be10318}", L"CDROM"},
    {L"{4d36e96c-e325-11ce-bfc1-08002be10318}", L"MEDIA"},
    {L"{8ecc055d-047f-11d1-a537-0000f8753ed1}", L"LegacyDriver"},
    {L"{4d36e966-e325-11ce-bfc1-08002be10318}", L"Computer"},
    {L"{4d36e97d-e325-11ce-bfc1-08002be10318}", L"System"},
    {L"{72631e54-78a4-11d0-bcf7-00aa00b7b32a}", L"Battery"},
    {L"{36fc9e60-c465-11cf-8056-444553540000}", L"USB"},
    {L"{4d36e96a-e325-11ce-bfc1-08002be10318}", L"hdc"},
};

bool ClassNameOf(const std::wstring& guid, std::wstring* name) {
    for (const ClassName& c : kClassNames)
        if (CompareStringOrdinal(c.guid, -1, guid.c_str(), -1, TRUE) == CSTR_EQUAL) {
            *name = c.name;
            return true;
        }
    return false;
}

// Reads the attached machine; CR_FAILURE when it cannot be read or is malformed.
CONFIGRET Load(Machine* machine) {
    DWORD error = ReadMachine(AttachedMachine(), machine);
    SetLastError(error);
    return error == ERROR_SUCCESS ? CR_SUCCESS : CR_FAILURE;
}

// A node of the running tree (present), or -1.
int TreeNode(const Machine& machine, DEVINST node) {
    int index = IndexOf(node);
    if (index < 0 || index >= static_cast<int>(machine.nodes.size()) || !machine.nodes[index].present) return -1;
    return index;
}

// Any node of the file, present or not, or -1.
int AnyNode(const Machine& machine, DEVINST node) {
    int index = IndexOf(node);
    return index < 0 || index >= static_cast<int>(machine.nodes.size()) ? -1 : index;
}

bool SameId(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The first present child of parent listed after position `after`, or -1.
int NextChild(const Machine& machine, int parent, int after) {
    for (int i = after + 1; i < static_cast<int>(machine.nodes.size()); ++i)
        if (machine.nodes[i].present && SameId(machine.nodes[i].parentId, machine.nodes[parent].instanceId))
            return i;
    return -1;
}

// Looks up a node of the running tree and answers through `answer`.
template <class F>
CONFIGRET WithTreeNode(DEVINST node, ULONG flags, F answer) {
    if (flags) return CR_INVALID_FLAG;
    Machine machine;
    CONFIGRET cr = Load(&machine);
    if (cr != CR_SUCCESS) return cr;
    int index = TreeNode(machine, node);
    if (index < 0) return CR_NO_SUCH_DEVNODE;
    return answer(machine, index);
}
}  // namespace

bool NodeProperty(const Node& node, DWORD property, std::wstring* value) {
    switch (property) {
    case SPDRP_DEVICEDESC: *value = node.description; break;
    case SPDRP_FRIENDLYNAME: *value = node.friendlyName; break;
    case SPDRP_CLASSGUID: *value = node.classGuid; break;
    case SPDRP_CLASS:
        if (!ClassNameOf(node.classGuid, value)) value->clear();
        break;
    default: value->clear(); break;
    }
    return !value->empty();
}

CONFIGRET WINAPI CM_Get_DevNode_Status_Ex(PULONG status, PULONG problem, DEVINST node, ULONG flags,
                                          HMACHINE machineHandle) {
    if (!status || !problem) return CR_INVALID_POINTER;
    if (machineHandle) return CR_MACHINE_UNAVAILABLE;
    return WithTreeNode(node, flags, [&](const Machine& machine, int index) {
        *status = machine.nodes[index].status;
        *problem = machine.nodes[index].problem;
        return CR_SUCCESS;
    });
}

CONFIGRET WINAPI CM_Locate_DevNodeW(PDEVINST node, DEVINSTID_W id, ULONG flags) {
    if (!node) return CR_INVALID_POINTER;
    *node = 0;
    if (flags & ~CM_LOCATE_DEVNODE_BITS) return CR_INVALID_FLAG;
    Machine machine;
    CONFIGRET cr = Load(&machine);
    if (cr != CR_SUCCESS) return cr;
    if (!id || !id[0]) {
        *node = DevInstOf(0);
        return CR_SUCCESS;
    }
    if (wcslen(id) > MAX_DEVICE_ID_LEN) return CR_INVALID_DEVICE_ID;
    int index = machine.Find(id);
    if (index < 0 || (!machine.nodes[index].present && !(flags & CM_LOCATE_DEVNODE_PHANTOM)))
        return CR_NO_SUCH_DEVNODE;
    *node = DevInstOf(index);
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Child(PDEVINST child, DEVINST node, ULONG flags) {
    if (!child) return CR_INVALID_POINTER;
    *child = 0;
    return WithTreeNode(node, flags, [&](const Machine& machine, int index) {
        int first = NextChild(machine, index, index);
        if (first < 0) return CR_NO_SUCH_DEVNODE;
        *child = DevInstOf(first);
        return CR_SUCCESS;
    });
}

CONFIGRET WINAPI CM_Get_Sibling(PDEVINST sibling, DEVINST node, ULONG flags) {
    if (!sibling) return CR_INVALID_POINTER;
    *sibling = 0;
    return WithTreeNode(node, flags, [&](const Machine& machine, int index) {
        if (index == 0) return CR_NO_SUCH_DEVNODE;
        int parent = machine.Find(machine.nodes[index].parentId.c_str());
        int next = NextChild(machine, parent, index);
        if (next < 0) return CR_NO_SUCH_DEVNODE;
        *sibling = DevInstOf(next);
        return CR_SUCCESS;
    });
}

CONFIGRET WINAPI CM_Get_Parent(PDEVINST parent, DEVINST node, ULONG flags) {
    if (!parent) return CR_INVALID_POINTER;
    *parent = 0;
    return WithTreeNode(node, flags, [&](const Machine& machine, int index) {
        if (index == 0) return CR_NO_SUCH_DEVNODE;
        *parent = DevInstOf(machine.Find(machine.nodes[index].parentId.c_str()));
        return CR_SUCCESS;
    });
}

CONFIGRET WINAPI CM_Get_DevNode_Registry_PropertyW(DEVINST node, ULONG property, PULONG type, PVOID buffer,
                                                   PULONG length, ULONG flags) {
    if (!length || (!buffer && *length)) return CR_INVALID_POINTER;
    if (flags) return CR_INVALID_FLAG;
    if (property < CM_DRP_MIN || property > CM_DRP_MAX) return CR_INVALID_PROPERTY;
    Machine machine;
    CONFIGRET cr = Load(&machine);
    if (cr != CR_SUCCESS) return cr;
    int index = AnyNode(machine, node);
    if (index < 0) return CR_NO_SUCH_DEVNODE;
    std::wstring value;
    // The configuration manager's codes are the device registry property codes plus one.
    if (!NodeProperty(machine.nodes[index], property - 1, &value)) {
        *length = 0;
        return CR_NO_SUCH_VALUE;
    }
    ULONG bytes = static_cast<ULONG>((value.size() + 1) * sizeof(wchar_t));
    if (type) *type = REG_SZ;
    if (*length < bytes) {
        *length = bytes;
        return CR_BUFFER_SMALL;
    }
    memcpy(buffer, value.c_str(), bytes);
    *length = bytes;
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Device_ID_Size(PULONG length, DEVINST node, ULONG flags) {
    if (!length) return CR_INVALID_POINTER;
    *length = 0;
    if (flags) return CR_INVALID_FLAG;
    Machine machine;
    CONFIGRET cr = Load(&machine);
    if (cr != CR_SUCCESS) return cr;
    int index = AnyNode(machine, node);
    if (index < 0) return CR_NO_SUCH_DEVNODE;
    *length = static_cast<ULONG>(machine.nodes[index].instanceId.size());
    return CR_SUCCESS;
}

// A buffer too small gets as much of the ID as fits, still terminated, and
// CR_BUFFER_SMALL: a caller that ignores the result never reads past its buffer.
CONFIGRET WINAPI CM_Get_Device_IDW(DEVINST node, PWSTR buffer, ULONG length, ULONG flags) {
    if (!buffer) return CR_INVALID_POINTER;
    if (flags) return CR_INVALID_FLAG;
    Machine machine;
    CONFIGRET cr = Load(&machine);
    if (cr != CR_SUCCESS) return cr;
    int index = AnyNode(machine, node);
    if (index < 0) return CR_NO_SUCH_DEVNODE;
    const std::wstring& id = machine.nodes[index].instanceId;
    if (length < id.size() + 1) {
        if (length) lstrcpynW(buffer, id.c_str(), static_cast<int>(length));
        return CR_BUFFER_SMALL;
    }
    wmemcpy(buffer, id.c_str(), id.size() + 1);
    return CR_SUCCESS;
}

}  // namespace vnb
