// Decoded video frames by timeline frame number and PCM audio by sample frame number, from an
// AVI or WAV file, through the library's own parser and unbuffered reader.
#pragma once

#include "OmbrixTypes.h"
#include "Ombrix_FileInfo.h"

class avihandle;
class ACM_Tools;
struct BITMAPINFOHEADER;
struct CRITICAL_SECTION;
typedef struct HIC__* HIC;

class OMBRIX_API AVIReader {
public:
    // Parses the file, fills *info and starts the reader; GetIsValidAVIFile tells the outcome.
    AVIReader(char* fileName, Ombrix_FileInfo* info, bool noVideo, bool noAudio);
    virtual ~AVIReader();

    // The image of the file frame shown at frame of a timeline running at rate / scale frames
    // per second; null on failure. A frame handed out is given back with ReleaseVideoFrame
    // before the next video call.
    unsigned char* LoadVideoFrame(long long frame, long long rate, long long scale, bool singleFrame);
    void ReleaseVideoFrame(unsigned char* frame);
    // count interleaved PCM sample frames from sample frame start.
    bool LoadAudioSamples(void* buffer, unsigned int start, unsigned int count, bool flag);
    // The use count: the file and decoders are open while it is above 0.
    void AddStart();
    void ReleaseStart();
    char* GetFileName();
    bool GetIsValidAVIFile();

private:
    bool VFW_QueryOutputColorSpace();
    bool AllocateVBuffers();
    void ReleaseVBuffers();
    bool AllocateABuffers();
    void ReleaseABuffers();
    bool TakeGate(volatile int* gate, bool served, bool forLoad);
    bool VideoBlock(bool forLoad);
    void VideoUnBlock();
    bool AudioBlock(bool forLoad);
    void AudioUnBlock();
    void Close(bool takeGates);
    unsigned char* DecodeFrame(unsigned int target, bool singleFrame);
    unsigned char* StoredFrame(unsigned int n, bool singleFrame);
    unsigned char* DecodeTo(unsigned int n, bool singleFrame);
    void TargetOf(unsigned int n, unsigned int* chunk, unsigned int* drains);
    bool CanContinue(unsigned int n, unsigned int key);
    unsigned int Advance(unsigned int from, unsigned int n);
    bool RestartDecoder();
    unsigned int Decompress(const unsigned char* data, unsigned int size, unsigned int flags);
    unsigned int ChunkSize(unsigned int frame);
    bool RepeatsPrevious(unsigned int frame);
    unsigned int NextFed(unsigned int frame);
    void ReadAheadAfter(unsigned int frame);
    bool ReadChunk(int buffer, unsigned int frame, unsigned int last, bool ahead, bool mayGrow, unsigned int* size);
    bool GrowReadBuffers(unsigned int size);
    int HeldIn(unsigned int frame);
    const unsigned char* Chunk(unsigned int frame, unsigned int last, unsigned int* size);
    void FinishReadAhead();
    void CancelReadAhead();
    bool LoadPCMSamples(void* buffer, unsigned int start, unsigned int count);
    bool LoadDVSamples(void* buffer, unsigned int start, unsigned int count);
    unsigned int DVFrameCapacity();
    const unsigned char* DVFrame(unsigned int f);
    unsigned int DVFrameSamples(unsigned int f);
    void DVCounted(unsigned int f, unsigned int n);
    bool DVLocate(unsigned int start, unsigned int* frame, unsigned int* skip);

    static constexpr unsigned int DVBatchBytes = 4 << 20;
    static constexpr unsigned int VideoBatchBytes = 1 << 20;
    static constexpr unsigned int DVSampleBytes = 4;    // DV audio comes out as 16-bit stereo
    static constexpr unsigned int MaxDVPeriod = 5;      // frames a DV sample count pattern may span
    static constexpr unsigned int DVPeriodFrames = 15;  // frames read to find it

    Ombrix_FileInfo* m_FileInfo;
    char* m_FileName;
    avihandle* m_AviHandle;
    unsigned char* m_ReadBuffer[2];
    unsigned int m_ReadFrame[2];
    unsigned int m_ReadOffset[2];
    unsigned int m_ReadEnd[2];  // the frame after the last whose chunk came in the same read
    int m_ReadAhead;            // the buffer a read may still be running into; -1: none
    unsigned char* m_DecodeBuffer;
    unsigned char* m_DVFrameBuffer;
    unsigned char* m_DVAudioBuffer;
    BITMAPINFOHEADER* m_OutputFormat;
    HIC m_Decompressor;
    ACM_Tools* m_ACM;
    unsigned int m_LastVideoFrame;
    unsigned int m_AudioFrameCursor;
    unsigned int m_LastAudioStart;
    unsigned int m_LastAudioCount;
    unsigned int m_AudioSkip;
    unsigned int m_AudioFrameSamples;
    CRITICAL_SECTION* m_StartLock;
    volatile int m_FileReferenceCount;
    bool m_IsValidAVIFile;
    bool m_ReleaseAfterFrame;
    bool m_NoVideo;
    bool m_NoAudio;
    volatile int m_VideoGate;
    volatile int m_AudioGate;
    volatile int m_Started;  // 1 while a start has opened the file and decoders
    unsigned int m_ReadBufferSize;
    unsigned int m_HeldBytes;     // room every chunk read needs after its start: a stored image
    unsigned int m_DecodedChunk;  // the last chunk decoded since decoding began; None: begin anew
    unsigned int m_Drained;       // pictures drained after it at the end of the stream
    unsigned int m_Delay;         // pictures the decoder holds back
    CRITICAL_SECTION* m_FileLock;  // the file and index, shared by video and audio loads
    unsigned long long m_DVBatchStart;  // the run of DV frames in m_DVFrameBuffer: file offset,
    unsigned int m_DVBatchBytes;        // its length
    unsigned int m_DVBatchSkip;         // and where in the buffer it begins
    unsigned int* m_DVStarts;           // DV audio: the first sample of each frame counted so far,
    unsigned int m_DVKnown;             // how many are known,
    unsigned int m_DVPeriod;            // and the frames of the period their counts repeat (0: none)
    unsigned int m_DVPattern[MaxDVPeriod];
};
