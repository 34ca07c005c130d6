// The DV Mux between DV frames made by FFmpeg, a tone and the AVI Mux: the type-1 AVI written is
// decoded by FFmpeg and read by the library's AVI reader, every frame with the tone exact.
#include "MuxGraph.h"

namespace {

// block: bytes of PCM per sample, 0 with no audio connected; audioFirst: the audio source goes first
// in the graph, its samples taken before the video's; silent: with no audio connected, frames
// without sound.
struct DvCase { bool pal; unsigned rate; size_t block; bool audioFirst; bool silent = false; };
void PrintTo(const DvCase& c, std::ostream* out)
{
    *out << (c.pal ? "PAL, " : "NTSC, ") << (c.silent ? "silent frames" : c.block ? "" : "sounding frames");
    if (c.block)
        *out << c.rate << " Hz in " << c.block << "-byte samples" << (c.audioFirst ? ", audio first" : "");
}

class DVMuxTest : public ::testing::TestWithParam<DvCase> {};

TEST_P(DVMuxTest, WritesEveryFrameWithItsSound)
{
    const DvCase c = GetParam();
    // Frames alone carry the sound FFmpeg put in them.
    const bool sounding = !c.block && !c.silent;
    const std::string sound = sounding ? lavfi("sine=frequency=500:sample_rate=48000") : "";
    const std::string dv = make(std::string(c.pal ? "DVMuxPal" : "DVMuxNtsc") + (sounding ? "Sound" : ""), ".dv",
                                ffmpeg(testsrc(c.pal ? "720x576" : "720x480", c.pal ? "25" : "30000/1001") + sound,
                                       std::string("-t 1 -c:v dvvideo -pix_fmt ") + (c.pal ? "yuv420p" : "yuv411p") +
                                           (sounding ? " -c:a pcm_s16le -ac 2" : "") + " -f dv"));
    const size_t frameSize = c.pal ? 144000 : 120000;
    const Bytes stream = readFile(dv);
    ASSERT_EQ(0u, stream.size() % frameSize);
    std::vector<Packet> frames;
    for (size_t at = 0; at < stream.size(); at += frameSize)
        frames.push_back({Bytes(stream.begin() + std::ptrdiff_t(at), stream.begin() + std::ptrdiff_t(at + frameSize))});
    // A second of tone, shorter than the frames' 1.001 s in NTSC, with the value DV reserves.
    Bytes pcm = tone(c.rate, 2, 0, c.rate);
    pcm[4] = 0x00, pcm[5] = 0x80;
    std::vector<Packet> blocks;
    for (size_t at = 0; c.block && at < pcm.size(); at += c.block)
        blocks.push_back({Bytes(pcm.begin() + std::ptrdiff_t(at), pcm.begin() + std::ptrdiff_t(std::min(pcm.size(), at + c.block)))});

    VIDEOINFOHEADER info{};
    info.bmiHeader = {40, 720, c.pal ? 576 : 480, 1, 24, FCC("dvsd"), DWORD(frameSize), 0, 0, 0, 0};
    MuxGraph graph;
    ComRef<IBaseFilter> mux;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_DVMux, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, (void**)mux.out()));
    ASSERT_EQ(S_OK, graph.graph->AddFilter(mux.get(), L"DV Mux"));
    const ComRef<IBaseFilter> video = packetSource(typeWith(MEDIATYPE_Video, MEDIASUBTYPE_dvsd, FORMAT_VideoInfo, &info, sizeof info), frames);
    const ComRef<IBaseFilter> audio = packetSource(pcmType(c.rate, 2), blocks);
    std::vector<ComRef<IBaseFilter>> sources{video};
    if (c.block)
        sources.insert(c.audioFirst ? sources.begin() : sources.end(), audio);
    for (const ComRef<IBaseFilter>& source : sources) {
        ASSERT_EQ(S_OK, graph.graph->AddFilter(source.get(), nullptr));
        graph.sources.push_back(source);
    }
    ASSERT_EQ(S_OK, graph.connect(video.get(), mux.get()));
    if (c.block) {
        // NTSC frames take 48 kHz only.
        const bool takes = c.pal || c.rate == 48000;
        ASSERT_EQ(takes ? S_OK : VFW_E_NO_ACCEPTABLE_TYPES, graph.connect(audio.get(), mux.get()));
        if (!takes)
            return;
    }
    ASSERT_EQ(S_OK, graph.connect(mux.get(), graph.mux.get()));
    ScratchDir dir;
    const std::string path = dir.path("dv.avi");
    EXPECT_EQ(EC_COMPLETE, graph.write(path));

    // The pictures are untouched; every frame is there and decodes.
    expectDecodedAlike(path, dv, " -map 0:v -f rawvideo -");
    const ReadBack back = readAvi(path);
    ASSERT_TRUE(back.valid);
    EXPECT_EQ(std::tuple(frames.size(), c.pal ? 25u : 30000u, c.pal ? 1u : 1001u),
              std::tuple(back.frames.size(), back.info.Rate, back.info.Scale));
    // Frames without sound: reading their audio ends (the reader divided by the samples of a
    // cycle of such frames and died).
    if (c.silent)
        return;
    EXPECT_EQ(ffmpegPcm(path), back.pcm);
    if (!c.block) {
        expectDecodedAlike(path, dv, " -map 0:a -f s16le -");
        return;
    }
    // The tone, -32768 one step quieter, then silence to the end of the last frame.
    pcm[4] = 0x01;
    ASSERT_EQ(c.rate, back.info.SampleRate);
    ASSERT_GE(back.pcm.size(), pcm.size());
    EXPECT_LT(back.pcm.size(), pcm.size() + 2 * 4 * c.rate / 25);
    pcm.resize(back.pcm.size());
    EXPECT_TRUE(pcm == back.pcm);
}

INSTANTIATE_TEST_SUITE_P(Cases, DVMuxTest,
                         ::testing::Values(DvCase{false, 48000, 4004, false}, DvCase{true, 48000, 4004, false},
                                           DvCase{false, 48000, 4 * 48000, true}, DvCase{true, 32000, 400, true},
                                           DvCase{false, 44100, 400, false}, DvCase{true, 44100, 400, false},
                                           DvCase{true, 48000, 0, false},
                                           DvCase{false, 48000, 0, false}, DvCase{false, 48000, 0, false, true}));

}  // namespace
