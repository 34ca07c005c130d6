// OmbrixWriter as a host drives it (720x480 UYVY frames at 30000/1001 handed over through the lent
// buffers, 48 kHz 16-bit stereo PCM after each frame) against libavformat's avi muxer writing the
// same frames and samples (and, for compressed entries, the same encoder driven directly through
// libavcodec, fed from the same UYVY frames through libswscale), in the same run:
//  1. uncompressed UYVY + PCM;
//  2. Motion JPEG + PCM and MPEG-4 part 2 + PCM.
// Each write ends with the file on disk (fsync), so both sides pay for the disk alike. Frames per
// second, median of alternated rounds; the ratio is ours over theirs: above 1, we are faster.
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchData.h"
#include "ombrix/OmbrixWriter.h"
#include "platform/filters/VideoEncoding.h"
#include "platform/image/Picture.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace fs = std::filesystem;

namespace {

constexpr int Width = 720, Height = 480;
constexpr unsigned Rate = 30000, Scale = 1001, SampleRate = 48000;
constexpr unsigned Frames = 300;  // ten seconds
constexpr unsigned Distinct = 30;  // frames that repeat
constexpr int Rounds = 7;
constexpr size_t FrameBytes = size_t(Width) * Height * 2;

// What both sides write: a second of moving pictures, repeated, and a tone.
struct Material {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<int16_t> pcm;  // every sample frame of the whole length
    unsigned SamplesUntil(unsigned frame) const { return unsigned((frame + 1ULL) * Scale * SampleRate / Rate); }
};

Material MakeMaterial()
{
    Material m;
    for (unsigned n = 0; n < Distinct; n++) {
        RgbPicture picture(Width, Height);
        for (int y = 0; y < Height; y++)
            for (int x = 0; x < Width; x++) {
                uint8_t* p = picture.Row(y) + 3 * x;
                p[0] = uint8_t(x + n * 8), p[1] = uint8_t(y * 2 - n), p[2] = uint8_t((x ^ y) + n);
            }
        m.frames.emplace_back(FrameBytes);
        FromRgb(picture, {1, Width, Height, false}, m.frames.back().data());
    }
    const unsigned samples = m.SamplesUntil(Frames - 1);
    m.pcm.resize(size_t(samples) * 2);
    for (unsigned i = 0; i < samples; i++)
        m.pcm[2 * i] = m.pcm[2 * i + 1] = int16_t(9000 * std::sin(2 * M_PI * 440.0 * i / SampleRate));
    return m;
}

void SyncToDisk(const fs::path& path)
{
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0 || fsync(fd) != 0)
        throw std::runtime_error("cannot sync " + path.string());
    close(fd);
}

void WriteOurs(const Material& m, const std::string& codec, const fs::path& path)
{
    OmbrixWriter writer;
    for (unsigned i = 0; i < writer.GetNoVideoCodecs(); i++)
        if (codec == writer.GetVideoCodecName(i))
            writer.SelectVideoCodec(i);
    if (codec != writer.GetVideoCodecName(writer.GetVideoCodec()))
        throw std::runtime_error("the writer lists no " + codec);
    Ombrix_FileInfo info;
    info.HasVideo = info.HasAudio = true;
    info.Width = Width, info.Height = Height, info.Rate = Rate, info.Scale = Scale, info.ColorSpace = 1;
    info.SampleRate = SampleRate, info.Channels = 2, info.BitsPerSample = 16;
    std::string name = path.string();
    if (!writer.OpenFile(name.data(), &info) || writer.GetWritingInfo().ColorSpace != 1)
        throw std::runtime_error("the writer does not take UYVY for " + codec);
    unsigned written = 0;
    for (unsigned n = 0; n < Frames; n++) {
        unsigned char* buffer = writer.AllocateVideoBuffer();
        if (!buffer)
            throw std::runtime_error("the writer lends no buffer");
        memcpy(buffer, m.frames[n % Distinct].data(), FrameBytes);
        writer.ReleaseVideoBuffer(buffer);
        const unsigned until = m.SamplesUntil(n);
        writer.AddAudioSamples(const_cast<int16_t*>(&m.pcm[2 * size_t(written)]), until - written);
        written = until;
    }
    writer.CloseFile();
    SyncToDisk(path);
}

void Check(int code, const char* what)
{
    if (code < 0)
        throw std::runtime_error(std::string("libavformat/libavcodec: ") + what);
}

