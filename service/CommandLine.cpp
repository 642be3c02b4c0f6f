#include "CommandLine.h"

#include <cwchar>

namespace {
struct TokenName {
    const wchar_t* name;
    CommandToken token;
};

constexpr TokenName kTokens[] = {
    {L"UnregServer", CommandToken::UnregServer},
    {L"RegServer", CommandToken::RegServer},
    {L"Service", CommandToken::Service},
};

CommandToken MatchToken(const wchar_t* candidate) {
    for (const TokenName& entry : kTokens)
        if (_wcsicmp(candidate, entry.name) == 0) return entry.token;
    return CommandToken::None;
}
}  // namespace

CommandToken ScanCommandLine(const wchar_t* commandLine) {
    if (!commandLine) return CommandToken::None;
    for (const wchar_t* p = commandLine; *p; ++p) {
        if (*p != L'-' && *p != L'/') continue;
        CommandToken token = MatchToken(p + 1);
        if (token != CommandToken::None) return token;
    }
    return CommandToken::None;
}
