#include "DebugChannel.h"

#include <cstdarg>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

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
