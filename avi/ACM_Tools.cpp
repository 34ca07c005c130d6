#include "ombrix/ACM_Tools.h"

#include <cstdlib>
#include <cstring>

#include "avihandle.h"
#include "core/DebugOutput.h"
#include "core/FileIOWrapper.h"
#include "core/Truncate.h"
#include "platform/acm/Acm.h"

namespace {

constexpr uint32_t HeaderSize = 84;
constexpr unsigned int None = 0xFFFFFFFFu;

// MPEG audio and AC-3 frames: their length in PCM does not follow from whole source blocks, and
// each frame leans on the ones before it (MP3's bit reservoir reaches back up to 511 bytes, AC-3
// overlaps blocks), so a positioned decode starts this far back and drops what that gives.
constexpr unsigned int PrimeChunks = 3;
constexpr unsigned int PrimeBytes = 2048;

bool FramedCodec(WORD tag) { return tag == 0x50 || tag == 0x55 || tag == 0x2000; }

}  // namespace

ACM_Tools::ACM_Tools(avihandle* parser)
    : m_Parser(parser), m_SourceRate(0), m_DestinationFormat{}, m_Stream(nullptr), m_SourceBuffer(nullptr),
      m_SourceBufferSize(0), m_DestinationBuffer(nullptr), m_DestinationBufferSize(0), m_Total(0), m_Header{},
      m_LastStart(0), m_LastCount(0), m_NextChunk(0), m_Leftover(0), m_Usable(false)
{
}

ACM_Tools& ACM_Tools::operator=(const ACM_Tools& other) = default;

bool ACM_Tools::ACM_QueryAudioCompression()
{
    if (!m_Parser || !m_Parser->pAudioFormat || m_Parser->pAudioFormat->wFormatTag == WAVE_FORMAT_PCM) {
        m_Usable = false;
        return false;
    }
    WAVEFORMATEX* source = m_Parser->pAudioFormat;
    m_DestinationFormat = *source;
    m_DestinationFormat.wFormatTag = WAVE_FORMAT_PCM;
    m_DestinationFormat.cbSize = 0;
    // Sample sizes that are no whole number of bytes (MP3 and AC-3 state 0, ADPCM 4) decode to 16 bits.
    if (source->wBitsPerSample == 0 || source->wBitsPerSample % 8 != 0)
        m_DestinationFormat.wBitsPerSample = 16;
    m_DestinationFormat.nBlockAlign = (WORD)(m_DestinationFormat.wBitsPerSample / 8 * m_DestinationFormat.nChannels);
    m_DestinationFormat.nAvgBytesPerSec = m_DestinationFormat.nSamplesPerSec * m_DestinationFormat.nBlockAlign;
    if (acmStreamOpen(nullptr, nullptr, source, &m_DestinationFormat, nullptr, 0, 0, ACM_STREAMOPENF_QUERY) !=
        MMSYSERR_NOERROR) {
        m_Usable = false;
        return false;
    }
    m_SourceRate = TruncateToDWORD(m_Parser->nAudioSamples / (m_Parser->nFrames / m_Parser->dFrameRate));
    if (m_SourceRate == 0) {
        m_Usable = false;
        return false;
    }
    const unsigned long long total =
        (unsigned long long)(m_Parser->nAudioSamples / m_SourceRate) * m_DestinationFormat.nSamplesPerSec;
    m_Total = total > None ? None : (unsigned int)total;
    m_Usable = true;
    return true;
}

