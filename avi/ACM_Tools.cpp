// Compressed AVI audio decoded to PCM and served by sample frame number. The stream's length and
// every position come from the stream itself, in one of three layouts:
// - blocks: fixed-size blocks (ADPCM, G.711, GSM), each decoding to the same number of frames;
// - chunks: one codec frame a chunk (stream header sample size 0: MP3 and AC-3 from the ffmpeg
//   tool), each decoding to the frames of the stream header's rate and scale;
// - byte stream: MPEG audio or AC-3 frames of a constant bit rate that run across chunks (block
//   size 1: mencoder's MP3), found near where their mean length puts them.
// Codecs whose frames lean on earlier ones (MP3's bit reservoir, AC-3's overlap) are decoded from
// a few frames before a position, and what that gives before it is dropped.
#include "ombrix/ACM_Tools.h"

#include <cstdlib>
#include <cstring>

#include "AudioFrameHeader.h"
#include "PCMFormat.h"
#include "avihandle.h"
#include "core/DebugOutput.h"
#include "core/FileIOWrapper.h"
#include "core/Truncate.h"
#include "platform/acm/Acm.h"

namespace {

constexpr uint32_t HeaderSize = 84;
constexpr unsigned int None = 0xFFFFFFFFu;

enum Layout : unsigned char { Blocks, Chunks, ByteStream };

// MP3's bit reservoir reaches back up to 511 bytes; three frames and 2 KiB cover it and AC-3's overlap.
constexpr unsigned int PrimeFrames = 3;
constexpr unsigned int PrimeBytes = 2048;
// A chunk larger than this is damage, not audio.
constexpr unsigned int MaxChunkBytes = 16u << 20;

bool FramedCodec(WORD tag) { return tag == 0x50 || tag == 0x55 || tag == 0x2000; }

}  // namespace

ACM_Tools::ACM_Tools(avihandle* parser)
    : m_Parser(parser), m_SourceRate(0), m_DestinationFormat{}, m_Stream(nullptr), m_SourceBuffer(nullptr),
      m_SourceBufferSize(0), m_DestinationBuffer(nullptr), m_DestinationBufferSize(0), m_Total(0), m_Header{},
      m_LastStart(0), m_LastCount(0), m_NextChunk(0), m_Leftover(0), m_Usable(false), m_Layout(Blocks),
      m_FrameSamples(0), m_NextOffset(0), m_StreamOrigin(0), m_FrameMean(0), m_FrameKind(0)
{
}

ACM_Tools& ACM_Tools::operator=(const ACM_Tools& other) = default;

bool ACM_Tools::ACM_QueryAudioCompression()
{
    m_Usable = false;
    if (!m_Parser || !m_Parser->pAudioFormat || m_Parser->pAudioFormat->wFormatTag == WAVE_FORMAT_PCM)
        return false;
    WAVEFORMATEX* source = m_Parser->pAudioFormat;
    m_DestinationFormat = *source;
    m_DestinationFormat.wFormatTag = WAVE_FORMAT_PCM;
    m_DestinationFormat.cbSize = 0;
    m_DestinationFormat.wBitsPerSample = DecodedBitsPerSample(*source);
    m_DestinationFormat.nBlockAlign = (WORD)(m_DestinationFormat.wBitsPerSample / 8 * m_DestinationFormat.nChannels);
    m_DestinationFormat.nAvgBytesPerSec = m_DestinationFormat.nSamplesPerSec * m_DestinationFormat.nBlockAlign;
    HACMSTREAM stream = nullptr;
    if (acmStreamOpen(&stream, nullptr, source, &m_DestinationFormat, nullptr, 0, 0, 0) != MMSYSERR_NOERROR)
        return false;
    const unsigned long long frames = CountFrames(stream);
    acmStreamClose(stream, 0);
    m_Total = frames > None ? None : (unsigned int)frames;
    m_Usable = m_Total != 0;
    return m_Usable;
}

