#include "SourceStream.h"

#include <string>

CSourceStream::CSourceStream(const char* name, HRESULT* result, CSource* filter, LPCWSTR pinName)
    : CBaseOutputPin(name, filter, filter->pStateLock(), result, pinName), m_pSourceFilter(filter)
{
    const HRESULT hr = filter->AddPin(this);
    if (result)
        *result = hr;
}

CSourceStream::~CSourceStream() { m_pSourceFilter->RemovePin(this); }

HRESULT CSourceStream::QueryId(LPWSTR* id)
{
    const int number = m_pSourceFilter->FindPinNumber(this);
    if (number < 0)
        return E_FAIL;
    return AMGetWideString(std::to_wstring(number + 1).c_str(), id);
}

HRESULT CSourceStream::GetMediaType(int position, CMediaType* type)
{
    CAutoLock lock(m_pLock);
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0)
        return VFW_S_NO_MORE_ITEMS;
    return GetMediaType(type);
}

HRESULT CSourceStream::GetMediaType(CMediaType*) { return E_UNEXPECTED; }

HRESULT CSourceStream::CheckMediaType(const CMediaType* type)
{
    CAutoLock lock(m_pLock);
    CMediaType proposed;
    if (FAILED(GetMediaType(&proposed)) || !(proposed == *type))
        return E_FAIL;
    return S_OK;
}

HRESULT CSourceStream::Active()
{
    CAutoLock lock(m_pLock);
    if (m_pFilter->IsActive())
        return S_FALSE;
    if (!IsConnected())
        return S_OK;
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr))
        return hr;
    if (!Create())
        return E_FAIL;
    hr = Init();
    if (FAILED(hr)) {
        Close();
        return hr;
    }
    return Pause();
}

HRESULT CSourceStream::Inactive()
{
    CAutoLock lock(m_pLock);
    if (!IsConnected())
        return S_OK;
    const HRESULT hr = CBaseOutputPin::Inactive();
    if (FAILED(hr))
        return hr;
    if (ThreadExists()) {
        if (FAILED(Stop()) || FAILED(Exit()))
            return E_FAIL;
        Close();
    }
    return S_OK;
}

DWORD CSourceStream::ThreadProc()
{
    DWORD command;
    while ((command = GetRequest()) != CMD_INIT)
        Reply(DWORD(E_UNEXPECTED));
    HRESULT hr = OnThreadCreate();
    if (FAILED(hr)) {
        OnThreadDestroy();
        Reply(DWORD(hr));
        return 1;
    }
    Reply(S_OK);
    for (;;) {
        command = GetRequest();
        if (command == CMD_PAUSE || command == CMD_RUN) {
            Reply(S_OK);
            DoBufferProcessingLoop();
        } else if (command == CMD_STOP) {
            Reply(S_OK);
        } else if (command == CMD_EXIT) {
            Reply(S_OK);
            break;
        } else {
            Reply(DWORD(E_NOTIMPL));
        }
    }
    OnThreadDestroy();
    return 0;
}

HRESULT CSourceStream::DoBufferProcessingLoop()
{
    OnThreadStartPlay();
    DWORD command;
    for (;;) {
        while (!CheckRequest(&command)) {
            IMediaSample* sample = nullptr;
            if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) {
                // Decommitted: wait here for the command that comes with it.
                Sleep(1);
                continue;
            }
            const HRESULT filled = FillBuffer(sample);
            if (filled == S_OK) {
                const HRESULT delivered = Deliver(sample);
                sample->Release();
                if (delivered != S_OK)
                    return S_OK;
            } else {
                sample->Release();
                DeliverEndOfStream();
                if (FAILED(filled))
                    m_pFilter->NotifyEvent(EC_ERRORABORT, filled, 0);
                return filled == S_FALSE ? S_OK : filled;
            }
        }
        if (command == CMD_RUN || command == CMD_PAUSE) {
            Reply(S_OK);
        } else if (command == CMD_STOP) {
            // ThreadProc takes the request and answers it.
            return S_OK;
        } else {
            Reply(DWORD(E_UNEXPECTED));
        }
    }
}
