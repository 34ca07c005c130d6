// Double-precision results truncated into 32-bit fields, saturating instead of overflowing
// when a damaged file gives absurd values.
#pragma once

#include "platform/win32/Win32Types.h"

inline DWORD TruncateToDWORD(double x)
{
    if (!(x > 0))
        return 0;
    return x >= 4294967295.0 ? 0xFFFFFFFFu : (DWORD)x;
}
