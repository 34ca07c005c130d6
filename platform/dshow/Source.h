// A source filter whose output pins (CSourceStream) register themselves with it. One lock, the
// state lock, serves the filter and all its pins.
#pragma once

#include <vector>

#include "BaseFilter.h"

class CSourceStream;

class CSource : public CBaseFilter {
public:
    CSource(const char* name, IUnknown* outer, REFCLSID clsid, HRESULT* result = nullptr);
    // Deletes the pins still registered, the last first.
    ~CSource() override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;

    // Called by each pin as it is made and destroyed.
    HRESULT AddPin(CSourceStream* pin);
    HRESULT RemovePin(CSourceStream* pin);
    // The 0-based position of a pin, -1 when it is not one of ours.
    int FindPinNumber(const IPin* pin);

    CCritSec* pStateLock() { return &m_cStateLock; }

protected:
    CCritSec m_cStateLock;
    std::vector<CSourceStream*> m_paStreams;
};
