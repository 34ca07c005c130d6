// One stream of the AVI file that the multiplexer writes: what AVI says of it (its 'strl' list
// with the OpenDML super index, its chunk id), how its samples become chunks, and what has been
// written of it (counts, and the index entries of the segment being written).
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "AudioFrameSplitter.h"
#include "RiffBytes.h"
#include "platform/dshow/MediaType.h"

struct AviChunk {
    BYTE* data;  // null for an empty chunk (a dropped frame)
    DWORD size;
    bool key;
    // The sample whose buffer holds data, which may lend it for as long as it is needed; null when
    // data is valid during the call only.
    IMediaSample* owner;
};

class AviStream {
public:
    // Video with FORMAT_VideoInfo, audio with FORMAT_WaveFormatEx, interleaved DV with FORMAT_DvInfo.
    static bool Accepts(const CMediaType& type);
    // For a type Accepts; number is the stream's place in the file, which names its chunks.
    AviStream(const CMediaType& type, unsigned number);

    using ChunkSink = std::function<HRESULT(const AviChunk&)>;
    // The chunks of a sample, in order, each handed to sink and written before the next comes;
    // the sink's first failure ends it. Video whose start time lies more than a frame past the
    // frames written gets an empty chunk for each frame dropped first.
    HRESULT Split(IMediaSample* sample, const ChunkSink& sink);
    // The chunk has been written, its data at dataOffset.
    void Written(const AviChunk& chunk, ULONGLONG dataOffset, bool firstSegment);

    // The index entries of the segment being written.
    size_t SegmentEntries() const { return m_Entries.size(); }
    // The segment's standard index chunk ('ix##'), its offsets counted from base (the segment's
    // 'movi' list: every offset then fits 32 bits, and none is 0).
    std::vector<BYTE> StandardIndex(ULONGLONG base) const;
    // That chunk is written at offset, size bytes long: it becomes an entry of the super index,
    // and the next segment starts with no entries.
    void Indexed(ULONGLONG offset, DWORD size);
    size_t SuperIndexEntries() const { return m_Super.size(); }

    // The 'strl' list: 'strh', 'strf' and an 'indx' with room for superIndexRoom entries.
    void PutStreamList(RiffBytes& out, DWORD superIndexRoom) const;

    // Video, or interleaved DV: the stream the file's frames are counted in.
    bool HasFrames() const { return m_Kind != Kind::Audio; }
    FOURCC ChunkId() const { return m_ChunkId; }
    DWORD Chunks() const { return m_Chunks; }
    DWORD ChunksInFirstSegment() const { return m_FirstSegmentChunks; }
    DWORD LargestChunk() const { return m_Largest; }
    LONG Width() const { return m_Width; }
    LONG Height() const { return m_Height; }
    // 0 for a stream without frames.
    DWORD MicroSecondsPerFrame() const;
    DWORD BytesPerSecond() const;

private:
    enum class Kind { Video, Audio, Interleaved };
    struct Entry {
        ULONGLONG offset;  // of the data
        DWORD size;        // with AVI_INDEX_DELTAFRAME for a chunk that is not a key frame
    };
    struct SuperEntry {
        ULONGLONG offset;
        DWORD size;
        DWORD duration;
    };

    void DescribeVideo(const CMediaType& type);
    void DescribeAudio(const CMediaType& type);
    HRESULT SplitFrames(IMediaSample* sample, BYTE* data, LONG length, const ChunkSink& sink);
    // dwRate / dwScale for the frame time: exact for n / 1 and n * 1000 / 1001 frames a second.
    void FrameRate(DWORD* rate, DWORD* scale) const;
    // In the stream header's units: frames, codec frames or blocks.
    DWORD Length() const;

    Kind m_Kind;
    FOURCC m_ChunkId;
    FOURCC m_Handler = 0;
    std::vector<BYTE> m_Format;  // 'strf'
    bool m_Uncompressed = false;
    DWORD m_ImageSize = 0;  // an uncompressed picture's bytes; samples may be larger
    LONG m_Width = 0, m_Height = 0;
    REFERENCE_TIME m_FrameTime = 0;  // 0 until a format or a sample tells
    DWORD m_BlockAlign = 0;          // audio stored by the byte; 0 for a frame codec
    DWORD m_BytesPerSecond = 0;
    DWORD m_SampleRate = 0;
    std::unique_ptr<AudioFrameSplitter> m_Splitter;  // frame codecs only

    DWORD m_Chunks = 0;
    DWORD m_FirstSegmentChunks = 0;
    DWORD m_Largest = 0;
    ULONGLONG m_Bytes = 0;
    std::vector<Entry> m_Entries;
    ULONGLONG m_SegmentBytes = 0;
    std::vector<SuperEntry> m_Super;
};
