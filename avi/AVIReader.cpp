#include "ombrix/AVIReader.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "DVAudio.h"
#include "PCMFormat.h"
#include "avihandle.h"
#include "core/DebugOutput.h"
#include "core/FileIOWrapper.h"
#include "core/Truncate.h"
#include "ombrix/ACM_Tools.h"
#include "platform/vfw/Vfw.h"
#include "platform/win32/Memory.h"
#include "platform/win32/Sync.h"

namespace {

constexpr unsigned int None = 0xFFFFFFFFu;

struct ColorSpaceChoice {
    FOURCC fourcc;
    unsigned char colorSpace;
};
// Tried in this order; the first the decompressor accepts wins.
const ColorSpaceChoice yuvChoices[] = {
    {FCC("UYVY"), 1}, {FCC("YUV2"), 1}, {FCC("VYUY"), 2}, {FCC("YUY2"), 2}};

unsigned char* AllocatePages(size_t size)
{
    return (unsigned char*)VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void FreePages(unsigned char*& block)
{
    if (block)
        VirtualFree(block, 0, MEM_RELEASE);
    block = nullptr;
}

// Bytes of a DIB of the format's dimensions in `bits` per pixel; rows run either way, so the
// height counts without its sign.
unsigned long long imageSize(const BITMAPINFOHEADER* format, int bits)
{
    const unsigned long long rowBits = ((unsigned long long)(unsigned)format->biWidth * bits + 31) & ~31ull;
    const long long height = format->biHeight;
    return rowBits / 8 * (unsigned long long)(height < 0 ? -height : height);
}

// Pictures past this are refused: no editor frame comes near it, and every size derived from it
// stays far inside 32 bits.
constexpr unsigned long long MaxImageBytes = 1ull << 30;

// Widens a read of frame's chunk, which starts at start and ends at *end, over the chunks of the
// frames after it up to last that follow it in the file: none empty or past the end of the file,
// each at most maxGap bytes after the one before, all within maxBytes of start. Returns the frame
// after the last chunk taken.
unsigned int FollowingChunks(avihandle* avi, AVIstream* stream, unsigned int frame, unsigned int last,
                             ULONGLONG start, ULONGLONG* end, ULONGLONG maxBytes, ULONGLONG maxGap)
{
    const ULONGLONG fileEnd = avi->fileSize();
    unsigned int next = frame + 1;
    for (; next <= last && next < avi->nFrames; next++) {
        ULONGLONG base;
        DWORD offset, size;
        avi->getframeoffset(next, stream, &base, &offset, &size);
        const ULONGLONG at = base + offset;
        if (size == 0 || at < *end || at - *end > maxGap || at + size > fileEnd || at + size - start > maxBytes)
            break;
        *end = at + size;
    }
    return next;
}

}  // namespace

AVIReader::AVIReader(char* fileName, Ombrix_FileInfo* info, bool noVideo, bool noAudio)
    : m_FileInfo(info), m_FileName(nullptr), m_AviHandle(nullptr), m_ReadBuffer{}, m_ReadFrame{None, None},
      m_ReadOffset{}, m_ReadEnd{}, m_ReadAhead(-1), m_DecodeBuffer(nullptr), m_DVFrameBuffer(nullptr),
      m_DVAudioBuffer(nullptr), m_OutputFormat(nullptr), m_Decompressor(nullptr), m_ACM(nullptr),
      m_LastVideoFrame(None), m_AudioFrameCursor(None), m_LastAudioStart(None), m_LastAudioCount(None), m_AudioSkip(0),
      m_AudioFrameSamples(0), m_StartLock(new CRITICAL_SECTION), m_FileReferenceCount(0), m_IsValidAVIFile(false),
      m_ReleaseAfterFrame(false), m_NoVideo(noVideo), m_NoAudio(noAudio), m_VideoGate(1), m_AudioGate(1),
      m_Started(0), m_ReadBufferSize(0), m_FileLock(new CRITICAL_SECTION), m_DVBatchStart(0), m_DVBatchBytes(0),
      m_DVBatchSkip(0)
{
    InitializeCriticalSection(m_StartLock);
    InitializeCriticalSection(m_FileLock);
    if (!fileName || !info)
        return;
    m_FileName = strdup(fileName);
    const char* dot = strrchr(m_FileName, '.');
    if (!dot || (strncasecmp(dot, ".avi", 4) != 0 && strncasecmp(dot, ".wav", 4) != 0))
        return;

    m_AviHandle = new avihandle(m_FileName, noVideo, noAudio);
    avihandle* avi = m_AviHandle;
    if (avi->bError || (!avi->bHasVideo && !avi->bHasAudio))
        return;

    Ombrix_FileInfo& record = *info;
    record.HasVideo = avi->bHasVideo && !noVideo;
    record.HasAudio = avi->bHasAudio && !noAudio;
    record.HasAlpha = false;
    if (record.HasVideo) {
        const BITMAPINFOHEADER* format = avi->videoFormat();
        record.Width = format->biWidth;
        record.Height = format->biHeight;
        record.NumFrames = avi->nFrames;
        record.Rate = TruncateToDWORD(avi->dRate);
        record.Scale = TruncateToDWORD(avi->dScale);
        record.VideoDuration = (long long)(avi->dScale / avi->dRate * record.NumFrames * 10000000.0);
        if (!VFW_QueryOutputColorSpace())
            return;
        record.HasAlpha = record.ColorSpace == 4;
        record.Interlaced = record.Height == 486 || record.Height == 480 || record.Height == 576;
        FOURCC handler = avi->fccVideoHandler;
        record.UpperFieldFirst = !(handler == FCC("dvsd") || handler == FCC("DVSD") || handler == FCC("CDVC") ||
                                   record.Height == 486);
    }
    if (record.HasAudio) {
        m_ACM = new ACM_Tools(avi);
        bool compressed = m_ACM->ACM_QueryAudioCompression();
        const WAVEFORMATEX* format = avi->pAudioFormat;
        if (format->wFormatTag != WAVE_FORMAT_PCM && !compressed && !avi->bDVType1) {
            // Stored bytes of a format nothing decodes are not PCM.
            DebugOutput("AVIReader::AVIReader audio format 0x%x cannot be decoded, audio not served (%s)\n",
                        format->wFormatTag, m_FileName);
            record.HasAudio = false;
        } else if (!compressed && (format->wBitsPerSample == 0 || format->wBitsPerSample % 8 != 0 ||
                                   format->nBlockAlign != format->nChannels * format->wBitsPerSample / 8)) {
            // Stored PCM is handed out a block per sample: a block that is not one sample of the
            // record's shape would overrun the host's buffer or skew every sample.
            DebugOutput("AVIReader::AVIReader PCM block of %u bytes does not hold %u channels of %u bits, audio not "
                        "served (%s)\n",
                        format->nBlockAlign, format->nChannels, format->wBitsPerSample, m_FileName);
            record.HasAudio = false;
        } else {
            record.SampleRate = format->nSamplesPerSec;
            record.Channels = format->nChannels;
            record.BitsPerSample = compressed ? DecodedBitsPerSample(*format) : format->wBitsPerSample;
            record.NumSamples = compressed ? m_ACM->GetDestTotalAudioSamples() : avi->nAudioSamples;
            record.AudioDuration = record.SampleRate
                                       ? (long long)((double)record.NumSamples / record.SampleRate * 10000000.0)
                                       : 0;
        }
    }
    AddStart();
    if (!avi->hFile)
        return;
    unsigned long high = 0;
    unsigned long low = myGetFileSize(avi->hFile, &high);
    if ((DWORD)low == 0xFFFFFFFFu)
        return;
    record.FileSize = (long long)(((unsigned long long)high << 32) | (DWORD)low);
    if (record.HasVideo)
        record.DataRate = TruncateToDWORD(record.FileSize / (record.NumFrames / avi->dFrameRate));
    else
        record.DataRate = avi->pAudioFormat->nAvgBytesPerSec;
    record.IsValid = 1;
    m_IsValidAVIFile = true;
}

AVIReader::~AVIReader()
{
    if (m_IsValidAVIFile) {
        while (m_FileReferenceCount > 0)
            ReleaseStart();
    } else if (m_FileReferenceCount != 0) {
        // ReleaseStart ignores a reader that never became valid; nobody else can use it now.
        m_FileReferenceCount = 0;
        Close(false);
    }
    delete m_AviHandle;
    m_FileInfo = nullptr;
    free(m_FileName);
    free(m_OutputFormat);
    delete m_ACM;
    DeleteCriticalSection(m_StartLock);
    delete m_StartLock;
    DeleteCriticalSection(m_FileLock);
    delete m_FileLock;
}

char* AVIReader::GetFileName() { return m_FileName; }

bool AVIReader::GetIsValidAVIFile() { return m_IsValidAVIFile; }

bool AVIReader::VFW_QueryOutputColorSpace()
{
    avihandle* avi = m_AviHandle;
    BITMAPINFOHEADER* format = avi->videoFormat();
    Ombrix_FileInfo& record = *m_FileInfo;
    record.BottomUp = true;
    if (format->biWidth <= 0 || format->biHeight == 0 || imageSize(format, 32) > MaxImageBytes) {
        DebugOutput("AVIReader::VFW_QueryOutputColorSpace unusable picture size %dx%d (%s)\n", format->biWidth,
                    format->biHeight, m_FileName);
        return false;
    }
    for (const ColorSpaceChoice& choice : yuvChoices) {
        if (format->biCompression == choice.fourcc) {
            // Stored YUV is handed out as it is.
            format->biCompression = BI_RGB;
            format->biBitCount = 16;
            record.BottomUp = false;
            record.ColorSpace = choice.colorSpace;
            return true;
        }
    }
    // RGB rows run bottom-up unless the height is negative (ffmpeg's raw RGB is stored top-down).
    if (format->biCompression == BI_RGB) {
        record.BottomUp = format->biHeight >= 0;
        record.ColorSpace = format->biBitCount == 24 ? 3 : format->biBitCount == 32 ? 4 : 0;
        return record.ColorSpace != 0;
    }

    DWORD formatSize = avi->nVideoFormatSize > sizeof(BITMAPINFOHEADER) ? avi->nVideoFormatSize
                                                                        : sizeof(BITMAPINFOHEADER);
    m_OutputFormat = (BITMAPINFOHEADER*)calloc(1, formatSize + 1024);
    memcpy(m_OutputFormat, format, formatSize);
    if (avi->fccVideoHandler == 0)
        avi->fccVideoHandler = format->biCompression;
    HIC decompressor = ICOpen(FCC("VIDC"), avi->fccVideoHandler, ICMODE_DECOMPRESS);
    if (!decompressor)
        return false;

    m_OutputFormat->biSize = sizeof(BITMAPINFOHEADER);
    m_OutputFormat->biBitCount = 16;
    m_OutputFormat->biSizeImage = (DWORD)imageSize(m_OutputFormat, 16);
    for (const ColorSpaceChoice& choice : yuvChoices) {
        m_OutputFormat->biCompression = choice.fourcc;
        if (ICSendMessage(decompressor, ICM_DECOMPRESS_QUERY, (DWORD_PTR)format, (DWORD_PTR)m_OutputFormat) ==
            ICERR_OK) {
            record.BottomUp = avi->fccVideoHandler == FCC("cvid");
            record.ColorSpace = choice.colorSpace;
            ICClose(decompressor);
            return true;
        }
    }
    memcpy(m_OutputFormat, format, formatSize);
    m_OutputFormat->biCompression = BI_RGB;
    m_OutputFormat->biSize = sizeof(BITMAPINFOHEADER);
    for (int bits : {24, 32}) {
        m_OutputFormat->biBitCount = (WORD)bits;
        m_OutputFormat->biSizeImage = (DWORD)imageSize(m_OutputFormat, bits);
        if (ICSendMessage(decompressor, ICM_DECOMPRESS_QUERY, (DWORD_PTR)format, (DWORD_PTR)m_OutputFormat) ==
            ICERR_OK) {
            record.BottomUp = m_OutputFormat->biHeight >= 0;
            record.ColorSpace = bits == 24 ? 3 : 4;
            ICClose(decompressor);
            return true;
        }
    }
    ICClose(decompressor);
    return false;
}

void AVIReader::AddStart()
{
    EnterCriticalSection(m_StartLock);
    avihandle* avi = m_AviHandle;
    if (avi && InterlockedIncrement(&m_FileReferenceCount) == 1) {
        int aud = m_NoAudio ? 0 : 1;
        DebugOutput("AVIReader::AddStart Opening Begin (Aud=%d) %s\n", aud, m_FileName);
        bool opened = avi->openavi();
        bool serveVideo = !m_NoVideo && avi->bHasVideo;
        if (opened && serveVideo) {
            m_ReadFrame[0] = m_ReadFrame[1] = None;
            m_ReadOffset[0] = m_ReadOffset[1] = 0;
            m_ReleaseAfterFrame = false;
            if (avi->videoFormat()->biCompression != BI_RGB) {
                m_Decompressor = ICOpen(FCC("VIDC"), avi->fccVideoHandler, ICMODE_DECOMPRESS);
                if (!m_Decompressor)
                    opened = false;
                else if (ICSendMessage(m_Decompressor, ICM_DECOMPRESS_BEGIN, (DWORD_PTR)avi->pVideoFormat,
                                       (DWORD_PTR)m_OutputFormat) != ICERR_OK) {
                    DebugOutput("AVIReader::AddStart compression format not supported");
                    opened = false;
                }
            }
        }
        if (opened) {
            if (!m_NoAudio && avi->bHasAudio) {
                m_LastAudioStart = m_LastAudioCount = m_AudioFrameCursor = None;
                m_AudioSkip = m_AudioFrameSamples = 0;
                AllocateABuffers();
                m_ACM->ACM_Open();
            }
            DebugOutput("AVIReader::AddStart Opening End (Aud=%d) %s\n", aud, m_FileName);
            InterlockedExchange(&m_Started, 1);
            if (!m_NoVideo)
                VideoUnBlock();
            if (!m_NoAudio)
                AudioUnBlock();
        } else {
            // The count stays raised and the gates held; loads fail until a start succeeds.
            avi->closeavi();
            ReleaseABuffers();
            if (m_Decompressor) {
                ICSendMessage(m_Decompressor, ICM_DECOMPRESS_END, 0, 0);
                ICClose(m_Decompressor);
                m_Decompressor = nullptr;
            }
        }
    }
    LeaveCriticalSection(m_StartLock);
}

void AVIReader::ReleaseStart()
{
    EnterCriticalSection(m_StartLock);
    if (m_IsValidAVIFile && InterlockedDecrement(&m_FileReferenceCount) <= 0) {
        DebugOutput("AVIReader::ReleaseStart Closing (Aud=%d) %s\n", m_NoAudio ? 0 : 1, m_FileName);
        if (m_FileReferenceCount < 0) {
            LeaveCriticalSection(m_StartLock);
            throw "AVIReader::ReleaseStart Warning reference count<0";
        }
        // After a failed start the gates are already held and nothing will free them.
        Close(InterlockedCompareExchange(&m_Started, 0, 0) != 0);
    }
    LeaveCriticalSection(m_StartLock);
}

// Releases what a start opened. The gates taken stay held: loads fail until the next start.
void AVIReader::Close(bool takeGates)
{
    avihandle* avi = m_AviHandle;
    InterlockedExchange(&m_Started, 0);
    if (!m_NoAudio && avi->bHasAudio) {
        if (takeGates)
            AudioBlock(false);
        ReleaseABuffers();
        if (m_ACM)
            m_ACM->ACM_Close();
    }
    if (!m_NoVideo && avi->bHasVideo) {
        if (takeGates)
            VideoBlock(false);
        ReleaseVBuffers();
        if (m_Decompressor) {
            ICSendMessage(m_Decompressor, ICM_DECOMPRESS_END, 0, 0);
            ICClose(m_Decompressor);
            m_Decompressor = nullptr;
        }
    }
    avi->closeavi();
}

unsigned char* AVIReader::LoadVideoFrame(long long frame, long long rate, long long scale, bool singleFrame)
{
    if (!VideoBlock(true))
        return nullptr;
    // Video and audio loads run under separate gates but share the file and its index.
    EnterCriticalSection(m_FileLock);
    const avihandle* avi = m_AviHandle;
    const unsigned int target =
        TruncateToDWORD(((double)scale * avi->dRate) / ((double)rate * avi->dScale) * (double)frame);
    unsigned char* result = DecodeFrame(target, singleFrame);
    LeaveCriticalSection(m_FileLock);
    if (!result)
        VideoUnBlock();
    return result;
}

// File frame target's image, with the video gate held; null on failure.
unsigned char* AVIReader::DecodeFrame(unsigned int target, bool singleFrame)
{
    avihandle* avi = m_AviHandle;
    if (!avi->hFile)
        return nullptr;
    if (!m_ReadBuffer[0]) {
        if (!AllocateVBuffers())
            return nullptr;
        m_LastVideoFrame = m_ReadFrame[0] = m_ReadFrame[1] = None;
    }

    unsigned int flags = 0;
    unsigned int restart = None;  // the key-frame entry that decoding restarted from
    const bool compressed = avi->videoFormat()->biCompression != BI_RGB;
    const auto follows = [&] { return m_LastVideoFrame != None && target == m_LastVideoFrame + 1; };
    if (!avi->pKeyFrames) {
        if (singleFrame)
            m_ReleaseAfterFrame = true;
    } else if (compressed && !follows() && (target != m_LastVideoFrame || singleFrame)) {
        // Decoding the last decoded frame again must start from its key frame too.
        restart = PreRoll(target, &flags);
    }

    if (target == m_LastVideoFrame && compressed && !singleFrame)
        return m_DecodeBuffer;
    if (compressed && follows() && RepeatsPrevious(target)) {
        m_LastVideoFrame = target;
        return m_DecodeBuffer;
    }

    // Double buffering: the requested frame is in one buffer when it was read ahead (or came with
    // the chunks before it), and the chunks after those held are read into the other while this
    // one is decoded and used.
    unsigned int size = 0;
    const unsigned int frames = avi->nFrames;
    const int use = HeldIn(target);
    if (use >= 0) {
        const unsigned int next = m_ReadEnd[use];
        if (singleFrame || next >= frames || HeldIn(next) >= 0 ||
            !ReadChunk(1 - use, next, frames - 1, true, false, &size))
            FinishReadAhead();
    } else {
        const bool ahead = !singleFrame && target + 1 < frames;
        if (!ReadChunk(0, target, ahead ? target + 1 : target, false, true, &size))
            return size == 0 ? RepeatBeforeEmpty(target, singleFrame) : nullptr;
        if (ahead && m_ReadEnd[0] == target + 1)
            ReadChunk(1, target + 1, target + 1, false, false, &size);
    }

    const unsigned char* data = Chunk(target, target, &size);
    if (!data)
        return nullptr;
    unsigned char* result = (unsigned char*)data;
    if (compressed) {
        DWORD answer = Decompress(data, size, flags);
        // A decoder that holds pictures back has none to give for the frames that open a group
        // when it restarted at the group's key frame: their pictures come from the group before.
        // It restarts one key frame earlier until it gives one, or reaches the first.
        while (answer == ICERR_DONTDRAW && restart != None && restart > 0) {
            restart--;
            flags = 0;
            if (!RestartDecoder())
                return nullptr;
            DecodeRun(avi->pKeyFrames[restart], target, &flags);
            if (!(data = Chunk(target, target, &size)))
                return nullptr;
            answer = Decompress(data, size, flags);
        }
        if (answer != ICERR_OK && answer != ICERR_DONTDRAW)
            return nullptr;
        result = m_DecodeBuffer;
    }
    m_LastVideoFrame = target;
    return result;
}

// An empty chunk shows the last frame before it that has data: the decoded image when decoding
// stands there already, else that frame decoded (it is not empty, so this goes one level deep).
unsigned char* AVIReader::RepeatBeforeEmpty(unsigned int target, bool singleFrame)
{
    avihandle* avi = m_AviHandle;
    unsigned int shown = target;
    ULONGLONG base;
    DWORD offset, size = 0;
    while (shown > 0 && size == 0)
        avi->getframeoffset(--shown, avi->pVideoStream, &base, &offset, &size);
    if (size == 0)
        return nullptr;
    const bool standsThere = m_LastVideoFrame != None && m_LastVideoFrame >= shown && m_LastVideoFrame < target;
    unsigned char* image = standsThere && m_DecodeBuffer ? m_DecodeBuffer : DecodeFrame(shown, singleFrame);
    if (image)
        m_LastVideoFrame = target;
    return image;
}

// Decodes forward to the frame before target, from the last decoded frame when that lies
// between target and its key frame, else from the key frame after a restart of the decoder.
// The key-frame entry restarted from; None when decoding continued or no key frame precedes.
unsigned int AVIReader::PreRoll(unsigned int target, unsigned int* flags)
{
    avihandle* avi = m_AviHandle;
    const DWORD* keys = avi->pKeyFrames;
    const DWORD count = avi->nKeyFrames;
    DWORD k = TruncateToDWORD((double)target / avi->nFrames * (count - 1));
    if (k > count - 1)
        k = count - 1;
    while (k + 1 < count && keys[k + 1] <= target)
        k++;
    while (k > 0 && keys[k] > target)
        k--;
    if (keys[k] > target) {
        DebugOutput("AVIReader::LoadVideoFrame KFCount>framenum\n");
        return None;
    }
    if (m_LastVideoFrame != None && m_LastVideoFrame > keys[k] && m_LastVideoFrame + 1 < target) {
        DecodeRun(m_LastVideoFrame + 1, target, flags);
        return None;
    }
    if (!RestartDecoder())
        return None;
    DecodeRun(keys[k], target, flags);
    return k;
}

// Drops what the decoder holds from earlier frames, so that a key frame starts afresh.
bool AVIReader::RestartDecoder()
{
    m_LastVideoFrame = None;
    return ICSendMessage(m_Decompressor, ICM_DECOMPRESS_BEGIN, (DWORD_PTR)m_AviHandle->pVideoFormat,
                         (DWORD_PTR)m_OutputFormat) == ICERR_OK;
}

// Decodes the frames [first, end) into the decode buffer through buffer A; stops at a frame
// that cannot be read or decoded.
void AVIReader::DecodeRun(unsigned int first, unsigned int end, unsigned int* flags)
{
    for (unsigned int f = first; f < end; f++) {
        if (m_LastVideoFrame == f - 1 && RepeatsPrevious(f)) {
            m_LastVideoFrame = f;
            continue;
        }
        unsigned int size;
        const unsigned char* data = Chunk(f, end, &size);
        if (!data) {
            if (size != 0)
                return;
            m_LastVideoFrame = f;  // an empty chunk repeats the frame before it
            continue;
        }
        // Only the run's last picture is drawn: it is the one the reader hands out next.
        const DWORD hurry = f + 1 < end ? ICDECOMPRESS_HURRYUP : 0;
        const DWORD answer = Decompress(data, size, *flags | hurry);
        if (answer != ICERR_OK && answer != ICERR_DONTDRAW)
            return;
        m_LastVideoFrame = f;
        *flags |= ICDECOMPRESS_NOTKEYFRAME;
    }
}

unsigned int AVIReader::Decompress(const unsigned char* data, unsigned int size, unsigned int flags)
{
    BITMAPINFOHEADER input = *m_AviHandle->videoFormat();
    input.biSizeImage = size;
    return ICDecompress(m_Decompressor, flags, &input, (void*)data, m_OutputFormat, m_DecodeBuffer);
}

// A frame dropped from an "idx1" index is given the chunk of the frame before it: it shows that
// frame's image and is not decoded again (a P-frame decoded twice corrupts the pictures after it).
bool AVIReader::RepeatsPrevious(unsigned int frame)
{
    avihandle* avi = m_AviHandle;
    if (frame == 0)
        return false;
    ULONGLONG base[2];
    DWORD offset[2], size[2];
    for (int i = 0; i < 2; i++)
        avi->getframeoffset(frame - 1 + i, avi->pVideoStream, &base[i], &offset[i], &size[i]);
    return base[0] + offset[0] == base[1] + offset[1];
}

// Reads frame's chunk into a read buffer, in the same read as the chunks of the frames after it
// up to last that follow it in the file and fit; ahead leaves the read running. A chunk larger
// than the buffers grows both where mayGrow (neither holds a frame still needed), and is not read
// otherwise. False, with size 0, for an empty chunk.
bool AVIReader::ReadChunk(int buffer, unsigned int frame, unsigned int last, bool ahead, bool mayGrow,
                          unsigned int* size)
{
    avihandle* avi = m_AviHandle;
    ULONGLONG base;
    DWORD offset;
    avi->getframeoffset(frame, avi->pVideoStream, &base, &offset, (DWORD*)size);
    if (*size == 0)
        return false;
    if (*size + 2 * FileIOWrapper::SectorSize > m_ReadBufferSize) {
        if (!mayGrow)
            return false;
        // A damaged index may claim more than the file holds: the buffers grow to what is there.
        const ULONGLONG fileEnd = avi->fileSize();
        if (base + offset >= fileEnd)
            return false;
        if (base + offset + *size > fileEnd)
            *size = (unsigned int)(fileEnd - base - offset);
        FinishReadAhead();
        for (unsigned char*& b : m_ReadBuffer)
            FreePages(b);
        m_ReadFrame[0] = m_ReadFrame[1] = None;
        m_ReadBufferSize = *size + 2 * FileIOWrapper::SectorSize;
        m_ReadBuffer[0] = AllocatePages(m_ReadBufferSize);
        m_ReadBuffer[1] = AllocatePages(m_ReadBufferSize);
        if (!m_ReadBuffer[0] || !m_ReadBuffer[1])
            return false;
    }
    const ULONGLONG start = base + offset;
    ULONGLONG end = start + *size;
    const unsigned int next = FollowingChunks(avi, avi->pVideoStream, frame, last, start, &end,
                                              m_ReadBufferSize - 2 * FileIOWrapper::SectorSize, ~0ull);
    mySeek64(avi->hFile, (long long)start, FILE_BEGIN);
    unsigned int skip = 0;
    if (myRead(avi->hFile, m_ReadBuffer[buffer], (unsigned long)(end - start), &skip, ahead) < 0)
        return false;
    m_ReadOffset[buffer] = skip;
    m_ReadFrame[buffer] = frame;
    m_ReadEnd[buffer] = next;
    m_ReadAhead = ahead ? buffer : -1;  // a read waits for the one before it
    return true;
}

// The buffer whose last read brought frame's chunk; -1 when none did.
int AVIReader::HeldIn(unsigned int frame)
{
    for (int b = 0; b < 2; b++)
        if (m_ReadFrame[b] != None && frame >= m_ReadFrame[b] && frame < m_ReadEnd[b])
            return b;
    return -1;
}

// Frame's chunk, from the buffer that holds it once its read has finished, else read into
// buffer A with the chunks after it up to last; size is what of it the buffer holds. Null, with
// size 0, for an empty chunk.
const unsigned char* AVIReader::Chunk(unsigned int frame, unsigned int last, unsigned int* size)
{
    int b = HeldIn(frame);
    if (b >= 0 && b == m_ReadAhead)
        FinishReadAhead();
    if (b < 0) {
        if (!ReadChunk(0, frame, last, false, true, size))
            return nullptr;
        b = 0;
    }
    avihandle* avi = m_AviHandle;
    ULONGLONG base, firstBase;
    DWORD offset, firstOffset, firstSize;
    avi->getframeoffset(frame, avi->pVideoStream, &base, &offset, (DWORD*)size);
    avi->getframeoffset(m_ReadFrame[b], avi->pVideoStream, &firstBase, &firstOffset, &firstSize);
    const ULONGLONG at = m_ReadOffset[b] + (base + offset) - (firstBase + firstOffset);
    const ULONGLONG held = at < m_ReadBufferSize ? m_ReadBufferSize - at : 0;
    if (*size > held)
        *size = (unsigned int)held;
    return m_ReadBuffer[b] + at;
}

void AVIReader::FinishReadAhead()
{
    if (m_AviHandle->hFile)
        myFinishRead(m_AviHandle->hFile);
    m_ReadAhead = -1;
}

void AVIReader::ReleaseVideoFrame(unsigned char* frame)
{
    if (!frame)
        return;
    if (m_ReleaseAfterFrame) {
        DebugOutput("AVIReader::ReleaseVideoFrame releasing video buffer frame (Aud=%d) %s\n", m_NoAudio ? 0 : 1,
                    m_FileName);
        EnterCriticalSection(m_FileLock);
        ReleaseVBuffers();
        LeaveCriticalSection(m_FileLock);
    }
    m_ReleaseAfterFrame = false;
    VideoUnBlock();
}

bool AVIReader::AllocateVBuffers()
{
    avihandle* avi = m_AviHandle;
    if (!avi)
        return false;
    // Uncompressed frames are handed out in place, so a buffer holds a whole image too.
    const BITMAPINFOHEADER* format = avi->videoFormat();
    // The suggested size is only a hint (chunks past it grow the buffers), so a wild one is cut.
    DWORD capacity = avi->nVideoBufferSize < MaxImageBytes ? avi->nVideoBufferSize : (DWORD)MaxImageBytes;
    if (format->biSizeImage > capacity && format->biSizeImage <= MaxImageBytes)
        capacity = format->biSizeImage;
    // A host reads a whole image from a stored frame, whatever size the file claims for it.
    if (format->biCompression == BI_RGB && imageSize(format, format->biBitCount) > capacity)
        capacity = (DWORD)imageSize(format, format->biBitCount);
    // Room for the chunks of several compressed frames, which come in one read.
    if (capacity < VideoBatchBytes)
        capacity = VideoBatchBytes;
    m_ReadBufferSize = capacity + 2 * FileIOWrapper::SectorSize;
    m_ReadBuffer[0] = AllocatePages(m_ReadBufferSize);
    m_ReadBuffer[1] = AllocatePages(m_ReadBufferSize);
    bool ok = m_ReadBuffer[0] && m_ReadBuffer[1];
    if (ok && avi->videoFormat()->biCompression != BI_RGB) {
        m_DecodeBuffer = AllocatePages(m_OutputFormat->biSizeImage);
        ok = m_DecodeBuffer != nullptr;
    }
    if (!ok)
        ReleaseVBuffers();
    return ok;
}

void AVIReader::ReleaseVBuffers()
{
    FinishReadAhead();
    FreePages(m_ReadBuffer[0]);
    FreePages(m_ReadBuffer[1]);
    FreePages(m_DecodeBuffer);
    m_ReadBufferSize = 0;
}

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

// Gates are spin-with-sleep and not owner-tracked. A load gives up when its stream is not
// served or the reader is not started: the gate is then held until a start that may never come.
bool AVIReader::TakeGate(volatile int* gate, bool served, bool forLoad)
{
    if (forLoad && !served)
        return false;
    while (InterlockedExchange(gate, 1) == 1) {
        if (forLoad && !InterlockedCompareExchange(&m_Started, 0, 0))
            return false;
        Sleep(1);
    }
    return true;
}

bool AVIReader::VideoBlock(bool forLoad) { return TakeGate(&m_VideoGate, !m_NoVideo, forLoad); }

void AVIReader::VideoUnBlock() { InterlockedExchange(&m_VideoGate, 0); }

bool AVIReader::AudioBlock(bool forLoad) { return TakeGate(&m_AudioGate, !m_NoAudio, forLoad); }

void AVIReader::AudioUnBlock() { InterlockedExchange(&m_AudioGate, 0); }

bool AVIReader::LoadAudioSamples(void* buffer, unsigned int start, unsigned int count, bool flag)
{
    if (!AudioBlock(true))
        return false;
    avihandle* avi = m_AviHandle;
    bool result = false;
    EnterCriticalSection(m_FileLock);
    if (avi->hFile) {
        if (m_ACM && m_ACM->PerformAudioCompression())
            result = m_ACM->LoadAudioSamples(buffer, start, count, flag);
        else if (avi->bDVType1)
            result = LoadDVSamples(buffer, start, count);
        else if (avi->pAudioFormat->wFormatTag == WAVE_FORMAT_PCM)
            result = LoadPCMSamples(buffer, start, count);
    }
    LeaveCriticalSection(m_FileLock);
    AudioUnBlock();
    return result;
}

bool AVIReader::LoadPCMSamples(void* buffer, unsigned int start, unsigned int count)
{
    avihandle* avi = m_AviHandle;
    const AudioSampleInfo* table = avi->pAudioSamples;
    const DWORD chunks = avi->nAudioChunks;
    if (!table || chunks == 0 || avi->nAudioSamples == 0 || (unsigned long long)start + count > avi->nAudioSamples)
        return false;
    DWORD c;
    if (!avi->findAudioChunk(TruncateToDWORD((double)start / avi->nAudioSamples * chunks), start, &c))
        return false;
    const DWORD blockAlign = avi->pAudioFormat->nBlockAlign;
    const unsigned long long want = (unsigned long long)count * blockAlign;
    DWORD skip = (start - table[c].dwStart) * blockAlign;
    unsigned long long done = 0;
    while (done < want) {
        ULONGLONG base;
        DWORD offset, size;
        avi->getframeoffset(c++, avi->pAudioStream, &base, &offset, &size);
        size = size > skip ? size - skip : 0;
        offset += skip;
        skip = 0;
        if (size > want - done)
            size = (DWORD)(want - done);
        mySeek64(avi->hFile, (long long)(base + offset), FILE_BEGIN);
        int got = myRead(avi->hFile, (unsigned char*)buffer + done, size, nullptr, false);
        if (got == -1)
            return false;
        if ((DWORD)got < size)
            DebugOutput("AVIReader::LoadAudioSamples warning:BytesTransferred<dwAudioSize\n");
        done += size;
    }
    return true;
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
        FollowingChunks(avi, avi->pStreams, f, avi->nFrames, at, &end, DVBatchBytes, 16);
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
