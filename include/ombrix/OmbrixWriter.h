// Writes media files from frames and PCM that the host pushes: AVI (uncompressed, through an
// installed compressor, or DV with DV audio) and Windows Media, with the codecs picked by index
// from two numbered lists.
#pragma once

#include "OmbrixTypes.h"
#include "Ombrix_FileInfo.h"

class Ombrix_FileWriter;

class OMBRIX_API OmbrixWriter {
public:
    // Throws a char pointer message when the writer cannot be made.
    OmbrixWriter();
    ~OmbrixWriter();
    // Both facades then share one writer, which lives until the last of them is destroyed.
    OmbrixWriter& operator=(const OmbrixWriter& other);

    // Take effect at the next OpenFile; indices are below the counts.
    void SelectVideoCodec(unsigned int index);
    void SelectAudioCodec(unsigned int index);
    unsigned int GetVideoCodec();
    unsigned int GetAudioCodec();
    unsigned int GetNoVideoCodecs();
    unsigned int GetNoAudioCodecs();
    // Valid for the writer's life.
    char* GetVideoCodecName(unsigned int index);
    char* GetAudioCodecName(unsigned int index);

    // The selected codec's settings, shown through the host's property frame (platform.h).
    bool CanConfigureVideoCodec();
    void ConfigureVideoCodec(HWND parent, char* caption);
    bool CanConfigureAudioCodec();
    void ConfigureAudioCodec(HWND parent, char* caption);
    void ConfigureMultiplexer(HWND parent, char* caption);

    // Starts a file described by info; GetWritingInfo then tells the frame format to deliver.
    bool OpenFile(char* name, Ombrix_FileInfo* info);
    void CloseFile();
    // The buffer of the next frame, to fill with one frame and give back with ReleaseVideoBuffer.
    unsigned char* AllocateVideoBuffer();
    void ReleaseVideoBuffer(unsigned char* buffer);
    // count sample frames of interleaved PCM in the file's format.
    bool AddAudioSamples(void* data, unsigned int count);
    Ombrix_FileInfo GetWritingInfo();
    // ".avi", ".wmv" or ".wma" for a choice of streams and codecs (0xFFFFFFFF: the selected one).
    char* GetPreferredFileExtension(bool video, bool audio, unsigned int videoCodec, unsigned int audioCodec);
    // The file being written; null when none is open.
    char* GetFileName();

private:
    OmbrixWriter(const OmbrixWriter&) = delete;

    Ombrix_FileWriter* Writer;
};
