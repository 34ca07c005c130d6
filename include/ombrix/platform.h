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

// Receives each DV frame sent to a device: 120,000 bytes (NTSC) or 144,000 (PAL), on the DV
// output's streaming thread.
typedef void (*Ombrix_DVFrameSink)(const unsigned char* frame, unsigned int size, void* context);

// A DV device under a friendly name that contains "DV"; each frame sent goes to the sink, on the
// output's streaming thread. False when the name is empty, lacks "DV" or is taken.
OMBRIX_API bool Ombrix_AddDVDevice(const char* friendlyName, Ombrix_DVFrameSink sink, void* context);
// A DV device that writes the raw DV stream to a file, made (or emptied) as an output starts.
OMBRIX_API bool Ombrix_AddDVDeviceFile(const char* friendlyName, const char* path);
// Outputs built before keep the device they found.
OMBRIX_API void Ombrix_RemoveDVDevice(const char* friendlyName);
