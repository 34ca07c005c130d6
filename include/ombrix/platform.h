// Optional hooks for Linux hosts.
#pragma once

#ifndef OMBRIX_API
#define OMBRIX_API __attribute__((visibility("default")))
#endif

// Receives every diagnostic message of the library, as formatted, from any thread.
typedef void (*Ombrix_DebugSink)(const char* text, void* context);

// Installs the sink (null removes it; messages are then dropped).
OMBRIX_API void Ombrix_SetDebugSink(Ombrix_DebugSink sink, void* context);
