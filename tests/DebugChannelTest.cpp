// The diagnostic channel with a host's sink: a sink that calls into the library, a sink removed
// while another thread logs, and messages longer than the channel's buffer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "TestSupport.h"
#include "core/DebugOutput.h"

namespace {

TEST(DebugChannel, SinkMayLogAndRemoveItself)
{
    // What the sink emits is dropped (no deadlock, no call from inside its own call); removing
    // itself from inside takes effect for the next message.
    std::vector<std::string> lines;
    Ombrix_SetDebugSink(
        [](const char* text, void* context) {
            static_cast<std::vector<std::string>*>(context)->push_back(text);
            DebugOutput("from the sink %s", text);
            Ombrix_SetDebugSink(nullptr, nullptr);
        },
        &lines);
    DebugOutput("first %d\n", 1);
    DebugOutput("second\n");
    EXPECT_EQ(lines, std::vector<std::string>{"first 1\n"});
}

TEST(DebugChannel, OverlongMessagesAreCut)
{
    MessageLog log;
    DebugOutput("%s", std::string(5000, 'x').c_str());
    EXPECT_EQ(log.lines, std::vector<std::string>{std::string(4095, 'x')});
}

TEST(DebugChannel, RemovalWaitsForTheCallInFlight)
{
    struct Sink {
        std::atomic<bool> entered = false, removing = false, removed = false;
        std::atomic<int> callsAfterRemoval = 0, logsAfterRemoval = 0;
    } sink;
    Ombrix_SetDebugSink(
        [](const char*, void* context) {
            Sink& s = *static_cast<Sink*>(context);
            s.callsAfterRemoval += s.removed;
            if (s.entered.exchange(true))
                return;
            // The first call stays while the removal starts, long enough for a removal that
            // does not wait to return and be seen from here.
            while (!s.removing)
                std::this_thread::yield();
            for (int i = 0; i < 100 && !s.removed; i++)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            s.callsAfterRemoval += s.removed;
        },
        &sink);
    // The logger goes on until it has logged many times after the removal.
    std::thread logger([&] {
        while (sink.logsAfterRemoval < 1000) {
            const bool after = sink.removed;
            DebugOutput("tick\n");
            sink.logsAfterRemoval += after;
        }
    });
    while (!sink.entered)
        std::this_thread::yield();
    sink.removing = true;
    Ombrix_SetDebugSink(nullptr, nullptr);
    sink.removed = true;  // from here the context counts as freed
    logger.join();
    EXPECT_EQ(sink.callsAfterRemoval, 0);
}

}  // namespace
