#include "MediaFile.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "Commands.h"

namespace {

// The library throws its diagnostics as text.
template <typename Call>
auto guarded(const std::string& path, Call call)
{
    try {
        return call();
    } catch (const char* text) {
        throw Failure(path + ": " + text);
    }
}

unsigned int little32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | (unsigned)p[3] << 24; }

// A file's first 12 bytes, where a RIFF file names its form.
struct Head {
    unsigned char bytes[12] = {};
    explicit Head(const std::string& path) { std::ifstream(path, std::ios::binary).read((char*)bytes, sizeof bytes); }
    bool Riff(const char* form) const { return memcmp(bytes, "RIFF", 4) == 0 && memcmp(bytes + 8, form, 4) == 0; }
};

bool namedAviOrWav(const std::string& path)
{
    const char* dot = strrchr(path.c_str(), '.');
    return dot && (strcasecmp(dot, ".avi") == 0 || strcasecmp(dot, ".wav") == 0);
}

// Why the AVI reader refused a file that exists and is readable.
std::string aviRefusal(const std::string& path)
{
    const Head head(path);
    const bool avi = head.Riff("AVI ");
    if (!avi && !head.Riff("WAVE"))
        return "not an AVI or WAV file";
    if (!namedAviOrWav(path))
        return "the reader takes only files named .avi or .wav";
    const unsigned long long declared = little32(head.bytes + 4) + 8ull, size = std::filesystem::file_size(path);
    if (declared > size)
        return "truncated: the file holds " + std::to_string(size) + " of the " + std::to_string(declared) +
               " bytes its header declares";
    return std::string("damaged, or its ") + (avi ? "video or audio" : "audio") + " format cannot be decoded";
}

bool forAviReader(const std::string& path)
{
    const Head head(path);
    return head.Riff("AVI ") || head.Riff("WAVE") || namedAviOrWav(path);
}

}  // namespace

const char* ReaderName(Reader reader) { return reader == Reader::Avi ? "AVIReader" : "OmbrixReader"; }

void MediaFile::CheckReadable(const std::string& path)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        throw Failure(path + ": " + (errno == ENOENT ? "no such file" : strerror(errno)));
    if (S_ISDIR(status.st_mode))
        throw Failure(path + ": is a directory");
    if (access(path.c_str(), R_OK) != 0)
        throw Failure(path + ": cannot be read: " + strerror(errno));
}

std::unique_ptr<MediaFile> MediaFile::Open(const std::string& path, Reader reader, std::string& refusal,
                                           bool noVideo, bool noAudio)
{
    std::unique_ptr<MediaFile> file(new MediaFile(path));
    Ombrix_FileInfo& info = file->m_Info;
    std::vector<char> name(path.c_str(), path.c_str() + path.size() + 1);  // the readers take char*
    if (reader == Reader::Avi) {
        auto avi = guarded(path, [&] { return std::make_unique<AVIReader>(name.data(), &info, noVideo, noAudio); });
        if (!avi->GetIsValidAVIFile()) {
            refusal = aviRefusal(path);
            return nullptr;
        }
        file->m_Frames = info.NumFrames;
        file->m_Reader = std::move(avi);
    } else {
        // RGB first: the tool draws RGB, and an RGB file then keeps its pixels as they are.
        unsigned char rgbFirst[] = {3, 4, 1, 2};
        auto graph = std::make_unique<OmbrixReader>(name.data(), noVideo, noAudio, rgbFirst, 4, 0);
        // Left without the one kind of stream wanted, the graph has nothing to read: opened whole,
        // the file says which it lacks.
        if (graph->Error() && (noVideo || noAudio))
            graph = std::make_unique<OmbrixReader>(name.data(), false, false, rgbFirst, 4, 0);
        if (graph->Error()) {
            refusal = "FFmpeg cannot read it, or it has no video or audio stream that decodes";
            return nullptr;
        }
        info = graph->GetInfo();
        file->m_Frames = info.HasVideo && info.Scale ? info.GetNoFrames(info.Rate, info.Scale) : 0;
        // One start for the file's life keeps the graph running between requests.
        guarded(path, [&] { graph->AddStart(); });
        file->m_Reader = std::move(graph);
    }
    return file;
}

