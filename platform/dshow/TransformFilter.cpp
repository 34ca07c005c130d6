#include "TransformFilter.h"

CTransformInputPin::CTransformInputPin(const char* name, CTransformFilter* filter, HRESULT* result, LPCWSTR pinName)
    : CBaseInputPin(name, filter, &filter->m_csFilter, result, pinName), m_pTransformFilter(filter)
{
}

HRESULT CTransformInputPin::CheckConnect(IPin* pin)
{
    const HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_INPUT, pin);
    return FAILED(hr) ? hr : CBaseInputPin::CheckConnect(pin);
}

HRESULT CTransformInputPin::BreakConnect()
{
    m_pTransformFilter->BreakConnect(PINDIR_INPUT);
    return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin* receivePin)
{
    const HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_INPUT, receivePin);
    return FAILED(hr) ? hr : CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* type)
{
    const HRESULT hr = m_pTransformFilter->CheckInputType(type);
    if (hr != S_OK)
        return hr;
    CTransformOutputPin* output = m_pTransformFilter->OutputPin();
    if (output->IsConnected())
        return m_pTransformFilter->CheckTransform(type, &output->CurrentMediaType());
    return S_OK;
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType* type)
{
    const HRESULT hr = CBaseInputPin::SetMediaType(type);
    return FAILED(hr) ? hr : m_pTransformFilter->SetMediaType(PINDIR_INPUT, type);
}

HRESULT CTransformInputPin::CheckStreaming()
{
    if (!m_pTransformFilter->OutputPin()->IsConnected())
        return VFW_E_NOT_CONNECTED;
    return CBaseInputPin::CheckStreaming();
}

HRESULT CTransformInputPin::Receive(IMediaSample* sample)
{
    CAutoLock lock(&m_pTransformFilter->m_csReceive);
    const HRESULT hr = CBaseInputPin::Receive(sample);
    return hr == S_OK ? m_pTransformFilter->Receive(sample) : hr;
}

HRESULT CTransformInputPin::EndOfStream()
{
    CAutoLock lock(&m_pTransformFilter->m_csReceive);
    const HRESULT hr = CheckStreaming();
    return hr == S_OK ? m_pTransformFilter->EndOfStream() : hr;
}

HRESULT CTransformInputPin::BeginFlush()
{
    CAutoLock lock(&m_pTransformFilter->m_csFilter);
    if (!IsConnected() || !m_pTransformFilter->OutputPin()->IsConnected())
        return VFW_E_NOT_CONNECTED;
    const HRESULT hr = CBaseInputPin::BeginFlush();
    return FAILED(hr) ? hr : m_pTransformFilter->BeginFlush();
}

HRESULT CTransformInputPin::EndFlush()
{
    CAutoLock lock(&m_pTransformFilter->m_csFilter);
    if (!IsConnected() || !m_pTransformFilter->OutputPin()->IsConnected())
        return VFW_E_NOT_CONNECTED;
    const HRESULT hr = m_pTransformFilter->EndFlush();
    return FAILED(hr) ? hr : CBaseInputPin::EndFlush();
}

HRESULT CTransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    CBasePin::NewSegment(start, stop, rate);
    return m_pTransformFilter->NewSegment(start, stop, rate);
}

CTransformOutputPin::CTransformOutputPin(const char* name, CTransformFilter* filter, HRESULT* result, LPCWSTR pinName)
    : CBaseOutputPin(name, filter, &filter->m_csFilter, result, pinName), m_pTransformFilter(filter),
      m_pPosition(new CPosPassThru("CTransformOutputPin", GetOwner(), result, filter->InputPin()))
{
}

CTransformOutputPin::~CTransformOutputPin() { delete m_pPosition; }

HRESULT CTransformOutputPin::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IMediaSeeking)
        return m_pPosition->NonDelegatingQueryInterface(iid, object);
    return CBaseOutputPin::NonDelegatingQueryInterface(iid, object);
}