// libavformat's avi muxer writing the same frames: stored as they are, or through the encoder set
// up as the entry's compressor sets it up.
void WriteTheirs(const Material& m, const VideoEncoding* encoding, const fs::path& path)
{
    AVFormatContext* output = nullptr;
    Check(avformat_alloc_output_context2(&output, nullptr, "avi", path.c_str()), "no avi muxer");
    AVStream* video = avformat_new_stream(output, nullptr);
    AVStream* audio = avformat_new_stream(output, nullptr);
    video->time_base = {int(Scale), int(Rate)};
    audio->time_base = {1, int(SampleRate)};
    AvCodecContextPtr encoder;
    SwsContextPtr scaler;
    AvFramePtr picture(av_frame_alloc());
    AvPacketPtr packet(av_packet_alloc());
    if (encoding) {
        encoder = OpenVideoEncoder(*encoding, Width, Height, int64_t(Scale) * 10000000 / Rate);
        if (!encoder)
            throw std::runtime_error("the encoder does not open");
        Check(avcodec_parameters_from_context(video->codecpar, encoder.get()), "no parameters");
        scaler.reset(sws_getContext(Width, Height, AV_PIX_FMT_UYVY422, Width, Height, encoding->format,
                                    encoding->scaleFlags, nullptr, nullptr, nullptr));
        picture->format = encoding->format, picture->width = Width, picture->height = Height;
        Check(av_frame_get_buffer(picture.get(), 64), "no picture");
    } else {
        video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
        video->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
        video->codecpar->codec_tag = MKTAG('U', 'Y', 'V', 'Y');
        video->codecpar->format = AV_PIX_FMT_UYVY422;
        video->codecpar->width = Width, video->codecpar->height = Height;
    }
    audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    audio->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
    audio->codecpar->sample_rate = SampleRate;
    av_channel_layout_default(&audio->codecpar->ch_layout, 2);
    Check(avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE), "cannot open the file");
    Check(avformat_write_header(output, nullptr), "no header");
    const auto writeVideo = [&](AVPacket* p) {
        p->stream_index = 0;
        av_packet_rescale_ts(p, encoder ? encoder->time_base : video->time_base, video->time_base);
        Check(av_write_frame(output, p), "video write");
    };
    unsigned written = 0;
    for (unsigned n = 0; n < Frames; n++) {
        const uint8_t* frame = m.frames[n % Distinct].data();
        if (encoder) {
            const uint8_t* planes[1] = {frame};
            const int pitch[1] = {Width * 2};
            Check(av_frame_make_writable(picture.get()), "picture");
            sws_scale(scaler.get(), planes, pitch, 0, Height, picture->data, picture->linesize);
            picture->pts = n;
            Check(SendPicture(*encoder, picture.get()), "encode");
            while (avcodec_receive_packet(encoder.get(), packet.get()) == 0) {
                writeVideo(packet.get());
                av_packet_unref(packet.get());
            }
        } else {
            AVPacket raw{};
            raw.data = const_cast<uint8_t*>(frame), raw.size = int(FrameBytes), raw.pts = raw.dts = n, raw.duration = 1;
            raw.flags = AV_PKT_FLAG_KEY;
            writeVideo(&raw);
        }
        const unsigned until = m.SamplesUntil(n);
        AVPacket pcm{};
        pcm.data = reinterpret_cast<uint8_t*>(const_cast<int16_t*>(&m.pcm[2 * size_t(written)]));
        pcm.size = int((until - written) * 4), pcm.pts = pcm.dts = written, pcm.duration = until - written;
        pcm.stream_index = 1, pcm.flags = AV_PKT_FLAG_KEY;
        Check(av_write_frame(output, &pcm), "audio write");
        written = until;
    }
    if (encoder) {
        SendPicture(*encoder, nullptr);
        while (avcodec_receive_packet(encoder.get(), packet.get()) == 0) {
            writeVideo(packet.get());
            av_packet_unref(packet.get());
        }
    }
    Check(av_write_trailer(output), "no trailer");
    avio_closep(&output->pb);
    avformat_free_context(output);
    SyncToDisk(path);
}

void Compare(const char* label, const Material& m, const std::string& codec, const VideoEncoding* encoding)
{
    const fs::path ours = bench::dataDirectory() / "written-ours.avi", theirs = bench::dataDirectory() / "written-theirs.avi";
    std::vector<double> oursMs, theirsMs;
    bench::alternateRounds(
        Rounds,
        [&](bool counted) {
            const double ms = bench::milliseconds([&] { WriteOurs(m, codec, ours); });
            if (counted)
                oursMs.push_back(ms);
        },
        [&](bool counted) {
            const double ms = bench::milliseconds([&] { WriteTheirs(m, encoding, theirs); });
            if (counted)
                theirsMs.push_back(ms);
        });
    const double oursRate = Frames * 1000.0 / bench::median(oursMs), theirsRate = Frames * 1000.0 / bench::median(theirsMs);
    char line[160];
    snprintf(line, sizeof line, "%s: OmbrixWriter", label);
    bench::printLine(line, oursRate, oursRate / theirsRate,
                     "   (" + std::to_string(fs::file_size(ours) >> 20) + " MiB; theirs " +
                         std::to_string(fs::file_size(theirs) >> 20) + " MiB)");
    snprintf(line, sizeof line, "%s: libavformat%s", label, encoding ? " + libavcodec" : "");
    bench::printLine(line, theirsRate, 1.0);
    fs::remove(ours);
    fs::remove(theirs);
}

}  // namespace

int main(int argc, char** argv)
{
    const bench::Parts wanted(argc, argv);
    std::printf("build/bench/bench_write%s\n", argc < 2 ? "  [uncompressed | mjpeg | mpeg4]" : "");
    try {
        av_log_set_level(AV_LOG_ERROR);
        const Material material = MakeMaterial();
        std::printf("720x480 UYVY at 30000/1001 with 48 kHz stereo PCM, %u frames, written and synced\n", Frames);
        bench::printHeader("frames/s");
        if (wanted("uncompressed"))
            Compare("uncompressed UYVY", material, "Uncompressed (UYVY)", nullptr);
        for (const auto& [part, codec] : {std::pair("mjpeg", "Motion JPEG"), std::pair("mpeg4", "MPEG-4 Part 2")})
            if (wanted(part)) {
                const std::string name = codec;
                const std::optional<VideoEncoding> encoding =
                    DefaultVideoEncoding(std::wstring(name.begin(), name.end()), AV_PIX_FMT_UYVY422);
                if (!encoding)
                    throw std::runtime_error("no encoding for " + name);
                Compare(codec, material, name, &*encoding);
            }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_write: %s\n", e.what());
        return 1;
    } catch (const char* message) {
        std::fprintf(stderr, "bench_write: %s\n", message);
        return 1;
    }
    return 0;
}
