// The library's diagnostic channel: printf-style text to the debugger output.
#pragma once

void DebugOutput(const char* format, ...) __attribute__((format(printf, 1, 2)));
