// Decoded video frames by timeline frame number and PCM audio by sample frame number from any
// file FFmpeg reads (Windows Media above all, AVI too), through a filter graph.
#pragma once

#include "OmbrixTypes.h"
#include "Ombrix_FileInfo.h"

class WindowsMediaAVFile;

class OMBRIX_API OmbrixReader {
public:
    // colorSpaces (colorSpaceCount codes: 1 UYVY, 2 YUY2, 3 RGB24, 4 RGB32; null or 0 for that
    // order) are the frame formats to try, in order; dvScale 2, 4 or 8 decodes DV at half, a
    // quarter or an eighth of its size. Error() tells whether the file could be opened.
    OmbrixReader(char* fileName, bool noVideo, bool noAudio, unsigned char* colorSpaces, unsigned int colorSpaceCount,
                 unsigned int dvScale);
    ~OmbrixReader();

    bool Error();
    Ombrix_FileInfo& GetInfo();
    char* GetFileName();
    // The frame shown at frame of a timeline running at rate / scale frames per second; null on
    // failure. A frame handed out is given back with ReleaseVideoFrame before the next one.
    unsigned char* LoadVideoFrame(long long frame, long long rate, long long scale, bool singleFrame);
    void ReleaseVideoFrame(unsigned char* frame);
    // count interleaved PCM sample frames from sample frame start; silence where the file has none.
    bool LoadAudioSamples(void* buffer, unsigned int start, unsigned int count, bool flag);
    // The use count: the graph runs while it is above 0.
    void AddStart();
    void ReleaseStart();

private:
    OmbrixReader(const OmbrixReader&) = delete;
    OmbrixReader& operator=(const OmbrixReader&) = delete;

    WindowsMediaAVFile* m_GraphReader;
    Ombrix_FileInfo m_Info;
    bool m_bError;
};
