#include "ombrix/Ombrix_FileInfo.h"

Ombrix_FileInfo::Ombrix_FileInfo()
    : HasVideo(false), Width(0), Height(0), BottomUp(false), NumFrames(0), VideoDuration(0), Rate(0),
      Scale(0), ColorSpace(0), Interlaced(false), UpperFieldFirst(false), HasAlpha(false), HasAudio(false),
      SampleRate(0), Channels(0), BitsPerSample(0), NumSamples(0), AudioDuration(0), FileSize(0),
      DataRate(0), IsValid(0)
{
}

Ombrix_FileInfo::Ombrix_FileInfo(const Ombrix_FileInfo& other) = default;

Ombrix_FileInfo& Ombrix_FileInfo::operator=(const Ombrix_FileInfo& other) = default;

unsigned int Ombrix_FileInfo::GetNoFrames(unsigned int rate, unsigned int scale)
{
    long long duration;
    if (HasVideo)
        duration = VideoDuration;
    else if (HasAudio)
        duration = AudioDuration;
    else
        return 0;
    long long product = duration * (long long)(unsigned long long)rate;
    unsigned long long divisor = (unsigned long long)scale * 10000000ull;
    return (unsigned int)(product / (long long)divisor);
}

unsigned int Ombrix_FileInfo::ComputeDataRate(double factor, unsigned int divisor, unsigned int multiplier)
{
    double x = (double)multiplier * factor;
    x = x / (double)divisor;
    x = x * (double)DataRate;
    return (unsigned int)x;
}
