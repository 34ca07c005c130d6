#include "Source.h"

#include <algorithm>

#include "SourceStream.h"

CSource::CSource(const char* name, IUnknown* outer, REFCLSID clsid, HRESULT*)
    : CBaseFilter(name, outer, &m_cStateLock, clsid)
{
}

CSource::~CSource()
{
    while (!m_paStreams.empty())
        delete m_paStreams.back();  // its destructor removes it
}

int CSource::GetPinCount()
{
    CAutoLock lock(&m_cStateLock);
    return int(m_paStreams.size());
}

CBasePin* CSource::GetPin(int n)
{
    CAutoLock lock(&m_cStateLock);
    return n >= 0 && n < int(m_paStreams.size()) ? m_paStreams[n] : nullptr;
}

HRESULT CSource::AddPin(CSourceStream* pin)
{
    CAutoLock lock(&m_cStateLock);
    m_paStreams.push_back(pin);
    IncrementPinVersion();
    return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* pin)
{
    CAutoLock lock(&m_cStateLock);
    auto found = std::find(m_paStreams.begin(), m_paStreams.end(), pin);
    if (found == m_paStreams.end())
        return S_FALSE;
    m_paStreams.erase(found);
    IncrementPinVersion();
    return S_OK;
}

int CSource::FindPinNumber(const IPin* pin)
{
    CAutoLock lock(&m_cStateLock);
    for (size_t i = 0; i < m_paStreams.size(); ++i)
        if (static_cast<const IPin*>(m_paStreams[i]) == pin)
            return int(i);
    return -1;
}
