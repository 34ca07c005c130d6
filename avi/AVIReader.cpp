#include "ombrix/AVIReader.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "PCMFormat.h"
#include "ReaderSupport.h"
#include "avihandle.h"
#include "core/DebugOutput.h"
#include "core/FileIOWrapper.h"
#include "core/ScopeExit.h"
#include "core/Truncate.h"
#include "ombrix/ACM_Tools.h"
#include "platform/vfw/Vfw.h"
#include "platform/win32/Memory.h"
#include "platform/win32/Sync.h"

namespace {

struct ColorSpaceChoice {
    FOURCC fourcc;
    unsigned char colorSpace;
};
// Tried in this order; the first the decompressor accepts wins.
const ColorSpaceChoice yuvChoices[] = {
    {FCC("UYVY"), 1}, {FCC("YUV2"), 1}, {FCC("VYUY"), 2}, {FCC("YUY2"), 2}};

}  // namespace

AVIReader::AVIReader(char* fileName, Ombrix_FileInfo* info, bool noVideo, bool noAudio)
    : m_FileInfo(info), m_FileName(nullptr), m_AviHandle(nullptr), m_ReadBuffer{}, m_ReadFrame{None, None},
      m_ReadOffset{}, m_ReadEnd{}, m_ReadAhead(-1), m_DecodeBuffer(nullptr), m_DVFrameBuffer(nullptr),
      m_DVAudioBuffer(nullptr), m_OutputFormat(nullptr), m_Decompressor(nullptr), m_ACM(nullptr),
      m_LastVideoFrame(None), m_AudioFrameCursor(None), m_LastAudioStart(None), m_LastAudioCount(None), m_AudioSkip(0),
      m_AudioFrameSamples(0), m_StartLock(new CRITICAL_SECTION), m_FileReferenceCount(0), m_IsValidAVIFile(false),
      m_ReleaseAfterFrame(false), m_NoVideo(noVideo), m_NoAudio(noAudio), m_VideoGate(1), m_AudioGate(1),
      m_Started(0), m_ReadBufferSize(0), m_HeldBytes(0), m_DecodedChunk(None), m_Drained(0), m_Delay(0),
      m_FileLock(new CRITICAL_SECTION), m_DVBatchStart(0), m_DVBatchBytes(0), m_DVBatchSkip(0), m_DVStarts(nullptr),
      m_DVKnown(0), m_DVPeriod(0), m_DVPattern{}
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
        // Rows stored top-down have a negative height: the picture is as high either way.
        record.Height = format->biHeight < 0 ? -format->biHeight : format->biHeight;
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
            // DV frames' audio comes out as 16-bit stereo, whatever format another stream header gave.
            record.Channels = avi->bDVType1 ? 2 : format->nChannels;
            record.BitsPerSample =
                avi->bDVType1 ? 16 : compressed ? DecodedBitsPerSample(*format) : format->wBitsPerSample;
            record.NumSamples = compressed ? m_ACM->GetDestTotalAudioSamples() : avi->nAudioSamples;
            record.AudioDuration = record.SampleRate
                                       ? (long long)((double)record.NumSamples / record.SampleRate * 10000000.0)
                                       : 0;
        }
    }
    // Audio the record does not describe is not served at all: loads fail at once, as in a reader
    // made without audio.
    m_NoAudio = !record.HasAudio;
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
    const ScopeExit leave([&] { LeaveCriticalSection(m_StartLock); });
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
                if (m_ACM)
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
}

void AVIReader::ReleaseStart()
{
    EnterCriticalSection(m_StartLock);
    const ScopeExit leave([&] { LeaveCriticalSection(m_StartLock); });
    if (m_IsValidAVIFile && InterlockedDecrement(&m_FileReferenceCount) <= 0) {
        DebugOutput("AVIReader::ReleaseStart Closing (Aud=%d) %s\n", m_NoAudio ? 0 : 1, m_FileName);
        if (m_FileReferenceCount < 0)
            throw "AVIReader::ReleaseStart Warning reference count<0";
        // After a failed start the gates are already held and nothing will free them.
        Close(InterlockedCompareExchange(&m_Started, 0, 0) != 0);
    }
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
    // Freed on every way out, a message thrown from below included.
    const ScopeExit unblock([&] { AudioUnBlock(); });
    EnterCriticalSection(m_FileLock);
    const ScopeExit leave([&] { LeaveCriticalSection(m_FileLock); });
    avihandle* avi = m_AviHandle;
    if (!avi->hFile)
        return false;
    if (m_ACM && m_ACM->PerformAudioCompression())
        return m_ACM->LoadAudioSamples(buffer, start, count, flag);
    if (avi->bDVType1)
        return LoadDVSamples(buffer, start, count);
    return avi->pAudioFormat->wFormatTag == WAVE_FORMAT_PCM && LoadPCMSamples(buffer, start, count);
}