HRESULT CTransformOutputPin::CheckConnect(IPin* pin)
{
    if (!m_pTransformFilter->InputPin()->IsConnected())
        return E_UNEXPECTED;
    const HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_OUTPUT, pin);
    return FAILED(hr) ? hr : CBaseOutputPin::CheckConnect(pin);
}

HRESULT CTransformOutputPin::BreakConnect()
{
    m_pTransformFilter->BreakConnect(PINDIR_OUTPUT);
    return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* receivePin)
{
    const HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_OUTPUT, receivePin);
    return FAILED(hr) ? hr : CBaseOutputPin::CompleteConnect(receivePin);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* type)
{
    CTransformInputPin* input = m_pTransformFilter->InputPin();
    if (!input->IsConnected())
        return E_INVALIDARG;
    return m_pTransformFilter->CheckTransform(&input->CurrentMediaType(), type);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* type)
{
    const HRESULT hr = CBaseOutputPin::SetMediaType(type);
    return FAILED(hr) ? hr : m_pTransformFilter->SetMediaType(PINDIR_OUTPUT, type);
}

HRESULT CTransformOutputPin::GetMediaType(int position, CMediaType* type)
{
    if (!m_pTransformFilter->InputPin()->IsConnected())
        return VFW_S_NO_MORE_ITEMS;
    return m_pTransformFilter->GetMediaType(position, type);
}

std::shared_ptr<COutputQueue> CTransformOutputPin::Queue()
{
    std::lock_guard<std::mutex> lock(m_QueueLock);
    return m_pQueue;
}

HRESULT CTransformOutputPin::Active()
{
    const HRESULT hr = CBaseOutputPin::Active();
    if (SUCCEEDED(hr) && m_bQueued && m_Connected && m_pInputPin) {
        std::lock_guard<std::mutex> lock(m_QueueLock);
        m_pQueue = std::make_shared<COutputQueue>(m_Connected, m_pInputPin);
    }
    return hr;
}

HRESULT CTransformOutputPin::Inactive()
{
    // The decommit frees a filter waiting for a buffer; the filter below, stopped first, no
    // longer holds a delivery, so the queue's thread ends.
    const HRESULT hr = CBaseOutputPin::Inactive();
    std::shared_ptr<COutputQueue> queue;
    {
        std::lock_guard<std::mutex> lock(m_QueueLock);
        queue.swap(m_pQueue);
    }
    return hr;
}

HRESULT CTransformOutputPin::Deliver(IMediaSample* sample)
{
    const std::shared_ptr<COutputQueue> queue = Queue();
    return queue ? queue->Receive(sample) : CBaseOutputPin::Deliver(sample);
}

HRESULT CTransformOutputPin::DeliverEndOfStream()
{
    const std::shared_ptr<COutputQueue> queue = Queue();
    return queue ? queue->EndOfStream() : CBaseOutputPin::DeliverEndOfStream();
}

HRESULT CTransformOutputPin::DeliverBeginFlush()
{
    const std::shared_ptr<COutputQueue> queue = Queue();
    return queue ? queue->BeginFlush() : CBaseOutputPin::DeliverBeginFlush();
}

HRESULT CTransformOutputPin::DeliverEndFlush()
{
    const std::shared_ptr<COutputQueue> queue = Queue();
    return queue ? queue->EndFlush() : CBaseOutputPin::DeliverEndFlush();
}

HRESULT CTransformOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    const std::shared_ptr<COutputQueue> queue = Queue();
    return queue ? queue->NewSegment(start, stop, rate) : CBaseOutputPin::DeliverNewSegment(start, stop, rate);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    return m_pTransformFilter->DecideBufferSize(allocator, request);
}

CTransformFilter::CTransformFilter(const char* name, IUnknown* outer, REFCLSID clsid)
    : CBaseFilter(name, outer, &m_csFilter, clsid)
{
    HRESULT hr = S_OK;
    m_pInput = new CTransformInputPin("CTransformInputPin", this, &hr, L"XForm In");
    m_pOutput = new CTransformOutputPin("CTransformOutputPin", this, &hr, L"XForm Out");
}

