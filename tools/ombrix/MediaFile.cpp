#include "MediaFile.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

struct ReleaseFrame {
    AVIReader* reader;
    void operator()(unsigned char* frame) const { reader->ReleaseVideoFrame(frame); }
};

unsigned int little32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | (unsigned)p[3] << 24; }

// Why the reader refused a file that exists and is readable.
std::string refusal(const std::string& path, unsigned long long size)
{
    unsigned char head[12] = {};
    std::ifstream(path, std::ios::binary).read((char*)head, sizeof head);
    const bool riff = memcmp(head, "RIFF", 4) == 0;
    const bool avi = riff && memcmp(head + 8, "AVI ", 4) == 0;
    if (!riff || (!avi && memcmp(head + 8, "WAVE", 4) != 0))
        return "not an AVI or WAV file";
    const char* dot = strrchr(path.c_str(), '.');
    if (!dot || (strcasecmp(dot, ".avi") != 0 && strcasecmp(dot, ".wav") != 0))
        return "the reader takes only files named .avi or .wav";
    const unsigned long long declared = little32(head + 4) + 8ull;
    if (declared > size)
        return "truncated: the file holds " + std::to_string(size) + " of the " + std::to_string(declared) +
               " bytes its header declares";
    return std::string("damaged, or its ") + (avi ? "video or audio" : "audio") + " format cannot be decoded";
}

}  // namespace

MediaFile::MediaFile(const std::string& path, bool noVideo, bool noAudio) : m_Path(path)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        throw Failure(path + ": " + (errno == ENOENT ? "no such file" : strerror(errno)));
    if (S_ISDIR(status.st_mode))
        throw Failure(path + ": is a directory");
    if (access(path.c_str(), R_OK) != 0)
        throw Failure(path + ": cannot be read: " + strerror(errno));
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    m_Reader = guarded(path, [&] { return std::make_unique<AVIReader>(name.data(), &m_Info, noVideo, noAudio); });
    if (!m_Reader->GetIsValidAVIFile())
        throw Failure(path + ": " + refusal(path, (unsigned long long)status.st_size));
}

MediaFile::~MediaFile() = default;

void MediaFile::CheckFrame(unsigned long long frame) const
{
    if (!m_Info.HasVideo)
        throw Failure(m_Path + ": has no video");
    if (m_Info.NumFrames == 0)
        throw Failure(m_Path + ": has no video frames");
    if (frame >= m_Info.NumFrames)
        throw Failure(m_Path + ": frame " + std::to_string(frame) + " is past the last frame, " +
                      std::to_string(m_Info.NumFrames - 1));
}

RgbPicture MediaFile::Frame(unsigned int n, bool sequential)
{
    CheckFrame(n);
    unsigned char* data =
        guarded(m_Path, [&] { return m_Reader->LoadVideoFrame(n, m_Info.Rate, m_Info.Scale, !sequential); });
    if (!data)
        throw Failure(m_Path + ": frame " + std::to_string(n) + " cannot be read");
    std::unique_ptr<unsigned char, ReleaseFrame> hold(data, ReleaseFrame{m_Reader.get()});
    return ToRgb({m_Info.ColorSpace, m_Info.Width, m_Info.Height, m_Info.BottomUp}, data);
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
    if (!guarded(m_Path, [&] { return m_Reader->LoadAudioSamples(buffer, start, count, false); }))
        throw Failure(m_Path + ": sample frames from " + std::to_string(start) + " cannot be read");
}
