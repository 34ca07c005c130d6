// OmbrixWriter writing DV AVI and Windows Media as a host drives it (UYVY frames handed over
// through the lent buffers, 48 kHz 16-bit stereo PCM after each frame) against the ffmpeg tool
// encoding the very same frames and samples, read from raw files written beforehand (so in the
// page cache), in the same run. The tool's whole process is timed, its start included; it runs
// with its default threads (as many as processors, as our encoders' "threads=auto") and with
// libswscale's flags of our conversion (fast bilinear, chroma from every pixel), so that both
// sides do the same work:
//  - dv: the "DV Video with interleaved DV Audio" entry writes a type-1 AVI (one stream of DV
//    frames that carry the sound). The tool cannot write type-1; it is measured writing the same
//    frames with the sound inside them as a DV stream (-f dv: the same bytes without the AVI
//    chunks around them), and writing a type-2 AVI (the DV frames silent, the PCM as a stream of
//    its own). NTSC 720x480 4:1:1 at 30000/1001; dvpal: PAL 720x576 4:2:0 at 25.
//  - wmv: the "WindowsMedia Video (asf,wmv)" and "WindowsMedia Audio (asf,wmv,wma)" entries
//    (wmv2 at 2000 kbit/s, wmav2 at 128 kbit/s) against the tool with the same encoders and rates.
// Every written file is synced to disk. Frames per second and processor time a frame (all our
// threads; the tool's process), medians of rounds whose order rotates; the ratios are ours over
// theirs for the rate and theirs over ours for the time: above 1, we are faster or cheaper.
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "WriteMaterial.h"

extern char** environ;

namespace fs = std::filesystem;
using bench::Material;

namespace {

constexpr unsigned Frames = 300;
constexpr int Rounds = 7;

// A peer: the tool's output options after the inputs, and the file it writes.
struct Peer {
    const char* label;
    std::vector<std::string> options;
    const char* file;
};

struct Mode {
    const char* name;
    const char* label;
    int width, height;
    unsigned rate, scale;
    const char* videoCodec;
    const char* audioCodec;
    const char* ours;  // the file we write
    std::vector<Peer> peers;
};

// The raw inputs the tool reads: every frame in turn, and all the PCM.
struct RawInputs {
    explicit RawInputs(const Material& m)
        : frames(bench::dataDirectory() / ("frames-" + m.Size() + ".uyvy")),
          pcm(bench::dataDirectory() / "tone-48k-stereo.s16le")
    {
        std::ofstream pictures(frames, std::ios::binary);
        for (unsigned n = 0; n < m.frames; n++)
            pictures.write(reinterpret_cast<const char*>(m.Frame(n)), std::streamsize(m.FrameBytes()));
        std::ofstream sound(pcm, std::ios::binary);
        sound.write(reinterpret_cast<const char*>(m.pcm.data()), std::streamsize(m.pcm.size() * sizeof m.pcm[0]));
        if (!pictures.flush() || !sound.flush())
            throw std::runtime_error("cannot write the raw inputs");
    }
    ~RawInputs()
    {
        fs::remove(frames);
        fs::remove(pcm);
    }
    RawInputs(const RawInputs&) = delete;
    RawInputs& operator=(const RawInputs&) = delete;

    const fs::path frames, pcm;
};

// The ffmpeg tool's whole run, and the file it wrote synced.
void WriteWithTool(const Material& m, const RawInputs& inputs, const Peer& peer, const fs::path& out)
{
    std::vector<std::string> arguments{"ffmpeg", "-nostdin", "-v", "error", "-y",
                                       "-f", "rawvideo", "-pixel_format", "uyvy422", "-video_size", m.Size(),
                                       "-framerate", m.Rate(), "-i", inputs.frames.string(),
                                       "-f", "s16le", "-ar", std::to_string(m.sampleRate), "-ac", "2",
                                       "-i", inputs.pcm.string(), "-sws_flags", "fast_bilinear+full_chroma_inp"};
    arguments.insert(arguments.end(), peer.options.begin(), peer.options.end());
    arguments.push_back(out.string());
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    int status = 0;
    if (posix_spawnp(&child, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0 ||
        waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(std::string("the ffmpeg tool failed: ") + peer.label);
    bench::syncToDisk(out);
}

void Compare(const Mode& mode)
{
    const Material m = bench::makeMaterial(mode.width, mode.height, mode.rate, mode.scale, Frames);
    const RawInputs inputs(m);
    const fs::path ours = bench::dataDirectory() / mode.ours;
    std::vector<fs::path> theirs;
    std::vector<std::function<void()>> sides{
        [&] { bench::writeWithOmbrix(m, mode.videoCodec, mode.audioCodec, ours); }};
    for (const Peer& peer : mode.peers) {
        theirs.push_back(bench::dataDirectory() / peer.file);
        sides.push_back([&, tool = &peer, out = theirs.back()] { WriteWithTool(m, inputs, *tool, out); });
    }
    const std::vector<bench::Pace> paces = bench::medianPaces(Rounds, Frames, sides);
    std::printf("%s %s UYVY at %s with 48 kHz stereo PCM, %u frames, written and synced\n", mode.label,
                m.Size().c_str(), m.Rate().c_str(), Frames);
    bench::printPaceHeader();
    for (size_t p = 0; p < mode.peers.size(); p++) {
        const std::string note = "   (" + bench::mebibytes(ours) + "; theirs " + bench::mebibytes(theirs[p]) + ")";
        bench::printPace((std::string("OmbrixWriter / ") + mode.peers[p].label).c_str(), paces[0], paces[p + 1], note);
    }
    for (size_t p = 0; p < mode.peers.size(); p++)
        bench::printPace((std::string("ffmpeg tool: ") + mode.peers[p].label).c_str(), paces[p + 1], paces[p + 1]);
    fs::remove(ours);
    for (const fs::path& file : theirs)
        fs::remove(file);
}

std::vector<Peer> DvPeers(const char* format)
{
    return {{"DV stream, sound in the frames", {"-c:v", "dvvideo", "-pix_fmt", format, "-c:a", "pcm_s16le", "-f", "dv"},
             "written-theirs.dv"},
            {"type-2 DV AVI, PCM stream", {"-c:v", "dvvideo", "-pix_fmt", format, "-c:a", "pcm_s16le", "-f", "avi"},
             "written-theirs.avi"}};
}

}  // namespace

int main(int argc, char** argv)
{
    const bench::Parts wanted(argc, argv);
    std::printf("build/bench/bench_write_dv_wmv%s\n", argc < 2 ? "  [dv | dvpal | wmv]" : "");
    const char* const Dv = "DV Video with interleaved DV Audio";
    const std::vector<Mode> modes{
        {"dv", "DV NTSC:", 720, 480, 30000, 1001, Dv, "Uncompressed PCM", "written-ours.avi", DvPeers("yuv411p")},
        {"dvpal", "DV PAL:", 720, 576, 25, 1, Dv, "Uncompressed PCM", "written-ours.avi", DvPeers("yuv420p")},
        {"wmv",
         "Windows Media:",
         720,
         480,
         30000,
         1001,
         "WindowsMedia Video (asf,wmv)",
         "WindowsMedia Audio (asf,wmv,wma)",
         "written-ours.wmv",
         {{"wmv2 2000k + wmav2 128k",
           {"-c:v", "wmv2", "-b:v", "2000k", "-c:a", "wmav2", "-b:a", "128k", "-f", "asf"},
           "written-theirs.wmv"}}}};
    return bench::Reporting("bench_write_dv_wmv", [&] {
        for (const Mode& mode : modes)
            if (wanted(mode.name))
                Compare(mode);
    });
}
