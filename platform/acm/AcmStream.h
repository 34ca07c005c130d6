// One conversion stream: a decoder whose state lasts from one conversion to the next, the source
// bytes that end inside a block or frame, and the decoded PCM that did not fit the destination.
#pragma once

#include <memory>
#include <vector>

#include "AcmFormat.h"
#include "PcmConverter.h"
#include "platform/ffmpeg/AvPointers.h"

class AcmStream {
public:
    static MMRESULT Open(const WAVEFORMATEX* source, const WAVEFORMATEX* destination,
                         std::unique_ptr<AcmStream>* stream);

    // The most destination bytes the next conversion of `input` source bytes can give, with what
    // the stream holds back counted in.
    MMRESULT Size(DWORD input, DWORD* output) const;
    MMRESULT Convert(ACMSTREAMHEADER* header, DWORD flags);

private:
    struct Output {
        uint8_t* data;
        size_t room;
        size_t written;
    };

    explicit AcmStream(const AcmFormat& format);
    bool Begin();
    void Deliver(Output* out);
    void FeedBlocks(const uint8_t* data, size_t size, Output* out);
    void FeedParser(const uint8_t* data, size_t size, Output* out);
    void Decode(const uint8_t* data, size_t size, Output* out);
    void Emit(const AVFrame* frame, Output* out);
    size_t PendingBytes() const { return m_Pending.size() - m_PendingStart; }

    AcmFormat m_Format;
    AvCodecContextPtr m_Decoder;
    AvParserPtr m_Parser;
    AvFramePtr m_Frame;
    AvPacketPtr m_Packet;
    PcmConverter m_Converter;
    std::vector<uint8_t> m_Held;  // block codecs: the start of an incomplete block
    uint64_t m_ParserHeld = 0;    // frame codecs: bytes in the parser that no packet has carried yet
    std::vector<uint8_t> m_Padded;
    std::vector<uint8_t> m_Pending;
    size_t m_PendingStart = 0;
};
