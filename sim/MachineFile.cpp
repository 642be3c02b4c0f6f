#include "MachineFile.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <map>
#include <mutex>

#include "WinHandles.h"

namespace vnb {
namespace {
constexpr wchar_t kMutexName[] = L"Global\\ZORA_VNB_MACHINE";
constexpr wchar_t kWriteCounterName[] = L"Global\\ZORA_VNB_MACHINE_WRITES";
// Every holder keeps the mutex for one whole-file read or write; ten seconds means
// a holder that is stuck, not one that is slow.
constexpr DWORD kLockTimeoutMs = 10000;
constexpr size_t kMaxFileBytes = 4 * 1024 * 1024;

wchar_t g_attached[MAX_PATH];

// The time spent in the virtual notebook, shared by every process: microseconds, entries.
constexpr wchar_t kClockName[] = L"Global\\ZORA_VNB_MACHINE_CLOCK";
struct SharedClock {
    volatile LONG64 microseconds;
    volatile LONG64 entries;
};

SharedClock* Clock() {
    static SharedClock* clock = []() -> SharedClock* {
        NullDaclSecurity security;
        security.attributes.bInheritHandle = FALSE;
        HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, &security.attributes, PAGE_READWRITE, 0,
                                            sizeof(SharedClock), kClockName);
        if (!mapping) mapping = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kClockName);
        if (!mapping) return nullptr;
        return static_cast<SharedClock*>(MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(SharedClock)));
    }();
    return clock;
}

thread_local int t_clockDepth = 0;
thread_local RidingEdit* t_riding = nullptr;

// The edit riding with this thread's next update of that file, applied to the machine.
bool ApplyRidingEdit(const wchar_t* file, Machine* machine) {
    RidingEdit* riding = t_riding;
    if (!riding || riding->m_done || lstrcmpiW(riding->m_file.c_str(), file) != 0) return false;
    riding->m_edit(*machine);
    return true;
}

void RideDone() {
    if (t_riding) t_riding->m_done = true;
}

// The machine mutex, held for the life of the object.
class MachineLock {
public:
    MachineLock() : m_mutex(KeptGlobalMutex(kMutexName)) {
        if (!m_mutex) {
            m_result = GetLastError();
            return;
        }
        // A holder that died left the file whole (it is only ever replaced), so an
        // abandoned mutex is simply taken over.
        switch (WaitForSingleObject(m_mutex, kLockTimeoutMs)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED: m_result = ERROR_SUCCESS; break;
        case WAIT_TIMEOUT: m_result = ERROR_TIMEOUT; break;
        default: m_result = GetLastError(); break;
        }
    }
    MachineLock(const MachineLock&) = delete;
    MachineLock& operator=(const MachineLock&) = delete;
    ~MachineLock() {
        if (m_result == ERROR_SUCCESS) ReleaseMutex(m_mutex);
    }
    DWORD Result() const { return m_result; }

private:
    HANDLE m_mutex;
    DWORD m_result = ERROR_INVALID_HANDLE;
};

std::wstring Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                            nullptr);
    return out;
}

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return std::string();
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

bool SameText(const std::string& a, const char* b) { return lstrcmpiA(a.c_str(), b) == 0; }

bool ParseNumber(const std::string& text, DWORD maximum, DWORD* value) {
    if (text.empty() || !isdigit(static_cast<unsigned char>(text[0]))) return false;
    char* end = nullptr;
    int base = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 16 : 10;
    errno = 0;
    unsigned long long n = strtoull(text.c_str(), &end, base);
    if (errno || *end || n > maximum) return false;
    *value = static_cast<DWORD>(n);
    return true;
}

// Which keys a section had, so that a missing one is noticed.
enum : unsigned {
    kHasInstanceId = 1,
    kHasParent = 2,
    kHasClass = 4,
    kHasDescription = 8,
    kHasStatus = 16,
    kHasProblem = 32,
    kHasPresent = 64,
    kDeviceRequired = 127,
    kHasFriendlyName = 128,  // optional
    kHasAcLine = 1,
    kHasBatteryFlag = 2,
    kHasPercent = 4,
    kHasLifeTime = 8,
    kHasFullLifeTime = 16,
    kHasSessionId = 32,
    kPowerRequired = 63,
};

