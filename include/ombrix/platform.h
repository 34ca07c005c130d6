// Optional hooks for Linux hosts.
#pragma once

#include "OmbrixTypes.h"

// Receives every diagnostic message of the library, as formatted, from any thread, one call at
// a time: it must not wait for another thread that uses the library. It may call into the
// library itself; the messages that causes are dropped.
typedef void (*Ombrix_DebugSink)(const char* text, void* context);

// Installs the sink (null removes it; messages are then dropped). Once it returns, the sink
// before is not called again and its context may be freed (from inside that sink, after its
// own call returns).
OMBRIX_API void Ombrix_SetDebugSink(Ombrix_DebugSink sink, void* context);

// One setting of a codec or of the multiplexer, as its settings frame shows it: an integer within
// a range, under a name such as "Quality" or "Key-frame interval".
struct Ombrix_Setting {
    const char* name;
    int value;
    int minimum;
    int maximum;
};

// Shows a filter's settings under the caption, for the host to change: on return the filter takes
// the values (each kept within its range). Called on the thread that asked for the frame.
typedef void (*Ombrix_PropertyFrame)(HWND parent, const char* caption, Ombrix_Setting* settings, unsigned int count,
                                     void* context);

// Installs the callback that stands for a codec's settings dialog (null removes it: settings
// frames then show nothing and change nothing).
OMBRIX_API void Ombrix_SetPropertyFrame(Ombrix_PropertyFrame frame, void* context);
