// A media file read through AVIReader; every failure becomes a Failure naming the file.
#pragma once

#include <memory>
#include <string>

#include "ombrix/AVIReader.h"
#include "platform/image/Picture.h"

class MediaFile {
public:
    // Says why when the file is missing, unreadable, not a file the reader takes, or truncated.
    MediaFile(const std::string& path, bool noVideo = false, bool noAudio = false);
    ~MediaFile();
    MediaFile(const MediaFile&) = delete;

    const Ombrix_FileInfo& Info() const { return m_Info; }
    const std::string& Path() const { return m_Path; }

    void CheckFrame(unsigned long long frame) const;
    // File frame n, top-down. sequential keeps the reader's read-ahead for a run of frames.
    RgbPicture Frame(unsigned int n, bool sequential = false);

    unsigned int BytesPerSampleFrame() const;
    void CheckSamples(unsigned long long start, unsigned long long count) const;
    // count interleaved sample frames from start into buffer.
    void Samples(void* buffer, unsigned int start, unsigned int count);

private:
    std::string m_Path;
    Ombrix_FileInfo m_Info;  // outlives the reader, which keeps a pointer to it
    std::unique_ptr<AVIReader> m_Reader;
};