class Parser {
public:
    explicit Parser(Machine* machine) : m_machine(machine) {}

    bool Line(const std::string& raw) {
        std::string line = Trim(raw);
        if (m_section == Section::Other && !(line.size() > 1 && line[0] == '[')) {
            m_machine->otherSections += raw + "\r\n";
            return true;
        }
        if (line.empty() || line[0] == ';' || line[0] == '#') return true;
        if (line[0] == '[') return Header(line, raw);
        size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) return false;
        std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
        switch (m_section) {
        case Section::Machine: return MachineKey(key, value);
        case Section::Power: return PowerKey(key, value);
        case Section::Device: return DeviceKey(key, value);
        default: return false;
        }
    }

    bool Finish() {
        if (!CloseSection()) return false;
        return m_formatSeen && m_powerSeen && !m_machine->nodes.empty();
    }

private:
    enum class Section { None, Machine, Power, Device, Other };

    bool Header(const std::string& line, const std::string& raw) {
        if (line.back() != ']') return false;
        if (!CloseSection()) return false;
        std::string name = Trim(line.substr(1, line.size() - 2));
        if (SameText(name, "Machine")) {
            if (m_machineSeen) return false;
            m_machineSeen = true;
            m_section = Section::Machine;
        } else if (!m_machineSeen) {
            return false;  // the format line comes first, before anything is believed
        } else if (SameText(name, "Power")) {
            if (m_powerSeen) return false;
            m_powerSeen = true;
            m_section = Section::Power;
        } else if (SameText(name, "Device")) {
            m_section = Section::Device;
            m_node = Node();
        } else {
            m_section = Section::Other;
            m_machine->otherSections += raw + "\r\n";
        }
        m_keys = 0;
        return true;
    }

    bool CloseSection() {
        if (m_section == Section::Machine) return m_formatSeen;
        if (m_section == Section::Power) return m_keys == kPowerRequired;
        if (m_section != Section::Device) return true;
        if ((m_keys & kDeviceRequired) != kDeviceRequired || m_node.instanceId.empty()) return false;
        if (m_machine->Find(m_node.instanceId.c_str()) >= 0) return false;
        bool isRoot = m_machine->nodes.empty();
        if (isRoot != m_node.parentId.empty()) return false;
        if (!isRoot && m_machine->Find(m_node.parentId.c_str()) < 0) return false;
        GUID guid;
        if (!m_node.classGuid.empty() && !ParseGuid(m_node.classGuid, &guid)) return false;
        m_machine->nodes.push_back(m_node);
        m_section = Section::None;
        return true;
    }

    bool MachineKey(const std::string& key, const std::string& value) {
        if (!SameText(key, "Format") || value != "1") return false;
        m_formatSeen = true;
        return true;
    }

    bool Take(unsigned bit) {
        if (m_keys & bit) return false;
        m_keys |= bit;
        return true;
    }

    bool Byte(const std::string& value, BYTE* out) {
        DWORD n = 0;
        if (!ParseNumber(value, 255, &n)) return false;
        *out = static_cast<BYTE>(n);
        return true;
    }

    bool PowerKey(const std::string& key, const std::string& value) {
        VnbPower& p = m_machine->power;
        if (SameText(key, "ACLineStatus")) return Take(kHasAcLine) && Byte(value, &p.acLineStatus);
        if (SameText(key, "BatteryFlag")) return Take(kHasBatteryFlag) && Byte(value, &p.batteryFlag);
        if (SameText(key, "BatteryLifePercent")) return Take(kHasPercent) && Byte(value, &p.batteryLifePercent);
        if (SameText(key, "BatteryLifeTime"))
            return Take(kHasLifeTime) && ParseNumber(value, MAXDWORD, &p.batteryLifeTime);
        if (SameText(key, "BatteryFullLifeTime"))
            return Take(kHasFullLifeTime) && ParseNumber(value, MAXDWORD, &p.batteryFullLifeTime);
        if (SameText(key, "SessionId")) return Take(kHasSessionId) && ParseNumber(value, MAXDWORD, &p.sessionId);
        return false;
    }

    static bool Text(const std::string& value, size_t limit, std::wstring* out) {
        *out = Widen(value);
        return out->size() <= limit;
    }

    bool DeviceKey(const std::string& key, const std::string& value) {
        Node& n = m_node;
        DWORD present = 0;
        if (SameText(key, "InstanceId")) return Take(kHasInstanceId) && Text(value, kMaxInstanceId, &n.instanceId);
        if (SameText(key, "Parent")) return Take(kHasParent) && Text(value, kMaxInstanceId, &n.parentId);
        if (SameText(key, "Class")) return Take(kHasClass) && Text(value, kMaxClassGuid, &n.classGuid);
        if (SameText(key, "Description")) return Take(kHasDescription) && Text(value, kMaxText, &n.description);
        if (SameText(key, "FriendlyName")) return Take(kHasFriendlyName) && Text(value, kMaxText, &n.friendlyName);
        if (SameText(key, "Status")) return Take(kHasStatus) && ParseNumber(value, MAXDWORD, &n.status);
        if (SameText(key, "Problem")) return Take(kHasProblem) && ParseNumber(value, MAXDWORD, &n.problem);
        if (SameText(key, "Present")) {
            if (!Take(kHasPresent) || !ParseNumber(value, 1, &present)) return false;
            n.present = present != 0;
            return true;
        }
        return false;
    }

    Machine* m_machine;
    Section m_section = Section::None;
    Node m_node;
    unsigned m_keys = 0;
    bool m_machineSeen = false, m_formatSeen = false, m_powerSeen = false;
};

