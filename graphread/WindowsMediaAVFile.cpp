#include "WindowsMediaAVFile.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/DebugOutput.h"
#include "platform/win32/File.h"

namespace {

const unsigned char Colors[] = {1, 2, 3, 4};
constexpr ULONG MostFilters = 256;
constexpr ULONG MostPins = 256;
constexpr ULONG MostSourcePins = 8;
// A source that never takes a position makes the seek fail after this many tries, 10 ms apart.
constexpr int MostSeekTries = 100;
constexpr LONGLONG Units = 10000000;

const GUID* SubtypeOfColor(unsigned char code)
{
    switch (code) {
    case 1: return &MEDIASUBTYPE_UYVY;
    case 2: return &MEDIASUBTYPE_YUY2;
    case 3: return &MEDIASUBTYPE_RGB24;
    case 4: return &MEDIASUBTYPE_RGB32;
    default: return nullptr;
    }
}

bool IsWindowsMedia(const char* fileName)
{
    const char* dot = strrchr(fileName, '.');
    if (!dot)
        return false;
    for (const char* extension : {".asf", ".wmv", ".wma", ".wm"})
        if (strcasecmp(dot, extension) == 0)
            return true;
    return false;
}

Ombrix_RendererFilter* MakeRenderer()
{
    HRESULT result = S_OK;
    Ombrix_RendererFilter* renderer = new Ombrix_RendererFilter(nullptr, &result);
    renderer->AddRef();
    return renderer;
}

}  // namespace

WindowsMediaAVFile::WindowsMediaAVFile(const char* fileName, bool noVideo, bool noAudio, const unsigned char* colors,
                                       unsigned int count, unsigned int dvScale)
{
    InitializeCriticalSection(&m_AudioLock);
    InitializeCriticalSection(&m_StartLock);
    if (!colors || count == 0) {
        colors = Colors;
        count = sizeof Colors;
    }
    // A longer list than the record holds is cut.
    m_ColorCount = std::min<unsigned>(count, sizeof m_Colors);
    memcpy(m_Colors, colors, m_ColorCount);
    m_DVScale = dvScale;
    CoInitialize(nullptr);
    m_bNoVideo = noVideo;
    m_bNoAudio = noAudio;
    m_pFileName = strdup(fileName ? fileName : "");
    m_Info.HasVideo = m_Info.HasAudio = false;
    m_Info.VideoDuration = 0;
    m_VideoBusy = 0;
    m_pGraph = nullptr;
    m_pSource = nullptr;
    m_pSeeking = nullptr;
    m_pMediaFilter = nullptr;
    m_pControl = nullptr;
    m_bKeepConnected = false;
    m_AudioFrameBytes = 1;
    m_pVideoRenderer = MakeRenderer();
    m_pAudioRenderer = MakeRenderer();
    if (fileName && BuildFilterGraph(fileName)) {
        m_bError = false;
        m_StartCount = 1;
    } else {
        m_bError = true;
        m_StartCount = 0;
    }
}

WindowsMediaAVFile::~WindowsMediaAVFile()
{
    if (!m_bError) {
        // A frame still out dies with the reader; the last release would wait for it forever.
        if (m_StartCount > 0)
            VideoUnBlock();
        while (m_StartCount > 0)
            ReleaseStart();
        m_pControl->Stop();
    }
    m_pVideoRenderer->Release();
    m_pAudioRenderer->Release();
    SafeRelease(m_pSeeking);
    SafeRelease(m_pMediaFilter);
    SafeRelease(m_pControl);
    SafeRelease(m_pSource);
    SafeRelease(m_pGraph);
    free(m_pFileName);
    DeleteCriticalSection(&m_StartLock);
    DeleteCriticalSection(&m_AudioLock);
}

