#pragma once
// Device handles that copies of an agent share. Copying an agent copies its handle
// value, so both objects hold the same handle; each holder counts once here, and only
// the last one to let go closes the handle (through the system-API table). Without the
// count the first destructor would close the handle under the other copy, and the
// second would close whatever handle the system had handed out under that value since.
// Internal to the library; safe from any thread.
#include <windows.h>

namespace shared_handle {

// One more holder of an open handle: at opening, and at every copy. Null and
// INVALID_HANDLE_VALUE are ignored.
void Hold(HANDLE handle);

// One holder less; the last one closes the handle. Null and INVALID_HANDLE_VALUE are
// ignored.
void Release(HANDLE handle);

}  // namespace shared_handle
