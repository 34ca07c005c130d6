#include "AcmStream.h"

#include <algorithm>
#include <cstring>

namespace {

// Source bytes handed to the decoder or the parser at a time.
constexpr size_t MaxSlice = 1 << 20;

}  // namespace

AcmStream::AcmStream(const AcmFormat& format)
    : m_Format(format), m_Converter(format.DestinationFormat(), format.Channels())
{
}

MMRESULT AcmStream::Open(const WAVEFORMATEX* source, const WAVEFORMATEX* destination,
                         std::unique_ptr<AcmStream>* stream)
{
    AcmFormat format;
    if (MMRESULT result = AcmFormat::Describe(source, destination, &format))
        return result;
    std::unique_ptr<AcmStream> opened(new AcmStream(format));
    opened->m_Frame.reset(av_frame_alloc());
    opened->m_Packet.reset(av_packet_alloc());
    if (!opened->m_Frame || !opened->m_Packet)
        return MMSYSERR_NOMEM;
    if (!opened->Begin())
        return ACMERR_NOTPOSSIBLE;
    *stream = std::move(opened);
    return MMSYSERR_NOERROR;
}

// A decoder (and parser) in its initial state, with nothing held back.
bool AcmStream::Begin()
{
    m_Decoder.reset(m_Format.NewDecoder());
    m_Parser.reset(m_Format.Framed() ? av_parser_init(m_Format.Codec()) : nullptr);
    if (!m_Decoder || avcodec_open2(m_Decoder.get(), nullptr, nullptr) < 0 || (m_Format.Framed() && !m_Parser)) {
        m_Decoder.reset();
        return false;
    }
    m_Held.clear();
    m_ParserHeld = 0;
    m_Pending.clear();
    m_PendingStart = 0;
    return true;
}

MMRESULT AcmStream::Size(DWORD input, DWORD* output) const
{
    const uint64_t held = m_Format.Framed() ? m_ParserHeld : m_Held.size();
    const uint64_t bytes = PendingBytes() + m_Format.MaxFrames(held + input) * m_Format.DestinationBlockAlign();
    if (bytes > UINT32_MAX)
        return ACMERR_NOTPOSSIBLE;
    *output = (DWORD)bytes;
    return MMSYSERR_NOERROR;
}

MMRESULT AcmStream::Convert(ACMSTREAMHEADER* header, DWORD flags)
{
    if (flags & ACM_STREAMCONVERTF_START) {
        // A decoder that fails to start again leaves the stream without one: conversions fail.
        if (!Begin())
            return MMSYSERR_ERROR;
    }
    if (!m_Decoder)
        return MMSYSERR_ERROR;
    const size_t frameBytes = m_Format.DestinationBlockAlign();
    Output out = {header->pbDst, header->cbDstLength - header->cbDstLength % frameBytes, 0};
    Deliver(&out);
    size_t take = header->cbSrcLength;
    if (flags & ACM_STREAMCONVERTF_BLOCKALIGN)
        take -= take % std::max(1u, m_Format.BlockAlign());
    for (size_t done = 0; done < take;) {
        const size_t slice = std::min(take - done, MaxSlice);
        if (m_Format.Framed())
            FeedParser(header->pbSrc + done, slice, &out);
        else
            FeedBlocks(header->pbSrc + done, slice, &out);
        done += slice;
    }
    // The end of the stream: the parser gives up the frame it holds.
    if ((flags & ACM_STREAMCONVERTF_END) && m_Format.Framed())
        FeedParser(nullptr, 0, &out);
    header->cbSrcLengthUsed = (DWORD)take;
    header->cbDstLengthUsed = (DWORD)out.written;
    return MMSYSERR_NOERROR;
}

void AcmStream::Deliver(Output* out)
{
    const size_t n = std::min(PendingBytes(), out->room - out->written);
    if (n == 0)
        return;
    memcpy(out->data + out->written, m_Pending.data() + m_PendingStart, n);
    out->written += n;
    m_PendingStart += n;
    if (m_PendingStart == m_Pending.size()) {
        m_Pending.clear();
        m_PendingStart = 0;
    }
}

