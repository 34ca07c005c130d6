#include "AviStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace {

constexpr DWORD BI_BITFIELDS = 3;
constexpr DWORD DeltaFrame = 0x80000000u;  // AVI_INDEX_DELTAFRAME
// DV frames: 525 lines at 30000/1001 (the frame time truncated, as frames are stamped), 625 lines at 25.
constexpr DWORD DVFrameBytes625 = 144000;
constexpr REFERENCE_TIME DVFrameTime525 = 333666, DVFrameTime625 = 400000;
// Video whose format and samples never tell its frame time.
constexpr REFERENCE_TIME UntoldFrameTime = 400000;
// A gap longer than this (an hour at 30 frames a second) is a time stamp gone wrong, not frames dropped.
constexpr LONGLONG MostDroppedFrames = 108000;

// YUV layouts stored as they are, whose samples are whole pictures.
bool IsPlainYuv(FOURCC fcc)
{
    for (FOURCC plain : {FCC("UYVY"), FCC("YUY2"), FCC("YVYU"), FCC("YV12"), FCC("I420"), FCC("IYUV"), FCC("NV12")})
        if (fcc == plain)
            return true;
    return false;
}

FOURCC ChunkIdOf(unsigned number, const char* suffix)
{
    return mmioFOURCC(char('0' + number / 10 % 10), char('0' + number % 10), suffix[0], suffix[1]);
}

// The bytes of the format block from offset on, at most count of them.
std::vector<BYTE> FormatBytes(const CMediaType& type, size_t offset, size_t count)
{
    const size_t end = std::min<size_t>(type.cbFormat, offset + count);
    return offset < end ? std::vector<BYTE>(type.pbFormat + offset, type.pbFormat + end) : std::vector<BYTE>();
}

}  // namespace

bool AviStream::Accepts(const CMediaType& type)
{
    if (!type.pbFormat)
        return false;
    if (type.majortype == MEDIATYPE_Video)
        return type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER);
    if (type.majortype == MEDIATYPE_Audio)
        return type.formattype == FORMAT_WaveFormatEx && type.cbFormat >= sizeof(WAVEFORMATEX) - sizeof(WORD);
    return type.majortype == MEDIATYPE_Interleaved && type.formattype == FORMAT_DvInfo && type.cbFormat >= sizeof(DVINFO);
}

AviStream::AviStream(const CMediaType& type, unsigned number)
    : m_Kind(type.majortype == MEDIATYPE_Video   ? Kind::Video
             : type.majortype == MEDIATYPE_Audio ? Kind::Audio
                                                 : Kind::Interleaved)
{
    if (m_Kind == Kind::Video) {
        DescribeVideo(type);
        m_ChunkId = ChunkIdOf(number, m_Uncompressed ? "db" : "dc");
    } else if (m_Kind == Kind::Audio) {
        DescribeAudio(type);
        m_ChunkId = ChunkIdOf(number, "wb");
    } else {
        m_Handler = FCC("dvsd");
        m_Format = FormatBytes(type, 0, sizeof(DVINFO));
        m_ChunkId = ChunkIdOf(number, "dc");
    }
}

void AviStream::DescribeVideo(const CMediaType& type)
{
    const auto& info = *reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    const BITMAPINFOHEADER& bmi = info.bmiHeader;
    m_Width = bmi.biWidth;
    m_Height = std::abs(bmi.biHeight);
    m_FrameTime = info.AvgTimePerFrame;
    m_Handler = bmi.biCompression;
    const bool rgb = bmi.biCompression == BI_RGB || bmi.biCompression == BI_BITFIELDS;
    m_Uncompressed = rgb || IsPlainYuv(bmi.biCompression);
    m_ImageSize = bmi.biSizeImage ? bmi.biSizeImage : GetBitmapSize(&bmi);
    const size_t headerAt = offsetof(VIDEOINFOHEADER, bmiHeader);
    size_t extra;
    if (bmi.biSize > sizeof bmi)
        extra = bmi.biSize - sizeof bmi;  // the codec's bytes counted in the header, as VfW has them
    else if (bmi.biCompression == BI_BITFIELDS)
        extra = 3 * sizeof(DWORD);
    else if (rgb && bmi.biBitCount <= 8)
        extra = (bmi.biClrUsed ? bmi.biClrUsed : 1u << bmi.biBitCount) * 4;
    else if (m_Uncompressed)
        extra = 0;
    else
        extra = type.cbFormat - sizeof(VIDEOINFOHEADER);  // the codec's set-up bytes
    m_Format = FormatBytes(type, headerAt, sizeof bmi + extra);
    // The header says how large it is; the codec's bytes then follow it.
    BITMAPINFOHEADER header = bmi;
    header.biSize = std::max<DWORD>(bmi.biSize, sizeof bmi);
    std::memcpy(m_Format.data(), &header, sizeof header);
}

