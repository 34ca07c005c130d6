#include "Ombrix_FileWriter.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "GraphPins.h"
#include "SamplePushing.h"
#include "platform/win32/File.h"

namespace {

constexpr ULONG MostFilters = 256;
// Empty hand-offs an audio write waits through, 100 ms apart, before it gives up.
constexpr int MostAudioWaits = 50;

}  // namespace

Ombrix_FileWriter::Ombrix_FileWriter()
    : FileName(nullptr), Info(), VideoCodecCount(0), VideoCodecNames(nullptr), VideoCodecFilters(nullptr),
      VideoCodec(0), AudioCodecCount(0), AudioCodecNames(nullptr), AudioCodecFilters(nullptr), AudioCodec(0),
      AsfWriter(nullptr), AviMux(nullptr), ConfigAviMux(nullptr), ConfigInterleaving(nullptr), Graph(nullptr),
      FileSink(nullptr), AsfFileSink(nullptr), FileWriterFilter(nullptr), MediaControl(nullptr), MediaFilter(nullptr),
      VideoCompressor(nullptr), AudioCompressor(nullptr), DVMux(nullptr), DVEncoderIndex(0), MediaEvent(nullptr),
      VideoSource(nullptr), AudioSource(nullptr), Running(false), m_Users(1)
{
    CoInitialize(nullptr);
    try {
        Build();
    } catch (const char*) {
        // The destructor does not run for a writer that was never made: what was made goes here.
        ReleaseAll();
        throw;
    }
}

void Ombrix_FileWriter::Build()
{
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                reinterpret_cast<void**>(&Graph))) ||
        FAILED(Query(Graph, IID_IMediaControl, &MediaControl)) || FAILED(Query(Graph, IID_IMediaFilter, &MediaFilter)))
        throw "caanot create the graph builder.";
    if (FAILED(Query(Graph, IID_IMediaEvent, &MediaEvent)))
        MediaEvent = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WMAsfWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(&AsfWriter))))
        AsfWriter = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(&FileWriterFilter))) ||
        FAILED(Query(FileWriterFilter, IID_IFileSinkFilter, &FileSink)))
        throw "caanot create the file writer.";
    BuildVideoCompressorList();
    BuildAudioCompressorList();
    VideoCodec = AudioCodec = 0;
    if (FAILED(CoCreateInstance(CLSID_AviDest, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(&AviMux))))
        throw "Ombrix_FileWriter: Could not create Avi multiplexor (video)";
    if (FAILED(Graph->AddFilter(AviMux, L"AVI Mux")))
        throw "caanot create pAVIMultiplex.";
    if (SUCCEEDED(Query(AviMux, IID_IConfigAviMux, &ConfigAviMux)))
        ConfigAviMux->SetOutputCompatibilityIndex(TRUE);
    if (SUCCEEDED(Query(AviMux, IID_IConfigInterleaving, &ConfigInterleaving)))
        ConfigInterleaving->put_Mode(INTERLEAVE_NONE);
    FileName = nullptr;
}

Ombrix_FileWriter::~Ombrix_FileWriter()
{
    CloseFile();
    ReleaseAll();
}

void Ombrix_FileWriter::ReleaseAll()
{
    DestroyLists();
    SafeRelease(ConfigAviMux);
    SafeRelease(ConfigInterleaving);
    SafeRelease(AviMux);
    SafeRelease(AsfFileSink);
    SafeRelease(AsfWriter);
    SafeRelease(FileSink);
    SafeRelease(FileWriterFilter);
    SafeRelease(MediaEvent);
    SafeRelease(MediaFilter);
    SafeRelease(MediaControl);
    SafeRelease(Graph);
    free(FileName);
    FileName = nullptr;
}

bool Ombrix_FileWriter::OpenFile(char* name, Ombrix_FileInfo* info)
{
    CloseFile();
    if (!name || !info)
        return false;
    FileName = strdup(name);
    if (!FileName)
        return false;
    Info = *info;
    Info.NumFrames = 0;
    Info.VideoDuration = 0;
    Info.NumSamples = 0;
    Info.AudioDuration = 0;
    Info.HasAlpha = false;
    // The time stamps divide by the rates, and audio is cut in whole sample frames.
    const bool videoUnusable = Info.HasVideo && (Info.Rate == 0 || Info.Scale == 0);
    const bool audioUnusable = Info.HasAudio && (Info.SampleRate == 0 || Info.BitsPerSample * Info.Channels / 8 == 0);
    if ((!Info.HasVideo && !Info.HasAudio) || videoUnusable || audioUnusable) {
        CloseFile();
        return false;
    }
    bool built;
    if (!Info.HasVideo && Info.HasAudio && IsWindowsMediaAudio(AudioCodec)) {
        built = BuildFilterGraph_WMV();
    } else if (Info.HasVideo && IsWindowsMediaVideo(VideoCodec)) {
        built = BuildFilterGraph_WMV();
    } else if (Info.HasAudio && IsWindowsMediaAudio(AudioCodec)) {
        CloseFile();
        return false;
    } else {
        if (!Info.HasVideo && VideoCodec == 4)
            VideoCodec = 0;
        built = BuildFilterGraph();
    }
    if (!built) {
        CloseFile();
        return false;
    }
    return true;
}

