#pragma once
#include <windows.h>

// The routine behind the hardware-profile, device, power and session controls of the
// service's control handler. Its result is what the handler gives back to the system.
DWORD OnServiceEvent(DWORD control, DWORD eventType, void* eventData);
