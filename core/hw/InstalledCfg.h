#pragma once
// The hardware configuration files ("HubraCfg.ini", "USBCfg.ini", "CPUCfg.ini") as the
// hub and processor agents read them. Internal to the library.
//
// A switch of one hub function or USB port looks up some twenty keys, and every profile
// call checks the file again (about 0.2 ms each under Wine), so a full application
// would spend most of its own time there. The file is therefore read whole through the
// system's profile functions (its section names, then each section) and the copy kept
// for the module while the file stays as it was: same path, size and last-write time.
// Every use still finds the file as `CZORACfg::Initialize` does and compares those
// three; a changed file is read again at once.
//
// File times are only as fine as the file system keeps them: a change made within the
// same tick as an earlier one, keeping the size, would look unchanged. So a copy is only
// kept when the file was last written at least two seconds before it was read; a file
// changed just now is read again at every use until it has settled.
//
// Look-ups follow the profile functions' rules: section and key names without regard to
// case (surrounding blanks of the requested name ignored), the first of duplicate
// sections or keys, comment lines never a key, a key without "=" not set, surrounding
// quotes dropped from a string, an integer read as GetPrivateProfileIntW reads it.
#include <windows.h>

#include <memory>

namespace hw {

struct CfgContents;

class InstalledCfg {
public:
    // False when the file is not installed (as CZORACfg::Initialize finds it).
    bool Open(const wchar_t* fileName);

    int GetInt(const wchar_t* section, const wchar_t* key, int fallback) const;
    // "0x" and hex digits; anything else, or fewer than 3 characters, is fallback.
    int GetHex(const wchar_t* section, const wchar_t* key, int fallback) const;
    // Copies at most size - 1 characters and a terminator; returns the length copied.
    int GetString(const wchar_t* section, const wchar_t* key, const wchar_t* fallback, wchar_t* out,
                  int size) const;

private:
    std::shared_ptr<const CfgContents> m_contents;
};

}  // namespace hw
