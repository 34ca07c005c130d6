#include "avihandle.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "DVFrame.h"
#include "core/Truncate.h"
#include "platform/win32/Memory.h"
#include "core/DebugOutput.h"
#include "core/FileIOWrapper.h"

namespace {

const WAVEFORMATEX defaultAudioFormat = {WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};

// KSDATAFORMAT_SUBTYPE_PCM, as stored in a WAVEFORMATEXTENSIBLE's SubFormat.
const unsigned char subtypePCM[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                      0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool isDVHandler(FOURCC handler) { return handler == FCC("dvsd") || handler == FCC("DVSD"); }

// The first 18 bytes of a PCM format, or of an extensible one whose sub-format is PCM (24-bit and
// multichannel PCM are stored so), as plain PCM: wFormatTag 1, cbSize 0. False for other formats.
bool pcmFormat(const unsigned char* format, DWORD size, WAVEFORMATEX* pcm)
{
    if (size < 16)
        return false;
    *pcm = {};
    memcpy(pcm, format, size < sizeof *pcm ? size : sizeof *pcm);
    const bool extensiblePcm = pcm->wFormatTag == WAVE_FORMAT_EXTENSIBLE && size >= 40 &&
                               memcmp(format + 24, subtypePCM, sizeof subtypePCM) == 0;
    if (pcm->wFormatTag != WAVE_FORMAT_PCM && !extensiblePcm)
        return false;
    pcm->wFormatTag = WAVE_FORMAT_PCM;
    pcm->cbSize = 0;
    return true;
}

}  // namespace

avihandle::avihandle(const char* fileName, bool skipVideo, bool skipAudio)
    : hFile(nullptr), nFrames(0), pAudioSamples(nullptr), pKeyFrames(nullptr), nKeyFrames(0),
      pStreams(nullptr), pVideoStream(nullptr), pAudioStream(nullptr), pAudioFormat(nullptr),
      pVideoFormat(nullptr), nVideoFormatSize(0), fccVideoHandler(0), pFileName(fileName), dFrameRate(0),
      dScale(0), dRate(0), nAudioBufferSize(0), nVideoBufferSize(0), nAudioSamples(0), nAudioChunks(0),
      nAudioBlockFrames(0), bError(false), bDVTwoChannels(false), bDVType1(false), bHasAudio(false), bHasVideo(false),
      pLastStream(nullptr), pMainHeader(nullptr), pCurrentHeader(nullptr), pFirstHeader(nullptr),
      qwMoviBase(0), bIdx1Index(false), bIndexType(0), bSkipVideo(skipVideo), bSkipAudio(skipAudio)
{
    hFile = OpenReadSeq(fileName);
    if (hFile == (void*)-1)
        hFile = nullptr;
    pMainHeader = (AVIMAINHEADER*)calloc(1, sizeof(AVIMAINHEADER));
    pVideoFormat = (unsigned char*)calloc(1, VideoFormatCapacity);
    pAudioFormat = (WAVEFORMATEX*)malloc(sizeof(WAVEFORMATEX));
    *pAudioFormat = defaultAudioFormat;

    if (!hFile) {
        DebugOutput("avihandle::avihandle Unable to open file");
        fail();
        return;
    }

    try {
        if (!walk()) {
            fail();
            return;
        }
        chooseIndex();
        finish();
    } catch (const char*) {
        // An index that cannot be read or held is a file that cannot be served.
        fail();
    }
}

// The top-level chunks: RIFF "AVI " and its "AVIX" continuations, or one RIFF "WAVE".
bool avihandle::walk()
{
    bool riffSeen = false;
    for (;;) {
        FOURCC id;
        DWORD size;
        if (!readChunkHeader(&id, &size))
            return true;
        if (id != FCC("RIFF")) {
            if (!riffSeen) {
                DebugOutput("RIFF header not found\n");
                return false;
            }
            DebugOutput("avihandle::avihandle Warning:excess data beyond RIFF Chunk not defined as RIFF:AVIX\n");
            return true;
        }
        riffSeen = true;
        const ULONGLONG dataStart = myTell64(hFile), end = endOf(dataStart, size);
        FOURCC form;
        if (myRead(hFile, &form, 4, nullptr, false) < 4)
            return true;
        if (form == FCC("WAVE"))
            return !bSkipAudio && handleWAVE(end);  // nothing after a WAVE form is read
        if (form != FCC("AVI ") && form != FCC("AVIX")) {
            DebugOutput("avihandle::avihandle Error:RIFF type AVI or AVIX expected");
            return false;
        }
        if (!handleRIFF(end))
            return false;
        mySeek64(hFile, dataStart + size + (size & 1), FILE_BEGIN);
    }
}

avihandle::~avihandle()
{
    if (hFile)
        myClose(hFile);
    releaseHeaders();
    free(pMainHeader);
    free(pVideoFormat);
    free(pAudioFormat);
    delete[] pAudioSamples;
    if (pKeyFrames)
        VirtualFree(pKeyFrames, 0, MEM_RELEASE);
    releaseStreams();
}

bool avihandle::openavi()
{
    hFile = OpenReadSeq(pFileName);
    if (hFile == (void*)-1) {
        hFile = nullptr;
        return false;
    }
    if (!bIdx1Index) {
        // Super indexes that are all empty leave nothing to load.
        for (AVIstream* s = pStreams; s; s = s->next) {
            if (s->nEntriesInUse) {
                getcindex();
                break;
            }
        }
        return true;
    }
    if (!pStreams)
        closeavi();
    return pStreams != nullptr;
}

void avihandle::closeavi()
{
    if (!bIdx1Index) {
        for (AVIstream* s = pStreams; s; s = s->next) {
            releaseChunks(s);
            s->pNextEntry = nullptr;
            s->currententry = 0;
        }
    }
    if (hFile) {
        myClose(hFile);
        hFile = nullptr;
    }
}

// Steps after the walk: stream rates, the first DV frame, the audio totals and buffer sizes.
// Rates and lengths come from the headers of the streams served, wherever they stand.
void avihandle::finish()
{
    myClose(hFile);
    hFile = nullptr;
    openavi();
    if (!hFile || !pFirstHeader) {
        fail();
        return;
    }
    const avistreamlist* video = servedHeader(true);
    if (bHasVideo && video) {
        dScale = video->header.dwScale;
        dRate = video->header.dwRate;
        dFrameRate = dRate / dScale;
        if (!(dFrameRate >= 1 && dFrameRate <= 300)) {
            DebugOutput("Warning: framerate is corrupt! reverting to 29.97");
            dScale = 1001;
            dRate = 30000;
            dFrameRate = 30000.0 / 1001.0;
        }
        if (pMainHeader->dwSuggestedBufferSize > nVideoBufferSize)
            nVideoBufferSize = pMainHeader->dwSuggestedBufferSize;
    }
    if (video && isDVHandler(video->header.fccHandler))
        analyzeFirstDVFrame();
    if (pAudioStream && !bSkipAudio) {
        const avistreamlist* audio = servedHeader(false);
        if (!bDVType1) {
            // A rebuilt index counts what the file holds; its headers may predate the data.
            const DWORD samples = MakeSampleTable(pAudioStream, &pAudioSamples);
            const DWORD headerLength = audio ? audio->header.dwLength : 0;
            nAudioSamples = !bRebuilt && headerLength < samples ? headerLength : samples;
            if (!bRebuilt && headerLength > samples)
                DebugOutput("avihandle::avihandle warning: Header Audio Sample length=%x vs. Actual=%x\n",
                            headerLength, samples);
        }
        if (nAudioBufferSize != 0) {
            if (pMainHeader->dwSuggestedBufferSize > nAudioBufferSize)
                nAudioBufferSize = pMainHeader->dwSuggestedBufferSize;
        } else if (IndexChunk* chunk = pAudioStream->pChunks) {
            for (DWORD i = 0; i < chunk->nEntries; i++) {
                DWORD size = chunk->entries()[i].dwSize & ~AVI_INDEX_DELTAFRAME;
                if (size > nAudioBufferSize)
                    nAudioBufferSize = size;
            }
        }
    }
    closeavi();
    releaseHeaders();
    free(pMainHeader);
    pMainHeader = nullptr;
    bError = false;
}

// The header of the video stream served (the last "vids" or "iavs"), or of the audio stream
// served (the last "auds"; in a type-1 DV file, the DV stream, whose frames carry the audio).
avistreamlist* avihandle::servedHeader(bool video)
{
    if (!video && bDVType1)
        return pFirstHeader;
    avistreamlist* served = nullptr;
    for (avistreamlist* h = pFirstHeader; h; h = h->next) {
        const FOURCC type = h->header.fccType;
        if (video ? type == FCC("vids") || type == FCC("iavs") : type == FCC("auds"))
            served = h;
    }
    return served;
}

// The frame size and audio layout of a DV file come from its first frame.
void avihandle::analyzeFirstDVFrame()
{
    IndexChunk* chunk;
    DWORD position;
    if (!locateEntry(0, pVideoStream, &chunk, &position))
        return;
    const DWORD size = chunk->entries()[position].dwSize & ~AVI_INDEX_DELTAFRAME;
    std::vector<unsigned char> frame(DVFrameSize625);
    mySeek64(hFile, (long long)(chunk->header()->qwBaseOffset + chunk->entries()[position].dwOffset), FILE_BEGIN);
    myRead(hFile, frame.data(), size < DVFrameSize625 ? size : DVFrameSize625, nullptr, false);
    tr_dv_aux aux = {};
    analyze_fr0(&aux, frame.data());

    if (!bSkipAudio) {
        static const DWORD rates[3] = {48000, 44100, 32000};
        // Only a frame with an AAUX source pack (a sample count) tells the rate.
        if (aux.audio[0].samples != 0 && aux.audio[0].SMP < 3)
            pAudioFormat->nSamplesPerSec = rates[aux.audio[0].SMP];
        pAudioFormat->nBlockAlign = pAudioFormat->nChannels * pAudioFormat->wBitsPerSample / 8;
        pAudioFormat->nAvgBytesPerSec = pAudioFormat->nBlockAlign * pAudioFormat->nSamplesPerSec;
        bDVTwoChannels = aux.audio[0].CHN != 0;
        nAudioBufferSize = DVMaxAudioData;
        if (dFrameRate > 0)
            nAudioSamples = TruncateToDWORD(nFrames / dFrameRate * pAudioFormat->nSamplesPerSec);
    }
    // A frame without a header block says nothing about its size.
    if (!bSkipVideo && aux.valid) {
        videoFormat()->biWidth = aux.width;
        videoFormat()->biHeight = aux.height;
    }
}

// Walks the sub-chunks from the file position to end. A chunk of odd size is followed by a pad
// byte. The walk ends at end, where no whole chunk header is left before it, at a read that finds
// nothing, or (where emptyEnds) at a sub-chunk of size 0. visit(id, size, start) sees each
// sub-chunk with the file at its data, and may stop the walk by returning false.
template <class Visit>
avihandle::WalkEnd avihandle::forEachSubChunk(ULONGLONG end, bool emptyEnds, Visit visit)
{
    for (ULONGLONG at = myTell64(hFile); at + 8 <= end;) {
        FOURCC id;
        DWORD chunkSize;
        if (!readChunkHeader(&id, &chunkSize) || (emptyEnds && chunkSize == 0))
            return WalkEnd::Broken;
        const ULONGLONG dataStart = at + 8;
        if (!visit(id, chunkSize, dataStart))
            return WalkEnd::Stopped;
        at = dataStart + chunkSize + (chunkSize & 1);
        mySeek64(hFile, (long long)at, FILE_BEGIN);
    }
    return WalkEnd::Complete;
}

// Where a chunk whose data starts at dataStart ends: a size past the end of the file (a file cut
// short, or a size never written) ends at the end of the file.
ULONGLONG avihandle::endOf(ULONGLONG dataStart, DWORD size)
{
    const ULONGLONG fileEnd = fileSize();
    return dataStart + size < fileEnd ? dataStart + size : fileEnd;
}

FOURCC avihandle::readListType()
{
    FOURCC type = 0;
    myRead(hFile, &type, 4, nullptr, false);
    return type;
}

bool avihandle::handleRIFF(ULONGLONG end)
{
    return forEachSubChunk(end, true, [&](FOURCC id, DWORD chunkSize, ULONGLONG dataStart) {
        if (id == FCC("idx1")) {
            // An idx1 cut short is no index: the file is indexed from its movi lists instead.
            if (!pStreams && endOf(dataStart, chunkSize) == dataStart + chunkSize) {
                bIdx1Index = true;
                PageBlock chunk = readChunk(chunkSize);
                idx1toindx((const char*)chunk.data(), chunk.size());
            }
        } else if (id == FCC("LIST")) {
            FOURCC type = readListType();
            if (type == FCC("movi")) {
                qwMoviBase = dataStart + 8;
                moviLists.push_back({dataStart + 4, endOf(dataStart, chunkSize)});
            } else if (type == FCC("hdrl"))
                handleLISThdrl(endOf(dataStart, chunkSize));
            else
                DebugOutput("avihandle::handleRIFF Error:Unable to define AVI list type");
        }
        return true;
    }) == WalkEnd::Complete;
}

void avihandle::handleLISThdrl(ULONGLONG end)
{
    forEachSubChunk(end, false, [&](FOURCC id, DWORD chunkSize, ULONGLONG dataStart) {
        if (id == FCC("LIST")) {
            FOURCC type = readListType();
            if (type == FCC("strl"))
                handleLISTstrl(endOf(dataStart, chunkSize));
            else if (type == FCC("odml"))
                handleLISTodml(endOf(dataStart, chunkSize));
            else
                DebugOutput("avihandle::handleLISThdrl Warning:Unsupported list type");
        } else if (id == FCC("avih")) {
            myRead(hFile, pMainHeader, chunkSize < sizeof(AVIMAINHEADER) ? chunkSize : sizeof(AVIMAINHEADER),
                   nullptr, false);
        }
        return true;
    });
}

void avihandle::handleLISTodml(ULONGLONG end)
{
    forEachSubChunk(end, false, [&](FOURCC id, DWORD chunkSize, ULONGLONG) {
        if (id == FCC("dmlh") && chunkSize >= 4)
            myRead(hFile, &nFrames, 4, nullptr, false);
        return true;
    });
}

void avihandle::handleLISTstrl(ULONGLONG end)
{
    forEachSubChunk(end, false, [&](FOURCC id, DWORD chunkSize, ULONGLONG) {
        if (id == FCC("strh"))
            handleStreamHeader(chunkSize);
        else if (id == FCC("strf") && pCurrentHeader && !pCurrentHeader->format) {
            readFormat(pCurrentHeader, chunkSize);
            handleStreamFormat(pCurrentHeader);
        } else if (id == FCC("indx")) {
            PageBlock chunk = readChunk(chunkSize);
            handleSuperIndex(chunk.data(), chunk.size());
        }
        return true;
    });
}

void avihandle::handleStreamHeader(DWORD size)
{
    avistreamlist* record = new avistreamlist{};
    myRead(hFile, &record->header, size < sizeof(AVISTREAMHEADER) ? size : sizeof(AVISTREAMHEADER), nullptr, false);
    bool firstOfFile = !pFirstHeader;
    appendHeader(record);
    if (!firstOfFile)
        return;
    // An interleaved DV stream: video and audio both come from the DV frames.
    bDVType1 = record->header.fccType == FCC("iavs");
    if (bDVType1) {
        bHasAudio = bHasVideo = true;
        nVideoBufferSize = record->header.dwSuggestedBufferSize;
        *videoFormat() = {40, 720, 480, 1, 16, FCC("dvsd"), DVFrameSize525, 0, 0, 0, 0};
        nVideoFormatSize = sizeof(BITMAPINFOHEADER);
    }
}

void avihandle::handleStreamFormat(avistreamlist* stream)
{
    const AVISTREAMHEADER& header = stream->header;
    // A type-1 DV file serves the audio of its DV frames, whatever other audio streams it has.
    if (header.fccType == FCC("auds") && !bSkipAudio && !bDVType1) {
        bHasAudio = true;
        WAVEFORMATEX format = {};
        const bool pcm = pcmFormat(stream->format, stream->formatSize, &format);
        if (!pcm)
            memcpy(&format, stream->format, stream->formatSize < sizeof format ? stream->formatSize : sizeof format);
        const DWORD wanted = pcm ? sizeof format : sizeof format + format.cbSize;
        free(pAudioFormat);
        pAudioFormat = (WAVEFORMATEX*)calloc(1, wanted);
        if (pcm)
            *pAudioFormat = format;
        else
            memcpy(pAudioFormat, stream->format, wanted < stream->formatSize ? wanted : stream->formatSize);
        // PCM is counted by its bytes; a compressed stream without a sample size holds one codec
        // frame a chunk.
        nAudioBlockFrames = 0;
        if (!pcm && header.dwSampleSize == 0 && header.dwRate != 0)
            nAudioBlockFrames =
                TruncateToDWORD((double)pAudioFormat->nSamplesPerSec * header.dwScale / header.dwRate + 0.5);
        nAudioBufferSize = header.dwSuggestedBufferSize;
        if (nAudioBufferSize == 0)
            DebugOutput("avihandle::handleLISTstrl have to manually configure audiobuffer size");
    } else if (header.fccType == FCC("vids")) {
        bHasVideo = true;
        // Codec data past the format buffer is not kept.
        nVideoFormatSize = stream->formatSize < VideoFormatCapacity ? stream->formatSize : VideoFormatCapacity;
        memset(pVideoFormat, 0, VideoFormatCapacity);
        memcpy(pVideoFormat, stream->format, nVideoFormatSize);
        fccVideoHandler = header.fccHandler;
        nVideoBufferSize = header.dwSuggestedBufferSize;
    }
}

void avihandle::handleSuperIndex(const unsigned char* chunk, DWORD size)
{
    if (size < sizeof(AVISUPERINDEXHEADER))
        return;
    AVISUPERINDEXHEADER header;
    memcpy(&header, chunk, sizeof header);
    bIndexType = header.bIndexType;
    if (bIndexType != AVI_INDEX_OF_INDEXES)
        return;
    AVIstream* stream;
    addstream(&stream, pCurrentHeader);
    DWORD room = (size - sizeof header) / sizeof(AVISUPERINDEXENTRY);
    stream->nEntriesInUse = header.nEntriesInUse < room ? header.nEntriesInUse : room;
    stream->pSuperIndex = new AVISUPERINDEXENTRY[stream->nEntriesInUse];
    memcpy(stream->pSuperIndex, chunk + sizeof header, stream->nEntriesInUse * sizeof(AVISUPERINDEXENTRY));
}

bool avihandle::handleWAVE(ULONGLONG end)
{
    bool succeeded = false;
    forEachSubChunk(end, true, [&](FOURCC id, DWORD chunkSize, ULONGLONG dataStart) {
        if (id == FCC("fmt ")) {
            avistreamlist* record = new avistreamlist{};
            record->header.fccType = FCC("auds");
            appendHeader(record);
            readFormat(record, chunkSize);
            bHasAudio = true;
            return takeWaveFormat(record);
        }
        if (id == FCC("data")) {
            if (pCurrentHeader) {
                takeWaveData(dataStart, chunkSize);
                succeeded = true;
            }
            return false;
        }
        DebugOutput("avihandle::handleWAVE Warning: undefined chunk skipping over");
        return true;
    });
    return succeeded;
}

bool avihandle::takeWaveFormat(avistreamlist* record)
{
    WAVEFORMATEX format;
    if (!pcmFormat(record->format, record->formatSize, &format) || format.nBlockAlign == 0)
        return false;
    *pAudioFormat = format;
    AVISTREAMHEADER& header = record->header;
    header.dwRate = format.nSamplesPerSec;
    header.dwScale = 1;
    header.dwSampleSize = format.nBlockAlign;
    header.dwSuggestedBufferSize = 100000;
    nAudioBufferSize = 100000;
    return true;
}

// The data chunk becomes a one-stream index. Sizes are cut to what the file holds; a streamed
// WAV leaves its size unset (all bits), and its data runs to the end of the file, as far as
// 32-bit sample counts reach. The data is split into entries of at most 1 GiB, so that no entry
// size reaches bit 31, which the index reserves for its key-frame flag.
void avihandle::takeWaveData(ULONGLONG dataStart, DWORD stored)
{
    qwMoviBase = dataStart;
    const ULONGLONG fileEnd = fileSize(), available = fileEnd > dataStart ? fileEnd - dataStart : 0;
    const WORD blockAlign = pAudioFormat->nBlockAlign;
    ULONGLONG size = stored == 0xFFFFFFFFu || stored > available ? available : stored;
    if (size / blockAlign > 0xFFFFFFFFu)
        size = 0xFFFFFFFFull * blockAlign;
    pCurrentHeader->header.dwLength = (DWORD)(size / blockAlign);
    AVIstream* stream;
    addstream(&stream, pCurrentHeader);
    bIdx1Index = true;
    bDVType1 = false;
    nFrames = 1;

    const DWORD piece = (0x40000000u / blockAlign) * blockAlign;
    std::vector<ChunkEntry> entries;
    for (ULONGLONG offset = 0; offset < size || entries.empty(); offset += piece)
        entries.push_back({dataStart + offset, (DWORD)(size - offset < piece ? size - offset : piece)});
    appendEntries(stream, entries);
}

bool avihandle::readChunkHeader(FOURCC* id, DWORD* size)
{
    DWORD header[2];
    if (myRead(hFile, header, sizeof header, nullptr, false) < (int)sizeof header)
        return false;
    *id = header[0];
    *size = header[1];
    return true;
}

// Reads a chunk's data from the current position, no more than the file holds.
PageBlock avihandle::readChunk(DWORD size)
{
    ULONGLONG size64 = fileSize();
    ULONGLONG position = myTell64(hFile);
    ULONGLONG available = size64 > position ? size64 - position : 0;
    return PageBlock::Read(hFile, size < available ? size : (DWORD)available);
}

void avihandle::readFormat(avistreamlist* record, DWORD size)
{
    PageBlock chunk = readChunk(size);
    record->formatSize = chunk.size();
    record->format = (unsigned char*)malloc(chunk.size() ? chunk.size() : 1);
    memcpy(record->format, chunk.data(), chunk.size());
}

ULONGLONG avihandle::fileSize()
{
    unsigned long high = 0;
    ULONGLONG low = myGetFileSize(hFile, &high);
    return ((ULONGLONG)high << 32) | low;
}

void avihandle::appendHeader(avistreamlist* record)
{
    if (pCurrentHeader)
        pCurrentHeader->next = record;
    else
        pFirstHeader = record;
    pCurrentHeader = record;
}

void avihandle::releaseHeaders()
{
    while (pFirstHeader) {
        avistreamlist* next = pFirstHeader->next;
        free(pFirstHeader->format);
        delete pFirstHeader;
        pFirstHeader = next;
    }
    pCurrentHeader = nullptr;
}

void avihandle::fail()
{
    bError = true;
    if (hFile) {
        myClose(hFile);
        hFile = nullptr;
    }
}
