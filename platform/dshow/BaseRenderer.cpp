#include "BaseRenderer.h"

CRendererInputPin::CRendererInputPin(CBaseRenderer* renderer, HRESULT* result, LPCWSTR pinName)
    : CBaseInputPin("CRendererInputPin", renderer, &renderer->m_InterfaceLock, result, pinName), m_pRenderer(renderer)
{
}

HRESULT CRendererInputPin::Receive(IMediaSample* sample)
{
    const HRESULT hr = m_pRenderer->Receive(sample);
    if (FAILED(hr)) {
        CAutoLock lock(&m_pRenderer->m_InterfaceLock);
        if (!IsStopped() && !IsFlushing() && !m_bRunTimeError) {
            m_pRenderer->NotifyEvent(EC_ERRORABORT, hr, 0);
            {
                CAutoLock rendererLock(&m_pRenderer->m_RendererLock);
                if (m_pRenderer->IsStreaming() && !m_pRenderer->m_bEOSDelivered)
                    m_pRenderer->NotifyEndOfStream();
            }
            m_bRunTimeError = true;
        }
    }
    return hr;
}

HRESULT CRendererInputPin::EndOfStream()
{
    CAutoLock lock(&m_pRenderer->m_InterfaceLock);
    CAutoLock rendererLock(&m_pRenderer->m_RendererLock);
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK)
        return hr;
    return m_pRenderer->EndOfStream();
}

HRESULT CRendererInputPin::BeginFlush()
{
    CAutoLock lock(&m_pRenderer->m_InterfaceLock);
    {
        CAutoLock rendererLock(&m_pRenderer->m_RendererLock);
        CBaseInputPin::BeginFlush();
        m_pRenderer->BeginFlush();
    }
    return m_pRenderer->ResetEndOfStream();
}

HRESULT CRendererInputPin::EndFlush()
{
    CAutoLock lock(&m_pRenderer->m_InterfaceLock);
    CAutoLock rendererLock(&m_pRenderer->m_RendererLock);
    const HRESULT hr = m_pRenderer->EndFlush();
    return SUCCEEDED(hr) ? CBaseInputPin::EndFlush() : hr;
}

HRESULT CRendererInputPin::CheckMediaType(const CMediaType* type) { return m_pRenderer->CheckMediaType(type); }

HRESULT CRendererInputPin::SetMediaType(const CMediaType* type)
{
    const HRESULT hr = CBaseInputPin::SetMediaType(type);
    return FAILED(hr) ? hr : m_pRenderer->SetMediaType(type);
}

HRESULT CRendererInputPin::CompleteConnect(IPin* receivePin)
{
    const HRESULT hr = m_pRenderer->CompleteConnect(receivePin);
    return FAILED(hr) ? hr : CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CRendererInputPin::BreakConnect()
{
    const HRESULT hr = m_pRenderer->BreakConnect();
    return FAILED(hr) ? hr : CBaseInputPin::BreakConnect();
}

HRESULT CRendererInputPin::Active() { return m_pRenderer->Active(); }

HRESULT CRendererInputPin::Inactive()
{
    CBaseInputPin::Inactive();
    return m_pRenderer->Inactive();
}

CBaseRenderer::CBaseRenderer(REFCLSID clsid, const char* name, IUnknown* outer, HRESULT*)
    : CBaseFilter(name, outer, &m_InterfaceLock, clsid)
{
}

CBaseRenderer::~CBaseRenderer()
{
    SafeRelease(m_pMediaSample);
    delete m_pPosition;
    delete m_pOwnPin;
}

HRESULT CBaseRenderer::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IMediaSeeking) {
        CRendererPosPassThru* position = GetPosition();
        if (!position)
            return E_OUTOFMEMORY;
        return position->NonDelegatingQueryInterface(iid, object);
    }
    return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

CRendererPosPassThru* CBaseRenderer::GetPosition()
{
    CAutoLock lock(&m_ObjectCreationLock);
    if (!m_pPosition) {
        HRESULT hr = S_OK;
        m_pPosition = new CRendererPosPassThru("CRendererPosPassThru", CBaseFilter::GetOwner(), &hr, GetPin(0));
    }
    return m_pPosition;
}

CBasePin* CBaseRenderer::GetPin(int n)
{
    CAutoLock lock(&m_ObjectCreationLock);
    if (n != 0)
        return nullptr;
    if (!m_pInputPin) {
        HRESULT hr = S_OK;
        m_pOwnPin = new CRendererInputPin(this, &hr, L"In");
        m_pInputPin = m_pOwnPin;
    }
    return m_pInputPin;
}

HRESULT CBaseRenderer::GetState(DWORD milliseconds, FILTER_STATE* state)
{
    if (!state)
        return E_POINTER;
    const bool complete = m_evComplete.Wait(milliseconds);
    *state = m_State;
    return complete ? S_OK : VFW_S_STATE_INTERMEDIATE;
}