void AviStream::DescribeAudio(const CMediaType& type)
{
    WAVEFORMATEX format{};
    std::memcpy(&format, type.pbFormat, std::min<size_t>(type.cbFormat, sizeof format));
    m_Format.assign(reinterpret_cast<const BYTE*>(&format), reinterpret_cast<const BYTE*>(&format) + sizeof format);
    const std::vector<BYTE> extra = FormatBytes(type, sizeof format, format.cbSize);
    m_Format.insert(m_Format.end(), extra.begin(), extra.end());
    reinterpret_cast<WAVEFORMATEX*>(m_Format.data())->cbSize = WORD(extra.size());
    m_SampleRate = format.nSamplesPerSec;
    m_BytesPerSecond = format.nAvgBytesPerSec;
    m_Splitter = AudioFrameSplitter::ForFormatTag(format.wFormatTag);
    if (!m_Splitter)
        m_BlockAlign = std::max<DWORD>(format.nBlockAlign, 1);
}

HRESULT AviStream::Split(IMediaSample* sample, const ChunkSink& sink)
{
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)))
        return E_POINTER;
    const LONG length = std::max<LONG>(sample->GetActualDataLength(), 0);
    if (m_Kind == Kind::Audio) {
        if (m_Splitter)
            return m_Splitter->Feed(data, size_t(length), [&](const BYTE* frame, DWORD size) {
                return sink({const_cast<BYTE*>(frame), size, true, nullptr});
            });
        return length ? sink({data, DWORD(length), true, sample}) : S_OK;
    }
    return SplitFrames(sample, data, length, sink);
}

HRESULT AviStream::SplitFrames(IMediaSample* sample, BYTE* data, LONG length, const ChunkSink& sink)
{
    REFERENCE_TIME start, stop;
    const HRESULT timed = sample->GetTime(&start, &stop);
    if (m_FrameTime <= 0) {
        if (timed == S_OK && stop > start)
            m_FrameTime = stop - start;
        else if (m_Kind == Kind::Interleaved)
            m_FrameTime = DWORD(length) == DVFrameBytes625 ? DVFrameTime625 : DVFrameTime525;
    }
    if (SUCCEEDED(timed) && m_FrameTime > 0) {
        DWORD rate, scale;
        FrameRate(&rate, &scale);
        const LONGLONG frame = std::llround((long double)start * rate / ((long double)scale * UNITS));
        const LONGLONG missing = frame - LONGLONG(m_Chunks);
        for (LONGLONG n = 0; n < missing && missing <= MostDroppedFrames; n++)
            if (const HRESULT hr = sink({nullptr, 0, false, nullptr}); FAILED(hr))
                return hr;
    }
    // An uncompressed picture is the image, whatever the buffer holds beyond it.
    const DWORD size = m_Uncompressed ? std::min<DWORD>(DWORD(length), m_ImageSize) : DWORD(length);
    const bool key = m_Uncompressed || m_Kind == Kind::Interleaved || sample->IsSyncPoint() == S_OK;
    return sink({size ? data : nullptr, size, key && size != 0, sample});
}

void AviStream::Written(const AviChunk& chunk, ULONGLONG dataOffset, bool firstSegment)
{
    m_Chunks++;
    m_FirstSegmentChunks += firstSegment;
    m_Largest = std::max(m_Largest, chunk.size);
    m_Bytes += chunk.size;
    m_SegmentBytes += chunk.size;
    m_Entries.push_back({dataOffset, chunk.size | (chunk.key ? 0 : DeltaFrame)});
}

std::vector<BYTE> AviStream::StandardIndex(ULONGLONG base) const
{
    RiffBytes ix;
    const size_t at = ix.Begin(mmioFOURCC('i', 'x', char(m_ChunkId), char(m_ChunkId >> 8)));
    ix.U16(2);  // longs per entry
    ix.Put("\0\1", 2);  // sub type 0, AVI_INDEX_OF_CHUNKS
    ix.U32(DWORD(m_Entries.size()));
    ix.Fourcc(m_ChunkId);
    ix.U64(base);
    ix.U32(0);
    for (const Entry& entry : m_Entries) {
        ix.U32(DWORD(entry.offset - base));
        ix.U32(entry.size);
    }
    ix.End(at);
    return std::move(ix.Bytes());
}

