#pragma once
// Receives this process's debugger output the way a debugger does: OutputDebugString
// raises DBG_PRINTEXCEPTION_C, and a vectored handler sees it before the system's
// own handler swallows it.
#include <cstdio>
#include <string>
#include <vector>

namespace DebugCapture {
// Starts collecting; with echo set, every line is also written to that stream.
void Start(FILE* echo = nullptr);
void Stop();
void Clear();
std::vector<std::string> Lines();
bool Contains(const std::string& text);
}  // namespace DebugCapture
