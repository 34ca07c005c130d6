// An ASF file being written: libavformat's asf muxer writing through I/O of our own, which can
// seek, so that the header is written again with the sizes and durations at the end. One video
// stream encoded by a PictureEncoder and one audio stream by an AudioEncoder, either optional.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "AudioEncoder.h"
#include "PictureEncoder.h"

class AsfFile {
public:
    // Creates or empties the file and writes the header; null when that fails.
    static std::unique_ptr<AsfFile> Create(const std::string& path, std::unique_ptr<PictureEncoder> video,
                                           std::unique_ptr<AudioEncoder> audio);
    ~AsfFile();

    // Each false once the encoder or a write fails.
    bool WriteFrame(const uint8_t* bits);
    bool WriteAudio(const uint8_t* pcm, int frames);
    // A stream's end: what its encoder holds is written.
    bool EndVideo();
    bool EndAudio();
    // The index and the header again; the file is closed.
    bool Finish();

private:
    struct Closer {
        void operator()(FILE* file) const { fclose(file); }
        void operator()(AVFormatContext* context) const { avformat_free_context(context); }
        void operator()(AVIOContext* io) const;
    };
    AsfFile() = default;
    static int Write(void* opaque, uint8_t* data, int size);
    static int64_t Seek(void* opaque, int64_t offset, int whence);
    bool AddStream(const AVCodecContext& encoder);
    bool Mux(AvPacketPtr packet, int stream, AVRational timeBase);
    bool MuxVideo();
    bool MuxAudio();

    std::unique_ptr<FILE, Closer> m_File;
    std::unique_ptr<AVIOContext, Closer> m_Io;
    std::unique_ptr<AVFormatContext, Closer> m_Format;
    std::unique_ptr<PictureEncoder> m_Video;
    std::unique_ptr<AudioEncoder> m_Audio;
    int m_VideoStream = -1, m_AudioStream = -1;
};
