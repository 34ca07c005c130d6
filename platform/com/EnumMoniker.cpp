#include "EnumMoniker.h"

#include <algorithm>

#include "DeviceMoniker.h"

HRESULT EnumMoniker::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IEnumMoniker)
        return GetInterface(static_cast<IEnumMoniker*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT EnumMoniker::Next(ULONG count, IMoniker** monikers, ULONG* fetched)
{
    if (!monikers || (count > 1 && !fetched))
        return E_POINTER;
    ULONG handed = 0;
    HRESULT hr = S_OK;
    for (; handed < count && m_Position < m_Devices.size(); ++handed, ++m_Position)
        if (FAILED(hr = QueryNewObject(new DeviceMoniker(m_Devices[m_Position]), S_OK, IID_IMoniker,
                                       reinterpret_cast<void**>(&monikers[handed]))))
            break;
    if (fetched)
        *fetched = handed;
    return FAILED(hr) ? hr : handed == count ? S_OK : S_FALSE;
}

HRESULT EnumMoniker::Skip(ULONG count)
{
    const size_t left = m_Devices.size() - m_Position;
    m_Position += std::min<size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
}

HRESULT EnumMoniker::Reset()
{
    m_Position = 0;
    return S_OK;
}

HRESULT EnumMoniker::Clone(IEnumMoniker** copy)
{
    if (!copy)
        return E_POINTER;
    return QueryNewObject(new EnumMoniker(m_Devices, m_Position), S_OK, IID_IEnumMoniker,
                          reinterpret_cast<void**>(copy));
}
