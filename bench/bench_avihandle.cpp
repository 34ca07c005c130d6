// Opening a 500,000-frame AVI: the parser (construction plus openavi) against libavformat
// (avformat_open_input plus avformat_find_stream_info) on the same file, once through OpenDML
// indexes and once through "idx1", with the index memory the parser holds.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "avi/avihandle.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace fs = std::filesystem;

namespace {

constexpr int frames = 500000;
constexpr int repetitions = 15;

// Beside the build tree's bench/ folder, where this program lives.
fs::path dataDirectory()
{
    fs::path dir = fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "bench-data";
    fs::create_directories(dir);
    return dir;
}

// 20,000 s at 25 fps of 32x20 BGR frames and 8 kHz 8-bit audio: just over 1 GiB, so the ffmpeg
// tool writes a second RIFF segment, OpenDML indexes, and an "idx1" for the first segment.
fs::path makeOpenDmlFile(const fs::path& dir)
{
    fs::path file = dir / "frames500k-opendml.avi";
    if (fs::exists(file))
        return file;
    fs::path partial = dir / ".partial-frames500k-opendml.avi";
    std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i color=c=gray:size=32x20:rate=25 "
                          "-f lavfi -i sine=sample_rate=8000 -t " +
                          std::to_string(frames / 25) +
                          " -c:v rawvideo -pix_fmt bgr24 -c:a pcm_u8 -ac 1 '" + partial.string() + "' </dev/null";
    printf("making %s (once)...\n", file.c_str());
    fflush(stdout);
    int status = system(command.c_str());
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("failed: " + command);
    fs::rename(partial, file);
    return file;
}

// The same file with every "indx" in the stream headers renamed "JUNK", so that readers fall
// back to "idx1".
fs::path makeIdx1File(const fs::path& dir, const fs::path& openDml)
{
    fs::path file = dir / "frames500k-idx1.avi";
    if (fs::exists(file))
        return file;
    fs::path partial = dir / ".partial-frames500k-idx1.avi";
    fs::copy_file(openDml, partial, fs::copy_options::overwrite_existing);

    std::fstream io(partial, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<char> head(1 << 16);
    io.read(head.data(), head.size());
    auto u32 = [&](size_t at) {
        uint32_t v;
        memcpy(&v, &head[at], 4);
        return v;
    };
    // RIFF "AVI " > LIST "hdrl" > LIST "strl" > "indx"
    if (memcmp(&head[0], "RIFF", 4) != 0 || memcmp(&head[12], "LIST", 4) != 0 || memcmp(&head[20], "hdrl", 4) != 0)
        throw std::runtime_error("unexpected file layout");
    size_t hdrlEnd = 20 + u32(16);
    int renamed = 0;
    for (size_t at = 24; at + 12 <= hdrlEnd && at + 12 <= head.size(); at += 8 + u32(at + 4) + (u32(at + 4) & 1)) {
        if (memcmp(&head[at], "LIST", 4) != 0 || memcmp(&head[at + 8], "strl", 4) != 0)
            continue;
        size_t strlEnd = at + 8 + u32(at + 4);
        for (size_t c = at + 12; c + 8 <= strlEnd && c + 8 <= head.size(); c += 8 + u32(c + 4) + (u32(c + 4) & 1)) {
            if (memcmp(&head[c], "indx", 4) == 0) {
                io.seekp(c);
                io.write("JUNK", 4);
                renamed++;
            }
        }
    }
    io.close();
    if (renamed == 0)
        throw std::runtime_error("no indx chunk found in " + openDml.string());
    fs::rename(partial, file);
    return file;
}

double milliseconds(const std::function<void()>& work)
{
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void openWithParser(const fs::path& file, bool expectIdx1)
{
    avihandle h(file.c_str(), false, false);
    if (h.bError || !h.openavi())
        throw std::runtime_error("the parser cannot open " + file.string());
    if (h.bIdx1Index != expectIdx1)
        throw std::runtime_error(file.string() + ": the parser used the wrong index");
    h.closeavi();
}

void openWithFFmpeg(const fs::path& file)
{
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, file.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(context, nullptr) < 0)
        throw std::runtime_error("libavformat cannot open " + file.string());
    avformat_close_input(&context);
}

// The high-water mark of this process's resident memory, in KiB.
long peakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Run as "bench_avihandle --peak-rss parser|ffmpeg FILE": opens the file once in this fresh process
// and prints how far the resident memory's high-water mark rose, in KiB.
int printPeakRise(const std::string& reader, const fs::path& file)
{
    long before = peakResidentKiB();
    if (reader == "parser") {
        avihandle h(file.c_str(), false, false);
        h.openavi();
        printf("%ld\n", peakResidentKiB() - before);
        h.closeavi();
    } else {
        openWithFFmpeg(file);
        printf("%ld\n", peakResidentKiB() - before);
    }
    return 0;
}

double peakRiseMiB(const std::string& reader, const fs::path& file)
{
    std::string command = fs::read_symlink("/proc/self/exe").string() + " --peak-rss " + reader + " '" + file.string() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    long kib = -1;
    if (!pipe || fscanf(pipe, "%ld", &kib) != 1 || pclose(pipe) != 0)
        throw std::runtime_error("failed: " + command);
    return kib / 1024.0;
}

double loadedIndexMiB(avihandle& h)
{
    size_t bytes = 0;
    for (AVIstream* s = h.pStreams; s; s = s->next)
        for (IndexChunk* c = s->pChunks; c; c = c->next)
            bytes += sizeof(AVISTDINDEXHEADER) + c->nEntries * sizeof(AVISTDINDEXENTRY);
    return bytes / 1048576.0;
}

// Resident memory each reader takes to open the file, each in a process of its own, and for OpenDML
// how much of the index the parser keeps loaded.
void reportMemory(const char* label, const fs::path& file)
{
    printf("  %-8s peak RSS rise: ours %.1f MiB, FFmpeg %.1f MiB", label, peakRiseMiB("parser", file),
           peakRiseMiB("ffmpeg", file));
    avihandle h(file.c_str(), false, false);
    h.openavi();
    if (!h.bIdx1Index) {
        size_t onDisk = 0, segments = 0;
        for (AVIstream* s = h.pStreams; s; s = s->next) {
            for (DWORD i = 0; i < s->nEntriesInUse; i++)
                onDisk += s->pSuperIndex[i].dwSize;
            segments = std::max<size_t>(segments, s->nEntriesInUse);
        }
        printf("; index chunks loaded after openavi %.2f MiB of %.2f MiB in %zu RIFF segments", loadedIndexMiB(h),
               onDisk / 1048576.0, segments);
    }
    h.closeavi();
    printf("\n");
}

void compare(const char* label, const fs::path& file, bool idx1)
{
    openWithParser(file, idx1);  // first touch: file system caches
    openWithFFmpeg(file);
    std::vector<double> ours, theirs;
    for (int i = 0; i < repetitions; i++) {
        ours.push_back(milliseconds([&] { openWithParser(file, idx1); }));
        theirs.push_back(milliseconds([&] { openWithFFmpeg(file); }));
    }
    avihandle h(file.c_str(), false, false);
    double a = median(ours), b = median(theirs);
    printf("  %-8s ours %8.2f ms   FFmpeg %8.2f ms   ratio %.3f (target <= 0.5)   [%u video frames indexed, %u audio chunks]\n",
           label, a, b, a / b, h.nFrames, h.nAudioChunks);
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        av_log_set_level(AV_LOG_ERROR);
        if (argc == 4 && std::string(argv[1]) == "--peak-rss")
            return printPeakRise(argv[2], argv[3]);
        fs::path dir = dataDirectory();
        fs::path openDml = makeOpenDmlFile(dir);
        fs::path idx1 = makeIdx1File(dir, openDml);

        printf("avihandle: construct + openavi vs avformat_open_input + avformat_find_stream_info, "
               "%d-frame AVI with 8 kHz PCM, median of %d\n",
               frames, repetitions);
        reportMemory("OpenDML", openDml);
        reportMemory("idx1", idx1);
        compare("OpenDML", openDml, false);
        compare("idx1", idx1, true);
    } catch (const std::exception& e) {
        fprintf(stderr, "bench_avihandle: %s\n", e.what());
        return 1;
    } catch (const char* text) {
        fprintf(stderr, "bench_avihandle: %s\n", text);
        return 1;
    }
    return 0;
}