void AppendLine(std::string* out, const char* key, const std::wstring& value) {
    *out += key;
    *out += '=';
    *out += Utf8(value);
    *out += "\r\n";
}

void AppendNumber(std::string* out, const char* key, DWORD value, bool hex) {
    char text[64];
    wsprintfA(text, hex ? "%s=0x%08lX\r\n" : "%s=%lu\r\n", key, value);
    *out += text;
}

constexpr char kFileHeader[] =
    "; Virtual notebook machine file: the state of one simulated machine, shared by\r\n"
    "; every process that attaches it. Read whole and written through under the\r\n"
    "; mutex Global\\ZORA_VNB_MACHINE; edit it only while no process uses the machine.\r\n"
    ";\r\n"
    "; Setup classes of the default machine:\r\n"
    ";   Net          {4d36e972-e325-11ce-bfc1-08002be10318}\r\n"
    ";   Bluetooth    {e0cbf06c-cd8b-4647-bb8a-263b43f0f974}\r\n"
    ";   Modem        {4d36e96d-e325-11ce-bfc1-08002be10318}\r\n"
    ";   Image        {6bdd1fc6-810f-11d0-bec7-08002be10318}\r\n"
    ";   CDROM        {4d36e965-e325-11ce-bfc1-08002be10318}\r\n"
    ";   MEDIA        {4d36e96c-e325-11ce-bfc1-08002be10318}\r\n"
    ";   LegacyDriver {8ecc055d-047f-11d1-a537-0000f8753ed1}\r\n"
    ";   Computer     {4d36e966-e325-11ce-bfc1-08002be10318}\r\n"
    ";   System       {4d36e97d-e325-11ce-bfc1-08002be10318}\r\n"
    ";   Battery      {72631e54-78a4-11d0-bcf7-00aa00b7b32a}\r\n"
    ";   USB          {36fc9e60-c465-11cf-8056-444553540000}\r\n"
    ";   hdc          {4d36e96a-e325-11ce-bfc1-08002be10318}\r\n"
    "\r\n";

// Every write of a machine file, by any process, counts in one shared counter (kept
// mapped for the life of the process); null when it cannot be had.
volatile LONG* WriteCounter() {
    static volatile LONG* counter = []() -> volatile LONG* {
        NullDaclSecurity security;
        security.attributes.bInheritHandle = FALSE;
        HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, &security.attributes, PAGE_READWRITE, 0,
                                            sizeof(LONG), kWriteCounterName);
        if (!mapping) mapping = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kWriteCounterName);
        if (!mapping) return nullptr;
        return static_cast<volatile LONG*>(MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
    }();
    return counter;
}

