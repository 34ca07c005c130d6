// Enumerates the types a pin proposes. When the pin's types change the enumerator is out of sync
// until Reset.
#pragma once

#include "BasePin.h"

class CEnumMediaTypes : public CUnknown, public IEnumMediaTypes {
public:
    // Holds the pin; starts where `other` stands, or at the first type.
    CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* other);
    ~CEnumMediaTypes() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // Each type handed out is the caller's to DeleteMediaType.
    HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    HRESULT Skip(ULONG count) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumMediaTypes** copy) override;

private:
    bool OutOfSync() const { return m_Version != m_pPin->GetMediaTypeVersion(); }

    CBasePin* const m_pPin;
    int m_Position;
    LONG m_Version;
};
