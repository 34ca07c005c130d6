#include "SamplePushing.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr ULONGLONG Units = 10000000;

}  // namespace

unsigned char* WaitForVideoBuffer(DirectShowOutput* source)
{
    IMediaSample* sample = source->WaitForPacket();
    BYTE* buffer = nullptr;
    // A sample whose buffer cannot be had stays with the source, which offers it again.
    if (!sample || FAILED(sample->GetPointer(&buffer)))
        return nullptr;
    return buffer;
}

void SendVideoFrame(DirectShowOutput* source, Ombrix_FileInfo& info)
{
    REFERENCE_TIME start = REFERENCE_TIME(ULONGLONG(info.NumFrames) * info.Scale * Units / info.Rate);
    info.NumFrames++;
    REFERENCE_TIME stop = REFERENCE_TIME(ULONGLONG(info.NumFrames) * info.Scale * Units / info.Rate);
    if (IMediaSample* sample = source->GetPacket()) {
        sample->SetMediaTime(&start, &stop);
        sample->SetTime(&start, &stop);
        source->ReleasePacket();
    }
    info.VideoDuration = stop;
}

bool SendAudioSamples(DirectShowOutput* source, Ombrix_FileInfo& info, const void* data, unsigned int count,
                      int emptyWaits)
{
    const unsigned int frameBytes = info.BitsPerSample * info.Channels / 8;
    const BYTE* from = static_cast<const BYTE*>(data);
    while (count > 0) {
        IMediaSample* sample = nullptr;
        for (int waits = 0; !(sample = source->WaitForPacket()); waits++) {
            if (waits == emptyWaits)
                return false;
            Sleep(100);
        }
        BYTE* buffer = nullptr;
        if (FAILED(sample->GetPointer(&buffer)))
            return false;
        const unsigned int n = std::min(unsigned(sample->GetSize()) / frameBytes, count);
        REFERENCE_TIME start = REFERENCE_TIME(ULONGLONG(info.NumSamples) * Units / info.SampleRate);
        info.NumSamples += n;
        REFERENCE_TIME stop = REFERENCE_TIME(ULONGLONG(info.NumSamples) * Units / info.SampleRate);
        sample->SetMediaTime(&start, &stop);
        sample->SetTime(&start, &stop);
        sample->SetActualDataLength(LONG(n * frameBytes));
        memcpy(buffer, from, size_t(n) * frameBytes);
        from += size_t(n) * frameBytes;
        count -= n;
        source->ReleasePacket();
    }
    return true;
}
