#pragma once
#include "ZORABase.h"

// Typed access to a machine-wide INI file in the installation's cfg\ folder.
// Nothing is cached: every read and write goes to the file.
class ZORADLL_API CZORACfg : public CZORABase {
public:
    CZORACfg();
    CZORACfg(const CZORACfg&) = default;
    CZORACfg& operator=(const CZORACfg&) = default;
    unsigned long GetVersion() override;
    ~CZORACfg() override;

    // <home>\cfg\<fileName>, else <SDKFolder>cfg\<fileName> from the installation key (ZoraInstallKey.h).
    // 1 when the file exists at the chosen path.
    int Initialize(const wchar_t* fileName);
    const wchar_t* GetFullPath();
    wchar_t* GetDllPath(wchar_t* buffer, int size);
    wchar_t* GetHomePath(wchar_t* buffer, int size);

    int GetInt(const wchar_t* section, const wchar_t* key, int defaultValue);
    int PutInt(const wchar_t* section, const wchar_t* key, int value);
    int GetString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                  wchar_t* out, int size);
    int PutString(const wchar_t* section, const wchar_t* key, const wchar_t* value);
    // Values written "0x" and hex digits; anything else reads as the default.
    int GetHex(const wchar_t* section, const wchar_t* key, int defaultValue);
    int PutHex(const wchar_t* section, const wchar_t* key, int value);

protected:
    wchar_t m_szPath[260];
};

// The same access to a per-user file in <local application data>\Korvex\ZORA\Cfg,
// or in a folder the caller names (the service names the user's folder).
class ZORADLL_API CZORAProfile : public CZORACfg {
public:
    CZORAProfile() = default;
    CZORAProfile(const CZORAProfile&) = default;
    CZORAProfile& operator=(const CZORAProfile&) = default;
    unsigned long GetVersion() override;
    ~CZORAProfile() override;

    // Creates the folder and an empty file where missing; 1 when the file exists then.
    int Initialize(const wchar_t* fileName, const wchar_t* folder);
    // The calling user's profile folder.
    wchar_t* GetHomePath(wchar_t* buffer, int size);
};
