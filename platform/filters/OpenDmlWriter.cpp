#include "OpenDmlWriter.h"

#include <algorithm>

namespace {

constexpr DWORD AVIF_HASINDEX = 0x10, AVIF_ISINTERLEAVED = 0x100;
constexpr DWORD AVIIF_KEYFRAME = 0x10;
// Chunks this large are lent to the sink from the sample that brought them; smaller ones are
// copied behind their header, one write each.
constexpr DWORD LendFrom = 64 << 10;
// 'RIFF' size 'AVIX' 'LIST' size 'movi'
constexpr ULONGLONG SegmentHeaderBytes = 24;
constexpr ULONGLONG StandardIndexBytes = 32, StandardIndexEntryBytes = 8;
constexpr ULONGLONG OldIndexEntryBytes = 16;

std::vector<BYTE> SizeBytes(ULONGLONG size)
{
    RiffBytes bytes;
    bytes.U32(DWORD(size));
    return std::move(bytes.Bytes());
}

}  // namespace

OpenDmlWriter::OpenDmlWriter(std::vector<AviStream> streams, AviByteSink& sink, bool oldIndex, AviLimits limits)
    : m_Streams(std::move(streams)), m_Sink(sink), m_OldIndex(oldIndex), m_Limits(limits)
{
}

HRESULT OpenDmlWriter::Start()
{
    // Until the segment ends, its sizes say it runs as far as it may: a reader of a file cut
    // short takes the end of the file for its end.
    m_Pos = Header().size();
    m_MoviStart = m_Pos - 12;
    m_FirstRiffSize = DWORD(m_Limits.segmentBytes - 8);
    m_FirstMoviSize = DWORD(m_Limits.segmentBytes - m_MoviStart - 8);
    m_MoviOpen = true;
    return Put(0, Header());
}

HRESULT OpenDmlWriter::Write(size_t stream, IMediaSample* sample)
{
    if (FAILED(m_Failure))
        return m_Failure;
    return m_Streams[stream].Split(sample, [&](const AviChunk& chunk) { return Place(stream, chunk); });
}

HRESULT OpenDmlWriter::Place(size_t stream, const AviChunk& chunk)
{
    const ULONGLONG bytes = 8 + chunk.size + (chunk.size & 1);
    if (!Fits(stream, bytes)) {
        if (SegmentEmpty() || m_Segment + 1 >= m_Limits.superIndexEntries)
            return m_Failure = VFW_E_BUFFER_OVERFLOW;
        if (const HRESULT hr = CloseSegment(); FAILED(hr))
            return hr;
        if (const HRESULT hr = OpenSegment(); FAILED(hr))
            return hr;
    }
    AviStream& s = m_Streams[stream];
    RiffBytes out;
    out.Fourcc(s.ChunkId());
    out.U32(chunk.size);
    HRESULT hr;
    if (chunk.owner && chunk.size >= LendFrom) {
        // The pad byte after an odd size is never written: the bytes skipped read as zero.
        hr = Put(m_Pos, std::move(out.Bytes()));
        if (SUCCEEDED(hr) && FAILED(hr = m_Sink.LendBytes(m_Pos + 8, chunk.owner, chunk.data, chunk.size)))
            Failed(hr);
    } else {
        out.Put(chunk.data, chunk.size);
        out.Zeros(chunk.size & 1);
        hr = Put(m_Pos, std::move(out.Bytes()));
    }
    if (FAILED(hr))
        return hr;
    s.Written(chunk, m_Pos + 8, m_Segment == 0);
    if (m_Segment == 0 && m_OldIndex) {
        m_OldEntries.Fourcc(s.ChunkId());
        m_OldEntries.U32(chunk.key ? AVIIF_KEYFRAME : 0);
        m_OldEntries.U32(DWORD(m_Pos - (m_MoviStart + 8)));  // from the 'movi' list's type
        m_OldEntries.U32(chunk.size);
    }
    m_Pos += bytes;
    return S_OK;
}

bool OpenDmlWriter::Fits(size_t stream, ULONGLONG chunkBytes) const
{
    ULONGLONG needed = m_Pos + chunkBytes - m_SegmentStart;
    for (size_t s = 0; s < m_Streams.size(); s++)
        if (const size_t entries = m_Streams[s].SegmentEntries() + (s == stream))
            needed += StandardIndexBytes + StandardIndexEntryBytes * entries;
    if (m_Segment == 0 && m_OldIndex)
        needed += 8 + m_OldEntries.Size() + OldIndexEntryBytes;
    return needed <= m_Limits.segmentBytes;
}

bool OpenDmlWriter::SegmentEmpty() const
{
    return std::all_of(m_Streams.begin(), m_Streams.end(), [](const AviStream& s) { return s.SegmentEntries() == 0; });
}

