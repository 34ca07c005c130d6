// An input pin of the multiplexer ("Input 01", ...): one stream of the file, of any type
// AviStream takes. Samples and the end of the stream go to the multiplexer, which writes them.
#pragma once

#include <atomic>

#include "platform/dshow/BaseInputPin.h"

class AviMux;

class AviMuxInputPin final : public CBaseInputPin {
public:
    AviMuxInputPin(AviMux* mux, CCritSec* lock, HRESULT* result, LPCWSTR name);

    HRESULT CheckMediaType(const CMediaType* type) override;
    // Once connected, the multiplexer makes sure a free input is left.
    HRESULT CompleteConnect(IPin* pin) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    // A new run: the stream has not ended.
    HRESULT Active() override;

    bool Ended() const { return m_bEnded; }
    void SetEnded() { m_bEnded = true; }

private:
    AviMux* const m_pMux;
    std::atomic<bool> m_bEnded{false};
};
