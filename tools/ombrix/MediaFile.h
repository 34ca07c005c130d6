// A media file read through one of the library's readers, the AVI reader or the graph reader;
// every failure becomes a Failure naming the file.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Commands.h"
#include "ombrix/AVIReader.h"
#include "ombrix/OmbrixReader.h"
#include "platform/image/Picture.h"

enum class Reader { Avi, Graph };

// The reader's class name, as the tool shows it.
const char* ReaderName(Reader reader);

class MediaFile {
public:
    // A Failure when the file is missing, a directory or unreadable.
    static void CheckReadable(const std::string& path);
    // The file through that reader; null, with why in refusal, when the reader does not open it.
    static std::unique_ptr<MediaFile> Open(const std::string& path, Reader reader, std::string& refusal,
                                           bool noVideo = false, bool noAudio = false);
    // The readers to try, in order: the AVI reader for a RIFF AVI or WAVE file or one named .avi
    // or .wav, unless graph is set, then the graph reader.
    static std::vector<Reader> ReadersFor(const std::string& path, bool graph);
    // The failure for a file no reader opens; each refusal reads "ReaderName: why".
    static Failure Unopened(const std::string& path, const std::vector<std::string>& refusals);
    // For a command: through the first of ReadersFor that opens the file.
    static std::unique_ptr<MediaFile> ForCommand(const std::string& path, bool graph, bool noVideo = false,
                                                 bool noAudio = false);
    ~MediaFile();
    MediaFile(const MediaFile&) = delete;

    const Ombrix_FileInfo& Info() const { return m_Info; }
    const std::string& Path() const { return m_Path; }
    // The file frames: the record's count, or for the graph reader, which leaves it 0, those its
    // length spans at its frame rate.
    unsigned int Frames() const { return m_Frames; }

    void CheckFrame(unsigned long long frame) const;
    // File frame n, top-down. sequential keeps the reader's read-ahead for a run of frames.
    RgbPicture Frame(unsigned int n, bool sequential = false);
    // File frame n as the reader delivers it (in Format()), for use while the call lasts.
    void WithFrame(unsigned int n, bool sequential, const std::function<void(const uint8_t*)>& use);
    FrameFormat Format() const { return {m_Info.ColorSpace, m_Info.Width, m_Info.Height, m_Info.BottomUp}; }

    unsigned int BytesPerSampleFrame() const;
    void CheckSamples(unsigned long long start, unsigned long long count) const;
    // count interleaved sample frames from start into buffer.
    void Samples(void* buffer, unsigned int start, unsigned int count);

private:
    explicit MediaFile(const std::string& path) : m_Path(path) {}

    std::string m_Path;
    Ombrix_FileInfo m_Info;  // outlives the AVI reader, which keeps a pointer to it
    unsigned int m_Frames = 0;
    std::variant<std::unique_ptr<AVIReader>, std::unique_ptr<OmbrixReader>> m_Reader;
};