// The last machine this process parsed or wrote, with the file's text as it stands. Reading
// and parsing the whole file is most of what an entry costs, so a read that finds the same
// file, with no write counted since and the same size and times (an edit by hand), takes
// the parsed machine again.
struct ParsedMachine {
    std::wstring file;
    LONG writes = 0;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    Machine machine;
    std::string text;       // the file's bytes
    std::string formatted;  // FormatMachine(machine); empty until needed
};
ParsedMachine g_parsed;  // used under the machine mutex only

bool Unchanged(const WIN32_FILE_ATTRIBUTE_DATA& a, const WIN32_FILE_ATTRIBUTE_DATA& b) {
    return a.nFileSizeHigh == b.nFileSizeHigh && a.nFileSizeLow == b.nFileSizeLow &&
           CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) == 0 &&
           CompareFileTime(&a.ftCreationTime, &b.ftCreationTime) == 0;
}

bool ReadWhole(const wchar_t* file, std::string* text, DWORD* error) {
    UniqueFile handle(CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        *error = GetLastError();
        return false;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle.get(), &size) || size.QuadPart > static_cast<LONGLONG>(kMaxFileBytes)) {
        *error = ERROR_FILE_CORRUPT;
        return false;
    }
    text->resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!text->empty() && (!ReadFile(handle.get(), text->data(), static_cast<DWORD>(text->size()), &got, nullptr) ||
                           got != text->size())) {
        *error = GetLastError() ? GetLastError() : ERROR_READ_FAULT;
        return false;
    }
    return true;
}

DWORD WriteWhole(const wchar_t* file, const std::string& text) {
    std::wstring temporary = std::wstring(file) + L".new";
    UniqueFile handle(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) return GetLastError();
    DWORD written = 0;
    // No flush to the disk: every process reads the file through the same system cache,
    // and a machine that did not survive the host's power loss is simply made again.
    if (!WriteFile(handle.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size()) {
        DWORD error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
        handle.reset();
        DeleteFileW(temporary.c_str());
        return error;
    }
    handle.reset();
    if (!MoveFileExW(temporary.c_str(), file, MOVEFILE_REPLACE_EXISTING)) {
        DWORD error = GetLastError();
        DeleteFileW(temporary.c_str());
        return error;
    }
    if (volatile LONG* counter = WriteCounter()) InterlockedIncrement(counter);
    return ERROR_SUCCESS;
}

// Writes through only the bytes that changed, when the new text is as long as the file's
// (a register, a counter or a recorded request of the same width took a new value): one
// write into the file in place, no new file. A single write either happens whole or not
// at all, also for a holder that dies, and readers wait for the mutex; so the file is
// never seen half written. False when the file is not the text it was (then the caller
// writes it whole).
bool PatchInPlace(const wchar_t* file, const std::string& was, const std::string& text, DWORD* error) {
    if (was.size() != text.size()) return false;
    size_t first = 0, end = text.size();
    while (first < end && was[first] == text[first]) ++first;
    while (end > first && was[end - 1] == text[end - 1]) --end;
    UniqueFile handle(CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) return false;
    // The file's size and times were just found as this process left them (the caller's
    // read of the machine), so it is the text `was`.
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(first);
    DWORD written = 0;
    if (!WriteFile(handle.get(), text.data() + first, static_cast<DWORD>(end - first), &written, &at) ||
        written != end - first) {
        *error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
        return true;
    }
    *error = ERROR_SUCCESS;
    if (volatile LONG* counter = WriteCounter()) InterlockedIncrement(counter);
    return true;
}

// The parsed machine of the file, up to date; null on failure (*error set).
const Machine* CurrentMachine(const wchar_t* file, DWORD* error) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(file, GetFileExInfoStandard, &data)) {
        *error = GetLastError();
        return nullptr;
    }
    volatile LONG* counter = WriteCounter();
    LONG writes = counter ? *counter : 0;
    if (counter && g_parsed.file == file && g_parsed.writes == writes && Unchanged(g_parsed.data, data))
        return &g_parsed.machine;
    std::string text;
    if (!ReadWhole(file, &text, error)) return nullptr;
    Machine machine;
    *error = ParseMachine(text, &machine);
    if (*error != ERROR_SUCCESS) return nullptr;
    g_parsed.file = counter ? file : L"";
    g_parsed.writes = writes;
    g_parsed.data = data;
    g_parsed.machine = std::move(machine);
    g_parsed.text = std::move(text);
    g_parsed.formatted.clear();
    return &g_parsed.machine;
}

