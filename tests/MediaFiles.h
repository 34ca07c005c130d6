// Real media files for tests: written by the ffmpeg (or mencoder) tool into the build tree's media
// folder once per command, the ffmpeg command lines that make them, and the chunks of each stream as
// ffprobe reads them, or their packets as libavformat does.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

inline std::string quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs a shell command with no input; returns its exit status (-1 when it did not exit normally),
// with its standard output appended to `output`.
inline int run(const std::string& command, std::string* output)
{
    FILE* pipe = popen((command + " </dev/null").c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output->append(buffer, n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A short name for a command, so that a changed command makes a new file.
inline std::string hexHash(const std::string& text)
{
    uint32_t hash = 2166136261u;  // FNV-1a
    for (unsigned char c : text)
        hash = (hash ^ c) * 16777619u;
    char hex[9];
    snprintf(hex, sizeof hex, "%08x", hash);
    return hex;
}

// The media file made by `command` ("{out}": the file to write), with the command's hash in its
// name. It is made once, into a temporary name renamed when the command succeeded, under a lock
// that test processes running side by side share; versions made by earlier commands are dropped.
inline std::string make(const std::string& stem, const std::string& extension, std::string command)
{
    namespace fs = std::filesystem;
    const fs::path dir = OMBRIX_MEDIA_DIR, file = dir / (stem + "~" + hexHash(command) + extension);
    fs::create_directories(dir);
    struct Lock {
        int fd;
        ~Lock() { close(fd); }
    } lock{open((dir / ("." + stem + ".lock")).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)};
    if (lock.fd < 0 || flock(lock.fd, LOCK_EX) != 0)
        throw std::runtime_error("cannot lock " + file.string());
    if (fs::exists(file))
        return file.string();
    for (const fs::directory_entry& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().rfind(stem + "~", 0) == 0)
            fs::remove(entry.path());
    const fs::path partial = dir / (".partial-" + file.filename().string());
    for (size_t at; (at = command.find("{out}")) != std::string::npos;)
        command.replace(at, 5, quote(partial.string()));
    std::string output;
    if (int status = run(command + " 2>&1", &output); status != 0 || !fs::exists(partial))
        throw std::runtime_error("exit status " + std::to_string(status) + " from: " + command + "\n" + output);
    fs::rename(partial, file);
    return file.string();
}

// One chunk of a stream as FFmpeg reads it: the pieces FFmpeg splits a large chunk into are joined.
// An empty video chunk, which FFmpeg skips, has pos -1 and size 0.
using Chunk = std::tuple<long long, long long, bool>;  // position of its first byte, size, key

// The chunks of every stream, as ffprobe lists their packets.
inline std::vector<std::vector<Chunk>> probe(const std::string& path, const AVFormatContext* context)
{
    const std::string command = "ffprobe -v error -of csv=p=0 -show_entries packet=stream_index,dts,size,pos,flags ";
    std::string text;
    if (run(command + quote(path), &text) != 0)
        throw std::runtime_error("ffprobe failed on " + path);
    std::vector<std::vector<Chunk>> streams(context->nb_streams);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        unsigned k;
        long long dts, size, pos;
        char flags = 0;
        if (sscanf(line.c_str(), "%u,%lld,%lld,%lld,%c", &k, &dts, &size, &pos, &flags) != 5 || k >= streams.size())
            throw std::runtime_error("ffprobe printed " + line);
        std::vector<Chunk>& chunks = streams[k];
        // The numbers of the empty video chunks FFmpeg skips show as gaps in the decoding times.
        const bool video = context->streams[k]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        while (video && dts > (long long)chunks.size())
            chunks.push_back({-1, 0, false});
        // A large PCM chunk comes in pieces that follow each other without a chunk header between.
        if (!chunks.empty() && std::get<0>(chunks.back()) + std::get<1>(chunks.back()) == pos)
            std::get<1>(chunks.back()) += size;
        else
            chunks.push_back({pos, size, flags == 'K'});
    }
    return streams;
}

// ffprobe's stream entries (such as "codec_type,duration") of every stream of a file, or of stream
// `index`: a map of names to values for each.
inline std::vector<std::map<std::string, std::string>> ffprobeStreams(const std::string& path, const std::string& entries,
                                                                     int index = -1)
{
    std::string text;
    const std::string select = index < 0 ? "" : "-select_streams " + std::to_string(index) + " ";
    if (run("ffprobe -v error -of compact=p=0 " + select + "-show_entries stream=" + entries + " " + quote(path), &text) != 0)
        throw std::runtime_error("ffprobe failed on " + path);
    std::vector<std::map<std::string, std::string>> streams;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::map<std::string, std::string>& fields = streams.emplace_back();
        std::istringstream pairs(line);
        for (std::string pair; std::getline(pairs, pair, '|');)
            if (size_t equals = pair.find('='); equals != std::string::npos)
                fields[pair.substr(0, equals)] = pair.substr(equals + 1);
    }
    return streams;
}

// "30000/1001" as a number; 0 for "0/0".
inline double fraction(const std::string& text)
{
    double num = 0, den = 0;
    return sscanf(text.c_str(), "%lf/%lf", &num, &den) == 2 && den > 0 ? num / den : 0;
}

// The packets of one type as libavformat reads them from a file, in file order.
inline std::vector<std::vector<uint8_t>> packets(const std::string& path, AVMediaType type)
{
    std::vector<std::vector<uint8_t>> found;
    AVFormatContext* context = nullptr;
    AVPacket* packet = av_packet_alloc();
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) == 0)
        for (; av_read_frame(context, packet) >= 0; av_packet_unref(packet))
            if (context->streams[packet->stream_index]->codecpar->codec_type == type)
                found.emplace_back(packet->data, packet->data + packet->size);
    av_packet_free(&packet);
    avformat_close_input(&context);
    return found;
}

inline std::string lavfi(const std::string& graph) { return "-f lavfi -i '" + graph + "' "; }

inline std::string testsrc(const std::string& size, const std::string& rate)
{
    return lavfi("testsrc2=size=" + size + ":rate=" + rate);
}

inline std::string ffmpeg(const std::string& inputs, const std::string& options)
{
    return "ffmpeg -nostdin -v error -y " + inputs + options + " {out}";
}

// An AVI the ffmpeg tool writes as a stream (through a file descriptor): it cannot seek back, so
// the file has no index and its RIFF and movi sizes are never filled in.
inline std::string ffmpegPiped(const std::string& inputs, const std::string& options)
{
    return "ffmpeg -nostdin -v error -y " + inputs + options + " -f avi pipe:3 3> {out}";
}

// Two RIFF segments: 720p UYVY frames, PCM and MPEG-4 with B-frames, each stream with a title of
// odd length (and its pad byte) before its "indx".
inline std::string openDmlTitled()
{
    return ffmpeg(lavfi("color=c=blue:size=1280x720:rate=25") + lavfi("sine=frequency=440:sample_rate=48000") +
                      testsrc("320x240", "25"),
                  "-map 0:v -map 1:a -map 2:v -t 26 -c:v:0 rawvideo -pix_fmt:v:0 uyvy422 -c:a pcm_s16le -ac 2"
                  " -c:v:1 mpeg4 -g:v:1 12 -bf:v:1 2 -metadata:s:v:0 title=Wide -metadata:s:a:0 title=Mics"
                  " -metadata:s:v:1 title=Test");
}

// A partial copy: the first bytes of the file "{src}".
inline std::string firstBytes(unsigned long long bytes)
{
    return "head -c " + std::to_string(bytes) + " {src} > {out}";
}
