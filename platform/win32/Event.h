// Win32 events and the waits on them, by their Windows names.
#pragma once

#include "Handle.h"

#define WAIT_OBJECT_0 0u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64

// A manual-reset event stays set until ResetEvent; an auto-reset one lets one wait through and
// clears itself. The name is not used (events are never shared between processes).
HANDLE CreateEventA(void* security, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED for a handle that is not an event.
DWORD WaitForSingleObject(HANDLE event, DWORD milliseconds);
// Without waitAll: WAIT_OBJECT_0 + the lowest index of a set event (an auto-reset one is cleared).
// With waitAll: WAIT_OBJECT_0 once all are set at the same time (auto-reset ones are then cleared).
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* events, BOOL waitAll, DWORD milliseconds);
