// The debugger output channel. Text goes to the sink a host installed (Ombrix_SetDebugSink);
// without one it is dropped.
#pragma once

void OutputDebugStringA(const char* text);

// FFmpeg's own messages (warnings and worse) go to the same channel instead of stderr. Called
// before the platform first uses FFmpeg; installed once.
void RouteFFmpegMessages();
