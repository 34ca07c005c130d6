#include "OutputQueue.h"

COutputQueue::COutputQueue(IPin* pin, IMemInputPin* input, std::function<void()> refused)
    : m_pPin(pin), m_pInput(input), m_OnRefused(std::move(refused))
{
    m_pPin->AddRef();
    m_pInput->AddRef();
    m_Thread = std::thread([this] { Run(); });
}

COutputQueue::~COutputQueue()
{
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_bExit = true;
        DropWaiting();
    }
    m_Changed.notify_all();
    m_Thread.join();
    m_pInput->Release();
    m_pPin->Release();
}

void COutputQueue::DropWaiting()
{
    for (Item& item : m_Items)
        if (item.sample)
            item.sample->Release();
    m_Items.clear();
}

HRESULT COutputQueue::Queue(const Item& item)
{
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        if (m_bFlushing)
            return S_FALSE;
        if (m_Refused != S_OK)
            return m_Refused;
        if (item.sample)
            item.sample->AddRef();
        m_Items.push_back(item);
    }
    m_Changed.notify_all();
    return S_OK;
}

HRESULT COutputQueue::Receive(IMediaSample* sample) { return Queue({Kind::Sample, sample, 0, 0, 0}); }

HRESULT COutputQueue::EndOfStream() { return Queue({Kind::EndOfStream, nullptr, 0, 0, 0}); }

HRESULT COutputQueue::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    // A segment is announced during a flush too: it belongs to what follows it.
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Items.push_back({Kind::NewSegment, nullptr, start, stop, rate});
    }
    m_Changed.notify_all();
    return S_OK;
}

HRESULT COutputQueue::BeginFlush()
{
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_bFlushing = true;
        DropWaiting();
    }
    return m_pPin->BeginFlush();
}

HRESULT COutputQueue::EndFlush()
{
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        m_Changed.wait(lock, [this] { return !m_bDelivering; });
        m_Refused = S_OK;
    }
    const HRESULT hr = m_pPin->EndFlush();
    std::lock_guard<std::mutex> lock(m_Lock);
    m_bFlushing = false;
    return hr;
}

void COutputQueue::Run()
{
    std::unique_lock<std::mutex> lock(m_Lock);
    for (;;) {
        m_Changed.wait(lock, [this] { return m_bExit || !m_Items.empty(); });
        if (m_bExit)
            return;
        const Item item = m_Items.front();
        m_Items.pop_front();
        m_bDelivering = true;
        lock.unlock();
        HRESULT hr = S_OK;
        switch (item.kind) {
        case Kind::Sample:
            hr = m_pInput->Receive(item.sample);
            item.sample->Release();
            break;
        case Kind::EndOfStream:
            m_pPin->EndOfStream();
            break;
        case Kind::NewSegment:
            m_pPin->NewSegment(item.start, item.stop, item.rate);
            break;
        }
        lock.lock();
        m_bDelivering = false;
        const bool refused = hr != S_OK && m_Refused == S_OK && !m_bFlushing;
        if (refused)
            m_Refused = hr;
        if (refused && m_OnRefused) {
            DropWaiting();
            lock.unlock();
            m_OnRefused();
            lock.lock();
        }
        m_Changed.notify_all();
    }
}