// Whole blocks go to the decoder (many at once for PCM-like codecs); the bytes of a block that
// the source does not complete wait for the next conversion.
void AcmStream::FeedBlocks(const uint8_t* data, size_t size, Output* out)
{
    const size_t block = m_Format.BlockAlign();
    if (!m_Held.empty()) {
        const size_t n = std::min(block - m_Held.size(), size);
        m_Held.insert(m_Held.end(), data, data + n);
        data += n;
        size -= n;
        if (m_Held.size() < block)
            return;
        Decode(m_Held.data(), block, out);
        m_Held.clear();
    }
    while (size >= block) {
        const size_t packet = m_Format.PcmLike() ? size - size % block : block;
        Decode(data, packet, out);
        data += packet;
        size -= packet;
    }
    m_Held.assign(data, data + size);
}

// The parser cuts frames out of the byte stream and keeps the start of an incomplete one; it reads
// a little past the bytes it is given, so they are copied into a padded buffer. No bytes at all
// flush it: it hands out what it holds.
void AcmStream::FeedParser(const uint8_t* data, size_t size, Output* out)
{
    m_Padded.assign(data, data + size);
    m_Padded.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    const uint8_t* at = size ? m_Padded.data() : nullptr;
    int left = (int)size;
    for (bool flush = size == 0; left > 0 || flush; flush = false) {
        uint8_t* frame = nullptr;
        int frameSize = 0;
        const int used = av_parser_parse2(m_Parser.get(), m_Decoder.get(), &frame, &frameSize, at, left,
                                          AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0)
            break;
        at += used;
        left -= used;
        m_ParserHeld += (uint64_t)used;
        if (frameSize > 0) {
            m_ParserHeld -= std::min<uint64_t>(m_ParserHeld, (uint64_t)frameSize);
            Decode(frame, (size_t)frameSize, out);
        } else if (used == 0) {
            break;
        }
    }
}

// A packet whose frames hold more PCM than a legal frame of its size can is damaged: frame codecs
// drop them, so that the size bound holds whatever the bytes are.
void AcmStream::Decode(const uint8_t* data, size_t size, Output* out)
{
    m_Packet->data = const_cast<uint8_t*>(data);
    m_Packet->size = (int)size;
    avcodec_send_packet(m_Decoder.get(), m_Packet.get());
    m_Packet->data = nullptr;
    m_Packet->size = 0;
    uint64_t frames = 0;
    while (avcodec_receive_frame(m_Decoder.get(), m_Frame.get()) == 0) {
        frames += (uint64_t)m_Frame->nb_samples;
        if (!m_Format.Framed() || m_Format.Plausible(frames, size))
            Emit(m_Frame.get(), out);
        av_frame_unref(m_Frame.get());
    }
}

// Frames at another rate than the stream's have no place in its PCM and are dropped. What does
// not fit the destination waits, in order, for the next conversion.
void AcmStream::Emit(const AVFrame* frame, Output* out)
{
    if (frame->sample_rate != m_Format.Rate() || frame->nb_samples <= 0)
        return;
    const size_t frameBytes = m_Format.DestinationBlockAlign();
    const size_t bytes = (size_t)frame->nb_samples * frameBytes;
    if (PendingBytes() == 0 && out->room - out->written >= bytes) {
        out->written += (size_t)m_Converter.Convert(frame, out->data + out->written) * frameBytes;
        return;
    }
    if (m_PendingStart > 0) {
        m_Pending.erase(m_Pending.begin(), m_Pending.begin() + (ptrdiff_t)m_PendingStart);
        m_PendingStart = 0;
    }
    const size_t at = m_Pending.size();
    m_Pending.resize(at + bytes);
    m_Pending.resize(at + (size_t)m_Converter.Convert(frame, m_Pending.data() + at) * frameBytes);
}
