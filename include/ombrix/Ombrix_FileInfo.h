// The description of a media file's streams that every reader fills and every writer takes.
#pragma once

#ifndef OMBRIX_API
#define OMBRIX_API __attribute__((visibility("default")))
#endif

// Colour-space codes of delivered frames: 0 none, 1 UYVY, 2 YUY2, 3 24-bit RGB, 4 32-bit RGB.
class OMBRIX_API Ombrix_FileInfo {
public:
    bool HasVideo;
    int Width;
    int Height;
    bool BottomUp;
    unsigned int NumFrames;
    long long VideoDuration;  // 100-ns units
    unsigned int Rate;
    unsigned int Scale;
    unsigned char ColorSpace;
    bool Interlaced;
    bool UpperFieldFirst;
    bool HasAlpha;
    bool HasAudio;
    unsigned int SampleRate;
    unsigned int Channels;
    unsigned int BitsPerSample;
    unsigned int NumSamples;
    long long AudioDuration;  // 100-ns units
    long long FileSize;
    unsigned int DataRate;
    int IsValid;

    Ombrix_FileInfo();
    Ombrix_FileInfo(const Ombrix_FileInfo& other);
    Ombrix_FileInfo& operator=(const Ombrix_FileInfo& other);

    // Frames that the file's length spans at rate / scale frames per second.
    unsigned int GetNoFrames(unsigned int rate, unsigned int scale);
    // DataRate scaled by multiplier * factor / divisor.
    unsigned int ComputeDataRate(double factor, unsigned int divisor, unsigned int multiplier);
};