// The stream's layout and the PCM frames it decodes to.
unsigned long long ACM_Tools::CountFrames(HACMSTREAM stream)
{
    avihandle* avi = m_Parser;
    const WAVEFORMATEX* source = avi->pAudioFormat;
    const unsigned long long units = avi->nAudioSamples;
    if (avi->nAudioBlockFrames) {
        m_Layout = Chunks;
        m_FrameSamples = avi->nAudioBlockFrames;
        m_SourceRate = source->nSamplesPerSec / m_FrameSamples;
        return units * m_FrameSamples;
    }
    if (FramedCodec(source->wFormatTag) && source->nBlockAlign == 1) {
        m_Layout = ByteStream;
        m_SourceRate = source->nAvgBytesPerSec;
        return FindStreamFrames();
    }
    m_Layout = Blocks;
    DWORD blockBytes = 0;
    if (acmStreamSize(stream, source->nBlockAlign, &blockBytes, ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR)
        return 0;
    m_FrameSamples = blockBytes / m_DestinationFormat.nBlockAlign;
    m_SourceRate = m_FrameSamples ? source->nSamplesPerSec / m_FrameSamples : 0;
    return units * m_FrameSamples;
}

// A byte stream's first frame sets its kind and mean length; its frames are those that end inside
// the stream's bytes. The sample table counts bytes.
unsigned long long ACM_Tools::FindStreamFrames()
{
    avihandle* avi = m_Parser;
    const bool wasOpen = avi->hFile != nullptr;
    if (!wasOpen && !avi->openavi())
        return 0;
    unsigned long long frames = 0;
    const unsigned long long bytes = avi->nAudioSamples;
    unsigned char head[4096];
    const unsigned int got = ReadStream(0, sizeof head, head);
    AudioFrameHeader first = {};
    for (unsigned int at = 0; at + AudioFrameHeader::Size <= got; at++) {
        if (AudioFrameHeader::Read(avi->pAudioFormat->wFormatTag, head + at, got - at, &first) &&
            first.rate == avi->pAudioFormat->nSamplesPerSec) {
            m_StreamOrigin = at;
            m_FrameKind = first.kind;
            m_FrameSamples = first.samples;
            m_FrameMean = (unsigned long long)first.coefficient * first.bitRate;
            break;
        }
    }
    if (m_FrameMean && bytes > m_StreamOrigin) {
        // The frames whose mean places fit; the one after them too when it is whole.
        frames = (bytes - m_StreamOrigin) * first.rate / m_FrameMean;
        unsigned long long start;
        unsigned int length;
        if (FindStreamFrame(frames, &start, &length) && start + length <= bytes)
            frames++;
    }
    if (!wasOpen)
        avi->closeavi();
    return frames * m_FrameSamples;
}

// Where frame j of a byte stream begins: the frame header of the stream's kind, followed by
// another (or the stream's end), nearest to where the frames' mean length puts it.
bool ACM_Tools::FindStreamFrame(unsigned long long j, unsigned long long* start, unsigned int* length)
{
    const unsigned int rate = m_Parser->pAudioFormat->nSamplesPerSec;
    const unsigned long long mean = m_FrameMean / rate, estimate = m_StreamOrigin + j * m_FrameMean / rate;
    const unsigned long long bytes = m_Parser->nAudioSamples;
    const unsigned long long from = estimate > mean / 2 ? estimate - mean / 2 : 0;
    const unsigned int span = (unsigned int)(2 * mean + 2 * AudioFrameHeader::Size);
    unsigned char window[8192];
    if (span > sizeof window)
        return false;
    const unsigned int got = ReadStream(from, span, window);
    // A frame of the stream's kind at a place in the window.
    const auto frameAt = [&](unsigned long long at, AudioFrameHeader* h) {
        return at + AudioFrameHeader::Size <= got &&
               AudioFrameHeader::Read(m_Parser->pAudioFormat->wFormatTag, window + at, got - at, h) &&
               h->kind == m_FrameKind && h->rate == rate;
    };
    bool found = false;
    unsigned long long best = 0;
    for (unsigned int at = 0; at + AudioFrameHeader::Size <= got && from + at <= estimate + mean / 2; at++) {
        AudioFrameHeader h, next;
        if (!frameAt(at, &h))
            continue;
        const bool followed = from + at + h.bytes >= bytes || frameAt(at + h.bytes, &next);
        const unsigned long long distance = from + at > estimate ? from + at - estimate : estimate - from - at;
        if (followed && (!found || distance < best)) {
            found = true;
            best = distance;
            *start = from + at;
            *length = h.bytes;
        }
    }
    return found;
}

// Reads count bytes of the stream from its byte `at` (the sample table counts bytes) into
// destination; returns how many it holds.
unsigned int ACM_Tools::ReadStream(unsigned long long at, unsigned int count, unsigned char* destination)
{
    avihandle* avi = m_Parser;
    DWORD k;
    if (at >= avi->nAudioSamples ||
        !avi->findAudioChunk(TruncateToDWORD((double)at / avi->nAudioSamples * avi->nAudioChunks), (DWORD)at, &k))
        return 0;
    unsigned int done = 0;
    for (; done < count && k < avi->nAudioChunks; k++) {
        ULONGLONG base;
        DWORD offset, size;
        avi->getframeoffset(k, avi->pAudioStream, &base, &offset, &size);
        const unsigned long long skip = at + done - avi->pAudioSamples[k].dwStart;
        if (skip >= size)
            continue;
        const unsigned int n = (unsigned int)(size - skip < count - done ? size - skip : count - done);
        mySeek64(avi->hFile, (long long)(base + offset + skip), FILE_BEGIN);
        if (myRead(avi->hFile, destination + done, n, nullptr, false) < (int)n)
            break;
        done += n;
    }
    return done;
}

bool ACM_Tools::ACM_Open()
{
    m_LastStart = m_LastCount = m_NextChunk = None;
    m_Leftover = m_NextOffset = 0;
    m_SourceBufferSize = m_DestinationBufferSize = 0;
    if (!m_Usable)
        return false;
    bool opened = acmStreamOpen(&m_Stream, nullptr, m_Parser->pAudioFormat, &m_DestinationFormat, nullptr, 0, 0,
                                0) == MMSYSERR_NOERROR &&
                  SizeBuffers(m_Parser->nAudioBufferSize ? m_Parser->nAudioBufferSize : 1);
    if (!opened)
        ACM_Close();
    m_Usable = opened;
    return opened;
}

// Source and destination buffers for chunks of up to `size` bytes, and the header prepared on them.
bool ACM_Tools::SizeBuffers(unsigned int size)
{
    if (m_Header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)
        acmStreamUnprepareHeader(m_Stream, &m_Header, 0);
    DWORD destinationSize = 0;
    if (acmStreamSize(m_Stream, size, &destinationSize, ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR)
        return false;
    free(m_SourceBuffer);
    free(m_DestinationBuffer);
    m_SourceBufferSize = size;
    m_DestinationBufferSize = destinationSize;
    m_SourceBuffer = (unsigned char*)malloc(size);
    m_DestinationBuffer = (unsigned char*)malloc(destinationSize ? destinationSize : 1);
    memset(&m_Header, 0, sizeof m_Header);
    m_Header.cbStruct = HeaderSize;
    m_Header.pbSrc = m_SourceBuffer;
    m_Header.cbSrcLength = m_SourceBufferSize;
    m_Header.pbDst = m_DestinationBuffer;
    m_Header.cbDstLength = m_DestinationBufferSize;
    return m_SourceBuffer && m_DestinationBuffer && acmStreamPrepareHeader(m_Stream, &m_Header, 0) == MMSYSERR_NOERROR;
}

void ACM_Tools::ACM_Close()
{
    if (m_Header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) {
        acmStreamUnprepareHeader(m_Stream, &m_Header, 0);
        memset(&m_Header, 0, sizeof m_Header);
    }
    free(m_SourceBuffer);
    free(m_DestinationBuffer);
    m_SourceBuffer = m_DestinationBuffer = nullptr;
    if (m_Stream) {
        acmStreamClose(m_Stream, 0);
        m_Stream = nullptr;
    }
}

bool ACM_Tools::PerformAudioCompression() { return m_Usable; }

unsigned int ACM_Tools::GetDestTotalAudioSamples() { return m_Total; }

// Where a positioned request starts decoding (the chunk, and the byte in it) and the decoded
// frames before `start` that it gives.
bool ACM_Tools::Position(unsigned int start, unsigned int* chunk, unsigned int* offset, unsigned long long* drop)
{
    avihandle* avi = m_Parser;
    const bool primed = FramedCodec(avi->pAudioFormat->wFormatTag);
    unsigned long long first = start / m_FrameSamples;  // the unit (block, chunk or frame) that holds start
    DWORD k;
    *offset = 0;
    if (m_Layout == ByteStream) {
        unsigned long long back = PrimeBytes * (unsigned long long)avi->pAudioFormat->nSamplesPerSec / m_FrameMean + 1;
        back = back > PrimeFrames ? back : PrimeFrames;
        first = first > back ? first - back : 0;
        unsigned long long at = m_StreamOrigin;
        unsigned int length;
        if (first > 0 && !FindStreamFrame(first, &at, &length))
            return false;
        if (!avi->findAudioChunk(TruncateToDWORD((double)at / avi->nAudioSamples * avi->nAudioChunks), (DWORD)at, &k))
            return false;
        *offset = (unsigned int)(at - avi->pAudioSamples[k].dwStart);
    } else {
        if (!avi->findAudioChunk(TruncateToDWORD((double)start / m_Total * avi->nAudioChunks), (DWORD)first, &k))
            return false;
        // A chunk holds whole units; frame codecs are primed with whole chunks before it.
        unsigned long long primedBytes = 0;
        for (const DWORD from = k; primed && k > 0 && (from - k < PrimeFrames || primedBytes < PrimeBytes);) {
            ULONGLONG base;
            DWORD offset, size;
            avi->getframeoffset(--k, avi->pAudioStream, &base, &offset, &size);
            primedBytes += size;
        }
        first = avi->pAudioSamples[k].dwStart;
    }
    *chunk = k;
    *drop = (start - first * m_FrameSamples) * m_DestinationFormat.nBlockAlign;
    return true;
}

// Reads whole chunks from the next one on while they fit in the source buffer (the first from its
// next offset); a chunk that does not fit waits for the next fill, so that no byte is lost between
// fills, and one larger than the buffer grows it. Nothing is read past the stream's last chunk.
// False when a read fails.
bool ACM_Tools::FillSource(unsigned int* used)
{
    avihandle* avi = m_Parser;
    *used = 0;
    while (m_NextChunk < avi->nAudioChunks && *used < m_SourceBufferSize) {
        ULONGLONG base;
        DWORD offset, size;
        avi->getframeoffset(m_NextChunk, avi->pAudioStream, &base, &offset, &size);
        size = size > m_NextOffset ? size - m_NextOffset : 0;
        if (size > m_SourceBufferSize) {
            if (*used)
                break;
            if (size > MaxChunkBytes)
                throw "AVIReader::LoadAudioSamples dwAudioSize>ACM's SourceBufferSize";
            if (!SizeBuffers(size))
                return false;
        }
        if (size > m_SourceBufferSize - *used)
            break;
        mySeek64(avi->hFile, (long long)(base + offset + m_NextOffset), FILE_BEGIN);
        const int read = myRead(avi->hFile, m_SourceBuffer + *used, size, nullptr, false);
        if (read == -1)
            return false;
        *used += (unsigned int)read;
        m_NextChunk++;
        m_NextOffset = 0;
    }
    return true;
}

bool ACM_Tools::LoadAudioSamples(void* destination, unsigned int start, unsigned int count, bool flag)
{
    if (!m_Parser || !m_Parser->pAudioSamples || m_Parser->nAudioChunks == 0 || m_Total == 0 || !m_Stream ||
        (unsigned long long)start + count > m_Total)
        return false;
    // Nothing to deliver: leave the position alone so that a request at `start` still drops what precedes it.
    if (count == 0)
        return true;
    unsigned char* out = (unsigned char*)destination;
    const unsigned long long wanted = (unsigned long long)count * m_DestinationFormat.nBlockAlign;
    unsigned long long done = 0, drop = 0;
    DWORD startFlag = 0;
    if (start == 0 || (unsigned long long)start != (unsigned long long)m_LastStart + m_LastCount) {
        unsigned int chunk, offset;
        if (!Position(start, &chunk, &offset, &drop))
            return false;
        m_NextChunk = chunk;
        m_NextOffset = offset;
        m_Leftover = 0;
        startFlag = ACM_STREAMCONVERTF_START;
    }
    if (m_Leftover != 0) {
        const unsigned long long left = m_Header.cbDstLengthUsed - m_Leftover;
        done = left < wanted ? left : wanted;
        memcpy(out, m_DestinationBuffer + m_Leftover, done);
        m_Leftover = done == left ? 0 : m_Leftover + (unsigned int)done;
    }
    const WORD sourceBlock = m_Parser->pAudioFormat->nBlockAlign;
    while (done < wanted) {
        unsigned int used;
        if (!FillSource(&used))
            return false;
        m_Header.cbSrcLength = used;
        const DWORD flags = startFlag | (sourceBlock && used % sourceBlock == 0 ? ACM_STREAMCONVERTF_BLOCKALIGN : 0) |
                            (m_NextChunk >= m_Parser->nAudioChunks ? ACM_STREAMCONVERTF_END : 0);
        startFlag = 0;
        const MMRESULT result = acmStreamConvert(m_Stream, &m_Header, flags);
        m_Header.cbSrcLength = m_SourceBufferSize;
        if (result != MMSYSERR_NOERROR)
            break;
        const unsigned long long produced = m_Header.cbDstLengthUsed;
        // A positioned request drops what was decoded before `start`.
        const unsigned long long skip = drop < produced ? drop : produced;
        drop -= skip;
        const unsigned long long available = produced - skip;
        const unsigned long long delivered = available < wanted - done ? available : wanted - done;
        memcpy(out + done, m_DestinationBuffer + skip, delivered);
        done += delivered;
        if (delivered < available)
            m_Leftover = (unsigned int)(skip + delivered);
        // The stream ends short of its count (damaged data): the rest is silence.
        if (produced == 0 && used == 0) {
            memset(out + done, m_DestinationFormat.wBitsPerSample == 8 ? 0x80 : 0, wanted - done);
            done = wanted;
        }
    }
    m_LastStart = start;
    m_LastCount = count;
    return true;
}
