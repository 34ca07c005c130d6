// What a HANDLE points to: a kernel object that CloseHandle closes and frees, whatever its kind
// (a file, an event).
#pragma once

#include "Win32Types.h"

struct KernelObject {
    virtual ~KernelObject() = default;
    // Releases what the object holds; FALSE with the last error set when that fails.
    virtual BOOL Close() { return TRUE; }
};

inline KernelObject* ObjectOf(HANDLE handle)
{
    return handle && handle != INVALID_HANDLE_VALUE ? static_cast<KernelObject*>(handle) : nullptr;
}

BOOL CloseHandle(HANDLE handle);
DWORD GetLastError();
void SetLastError(DWORD error);
