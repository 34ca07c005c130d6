// An input pin of the ASF Writer: its video ("Video Input 01") or its audio ("Audio Input 01").
// The writer decides what each takes; samples and the end of the stream go to it.
#pragma once

#include "platform/dshow/BaseInputPin.h"

class AsfWriter;

class AsfWriterInputPin final : public CBaseInputPin {
public:
    AsfWriterInputPin(AsfWriter* writer, CCritSec* lock, bool video);

    bool IsVideo() const { return m_bVideo; }
    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;

private:
    AsfWriter* const m_pWriter;
    const bool m_bVideo;
};
