#include "DebugChannel.h"

#include <mutex>

#include "ombrix/platform.h"

namespace {
std::mutex sinkLock;
Ombrix_DebugSink sink = nullptr;
void* sinkContext = nullptr;
}  // namespace

void Ombrix_SetDebugSink(Ombrix_DebugSink newSink, void* context)
{
    std::lock_guard<std::mutex> guard(sinkLock);
    sink = newSink;
    sinkContext = context;
}

void OutputDebugStringA(const char* text)
{
    std::lock_guard<std::mutex> guard(sinkLock);
    if (sink)
        sink(text, sinkContext);
}
