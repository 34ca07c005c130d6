// The AVI reader's audio from DV frames: runs of frames read together and their audio decoded.
#include "ombrix/AVIReader.h"

#include <cstdlib>
#include <cstring>

#include "DVAudio.h"
#include "ReaderSupport.h"
#include "avihandle.h"
#include "core/FileIOWrapper.h"
#include "core/Truncate.h"


bool AVIReader::AllocateABuffers()
{
    avihandle* avi = m_AviHandle;
    if (!avi->bDVType1)
        return true;
    // A run of frames, plus room for frame analysis to walk a whole 625/50 frame past its end.
    m_DVFrameBuffer = AllocatePages(DVBatchBytes + DVFrameCapacity() + 2 * FileIOWrapper::SectorSize);
    m_DVBatchBytes = 0;
    if (avi->nAudioBufferSize)
        m_DVAudioBuffer = (unsigned char*)malloc(avi->nAudioBufferSize);
    if (!m_DVFrameBuffer || !m_DVAudioBuffer) {
        ReleaseABuffers();
        return false;
    }
    return true;
}

void AVIReader::ReleaseABuffers()
{
    if (!m_AviHandle->bDVType1)
        return;
    FreePages(m_DVFrameBuffer);
    free(m_DVAudioBuffer);
    m_DVAudioBuffer = nullptr;
}

// The most bytes of one DV chunk that are read: frame analysis needs no more.
DWORD AVIReader::DVFrameCapacity()
{
    DWORD size = m_AviHandle->nVideoBufferSize;
    return size > DVBatchBytes ? DVBatchBytes : size > DVFrameSize625 ? size : DVFrameSize625;
}

// DV frame f's data. Frames that follow each other in the file are read together, up to
// DVBatchBytes at a time, so that a long run of audio costs a few large reads instead of one
// small read a frame.
const unsigned char* AVIReader::DVFrame(unsigned int f)
{
    avihandle* avi = m_AviHandle;
    ULONGLONG base;
    DWORD offset, size;
    avi->getframeoffset(f, avi->pStreams, &base, &offset, &size);
    const ULONGLONG at = base + offset;
    if (size > DVFrameCapacity())
        size = DVFrameCapacity();
    if (at < m_DVBatchStart || at + size > m_DVBatchStart + m_DVBatchBytes) {
        // The next chunk's data follows this one's after its 8-byte header (and a pad byte).
        ULONGLONG end = at + size;
        FollowingChunks(avi, avi->pStreams, f, avi->nFrames, at, &end, DVBatchBytes, 16, 0);
        unsigned int skip = 0;
        mySeek64(avi->hFile, (long long)at, FILE_BEGIN);
        myRead(avi->hFile, m_DVFrameBuffer, (unsigned long)(end - at), &skip, false);
        m_DVBatchStart = at;
        m_DVBatchBytes = (DWORD)(end - at);
        m_DVBatchSkip = skip;
    }
    return m_DVFrameBuffer + m_DVBatchSkip + (at - m_DVBatchStart);
}

// Audio inside DV frames: positions are sample frames; a request that continues the last one
// picks up in the DV frame it stopped in.
bool AVIReader::LoadDVSamples(void* buffer, unsigned int start, unsigned int count)
{
    avihandle* avi = m_AviHandle;
    if (!m_DVFrameBuffer || !m_DVAudioBuffer)
        return false;
    const WAVEFORMATEX* format = avi->pAudioFormat;
    const DWORD b = format->nBlockAlign;
    unsigned char* out = (unsigned char*)buffer;
    unsigned int f, skip;
    bool useHeld;
    if (start != 0 && start == m_LastAudioStart + m_LastAudioCount) {
        f = m_AudioFrameCursor;
        skip = m_AudioSkip;
        useHeld = skip != 0;
    } else {
        f = TruncateToDWORD((double)start / format->nSamplesPerSec * avi->dFrameRate);
        double per = format->nSamplesPerSec / (avi->dRate / avi->dScale);
        skip = start - TruncateToDWORD(f * per);
        m_AudioSkip = skip;
        useHeld = false;
    }

    unsigned int done = 0;
    for (;;) {
        unsigned long long room = (unsigned long long)(count - done) * b;
        unsigned int n;
        bool direct = false;
        if (useHeld) {
            n = m_AudioFrameSamples;
        } else {
            direct = skip == 0 && room >= avi->nAudioBufferSize;
            n = decodeAudio(DVFrame(f), direct ? out + (size_t)done * b : m_DVAudioBuffer, 0);
        }
        useHeld = false;
        if (skip > n)
            skip = n;
        unsigned long long avail = (unsigned long long)(n - skip) * b;
        unsigned int nextSkip;
        unsigned long long copy;
        if (avail > room) {
            copy = room;
            nextSkip = skip + (count - done);
        } else {
            copy = avail;
            f++;
            nextSkip = 0;
        }
        if (!direct)
            memcpy(out + (size_t)done * b, m_DVAudioBuffer + (size_t)skip * b, copy);
        m_AudioFrameSamples = n;
        if (f > avi->nFrames) {
            // Past the last frame: the rest comes from the last frame's audio.
            unsigned long long fill = room < avi->nAudioBufferSize ? room : avi->nAudioBufferSize;
            memcpy(out + (size_t)done * b, m_DVAudioBuffer, fill);
            break;
        }
        if (n == 0)
            break;
        done += n - skip;
        m_AudioSkip = nextSkip;
        skip = nextSkip;
        if (done >= count)
            break;
    }
    m_LastAudioStart = start;
    m_LastAudioCount = count;
    m_AudioFrameCursor = f;
    return true;
}

