#include "Ombrix_DVOutput_Data.h"

#include <cstring>
#include <string>

#include "platform/com/PropertyBag.h"
#include "platform/win32/CodePage.h"
#include "write/GraphPins.h"
#include "write/SamplePushing.h"

namespace {

constexpr size_t MostNameBytes = 260;
// How long the destructor lets the last frames reach the device before it stops the graph.
constexpr DWORD DrainMilliseconds = 10000;

// The friendly name a device's property bag gives, in ANSI; empty when it gives none.
std::string FriendlyNameOf(IMoniker* moniker)
{
    IPropertyBag* bag = nullptr;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag))))
        return {};
    VARIANT name;
    VariantInit(&name);
    std::string ansi;
    if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR) {
        char text[MostNameBytes] = {};
        WideCharToMultiByte(CP_ACP, 0, name.bstrVal, -1, text, int(MostNameBytes), nullptr, nullptr);
        text[MostNameBytes - 1] = 0;
        ansi = text;
    }
    VariantClear(&name);
    bag->Release();
    return ansi;
}

}  // namespace

Ombrix_DVOutput_Data::Ombrix_DVOutput_Data(bool pal, bool audio, GUID encoderClsid)
    : Graph(nullptr), MediaControl(nullptr), DVEncoder(nullptr), DVMux(nullptr), DVDevice(nullptr), Failed(false),
      Info(), VideoSource(nullptr), AudioSource(nullptr)
{
    Info.HasVideo = true;
    Info.Width = 720;
    Info.Height = pal ? 576 : 480;
    Info.BottomUp = false;
    Info.Rate = 30000;
    Info.Scale = pal ? 1200 : 1001;
    Info.ColorSpace = 1;
    Info.Interlaced = true;
    Info.UpperFieldFirst = pal;
    Info.HasAudio = audio;
    if (audio) {
        Info.SampleRate = 48000;
        Info.Channels = 2;
        Info.BitsPerSample = 16;
    }
    CoInitialize(nullptr);
    Failed = !(CreateFilters(encoderClsid) && FindDVDevice() && AddFilters() && NegotiateVideoFormat() &&
               ConnectStreams() && Run());
}

bool Ombrix_DVOutput_Data::CreateFilters(REFCLSID encoderClsid)
{
    return SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                      reinterpret_cast<void**>(&Graph))) &&
           SUCCEEDED(CoCreateInstance(encoderClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                      reinterpret_cast<void**>(&DVEncoder))) &&
           SUCCEEDED(CoCreateInstance(CLSID_DVMux, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                      reinterpret_cast<void**>(&DVMux))) &&
           CreateSource(&VideoSource) && CreateSource(&AudioSource);
}

bool Ombrix_DVOutput_Data::CreateSource(DirectShowOutput** source)
{
    HRESULT hr = S_OK;
    DirectShowOutput* made = new DirectShowOutput(nullptr, &hr);
    if (FAILED(hr)) {
        delete made;
        return false;
    }
    made->AddRef();
    *source = made;
    return true;
}

bool Ombrix_DVOutput_Data::FindDVDevice()
{
    ICreateDevEnum* devices = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC, IID_ICreateDevEnum,
                                reinterpret_cast<void**>(&devices))))
        return false;
    IEnumMoniker* monikers = nullptr;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, CDEF_BYPASS_CLASS_MANAGER) == S_OK &&
        monikers) {
        monikers->Reset();
        IMoniker* moniker = nullptr;
        while (!DVDevice && monikers->Next(1, &moniker, nullptr) == S_OK) {
            IBaseFilter* filter = nullptr;
            if (SUCCEEDED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter))) &&
                filter) {
                const std::string name = FriendlyNameOf(moniker);
                if (!name.empty() && name.find("DV") != std::string::npos)
                    DVDevice = filter;
                else
                    filter->Release();
            }
            moniker->Release();
        }
        monikers->Release();
    }
    devices->Release();
    return DVDevice != nullptr;
}

bool Ombrix_DVOutput_Data::AddFilters()
{
    if (FAILED(Graph->AddFilter(DVEncoder, L"DV Encoder")))
        return false;
    IDVEnc* settings = nullptr;
    if (SUCCEEDED(Query(DVEncoder, IID_IDVEnc, &settings))) {
        settings->put_IFormatResolution(Info.Height == 576 ? DVENCODERVIDEOFORMAT_PAL : DVENCODERVIDEOFORMAT_NTSC,
                                        DVENCODERFORMAT_DVSD, DVENCODERRESOLUTION_720x480, FALSE, nullptr);
        settings->Release();
    }
    return SUCCEEDED(Graph->AddFilter(DVMux, L"DV Mux")) && SUCCEEDED(Graph->AddFilter(DVDevice, L"DV Output")) &&
           SUCCEEDED(Graph->AddFilter(VideoSource, L"Video Source")) &&
           SUCCEEDED(Graph->AddFilter(AudioSource, L"Audio Source"));
}