bool WindowsMediaAVFile::BuildFilterGraph(const char* fileName)
{
    // Any length: the platform's names are not bound to 260 characters.
    const std::wstring wideName = AnsiToWide(fileName);
    if (wideName.empty() || FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                reinterpret_cast<void**>(&m_pGraph))))
        return false;
    m_bKeepConnected = false;
    if (IsWindowsMedia(fileName)) {
        if (FAILED(CoCreateInstance(CLSID_WMAsfReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                    reinterpret_cast<void**>(&m_pSource))) ||
            FAILED(m_pGraph->AddFilter(m_pSource, L"ASF Reader")))
            return false;
        IFileSourceFilter* load = nullptr;
        if (FAILED(m_pSource->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&load))))
            return false;
        const HRESULT loaded = load->Load(wideName.c_str(), nullptr);
        load->Release();
        if (FAILED(loaded))
            return false;
        m_bKeepConnected = true;
    } else if (FAILED(m_pGraph->AddSourceFilter(wideName.c_str(), nullptr, &m_pSource))) {
        return false;
    }
    if ((!m_bNoVideo && FAILED(m_pGraph->AddFilter(m_pVideoRenderer, nullptr))) ||
        (!m_bNoAudio && FAILED(m_pGraph->AddFilter(m_pAudioRenderer, nullptr))))
        return false;
    IPin* const videoInput = m_pVideoRenderer->GetPin(0);
    IPin* const audioInput = m_pAudioRenderer->GetPin(0);
    m_pVideoRenderer->m_bAllowTypeChange = true;
    m_pAudioRenderer->m_bAllowTypeChange = true;
    if (!m_bNoVideo) {
        m_Info.HasVideo = false;
        for (unsigned i = 0; i < m_ColorCount; i++) {
            // Another code leaves the preferred type as it was.
            if (const GUID* subtype = SubtypeOfColor(m_Colors[i]))
                m_pVideoRenderer->Ombrix_RendererFilter_SetPreferredMediaType(MEDIATYPE_Video, *subtype, FORMAT_VideoInfo);
            if (Connect(videoInput)) {
                m_Info.HasVideo = true;
                m_Info.ColorSpace = m_Colors[i];
                break;
            }
        }
    }
    if (!m_bNoAudio) {
        m_pAudioRenderer->Ombrix_RendererFilter_SetPreferredMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM,
                                                                       FORMAT_WaveFormatEx);
        m_Info.HasAudio = false;
        m_pAudioRenderer->m_RequiredSampleRate = 0;
        m_Info.HasAudio = Connect(audioInput);
    } else {
        m_Info.HasAudio = false;
    }
    if (!m_Info.HasVideo && !m_Info.HasAudio)
        return false;
    bool dvDecoder = false;
    if (!SetDVDecodingSize(&dvDecoder))
        return false;
    if (FAILED(m_pGraph->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&m_pSeeking))) ||
        FAILED(m_pGraph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&m_pMediaFilter))) ||
        FAILED(m_pGraph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&m_pControl))))
        return false;
    if (FAILED(m_pMediaFilter->SetSyncSource(nullptr)))
        return false;
    LONGLONG duration = 0;
    if (FAILED(m_pSeeking->GetDuration(&duration)))
        return false;
    m_Info.VideoDuration = m_Info.AudioDuration = duration;
    m_pVideoRenderer->ResetEndOfStreamNotification();
    m_pAudioRenderer->ResetEndOfStreamNotification();
    if (FAILED(m_pControl->Run()))
        return false;
    WaitForFirstSamples();
    if (m_Info.HasVideo) {
        const VIDEOINFOHEADER& video = *m_pVideoRenderer->Ombrix_RendererFilter_GetVideoInformation();
        m_Info.Width = video.bmiHeader.biWidth;
        m_Info.Height = std::abs(video.bmiHeader.biHeight);
        m_Info.BottomUp = video.bmiHeader.biHeight >= 0 && m_Info.ColorSpace != 1 && m_Info.ColorSpace != 2;
        m_Info.Rate = unsigned(Units);
        m_Info.Scale = unsigned(video.AvgTimePerFrame);
        m_Info.Interlaced = m_Info.Height == 486 || m_Info.Height == 480 || m_Info.Height == 576;
        m_Info.UpperFieldFirst = m_Info.Height != 486 && !dvDecoder;
    }
    if (m_Info.HasAudio) {
        const WAVEFORMATEX audio = *m_pAudioRenderer->Ombrix_RendererFilter_GetAudioInformation();
        m_Info.SampleRate = audio.nSamplesPerSec;
        m_Info.Channels = audio.nChannels;
        m_Info.BitsPerSample = audio.wBitsPerSample;
        m_Info.NumSamples = unsigned(LONGLONG(m_Info.SampleRate) * m_Info.AudioDuration / Units);
        m_AudioFrameBytes = m_Info.BitsPerSample * m_Info.Channels / 8;
    } else {
        m_AudioFrameBytes = 1;
    }
    MeasureFile(fileName);
    return true;
}

