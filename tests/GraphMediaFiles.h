// Files of many kinds written by the ffmpeg tool, for the graph path, and FFmpeg's own decoding of
// them in order: the reference that pictures and samples read through sources, decoders and
// renderers are compared with.
#pragma once

#include <gtest/gtest.h>

#include "MediaFiles.h"
#include "TestSupport.h"
#include "platform/ffmpeg/AvPointers.h"
#include "platform/vfw/DibConverter.h"

struct MediaFile {
    const char* name;
    const char* extension;
    std::string command;
    int video;  // stream numbers, -1 for none
    int audio;
    FOURCC output;  // the pictures' DIB: UYVY, YUY2, or BI_RGB
    WORD bits;
    // How far samples after a seek may stray from a decode from the start: AAC's noise bands and
    // MPEG audio's dither draw on a state that everything decoded before has moved on.
    int audioSlack = 0;
    std::string path() const { return make(name, extension, command); }
};
inline void PrintTo(const MediaFile& file, std::ostream* out) { *out << file.name; }

inline const std::string picture = testsrc("320x240", "25"), tone44k = lavfi("sine=frequency=440:sample_rate=44100");
inline const std::string gop = " -g 12 -bf 2";

// DV pictures have one size per system.
inline MediaFile dv(const char* name, const std::string& size, const std::string& rate, const std::string& format)
{
    return {name, ".dv", ffmpeg(testsrc(size, rate) + lavfi("sine=frequency=440:sample_rate=48000"),
                                "-t 1.6 -c:v dvvideo -pix_fmt " + format + " -ac 2 -f dv"), 0, 1, FCC("UYVY"), 16};
}

inline const MediaFile mediaFiles[] = {
    {"Wmv2Wma2", ".wmv", ffmpeg(picture + tone44k, "-t 3 -c:v wmv2 -c:a wmav2 -ac 2"), 0, 1, FCC("YUY2"), 16},
    {"Wmv1", ".wmv", ffmpeg(picture, "-t 2 -c:v wmv1"), 0, -1, BI_RGB, 24},
    {"Wma2", ".wma", ffmpeg(lavfi("sine=frequency=300:sample_rate=22050"), "-t 3 -c:a wmav2"), -1, 0, 0, 0},
    {"H264Aac", ".mp4", ffmpeg(picture + tone44k, "-t 3 -c:v libx264 -preset veryfast" + gop + " -c:a aac"), 0, 1,
     BI_RGB, 32, 4},
    {"Ffv1Flac", ".mkv", ffmpeg(picture + tone44k, "-t 2 -c:v ffv1 -pix_fmt yuv422p -c:a flac"), 0, 1, FCC("UYVY"), 16},
    {"Mpeg2Mp2", ".mpg", ffmpeg(picture + tone44k, "-t 3 -c:v mpeg2video" + gop + " -c:a mp2 -f mpeg"), 0, 1,
     FCC("UYVY"), 16, 4},
    dv("DvPal", "720x576", "25", "yuv420p"),
    dv("DvNtsc", "720x480", "30000/1001", "yuv411p"),
    {"Mpeg4Pcm", ".avi", ffmpeg(picture + tone44k, "-t 3 -c:v mpeg4" + gop + " -c:a pcm_s16le"), 0, 1, FCC("YUY2"), 16},
};

inline std::vector<MediaFile> filesWith(int MediaFile::*stream)
{
    std::vector<MediaFile> found;
    for (const MediaFile& file : mediaFiles)
        if (file.*stream >= 0)
            found.push_back(file);
    return found;
}

inline BITMAPINFOHEADER dib(int width, int height, FOURCC compression, WORD bits)
{
    return {40, width, height, 1, bits, compression, DWORD((width * bits + 31) / 32 * 4 * height), 0, 0, 0, 0};
}

// FFmpeg's decoding of the file's stream from its start, in order, drawn by the same converter.
inline std::vector<Bytes> ffmpegPictures(const std::string& path, int index, const BITMAPINFOHEADER& output, int lowres = 0)
{
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0 || avformat_find_stream_info(context, nullptr) < 0)
        throw std::runtime_error("cannot open " + path);
    AvFormatContextPtr format(context);
    const AVCodecParameters* parameters = context->streams[index]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    AvCodecContextPtr decoder(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder.get(), parameters);
    decoder->lowres = lowres;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        throw std::runtime_error("cannot decode " + path);
    DibConverter converter(*DibLayout::Of(output, false));
    std::vector<Bytes> pictures;
    AvPacketPtr packet(av_packet_alloc());
    AvFramePtr frame(av_frame_alloc());
    for (bool more = true; more;) {
        more = av_read_frame(context, packet.get()) >= 0;
        if (more && packet->stream_index != index) {
            av_packet_unref(packet.get());
            continue;
        }
        avcodec_send_packet(decoder.get(), more ? packet.get() : nullptr);
        av_packet_unref(packet.get());
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            pictures.emplace_back(output.biSizeImage);
            converter.Convert(frame.get(), pictures.back().data());
        }
    }
    return pictures;
}

// The ffmpeg tool's decoding of the file's audio stream to 16-bit PCM.
inline Bytes ffmpegPcm(const MediaFile& file)
{
    return readFile(make(std::string(file.name) + "Pcm", ".raw", "ffmpeg -v error -i " + quote(file.path()) + " -map 0:" +
                                                                     std::to_string(file.audio) +
                                                                     " -f s16le -c:a pcm_s16le -y {out}"));
}

// The length of the file's longest stream as ffprobe gives it (the streams' own, else the file's).
inline double ffprobeSeconds(const MediaFile& file, int index)
{
    std::string text;
    if (run("ffprobe -v error -of csv=p=0 -select_streams " + std::to_string(index) +
                " -show_entries stream=duration:format=duration " + quote(file.path()),
            &text) != 0)
        throw std::runtime_error("ffprobe failed on " + file.path());
    double seconds = 0;
    for (std::istringstream lines(text); std::getline(lines, text) && seconds == 0;)
        seconds = atof(text.c_str());
    return seconds;
}
