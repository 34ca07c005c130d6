// The DV multiplexer (CLSID_DVMux): DV frames from "Video" with the PCM of "Audio" put into them
// (see DvFrameMuxer), out of "DV Out" as interleaved DV for the AVI Mux, each frame a sync point
// timed by its number. Without audio connected the frames pass as they are, with the sound they
// already carry. The output ends once every connected input has ended, after the frames still
// held (their missing sound silence).
#pragma once

#include <memory>
#include <mutex>

#include "DVMuxInputPin.h"
#include "DVMuxOutputPin.h"
#include "DvFrameMuxer.h"

class DVMux final : public CBaseFilter {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);
    explicit DVMux(IUnknown* outer);
    ~DVMux() override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    // From Stopped: a fresh muxer when audio is connected.
    HRESULT Pause() override;
    HRESULT Stop() override;

    // The output type while the video input is connected; its DVINFO as the muxer writes the
    // packs, for the audio connected (48 kHz until it is).
    bool OutputType(CMediaType* type);
    size_t FrameSize() const;
    // Audio of this rate goes into the frames of the video connected (any rate DV has before).
    bool TakesAudio(DWORD rate) const;

    HRESULT Receive(DVMuxInputPin* pin, IMediaSample* sample);
    HRESULT EndOfStream(DVMuxInputPin* pin);

private:
    bool Pal() const;
    HRESULT DeliverFrame(const BYTE* frame, size_t size);

    CCritSec m_Lock;
    std::unique_ptr<DVMuxInputPin> m_Video, m_Audio;
    std::unique_ptr<DVMuxOutputPin> m_Output;

    // Held by the streaming threads and by the state changes.
    std::mutex m_WriteLock;
    std::unique_ptr<DvFrameMuxer> m_Muxer;
    int64_t m_Delivered = 0;
    bool m_bEnded = false;
};