std::wstring Ombrix_FileWriter::PrepareFileName()
{
    // Any length: names here are not bound to 260 characters.
    DeleteFileA(FileName);
    return AnsiToWide(FileName);
}

bool Ombrix_FileWriter::AddSource(DirectShowOutput** source, const wchar_t* name)
{
    HRESULT result = S_OK;
    DirectShowOutput* made = new (std::nothrow) DirectShowOutput(nullptr, &result);
    if (!made)
        return false;
    made->AddRef();
    *source = made;
    return SUCCEEDED(result) && SUCCEEDED(Graph->AddFilter(made, name));
}

bool Ombrix_FileWriter::BuildFilterGraph()
{
    const std::wstring name = PrepareFileName();
    if (FAILED(Graph->AddFilter(FileWriterFilter, L"AVI Writer")) || FAILED(FileSink->SetFileName(name.c_str(), nullptr)))
        return false;
    unsigned int codec = VideoCodec;
    if (!Info.HasAudio && codec == 4)
        codec = DVEncoderIndex;
    // Without a "DV Video Encoder" its index stays 0, which must not turn the DV entry into entry 0.
    const bool dv = VideoCodec == 4 || (codec == DVEncoderIndex && codec != 0);
    IBaseFilter* const encoder = DVEncoderIndex < VideoCodecCount ? VideoCodecFilters[DVEncoderIndex] : nullptr;
    if (dv && !encoder)
        return false;
    if (dv) {
        IDVEnc* settings = nullptr;
        if (SUCCEEDED(Query(encoder, IID_IDVEnc, &settings))) {
            const int pal = std::abs(Info.Height - 576) < std::abs(Info.Height - 480);
            settings->put_IFormatResolution(pal ? DVENCODERVIDEOFORMAT_PAL : DVENCODERVIDEOFORMAT_NTSC,
                                            DVENCODERFORMAT_DVSD, DVENCODERRESOLUTION_720x480, FALSE, nullptr);
            settings->Release();
        }
    }
    if (Info.HasVideo) {
        if (!AddSource(&VideoSource, L"Video Source Filter"))
            return false;
        IBaseFilter* downstream = AviMux;
        if (codec <= 3) {
            Info.ColorSpace = static_cast<unsigned char>(codec + 1);
        } else {
            downstream = codec == 4 ? encoder : codec < VideoCodecCount ? VideoCodecFilters[codec] : nullptr;
            if (!downstream || FAILED(Graph->AddFilter(downstream, L"Compressor")))
                return false;
            VideoCompressor = downstream;
        }
        if (Info.ColorSpace == 0)
            Info.ColorSpace = 1;
        if (!NegotiateVideoFormat(downstream))
            return false;
        if (downstream != AviMux) {
            if (codec == 4) {
                if (FAILED(CoCreateInstance(CLSID_DVMux, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                            reinterpret_cast<void**>(&DVMux))) ||
                    FAILED(Graph->AddFilter(DVMux, L"DV Mux")) || FAILED(SpecialConnect(Graph, downstream, DVMux)) ||
                    FAILED(SpecialConnect(Graph, DVMux, AviMux)))
                    return false;
            } else if (FAILED(SpecialConnect(Graph, downstream, AviMux))) {
                return false;
            }
        }
    }
    if (Info.HasAudio) {
        if (!AddSource(&AudioSource, L"Audio Source Filter"))
            return false;
        AudioSource->SetupAudioInformation(Info.SampleRate, Info.BitsPerSample, Info.Channels);
        IBaseFilter* downstream = AviMux;
        if (codec == 4) {
            downstream = DVMux;
        } else if (AudioCodec != 0) {
            downstream = AudioCodec < AudioCodecCount ? AudioCodecFilters[AudioCodec] : nullptr;
            if (!downstream || FAILED(Graph->AddFilter(downstream, L"Audio Source Filter")))
                return false;
            AudioCompressor = downstream;
        }
        if (!downstream || FAILED(SpecialConnect(Graph, AudioSource, downstream)))
            return false;
        if (AudioCompressor && FAILED(SpecialConnect(Graph, AudioCompressor, AviMux)))
            return false;
    }
    if (FAILED(SpecialConnect(Graph, AviMux, FileWriterFilter)))
        return false;
    Running = false;
    return true;
}

bool Ombrix_FileWriter::BuildFilterGraph_WMV()
{
    const std::wstring name = PrepareFileName();
    if (FAILED(Query(AsfWriter, IID_IFileSinkFilter, &AsfFileSink)))
        throw "Cannot create ASF writer";
    if (FAILED(Graph->AddFilter(AsfWriter, L"ASF Writer")) || FAILED(AsfFileSink->SetFileName(name.c_str(), nullptr)))
        return false;
    if (Info.HasVideo) {
        if (!AddSource(&VideoSource, L"Video Source Filter"))
            return false;
        if (Info.ColorSpace == 0)
            Info.ColorSpace = 1;
        if (!NegotiateVideoFormat(AsfWriter))
            return false;
    }
    if (Info.HasAudio) {
        if (!AddSource(&AudioSource, L"Audio Source Filter"))
            return false;
        AudioSource->SetupAudioInformation(Info.SampleRate, Info.BitsPerSample, Info.Channels);
        if (FAILED(SpecialConnect(Graph, AudioSource, AsfWriter)))
            return false;
    }
    Running = false;
    return true;
}

