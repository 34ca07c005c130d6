#include "EnumPins.h"

#include <algorithm>

#include "BasePin.h"

CEnumPins::CEnumPins(CBaseFilter* filter, const CEnumPins* other)
    : CUnknown("CEnumPins", nullptr), m_pFilter(filter), m_Position(other ? other->m_Position : 0),
      m_Version(other ? other->m_Version : filter->GetPinVersion())
{
    if (other)
        m_Returned = other->m_Returned;
    m_pFilter->AddRef();
}

CEnumPins::~CEnumPins() { m_pFilter->Release(); }

HRESULT CEnumPins::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IEnumPins)
        return GetInterface(static_cast<IEnumPins*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

void CEnumPins::Refresh()
{
    m_Version = m_pFilter->GetPinVersion();
    m_Position = 0;
}

HRESULT CEnumPins::Next(ULONG count, IPin** pins, ULONG* fetched)
{
    if (!pins)
        return E_POINTER;
    if (!fetched && count != 1)
        return E_INVALIDARG;
    if (OutOfSync())
        Refresh();
    ULONG done = 0;
    while (done < count && m_Position < m_pFilter->GetPinCount()) {
        IPin* pin = m_pFilter->GetPin(m_Position++);
        if (!pin)
            break;
        if (std::find(m_Returned.begin(), m_Returned.end(), pin) != m_Returned.end())
            continue;
        m_Returned.push_back(pin);
        pin->AddRef();
        pins[done++] = pin;
    }
    if (fetched)
        *fetched = done;
    return done == count ? S_OK : S_FALSE;
}

HRESULT CEnumPins::Skip(ULONG count)
{
    if (OutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    const int left = m_pFilter->GetPinCount() - m_Position;
    if (int(count) > left)
        return S_FALSE;
    m_Position += int(count);
    return S_OK;
}

HRESULT CEnumPins::Reset()
{
    Refresh();
    m_Returned.clear();
    return S_OK;
}

HRESULT CEnumPins::Clone(IEnumPins** copy)
{
    if (!copy)
        return E_POINTER;
    if (OutOfSync()) {
        *copy = nullptr;
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    *copy = new CEnumPins(m_pFilter, this);
    (*copy)->AddRef();
    return S_OK;
}