void WindowsMediaAVFile::WaitForFirstSamples()
{
    if (m_Info.HasVideo) {
        m_pVideoRenderer->WaitForSampleOrEOS();
        m_pVideoRenderer->m_bAllowTypeChange = false;
    }
    if (m_Info.HasAudio) {
        m_pAudioRenderer->WaitForSampleOrEOS();
        m_pAudioRenderer->m_bAllowTypeChange = false;
    }
}

bool WindowsMediaAVFile::SetDVDecodingSize(bool* found)
{
    IBaseFilter* decoder = nullptr;
    *found = false;
    if (FAILED(m_pGraph->FindFilterByName(L"DV Video Decoder", &decoder)))
        return true;
    IIPDVDec* size = nullptr;
    const bool answered = SUCCEEDED(decoder->QueryInterface(IID_IIPDVDec, reinterpret_cast<void**>(&size)));
    if (answered) {
        size->put_IPDisplay(m_DVScale == 2   ? DVRESOLUTION_HALF
                            : m_DVScale == 4 ? DVRESOLUTION_QUARTER
                            : m_DVScale == 8 ? DVRESOLUTION_DC
                                             : DVRESOLUTION_FULL);
        size->Release();
    }
    decoder->Release();
    *found = true;
    return answered;
}

void WindowsMediaAVFile::MeasureFile(const char* fileName)
{
    HANDLE file = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD high = 0;
    const DWORD low = file != INVALID_HANDLE_VALUE ? GetFileSize(file, &high) : 0xFFFFFFFF;
    if (file == INVALID_HANDLE_VALUE || (low == 0xFFFFFFFF && GetLastError() != 0)) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        m_Info.FileSize = 1;
        m_Info.DataRate = 1;
        return;
    }
    m_Info.FileSize = LONGLONG(ULONGLONG(high) << 32 | low);
    CloseHandle(file);
    const LONGLONG d = std::max(m_Info.AudioDuration, m_Info.VideoDuration);
    if (d <= 0)
        m_Info.DataRate = unsigned(m_Info.FileSize);
    else if (d / 100000 == 0)  // under 10 ms: the exact rate, not a division by zero
        m_Info.DataRate = unsigned(m_Info.FileSize * Units / d);
    else
        m_Info.DataRate = unsigned(m_Info.FileSize * 100 / (d / 100000));
}

ULONG WindowsMediaAVFile::GetFilterList(IBaseFilter** filters)
{
    IEnumFilters* enumerator = nullptr;
    if (FAILED(m_pGraph->EnumFilters(&enumerator)))
        return 0;
    ULONG count = 0;
    if (FAILED(enumerator->Next(MostFilters, filters, &count)))
        count = 0;
    enumerator->Release();
    return count;
}

void WindowsMediaAVFile::ReleaseFilterList(IBaseFilter** filters, ULONG count)
{
    for (ULONG i = 0; i < count; i++)
        filters[i]->Release();
}

ULONG WindowsMediaAVFile::GetListOfPins(IBaseFilter* filter, IPin** pins, ULONG most)
{
    IEnumPins* enumerator = nullptr;
    if (FAILED(filter->EnumPins(&enumerator)))
        return 0;
    ULONG count = 0;
    if (FAILED(enumerator->Next(most, pins, &count)))
        count = 0;
    enumerator->Release();
    return count;
}

void WindowsMediaAVFile::ReleasePins(IPin** pins, ULONG count)
{
    for (ULONG i = 0; i < count; i++)
        if (pins[i])
            pins[i]->Release();
}

