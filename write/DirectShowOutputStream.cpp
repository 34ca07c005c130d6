#include "DirectShowOutputStream.h"

#include <cstring>

namespace {

constexpr LONG FewestVideoBuffers = 6;
constexpr LONG AudioBuffers = 10;
// 1602 sample frames of 16-bit stereo: one NTSC frame's worth at 48 kHz.
constexpr LONG AudioBufferBytes = 6408;

}  // namespace

DirectShowOutputStream::DirectShowOutputStream(HRESULT* result, CSource* filter, LPCWSTR pinName)
    : CSourceStream(nullptr, result, filter, pinName), PacketReady(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      PacketReleased(CreateEventA(nullptr, FALSE, FALSE, nullptr)), CurrentPacket(nullptr), StreamEnded(false),
      VideoFormat(), ColorSpace(0), IsVideo(false), AudioFormat(), IsAudio(false), m_bRefused(false)
{
}

DirectShowOutputStream::~DirectShowOutputStream()
{
    CloseHandle(PacketReady);
    CloseHandle(PacketReleased);
}

void DirectShowOutputStream::SetupVideoInformation(unsigned char colorSpace, int width, int height, unsigned int rate,
                                                   unsigned int scale)
{
    IsVideo = true;
    IsAudio = false;
    memset(&VideoFormat, 0, sizeof VideoFormat);
    memset(&AudioFormat, 0, sizeof AudioFormat);
    ColorSpace = colorSpace;
    BITMAPINFOHEADER& header = VideoFormat.bmiHeader;
    switch (colorSpace) {
    case 1: header.biCompression = FCC("UYVY"), header.biBitCount = 16; break;
    case 2: header.biCompression = FCC("YUY2"), header.biBitCount = 16; break;
    case 3: header.biCompression = BI_RGB, header.biBitCount = 24; break;
    case 4: header.biCompression = BI_RGB, header.biBitCount = 32; break;
    default: header.biCompression = 0, header.biBitCount = 0; break;
    }
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biSizeImage = GetBitmapSize(&header);
    VideoFormat.AvgTimePerFrame = REFERENCE_TIME(ULONGLONG(scale) * 10000000 / rate);
    VideoFormat.dwBitRate = DWORD(uint32_t(std::abs(height)) * header.biBitCount * uint32_t(width));
}

void DirectShowOutputStream::SetupAudioInformation(unsigned int sampleRate, unsigned int bitsPerSample,
                                                   unsigned int channels)
{
    IsVideo = false;
    IsAudio = true;
    memset(&VideoFormat, 0, sizeof VideoFormat);
    memset(&AudioFormat, 0, sizeof AudioFormat);
    AudioFormat.wFormatTag = WAVE_FORMAT_PCM;
    AudioFormat.nChannels = WORD(channels);
    AudioFormat.nSamplesPerSec = sampleRate;
    AudioFormat.wBitsPerSample = WORD(bitsPerSample);
    AudioFormat.nBlockAlign = WORD(bitsPerSample * channels / 8);
    AudioFormat.nAvgBytesPerSec = AudioFormat.nBlockAlign * sampleRate;
    AudioFormat.cbSize = 0;
}

IMediaSample* DirectShowOutputStream::GetPacket() { return CurrentPacket; }

IMediaSample* DirectShowOutputStream::WaitForPacket()
{
    if (m_bRefused)
        return nullptr;
    if (!m_bHeld) {
        WaitForSingleObject(PacketReady, INFINITE);
        m_bHeld = CurrentPacket != nullptr;
    }
    return CurrentPacket;
}

void DirectShowOutputStream::ReleasePacket()
{
    m_bHeld = false;
    SetEvent(PacketReleased);
}

void DirectShowOutputStream::SignalEndOfStream()
{
    WaitForPacket();
    StreamEnded = true;
    ReleasePacket();
}

HRESULT DirectShowOutputStream::CheckMediaType(const CMediaType* type)
{
    if (type->majortype == MEDIATYPE_Video && IsVideo) {
        if (type->formattype != FORMAT_VideoInfo)
            return E_INVALIDARG;
        const bool any = ColorSpace == 0;
        if ((type->subtype == MEDIASUBTYPE_UYVY && (any || ColorSpace == 1)) ||
            (type->subtype == MEDIASUBTYPE_YUY2 && (any || ColorSpace == 2)) ||
            (type->subtype == MEDIASUBTYPE_RGB24 && (any || ColorSpace == 3)) ||
            (type->subtype == MEDIASUBTYPE_RGB32 && (any || ColorSpace == 4)))
            return S_OK;
        return E_INVALIDARG;
    }
    if (type->majortype == MEDIATYPE_Audio && type->formattype == FORMAT_WaveFormatEx &&
        type->subtype == MEDIASUBTYPE_PCM && IsAudio)
        return S_OK;
    return E_INVALIDARG;
}

HRESULT DirectShowOutputStream::SetMediaType(const CMediaType* type)
{
    const HRESULT hr = CheckMediaType(type);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT DirectShowOutputStream::GetMediaType(int position, CMediaType* type)
{
    if (position != 0)
        return VFW_S_NO_MORE_ITEMS;
    if (IsVideo) {
        BYTE* format = type->AllocFormatBuffer(sizeof(VIDEOINFO));
        if (!format)
            return E_OUTOFMEMORY;
        memset(format, 0, sizeof(VIDEOINFO));
        memcpy(format, &VideoFormat, sizeof VideoFormat);
        type->SetType(&MEDIATYPE_Video);
        type->SetFormatType(&FORMAT_VideoInfo);
        type->SetTemporalCompression(FALSE);
        const GUID subtype = GetBitmapSubtype(&VideoFormat.bmiHeader);
        type->SetSubtype(&subtype);
        type->SetSampleSize(VideoFormat.bmiHeader.biSizeImage);
        return S_OK;
    }
    if (IsAudio) {
        if (!type->SetFormat(reinterpret_cast<const BYTE*>(&AudioFormat), sizeof AudioFormat))
            return E_OUTOFMEMORY;
        type->SetType(&MEDIATYPE_Audio);
        type->SetSubtype(&MEDIASUBTYPE_PCM);
        type->SetFormatType(&FORMAT_WaveFormatEx);
        type->SetTemporalCompression(FALSE);
        type->SetSampleSize(ULONG(int32_t(AudioFormat.nChannels) * AudioFormat.wBitsPerSample * AudioBufferBytes / 8));
        return S_OK;
    }
    return VFW_S_NO_MORE_ITEMS;
}

HRESULT DirectShowOutputStream::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    ALLOCATOR_PROPERTIES wanted = *request;
    if (IsVideo) {
        wanted.cBuffers = std::max(request->cBuffers, FewestVideoBuffers);
        wanted.cbBuffer = LONG(VideoFormat.bmiHeader.biSizeImage);
    } else if (IsAudio) {
        wanted.cBuffers = AudioBuffers;
        wanted.cbBuffer = AudioBufferBytes;
    } else {
        return E_FAIL;
    }
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(&wanted, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cbBuffer < wanted.cbBuffer ? E_FAIL : S_OK;
}

HRESULT DirectShowOutputStream::FillBuffer(IMediaSample* sample)
{
    CurrentPacket = sample;
    SetEvent(PacketReady);
    WaitForSingleObject(PacketReleased, INFINITE);
    const bool ended = StreamEnded;
    CurrentPacket = nullptr;
    return ended ? S_FALSE : S_OK;
}

HRESULT DirectShowOutputStream::Active()
{
    // A sample held when the graph last stopped went with the streaming thread.
    m_bHeld = false;
    // A sample refused below ends the stream there and frees the producer, as a refusal seen
    // in Deliver does.
    if (IsConnected() && m_pInputPin)
        m_Queue = std::make_unique<COutputQueue>(GetConnected(), m_pInputPin, [this] {
            m_bRefused = true;
            CSourceStream::DeliverEndOfStream();
            SetEvent(PacketReady);
        });
    return CSourceStream::Active();
}

HRESULT DirectShowOutputStream::Inactive()
{
    StreamEnded = true;
    SetEvent(PacketReleased);
    const HRESULT hr = CSourceStream::Inactive();
    // The streaming thread has ended: nothing is queued any more.
    m_Queue.reset();
    return hr;
}

HRESULT DirectShowOutputStream::DeliverEndOfStream()
{
    return m_Queue ? m_Queue->EndOfStream() : CSourceStream::DeliverEndOfStream();
}

HRESULT DirectShowOutputStream::Deliver(IMediaSample* sample)
{
    const HRESULT hr = m_Queue ? m_Queue->Receive(sample) : CSourceStream::Deliver(sample);
    if (hr != S_OK) {
        m_bRefused = true;
        DeliverEndOfStream();
        SetEvent(PacketReady);
    }
    return hr;
}
