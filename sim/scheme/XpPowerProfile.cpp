// The power-profile functions of Windows XP (PowrProf.dll), answered with XP's own
// behaviour and keeping the schemes where XP keeps them, in the registry:
//
//   HKCU "Control Panel\PowerCfg"
//       CurrentPowerPolicy   REG_SZ, the active scheme's id in decimal
//       PowerPolicies\<n>    Name, Description (REG_SZ, stored with their terminators);
//                            Policies (REG_BINARY): USER_POWER_POLICY, 80 bytes
//   HKLM "SOFTWARE\Microsoft\Windows\CurrentVersion\Controls Folder\PowerCfg"
//       LastID               REG_SZ, the highest id handed out in decimal (5 when the
//                            six built-in schemes are all there is)
//       PowerPolicies\<n>    Policies (REG_BINARY): MACHINE_POWER_POLICY, 64 bytes
//       ProcessorPolicies\<n> Policies (REG_BINARY): MACHINE_PROCESSOR_POWER_POLICY, 156 bytes
//
// Every key is opened in the 64-bit view (KEY_WOW64_64KEY), so 32-bit and 64-bit
// processes see one store. The records are stored exactly as the structures of
// <powrprof.h> lay them out; a stored record of another size reads as ERROR_INVALID_DATA.
//
// What the system applies (XP's kernel policy, not kept in the registry) and the
// machine's ability to hibernate are the machine's own state, section [PowerProfile] of
// the machine file:
//   HibernateAllowed     1 or 0: what IsPwrHibernateAllowed answers (default 1)
//   AppliedPolicy        the POWER_POLICY the system applies now, 144 bytes in hex
//   AppliedGlobalPolicy  the GLOBAL_POWER_POLICY last given to SetActivePwrScheme, in hex
//
// Behaviour: "documented" marks what Microsoft Learn's page of the function says;
// "observed" what the ReactOS project's conformance test of PowrProf
// (modules/rostests/apitests/powrprof/power.c, run against Windows XP SP2) or Wine's
// notes on the native DLL (dlls/powrprof: unknown entries fail with
// ERROR_FILE_NOT_FOUND) record of the real system; "chosen" what neither settles.
// Where XP crashes or corrupts its store (a null record, an unknown id activated), the
// virtual notebook fails cleanly instead.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "Entries.h"
#include "MachineFile.h"
#include "Platform.h"
#include "WinHandles.h"
#include "XpSchemeDefaults.h"

