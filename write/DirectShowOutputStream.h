// The push source's pin: offers one fixed type (uncompressed video frames or PCM) and hands each
// empty sample of the graph to a producer thread, which fills it in place and releases it; the
// streaming thread then delivers it. One sample is in flight at a time.
#pragma once

#include <atomic>
#include <memory>

#include "platform/dshow/Streams.h"

class DirectShowOutputStream : public CSourceStream {
public:
    DirectShowOutputStream(HRESULT* result, CSource* filter, LPCWSTR pinName);
    ~DirectShowOutputStream() override;

    // Each makes the pin offer that format only; called before the pin is connected.
    void SetupVideoInformation(unsigned char colorSpace, int width, int height, unsigned int rate, unsigned int scale);
    void SetupAudioInformation(unsigned int sampleRate, unsigned int bitsPerSample, unsigned int channels);
    // The sample offered now, without waiting; null when none is.
    IMediaSample* GetPacket();
    // Waits for the next sample offered. Null, at once, once the stream downstream has refused a
    // sample: no sample will come again. A sample taken and not released yet is returned again,
    // at once: a producer that gave up on one has it back.
    IMediaSample* WaitForPacket();
    void ReleasePacket();
    // Takes the next sample offered (or the one the producer holds) and ends the stream with it
    // instead of delivering it.
    void SignalEndOfStream();

    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT SetMediaType(const CMediaType* type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    // A sample refused downstream ends the stream there (an end of stream follows) and wakes the
    // producer, which would otherwise wait for an offer that never comes.
    HRESULT Deliver(IMediaSample* sample) override;
    // Samples go downstream through a queue of the pin's own, so that the producer fills the next
    // buffer while the filters below work on the last (a compressor encodes it).
    HRESULT Active() override;
    // A stop ends the stream: a streaming thread that waits for the producer would otherwise never
    // answer it (a graph stopped before the producer came, or one that failed to run).
    HRESULT Inactive() override;
    HRESULT DeliverEndOfStream() override;

protected:
    HRESULT FillBuffer(IMediaSample* sample) override;

private:
    HANDLE PacketReady;
    HANDLE PacketReleased;
    IMediaSample* CurrentPacket;
    std::atomic<bool> m_bHeld{false};  // the producer has taken CurrentPacket and not released it
    std::atomic<bool> StreamEnded;
    VIDEOINFOHEADER VideoFormat;
    unsigned char ColorSpace;
    bool IsVideo;
    WAVEFORMATEX AudioFormat;
    bool IsAudio;
    std::atomic<bool> m_bRefused;
    std::unique_ptr<COutputQueue> m_Queue;  // while active and connected
};
