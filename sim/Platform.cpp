#include "Platform.h"
#include "Entries.h"
#include "ZoraVnb.h"

#include <intrin.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>

namespace vnb {
namespace {

bool SameKey(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The text of otherSections split into sections: name (empty for lines before the
// first header) and its raw lines.
struct RawSection {
    std::string name;
    std::vector<std::string> lines;
};

std::vector<RawSection> Split(const std::string& text) {
    std::vector<RawSection> sections(1);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        at = end + 1;
        std::string trimmed = Trim(line);
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
            sections.push_back(RawSection{trimmed.substr(1, trimmed.size() - 2), {}});
            continue;
        }
        sections.back().lines.push_back(line);
    }
    return sections;
}

template <class T>
std::vector<T>& Registry() {
    static std::vector<T> entries;
    return entries;
}

struct FunctionSlot {
    DWORD function;
    DriverFunction handler;
};

CpuidSource& CpuidProvider() {
    static CpuidSource source = nullptr;
    return source;
}

// Open device objects by handle. The handle is an unnamed event of this process, so
// it can never equal a real file handle still open.
std::mutex g_handlesLock;
std::map<HANDLE, std::unique_ptr<DeviceObject>>& OpenObjects() {
    static std::map<HANDLE, std::unique_ptr<DeviceObject>> objects;
    return objects;
}

// "\\.\name", or "\\?\..." as a device interface's path begins.
bool IsDevicePath(LPCWSTR path) {
    return path && (wcsncmp(path, L"\\\\.\\", 4) == 0 || wcsncmp(path, L"\\\\?\\", 4) == 0);
}
}  // namespace

bool Values::Has(const std::string& key) const {
    for (const auto& item : m_items)
        if (SameKey(item.first, key)) return true;
    return false;
}

std::string Values::Get(const std::string& key, const std::string& fallback) const {
    for (const auto& item : m_items)
        if (SameKey(item.first, key)) return item.second;
    return fallback;
}

unsigned long long Values::Number(const std::string& key, unsigned long long fallback) const {
    std::string text = Get(key);
    if (text.empty()) return fallback;
    char* end = nullptr;
    unsigned long long value = strtoull(text.c_str(), &end, 0);
    return (end && *end == '\0') ? value : fallback;
}

void Values::Set(const std::string& key, const std::string& value) {
    for (auto& item : m_items)
        if (SameKey(item.first, key)) {
            item.second = value;
            return;
        }
    m_items.emplace_back(key, value);
}

void Values::SetNumber(const std::string& key, unsigned long long value) {
    char text[24];
    snprintf(text, sizeof(text), "0x%llX", value);
    Set(key, text);
}

void Values::Remove(const std::string& key) {
    for (auto it = m_items.begin(); it != m_items.end(); ++it)
        if (SameKey(it->first, key)) {
            m_items.erase(it);
            return;
        }
}

std::string RequestText(const void* in, DWORD inSize, DWORD maxBytes) {
    std::string text = std::to_string(in ? inSize : 0) + ":";
    const BYTE* bytes = static_cast<const BYTE*>(in);
    for (DWORD i = 0; bytes && i < inSize && i < maxBytes; ++i) {
        char hex[4];
        snprintf(hex, sizeof(hex), i ? " %02X" : "%02X", bytes[i]);
        text += hex;
    }
    return text;
}

bool GetSection(const Machine& machine, const std::string& name, Values* values) {
    // Walks the lines in place: a read is frequent and the text is long, so only the
    // wanted section's lines are copied.
    const std::string& text = machine.otherSections;
    bool inside = false, found = false;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        size_t first = text.find_first_not_of(" \t\r", at);
        size_t last = end;
        while (last > at && (text[last - 1] == '\r' || text[last - 1] == ' ' || text[last - 1] == '\t')) --last;
        if (first != std::string::npos && first < last && text[first] == '[' && text[last - 1] == ']' &&
            last - first >= 2) {
            if (inside) return true;
            inside = text.compare(first + 1, last - first - 2, name) == 0 ||
                     SameKey(text.substr(first + 1, last - first - 2), name);
            if (inside) {
                *values = Values();
                found = true;
            }
        } else if (inside && first != std::string::npos && first < last && text[first] != ';') {
            std::string line = text.substr(first, last - first);
            size_t eq = line.find('=');
            if (eq != std::string::npos) values->Set(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
        }
        at = end + 1;
    }
    return found;
}

std::map<std::string, Values> CollectSections(const Machine& machine, bool (*wanted)(const std::string& name)) {
    std::map<std::string, Values> found;
    const std::string& text = machine.otherSections;
    Values* inside = nullptr;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        size_t first = text.find_first_not_of(" \t\r", at);
        size_t last = end;
        while (last > at && (text[last - 1] == '\r' || text[last - 1] == ' ' || text[last - 1] == '\t')) --last;
        if (first != std::string::npos && first < last && text[first] == '[' && text[last - 1] == ']' &&
            last - first >= 2) {
            std::string name = text.substr(first + 1, last - first - 2);
            inside = nullptr;
            if (wanted(name)) {
                for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
                if (!found.count(name)) inside = &found[name];
            }
        } else if (inside && first != std::string::npos && first < last && text[first] != ';') {
            std::string line = text.substr(first, last - first);
            size_t eq = line.find('=');
            if (eq != std::string::npos) inside->Set(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
        }
        at = end + 1;
    }
    return found;
}

namespace {
// Where a section stands in the raw text: from its header line to the next header line
// or the end. Found in place, as every write of the machine puts many sections.
bool SectionRange(const std::string& text, const std::string& name, size_t* begin, size_t* end) {
    bool inside = false;
    for (size_t at = 0; at < text.size();) {
        size_t next = text.find('\n', at);
        next = next == std::string::npos ? text.size() : next + 1;
        size_t first = text.find_first_not_of(" \t\r", at);
        size_t last = next;
        while (last > at && (text[last - 1] == '\n' || text[last - 1] == '\r' || text[last - 1] == ' ' ||
                             text[last - 1] == '\t'))
            --last;
        if (first != std::string::npos && first < last && text[first] == '[' && text[last - 1] == ']' &&
            last - first >= 2) {
            if (inside) {
                *end = at;
                return true;
            }
            if (SameKey(text.substr(first + 1, last - first - 2), name)) {
                inside = true;
                *begin = at;
            }
        }
        at = next;
    }
    if (inside) *end = text.size();
    return inside;
}
}  // namespace

void PutSection(Machine* machine, const std::string& name, const Values& values) {
    std::string fresh = "[" + name + "]\r\n";
    for (const auto& item : values.Items()) fresh += item.first + "=" + item.second + "\r\n";
    fresh += "\r\n";
    std::string& text = machine->otherSections;
    size_t begin = 0, end = 0;
    if (SectionRange(text, name, &begin, &end)) {
        text.replace(begin, end - begin, fresh);
        return;
    }
    if (!text.empty() && text.back() != '\n') text += "\r\n";
    text += fresh;
}

std::vector<std::string> SectionNames(const Machine& machine) {
    std::vector<std::string> names;
    std::vector<RawSection> sections = Split(machine.otherSections);
    for (size_t i = 1; i < sections.size(); ++i) names.push_back(sections[i].name);
    return names;
}

bool RemoveSection(Machine* machine, const std::string& name) {
    size_t begin = 0, end = 0;
    if (!SectionRange(machine->otherSections, name, &begin, &end)) return false;
    machine->otherSections.erase(begin, end - begin);
    return true;
}

DefaultSection::DefaultSection(void (*fill)(Machine*)) { Registry<void (*)(Machine*)>().push_back(fill); }

void AddSubsystemDefaults(Machine* machine) {
    for (auto fill : Registry<void (*)(Machine*)>()) fill(machine);
}

MachineReset::MachineReset(void (*reset)()) { Registry<void (*)()>().push_back(reset); }

void ResetSubsystems() {
    for (auto reset : Registry<void (*)()>()) reset();
}

namespace {
struct SleepLossEntry {
    void (*lose)(Machine*);
};
}  // namespace

SleepLoss::SleepLoss(void (*lose)(Machine*)) { Registry<SleepLossEntry>().push_back({lose}); }

void LoseVolatileState(Machine* machine) {
    for (const SleepLossEntry& entry : Registry<SleepLossEntry>()) entry.lose(machine);
}

DeviceRestart::DeviceRestart(void (*restarted)(Machine*, const Node&)) {
    Registry<void (*)(Machine*, const Node&)>().push_back(restarted);
}

void RestartDevice(Machine* machine, const Node& node) {
    for (auto restarted : Registry<void (*)(Machine*, const Node&)>()) restarted(machine, node);
}

DevicePath::DevicePath(DeviceOpener opener) { Registry<DeviceOpener>().push_back(opener); }

DeviceInterfaces::DeviceInterfaces(InterfaceLister lister) { Registry<InterfaceLister>().push_back(lister); }

bool ListDeviceInterfaces(const Machine& machine, const GUID& interfaceClass, bool presentOnly,
                          std::vector<std::wstring>* paths) {
    for (InterfaceLister lister : Registry<InterfaceLister>())
        if (lister(machine, interfaceClass, presentOnly, paths)) return true;
    return false;
}

DriverFunctionEntry::DriverFunctionEntry(DWORD function, DriverFunction handler) {
    Registry<FunctionSlot>().push_back(FunctionSlot{function, handler});
}

DriverFunction FindDriverFunction(DWORD function) {
    for (const FunctionSlot& slot : Registry<FunctionSlot>())
        if (slot.function == function) return slot.handler;
    return nullptr;
}

CpuidEntry::CpuidEntry(CpuidSource source) { CpuidProvider() = source; }

HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile) {
    if (IsDevicePath(path)) {
        for (DeviceOpener opener : Registry<DeviceOpener>()) {
            std::unique_ptr<DeviceObject> object;
            DWORD error = ERROR_FILE_NOT_FOUND;
            if (!opener(path, &object, &error)) continue;
            if (!object) {
                SetLastError(error);
                return INVALID_HANDLE_VALUE;
            }
            HANDLE handle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
            if (!handle) return INVALID_HANDLE_VALUE;
            std::lock_guard<std::mutex> hold(g_handlesLock);
            OpenObjects()[handle] = std::move(object);
            return handle;
        }
    }
    return ::CreateFileW(path, access, share, security, disposition, flags, templateFile);
}

BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                            LPDWORD returned, LPOVERLAPPED overlapped) {
    DeviceObject* object = nullptr;
    {
        std::lock_guard<std::mutex> hold(g_handlesLock);
        auto it = OpenObjects().find(device);
        if (it != OpenObjects().end()) object = it->second.get();
    }
    if (!object) return ::DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
    DWORD count = 0;
    BOOL ok = object->Control(code, in, inSize, out, outSize, &count);
    if (returned) *returned = ok ? count : 0;
    return ok;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    std::unique_ptr<DeviceObject> object;
    {
        std::lock_guard<std::mutex> hold(g_handlesLock);
        auto it = OpenObjects().find(handle);
        if (it != OpenObjects().end()) {
            object = std::move(it->second);
            OpenObjects().erase(it);
        }
    }
    return ::CloseHandle(handle);
}

void WINAPI Cpuid(int regs[4], int leaf) {
    if (CpuidProvider())
        CpuidProvider()(regs, leaf);
    else
        __cpuid(regs, leaf);
}

const wchar_t* ResolveMachine(const wchar_t* file, wchar_t* scratch) {
    if (file && file[0]) return file;
    if (AttachedMachine()[0]) return AttachedMachine();
    return VnbConfiguredMachine(scratch, MAX_PATH) ? scratch : nullptr;
}

BOOL ExportResult(DWORD error) {
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

}  // namespace vnb
