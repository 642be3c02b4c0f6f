#pragma once
// The user's scheme file as every reader sees it: how a stored value is read and how far
// the file may go. The library writes and reads it, the service and the tools read it;
// all of them read values by this one rule, so they never disagree about a value.

namespace zora_scheme_file {

// [Schemes] SchemeMaxIndex may be -1 (no index yet) or 0 to this; anything beyond is a
// corrupt file, refused at once rather than listed index by index.
inline constexpr int kMaxSchemeIndex = 1023;

// A scheme file longer than this is corrupt: a thousand schemes of every variable take
// about a megabyte.
inline constexpr unsigned long kMaxFileBytes = 4ul * 1024 * 1024;

// A stored value: a signed decimal number of 32 bits, blanks around it allowed. Anything
// else (empty, letters, "1e9", hex, beyond 32 bits) is no value at all: false.
constexpr bool ReadStored(const wchar_t* text, int* value) {
    if (!text) return false;
    while (*text == L' ' || *text == L'\t') ++text;
    bool negative = *text == L'-';
    if (negative) ++text;
    if (*text < L'0' || *text > L'9') return false;
    long long number = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        number = number * 10 + (*text - L'0');
        if (number > 2147483648LL) return false;
    }
    while (*text == L' ' || *text == L'\t') ++text;
    if (*text) return false;
    if (negative) number = -number;
    if (number > 2147483647LL) return false;
    *value = static_cast<int>(number);
    return true;
}

// The stored value, or -1 ("not set", as an absent key) for anything that is not one.
constexpr int StoredValue(const wchar_t* text) {
    int value = -1;
    return ReadStored(text, &value) ? value : -1;
}

static_assert(StoredValue(L" -65536 ") == -65536 && StoredValue(L"2147483647") == 2147483647);
static_assert(StoredValue(L"-2147483648") == -2147483647 - 1 && StoredValue(L"2147483648") == -1);
static_assert(StoredValue(L"zz") == -1 && StoredValue(L"1e9") == -1 && StoredValue(L"0x10") == -1);
static_assert(StoredValue(L"") == -1 && StoredValue(L"-") == -1 && StoredValue(L"7 7") == -1);

}  // namespace zora_scheme_file
