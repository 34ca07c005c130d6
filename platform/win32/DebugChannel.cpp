#include "DebugChannel.h"

#include <cstdarg>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

#include "ombrix/platform.h"

namespace {
// Held while the sink runs, so that calls come one at a time and removing the sink waits for
// the call in flight. Recursive, so that a sink may replace or remove itself.
std::recursive_mutex sinkLock;
Ombrix_DebugSink sink = nullptr;
void* sinkContext = nullptr;
// Set while this thread runs the sink: a message the sink itself causes is dropped, instead of
// calling the sink again from inside itself.
thread_local bool insideSink = false;
}  // namespace

void Ombrix_SetDebugSink(Ombrix_DebugSink newSink, void* context)
{
    std::lock_guard<std::recursive_mutex> guard(sinkLock);
    sink = newSink;
    sinkContext = context;
}

void OutputDebugStringA(const char* text)
{
    if (insideSink)
        return;
    std::lock_guard<std::recursive_mutex> guard(sinkLock);
    if (!sink)
        return;
    insideSink = true;
    struct Leave {
        ~Leave() { insideSink = false; }
    } leave;
    sink(text, sinkContext);
}

namespace {

void forwardFFmpegMessage(void* context, int level, const char* format, va_list args)
{
    if (level > av_log_get_level() || level > AV_LOG_WARNING)
        return;
    char line[1024];
    int prefix = 1;
    av_log_format_line2(context, level, format, args, line, sizeof line, &prefix);
    OutputDebugStringA(line);
}

}  // namespace

void RouteFFmpegMessages()
{
    static std::once_flag installed;
    std::call_once(installed, [] { av_log_set_callback(forwardFFmpegMessage); });
}
