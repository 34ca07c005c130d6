// The AVI reader's audio from DV frames: runs of frames read together and their audio decoded.
// Each frame carries its own count of samples (an NTSC frame 1600 or 1602 at 48 kHz, unlocked
// audio whatever the clock gave), so a sample's frame comes from those counts: from a period
// that the first frames repeat while every frame read keeps to it, else from the counts of every
// frame before it.
#include "ombrix/AVIReader.h"

#include <algorithm>
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
    // Frames past the index's last entry repeat it: they are not counted however many are claimed.
    m_DVStarts = (unsigned int*)malloc(((size_t)avi->indexedframes() + 1) * sizeof *m_DVStarts);
    m_DVKnown = m_DVPeriod = 0;
    if (!m_DVFrameBuffer || !m_DVAudioBuffer || !m_DVStarts) {
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
    free(m_DVStarts);
    m_DVStarts = nullptr;
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
        m_DVBatchBytes = 0;
        if (myRead(avi->hFile, m_DVFrameBuffer, (unsigned long)(end - at), &skip, false) < 0)
            return nullptr;
        m_DVBatchStart = at;
        m_DVBatchBytes = (DWORD)(end - at);
        m_DVBatchSkip = skip;
    }
    return m_DVFrameBuffer + m_DVBatchSkip + (at - m_DVBatchStart);
}

// The samples DV frame f carries, read from its AAUX source pack; None when it cannot be read.
unsigned int AVIReader::DVFrameSamples(unsigned int f)
{
    const unsigned char* frame = DVFrame(f);
    if (!frame)
        return None;
    tr_dv_aux aux = {};
    analyze_fr0(&aux, frame);
    return aux.audio[0].samples;
}

// Records that frame f, whose first sample is known, carries n samples; a frame that breaks the
// period ends it.
void AVIReader::DVCounted(unsigned int f, unsigned int n)
{
    if (f + 1 == m_DVKnown && m_DVKnown <= m_AviHandle->indexedframes())
        m_DVStarts[m_DVKnown++] = m_DVStarts[f] + n;
    if (m_DVPeriod && n != m_DVPattern[f % m_DVPeriod])
        m_DVPeriod = 0;
}

// The frame that holds sample `start` and the samples before it in that frame. False when the
// frames cannot be read.
bool AVIReader::DVLocate(unsigned int start, unsigned int* frame, unsigned int* skip)
{
    const unsigned int frames = m_AviHandle->indexedframes();
    if (m_DVKnown == 0) {
        // The first frames' counts, and the shortest period they repeat (NTSC at 48 kHz: five frames).
        m_DVStarts[0] = 0;
        m_DVKnown = 1;
        const unsigned int first = frames < DVPeriodFrames ? frames : DVPeriodFrames;
        for (unsigned int f = 0; f < first; f++) {
            const unsigned int n = DVFrameSamples(f);
            if (n == None)
                return false;
            DVCounted(f, n);
        }
        for (m_DVPeriod = 1; m_DVPeriod <= MaxDVPeriod; m_DVPeriod++) {
            bool repeats = first >= 2 * m_DVPeriod;
            for (unsigned int f = m_DVPeriod; repeats && f < first; f++)
                repeats = m_DVStarts[f + 1] - m_DVStarts[f] ==
                          m_DVStarts[f - m_DVPeriod + 1] - m_DVStarts[f - m_DVPeriod];
            if (repeats)
                break;
        }
        if (m_DVPeriod > MaxDVPeriod)
            m_DVPeriod = 0;
        unsigned int cycle = 0;
        for (unsigned int i = 0; i < m_DVPeriod; i++)
            cycle += m_DVPattern[i] = m_DVStarts[i + 1] - m_DVStarts[i];
        // Frames without sound repeat no samples: they are counted one by one.
        if (cycle == 0)
            m_DVPeriod = 0;
    }
    for (;;) {
        if (start < m_DVStarts[m_DVKnown - 1] || m_DVKnown > frames) {
            // A known frame: the last whose first sample is not past start.
            const unsigned int* after = std::upper_bound(m_DVStarts, m_DVStarts + m_DVKnown, start);
            *frame = (unsigned int)(after - m_DVStarts) - 1;
            *skip = start - m_DVStarts[*frame];
            return true;
        }
        if (m_DVPeriod) {
            unsigned int cycle = 0;
            for (unsigned int i = 0; i < m_DVPeriod; i++)
                cycle += m_DVPattern[i];
            unsigned int f = start / cycle * m_DVPeriod, at = start / cycle * cycle;
            while (at + m_DVPattern[f % m_DVPeriod] <= start)
                at += m_DVPattern[f++ % m_DVPeriod];
            // The frame found must keep to the period too, or the counts are the file's own.
            const unsigned int n = f < frames ? DVFrameSamples(f) : m_DVPattern[f % m_DVPeriod];
            if (n == m_DVPattern[f % m_DVPeriod]) {
                *frame = f;
                *skip = start - at;
                return true;
            }
            m_DVPeriod = 0;
        }
        // Count the frames after the last one known, a batch of reads at a time.
        const unsigned int f = m_DVKnown - 1;
        const unsigned int n = DVFrameSamples(f);
        if (n == None)
            return false;
        DVCounted(f, n);
    }
}

// Audio inside DV frames: positions are sample frames; a request that continues the last one
// picks up in the DV frame it stopped in.
bool AVIReader::LoadDVSamples(void* buffer, unsigned int start, unsigned int count)
{
    avihandle* avi = m_AviHandle;
    if (!m_DVFrameBuffer || !m_DVAudioBuffer)
        return false;
    // Nothing to deliver (a host's empty buffer may be null): the position stays where it is.
    if (count == 0)
        return true;
    const DWORD b = DVSampleBytes;
    const unsigned int frames = avi->indexedframes();
    unsigned char* out = (unsigned char*)buffer;
    unsigned int f, skip;
    bool useHeld;
    if (start != 0 && start == m_LastAudioStart + m_LastAudioCount) {
        f = m_AudioFrameCursor;
        skip = m_AudioSkip;
        useHeld = skip != 0;
    } else {
        if (!DVLocate(start, &f, &skip))
            return false;
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
            const unsigned char* frame = DVFrame(f);
            if (!frame)
                return false;
            n = decodeAudio(frame, direct ? out + (size_t)done * b : m_DVAudioBuffer, 0);
            if (f < frames)
                DVCounted(f, n);
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
        if (f > frames) {
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

