#pragma once

// Applies the current scheme recorded in the scheme file in a user's profile
// folder. Returns 0, E_FAIL, or the failure code of a device switch.
long ApplyCurrentScheme(const wchar_t* folder);
