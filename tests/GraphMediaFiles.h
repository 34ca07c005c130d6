// Files of many kinds written by the ffmpeg tool, for the graph path's sources and decoders, and
// what is read from them is compared with: FFmpeg's own decoding in order, the ffmpeg tool's
// decoding and ffprobe's lengths.
#pragma once

#include <gtest/gtest.h>

#include "MediaFiles.h"
#include "TestSupport.h"
#include "platform/com/Guids.h"
#include "platform/ffmpeg/AvPointers.h"
#include "platform/vfw/DibConverter.h"

struct MediaFile {
    const char* name;
    const char* extension;
    std::string command;
    int video;  // stream numbers, -1 for none
    int audio;
    std::vector<std::wstring> pins;  // the source's output pins, in order
    GUID subtype;                    // the pictures' type: UYVY, YUY2, RGB24 or RGB32
    // How far samples after a seek may stray from a decode from the start: AAC's and MPEG audio's
    // decoders keep state that a flush does not reset (up to 6 seen); a misplaced block differs
    // by thousands.
    int audioSlack = 0;
    // 4:2:2 pictures, which the ffmpeg tool repacks to UYVY as they are: a check of the drawing
    // that does not go through the library's converter.
    bool toolPixels = false;
    std::string path() const { return make(name, extension, command); }
};
inline void PrintTo(const MediaFile& file, std::ostream* out) { *out << file.name; }

inline const std::string picture = testsrc("160x120", "25"), tone = lavfi("sine=frequency=440:sample_rate=44100");
inline const std::string gop = " -g 12 -bf 2";
inline const std::vector<std::wstring> videoAudio = {L"Video", L"Audio"};

// DV pictures have one size per system.
inline MediaFile dv(const char* name, const std::string& size, const std::string& rate, const std::string& format)
{
    return {name, ".dv", ffmpeg(testsrc(size, rate) + lavfi("sine=frequency=440:sample_rate=48000"), "-t 1 -pix_fmt " + format + " -ac 2 -f dv"),
            0, 1, videoAudio, MEDIASUBTYPE_UYVY};
}

inline const MediaFile mediaFiles[] = {
    {"GraphWmv2Wma2", ".wmv", ffmpeg(picture + tone, "-t 2 -c:v wmv2 -c:a wmav2 -ac 2"), 0, 1,
     {L"Raw Video 0", L"Raw Audio 1"}, MEDIASUBTYPE_YUY2},
    {"GraphWmv1", ".wmv", ffmpeg(picture, "-t 2 -c:v wmv1"), 0, -1, {L"Raw Video 0"}, MEDIASUBTYPE_RGB24},
    {"GraphWma2", ".wma", ffmpeg(lavfi("sine=frequency=300:sample_rate=22050"), "-t 2 -c:a wmav2"), -1, 0,
     {L"Raw Audio 0"}, {}},
    {"GraphH264Aac", ".mp4", ffmpeg(picture + tone, "-t 2 -c:v libx264 -preset veryfast" + gop + " -c:a aac"), 0, 1,
     videoAudio, MEDIASUBTYPE_RGB32, 8},
    {"GraphFfv1Flac", ".mkv", ffmpeg(picture + tone, "-t 2 -c:v ffv1 -pix_fmt yuv422p -c:a flac"), 0, 1, videoAudio,
     MEDIASUBTYPE_UYVY, 0, true},
    {"GraphMpeg2Mp2", ".mpg", ffmpeg(picture + tone, "-t 2 -c:v mpeg2video" + gop + " -c:a mp2 -f mpeg"), 0, 1,
     videoAudio, MEDIASUBTYPE_UYVY, 8},
    dv("GraphDvPal", "720x576", "25", "yuv420p"),
    dv("GraphDvNtsc", "720x480", "30000/1001", "yuv411p"),
    {"GraphMpeg4Pcm", ".avi", ffmpeg(picture + tone, "-t 2 -c:v mpeg4" + gop + " -c:a pcm_s16le -ac 2"), 0, 1,
     videoAudio, MEDIASUBTYPE_YUY2},
    // Raw RGB in AVI: its type names the pixel format by bit depth alone.
    {"GraphRawBgr", ".avi", ffmpeg(picture, "-t 1 -c:v rawvideo -pix_fmt bgr24"), 0, -1, {L"Video"},
     MEDIASUBTYPE_RGB24},
    // Audio packets larger than a source's first buffers: a second of PCM each.
    {"GraphFfv1LongPcm", ".nut",
     ffmpeg(picture + lavfi("sine=frequency=440:sample_rate=44100:samples_per_frame=44100"),
            "-t 2 -c:v ffv1 -pix_fmt yuv422p -c:a pcm_s16le -ac 2"),
     0, 1, videoAudio, MEDIASUBTYPE_UYVY, 0, true},
};

