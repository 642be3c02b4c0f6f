#pragma once
// The profile folder a request names (task 3). The service runs with system rights and
// any local program may post a request, so the service takes no folder but the one it
// computes itself for its own events: the scheme folder of the user at the console.
#include <windows.h>

// The scheme folder of the token's user, "<local application data>\Korvex\ZORA\Cfg";
// false (with the failure logged) when the user has none.
bool UserSchemeFolder(HANDLE token, wchar_t (&folder)[MAX_PATH]);

// Whether the scheme of `folder` may be applied for a request, decided before anything
// is opened: S_OK for the console user's scheme folder (letter case aside, one trailing
// backslash allowed) when it exists as a folder of its own (no link elsewhere);
// E_INVALIDARG for a text that can be no path (empty, over-long, a control character or
// one of <>"|?*, a colon but after the drive letter); E_ACCESSDENIED for every other
// path: relative, UNC, "\\?\" and "\\.\" forms, another user's folder or any other,
// and every folder while nobody is at the console. A refusal is logged.
long CheckRequestedSchemeFolder(const wchar_t* folder);
