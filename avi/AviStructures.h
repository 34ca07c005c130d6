// The RIFF/AVI/OpenDML structures as stored in the file, and the parser's records built from them.
#pragma once

#include "platform/win32/Win32Types.h"

#pragma pack(push, 1)
struct AVIMAINHEADER {
    DWORD dwMicroSecPerFrame;
    DWORD dwMaxBytesPerSec;
    DWORD dwPaddingGranularity;
    DWORD dwFlags;
    DWORD dwTotalFrames;
    DWORD dwInitialFrames;
    DWORD dwStreams;
    DWORD dwSuggestedBufferSize;
    DWORD dwWidth;
    DWORD dwHeight;
    DWORD dwReserved[4];
};

struct AVISTREAMHEADER {
    FOURCC fccType;
    FOURCC fccHandler;
    DWORD dwFlags;
    WORD wPriority;
    WORD wLanguage;
    DWORD dwInitialFrames;
    DWORD dwScale;
    DWORD dwRate;
    DWORD dwStart;
    DWORD dwLength;
    DWORD dwSuggestedBufferSize;
    DWORD dwQuality;
    DWORD dwSampleSize;
    struct {
        short left, top, right, bottom;
    } rcFrame;
};

struct AVIINDEXENTRY {  // one "idx1" entry
    FOURCC ckid;
    DWORD dwFlags;
    DWORD dwChunkOffset;
    DWORD dwSize;
};

struct AVISUPERINDEXENTRY {  // one entry of an OpenDML "indx" of indexes
    ULONGLONG qwOffset;
    DWORD dwSize;
    DWORD dwDuration;
};

struct AVISUPERINDEXHEADER {  // the 24 bytes of an "indx" after its chunk header
    WORD wLongsPerEntry;
    BYTE bIndexSubType;
    BYTE bIndexType;
    DWORD nEntriesInUse;
    DWORD dwChunkId;
    DWORD dwReserved[3];
};

struct AVISTDINDEXHEADER {  // an OpenDML standard index chunk, counted from its FOURCC
    FOURCC fcc;
    DWORD cb;
    WORD wLongsPerEntry;
    BYTE bIndexSubType;
    BYTE bIndexType;
    DWORD nEntriesInUse;
    DWORD dwChunkId;
    ULONGLONG qwBaseOffset;
    DWORD dwReserved3;
};

struct AVISTDINDEXENTRY {
    DWORD dwOffset;
    DWORD dwSize;  // bit 31 set: not a key frame
};
#pragma pack(pop)

static_assert(sizeof(AVIMAINHEADER) == 56, "AVIMAINHEADER layout");
static_assert(sizeof(AVISTREAMHEADER) == 56, "AVISTREAMHEADER layout");
static_assert(sizeof(AVIINDEXENTRY) == 16, "idx1 entry layout");
static_assert(sizeof(AVISUPERINDEXENTRY) == 16, "super index entry layout");
static_assert(sizeof(AVISUPERINDEXHEADER) == 24, "super index header layout");
static_assert(sizeof(AVISTDINDEXHEADER) == 32, "standard index header layout");

#define AVIIF_KEYFRAME 0x10
#define AVI_INDEX_OF_INDEXES 0x00
#define AVI_INDEX_DELTAFRAME 0x80000000u

// One stream header as read, while parsing.
struct avistreamlist {
    avistreamlist* next;
    AVISTREAMHEADER header;
    unsigned char* format;
    DWORD formatSize;
};

// A loaded standard index chunk: the 32-byte header followed by nEntries entries. The data
// lies inside block, page memory that the chunk was read into.
struct IndexChunk {
    IndexChunk* next;
    unsigned char* data;
    DWORD nEntries;
    void* block;

    AVISTDINDEXHEADER* header() { return (AVISTDINDEXHEADER*)data; }
    AVISTDINDEXENTRY* entries() { return (AVISTDINDEXENTRY*)(data + sizeof(AVISTDINDEXHEADER)); }
};

// The chunk index of one stream.
struct AVIstream {
    AVIstream* next;
    FOURCC fccType;
    IndexChunk* pChunks;
    AVISUPERINDEXENTRY* pSuperIndex;
    DWORD nEntriesInUse;
    AVISUPERINDEXENTRY* pNextEntry;
    IndexChunk* pLastChunk;
    DWORD currententry;
};

// One audio chunk: the first sample frame it holds and how many.
struct AudioSampleInfo {
    DWORD dwStart;
    DWORD dwSamples;
};
