// The container parser for AVI (RIFF "AVI " with OpenDML "AVIX" segments) and WAV files, and
// the chunk index that locates every video frame and audio chunk by number.
#pragma once

#include <utility>
#include <vector>

#include "AviStructures.h"
#include "core/PageBlock.h"

class avihandle {
public:
    avihandle(const char* fileName, bool skipVideo, bool skipAudio);
    ~avihandle();

    avihandle(const avihandle&) = delete;
    avihandle& operator=(const avihandle&) = delete;

    bool openavi();
    void closeavi();

    // Entry number of a stream: its chunk's base offset, data offset and size. Numbers past
    // the stream's last entry give the last entry. Returns the entry's position in its chunk.
    DWORD getframeoffset(DWORD number, AVIstream* stream, ULONGLONG* base, DWORD* offset, DWORD* size);
    // The audio chunk holding sample (in the sample table's units): the greatest first sample
    // not above it, searched from an estimated chunk number. False, with the message, when even
    // the first chunk begins after it.
    bool findAudioChunk(DWORD estimate, DWORD sample, DWORD* chunk);
    // The video stream's greatest key frame at or before frame, in *key (frame numbers past the last
    // frame count as the last frame). False when no frame at or before it is a key frame, or the
    // index marks no key frame at all. OpenDML index chunks load as far as frame needs, while open.
    bool findkeyframe(DWORD frame, DWORD* key);
    // Whether the index tells key frames at all: OpenDML entries always do, "idx1" and a rebuilt
    // index when some frame is marked.
    bool haskeyframes() const { return !bIdx1Index || pKeyFrames; }
    // The frames of the video stream that its index holds, at most nFrames: a header may claim
    // more, but each frame past the index's last entry is that entry's frame again. The first
    // call on an OpenDML file loads every index chunk of the stream (the file must be open); the
    // count is kept.
    DWORD indexedframes();
    // Fills the audio sample table; returns the total sample frames.
    DWORD MakeSampleTable(AVIstream* stream, AudioSampleInfo** table);
    void idx1toindx(const char* chunk, DWORD size);
    bool getcindex();
    void addstream(AVIstream** out, avistreamlist* header);

    void* hFile;
    DWORD nFrames;
    AudioSampleInfo* pAudioSamples;
    DWORD* pKeyFrames;
    DWORD nKeyFrames;
    AVIstream* pStreams;
    AVIstream* pVideoStream;
    AVIstream* pAudioStream;
    WAVEFORMATEX* pAudioFormat;
    unsigned char* pVideoFormat;  // BITMAPINFOHEADER and up to 1024 bytes after it
    DWORD nVideoFormatSize;
    FOURCC fccVideoHandler;
    const char* pFileName;
    double dFrameRate;
    double dScale;
    double dRate;
    DWORD nAudioBufferSize;
    DWORD nVideoBufferSize;
    DWORD nAudioSamples;
    DWORD nAudioChunks;
    // Sample frames per chunk of a variable-rate audio stream (MP3, AC-3: one frame per chunk,
    // stream header dwSampleSize 0); 0 for streams of fixed-size blocks.
    DWORD nAudioBlockFrames;
    bool bError;
    bool bDVTwoChannels;
    bool bDVType1;
    bool bHasAudio;
    bool bHasVideo;
    AVIstream* pLastStream;
    AVIMAINHEADER* pMainHeader;
    avistreamlist* pCurrentHeader;
    avistreamlist* pFirstHeader;
    ULONGLONG qwMoviBase;
    // The index is built once, in memory, and kept over closeavi: from "idx1", from the WAV data
    // chunk, or rebuilt from the chunks of the "movi" lists (true); or it is read from OpenDML
    // super indexes a chunk at a time (false).
    bool bIdx1Index;
    BYTE bIndexType;
    bool bSkipVideo;
    bool bSkipAudio;

    static constexpr DWORD VideoFormatCapacity = 40 + 1024;

    BITMAPINFOHEADER* videoFormat() { return (BITMAPINFOHEADER*)pVideoFormat; }
    ULONGLONG fileSize();

private:
    // One entry of an index built in memory: where a chunk's data lies, and its size with the
    // delta-frame bit.
    struct ChunkEntry {
        ULONGLONG at;
        DWORD size;
    };

    enum class WalkEnd { Complete, Broken, Stopped };
    template <class Visit>
    WalkEnd forEachSubChunk(ULONGLONG end, bool emptyEnds, Visit visit);
    ULONGLONG endOf(ULONGLONG dataStart, DWORD size);
    FOURCC readListType();
    void handleStreamHeader(DWORD size);
    bool walk();
    bool handleRIFF(ULONGLONG end);
    void handleLISThdrl(ULONGLONG end);
    void handleLISTstrl(ULONGLONG end);
    void handleLISTodml(ULONGLONG end);
    bool handleWAVE(ULONGLONG end);
    void handleStreamFormat(avistreamlist* stream);
    void handleSuperIndex(const unsigned char* chunk, DWORD size);
    bool takeWaveFormat(avistreamlist* record);
    void takeWaveData(ULONGLONG dataStart, DWORD size);
    bool readChunkHeader(FOURCC* id, DWORD* size);
    PageBlock readChunk(DWORD size);
    void readFormat(avistreamlist* record, DWORD size);
    void appendHeader(avistreamlist* record);
    avistreamlist* servedHeader(bool video);
    void finish();
    void fail();
    void analyzeFirstDVFrame();
    void releaseHeaders();
    void chooseIndex();
    bool openDmlUsable();
    void rebuildIndex();
    void releaseStreams();
    void appendEntries(AVIstream* stream, const std::vector<ChunkEntry>& entries);
    bool locateEntry(DWORD number, AVIstream* stream, IndexChunk** chunk, DWORD* position);
    void gatherKeyFrames(IndexChunk* chunk);
    IndexChunk* newChunk(DWORD capacity, ULONGLONG baseOffset);
    IndexChunk* loadChunk(const AVISUPERINDEXENTRY& entry);
    void appendChunk(AVIstream* stream, IndexChunk* chunk);
    void releaseChunks(AVIstream* stream);

    // The data of every "movi" list, from after its type to its end (cut to the file's).
    std::vector<std::pair<ULONGLONG, ULONGLONG>> moviLists;
    // The index was rebuilt from the movi lists: the stream headers were written before the data
    // and may never have been brought up to date.
    bool bRebuilt = false;
    // Key frames of the OpenDML video stream, gathered as its index chunks load in order: the
    // frames of the first keyChunksGathered chunks, framesGathered of them.
    std::vector<DWORD> openDmlKeyFrames;
    DWORD keyChunksGathered = 0;
    DWORD framesGathered = 0;
    // The count indexedframes found; 0xFFFFFFFF until it is known.
    DWORD nIndexedFrames = 0xFFFFFFFFu;
};
