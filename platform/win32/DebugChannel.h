// The debugger output channel. Text goes to the sink a host installed (Ombrix_SetDebugSink);
// without one it is dropped.
#pragma once

void OutputDebugStringA(const char* text);