DWORD ReadLocked(const wchar_t* file, Machine* machine) {
    DWORD error = ERROR_SUCCESS;
    const Machine* current = CurrentMachine(file, &error);
    if (current) *machine = *current;
    return error;
}

// After this process wrote the machine (under the mutex), the next read needs no parse.
void RememberWritten(const wchar_t* file, Machine&& machine, std::string&& text) {
    volatile LONG* counter = WriteCounter();
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!counter || !GetFileAttributesExW(file, GetFileExInfoStandard, &data)) {
        g_parsed.file.clear();
        return;
    }
    g_parsed.file = file;
    g_parsed.writes = *counter;
    g_parsed.data = data;
    g_parsed.machine = std::move(machine);
    g_parsed.formatted = text;
    g_parsed.text = std::move(text);
}

bool SamePower(const VnbPower& a, const VnbPower& b) {
    return a.acLineStatus == b.acLineStatus && a.batteryFlag == b.batteryFlag &&
           a.batteryLifePercent == b.batteryLifePercent && a.batteryLifeTime == b.batteryLifeTime &&
           a.batteryFullLifeTime == b.batteryFullLifeTime && a.sessionId == b.sessionId;
}

bool SameNode(const Node& a, const Node& b) {
    return a.instanceId == b.instanceId && a.parentId == b.parentId && a.classGuid == b.classGuid &&
           a.description == b.description && a.friendlyName == b.friendlyName && a.status == b.status &&
           a.problem == b.problem && a.present == b.present;
}

// FormatMachine(machine), given `formatted` = FormatMachine(was): most changes touch only
// the other subsystems' sections, and the device tree's text before them stays as it was.
std::string Reformat(const Machine& was, const std::string& formatted, const Machine& machine) {
    bool sameHead = SamePower(was.power, machine.power) && was.nodes.size() == machine.nodes.size();
    for (size_t i = 0; sameHead && i < machine.nodes.size(); ++i) sameHead = SameNode(was.nodes[i], machine.nodes[i]);
    size_t tail = was.otherSections.empty() ? 0 : 2 + was.otherSections.size();
    if (!sameHead || tail > formatted.size()) return FormatMachine(machine);
    std::string text;
    text.reserve(formatted.size() - tail + 2 + machine.otherSections.size());
    text.append(formatted, 0, formatted.size() - tail);
    if (!machine.otherSections.empty()) {
        text += "\r\n";
        text += machine.otherSections;
    }
    return text;
}

bool ValidFile(const wchar_t* file) { return file && file[0] && wcslen(file) < MAX_PATH; }
}  // namespace

MachineClock::MachineClock() : m_outer(t_clockDepth++ == 0) {
    if (m_outer) QueryPerformanceCounter(&m_start);
}

MachineClock::~MachineClock() {
    --t_clockDepth;
    if (!m_outer) return;
    LARGE_INTEGER end, frequency;
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    SharedClock* clock = Clock();
    if (!clock || frequency.QuadPart <= 0) return;
    InterlockedExchangeAdd64(&clock->microseconds, (end.QuadPart - m_start.QuadPart) * 1000000 / frequency.QuadPart);
    InterlockedIncrement64(&clock->entries);
}

void MachineTime(ULONGLONG* microseconds, ULONGLONG* entries) {
    SharedClock* clock = Clock();
    *microseconds = clock ? static_cast<ULONGLONG>(clock->microseconds) : 0;
    *entries = clock ? static_cast<ULONGLONG>(clock->entries) : 0;
}