inline const MediaFile& mediaFile(const std::string& name)
{
    return *std::find_if(std::begin(mediaFiles), std::end(mediaFiles), [&](const MediaFile& f) { return f.name == name; });
}

// FFmpeg's decoding of the file's stream (its last video stream for -1) from its start, in display
// order with the pictures the decoder holds back at the end, drawn by the decompressors' converter.
inline std::vector<Bytes> ffmpegPictures(const std::string& path, int index, const BITMAPINFOHEADER& output,
                                         int lowres = 0, bool yuvBottomUp = false)
{
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0 || avformat_find_stream_info(context, nullptr) < 0)
        throw std::runtime_error("cannot open " + path);
    AvFormatContextPtr format(context);
    if (index < 0)
        for (unsigned k = 0; k < context->nb_streams; k++)
            if (context->streams[k]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                index = int(k);
    const AVCodecParameters* parameters = context->streams[index]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    AvCodecContextPtr decoder(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder.get(), parameters);
    decoder->lowres = lowres;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        throw std::runtime_error("cannot decode " + path);
    DibConverter converter(*DibLayout::Of(output, yuvBottomUp));
    std::vector<Bytes> pictures;
    AvPacketPtr packet(av_packet_alloc());
    AvFramePtr frame(av_frame_alloc());
    for (bool more = true; more;) {
        more = av_read_frame(context, packet.get()) >= 0;
        if (!more || packet->stream_index == index)
            avcodec_send_packet(decoder.get(), more ? packet.get() : nullptr);
        av_packet_unref(packet.get());
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            pictures.emplace_back(output.biSizeImage);
            if (!converter.Convert(frame.get(), pictures.back().data()))
                throw std::runtime_error("cannot convert a picture of " + path);
        }
    }
    return pictures;
}

// The DIB a reader hands out for its record: Width x Height pixels of the colour space, in its row order.
inline BITMAPINFOHEADER readerDib(const Ombrix_FileInfo& info)
{
    const FOURCC compression[] = {0, FCC("UYVY"), FCC("YUY2"), BI_RGB, BI_RGB};
    const WORD bits[] = {0, 16, 16, 24, 32};
    return {40, info.Width, info.BottomUp ? info.Height : -info.Height, 1, bits[info.ColorSpace % 5],
            compression[info.ColorSpace % 5], DWORD(frameBytes(info)), 0, 0, 0, 0};
}

// The ffmpeg tool's decoding of a file's first stream of a kind, as raw UYVY or 16-bit PCM.
inline Bytes toolDecode(const MediaFile& file, bool video)
{
    const std::string options = video ? "-map 0:v:0 -vsync passthrough -f rawvideo -pix_fmt uyvy422" : "-map 0:a:0 -f s16le -c:a pcm_s16le";
    return readFile(make(std::string(file.name) + (video ? "Uyvy" : "Pcm"), ".raw",
                         "ffmpeg -nostdin -v error -i " + quote(file.path()) + " " + options + " -y {out}"));
}

// ffprobe's values of the entries asked for one stream, a line for each section or packet.
inline std::string ffprobeEntries(const MediaFile& file, int index, const std::string& entries)
{
    const std::string options = "-v error -of csv=p=0 -select_streams " + std::to_string(index) + " -show_entries ";
    std::string text;
    if (run("ffprobe " + options + entries + " " + quote(file.path()), &text) != 0)
        throw std::runtime_error("ffprobe failed on " + file.path());
    return text;
}

// The length of a stream as ffprobe gives it: the stream's own, else the later of the file's and
// the end of the stream's last packet (NUT states the last packet's start). ASF states one length
// for all its streams, from the file's start: its streams end with their last packets.
inline double ffprobeSeconds(const MediaFile& file, int index)
{
    const bool asf = ffprobeEntries(file, index, "format=format_name").starts_with("asf");
    if (const double own = atof(ffprobeEntries(file, index, "stream=duration").c_str()); own > 0 && !asf)
        return own;
    double end = 0;
    std::istringstream lines(ffprobeEntries(file, index, "packet=pts_time,duration_time"));
    for (std::string line; std::getline(lines, line);)
        end = std::max(end, atof(line.c_str()) + atof(line.c_str() + line.find(',') + 1));
    const double last = end - atof(ffprobeEntries(file, index, "stream=start_time").c_str());
    return asf ? last : std::max(atof(ffprobeEntries(file, index, "format=duration").c_str()), last);
}
