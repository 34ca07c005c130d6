#include "EnumMediaTypes.h"

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* other)
    : CUnknown("CEnumMediaTypes", nullptr), m_pPin(pin), m_Position(other ? other->m_Position : 0),
      m_Version(other ? other->m_Version : pin->GetMediaTypeVersion())
{
    m_pPin->AddRef();
}

CEnumMediaTypes::~CEnumMediaTypes() { m_pPin->Release(); }

HRESULT CEnumMediaTypes::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IEnumMediaTypes)
        return GetInterface(static_cast<IEnumMediaTypes*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched)
{
    if (!types)
        return E_POINTER;
    if (!fetched && count != 1)
        return E_INVALIDARG;
    if (fetched)
        *fetched = 0;
    if (OutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG done = 0;
    while (done < count) {
        CMediaType type;
        if (m_pPin->GetMediaType(m_Position, &type) != S_OK)
            break;
        ++m_Position;
        types[done] = CreateMediaType(&type);
        if (!types[done])
            break;
        ++done;
    }
    if (fetched)
        *fetched = done;
    return done == count ? S_OK : S_FALSE;
}

HRESULT CEnumMediaTypes::Skip(ULONG count)
{
    if (count == 0)
        return S_OK;
    if (OutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    m_Position += int(count);
    CMediaType last;
    return m_pPin->GetMediaType(m_Position - 1, &last) == S_OK ? S_OK : S_FALSE;
}

HRESULT CEnumMediaTypes::Reset()
{
    m_Position = 0;
    m_Version = m_pPin->GetMediaTypeVersion();
    return S_OK;
}

HRESULT CEnumMediaTypes::Clone(IEnumMediaTypes** copy)
{
    if (!copy)
        return E_POINTER;
    if (OutOfSync()) {
        *copy = nullptr;
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    *copy = new CEnumMediaTypes(m_pPin, this);
    (*copy)->AddRef();
    return S_OK;
}
