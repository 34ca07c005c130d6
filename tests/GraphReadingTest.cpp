// Files of many kinds read through a graph: the source, the decoders that intelligent connect puts
// in, and two capture renderers, driven as the graph reader drives them. Every frame comes once, in
// order, as FFmpeg decodes it; after a seek to any time the first frame is the one covering it and
// the audio starts at exactly its sample.
#include <mutex>
#include <random>
#include <thread>

#include "CaptureGraph.h"
#include "GraphMediaFiles.h"

namespace {

class GraphReading : public testing::TestWithParam<MediaFile> {};

constexpr int Seeks = 200;

TEST_P(GraphReading, EveryFrameInOrderAndExactAfterRandomSeeks)
{
    const MediaFile& file = GetParam();
    CaptureGraph graph(file.path(), file.subtype);
    ASSERT_TRUE(graph.Ok());
    EXPECT_EQ(std::tuple(file.video >= 0, file.audio >= 0), std::tuple(graph.HasVideo(), graph.HasAudio()));

    // In order: every frame once, as FFmpeg decodes it (and as the ffmpeg tool does, where it
    // only repacks them).
    std::vector<Bytes> frames;
    std::vector<REFERENCE_TIME> starts;
    if (graph.HasVideo()) {
        const BITMAPINFOHEADER& format = graph.Video()->Ombrix_RendererFilter_GetVideoInformation()->bmiHeader;
        const std::vector<Bytes> expected = ffmpegPictures(file.path(), file.video, format);
        Bytes all;
        graph.ReadAll(graph.Video(), [&](BYTE* bits, LONG size, LONGLONG start, LONGLONG) {
            frames.emplace_back(bits, bits + size);
            starts.push_back(start);
            all.insert(all.end(), bits, bits + size);
        });
        ASSERT_EQ(expected.size(), frames.size());
        for (size_t n = 0; n < frames.size(); ++n)
            EXPECT_TRUE(frames[n] == expected[n]) << "frame " << n;
        if (file.toolPixels) {
            EXPECT_TRUE(all == toolDecode(file, true));
        }
    }
    Bytes pcm;
    int frameBytes = 1, rate = 1;
    if (graph.HasAudio()) {
        const WAVEFORMATEX& format = *graph.Audio()->Ombrix_RendererFilter_GetAudioInformation();
        frameBytes = format.nBlockAlign;
        rate = format.nSamplesPerSec;
        graph.ReadAll(graph.Audio(), [&](BYTE* bits, LONG size, LONGLONG, LONGLONG first) {
            EXPECT_EQ(int64_t(pcm.size()), first * frameBytes);
            pcm.insert(pcm.end(), bits, bits + size);
        });
        EXPECT_TRUE(pcm == toolDecode(file, false));
    }

    // Random times: the first frame is the one that covers the time; audio starts at its sample.
    std::mt19937 random(7);
    std::uniform_int_distribution<REFERENCE_TIME> anyTime(0, graph.Duration() - 1);
    for (int seek = 0; seek < Seeks; ++seek) {
        const REFERENCE_TIME time = anyTime(random);
        const LONGLONG sample = time * rate / 10000000;
        ASSERT_TRUE(graph.Seek(time, sample)) << time;
        // An end of stream that the stream before the seek sent while the graph paused is seen
        // once, and the reader seeks again.
        auto heldAfterSeek = [&](Ombrix_RendererFilter* renderer, LONGLONG* first = nullptr, LONG* bytes = nullptr) {
            const BYTE* bits = CaptureGraph::Held(renderer, first, bytes);
            return bits || !graph.Seek(time, sample) ? bits : CaptureGraph::Held(renderer, first, bytes);
        };
        if (graph.HasVideo()) {
            const size_t covering = std::upper_bound(starts.begin(), starts.end(), time) - starts.begin() - 1;
            const BYTE* bits = heldAfterSeek(graph.Video());
            ASSERT_TRUE(bits) << time;
            EXPECT_TRUE(std::equal(frames[covering].begin(), frames[covering].end(), bits))
                << "time " << time << ", frame " << covering;
        }
        if (graph.HasAudio() && sample * frameBytes < LONGLONG(pcm.size())) {
            LONGLONG first;
            LONG bytes;
            const BYTE* bits = heldAfterSeek(graph.Audio(), &first, &bytes);
            ASSERT_TRUE(bits) << time;
            EXPECT_EQ(sample, first);
            const int16_t* got = reinterpret_cast<const int16_t*>(bits);
            const int16_t* want = reinterpret_cast<const int16_t*>(pcm.data() + sample * frameBytes);
            const size_t count = std::min<size_t>(bytes, pcm.size() - sample * frameBytes) / 2;
            const auto alike = std::mismatch(got, got + count, want, [&](int a, int b) { return std::abs(a - b) <= file.audioSlack; });
            EXPECT_EQ(count, size_t(alike.first - got)) << "time " << time << ", sample " << sample;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, GraphReading, testing::ValuesIn(mediaFiles),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// Two host threads take turns on one graph: seeks and reads of either stream, and stops and runs,
// while the streaming threads deliver. Run under ThreadSanitizer by `./build.sh tsan`.
TEST(GraphThreads, SeekReadAndStopFromTwoThreads)
{
    CaptureGraph graph(mediaFile("GraphWmv2Wma2").path(), MEDIASUBTYPE_YUY2);
    ASSERT_TRUE(graph.Ok() && graph.HasVideo() && graph.HasAudio());
    std::mutex turn;
    auto host = [&](int seed) {
        std::mt19937 random(seed);
        for (int i = 0; i < 25; ++i) {
            std::lock_guard<std::mutex> lock(turn);
            // Short of the end, where one stream may have ended before the other.
            const REFERENCE_TIME time = std::uniform_int_distribution<REFERENCE_TIME>(0, graph.Duration() * 9 / 10)(random);
            if (random() % 5 == 0) {
                EXPECT_TRUE(graph.Restart());
            }
            ASSERT_TRUE(graph.Seek(time, time * 44100 / 10000000));
            EXPECT_TRUE(CaptureGraph::Held(random() % 2 ? graph.Video() : graph.Audio()));
        }
    };
    std::thread other(host, 1);
    host(2);
    other.join();
}