bool Ombrix_FileWriter::TryVideoFormat(unsigned char colorSpace, bool bottomUp, IBaseFilter* downstream)
{
    Info.ColorSpace = colorSpace;
    Info.BottomUp = bottomUp;
    const bool rgb = colorSpace != 1 && colorSpace != 2;
    const int height = rgb && !bottomUp ? -Info.Height : Info.Height;
    VideoSource->SetupVideoInformation(colorSpace, Info.Width, height, Info.Rate, Info.Scale);
    return SUCCEEDED(SpecialConnect(Graph, VideoSource, downstream));
}

bool Ombrix_FileWriter::NegotiateVideoFormat(IBaseFilter* downstream)
{
    if (TryVideoFormat(Info.ColorSpace, Info.BottomUp, downstream))
        return true;
    const struct {
        unsigned char colorSpace;
        bool bottomUp;
        bool keepRowOrder;
    } tries[] = {{1, false, true}, {2, false, true}, {3, true, false}, {3, false, false}, {4, true, false}, {4, false, false}};
    for (const auto& t : tries)
        if (TryVideoFormat(t.colorSpace, t.keepRowOrder ? Info.BottomUp : t.bottomUp, downstream))
            return true;
    return false;
}

HRESULT Ombrix_FileWriter::SpecialConnect(IGraphBuilder* graph, IBaseFilter* upstream, IBaseFilter* downstream)
{
    return ConnectFreePins(graph, upstream, downstream);
}

bool Ombrix_FileWriter::Run()
{
    if (!MediaControl)
        return false;
    if (FAILED(MediaControl->Run())) {
        // A graph that did not run may stand paused with its sources waiting: stop it, or taking
        // it apart would wait for them for ever.
        MediaControl->Stop();
        return false;
    }
    Running = true;
    return true;
}

bool Ombrix_FileWriter::Stop()
{
    if (FAILED(MediaControl->Stop()))
        return false;
    Running = false;
    return true;
}

unsigned char* Ombrix_FileWriter::AllocateVideoBuffer()
{
    // A graph that would not run offers no sample: waiting for one would never end.
    if (!VideoSource || (!Running && !Run()))
        return nullptr;
    return WaitForVideoBuffer(VideoSource);
}

void Ombrix_FileWriter::ReleaseVideoBuffer(unsigned char*)
{
    if (VideoSource)
        SendVideoFrame(VideoSource, Info);
}

bool Ombrix_FileWriter::AddAudioSamples(void* data, unsigned int count)
{
    if (!AudioSource || (!Running && !Run()))
        return false;
    return SendAudioSamples(AudioSource, Info, data, count, MostAudioWaits);
}

void Ombrix_FileWriter::CloseFile()
{
    if (Running) {
        if (VideoSource)
            VideoSource->SignalEndOfStream();
        if (AudioSource)
            AudioSource->SignalEndOfStream();
        LONG code = 0;
        if (MediaEvent && (Info.NumFrames != 0 || Info.NumSamples != 0))
            MediaEvent->WaitForCompletion(INFINITE, &code);
        Stop();
    }
    if (Graph) {
        for (IBaseFilter* member : {AsfWriter, FileWriterFilter, static_cast<IBaseFilter*>(VideoSource),
                                    static_cast<IBaseFilter*>(AudioSource), DVMux})
            if (member)
                Graph->RemoveFilter(member);
        if (VideoCompressor && VideoSource)
            Graph->RemoveFilter(VideoCompressor);
        if (AudioCompressor && AudioSource)
            Graph->RemoveFilter(AudioCompressor);
        DisconnectAllPins();
    }
    if (VideoSource)
        VideoCompressor = nullptr;
    if (AudioSource)
        AudioCompressor = nullptr;
    SafeRelease(VideoSource);
    SafeRelease(AudioSource);
    SafeRelease(DVMux);
    SafeRelease(AsfFileSink);
    free(FileName);
    FileName = nullptr;
    Info = Ombrix_FileInfo();
}

void Ombrix_FileWriter::DisconnectAllPins()
{
    IEnumFilters* enumerator = nullptr;
    if (FAILED(Graph->EnumFilters(&enumerator)))
        return;
    IBaseFilter* filters[MostFilters];
    ULONG count = 0;
    if (FAILED(enumerator->Next(MostFilters, filters, &count)))
        count = 0;
    enumerator->Release();
    for (ULONG f = 0; f < count; f++) {
        IPin* pins[MostPins];
        const ULONG pinCount = ListPins(filters[f], pins);
        for (ULONG p = 0; p < pinCount; p++)
            pins[p]->Disconnect();
        ReleaseList(reinterpret_cast<IUnknown**>(pins), pinCount);
    }
    ReleaseList(reinterpret_cast<IUnknown**>(filters), count);
}