bool WindowsMediaAVFile::IsOutputPin(IPin* pin)
{
    PIN_DIRECTION direction;
    return pin && SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT;
}

bool WindowsMediaAVFile::Connect(IPin* input)
{
    IBaseFilter* filters[MostFilters];
    const ULONG filterCount = GetFilterList(filters);
    bool connected = false;
    for (ULONG f = 0; f < filterCount && !connected; f++) {
        IPin* pins[MostPins];
        const ULONG pinCount = GetListOfPins(filters[f], pins, MostPins);
        for (ULONG p = 0; p < pinCount && !connected; p++)
            connected = IsOutputPin(pins[p]) && SUCCEEDED(m_pGraph->Connect(pins[p], input));
        ReleasePins(pins, pinCount);
    }
    ReleaseFilterList(filters, filterCount);
    return connected;
}

void WindowsMediaAVFile::DisconnectAllPins()
{
    IBaseFilter* filters[MostFilters];
    const ULONG filterCount = GetFilterList(filters);
    for (ULONG f = 0; f < filterCount; f++) {
        IPin* pins[MostPins];
        const ULONG pinCount = GetListOfPins(filters[f], pins, MostPins);
        for (ULONG p = 0; p < pinCount; p++)
            pins[p]->Disconnect();
        ReleasePins(pins, pinCount);
    }
    ReleaseFilterList(filters, filterCount);
}

void WindowsMediaAVFile::FreeRenderers()
{
    for (Ombrix_RendererFilter* renderer : {m_pVideoRenderer, m_pAudioRenderer}) {
        renderer->SetBufferLocking(false);
        renderer->ReleaseSample();
    }
}

void WindowsMediaAVFile::ArmRenderers(REFERENCE_TIME videoOrigin, LONGLONG audioOrigin)
{
    m_pVideoRenderer->Ombrix_RendererFilter_SetOrigin(videoOrigin, 0);
    m_pAudioRenderer->Ombrix_RendererFilter_SetOrigin(videoOrigin, audioOrigin);
    for (Ombrix_RendererFilter* renderer : {m_pVideoRenderer, m_pAudioRenderer}) {
        renderer->SetBufferLocking(true);
        renderer->ResetEndOfStreamNotification();
    }
}

bool WindowsMediaAVFile::SeekToPosition(Ombrix_RendererFilter* renderer, REFERENCE_TIME time, unsigned sample)
{
    bool derive = sample == 0xFFFFFFFF;
    if (time < 0) {
        time = 0;
        sample = 0;
        derive = false;
    } else if (m_Info.HasAudio && time >= m_Info.AudioDuration) {
        time = m_Info.AudioDuration;
        derive = true;
    } else if (m_Info.HasVideo && time >= m_Info.VideoDuration) {
        time = m_Info.VideoDuration;
        derive = true;
    }
    if (derive)
        sample = unsigned(LONGLONG(m_Info.SampleRate) * time / Units);
    // Only this stream's chain is flushed and moved, through its renderer, while the graph runs:
    // each stream has a demuxer and a streaming thread of its own, so the other stream, and a
    // frame the host is still reading, stay where they are.
    IMediaSeeking* seeking = nullptr;
    if (FAILED(renderer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking))))
        return false;
    renderer->Ombrix_RendererFilter_SetOrigin(time, renderer == m_pAudioRenderer ? sample : 0);
    renderer->SetBufferLocking(true);
    renderer->ResetEndOfStreamNotification();
    renderer->DiscardUntilFlush();
    LONGLONG position = time;
    bool moved = false;
    for (int tries = 0; tries < MostSeekTries && !moved; tries++) {
        if (tries > 0)
            Sleep(10);
        position = time;
        moved = SUCCEEDED(seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                                                AM_SEEKING_NoPositioning));
    }
    seeking->Release();
    renderer->StopDiscarding();
    if (!moved) {
        DebugOutput("WindowsMediaAVFile::SeekToPosition the source does not take the position %lld\n",
                    (long long)time);
        return false;
    }
    renderer->WaitForSampleOrEOS();
    return true;
}

