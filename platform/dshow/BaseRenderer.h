// A renderer: one input pin, samples handed to DoRenderSample on the upstream streaming thread
// when they come due, end of stream reported to the graph as EC_COMPLETE.
//
// Two locks: the interface lock (the filter's lock, taken by every control call) and the renderer
// lock (the pending sample and the end-of-stream flags), always in that order. DoRenderSample
// runs with both held, so it must not wait for anything that a state change or flush of this
// filter would have to release.
#pragma once

#include <atomic>

#include "BaseInputPin.h"
#include "PosPassThru.h"

class CBaseRenderer;

class CRendererInputPin : public CBaseInputPin {
public:
    CRendererInputPin(CBaseRenderer* renderer, HRESULT* result, LPCWSTR pinName);

    // Passes the sample to the renderer; a failure that is not due to a stop or flush aborts the
    // stream (EC_ERRORABORT, then EC_COMPLETE while running).
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    // Frees a Receive that waits and the sample held, then waits for Receive to return.
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT SetMediaType(const CMediaType* type) override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT BreakConnect() override;
    HRESULT Active() override;
    HRESULT Inactive() override;

protected:
    CBaseRenderer* const m_pRenderer;
};

class CBaseRenderer : public CBaseFilter {
public:
    CBaseRenderer(REFCLSID clsid, const char* name, IUnknown* outer, HRESULT* result);
    ~CBaseRenderer() override;

    // Adds IMediaSeeking, passed to the upstream pin.
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // S_FALSE while waiting for the first sample (GetState is then intermediate), S_OK once one
    // is held, at end of stream, or when unconnected.
    HRESULT Pause() override;
    // Renders the held sample; an unconnected renderer reports EC_COMPLETE at once.
    HRESULT Run(REFERENCE_TIME start) override;
    // Frees the held sample and a Receive that waits, then waits for Receive to return.
    HRESULT Stop() override;
    // VFW_S_STATE_INTERMEDIATE when a pause is not complete within the time given; takes no lock.
    HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) override;

    int GetPinCount() override { return 1; }
    // The pin set in m_pInputPin, or one made here on first call.
    CBasePin* GetPin(int n) override;

    // Hooks for derived renderers.
    virtual HRESULT CheckMediaType(const CMediaType* type) = 0;
    virtual HRESULT SetMediaType(const CMediaType* type) { return S_OK; }
    virtual HRESULT DoRenderSample(IMediaSample* sample) = 0;
    virtual HRESULT CompleteConnect(IPin* receivePin) { return S_OK; }
    virtual HRESULT BreakConnect();
    virtual HRESULT Active() { return S_OK; }
    virtual HRESULT Inactive();
    // Called with both locks held.
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();
    // The first sample of a pause, with both locks held (a video renderer shows it here).
    virtual void OnReceiveFirstSample(IMediaSample* sample) {}
    // Before waiting for and before rendering a sample; no lock held.
    virtual void PrepareRender() {}
    virtual void OnRenderStart(IMediaSample* sample) {}
    virtual void OnRenderEnd(IMediaSample* sample) {}
    virtual HRESULT OnStartStreaming() { return S_OK; }
    virtual HRESULT OnStopStreaming() { return S_OK; }
    // With a clock and time stamps: S_OK renders now, S_FALSE waits for the sample's time, an
    // error drops it.
    virtual HRESULT ShouldDrawSampleNow(IMediaSample* sample, REFERENCE_TIME* start, REFERENCE_TIME* end)
    {
        return S_FALSE;
    }
    // The whole of a sample's way through the renderer, on the streaming thread.
    virtual HRESULT Receive(IMediaSample* sample);

    BOOL IsEndOfStream() const { return m_bEOS; }
    BOOL IsStreaming() const { return m_bStreaming; }
    BOOL HaveCurrentSample();
    // Sends EC_COMPLETE if end of stream came, nothing is pending and the renderer is running.
    HRESULT SendEndOfStream();
    HRESULT NotifyEndOfStream();
    HRESULT ResetEndOfStream();

    CCritSec m_InterfaceLock;
    CCritSec m_RendererLock;

protected:
    friend class CRendererInputPin;

    HRESULT PrepareReceive(IMediaSample* sample);
    HRESULT WaitForRenderTime();
    HRESULT Render(IMediaSample* sample);
    BOOL ScheduleSample(IMediaSample* sample);
    HRESULT GetSampleTimes(IMediaSample* sample, REFERENCE_TIME* start, REFERENCE_TIME* end);
    HRESULT CancelNotification();
    void ClearPendingSample();
    HRESULT StartStreaming();
    HRESULT StopStreaming();
    HRESULT CompleteStateChange(FILTER_STATE oldState);
    void WaitForReceiveToComplete();
    void Ready() { m_evComplete.Set(); }
    void NotReady() { m_evComplete.Reset(); }
    // Clear: a streaming thread may wait for its sample's time; set: it may not (stopped, flushing).
    void SourceThreadCanWait(BOOL canWait) { canWait ? m_ThreadSignal.Reset() : m_ThreadSignal.Set(); }

    // Set by a derived renderer that embeds its own pin; the base then makes none. A derived
    // destructor clears it before its pin goes.
    CRendererInputPin* m_pInputPin = nullptr;

private:
    CRendererPosPassThru* GetPosition();

    CCritSec m_ObjectCreationLock;
    CRendererInputPin* m_pOwnPin = nullptr;         // made by GetPin when no derived pin was set
    // Made on first IMediaSeeking request, under the creation lock; the streaming thread reads it
    // without that lock.
    std::atomic<CRendererPosPassThru*> m_pPosition{nullptr};
    CAMEvent m_evComplete{TRUE, TRUE};              // set when a state change is complete
    CAMEvent m_ThreadSignal{TRUE, TRUE};            // set when a streaming thread may not wait
    CAMEvent m_RenderEvent;                         // the pending sample is due
    IMediaSample* m_pMediaSample = nullptr;         // counted; renderer lock
    std::atomic<bool> m_bStreaming{false};
    std::atomic<bool> m_bEOS{false};
    bool m_bEOSDelivered = false;
    std::atomic<bool> m_bInReceive{false};
    DWORD_PTR m_dwAdvise = 0;
};
