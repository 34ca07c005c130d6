#include "MediaFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

extern "C" {
#include <libavformat/avformat.h>
}

namespace fs = std::filesystem;

namespace media {
namespace {

std::string quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs a shell command with no input; returns its exit status (-1 when it did not exit normally),
// with its standard output appended to `output`.
int run(const std::string& command, std::string* output)
{
    FILE* pipe = popen((command + " </dev/null").c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output->append(buffer, n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// An exclusive lock on a hidden file beside `file`, for as long as the object lives, so that test
// processes running side by side make each file once.
class Lock {
public:
    explicit Lock(const fs::path& file)
    {
        fs::path path = file.parent_path() / ("." + file.filename().string() + ".lock");
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0 || flock(fd, LOCK_EX) != 0)
            throw std::runtime_error("cannot lock " + path.string());
    }
    ~Lock() { close(fd); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    int fd;
};

fs::path partialName(const fs::path& file) { return file.parent_path() / (".partial-" + file.filename().string()); }

// What `command` prints, kept in `cache` after the first run.
std::string cachedOutput(const fs::path& cache, const std::string& command)
{
    Lock lock(cache);
    if (!fs::exists(cache)) {
        std::string output;
        if (run(command, &output) != 0)
            throw std::runtime_error("failed: " + command);
        std::ofstream out(partialName(cache), std::ios::binary);
        out << output;
        out.close();
        if (!out)
            throw std::runtime_error("cannot write " + partialName(cache).string());
        fs::rename(partialName(cache), cache);
    }
    std::ifstream in(cache, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A short name for a command, so that a changed command makes a new file.
std::string hexHash(const std::string& text)
{
    uint32_t hash = 2166136261u;  // FNV-1a
    for (unsigned char c : text)
        hash = (hash ^ c) * 16777619u;
    char hex[9];
    snprintf(hex, sizeof hex, "%08x", hash);
    return hex;
}

// "key=value|key=value" fields of one line of ffprobe's compact output, after the section name.
std::map<std::string, std::string> fields(const std::string& line)
{
    std::map<std::string, std::string> result;
    std::istringstream in(line);
    std::string field;
    std::getline(in, field, '|');
    while (std::getline(in, field, '|')) {
        size_t equals = field.find('=');
        if (equals != std::string::npos)
            result[field.substr(0, equals)] = field.substr(equals + 1);
    }
    return result;
}

int64_t number(const std::map<std::string, std::string>& f, const char* key, int64_t absent)
{
    auto it = f.find(key);
    if (it == f.end() || it->second.empty() || it->second == "N/A")
        return absent;
    return std::stoll(it->second, nullptr, 0);
}

// Block alignment, byte rate, bits per sample and extra format bytes as the stream headers store
// them, which ffprobe leaves out or replaces by the codec's own values.
void readStoredFormats(const std::string& path, std::vector<Stream>* streams)
{
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0)
        throw std::runtime_error("libavformat cannot open " + path);
    for (unsigned i = 0; i < context->nb_streams && i < streams->size(); i++) {
        const AVCodecParameters* par = context->streams[i]->codecpar;
        Stream& s = (*streams)[i];
        s.blockAlign = par->block_align;
        s.bitRate = par->bit_rate;
        s.bitsPerCodedSample = par->bits_per_coded_sample;
        s.extradataSize = par->extradata_size;
    }
    avformat_close_input(&context);
}

}  // namespace

bool haveProgram(const std::string& program)
{
    std::string output;
    return run("command -v " + quote(program), &output) == 0;
}

bool ffmpegHasEncoder(const std::string& encoder)
{
    std::string output;
    if (run("ffmpeg -hide_banner -encoders", &output) != 0)
        return false;
    return output.find(" " + encoder + " ") != std::string::npos;
}

std::string make(const std::string& stem, const std::string& extension, const std::string& command)
{
    fs::path dir = OMBRIX_MEDIA_DIR;
    fs::create_directories(dir);
    fs::path file = dir / (stem + "~" + hexHash(command) + extension);

    Lock lock(file);
    if (fs::exists(file))
        return file.string();
    // Versions made by an earlier command, and their cached ffprobe output, are dropped.
    for (const fs::directory_entry& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().rfind(stem + "~", 0) == 0)
            fs::remove(entry.path());

    fs::path partial = partialName(file);
    std::string toolCommand = command;
    for (size_t at; (at = toolCommand.find("{out}")) != std::string::npos;)
        toolCommand.replace(at, 5, quote(partial.string()));
    std::string output;
    int status = run(toolCommand + " 2>&1", &output);
    if (status != 0 || !fs::exists(partial)) {
        fs::remove(partial);
        throw std::runtime_error("exit status " + std::to_string(status) + " from: " + toolCommand + "\n" + output);
    }
    fs::rename(partial, file);
    return file.string();
}

std::vector<Stream> probe(const std::string& path)
{
    std::string command = "ffprobe -v error -of compact -show_entries "
                          "stream=index,codec_type,codec_name,codec_tag,width,height,time_base,sample_rate,channels,"
                          "nb_frames:packet=stream_index,dts,pos,size,flags " +
                          quote(path);
    std::string text = cachedOutput(path + "~" + hexHash(command) + ".probe", command);

    std::vector<Stream> streams;
    std::vector<std::map<std::string, std::string>> packets;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("packet|", 0) == 0) {
            packets.push_back(fields(line));
        } else if (line.rfind("stream|", 0) == 0) {
            std::map<std::string, std::string> f = fields(line);
            Stream s;
            s.type = f["codec_type"];
            s.codec = f["codec_name"];
            s.codecTag = (uint32_t)number(f, "codec_tag", 0);
            s.width = (int)number(f, "width", 0);
            s.height = (int)number(f, "height", 0);
            sscanf(f["time_base"].c_str(), "%d/%d", &s.timeBaseNum, &s.timeBaseDen);
            s.sampleRate = (int)number(f, "sample_rate", 0);
            s.channels = (int)number(f, "channels", 0);
            s.nbFrames = number(f, "nb_frames", -1);
            if (number(f, "index", -1) != (int64_t)streams.size())
                throw std::runtime_error("ffprobe lists streams out of order in " + path);
            streams.push_back(s);
        }
    }
    for (const auto& p : packets) {
        size_t index = (size_t)number(p, "stream_index", -1);
        if (index >= streams.size())
            throw std::runtime_error("ffprobe packet of an unknown stream in " + path);
        Chunk piece{number(p, "pos", -1), number(p, "size", 0), p.at("flags").find('K') != std::string::npos};
        std::vector<Chunk>& chunks = streams[index].chunks;
        // FFmpeg skips empty video chunks (dropped frames); the numbers they take show as gaps in the
        // decoding times, which count video chunks.
        if (streams[index].type == "video") {
            int64_t dts = number(p, "dts", -1);
            if (dts > 0 && chunks.empty())
                throw std::runtime_error("empty chunks before the first video chunk in " + path);
            while (dts > (int64_t)chunks.size())
                chunks.push_back({-1, 0, false});
        }
        // FFmpeg hands out a large PCM chunk in pieces that follow each other without a chunk header
        // between them; a new chunk always starts 8 bytes or more after the end of the previous one.
        if (!chunks.empty() && chunks.back().pos + chunks.back().size == piece.pos)
            chunks.back().size += piece.size;
        else
            chunks.push_back(piece);
    }
    readStoredFormats(path, &streams);
    return streams;
}

}  // namespace media