RidingEdit::RidingEdit(const wchar_t* file, std::function<void(Machine&)> edit)
    : m_file(file ? file : L""), m_edit(std::move(edit)), m_previous(t_riding) {
    t_riding = this;
}

RidingEdit::~RidingEdit() { Flush(); }

DWORD RidingEdit::Flush() {
    DWORD error = ERROR_SUCCESS;
    if (!m_done && !m_file.empty()) error = UpdateMachine(m_file.c_str(), [](Machine&) -> DWORD { return ERROR_SUCCESS; });
    m_done = true;
    if (t_riding == this) t_riding = m_previous;
    return error;
}

int Machine::Find(const wchar_t* instanceId) const {
    if (!instanceId) return -1;
    for (size_t i = 0; i < nodes.size(); ++i)
        if (CompareStringOrdinal(nodes[i].instanceId.c_str(), -1, instanceId, -1, TRUE) == CSTR_EQUAL)
            return static_cast<int>(i);
    return -1;
}

DWORD ParseMachine(const std::string& text, Machine* machine) {
    *machine = Machine();
    Parser parser(machine);
    size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\0') != std::string::npos || !parser.Line(line)) return ERROR_FILE_CORRUPT;
        at = end + 1;
    }
    return parser.Finish() ? ERROR_SUCCESS : ERROR_FILE_CORRUPT;
}

std::string FormatMachine(const Machine& machine) {
    std::string out = kFileHeader;
    out += "[Machine]\r\nFormat=1\r\n\r\n[Power]\r\n";
    const VnbPower& p = machine.power;
    AppendNumber(&out, "ACLineStatus", p.acLineStatus, false);
    AppendNumber(&out, "BatteryFlag", p.batteryFlag, false);
    AppendNumber(&out, "BatteryLifePercent", p.batteryLifePercent, false);
    AppendNumber(&out, "BatteryLifeTime", p.batteryLifeTime, p.batteryLifeTime == MAXDWORD);
    AppendNumber(&out, "BatteryFullLifeTime", p.batteryFullLifeTime, p.batteryFullLifeTime == MAXDWORD);
    AppendNumber(&out, "SessionId", p.sessionId, false);
    for (const Node& n : machine.nodes) {
        out += "\r\n[Device]\r\n";
        AppendLine(&out, "InstanceId", n.instanceId);
        AppendLine(&out, "Parent", n.parentId);
        AppendLine(&out, "Class", n.classGuid);
        AppendLine(&out, "Description", n.description);
        if (!n.friendlyName.empty()) AppendLine(&out, "FriendlyName", n.friendlyName);
        AppendNumber(&out, "Status", n.status, true);
        AppendNumber(&out, "Problem", n.problem, false);
        AppendNumber(&out, "Present", n.present ? 1 : 0, false);
    }
    if (!machine.otherSections.empty()) out += "\r\n" + machine.otherSections;
    return out;
}

DWORD ReadMachine(const wchar_t* file, Machine* machine) {
    if (!ValidFile(file)) return ERROR_INVALID_PARAMETER;
    MachineClock clock;
    MachineLock lock;
    if (lock.Result() != ERROR_SUCCESS) return lock.Result();
    return ReadLocked(file, machine);
}

DWORD ViewMachine(const wchar_t* file, const std::function<DWORD(const Machine&)>& read) {
    if (!ValidFile(file)) return ERROR_INVALID_PARAMETER;
    MachineClock clock;
    MachineLock lock;
    if (lock.Result() != ERROR_SUCCESS) return lock.Result();
    DWORD error = ERROR_SUCCESS;
    const Machine* current = CurrentMachine(file, &error);
    return current ? read(*current) : error;
}

DWORD ReplaceMachine(const wchar_t* file, const Machine& machine) {
    if (!ValidFile(file)) return ERROR_INVALID_PARAMETER;
    MachineClock clock;
    MachineLock lock;
    if (lock.Result() != ERROR_SUCCESS) return lock.Result();
    return WriteWhole(file, FormatMachine(machine));
}

