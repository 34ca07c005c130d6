// OmbrixWriter as a host drives it (720x480 UYVY frames at 30000/1001 handed over through the lent
// buffers, 48 kHz 16-bit stereo PCM after each frame) against libavformat's avi muxer writing the
// same frames and samples (and, for compressed entries, the same encoder driven directly through
// libavcodec, fed from the same UYVY frames through libswscale), in the same run:
//  1. uncompressed UYVY + PCM;
//  2. Motion JPEG + PCM and MPEG-4 part 2 + PCM.
// Each write ends with the file on disk (fsync), so both sides pay for the disk alike. Frames per
// second, median of alternated rounds; the ratio is ours over theirs: above 1, we are faster.
#include <cstdio>
#include <stdexcept>
#include <string>

#include "WriteMaterial.h"
#include "platform/filters/VideoEncoding.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace fs = std::filesystem;
using bench::Material;

namespace {

constexpr int Width = 720, Height = 480;
constexpr unsigned Rate = 30000, Scale = 1001, SampleRate = 48000;
constexpr unsigned Frames = 300;  // ten seconds
constexpr int Rounds = 7;
constexpr size_t FrameBytes = size_t(Width) * Height * 2;

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
        const uint8_t* frame = m.Frame(n);
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
    bench::syncToDisk(path);
}

void Compare(const char* label, const Material& m, const std::string& codec, const VideoEncoding* encoding)
{
    const fs::path ours = bench::dataDirectory() / "written-ours.avi", theirs = bench::dataDirectory() / "written-theirs.avi";
    const std::vector<bench::Pace> paces = bench::medianPaces(
        Rounds, Frames,
        {[&] { bench::writeWithOmbrix(m, codec, "Uncompressed PCM", ours); }, [&] { WriteTheirs(m, encoding, theirs); }});
    const double oursRate = paces[0].rate, theirsRate = paces[1].rate;
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
    return bench::Reporting("bench_write", [&] {
        av_log_set_level(AV_LOG_ERROR);
        const Material material = bench::makeMaterial(Width, Height, Rate, Scale, Frames);
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
    });
}
