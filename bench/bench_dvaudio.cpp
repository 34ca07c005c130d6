// DV audio extraction from a 60 s PAL 48 kHz stream already in memory: decodeAudio over every
// frame, against FFmpeg's dv demuxer reading the same bytes through a memory AVIOContext and
// collecting its audio packets, and against libdv's dv_decode_full_audio. Prints sample frames
// per second for each and checks that all three produce the same PCM.
#include <libdv/dv.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchData.h"
#include "avi/DVAudio.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace fs = std::filesystem;

namespace {

constexpr int seconds = 60;
constexpr int repetitions = 12;

using Bytes = std::vector<unsigned char>;

// Raw PAL DV with different material in the two channels; never -32768, which FFmpeg reads as 0.
Bytes loadStream()
{
    const fs::path file = bench::makeOnce(
        "dv-pal-48k-60s.dv", "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i "
                             "'aevalsrc=0.6*sin(2*PI*440*t)|0.5*sin(2*PI*1000*t)+0.3*random(0):s=48000' -t " +
                                 std::to_string(seconds) + " -c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ac 2 -f dv {out}");
    std::ifstream in(file, std::ios::binary);
    Bytes data(fs::file_size(file));
    in.read((char*)data.data(), std::streamsize(data.size()));
    if (!in || data.size() % DVFrameSize625 != 0)
        throw std::runtime_error("cannot read " + file.string());
    return data;
}

// Fastest of the repetitions, in seconds.
template <class F>
double best(F&& run)
{
    double fastest = 1e30;
    for (int i = 0; i < repetitions; i++) {
        const auto start = std::chrono::steady_clock::now();
        run();
        fastest = std::min(fastest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return fastest;
}

// Each decoder writes into buffers allocated once, outside the timing.
size_t decodeOurs(const Bytes& stream, Bytes& pcm)
{
    size_t at = 0;
    for (size_t f = 0; f < stream.size(); f += DVFrameSize625)
        at += 4 * size_t(decodeAudio(&stream[f], &pcm[at], 0));
    return at;
}

struct MemoryReader {
    const Bytes* data;
    size_t at = 0;
    static int read(void* opaque, uint8_t* buffer, int size)
    {
        MemoryReader* self = (MemoryReader*)opaque;
        const size_t n = std::min<size_t>(size_t(size), self->data->size() - self->at);
        if (n == 0)
            return AVERROR_EOF;
        memcpy(buffer, self->data->data() + self->at, n);
        self->at += n;
        return int(n);
    }
};

size_t decodeFFmpeg(const Bytes& stream, Bytes& pcm)
{
    size_t at = 0;
    MemoryReader reader{&stream};
    const int bufferSize = 1 << 16;
    AVIOContext* io = avio_alloc_context((unsigned char*)av_malloc(bufferSize), bufferSize, 0, &reader,
                                         &MemoryReader::read, nullptr, nullptr);
    AVFormatContext* context = avformat_alloc_context();
    context->pb = io;
    if (avformat_open_input(&context, nullptr, av_find_input_format("dv"), nullptr) < 0)
        throw std::runtime_error("FFmpeg cannot open the DV stream");
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(context, packet) >= 0) {
        if (context->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
            at + size_t(packet->size) <= pcm.size()) {
            memcpy(&pcm[at], packet->data, size_t(packet->size));
            at += size_t(packet->size);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&context);
    av_freep(&io->buffer);
    avio_context_free(&io);
    return at;
}

// Planar 16-bit per frame, as libdv hands it out; the interleaving for the comparison is not timed.
size_t decodeLibDv(const Bytes& stream, std::vector<std::vector<int16_t>>& channels)
{
    int16_t spare[2][DV_AUDIO_MAX_SAMPLES];
    dv_decoder_t* decoder = dv_decoder_new(0, 0, 0);
    size_t at = 0;
    for (size_t f = 0; f < stream.size(); f += DVFrameSize625) {
        if (dv_parse_header(decoder, &stream[f]) < 0)
            throw std::runtime_error("libdv cannot parse a frame header");
        int16_t* out[4] = {&channels[0][at], &channels[1][at], spare[0], spare[1]};
        dv_decode_full_audio(decoder, &stream[f], out);
        at += size_t(dv_get_num_samples(decoder));
    }
    dv_decoder_free(decoder);
    return at;
}

Bytes interleave(const std::vector<std::vector<int16_t>>& channels, size_t frames)
{
    Bytes pcm(frames * 4);
    for (size_t i = 0; i < frames; i++)
        for (int c = 0; c < 2; c++) {
            const uint16_t v = uint16_t(channels[c][i]);
            pcm[4 * i + 2 * c] = uint8_t(v);
            pcm[4 * i + 2 * c + 1] = uint8_t(v >> 8);
        }
    return pcm;
}

// Compares the first `size` bytes of ours with theirs, which holds theirSize bytes.
std::string sameAs(const Bytes& ours, size_t size, const Bytes& theirs, size_t theirSize)
{
    if (size != theirSize)
        return "DIFFERENT (" + std::to_string(size / 4) + " vs " + std::to_string(theirSize / 4) + " sample frames)";
    const auto mismatch = std::mismatch(ours.begin(), ours.begin() + std::ptrdiff_t(size), theirs.begin());
    if (mismatch.first != ours.begin() + std::ptrdiff_t(size))
        return "DIFFERENT from sample frame " + std::to_string((mismatch.first - ours.begin()) / 4);
    return "identical";
}

void run()
{
    const Bytes stream = loadStream();
    const size_t frameCount = stream.size() / DVFrameSize625;
    Bytes ours(frameCount * DVMaxAudioData), ffmpeg(ours.size());
    std::vector<std::vector<int16_t>> planar(2, std::vector<int16_t>(frameCount * DV_AUDIO_MAX_SAMPLES));
    const size_t oursSize = decodeOurs(stream, ours), ffmpegSize = decodeFFmpeg(stream, ffmpeg);
    const size_t libdvFrames = decodeLibDv(stream, planar);
    const Bytes libdv = interleave(planar, libdvFrames);
    const std::string vsFFmpeg = sameAs(ours, oursSize, ffmpeg, ffmpegSize);
    const std::string vsLibDv = sameAs(ours, oursSize, libdv, libdv.size());

    double tOurs = 1e30, tFFmpeg = 1e30, tLibDv = 1e30;
    for (int round = 0; round < 2; round++) {  // alternated, so that none runs only cold
        tOurs = std::min(tOurs, best([&] { decodeOurs(stream, ours); }));
        tFFmpeg = std::min(tFFmpeg, best([&] { decodeFFmpeg(stream, ffmpeg); }));
        tLibDv = std::min(tLibDv, best([&] { decodeLibDv(stream, planar); }));
    }
    const double frames = double(oursSize / 4), peak = std::max(frames / tFFmpeg, frames / tLibDv);
    printf("dvaudio: %d s of PAL 48 kHz DV in memory (%zu frames, %.0f sample frames), best of %d runs\n", seconds,
           frameCount, frames, 2 * repetitions);
    printf("  ours (decodeAudio)                %9.3f ms  %8.2f M sample frames/s\n", tOurs * 1e3, frames / tOurs / 1e6);
    printf("  FFmpeg dv demuxer (audio packets) %9.3f ms  %8.2f M sample frames/s\n", tFFmpeg * 1e3, frames / tFFmpeg / 1e6);
    printf("  libdv dv_decode_full_audio        %9.3f ms  %8.2f M sample frames/s\n", tLibDv * 1e3, frames / tLibDv / 1e6);
    printf("  ratio to the faster peer %.2fx (target >= 1.5x); to FFmpeg %.2fx, to libdv %.2fx\n",
           frames / tOurs / peak, tFFmpeg / tOurs, tLibDv / tOurs);
    printf("  PCM vs FFmpeg: %s; vs libdv: %s\n", vsFFmpeg.c_str(), vsLibDv.c_str());
}

}  // namespace

int main()
{
    return bench::Reporting("bench_dvaudio", [&] {
        run();
    });
}