DWORD UpdateMachine(const wchar_t* file, const std::function<DWORD(Machine&)>& change) {
    if (!ValidFile(file)) return ERROR_INVALID_PARAMETER;
    MachineClock clock;
    MachineLock lock;
    if (lock.Result() != ERROR_SUCCESS) return lock.Result();
    DWORD error = ERROR_SUCCESS;
    const Machine* current = CurrentMachine(file, &error);
    if (!current) return error;
    Machine machine = *current;
    bool riding = ApplyRidingEdit(file, &machine);
    error = change(machine);
    if (error != ERROR_SUCCESS) return error;
    // A change that changed nothing (a register written with the value it holds, a read)
    // leaves the file alone.
    if (g_parsed.formatted.empty()) g_parsed.formatted = FormatMachine(g_parsed.machine);
    std::string after = Reformat(g_parsed.machine, g_parsed.formatted, machine);
    if (after != g_parsed.formatted) {
        // The file's text is the machine's own (not an edit by hand in another layout):
        // only what changed is written.
        if (g_parsed.text != g_parsed.formatted || !PatchInPlace(file, g_parsed.text, after, &error))
            error = WriteWhole(file, after);
        if (error != ERROR_SUCCESS) {
            g_parsed.file.clear();
            return error;
        }
        RememberWritten(file, std::move(machine), std::move(after));
    }
    if (riding) RideDone();
    return ERROR_SUCCESS;
}

DWORD CreateMachineIfMissing(const wchar_t* file) {
    if (!ValidFile(file)) return ERROR_INVALID_PARAMETER;
    MachineLock lock;
    if (lock.Result() != ERROR_SUCCESS) return lock.Result();
    if (GetFileAttributesW(file) != INVALID_FILE_ATTRIBUTES) return ERROR_SUCCESS;
    DWORD missing = GetLastError();
    if (missing != ERROR_FILE_NOT_FOUND && missing != ERROR_PATH_NOT_FOUND) return missing;
    Machine machine;
    DefaultMachine(&machine);
    return WriteWhole(file, FormatMachine(machine));
}

HANDLE KeptGlobalMutex(const wchar_t* name) {
    static std::mutex lock;
    static std::map<std::wstring, HANDLE> kept;
    std::lock_guard<std::mutex> hold(lock);
    HANDLE& mutex = kept[name];
    if (!mutex) {
        NullDaclSecurity security;
        security.attributes.bInheritHandle = FALSE;
        mutex = CreateMutexW(&security.attributes, FALSE, name);
        if (!mutex) mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
    }
    return mutex;
}

const wchar_t* AttachedMachine() { return g_attached; }

void SetAttachedMachine(const wchar_t* file) {
    lstrcpynW(g_attached, file, MAX_PATH);
}

bool ParseGuid(const std::wstring& text, GUID* guid) {
    // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}
    if (text.size() != 38 || text[0] != L'{' || text[37] != L'}') return false;
    static const int kDashes[] = {9, 14, 19, 24};
    for (int d : kDashes)
        if (text[d] != L'-') return false;
    unsigned char bytes[16];
    int count = 0;
    for (size_t i = 1; i < 37; ++i) {
        if (text[i] == L'-') continue;
        if (!iswxdigit(text[i]) || !iswxdigit(text[i + 1])) return false;
        wchar_t pair[3] = {text[i], text[i + 1], 0};
        bytes[count++] = static_cast<unsigned char>(wcstoul(pair, nullptr, 16));
        ++i;
    }
    if (count != 16) return false;
    guid->Data1 = (DWORD(bytes[0]) << 24) | (DWORD(bytes[1]) << 16) | (DWORD(bytes[2]) << 8) | bytes[3];
    guid->Data2 = static_cast<WORD>((bytes[4] << 8) | bytes[5]);
    guid->Data3 = static_cast<WORD>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i) guid->Data4[i] = bytes[8 + i];
    return true;
}

std::wstring FormatGuid(const GUID& g) {
    wchar_t text[40];
    _snwprintf(text, 39, L"{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", static_cast<unsigned long>(g.Data1),
               g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
               g.Data4[7]);
    text[39] = L'\0';
    return text;
}

}  // namespace vnb