bool Ombrix_DVOutput_Data::NegotiateVideoFormat()
{
    // The push source offers one format: each is tried in turn until the encoder takes it.
    const struct {
        unsigned char colorSpace;
        bool bottomUp;
    } tries[] = {{1, false}, {2, false}, {3, true}, {3, false}, {4, true}, {4, false}};
    for (const auto& t : tries) {
        Info.ColorSpace = t.colorSpace;
        Info.BottomUp = t.bottomUp;
        // RGB rows run top first when the height is negative.
        const bool rgb = t.colorSpace > 2;
        VideoSource->SetupVideoInformation(t.colorSpace, Info.Width, rgb && !t.bottomUp ? -Info.Height : Info.Height,
                                           Info.Rate, Info.Scale);
        if (SUCCEEDED(SpecialConnect(Graph, VideoSource, DVEncoder)))
            return true;
    }
    return false;
}

bool Ombrix_DVOutput_Data::ConnectStreams()
{
    if (Info.HasAudio) {
        AudioSource->SetupAudioInformation(Info.SampleRate, Info.BitsPerSample, Info.Channels);
        if (FAILED(SpecialConnect(Graph, AudioSource, DVMux)))
            return false;
    }
    return SUCCEEDED(SpecialConnect(Graph, DVEncoder, DVMux)) && SUCCEEDED(SpecialConnect(Graph, DVMux, DVDevice));
}

bool Ombrix_DVOutput_Data::Run()
{
    if (FAILED(Query(Graph, IID_IMediaControl, &MediaControl)))
        return false;
    // No reference clock: the host's pushing and the device pace the graph.
    IMediaFilter* mediaFilter = nullptr;
    if (SUCCEEDED(Query(Graph, IID_IMediaFilter, &mediaFilter))) {
        mediaFilter->SetSyncSource(nullptr);
        mediaFilter->Release();
    }
    return SUCCEEDED(MediaControl->Run());
}

HRESULT Ombrix_DVOutput_Data::SpecialConnect(IGraphBuilder* graph, IBaseFilter* upstream, IBaseFilter* downstream)
{
    return ConnectFreePins(graph, upstream, downstream);
}

Ombrix_DVOutput_Data::~Ombrix_DVOutput_Data()
{
    if (!Failed) {
        if (VideoSource)
            VideoSource->SignalEndOfStream();
        if (AudioSource && Info.HasAudio)
            AudioSource->SignalEndOfStream();
        // The frames still on their way reach the device before it stops.
        IMediaEvent* events = nullptr;
        if (SUCCEEDED(Query(Graph, IID_IMediaEvent, &events))) {
            LONG code = 0;
            events->WaitForCompletion(DrainMilliseconds, &code);
            events->Release();
        }
    }
    if (MediaControl && FAILED(MediaControl->Stop())) {
        Failed = true;
        return;
    }
    for (IUnknown* member : {static_cast<IUnknown*>(DVEncoder), static_cast<IUnknown*>(DVMux),
                             static_cast<IUnknown*>(DVDevice), static_cast<IUnknown*>(VideoSource),
                             static_cast<IUnknown*>(AudioSource), static_cast<IUnknown*>(Graph),
                             static_cast<IUnknown*>(MediaControl)})
        if (member)
            member->Release();
}

unsigned char* Ombrix_DVOutput_Data::AllocateVideoBuffer()
{
    // Sources that do not run never offer a sample: waiting for one would never end.
    if (!VideoSource || Failed)
        return nullptr;
    return WaitForVideoBuffer(VideoSource);
}

void Ombrix_DVOutput_Data::ReleaseVideoBuffer(unsigned char*)
{
    if (VideoSource && !Failed)
        SendVideoFrame(VideoSource, Info);
}

bool Ombrix_DVOutput_Data::AddAudioSamples(void* samples, unsigned int count)
{
    if (!AudioSource)
        return false;
    if (count == 0)
        return true;
    if (Failed || !Info.HasAudio)
        return false;
    return SendAudioSamples(AudioSource, Info, samples, count, 0);
}