std::vector<Reader> MediaFile::ReadersFor(const std::string& path, bool graph)
{
    if (graph || !forAviReader(path))
        return {Reader::Graph};
    return {Reader::Avi, Reader::Graph};
}

Failure MediaFile::Unopened(const std::string& path, const std::vector<std::string>& refusals)
{
    std::string reasons;
    for (const std::string& refusal : refusals)
        reasons += (reasons.empty() ? "" : "; ") + refusal;
    return Failure(path + ": no reader opens it (" + reasons + ")");
}

std::unique_ptr<MediaFile> MediaFile::ForCommand(const std::string& path, bool graph, bool noVideo, bool noAudio)
{
    CheckReadable(path);
    std::vector<std::string> refusals;
    for (Reader reader : ReadersFor(path, graph)) {
        std::string refusal;
        if (auto file = Open(path, reader, refusal, noVideo, noAudio))
            return file;
        refusals.push_back(std::string(ReaderName(reader)) + ": " + refusal);
    }
    throw Unopened(path, refusals);
}

MediaFile::~MediaFile()
{
    if (auto* graph = std::get_if<std::unique_ptr<OmbrixReader>>(&m_Reader); graph && *graph)
        (*graph)->ReleaseStart();
}

void MediaFile::CheckFrame(unsigned long long frame) const
{
    if (!m_Info.HasVideo)
        throw Failure(m_Path + ": has no video");
    if (m_Frames == 0)
        throw Failure(m_Path + ": has no video frames");
    if (frame >= m_Frames)
        throw Failure(m_Path + ": frame " + std::to_string(frame) + " is past the last frame, " +
                      std::to_string(m_Frames - 1));
}

void MediaFile::WithFrame(unsigned int n, bool sequential, const std::function<void(const uint8_t*)>& use)
{
    CheckFrame(n);
    std::visit(
        [&](auto& reader) {
            unsigned char* data =
                guarded(m_Path, [&] { return reader->LoadVideoFrame(n, m_Info.Rate, m_Info.Scale, !sequential); });
            if (!data)
                throw Failure(m_Path + ": frame " + std::to_string(n) + " cannot be read");
            const auto release = [&](unsigned char* frame) { reader->ReleaseVideoFrame(frame); };
            std::unique_ptr<unsigned char, decltype(release)> hold(data, release);
            use(data);
        },
        m_Reader);
}

RgbPicture MediaFile::Frame(unsigned int n, bool sequential)
{
    std::optional<RgbPicture> picture;
    WithFrame(n, sequential, [&](const uint8_t* data) { picture.emplace(ToRgb(Format(), data)); });
    return std::move(*picture);
}

unsigned int MediaFile::BytesPerSampleFrame() const { return m_Info.Channels * ((m_Info.BitsPerSample + 7) / 8); }

void MediaFile::CheckSamples(unsigned long long start, unsigned long long count) const
{
    if (!m_Info.HasAudio)
        throw Failure(m_Path + ": has no audio");
    if (m_Info.NumSamples == 0)
        throw Failure(m_Path + ": has no audio samples");
    if (start + count > m_Info.NumSamples)
        throw Failure(m_Path + ": sample frames " + std::to_string(start) + " to " + std::to_string(start + count - 1) +
                      " reach past the last sample frame, " + std::to_string(m_Info.NumSamples - 1));
}

void MediaFile::Samples(void* buffer, unsigned int start, unsigned int count)
{
    CheckSamples(start, count);
    const bool read = std::visit(
        [&](auto& reader) {
            return guarded(m_Path, [&] { return reader->LoadAudioSamples(buffer, start, count, false); });
        },
        m_Reader);
    if (!read)
        throw Failure(m_Path + ": sample frames from " + std::to_string(start) + " cannot be read");
}
