// Optional hooks for Linux hosts.
#pragma once

#ifndef OMBRIX_API
#define OMBRIX_API __attribute__((visibility("default")))
#endif

// Receives every diagnostic message of the library, as formatted, from any thread, one call at
// a time: it must not wait for another thread that uses the library. It may call into the
// library itself; the messages that causes are dropped.
typedef void (*Ombrix_DebugSink)(const char* text, void* context);

// Installs the sink (null removes it; messages are then dropped). Once it returns, the sink
// before is not called again and its context may be freed (from inside that sink, after its
// own call returns).
OMBRIX_API void Ombrix_SetDebugSink(Ombrix_DebugSink sink, void* context);
