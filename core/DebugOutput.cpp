#include "DebugOutput.h"

#include <cstdarg>
#include <cstdio>

#include "platform/win32/DebugChannel.h"

// Longer messages are cut at the buffer's end; vsnprintf always terminates.
void DebugOutput(const char* format, ...)
{
    char text[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    OutputDebugStringA(text);
}