namespace vnb {
namespace {

constexpr wchar_t kUserRoot[] = L"Control Panel\\PowerCfg";
constexpr wchar_t kMachineRoot[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\PowerCfg";
constexpr wchar_t kSchemes[] = L"PowerPolicies";
constexpr wchar_t kProcessorSchemes[] = L"ProcessorPolicies";
constexpr wchar_t kActive[] = L"CurrentPowerPolicy";
constexpr wchar_t kLastId[] = L"LastID";
constexpr wchar_t kPolicies[] = L"Policies";
constexpr char kSection[] = "PowerProfile";
constexpr REGSAM kView = KEY_WOW64_64KEY;

std::wstring SchemeKey(const wchar_t* root, const wchar_t* folder, UINT id) {
    wchar_t text[16];
    swprintf(text, ARRAYSIZE(text), L"%u", id);
    return std::wstring(root) + L"\\" + folder + L"\\" + text;
}
std::wstring UserScheme(UINT id) { return SchemeKey(kUserRoot, kSchemes, id); }
std::wstring MachineScheme(UINT id) { return SchemeKey(kMachineRoot, kSchemes, id); }
std::wstring ProcessorScheme(UINT id) { return SchemeKey(kMachineRoot, kProcessorSchemes, id); }

// XP serialises its power-profile registry access with a named semaphore; here a
// global mutex, shared by the service and user processes, that a holder ending
// abnormally cannot leave taken.
class StoreLock {
public:
    StoreLock() : m_mutex(KeptGlobalMutex(L"Global\\ZORA_VNB_POWER_PROFILE")) {
        if (!m_mutex) return;
        DWORD wait = WaitForSingleObject(m_mutex, 10000);
        m_held = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    ~StoreLock() {
        if (m_held) ReleaseMutex(m_mutex);
    }
    DWORD Result() const { return m_held ? ERROR_SUCCESS : ERROR_TIMEOUT; }

private:
    HANDLE m_mutex;
    bool m_held = false;
};

BOOLEAN Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}
BOOLEAN Finish(DWORD error) { return error == ERROR_SUCCESS ? TRUE : Fail(error); }

DWORD Open(HKEY root, const std::wstring& path, REGSAM access, UniqueKey* key) {
    return static_cast<DWORD>(RegOpenKeyExW(root, path.c_str(), 0, access | kView, key->put()));
}

DWORD Create(HKEY root, const std::wstring& path, UniqueKey* key) {
    return static_cast<DWORD>(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0,
                                              KEY_QUERY_VALUE | KEY_SET_VALUE | kView, nullptr, key->put(), nullptr));
}

bool Exists(HKEY root, const std::wstring& path) {
    UniqueKey key;
    return Open(root, path, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS;
}

DWORD ReadText(HKEY key, const wchar_t* name, std::wstring* text) {
    DWORD type = 0, bytes = 0;
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes);
    if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
    if (type != REG_SZ) return ERROR_INVALID_DATA;
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes);
    if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
    *text = buffer.data();
    return ERROR_SUCCESS;
}

DWORD WriteText(HKEY key, const wchar_t* name, const std::wstring& text) {
    return static_cast<DWORD>(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

DWORD ReadId(HKEY root, const wchar_t* path, const wchar_t* name, UINT* id) {
    UniqueKey key;
    std::wstring text;
    DWORD error = Open(root, path, KEY_QUERY_VALUE, &key);
    if (error == ERROR_SUCCESS) error = ReadText(key.get(), name, &text);
    if (error != ERROR_SUCCESS) return error;
    wchar_t* end = nullptr;
    unsigned long value = wcstoul(text.c_str(), &end, 10);
    if (text.empty() || *end != L'\0') return ERROR_INVALID_DATA;
    *id = static_cast<UINT>(value);
    return ERROR_SUCCESS;
}

DWORD WriteId(HKEY root, const wchar_t* path, const wchar_t* name, UINT id) {
    UniqueKey key;
    DWORD error = Create(root, path, &key);
    wchar_t text[16];
    swprintf(text, ARRAYSIZE(text), L"%u", id);
    return error == ERROR_SUCCESS ? WriteText(key.get(), name, text) : error;
}

DWORD ReadRecord(HKEY key, void* record, DWORD size) {
    DWORD type = 0, bytes = size;
    LONG rc = RegQueryValueExW(key, kPolicies, nullptr, &type, static_cast<BYTE*>(record), &bytes);
    if (rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && (type != REG_BINARY || bytes != size)))
        return ERROR_INVALID_DATA;
    return static_cast<DWORD>(rc);
}

DWORD ReadRecordAt(HKEY root, const std::wstring& path, void* record, DWORD size) {
    UniqueKey key;
    DWORD error = Open(root, path, KEY_QUERY_VALUE, &key);
    return error == ERROR_SUCCESS ? ReadRecord(key.get(), record, size) : error;
}

DWORD WriteRecord(HKEY key, const void* record, DWORD size) {
    return static_cast<DWORD>(RegSetValueExW(key, kPolicies, 0, REG_BINARY, static_cast<const BYTE*>(record), size));
}

DWORD WriteRecordAt(HKEY root, const std::wstring& path, const void* record, DWORD size) {
    UniqueKey key;
    DWORD error = Create(root, path, &key);
    return error == ERROR_SUCCESS ? WriteRecord(key.get(), record, size) : error;
}

struct StoredScheme {
    UINT id = 0;
    std::wstring name, description;
    POWER_POLICY policy{};
};

// A missing text reads as empty (chosen).
DWORD ReadOptionalText(HKEY key, const wchar_t* name, std::wstring* text) {
    DWORD error = ReadText(key, name, text);
    if (error == ERROR_FILE_NOT_FOUND) text->clear();
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

// A scheme is there when its user key is: that is what XP enumerates (and what the
// library looks for). Both its records must be there too.
DWORD ReadScheme(UINT id, StoredScheme* scheme) {
    UniqueKey user;
    DWORD error = Open(HKEY_CURRENT_USER, UserScheme(id), KEY_QUERY_VALUE, &user);
    if (error != ERROR_SUCCESS) return error;
    scheme->id = id;
    error = ReadOptionalText(user.get(), L"Name", &scheme->name);
    if (error == ERROR_SUCCESS) error = ReadOptionalText(user.get(), L"Description", &scheme->description);
    if (error == ERROR_SUCCESS) error = ReadRecord(user.get(), &scheme->policy.user, sizeof(USER_POWER_POLICY));
    if (error == ERROR_SUCCESS)
        error = ReadRecordAt(HKEY_LOCAL_MACHINE, MachineScheme(id), &scheme->policy.mach, sizeof(MACHINE_POWER_POLICY));
    return error;
}

DWORD WriteScheme(UINT id, const std::wstring& name, const std::wstring& description, const POWER_POLICY& policy) {
    UniqueKey user;
    DWORD error = Create(HKEY_CURRENT_USER, UserScheme(id), &user);
    if (error == ERROR_SUCCESS) error = WriteText(user.get(), L"Name", name);
    if (error == ERROR_SUCCESS) error = WriteText(user.get(), L"Description", description);
    if (error == ERROR_SUCCESS) error = WriteRecord(user.get(), &policy.user, sizeof(USER_POWER_POLICY));
    if (error == ERROR_SUCCESS)
        error = WriteRecordAt(HKEY_LOCAL_MACHINE, MachineScheme(id), &policy.mach, sizeof(MACHINE_POWER_POLICY));
    return error;
}

DWORD DeleteKey(HKEY root, const std::wstring& path) {
    LONG rc = RegDeleteKeyExW(root, path.c_str(), kView, 0);
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(rc);
}

std::string Hex(const void* record, size_t size) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        BYTE b = static_cast<const BYTE*>(record)[i];
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

// XP's ValidatePowerPolicies as observed: a revision other than 1 is
// ERROR_REVISION_MISMATCH; an action or sleep state out of range ERROR_INVALID_DATA.
bool ValidState(SYSTEM_POWER_STATE state) { return state >= PowerSystemWorking && state <= PowerSystemShutdown; }
bool ValidAction(const POWER_ACTION_POLICY& policy) {
    return policy.Action >= PowerActionNone && policy.Action <= PowerActionWarmEject;
}

DWORD Validate(const GLOBAL_POWER_POLICY* global, const POWER_POLICY* policy) {
    if ((global && (global->user.Revision != 1 || global->mach.Revision != 1)) ||
        (policy && (policy->user.Revision != 1 || policy->mach.Revision != 1)))
        return ERROR_REVISION_MISMATCH;
    if (global) {
        const GLOBAL_USER_POWER_POLICY& u = global->user;
        if (!ValidState(global->mach.LidOpenWakeAc) || !ValidState(global->mach.LidOpenWakeDc) ||
            !ValidAction(u.PowerButtonAc) || !ValidAction(u.PowerButtonDc) || !ValidAction(u.SleepButtonAc) ||
            !ValidAction(u.SleepButtonDc) || !ValidAction(u.LidCloseAc) || !ValidAction(u.LidCloseDc))
            return ERROR_INVALID_DATA;
        for (const SYSTEM_POWER_LEVEL& level : u.DischargePolicy)
            if (level.Enable && !ValidAction(level.PowerPolicy)) return ERROR_INVALID_DATA;
    }
    if (policy) {
        const USER_POWER_POLICY& u = policy->user;
        const MACHINE_POWER_POLICY& m = policy->mach;
        if (!ValidAction(u.IdleAc) || !ValidAction(u.IdleDc) || !ValidState(u.MaxSleepAc) ||
            !ValidState(u.MaxSleepDc) || !ValidState(m.MinSleepAc) || !ValidState(m.MinSleepDc) ||
            !ValidState(m.ReducedLatencySleepAc) || !ValidState(m.ReducedLatencySleepDc) ||
            !ValidAction(m.OverThrottledAc) || !ValidAction(m.OverThrottledDc))
            return ERROR_INVALID_DATA;
    }
    return ERROR_SUCCESS;
}

// The system applies the policy (and the global policy, when one is given).
DWORD Apply(const POWER_POLICY& policy, const GLOBAL_POWER_POLICY* global) {
    return UpdateMachine(AttachedMachine(), [&](Machine& machine) {
        Values values;
        GetSection(machine, kSection, &values);
        values.Set("AppliedPolicy", Hex(&policy, sizeof(policy)));
        if (global) values.Set("AppliedGlobalPolicy", Hex(global, sizeof(*global)));
        PutSection(&machine, kSection, values);
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
}

POWER_POLICY BuiltInPolicy(UINT id) {
    const XpBuiltInScheme& scheme = XpBuiltInSchemeAt(id);
    POWER_POLICY policy;
    policy.user = scheme.user;
    policy.mach = scheme.machine;
    return policy;
}

// A new machine: hibernation allowed, and the fresh notebook's active scheme applied.
void DefaultPowerProfile(Machine* machine) {
    Values values;
    values.Set("HibernateAllowed", "1");
    POWER_POLICY active = BuiltInPolicy(kXpFreshActiveScheme);
    values.Set("AppliedPolicy", Hex(&active, sizeof(active)));
    PutSection(machine, kSection, values);
}
DefaultSection g_defaults(DefaultPowerProfile);

DWORD DeleteTree(HKEY root, const wchar_t* path, const wchar_t* folder) {
    UniqueKey key;
    DWORD error = Open(root, path, KEY_ALL_ACCESS, &key);
    if (error == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) return error;
    LONG rc = RegDeleteTreeW(key.get(), folder);
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(rc);
}

// A fresh XP installation's keys: the six built-in schemes and nothing else, LastID 5,
// and Portable/Laptop active, as XP's setup makes it on a notebook.
void ResetPowerProfile() {
    StoreLock lock;
    if (lock.Result() != ERROR_SUCCESS) return;
    DeleteTree(HKEY_CURRENT_USER, kUserRoot, kSchemes);
    DeleteTree(HKEY_LOCAL_MACHINE, kMachineRoot, kSchemes);
    DeleteTree(HKEY_LOCAL_MACHINE, kMachineRoot, kProcessorSchemes);
    for (UINT id = 0; id < kXpBuiltInSchemeCount; ++id) {
        const XpBuiltInScheme& scheme = XpBuiltInSchemeAt(id);
        WriteScheme(id, scheme.name, scheme.description, BuiltInPolicy(id));
        WriteRecordAt(HKEY_LOCAL_MACHINE, ProcessorScheme(id), &scheme.processor, sizeof(scheme.processor));
    }
    WriteId(HKEY_LOCAL_MACHINE, kMachineRoot, kLastId, kXpBuiltInSchemeCount - 1);
    WriteId(HKEY_CURRENT_USER, kUserRoot, kActive, kXpFreshActiveScheme);
}
MachineReset g_reset(ResetPowerProfile);

}  // namespace

// Documented: FALSE when the scheme does not exist; observed: ERROR_FILE_NOT_FOUND then.
// Chosen: a null record is ERROR_INVALID_PARAMETER (XP SP2 crashes).
BOOLEAN WINAPI ReadPwrScheme(UINT id, PPOWER_POLICY powerPolicy) {
    if (!powerPolicy) return Fail(ERROR_INVALID_PARAMETER);
    StoreLock lock;
    if (lock.Result() != ERROR_SUCCESS) return Fail(lock.Result());
    StoredScheme scheme;
    DWORD error = ReadScheme(id, &scheme);
    if (error == ERROR_SUCCESS) *powerPolicy = scheme.policy;
    return Finish(error);
}

// Documented: an id that exists is replaced, any other creates a new scheme; the
// description is optional; the system policy is not changed. NEWSCHEME ((UINT)-1, the
// header's value) takes the id after LastID and advances LastID, returning the id.
// Chosen: a null name or description keeps the stored text (an empty one for a new
// scheme); a null record or id is ERROR_INVALID_PARAMETER; a NEWSCHEME id that is
// somehow taken is passed over.
BOOLEAN WINAPI WritePwrScheme(PUINT id, LPWSTR schemeName, LPWSTR description, PPOWER_POLICY scheme) {
    if (!id || !scheme) return Fail(ERROR_INVALID_PARAMETER);
    StoreLock lock;
    if (lock.Result() != ERROR_SUCCESS) return Fail(lock.Result());
    UINT target = *id;
    if (target == NEWSCHEME) {
        UINT last = kXpBuiltInSchemeCount - 1;
        ReadId(HKEY_LOCAL_MACHINE, kMachineRoot, kLastId, &last);
        target = last + 1;
        while (target != NEWSCHEME && Exists(HKEY_CURRENT_USER, UserScheme(target))) ++target;
        if (target == NEWSCHEME) return Fail(ERROR_NO_MORE_ITEMS);
        DWORD error = WriteId(HKEY_LOCAL_MACHINE, kMachineRoot, kLastId, target);
        if (error != ERROR_SUCCESS) return Fail(error);
    }
    std::wstring name = schemeName ? schemeName : L"", text = description ? description : L"";
    UniqueKey stored;
    if ((!schemeName || !description) &&
        Open(HKEY_CURRENT_USER, UserScheme(target), KEY_QUERY_VALUE, &stored) == ERROR_SUCCESS) {
        if (!schemeName) ReadText(stored.get(), L"Name", &name);
        if (!description) ReadText(stored.get(), L"Description", &text);
    }
    DWORD error = WriteScheme(target, name, text, *scheme);
    if (error == ERROR_SUCCESS) *id = target;
    return Finish(error);
}

// Documented: the processor policy of the scheme. Chosen: an unknown scheme is
// ERROR_FILE_NOT_FOUND; a scheme written without one reads the processor policy of
// scheme 0, as the open reimplementations of PowrProf do.
BOOLEAN WINAPI ReadProcessorPwrScheme(UINT id, PMACHINE_PROCESSOR_POWER_POLICY machineProcessorPowerPolicy) {
    if (!machineProcessorPowerPolicy) return Fail(ERROR_INVALID_PARAMETER);
    StoreLock lock;
    if (lock.Result() != ERROR_SUCCESS) return Fail(lock.Result());
    if (!Exists(HKEY_CURRENT_USER, UserScheme(id))) return Fail(ERROR_FILE_NOT_FOUND);
    MACHINE_PROCESSOR_POWER_POLICY policy;
    DWORD error = ReadRecordAt(HKEY_LOCAL_MACHINE, ProcessorScheme(id), &policy, sizeof(policy));
    if (error == ERROR_FILE_NOT_FOUND && id != 0)
        error = ReadRecordAt(HKEY_LOCAL_MACHINE, ProcessorScheme(0), &policy, sizeof(policy));
    if (error == ERROR_SUCCESS) *machineProcessorPowerPolicy = policy;
    return Finish(error);
}

// Documented: writes the scheme's processor policy; the system policy is not changed.
// Chosen: only for a scheme that exists (ERROR_FILE_NOT_FOUND otherwise).
BOOLEAN WINAPI WriteProcessorPwrScheme(UINT id, PMACHINE_PROCESSOR_POWER_POLICY machineProcessorPowerPolicy) {
    if (!machineProcessorPowerPolicy) return Fail(ERROR_INVALID_PARAMETER);
    StoreLock lock;
    if (lock.Result() != ERROR_SUCCESS) return Fail(lock.Result());
    if (!Exists(HKEY_CURRENT_USER, UserScheme(id))) return Fail(ERROR_FILE_NOT_FOUND);
    return Finish(WriteRecordAt(HKEY_LOCAL_MACHINE, ProcessorScheme(id), machineProcessorPowerPolicy,
                                sizeof(*machineProcessorPowerPolicy)));
}

// Documented: the callback gets each scheme's id, name and description with their sizes
// in bytes (here with the terminator, as the stored REG_SZ data holds it) and its
// policy; it returns FALSE to stop. The order is the registry's order of the user keys,
// by name as text ("10" before "2"), as XP enumerates them. Observed: a null callback
// is ERROR_INVALID_PARAMETER; the result is TRUE once a callback has returned TRUE, so
// an enumeration stopped at its first scheme is FALSE and one stopped later TRUE.
// Chosen: the schemes are read before the first callback (which may call these
// functions again), a scheme that cannot be read fails the enumeration before any
// callback with that error, keys that are no decimal id are passed over, and no
// scheme at all is FALSE with ERROR_NO_MORE_ITEMS.
BOOLEAN WINAPI EnumPwrSchemes(PWRSCHEMESENUMPROC callback, LPARAM param) {
    if (!callback) return Fail(ERROR_INVALID_PARAMETER);
    std::vector<StoredScheme> schemes;
    {
        StoreLock lock;
        if (lock.Result() != ERROR_SUCCESS) return Fail(lock.Result());
        UniqueKey folder;
        DWORD error = Open(HKEY_CURRENT_USER, std::wstring(kUserRoot) + L"\\" + kSchemes, KEY_ENUMERATE_SUB_KEYS,
                           &folder);
        if (error != ERROR_SUCCESS) return Fail(error);
        for (DWORD index = 0;; ++index) {
            wchar_t name[256];
            DWORD chars = ARRAYSIZE(name);
            LONG rc = RegEnumKeyExW(folder.get(), index, name, &chars, nullptr, nullptr, nullptr, nullptr);
            if (rc == ERROR_NO_MORE_ITEMS) break;
            if (rc != ERROR_SUCCESS) return Fail(static_cast<DWORD>(rc));
            wchar_t* end = nullptr;
            unsigned long id = wcstoul(name, &end, 10);
            if (!name[0] || *end != L'\0' || name[0] == L'-' || name[0] == L'+') continue;
            StoredScheme scheme;
            error = ReadScheme(static_cast<UINT>(id), &scheme);
            if (error != ERROR_SUCCESS) return Fail(error);
            schemes.push_back(scheme);
        }
    }
    if (schemes.empty()) return Fail(ERROR_NO_MORE_ITEMS);
    BOOLEAN called = FALSE;
    for (StoredScheme& scheme : schemes) {
        DWORD nameBytes = static_cast<DWORD>((scheme.name.size() + 1) * sizeof(wchar_t));
        DWORD textBytes = static_cast<DWORD>((scheme.description.size() + 1) * sizeof(wchar_t));
        if (!callback(scheme.id, nameBytes, scheme.name.data(), textBytes, scheme.description.data(), &scheme.policy,
                      param))
            break;
        called = TRUE;
    }
    return called;
}

// Documented: the active scheme's id. Chosen: a null id is ERROR_INVALID_PARAMETER; a
// missing or malformed CurrentPowerPolicy fails with the registry's error
// (ERROR_FILE_NOT_FOUND) or ERROR_INVALID_DATA.
BOOLEAN WINAPI GetActivePwrScheme(PUINT id) {
    if (!id) return Fail(ERROR_INVALID_PARAMETER);
    StoreLock lock;
    if (lock.Result() != ERROR_SUCCESS) return Fail(lock.Result());
    return Finish(ReadId(HKEY_CURRENT_USER, kUserRoot, kActive, id));
}

// Documented: FALSE for a scheme that does not exist; with a null record the stored
// scheme (and the current global policy) is applied, a given record replaces the
// applied settings (it does not change the stored scheme). Observed: records are
// validated as ValidatePowerPolicies does (ERROR_REVISION_MISMATCH, ERROR_INVALID_DATA).
// Chosen: an unknown id is ERROR_FILE_NOT_FOUND and changes nothing (XP SP2 records it
// as active all the same and corrupts its enumeration).
BOOLEAN WINAPI SetActivePwrScheme(UINT id, PGLOBAL_POWER_POLICY globalPowerPolicy, PPOWER_POLICY powerPolicy) {
    StoreLock lock;
    if (lock.Result() != ERROR_SUCCESS) return Fail(lock.Result());
    StoredScheme scheme;
    DWORD error = ReadScheme(id, &scheme);
    if (error == ERROR_SUCCESS) error = Validate(globalPowerPolicy, powerPolicy);
    if (error == ERROR_SUCCESS) error = Apply(powerPolicy ? *powerPolicy : scheme.policy, globalPowerPolicy);
    if (error == ERROR_SUCCESS) error = WriteId(HKEY_CURRENT_USER, kUserRoot, kActive, id);
    return Finish(error);
}

// Documented: removes the scheme from the system for good. Observed: the active scheme
// is refused with ERROR_ACCESS_DENIED; an unknown id fails (ERROR_FILE_NOT_FOUND).
// Chosen: the scheme's user key, machine key and processor policy all go.
BOOLEAN WINAPI DeletePwrScheme(UINT id) {
    StoreLock lock;
    if (lock.Result() != ERROR_SUCCESS) return Fail(lock.Result());
    UINT active = 0;
    if (ReadId(HKEY_CURRENT_USER, kUserRoot, kActive, &active) == ERROR_SUCCESS && active == id)
        return Fail(ERROR_ACCESS_DENIED);
    LONG rc = RegDeleteKeyExW(HKEY_CURRENT_USER, UserScheme(id).c_str(), kView, 0);
    if (rc != ERROR_SUCCESS) return Fail(static_cast<DWORD>(rc));
    DWORD error = DeleteKey(HKEY_LOCAL_MACHINE, MachineScheme(id));
    if (error == ERROR_SUCCESS) error = DeleteKey(HKEY_LOCAL_MACHINE, ProcessorScheme(id));
    return Finish(error);
}

// Documented: whether the machine can hibernate (XP: sleep state S4 supported and the
// hibernation file present). Here the machine's [PowerProfile] HibernateAllowed.
BOOLEAN WINAPI IsPwrHibernateAllowed() {
    Machine machine;
    DWORD error = ReadMachine(AttachedMachine(), &machine);
    if (error != ERROR_SUCCESS) return Fail(error);
    Values values;
    GetSection(machine, kSection, &values);
    return values.Number("HibernateAllowed", 1) != 0;
}

}  // namespace vnb