CTransformFilter::~CTransformFilter()
{
    delete m_pInput;
    delete m_pOutput;
}

CBasePin* CTransformFilter::GetPin(int n)
{
    return n == 0 ? static_cast<CBasePin*>(m_pInput) : n == 1 ? static_cast<CBasePin*>(m_pOutput) : nullptr;
}

HRESULT CTransformFilter::Stop()
{
    CAutoLock lock(&m_csFilter);
    if (m_State == State_Stopped)
        return S_OK;
    if (!InputPin()->IsConnected() || !OutputPin()->IsConnected()) {
        m_State = State_Stopped;
        m_bEOSDelivered = false;
        return S_OK;
    }
    m_pInput->Inactive();
    CAutoLock receiveLock(&m_csReceive);
    m_pOutput->Inactive();
    const HRESULT hr = StopStreaming();
    if (SUCCEEDED(hr)) {
        m_State = State_Stopped;
        m_bEOSDelivered = false;
    }
    return hr;
}

HRESULT CTransformFilter::Pause()
{
    CAutoLock lock(&m_csFilter);
    HRESULT hr = S_OK;
    if (m_State == State_Paused) {
        return S_OK;
    } else if (!InputPin()->IsConnected()) {
        // Nothing will come: whatever is downstream gets its end of stream now.
        if (m_pOutput->IsConnected() && !m_bEOSDelivered) {
            m_pOutput->DeliverEndOfStream();
            m_bEOSDelivered = true;
        }
        m_State = State_Paused;
    } else if (!m_pOutput->IsConnected()) {
        m_State = State_Paused;
    } else {
        if (m_State == State_Stopped) {
            CAutoLock receiveLock(&m_csReceive);
            hr = StartStreaming();
        }
        if (SUCCEEDED(hr))
            hr = CBaseFilter::Pause();
    }
    m_bSampleSkipped = false;
    return hr;
}

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample* input, IMediaSample** output)
{
    HRESULT hr = m_pOutput->GetDeliveryBuffer(output, nullptr, nullptr, m_bSampleSkipped ? AM_GBF_PREVFRAMESKIPPED : 0);
    if (FAILED(hr))
        return hr;
    IMediaSample* out = *output;
    REFERENCE_TIME start, end;
    hr = input->GetTime(&start, &end);
    if (hr == S_OK)
        out->SetTime(&start, &end);
    else if (hr == VFW_S_NO_STOP_TIME)
        out->SetTime(&start, nullptr);
    LONGLONG mediaStart, mediaEnd;
    if (input->GetMediaTime(&mediaStart, &mediaEnd) == S_OK)
        out->SetMediaTime(&mediaStart, &mediaEnd);
    out->SetSyncPoint(input->IsSyncPoint() == S_OK);
    out->SetPreroll(input->IsPreroll() == S_OK);
    out->SetDiscontinuity(m_bSampleSkipped || input->IsDiscontinuity() == S_OK);
    return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample* sample)
{
    IMediaSample* output = nullptr;
    HRESULT hr = InitializeOutputSample(sample, &output);
    if (FAILED(hr))
        return hr;
    hr = Transform(sample, output);
    if (hr == S_OK) {
        m_bSampleSkipped = false;
        hr = m_pOutput->Deliver(output);
    } else if (hr == S_FALSE) {
        m_bSampleSkipped = true;
        hr = S_OK;
    }
    output->Release();
    return hr;
}

HRESULT CTransformFilter::EndOfStream() { return m_pOutput->DeliverEndOfStream(); }

HRESULT CTransformFilter::BeginFlush() { return m_pOutput->DeliverBeginFlush(); }

HRESULT CTransformFilter::EndFlush() { return m_pOutput->DeliverEndFlush(); }

HRESULT CTransformFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    return m_pOutput->IsConnected() ? m_pOutput->DeliverNewSegment(start, stop, rate) : S_OK;
}
