#pragma once
#include <windows.h>

// Applies the current scheme recorded in the scheme file in a user's profile folder
// ("<local application data>\Korvex\ZORA\Cfg") for the power source of the moment.
// Returns 0, S_FALSE (applied in part: a value the catalogue does not offer was left
// out, CatalogueCheck.h), E_FAIL, E_INVALIDARG (the folder is not an absolute path of an
// existing folder), or the failure code of a device-manager switch. A power source that
// cannot be read applies nothing (E_FAIL).
//
// Applications run one at a time, in the order they began: the last one to begin
// writes every setting last, the network adapter's included, so it wins. No step holds
// an application for ever: the graphics helper and the network adapter's provider are
// waited for within bounds, and not at all once the service stops.
long ApplyCurrentScheme(const wchar_t* folder);

// Runs `task` in the same order as the applications: after everything that began
// earlier has ended. E_FAIL, without running it, once the service stops.
long RunInOrder(long (*task)(const void* argument), const void* argument);

// An event's application: runs ApplyCurrentScheme on the service's event thread (the
// control handler must not wait for the graphics helper), and returns at once. While an
// application runs, further events leave one application pending, for the latest
// folder. False when the thread cannot be started or the service is stopping.
bool ApplyCurrentSchemeInBackground(const wchar_t* folder);

// For the service's stop: no application begins any more and the pending one is
// dropped; the one under way, the network adapter's last request and the processor
// re-check are waited for, at most waitMs in all. True when none is left.
bool StopApplying(DWORD waitMs);
