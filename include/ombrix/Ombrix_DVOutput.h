// Plays frames and audio out to a DV device (see platform.h for registering one) as the host
// produces them: 720x576 at 25 frames per second (PAL) or 720x480 at 30000/1001 (NTSC), with
// 48 kHz 16-bit stereo sound. Each push waits until the device's side takes it.
#pragma once

#include "OmbrixTypes.h"
#include "Ombrix_FileInfo.h"

class Ombrix_DVOutput_Data;

class OMBRIX_API Ombrix_DVOutput {
public:
    // Builds and starts the output; encoderClsid null stands for the system DV video encoder.
    Ombrix_DVOutput(bool pal = false, bool audio = true, GUID* encoderClsid = nullptr);
    ~Ombrix_DVOutput();
    Ombrix_DVOutput(const Ombrix_DVOutput&) = delete;
    Ombrix_DVOutput& operator=(const Ombrix_DVOutput&) = delete;

    // True when the output could not be built: nothing may be pushed then.
    bool Error();
    // The stream's format (ColorSpace and BottomUp tell how to draw a frame) and what was sent.
    Ombrix_FileInfo& GetInfo();
    // The buffer of the next frame, to fill with one frame and send with ReleaseVideoBuffer.
    unsigned char* AllocateVideoBuffer();
    void ReleaseVideoBuffer(unsigned char* buffer);
    // count sample frames of interleaved 16-bit stereo; only for an output made with audio.
    bool AddAudioSamples(void* samples, unsigned int count);

    Ombrix_DVOutput_Data* Data;
};
