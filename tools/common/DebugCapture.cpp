#include "DebugCapture.h"

#include <windows.h>

#include <mutex>

namespace {
constexpr DWORD kPrintException = 0x40010006;  // DBG_PRINTEXCEPTION_C

std::mutex g_lock;
std::vector<std::string> g_lines;
FILE* g_echo = nullptr;
PVOID g_handler = nullptr;

LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode != kPrintException || record->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
    const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    size_t length = static_cast<size_t>(record->ExceptionInformation[0]);
    if (!text) return EXCEPTION_CONTINUE_SEARCH;
    std::string line(text, length ? length - 1 : 0);
    std::lock_guard<std::mutex> hold(g_lock);
    g_lines.push_back(line);
    if (g_echo) {
        fprintf(g_echo, "%s", line.c_str());
        if (line.empty() || line.back() != '\n') fputc('\n', g_echo);
        fflush(g_echo);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}
}  // namespace

namespace DebugCapture {
void Start(FILE* echo) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_echo = echo;
    if (!g_handler) g_handler = AddVectoredExceptionHandler(1, OnException);
}

void Stop() {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_handler) RemoveVectoredExceptionHandler(g_handler);
    g_handler = nullptr;
    g_echo = nullptr;
}

void Clear() {
    std::lock_guard<std::mutex> hold(g_lock);
    g_lines.clear();
}

std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_lines;
}

bool Contains(const std::string& text) {
    std::lock_guard<std::mutex> hold(g_lock);
    for (const auto& line : g_lines)
        if (line.find(text) != std::string::npos) return true;
    return false;
}
}  // namespace DebugCapture
