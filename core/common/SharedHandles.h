#pragma once
// Handles that copies of an exported object share: the agents' device handles, the
// board's kernel objects. Copying such an object copies its handle values (its layout is
// the library's binary interface, so it cannot hold an owner), so both objects hold the
// same handles; each holder counts once here, and only the last one to let go closes a
// handle. Without the count the first destructor would close a handle under the other
// copy, and the second would close whatever handle the system had handed out under that
// value since. Internal to the library; safe from any thread.
#include <windows.h>

namespace shared_handle {

// How the last holder closes a handle.
typedef void (*Closer)(HANDLE handle);
// A device path opened through the system-API table: closed through the same table.
void CloseDevice(HANDLE handle);
// Any other kernel object: CloseHandle.
void CloseKernel(HANDLE handle);

// One more holder of an open handle: at opening, and at every copy. Null and
// INVALID_HANDLE_VALUE are ignored.
void Hold(HANDLE handle);

// One holder less; the last one closes the handle. Null and INVALID_HANDLE_VALUE are
// ignored.
void Release(HANDLE handle, Closer close = CloseDevice);

// An assignment of one holder to another: *target takes a hold of `source` and lets go
// of what it held, in that order, so that assigning a handle to its own holder changes
// no count.
void Assign(HANDLE* target, HANDLE source, Closer close = CloseDevice);

}  // namespace shared_handle
