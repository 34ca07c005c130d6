// A filter with one input and one output pin that turns each input sample into output samples,
// as a decoder does. The output pin has its own allocator, agreed with the downstream pin.
//
// Two locks: the filter lock for control calls and the receive lock, held while a sample is
// processed on the streaming thread.
#pragma once

#include <memory>
#include <mutex>

#include "OutputQueue.h"

#include <atomic>

#include "BaseInputPin.h"
#include "BaseOutputPin.h"
#include "PosPassThru.h"

class CTransformFilter;

class CTransformInputPin : public CBaseInputPin {
public:
    CTransformInputPin(const char* name, CTransformFilter* filter, HRESULT* result, LPCWSTR pinName);

    HRESULT CheckConnect(IPin* pin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    // The filter's input check, and the transform to the output type once that is connected.
    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT SetMediaType(const CMediaType* type) override;
    // VFW_E_NOT_CONNECTED while the output pin is unconnected.
    HRESULT CheckStreaming() override;

    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    CTransformFilter* const m_pTransformFilter;
};

class CTransformOutputPin : public CBaseOutputPin {
public:
    CTransformOutputPin(const char* name, CTransformFilter* filter, HRESULT* result, LPCWSTR pinName);
    ~CTransformOutputPin() override;

    // Adds IMediaSeeking, passed to the input pin's upstream pin.
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT CheckConnect(IPin* pin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    // Only once the input is connected, through the filter's CheckTransform and GetMediaType.
    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT SetMediaType(const CMediaType* type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

    // With a queue, what the filter delivers goes downstream on a thread of the pin's own while
    // the pin is active (see COutputQueue).
    void UseQueue() { m_bQueued = true; }
    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT Deliver(IMediaSample* sample) override;
    HRESULT DeliverEndOfStream() override;
    HRESULT DeliverBeginFlush() override;
    HRESULT DeliverEndFlush() override;
    HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    std::shared_ptr<COutputQueue> Queue();

    CTransformFilter* const m_pTransformFilter;
    CPosPassThru* const m_pPosition;
    bool m_bQueued = false;
    std::mutex m_QueueLock;
    std::shared_ptr<COutputQueue> m_pQueue;  // while active, when queued
};

class CTransformFilter : public CBaseFilter {
public:
    CTransformFilter(const char* name, IUnknown* outer, REFCLSID clsid);
    ~CTransformFilter() override;

    int GetPinCount() override { return 2; }
    // 0 is the input pin, 1 the output pin. Both live as long as the filter: streaming threads
    // reach them without the filter lock.
    CBasePin* GetPin(int n) override;
    // Makes the input inactive before taking the receive lock, so that a Receive in progress ends.
    HRESULT Stop() override;
    HRESULT Pause() override;

    // Hooks of a derived filter.
    virtual HRESULT CheckInputType(const CMediaType* input) = 0;
    virtual HRESULT CheckTransform(const CMediaType* input, const CMediaType* output) = 0;
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
    // The output types proposed, from 0 on (VFW_S_NO_MORE_ITEMS past the last).
    virtual HRESULT GetMediaType(int position, CMediaType* type) = 0;
    // One output sample per input sample: S_OK delivers it, S_FALSE drops it. A filter that emits
    // any number of samples overrides Receive instead and delivers through OutputPin().
    virtual HRESULT Transform(IMediaSample* input, IMediaSample* output) { return E_UNEXPECTED; }
    // On the streaming thread, with the receive lock held, after the input pin's checks.
    virtual HRESULT Receive(IMediaSample* sample);
    // An output buffer with the input's times and flags.
    HRESULT InitializeOutputSample(IMediaSample* input, IMediaSample** output);

    virtual HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* type) { return S_OK; }
    virtual HRESULT CheckConnect(PIN_DIRECTION direction, IPin* pin) { return S_OK; }
    virtual HRESULT BreakConnect(PIN_DIRECTION direction) { return S_OK; }
    virtual HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* receivePin) { return S_OK; }
    virtual HRESULT StartStreaming() { return S_OK; }
    virtual HRESULT StopStreaming() { return S_OK; }
    // Passed downstream; a decoder overrides EndOfStream to send what it still holds first.
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    CTransformInputPin* InputPin() { return m_pInput; }
    CTransformOutputPin* OutputPin() { return m_pOutput; }

    CCritSec m_csFilter;
    CCritSec m_csReceive;

protected:
    CTransformInputPin* m_pInput = nullptr;
    CTransformOutputPin* m_pOutput = nullptr;
    bool m_bEOSDelivered = false;
    // The last Transform dropped its sample; written by Receive and cleared by Pause, which must not
    // wait for the receive lock (a Receive may be blocked downstream).
    std::atomic<bool> m_bSampleSkipped{false};
};
