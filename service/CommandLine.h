#pragma once

enum class CommandToken { None, UnregServer, RegServer, Service };

// The switch that decides what the program does. Every '-' or '/' of the command
// line, the program path included, starts a candidate; the whole rest of the line
// after it is compared case-insensitively with the token names, so a switch counts
// only when it ends the line. The first matching candidate decides.
CommandToken ScanCommandLine(const wchar_t* commandLine);
