// The DV output's graph: the video push source through the DV encoder into the DV Mux, the audio
// push source into the DV Mux beside it, and the DV Mux into the first registered DV device. It is
// built and started on construction; the host then pushes frames and audio, each time-stamped from
// the running counts in Info.
#pragma once

#include "ombrix/Ombrix_FileInfo.h"
#include "write/DirectShowOutput.h"

class Ombrix_DVOutput_Data {
public:
    Ombrix_DVOutput_Data(bool pal, bool audio, GUID encoderClsid);
    ~Ombrix_DVOutput_Data();
    Ombrix_DVOutput_Data(const Ombrix_DVOutput_Data&) = delete;
    Ombrix_DVOutput_Data& operator=(const Ombrix_DVOutput_Data&) = delete;

    // Null, at once, on an output that failed to build.
    unsigned char* AllocateVideoBuffer();
    void ReleaseVideoBuffer(unsigned char* buffer);
    // False, at once, on an output that failed to build or was made without audio.
    bool AddAudioSamples(void* samples, unsigned int count);

    IGraphBuilder* Graph;
    IMediaControl* MediaControl;
    IBaseFilter* DVEncoder;
    IBaseFilter* DVMux;
    IBaseFilter* DVDevice;
    bool Failed;
    Ombrix_FileInfo Info;
    DirectShowOutput* VideoSource;
    DirectShowOutput* AudioSource;

protected:
    HRESULT SpecialConnect(IGraphBuilder* graph, IBaseFilter* upstream, IBaseFilter* downstream);

private:
    // Each step of the construction; false ends it.
    bool CreateFilters(REFCLSID encoderClsid);
    static bool CreateSource(DirectShowOutput** source);
    bool FindDVDevice();
    bool AddFilters();
    bool NegotiateVideoFormat();
    bool ConnectStreams();
    bool Run();
};
