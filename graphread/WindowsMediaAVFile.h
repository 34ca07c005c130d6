// The graph reader: any file as a filter graph ending in two capture renderers, one for video and
// one for audio, serving decoded frames by frame number and PCM by sample frame, reading forward
// when the wanted position lies just ahead and seeking the graph otherwise.
#pragma once

#include <string>

#include "Ombrix_RendererFilter.h"
#include "ombrix/Ombrix_FileInfo.h"

class WindowsMediaAVFile {
public:
    // colors (count entries, at most 128 used; null or 0: UYVY, YUY2, RGB24, RGB32) are the
    // colour-space codes to try for video, in order; dvScale 2, 4 or 8 decodes DV at half, a
    // quarter or an eighth of its size. Always constructed: Error() tells whether it can be used.
    WindowsMediaAVFile(const char* fileName, bool noVideo, bool noAudio, const unsigned char* colors,
                       unsigned int count, unsigned int dvScale);
    ~WindowsMediaAVFile();
    WindowsMediaAVFile(const WindowsMediaAVFile&) = delete;
    WindowsMediaAVFile& operator=(const WindowsMediaAVFile&) = delete;

    // The frame shown at frame of a timeline of rate / scale frames per second, or null; given
    // back with ReleaseVideoFrame before the next one.
    BYTE* LoadVideoFrame(LONGLONG frame, LONGLONG rate, LONGLONG scale);
    void ReleaseVideoFrame(BYTE* frame);
    // count sample frames from first; silence where none can be read. False without audio.
    bool LoadAudioSamples(void* buffer, unsigned first, unsigned count);
    // The use count: the graph runs while it is above 0. AddStart throws "Cannot re-connect audio
    // pin." when a graph taken apart at the last ReleaseStart cannot be put together again.
    void AddStart();
    void ReleaseStart();
    Ombrix_FileInfo& GetInfo() { return m_Info; }
    bool Error() const { return m_bError; }
    char* GetFileName() { return m_pFileName; }

private:
    bool BuildFilterGraph(const char* fileName);
    bool Connect(IPin* input);
    ULONG GetFilterList(IBaseFilter** filters);
    void ReleaseFilterList(IBaseFilter** filters, ULONG count);
    ULONG GetListOfPins(IBaseFilter* filter, IPin** pins, ULONG most);
    void ReleasePins(IPin** pins, ULONG count);
    bool IsOutputPin(IPin* pin);
    void DisconnectAllPins();
    // Tells a "DV Video Decoder" in the graph its decoding size; false when it has no IIPDVDec.
    bool SetDVDecodingSize(bool* found);
    void MeasureFile(const char* fileName);
    // Moves one stream, the renderer's, to time; its held samples then count from time and, for
    // audio, from sample (0xFFFFFFFF: the sample at time).
    bool SeekToPosition(Ombrix_RendererFilter* renderer, REFERENCE_TIME time, unsigned sample);
    IMediaSample* l_LoadVideoFrame(LONGLONG frame, LONGLONG rate, LONGLONG scale);
    IMediaSample* l_LoadAudioSamples(unsigned& position, unsigned& count);
    bool Started();
    void AddStart_Raw();
    void ReleaseStart_Raw();
    void VideoBlock();
    void VideoUnBlock();
    // Both renderers: buffer locking off and their samples released, which frees the streaming
    // threads before the graph pauses or stops.
    void FreeRenderers();
    // Both renderers: an origin, locking on and no end of stream seen.
    void ArmRenderers(REFERENCE_TIME videoOrigin, LONGLONG audioOrigin);
    void WaitForFirstSamples();

    IGraphBuilder* m_pGraph;
    IBaseFilter* m_pSource;
    IMediaSeeking* m_pSeeking;
    IMediaFilter* m_pMediaFilter;
    IMediaControl* m_pControl;
    unsigned m_ColorCount;
    unsigned char m_Colors[128];
    bool m_bNoAudio;
    bool m_bNoVideo;
    unsigned m_StartCount;
    bool m_bKeepConnected;
    Ombrix_RendererFilter* m_pVideoRenderer;
    Ombrix_RendererFilter* m_pAudioRenderer;
    Ombrix_FileInfo m_Info;
    unsigned m_AudioFrameBytes;
    bool m_bError;
    CRITICAL_SECTION m_AudioLock;
    CRITICAL_SECTION m_StartLock;
    volatile LONG m_VideoBusy;
    char* m_pFileName;
    unsigned m_DVScale;
};
