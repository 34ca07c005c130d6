// Delivers an output pin's samples, ends of stream and segments downstream on a thread of its
// own, in order, so that the filter goes on working while the filter below holds a sample (a
// renderer that waits for its reader). The samples waiting are bounded by the pin's allocator.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "Strmif.h"

class COutputQueue {
public:
    // Delivers to `pin` and its IMemInputPin `input`, which the queue holds while it lives. With
    // `refused`, the first delivery that fails drops what waits and calls it on the queue's thread,
    // so that the filter above learns of it at once rather than at its next sample.
    COutputQueue(IPin* pin, IMemInputPin* input, std::function<void()> refused = nullptr);
    // Gives back what waits and ends the thread.
    ~COutputQueue();
    COutputQueue(const COutputQueue&) = delete;
    COutputQueue& operator=(const COutputQueue&) = delete;

    // Queues the sample (with a reference of its own); S_FALSE while flushing, or the failure
    // of an earlier delivery, which ends the stream for the filter above as a refusal does.
    HRESULT Receive(IMediaSample* sample);
    HRESULT EndOfStream();
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
    // Drops what waits and passes the flush on, which frees a delivery that the filter below holds.
    HRESULT BeginFlush();
    // Once the thread delivers nothing more, passes the end of the flush on.
    HRESULT EndFlush();

private:
    enum class Kind { Sample, EndOfStream, NewSegment };
    struct Item {
        Kind kind;
        IMediaSample* sample;  // counted
        REFERENCE_TIME start, stop;
        double rate;
    };

    HRESULT Queue(const Item& item);
    void Run();
    void DropWaiting();

    IPin* const m_pPin;
    IMemInputPin* const m_pInput;
    const std::function<void()> m_OnRefused;
    std::mutex m_Lock;
    std::condition_variable m_Changed;
    std::deque<Item> m_Items;
    bool m_bDelivering = false;
    bool m_bFlushing = false;
    bool m_bExit = false;
    HRESULT m_Refused = S_OK;  // the first delivery that failed since the last flush
    std::thread m_Thread;
};