bool ACM_Tools::ACM_Open()
{
    m_LastStart = m_LastCount = m_NextChunk = None;
    m_Leftover = 0;
    m_SourceBufferSize = m_DestinationBufferSize = 0;
    if (!m_Usable)
        return false;
    DWORD blockBytes = 0;
    bool opened =
        acmStreamOpen(&m_Stream, nullptr, m_Parser->pAudioFormat, &m_DestinationFormat, nullptr, 0, 0, 0) ==
            MMSYSERR_NOERROR &&
        acmStreamSize(m_Stream, m_Parser->pAudioFormat->nBlockAlign, &blockBytes, ACM_STREAMSIZEF_SOURCE) ==
            MMSYSERR_NOERROR;
    if (opened) {
        m_SourceBufferSize = m_Parser->nAudioBufferSize;
        opened = acmStreamSize(m_Stream, m_SourceBufferSize, &m_DestinationBufferSize,
                               ACM_STREAMSIZEF_SOURCE) == MMSYSERR_NOERROR;
    }
    if (opened) {
        m_SourceBuffer = (unsigned char*)malloc(m_SourceBufferSize ? m_SourceBufferSize : 1);
        m_DestinationBuffer = (unsigned char*)malloc(m_DestinationBufferSize ? m_DestinationBufferSize : 1);
        memset(&m_Header, 0, sizeof m_Header);
        m_Header.cbStruct = HeaderSize;
        m_Header.pbSrc = m_SourceBuffer;
        m_Header.cbSrcLength = m_SourceBufferSize;
        m_Header.pbDst = m_DestinationBuffer;
        m_Header.cbDstLength = m_DestinationBufferSize;
        // Kept with the header: the PCM frames one source block decodes to.
        m_Header.dwUser = blockBytes / m_DestinationFormat.nBlockAlign;
        opened = m_SourceBuffer && m_DestinationBuffer &&
                 acmStreamPrepareHeader(m_Stream, &m_Header, 0) == MMSYSERR_NOERROR;
    }
    if (!opened)
        ACM_Close();
    m_Usable = opened;
    return opened;
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

// PCM frames per source block: what the stream says one block gives, except for frame codecs,
// whose blocks map by the stream's rate.
double ACM_Tools::blockFrames()
{
    if (m_Parser->nAudioBlockFrames)
        return m_Parser->nAudioBlockFrames;
    if (FramedCodec(m_Parser->pAudioFormat->wFormatTag))
        return (double)m_DestinationFormat.nSamplesPerSec / m_SourceRate;
    return (double)m_Header.dwUser;
}

// The chunk a positioned request decodes first and the decoded bytes before `start` that it gives.
bool ACM_Tools::position(unsigned int start, unsigned int* chunk, unsigned long long* drop)
{
    const AudioSampleInfo* table = m_Parser->pAudioSamples;
    const DWORD chunks = m_Parser->nAudioChunks;
    const double frames = blockFrames();
    if (!(frames > 0))
        return false;
    const DWORD s = TruncateToDWORD(start / frames);
    DWORD k;
    if (!m_Parser->findAudioChunk(TruncateToDWORD((double)start / m_Total * chunks), s, &k))
        return false;
    if (FramedCodec(m_Parser->pAudioFormat->wFormatTag)) {
        unsigned long long primed = 0;
        for (DWORD first = k; k > 0 && (first - k < PrimeChunks || primed < PrimeBytes);) {
            ULONGLONG base;
            DWORD offset, size;
            m_Parser->getframeoffset(--k, m_Parser->pAudioStream, &base, &offset, &size);
            primed += size;
        }
    }
    *chunk = k;
    *drop = (start - (unsigned long long)(table[k].dwStart * frames)) * m_DestinationFormat.nBlockAlign;
    return true;
}

// Reads whole chunks from the next one on while they fit in the source buffer; a chunk that does
// not fit waits for the next fill, so that no byte is lost between fills. The stream's last chunk
// ends a fill; past it the last chunk is read again. False when a read fails.
bool ACM_Tools::fillSource(unsigned int* used)
{
    const DWORD last = m_Parser->nAudioChunks - 1;
    *used = 0;
    do {
        const DWORD k = m_NextChunk < last ? m_NextChunk : last;
        ULONGLONG base;
        DWORD offset, size;
        m_Parser->getframeoffset(k, m_Parser->pAudioStream, &base, &offset, &size);
        if (size > m_SourceBufferSize)
            throw "AVIReader::LoadAudioSamples dwAudioSize>ACM's SourceBufferSize";
        if (size > m_SourceBufferSize - *used)
            break;
        m_NextChunk = k + 1;
        mySeek64(m_Parser->hFile, (long long)(base + offset), FILE_BEGIN);
        const int read = myRead(m_Parser->hFile, m_SourceBuffer + *used, size, nullptr, false);
        if (read == -1)
            return false;
        *used += (unsigned int)read;
        if (k == last)
            break;
    } while (*used < m_SourceBufferSize);
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
        unsigned int chunk;
        if (!position(start, &chunk, &drop))
            return false;
        m_NextChunk = chunk;
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
        const bool pastEnd = m_NextChunk >= m_Parser->nAudioChunks;
        unsigned int used;
        if (!fillSource(&used))
            return false;
        m_Header.cbSrcLength = used;
        const DWORD flags = startFlag | (sourceBlock && used % sourceBlock == 0 ? ACM_STREAMCONVERTF_BLOCKALIGN : 0);
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
        // The stream's end decoding to nothing would be converted again for ever.
        if (produced == 0 && pastEnd)
            break;
    }
    m_LastStart = start;
    m_LastCount = count;
    return true;
}
