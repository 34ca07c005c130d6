// Writes one media file at a time from frames and audio blocks the host pushes, through a filter
// graph from one or two push sources to the AVI multiplexer and file writer (or the Windows Media
// writer), with the codecs chosen from two numbered lists.
#pragma once

#include <string>

#include "DirectShowOutput.h"
#include "ombrix/Ombrix_FileInfo.h"
#include "ombrix/OmbrixTypes.h"

class Ombrix_FileWriter {
public:
    // Throws its message as a char pointer when the permanent part of the graph cannot be built.
    Ombrix_FileWriter();
    ~Ombrix_FileWriter();
    Ombrix_FileWriter(const Ombrix_FileWriter&) = delete;
    Ombrix_FileWriter& operator=(const Ombrix_FileWriter&) = delete;

    bool OpenFile(char* name, Ombrix_FileInfo* info);
    void CloseFile();
    unsigned char* AllocateVideoBuffer();
    void ReleaseVideoBuffer(unsigned char* buffer);
    bool AddAudioSamples(void* data, unsigned int count);
    char* GetFileName() { return FileName; }

    bool CanConfigureVideoCodec();
    void ConfigureVideoCodec(HWND parent, char* caption);
    bool CanConfigureAudioCodec();
    void ConfigureAudioCodec(HWND parent, char* caption);
    void ConfigureMultiplexer(HWND parent, char* caption);

    // The facades that share this writer: the last one to let go destroys it.
    void AddUser() { ++m_Users; }
    bool ReleaseUser() { return --m_Users == 0; }

    char* FileName;
    Ombrix_FileInfo Info;
    unsigned int VideoCodecCount;
    char** VideoCodecNames;
    IBaseFilter** VideoCodecFilters;
    unsigned int VideoCodec;
    unsigned int AudioCodecCount;
    char** AudioCodecNames;
    IBaseFilter** AudioCodecFilters;
    unsigned int AudioCodec;

private:
    void Build();
    void ReleaseAll();
    void AddVideoCodecName(const char* name, IBaseFilter* filter, bool);
    void AddAudioCodecName(const char* name, IBaseFilter* filter);
    void BuildVideoCompressorList();
    void BuildAudioCompressorList();
    // Appends every compressor of the category, through add; records the "DV Video Encoder".
    void AddInstalledCompressors(REFCLSID category, bool video);
    void DestroyLists();
    // The filter behind the selected video entry (the DV entry stands for the "DV Video Encoder").
    IBaseFilter* SelectedVideoFilter();
    IBaseFilter* SelectedAudioFilter();
    static bool CanConfigure(IBaseFilter* filter);
    static void Configure(IBaseFilter* filter, HWND parent, const char* caption);
    static void ShowPropertyFrame(IBaseFilter* filter, HWND parent, const char* caption);
    bool IsWindowsMediaVideo(unsigned int index) const { return AsfWriter && index == 5; }
    bool IsWindowsMediaAudio(unsigned int index) const { return AsfWriter && index == 1; }

    bool BuildFilterGraph();
    bool BuildFilterGraph_WMV();
    // The name as a wide string, with any file of that name deleted first.
    std::wstring PrepareFileName();
    // A new push source in the graph under name; false when it cannot be made or added.
    bool AddSource(DirectShowOutput** source, const wchar_t* name);
    // Tries the video formats until the downstream filter takes one; Info then holds it.
    bool NegotiateVideoFormat(IBaseFilter* downstream);
    bool TryVideoFormat(unsigned char colorSpace, bool bottomUp, IBaseFilter* downstream);
    HRESULT SpecialConnect(IGraphBuilder* graph, IBaseFilter* upstream, IBaseFilter* downstream);
    bool Run();
    bool Stop();
    void DisconnectAllPins();

    IBaseFilter* AsfWriter;
    IBaseFilter* AviMux;
    IConfigAviMux* ConfigAviMux;
    IConfigInterleaving* ConfigInterleaving;
    IGraphBuilder* Graph;
    IFileSinkFilter* FileSink;
    IFileSinkFilter* AsfFileSink;
    IBaseFilter* FileWriterFilter;
    IMediaControl* MediaControl;
    IMediaFilter* MediaFilter;
    IBaseFilter* VideoCompressor;
    IBaseFilter* AudioCompressor;
    IBaseFilter* DVMux;
    unsigned int DVEncoderIndex;
    IMediaEvent* MediaEvent;
    DirectShowOutput* VideoSource;
    DirectShowOutput* AudioSource;
    bool Running;
    unsigned m_Users;
};
