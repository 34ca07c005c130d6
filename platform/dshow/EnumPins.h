// Enumerates a filter's pins. When the filter's pins change the enumerator looks again, without
// handing out a pin a second time.
#pragma once

#include <vector>

#include "BaseFilter.h"

class CEnumPins : public CUnknown, public IEnumPins {
public:
    // Holds the filter; starts where `other` stands, or at the first pin.
    CEnumPins(CBaseFilter* filter, const CEnumPins* other);
    ~CEnumPins() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) override;
    // VFW_E_ENUM_OUT_OF_SYNC after the pins changed, until Reset.
    HRESULT Skip(ULONG count) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumPins** copy) override;

private:
    bool OutOfSync() const { return m_Version != m_pFilter->GetPinVersion(); }
    // Starts over after a change, remembering the pins handed out already.
    void Refresh();

    CBaseFilter* const m_pFilter;
    int m_Position;
    LONG m_Version;
    std::vector<IPin*> m_Returned;  // not counted: compared only
};
