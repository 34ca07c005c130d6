// The library's push source: one output pin that offers uncompressed video or PCM and takes its
// samples from a producer on another thread. Made directly by its users, never by class id.
#pragma once

#include "DirectShowOutputStream.h"

class DirectShowOutput : public CSource {
public:
    // *result is E_OUTOFMEMORY when the pin could not be made.
    DirectShowOutput(IUnknown* outer, HRESULT* result);
    ~DirectShowOutput() override;

    void SetupVideoInformation(unsigned char colorSpace, int width, int height, unsigned int rate, unsigned int scale);
    void SetupAudioInformation(unsigned int sampleRate, unsigned int bitsPerSample, unsigned int channels);
    IMediaSample* GetPacket();
    IMediaSample* WaitForPacket();
    void ReleasePacket();
    void SignalEndOfStream();

    DirectShowOutputStream* Stream;
};