IMediaSample* WindowsMediaAVFile::l_LoadVideoFrame(LONGLONG frame, LONGLONG rate, LONGLONG scale)
{
    if (!m_Info.HasVideo)
        return nullptr;
    VideoBlock();
    LONGLONG t0 = frame * scale * Units / rate, t1 = (frame + 1) * scale * Units / rate;
    if (t0 > m_Info.VideoDuration)
        t0 = m_Info.VideoDuration - 1;
    if (t1 > m_Info.VideoDuration)
        t1 = m_Info.VideoDuration - 1;
    LONGLONG length = m_pVideoRenderer->GetLastDeliveryLength();
    LONGLONG a = t0 + length / 8, b = t1 - length / 8;
    if (b < a)
        a = b = (a + b) / 2;
    bool endSeen = false, seekedPast = false;
    for (;;) {
        if (!m_pVideoRenderer->WaitForSampleOrEOS()) {
            if (endSeen || !SeekToPosition(m_pVideoRenderer, t0, 0xFFFFFFFF))
                break;
            endSeen = true;
            Sleep(1);
            continue;
        }
        LONGLONG start, end;
        IMediaSample* sample = m_pVideoRenderer->Ombrix_RendererFilter_GetVideoSample(start, end);
        if (!sample)
            break;
        if (end <= a) {
            length = m_pVideoRenderer->GetLastDeliveryLength();
            if (a > end + 2 * length) {
                if (!SeekToPosition(m_pVideoRenderer, t0, 0xFFFFFFFF))
                    break;
            } else {
                m_pVideoRenderer->ReleaseSample();
            }
            Sleep(1);
        } else if (start > b && !seekedPast) {
            if (!SeekToPosition(m_pVideoRenderer, t0, 0xFFFFFFFF))
                break;
            seekedPast = true;
            Sleep(1);
        } else {
            // A seek that lands after the window again (a stream whose last frame starts at its
            // stated length) would loop for ever: the frame it gives is the nearest there is.
            return sample;
        }
    }
    VideoUnBlock();
    return nullptr;
}

BYTE* WindowsMediaAVFile::LoadVideoFrame(LONGLONG frame, LONGLONG rate, LONGLONG scale)
{
    // A timeline without frames, or the graph stopped (no frame would ever come): nothing.
    if (rate <= 0 || !Started())
        return nullptr;
    IMediaSample* sample = l_LoadVideoFrame(frame, rate, scale);
    if (!sample)
        return nullptr;
    BYTE* bits = nullptr;
    if (FAILED(sample->GetPointer(&bits)) || !bits) {
        VideoUnBlock();
        return nullptr;
    }
    return bits;
}

void WindowsMediaAVFile::ReleaseVideoFrame(BYTE* frame)
{
    if (frame)
        VideoUnBlock();
}

IMediaSample* WindowsMediaAVFile::l_LoadAudioSamples(unsigned& position, unsigned& count)
{
    if (!m_Info.HasAudio) {
        position = count = 0;
        return nullptr;
    }
    // Rounded up: the decoders start a seek at the sample under the time, which for a time
    // rounded down is the one before position.
    const LONGLONG t = LONGLONG((ULONGLONG(position) * Units + m_Info.SampleRate - 1) / m_Info.SampleRate);
    bool endSeen = false;
    for (;;) {
        if (!m_pAudioRenderer->WaitForSampleOrEOS()) {
            if (endSeen || !SeekToPosition(m_pAudioRenderer, t, position))
                return nullptr;
            endSeen = true;
            Sleep(1);
            continue;
        }
        LONGLONG start, end, first, last;
        IMediaSample* sample = m_pAudioRenderer->Ombrix_RendererFilter_GetAudioSample(start, end, first, last);
        if (!sample)
            return nullptr;
        if (last <= position) {
            if (position > last + 2 * (last - first)) {
                if (!SeekToPosition(m_pAudioRenderer, t, position))
                    return nullptr;
            } else {
                m_pAudioRenderer->ReleaseSample();
            }
            Sleep(1);
        } else if (first > position) {
            if (!SeekToPosition(m_pAudioRenderer, t, position))
                return nullptr;
            Sleep(1);
        } else {
            position = unsigned(first);
            count = unsigned(last - first);
            return sample;
        }
    }
}

