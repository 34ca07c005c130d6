// The layout of the AVI file the multiplexer writes, OpenDML style: a RIFF 'AVI ' segment, then
// RIFF 'AVIX' segments, each below a size limit; in each segment's 'movi' list the chunks in the
// order they come and, at its end, a standard index ('ix##') per stream; the super indexes
// ('indx') in the headers; an 'idx1' after the first segment's 'movi' list when asked for.
//
// The headers are written first with the room the finished ones take, so that a file cut short
// still opens and readers that walk the 'movi' list find its frames; Finish writes them again in
// place with what was written.
#pragma once

#include <vector>

#include "AviStream.h"

// Where the file's bytes go, each piece at its offset.
class AviByteSink {
public:
    virtual HRESULT WriteBytes(ULONGLONG offset, std::vector<BYTE> bytes) = 0;
    // Bytes of a sample's buffer, which the sink may hold on to through the sample.
    virtual HRESULT LendBytes(ULONGLONG offset, IMediaSample* owner, BYTE* data, DWORD size) = 0;

protected:
    ~AviByteSink() = default;
};

struct AviLimits {
    ULONGLONG segmentBytes = 1ULL << 30;  // a whole RIFF segment, its header included
    DWORD superIndexEntries = 256;        // so at most this many segments
};

class OpenDmlWriter {
public:
    OpenDmlWriter(std::vector<AviStream> streams, AviByteSink& sink, bool oldIndex, AviLimits limits);

    HRESULT Start();
    // The sample's chunks, on stream n. Once a write has failed, or a chunk has found no room
    // (larger than a segment, or past the last segment the super index has room for), every
    // sample fails with that error: the file ends there.
    HRESULT Write(size_t stream, IMediaSample* sample);
    // The last segment's indexes, the sizes and the headers with the counts. After a failed write
    // only the sizes and headers are written again, over bytes that did reach the file, so that
    // what was written stays readable.
    HRESULT Finish();

private:
    HRESULT Place(size_t stream, const AviChunk& chunk);
    // Whether the chunk, with the index entries it adds, keeps the segment within its limit.
    bool Fits(size_t stream, ULONGLONG chunkBytes) const;
    bool SegmentEmpty() const;
    HRESULT CloseSegment();
    HRESULT OpenSegment();
    // The 'movi' list, then the RIFF segment, end at the current position.
    HRESULT EndMovi();
    HRESULT EndRiff();
    // A write that fails ends the file: the first failure is kept.
    HRESULT Put(ULONGLONG offset, std::vector<BYTE> bytes);
    void Failed(HRESULT hr);
    std::vector<BYTE> Header() const;

    std::vector<AviStream> m_Streams;
    AviByteSink& m_Sink;
    const bool m_OldIndex;
    const AviLimits m_Limits;

    ULONGLONG m_Pos = 0;           // where the next chunk goes
    ULONGLONG m_SegmentStart = 0;  // the segment's 'RIFF'
    ULONGLONG m_MoviStart = 0;     // its 'movi' list's 'LIST'
    unsigned m_Segment = 0;
    bool m_MoviOpen = false;
    DWORD m_FirstRiffSize = 0, m_FirstMoviSize = 0;
    RiffBytes m_OldEntries;  // 'idx1' entries of the first segment
    bool m_OldIndexWritten = false;
    HRESULT m_Failure = S_OK;
    bool m_WriteFailed = false;
};
