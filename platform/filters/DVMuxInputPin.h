// An input of the DV multiplexer: "Video" takes DV frames (MEDIATYPE_Video / dvsd / VideoInfo, 720
// by 480 or 576), "Audio" stereo 16-bit PCM at a rate DV carries (48, 44.1 or 32 kHz). Samples and
// the end of the stream go to the multiplexer. With NTSC video connected, only 48 kHz.
#pragma once

#include <atomic>

#include "platform/dshow/BaseInputPin.h"

class DVMux;

class DVMuxInputPin final : public CBaseInputPin {
public:
    DVMuxInputPin(DVMux* mux, CCritSec* lock, HRESULT* result, bool video);

    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    // A new run: the stream has not ended.
    HRESULT Active() override;

    bool IsVideo() const { return m_bVideo; }
    bool Ended() const { return m_bEnded; }
    void SetEnded() { m_bEnded = true; }

private:
    DVMux* const m_pMux;
    const bool m_bVideo;
    std::atomic<bool> m_bEnded{false};
};