bool WindowsMediaAVFile::LoadAudioSamples(void* buffer, unsigned first, unsigned count)
{
    if (!m_Info.HasAudio)
        return false;
    EnterCriticalSection(&m_AudioLock);
    BYTE* out = static_cast<BYTE*>(buffer);
    unsigned position = first, remaining = count;
    // The graph stopped: no sample would ever come, so the window is silence.
    const bool started = Started() && m_Info.SampleRate > 0;
    while (remaining > 0) {
        unsigned blockFirst = position, blockCount = 0;
        IMediaSample* sample = started ? l_LoadAudioSamples(blockFirst, blockCount) : nullptr;
        BYTE* bits = nullptr;
        if (!sample || FAILED(sample->GetPointer(&bits)) || !bits) {
            memset(out, 0, size_t(remaining) * m_AudioFrameBytes);
            break;
        }
        const unsigned take = std::min(remaining, blockFirst + blockCount - position);
        memcpy(out, bits + size_t(position - blockFirst) * m_AudioFrameBytes, size_t(take) * m_AudioFrameBytes);
        position += take;
        out += size_t(take) * m_AudioFrameBytes;
        remaining -= take;
    }
    LeaveCriticalSection(&m_AudioLock);
    return true;
}

bool WindowsMediaAVFile::Started()
{
    EnterCriticalSection(&m_StartLock);
    const bool started = m_StartCount > 0;
    LeaveCriticalSection(&m_StartLock);
    return started;
}

void WindowsMediaAVFile::AddStart()
{
    EnterCriticalSection(&m_StartLock);
    struct Leave {
        CRITICAL_SECTION* lock;
        ~Leave() { LeaveCriticalSection(lock); }
    } leave{&m_StartLock};
    if ((m_Info.HasVideo || m_Info.HasAudio) && ++m_StartCount == 1)
        AddStart_Raw();
}

void WindowsMediaAVFile::ReleaseStart()
{
    EnterCriticalSection(&m_StartLock);
    if ((m_Info.HasVideo || m_Info.HasAudio) && m_StartCount > 0 && --m_StartCount == 0)
        ReleaseStart_Raw();
    LeaveCriticalSection(&m_StartLock);
}

void WindowsMediaAVFile::ReleaseStart_Raw()
{
    VideoBlock();
    FreeRenderers();
    m_pControl->Stop();
    if (!m_bKeepConnected)
        DisconnectAllPins();
}

void WindowsMediaAVFile::AddStart_Raw()
{
    m_pVideoRenderer->SetBufferLocking(true);
    m_pAudioRenderer->SetBufferLocking(true);
    if (!m_bKeepConnected) {
        m_pVideoRenderer->m_bAllowTypeChange = true;
        m_pAudioRenderer->m_bAllowTypeChange = true;
        IPin* pins[MostSourcePins];
        const ULONG count = GetListOfPins(m_pSource, pins, MostSourcePins);
        for (ULONG i = 0; i < count; i++)
            if (pins[i] && SUCCEEDED(m_pGraph->Connect(pins[i], m_pVideoRenderer->GetPin(0))))
                break;
        ReleasePins(pins, count);
        if (m_Info.HasAudio && !Connect(m_pAudioRenderer->GetPin(0))) {
            // Back to the stopped state, so that the next AddStart tries again and the
            // destructor has nothing to wait for.
            m_StartCount = 0;
            DisconnectAllPins();
            throw "Cannot re-connect audio pin.";
        }
        m_pMediaFilter->SetSyncSource(nullptr);
        bool dvDecoder;
        SetDVDecodingSize(&dvDecoder);
    }
    ArmRenderers(0, 0);
    m_pControl->Run();
    WaitForFirstSamples();
    VideoUnBlock();
}

void WindowsMediaAVFile::VideoBlock()
{
    while (InterlockedExchange(&m_VideoBusy, 1) != 0)
        Sleep(1);
}

void WindowsMediaAVFile::VideoUnBlock() { InterlockedExchange(&m_VideoBusy, 0); }
