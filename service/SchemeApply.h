#pragma once
#include <windows.h>

// Applies the current scheme recorded in the scheme file in a user's profile folder
// ("<local application data>\Korvex\ZORA\Cfg") for the power source of the moment.
// Returns 0, E_FAIL, E_INVALIDARG (the folder is not an absolute path of an existing
// folder), or the failure code of a device-manager switch.
//
// Applications run one at a time, in the order they began: the last one to begin
// writes every setting last, so it wins.
long ApplyCurrentScheme(const wchar_t* folder);

// Runs ApplyCurrentScheme on a thread of its own (the control handler must not wait
// for the graphics helper). False when the thread cannot be started or the service is
// stopping.
bool ApplyCurrentSchemeInBackground(const wchar_t* folder);

// For the service's stop: no new application starts, the processor re-check ends, and
// the applications under way are waited for, at most waitMs. True when none is left.
bool StopApplying(DWORD waitMs);