HRESULT OpenDmlWriter::CloseSegment()
{
    // The streams take their index chunks into the super index once all are written: a segment
    // whose indexes are not all there has none, and readers walk its 'movi' list instead.
    std::vector<std::pair<ULONGLONG, DWORD>> written(m_Streams.size());
    for (size_t s = 0; s < m_Streams.size(); s++) {
        if (m_Streams[s].SegmentEntries() == 0)
            continue;
        std::vector<BYTE> index = m_Streams[s].StandardIndex(m_MoviStart + 8);
        const DWORD size = DWORD(index.size());
        if (const HRESULT hr = Put(m_Pos, std::move(index)); FAILED(hr))
            return hr;
        written[s] = {m_Pos, size};
        m_Pos += size;
    }
    for (size_t s = 0; s < m_Streams.size(); s++)
        if (written[s].second)
            m_Streams[s].Indexed(written[s].first, written[s].second);
    if (const HRESULT hr = EndMovi(); FAILED(hr))
        return hr;
    if (m_Segment == 0 && m_OldIndex && m_OldEntries.Size()) {
        RiffBytes index;
        const size_t at = index.Begin(FCC("idx1"));
        index.Put(m_OldEntries.Bytes().data(), m_OldEntries.Size());
        index.End(at);
        const ULONGLONG size = index.Size();
        if (const HRESULT hr = Put(m_Pos, std::move(index.Bytes())); FAILED(hr))
            return hr;
        m_Pos += size;
        m_OldIndexWritten = true;
    }
    return EndRiff();
}

// The first segment's sizes go into the headers too, which are written again at the end.
HRESULT OpenDmlWriter::EndMovi()
{
    const DWORD size = DWORD(m_Pos - m_MoviStart - 8);
    if (m_Segment == 0)
        m_FirstMoviSize = size;
    m_MoviOpen = false;
    return Put(m_MoviStart + 4, SizeBytes(size));
}

HRESULT OpenDmlWriter::EndRiff()
{
    const DWORD size = DWORD(m_Pos - m_SegmentStart - 8);
    if (m_Segment == 0)
        m_FirstRiffSize = size;
    return Put(m_SegmentStart + 4, SizeBytes(size));
}

HRESULT OpenDmlWriter::OpenSegment()
{
    RiffBytes header;
    header.BeginList(FCC("RIFF"), FCC("AVIX"));
    header.BeginList(FCC("LIST"), FCC("movi"));
    header.SetU32(4, DWORD(m_Limits.segmentBytes - 8));
    header.SetU32(16, DWORD(m_Limits.segmentBytes - 20));
    if (const HRESULT hr = Put(m_Pos, std::move(header.Bytes())); FAILED(hr))
        return hr;
    m_SegmentStart = m_Pos;
    m_MoviStart = m_Pos + 12;
    m_Pos += SegmentHeaderBytes;
    m_Segment++;
    m_MoviOpen = true;
    return S_OK;
}

HRESULT OpenDmlWriter::Finish()
{
    if (!m_WriteFailed)
        CloseSegment();
    if (m_WriteFailed) {
        if (m_MoviOpen)
            EndMovi();
        EndRiff();
    }
    const HRESULT hr = m_Sink.WriteBytes(0, Header());
    return FAILED(m_Failure) ? m_Failure : hr;
}

HRESULT OpenDmlWriter::Put(ULONGLONG offset, std::vector<BYTE> bytes)
{
    const HRESULT hr = m_Sink.WriteBytes(offset, std::move(bytes));
    if (FAILED(hr))
        Failed(hr);
    return hr;
}

void OpenDmlWriter::Failed(HRESULT hr)
{
    m_WriteFailed = true;
    if (SUCCEEDED(m_Failure))
        m_Failure = hr;
}

std::vector<BYTE> OpenDmlWriter::Header() const
{
    const auto framed = std::find_if(m_Streams.begin(), m_Streams.end(), [](const AviStream& s) { return s.HasFrames(); });
    const AviStream* video = framed == m_Streams.end() ? nullptr : &*framed;
    DWORD bytesPerSecond = 0, largest = 0;
    for (const AviStream& s : m_Streams) {
        bytesPerSecond += s.BytesPerSecond();
        largest = std::max(largest, s.LargestChunk());
    }
    RiffBytes h;
    h.BeginList(FCC("RIFF"), FCC("AVI "));
    const size_t hdrl = h.BeginList(FCC("LIST"), FCC("hdrl"));
    const size_t avih = h.Begin(FCC("avih"));
    h.U32(video ? video->MicroSecondsPerFrame() : 0);
    h.U32(bytesPerSecond);
    h.U32(0);  // padding granularity
    h.U32((m_OldIndexWritten ? AVIF_HASINDEX : 0) | (m_Streams.size() > 1 ? AVIF_ISINTERLEAVED : 0));
    h.U32(video ? video->ChunksInFirstSegment() : 0);
    h.U32(0);  // initial frames
    h.U32(DWORD(m_Streams.size()));
    h.U32(largest);
    h.U32(video ? DWORD(video->Width()) : 0);
    h.U32(video ? DWORD(video->Height()) : 0);
    h.Zeros(4 * sizeof(DWORD));
    h.End(avih);
    for (const AviStream& s : m_Streams)
        s.PutStreamList(h, m_Limits.superIndexEntries);
    const size_t odml = h.BeginList(FCC("LIST"), FCC("odml"));
    const size_t dmlh = h.Begin(FCC("dmlh"));
    h.U32(video ? video->Chunks() : 0);
    h.Zeros(61 * sizeof(DWORD));
    h.End(dmlh);
    h.End(odml);
    h.End(hdrl);
    const size_t movi = h.BeginList(FCC("LIST"), FCC("movi"));
    h.SetU32(4, m_FirstRiffSize);
    h.SetU32(movi + 4, m_FirstMoviSize);
    return std::move(h.Bytes());
}