HRESULT CBaseRenderer::CompleteStateChange(FILTER_STATE oldState)
{
    if (!m_pInputPin->IsConnected() || IsEndOfStream() || (HaveCurrentSample() && oldState != State_Stopped)) {
        Ready();
        return S_OK;
    }
    NotReady();
    return S_FALSE;
}

HRESULT CBaseRenderer::Pause()
{
    CAutoLock lock(&m_InterfaceLock);
    GetPin(0);
    const FILTER_STATE oldState = m_State;
    if (oldState == State_Paused)
        return CompleteStateChange(State_Paused);
    if (!m_pInputPin->IsConnected()) {
        m_State = State_Paused;
        return CompleteStateChange(State_Paused);
    }
    const HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr))
        return hr;
    StopStreaming();
    SourceThreadCanWait(TRUE);
    CancelNotification();
    if (IMemAllocator* allocator = m_pInputPin->Allocator())
        allocator->Commit();
    if (oldState == State_Stopped)
        ClearPendingSample();
    return CompleteStateChange(oldState);
}

HRESULT CBaseRenderer::Run(REFERENCE_TIME start)
{
    CAutoLock lock(&m_InterfaceLock);
    GetPin(0);
    if (m_State == State_Running)
        return S_OK;
    if (!m_pInputPin->IsConnected()) {
        NotifyEvent(EC_COMPLETE, S_OK, 0);
        m_State = State_Running;
        return S_OK;
    }
    const HRESULT hr = CBaseFilter::Run(start);
    if (FAILED(hr))
        return hr;
    // A running renderer has completed its state change even before data arrives.
    Ready();
    SourceThreadCanWait(TRUE);
    if (IMemAllocator* allocator = m_pInputPin->Allocator())
        allocator->Commit();
    return StartStreaming();
}

HRESULT CBaseRenderer::Stop()
{
    CAutoLock lock(&m_InterfaceLock);
    GetPin(0);
    if (m_State == State_Stopped)
        return S_OK;
    if (!m_pInputPin->IsConnected()) {
        m_State = State_Stopped;
        return S_OK;
    }
    CBaseFilter::Stop();
    if (IMemAllocator* allocator = m_pInputPin->Allocator())
        allocator->Decommit();
    StopStreaming();
    SourceThreadCanWait(FALSE);
    ResetEndOfStream();
    CancelNotification();
    Ready();
    WaitForReceiveToComplete();
    return S_OK;
}

HRESULT CBaseRenderer::Inactive()
{
    if (CRendererPosPassThru* position = m_pPosition)
        position->ResetMediaTime();
    ClearPendingSample();
    return S_OK;
}

HRESULT CBaseRenderer::BreakConnect()
{
    if (!m_pInputPin->IsConnected())
        return S_FALSE;
    if (m_State != State_Stopped)
        return VFW_E_NOT_STOPPED;
    ResetEndOfStream();
    ClearPendingSample();
    return S_OK;
}

BOOL CBaseRenderer::HaveCurrentSample()
{
    CAutoLock lock(&m_RendererLock);
    return m_pMediaSample != nullptr;
}

void CBaseRenderer::ClearPendingSample()
{
    CAutoLock lock(&m_RendererLock);
    SafeRelease(m_pMediaSample);
}

void CBaseRenderer::WaitForReceiveToComplete()
{
    while (m_bInReceive)
        Sleep(1);
}

HRESULT CBaseRenderer::CancelNotification()
{
    const DWORD_PTR advise = m_dwAdvise;
    if (advise) {
        m_pClock->Unadvise(advise);
        m_dwAdvise = 0;
    }
    m_RenderEvent.Reset();
    return advise ? S_OK : S_FALSE;
}

HRESULT CBaseRenderer::GetSampleTimes(IMediaSample* sample, REFERENCE_TIME* start, REFERENCE_TIME* end)
{
    if (FAILED(sample->GetTime(start, end)))
        return S_OK;
    if (*end < *start)
        return VFW_E_START_TIME_AFTER_END;
    if (!m_pClock)
        return S_OK;
    return ShouldDrawSampleNow(sample, start, end);
}

BOOL CBaseRenderer::ScheduleSample(IMediaSample* sample)
{
    REFERENCE_TIME start = 0, end = 0;
    HRESULT hr = GetSampleTimes(sample, &start, &end);
    if (FAILED(hr))
        return FALSE;
    if (hr == S_OK) {
        m_RenderEvent.Set();
        return TRUE;
    }
    hr = m_pClock->AdviseTime(m_tStart, start, HEVENT(HANDLE(m_RenderEvent)), &m_dwAdvise);
    return SUCCEEDED(hr);
}

HRESULT CBaseRenderer::StartStreaming()
{
    CAutoLock lock(&m_RendererLock);
    if (m_bStreaming)
        return S_OK;
    m_bStreaming = true;
    OnStartStreaming();
    if (!m_pMediaSample)
        return SendEndOfStream();
    if (!ScheduleSample(m_pMediaSample))
        m_RenderEvent.Set();
    return S_OK;
}

