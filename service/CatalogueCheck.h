#pragma once
// The power-setting catalogue's word on a value before the service pushes it into the
// hardware. The scheme file is the user's (any program of the user can write it), so a
// value the catalogue does not offer for its variable is not applied: the device keeps
// its state, the log names the variable and the value, and the application reports that
// it applied the scheme only in part.
#include <windows.h>

#include <memory>

class CatalogueCheck {
public:
    // The catalogue: the power-setting file, by its full path. Its allowed values are read
    // once and again only when the file changes.
    explicit CatalogueCheck(const wchar_t* catalogueFile);
    // Whether the catalogue offers the value for the variable (a number of
    // ZoraPowerVariables.h): one of its "ValueOption%d" below "OptionNumber". A value
    // that is not set (-1) is nothing to refuse. A refusal is logged and remembered.
    bool Allows(int number, int value);
    // Whether any value was refused.
    bool Refused() const { return m_refused; }

    struct Table;

private:
    std::shared_ptr<const Table> m_table;
    bool m_refused = false;
};
