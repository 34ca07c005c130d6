#include "Handle.h"

#include <memory>

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

BOOL CloseHandle(HANDLE handle)
{
    std::unique_ptr<KernelObject> object(ObjectOf(handle));
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return object->Close();
}

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD error) { lastError = error; }
