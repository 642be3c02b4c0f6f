#pragma once
// The installation key, HKLM\Software\Korvex\ZORA, and the names of its values. Every
// reader and writer opens it in the 64-bit registry view (KEY_WOW64_64KEY), so the
// 32-bit and the 64-bit library see one installation.

// Under HKEY_LOCAL_MACHINE.
#define ZORA_INSTALL_KEY L"Software\\Korvex\\ZORA"

// REG_SZ or REG_EXPAND_SZ: the installation folder (the installer writes it with a
// trailing backslash); the library looks there, in cfg\, for a configuration file that
// is not in its own home.
#define ZORA_INSTALL_SDK_FOLDER L"SDKFolder"

// REG_SZ: the machine file of a machine provider (the virtual notebook). Absent or
// empty: the library uses the real system.
#define ZORA_INSTALL_MACHINE_FILE L"VirtualNotebook"

// REG_SZ: the file name of the provider module that answers for that machine, looked up
// in ZORADLL's own folder (for example "ZoraVnb.dll"). Absent, empty, or not a bare
// file name: the library uses the real system.
#define ZORA_INSTALL_PROVIDER_MODULE L"VirtualNotebookModule"