HRESULT CBaseRenderer::StopStreaming()
{
    CAutoLock lock(&m_RendererLock);
    m_bEOSDelivered = false;
    if (m_bStreaming) {
        m_bStreaming = false;
        OnStopStreaming();
    }
    return S_OK;
}

HRESULT CBaseRenderer::PrepareReceive(IMediaSample* sample)
{
    CAutoLock lock(&m_InterfaceLock);
    m_bInReceive = true;
    if (m_pInputPin->CBaseInputPin::Receive(sample) != S_OK) {
        m_bInReceive = false;
        return E_FAIL;
    }
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK) {
        const HRESULT hr = m_pInputPin->SetMediaType(static_cast<CMediaType*>(changed));
        DeleteMediaType(changed);
        if (FAILED(hr)) {
            m_bInReceive = false;
            return hr;
        }
    }
    CAutoLock rendererLock(&m_RendererLock);
    if (m_pMediaSample || m_bEOS) {
        Ready();
        m_bInReceive = false;
        return E_UNEXPECTED;
    }
    if (CRendererPosPassThru* position = m_pPosition)
        position->RegisterMediaTime(sample);
    if (m_bStreaming && !ScheduleSample(sample)) {
        m_bInReceive = false;
        return VFW_E_SAMPLE_REJECTED;
    }
    m_pMediaSample = sample;
    m_pMediaSample->AddRef();
    return S_OK;
}

HRESULT CBaseRenderer::WaitForRenderTime()
{
    const HANDLE events[] = {m_ThreadSignal, m_RenderEvent};
    const DWORD which = WaitForMultipleObjects(2, events, FALSE, INFINITE);
    return which == WAIT_OBJECT_0 ? VFW_E_STATE_CHANGED : S_OK;
}

HRESULT CBaseRenderer::Receive(IMediaSample* sample)
{
    HRESULT hr = PrepareReceive(sample);
    if (FAILED(hr))
        return hr == VFW_E_SAMPLE_REJECTED ? S_OK : hr;
    if (m_State == State_Paused) {
        // SDK behaviour: the first sample of a pause is held here, unrendered, until Run.
        PrepareRender();
        m_bInReceive = false;
        {
            CAutoLock lock(&m_InterfaceLock);
            if (m_State == State_Stopped)
                return S_OK;
            m_bInReceive = true;
            CAutoLock rendererLock(&m_RendererLock);
            OnReceiveFirstSample(sample);
        }
        Ready();
    }
    hr = WaitForRenderTime();
    if (FAILED(hr)) {
        m_bInReceive = false;
        return S_OK;
    }
    PrepareRender();
    m_bInReceive = false;
    CAutoLock lock(&m_InterfaceLock);
    if (m_State == State_Stopped)
        return S_OK;
    CAutoLock rendererLock(&m_RendererLock);
    Render(m_pMediaSample);
    ClearPendingSample();
    SendEndOfStream();
    CancelNotification();
    return S_OK;
}

HRESULT CBaseRenderer::Render(IMediaSample* sample)
{
    if (!sample || !m_bStreaming)
        return S_FALSE;
    OnRenderStart(sample);
    DoRenderSample(sample);
    OnRenderEnd(sample);
    return S_OK;
}

HRESULT CBaseRenderer::EndOfStream()
{
    if (m_State == State_Stopped)
        return S_OK;
    m_bEOS = true;
    if (m_pMediaSample)
        return S_OK;
    Ready();
    return m_bStreaming ? SendEndOfStream() : S_OK;
}

HRESULT CBaseRenderer::SendEndOfStream()
{
    // Sent once the last sample is rendered, also with a clock (not at that sample's stop time):
    // the library's graphs run without a clock.
    if (!m_bEOS || m_bEOSDelivered)
        return S_OK;
    return NotifyEndOfStream();
}

HRESULT CBaseRenderer::NotifyEndOfStream()
{
    CAutoLock lock(&m_RendererLock);
    if (!m_bStreaming)
        return S_OK;
    if (CRendererPosPassThru* position = m_pPosition)
        position->EOS();
    m_bEOSDelivered = true;
    return NotifyEvent(EC_COMPLETE, S_OK, 0);
}

HRESULT CBaseRenderer::ResetEndOfStream()
{
    CAutoLock lock(&m_RendererLock);
    m_bEOS = false;
    m_bEOSDelivered = false;
    return S_OK;
}

HRESULT CBaseRenderer::BeginFlush()
{
    if (m_State == State_Paused)
        NotReady();
    SourceThreadCanWait(FALSE);
    CancelNotification();
    ClearPendingSample();
    WaitForReceiveToComplete();
    return S_OK;
}

HRESULT CBaseRenderer::EndFlush()
{
    if (CRendererPosPassThru* position = m_pPosition)
        position->ResetMediaTime();
    SourceThreadCanWait(TRUE);
    return S_OK;
}