void AviStream::Indexed(ULONGLONG offset, DWORD size)
{
    const ULONGLONG units = m_BlockAlign ? m_SegmentBytes / m_BlockAlign : m_Entries.size();
    m_Super.push_back({offset, size, DWORD(units)});
    m_Entries.clear();
    m_SegmentBytes = 0;
}

DWORD AviStream::Length() const { return m_BlockAlign ? DWORD(m_Bytes / m_BlockAlign) : m_Chunks; }

void AviStream::FrameRate(DWORD* rate, DWORD* scale) const
{
    const REFERENCE_TIME time = m_FrameTime > 0 ? m_FrameTime : UntoldFrameTime;
    for (const LONGLONG denominator : {1LL, 1001LL}) {
        const LONGLONG numerator = std::llround(double(denominator) * UNITS / double(time));
        if (numerator > 0 && numerator <= 0xFFFFFFFFLL && denominator * UNITS / numerator == time) {
            *rate = DWORD(numerator);
            *scale = DWORD(denominator);
            return;
        }
    }
    const LONGLONG common = std::gcd(UNITS, time);
    *rate = DWORD(UNITS / common);
    *scale = DWORD(std::min<LONGLONG>(time / common, 0xFFFFFFFFLL));
}

DWORD AviStream::MicroSecondsPerFrame() const
{
    if (!HasFrames())
        return 0;
    DWORD rate, scale;
    FrameRate(&rate, &scale);
    return DWORD(std::llround(1e6 * scale / rate));
}

DWORD AviStream::BytesPerSecond() const
{
    if (!HasFrames())
        return m_BytesPerSecond;
    DWORD rate, scale;
    FrameRate(&rate, &scale);
    return DWORD(std::min<double>(double(m_Largest) * rate / scale, 0xFFFFFFFF));
}

void AviStream::PutStreamList(RiffBytes& out, DWORD superIndexRoom) const
{
    const size_t list = out.BeginList(FCC("LIST"), FCC("strl"));
    DWORD rate, scale, sampleSize = 0;
    if (m_Kind != Kind::Audio) {
        FrameRate(&rate, &scale);
    } else if (m_Splitter) {
        // One codec frame a chunk, each as long as the codec's frames.
        const DWORD common = std::gcd(m_Splitter->FrameSamples(), std::max<DWORD>(m_SampleRate, 1));
        rate = std::max<DWORD>(m_SampleRate, 1) / common;
        scale = m_Splitter->FrameSamples() / common;
    } else {
        rate = m_BytesPerSecond;
        scale = sampleSize = m_BlockAlign;
    }
    const size_t strh = out.Begin(FCC("strh"));
    out.Fourcc(m_Kind == Kind::Video ? FCC("vids") : m_Kind == Kind::Audio ? FCC("auds") : FCC("iavs"));
    out.Fourcc(m_Handler);
    out.U32(0);  // flags
    out.U32(0);  // priority, language
    out.U32(0);  // initial frames
    out.U32(scale);
    out.U32(rate);
    out.U32(0);  // start
    out.U32(Length());
    out.U32(m_Uncompressed ? std::max(m_Largest, m_ImageSize) : m_Largest);
    out.U32(0xFFFFFFFFu);  // quality: the codec's default
    out.U32(sampleSize);
    out.U16(0), out.U16(0), out.U16(WORD(m_Width)), out.U16(WORD(m_Height));
    out.End(strh);
    const size_t strf = out.Begin(FCC("strf"));
    out.Put(m_Format.data(), m_Format.size());
    out.End(strf);
    const size_t indx = out.Begin(FCC("indx"));
    out.U16(4);  // longs per entry
    out.Put("\0\0", 2);  // sub type 0, AVI_INDEX_OF_INDEXES
    out.U32(DWORD(m_Super.size()));
    out.Fourcc(m_ChunkId);
    out.Zeros(3 * sizeof(DWORD));
    for (const SuperEntry& entry : m_Super) {
        out.U64(entry.offset);
        out.U32(entry.size);
        out.U32(entry.duration);
    }
    out.Zeros((superIndexRoom - m_Super.size()) * 16);
    out.End(indx);
    out.End(list);
}
