// Streaming through the base classes: a source's thread delivering to a renderer (and through a
// transform), state changes, flushing and end of stream, driven by hand without a graph.
#include <gtest/gtest.h>

#include "DShowTestFilters.h"

using namespace dshowtest;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgPointee;

class DShowStreaming : public ::testing::Test {
protected:
    void SetUp() override
    {
        renderer->JoinFilterGraph(&graph, L"renderer");
        source->JoinFilterGraph(&graph, L"source");
    }
    void TearDown() override
    {
        if (transform)
            TakeDown({renderer, transform, source},
                     {source->m_pStream, transform->InputPin(), transform->OutputPin(), &renderer->m_Pin});
        else
            TakeDown({renderer, source}, {source->m_pStream, &renderer->m_Pin});
    }
    void Connect() { ASSERT_EQ(S_OK, source->m_pStream->Connect(&renderer->m_Pin, nullptr)); }
    // Connected and paused, renderer first as a graph does: the first sample completes the pause
    // without being rendered, and the streaming thread waits in Receive.
    void PauseWithASampleWaiting()
    {
        Connect();
        EXPECT_EQ(S_FALSE, renderer->Pause());
        ASSERT_EQ(S_OK, source->Pause());
        FILTER_STATE state;
        ASSERT_EQ(S_OK, renderer->GetState(Patience, &state));
        EXPECT_EQ(State_Paused, state);
        EXPECT_TRUE(renderer->Rendered().empty());
    }
    // Source, transform and renderer in a row, connected.
    void Chain(bool queued)
    {
        transform = new TestTransform(GUID_NULL, MEDIASUBTYPE_RGB32, MEDIASUBTYPE_RGB32);
        transform->AddRef();
        if (queued)
            transform->OutputPin()->UseQueue();
        transform->JoinFilterGraph(&graph, L"transform");
        EXPECT_EQ(S_OK, source->m_pStream->Connect(transform->InputPin(), nullptr));
        EXPECT_EQ(S_OK, transform->OutputPin()->Connect(&renderer->m_Pin, nullptr));
    }
    void Run()
    {
        for (IBaseFilter* filter : std::initializer_list<IBaseFilter*>{renderer, transform, source})
            filter->Run(0);
    }
    bool Completed() { return graph.m_Complete.Wait(Patience); }

    EventGraph graph;
    TestSource* source = new TestSource(5);
    TestRenderer* renderer = new TestRenderer;
    TestTransform* transform = nullptr;
};

// No clock: after the pause every sample renders on arrival, even an hour ahead of its time stamp,
// then the end of stream that FillBuffer's S_FALSE sent becomes EC_COMPLETE naming the renderer.
TEST_F(DShowStreaming, PausedRendererHoldsTheFirstSampleUntilRunThenRendersAtOnce)
{
    source->m_pStream->m_TimeOffset = 3600 * UNITS;
    PauseWithASampleWaiting();
    ASSERT_EQ(S_OK, renderer->Run(0));
    source->Run(0);
    ASSERT_TRUE(Completed());
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4}), renderer->Rendered());
    EXPECT_TRUE(renderer->m_bLocksHeld && renderer->m_bOnOtherThread);
    const EventGraph::Event complete{EC_COMPLETE, S_OK, LONG_PTR(static_cast<IBaseFilter*>(renderer))};
    EXPECT_EQ(std::vector{complete}, graph.Events());
}

TEST_F(DShowStreaming, BeginFlushFreesAReceiveThatWaits)
{
    PauseWithASampleWaiting();
    ASSERT_EQ(S_OK, source->m_pStream->DeliverBeginFlush());
    // Flushed while paused: waiting for data again, and the source's next delivery is refused,
    // which ends its loop.
    FILTER_STATE state;
    EXPECT_EQ(VFW_S_STATE_INTERMEDIATE, renderer->GetState(0, &state));
    EXPECT_EQ(S_OK, source->m_pStream->DeliverEndFlush());
    EXPECT_TRUE(renderer->Rendered().empty() && graph.Events().empty());
}

TEST_F(DShowStreaming, EndOfStreamAndErrorsReachTheGraph)
{
    // Unconnected: Run reports the end at once.
    EXPECT_EQ(S_OK, renderer->Run(0));
    EXPECT_TRUE(Completed());
    renderer->Stop();

    Connect();
    CMemAllocator* allocator = static_cast<CMemAllocator*>(source->m_pStream->Allocator());
    renderer->Run(0);
    allocator->Commit();
    EXPECT_EQ(S_OK, renderer->m_Pin.EndOfStream());
    // A sample after the end of stream is refused and aborts the stream.
    IMediaSample* sample;
    ASSERT_EQ(S_OK, allocator->GetBuffer(&sample, nullptr, nullptr, 0));
    EXPECT_EQ(E_UNEXPECTED, renderer->m_Pin.Receive(sample));
    sample->Release();
    const auto events = graph.Events();
    ASSERT_EQ(3u, events.size());
    EXPECT_EQ(std::tuple(EC_COMPLETE, EC_ERRORABORT, LONG_PTR(E_UNEXPECTED)),
              std::tuple(std::get<0>(events[1]), std::get<0>(events[2]), std::get<1>(events[2])));
    renderer->Stop();
    // Stopped: nothing is taken.
    EXPECT_EQ(VFW_E_WRONG_STATE, renderer->m_Pin.EndOfStream());
    allocator->Decommit();
}

// Seeking passes upstream through the transform, and is not implemented while no pin upstream seeks.
TEST_F(DShowStreaming, TransformEmitsFreelyAndPassesSeekingAndTheEnd)
{
    Chain(false);
    // The output has an allocator of its own.
    EXPECT_NE(source->m_pStream->Allocator(), transform->OutputPin()->Allocator());

    IMediaSeeking* seeking;
    ASSERT_EQ(S_OK, renderer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)));
    LONGLONG stop = 0;
    EXPECT_EQ(E_NOTIMPL, seeking->GetStopPosition(&stop));
    MockSeeking upstream;
    source->m_pStream->m_pSeeking = &upstream;
    // Also asked by the renderer at the end of the stream.
    EXPECT_CALL(upstream, GetStopPosition).WillRepeatedly(DoAll(SetArgPointee<0>(99), Return(S_OK)));
    EXPECT_EQ(S_OK, seeking->GetStopPosition(&stop));
    EXPECT_EQ(99, stop);
    seeking->Release();

    Run();
    ASSERT_TRUE(Completed());
    EXPECT_EQ((std::vector<int>{1, 2, 2, 4}), renderer->Rendered());
}

// A queued output goes on taking input while the renderer holds a sample, delivers in order, and
// stops cleanly.
TEST_F(DShowStreaming, AQueuedTransformWorksOnWhileTheRendererHolds)
{
    Chain(true);
    renderer->m_Gate.Reset();
    Run();
    ASSERT_TRUE(renderer->m_Entered.Wait(Patience));
    // Held: output 1 (input 1). Unqueued, the transform would wait in its delivery of it.
    EXPECT_EQ(std::vector<int>{1}, renderer->Rendered());
    EXPECT_TRUE(Eventually([&] { return transform->m_Received >= 3; }));
    renderer->m_Gate.Set();
    ASSERT_TRUE(Completed());
    EXPECT_EQ((std::vector<int>{1, 2, 2, 4}), renderer->Rendered());
}
