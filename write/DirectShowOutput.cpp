#include "DirectShowOutput.h"

#include <new>

DirectShowOutput::DirectShowOutput(IUnknown* outer, HRESULT* result)
    : CSource(nullptr, outer, CLSID_DShowVideoWriter, result), Stream(nullptr)
{
    CAutoLock lock(&m_cStateLock);
    Stream = new (std::nothrow) DirectShowOutputStream(result, this, L"Ombrix Video Output");
    if (!Stream && result)
        *result = E_OUTOFMEMORY;
}

DirectShowOutput::~DirectShowOutput()
{
    CAutoLock lock(&m_cStateLock);
    delete Stream;
    Stream = nullptr;
}

void DirectShowOutput::SetupVideoInformation(unsigned char colorSpace, int width, int height, unsigned int rate,
                                             unsigned int scale)
{
    Stream->SetupVideoInformation(colorSpace, width, height, rate, scale);
}

void DirectShowOutput::SetupAudioInformation(unsigned int sampleRate, unsigned int bitsPerSample, unsigned int channels)
{
    Stream->SetupAudioInformation(sampleRate, bitsPerSample, channels);
}

IMediaSample* DirectShowOutput::GetPacket() { return Stream->GetPacket(); }

IMediaSample* DirectShowOutput::WaitForPacket() { return Stream->WaitForPacket(); }

void DirectShowOutput::ReleasePacket() { Stream->ReleasePacket(); }

void DirectShowOutput::SignalEndOfStream() { Stream->SignalEndOfStream(); }
