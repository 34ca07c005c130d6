#include "AsfFile.h"

#include <sys/stat.h>

namespace {

constexpr int IoBufferSize = 65536;

}  // namespace

void AsfFile::Closer::operator()(AVIOContext* io) const
{
    av_freep(&io->buffer);
    avio_context_free(&io);
}

std::unique_ptr<AsfFile> AsfFile::Create(const std::string& path, std::unique_ptr<PictureEncoder> video,
                                         std::unique_ptr<AudioEncoder> audio)
{
    std::unique_ptr<AsfFile> file(new AsfFile);
    file->m_Video = std::move(video);
    file->m_Audio = std::move(audio);
    AVFormatContext* format = nullptr;
    if (avformat_alloc_output_context2(&format, nullptr, "asf", nullptr) < 0)
        return nullptr;
    file->m_Format.reset(format);
    file->m_File.reset(fopen(path.c_str(), "w+b"));
    auto* buffer = static_cast<uint8_t*>(av_malloc(IoBufferSize));
    if (!file->m_File || !buffer)
        return av_free(buffer), nullptr;
    file->m_Io.reset(avio_alloc_context(buffer, IoBufferSize, 1, file.get(), nullptr, Write, Seek));
    if (!file->m_Io)
        return av_free(buffer), nullptr;
    format->pb = file->m_Io.get();
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    // WMA's first packet, which decodes to nothing, goes before the start (ASF times count from
    // the preroll): moving every stream later instead would start the file with no picture.
    format->avoid_negative_ts = AVFMT_AVOID_NEG_TS_DISABLED;
    if (file->m_Video) {
        file->m_VideoStream = int(format->nb_streams);
        if (!file->AddStream(file->m_Video->Encoder()))
            return nullptr;
    }
    if (file->m_Audio) {
        file->m_AudioStream = int(format->nb_streams);
        if (!file->AddStream(file->m_Audio->Encoder()))
            return nullptr;
    }
    if (avformat_write_header(format, nullptr) < 0)
        return nullptr;
    return file;
}

AsfFile::~AsfFile()
{
    // The format context goes before the I/O it writes through.
    m_Format.reset();
}

bool AsfFile::AddStream(const AVCodecContext& encoder)
{
    AVStream* stream = avformat_new_stream(m_Format.get(), nullptr);
    if (!stream || avcodec_parameters_from_context(stream->codecpar, &encoder) < 0)
        return false;
    stream->time_base = encoder.time_base;
    return true;
}

int AsfFile::Write(void* opaque, uint8_t* data, int size)
{
    FILE* file = static_cast<AsfFile*>(opaque)->m_File.get();
    return fwrite(data, 1, size_t(size), file) == size_t(size) ? size : AVERROR(EIO);
}

int64_t AsfFile::Seek(void* opaque, int64_t offset, int whence)
{
    FILE* file = static_cast<AsfFile*>(opaque)->m_File.get();
    if (whence == AVSEEK_SIZE) {
        struct stat status;
        return fflush(file) == 0 && fstat(fileno(file), &status) == 0 ? int64_t(status.st_size) : AVERROR(EIO);
    }
    if (fseeko(file, off_t(offset), whence & ~AVSEEK_FORCE) != 0)
        return AVERROR(EIO);
    return int64_t(ftello(file));
}

bool AsfFile::Mux(AvPacketPtr packet, int stream, AVRational timeBase)
{
    packet->stream_index = stream;
    av_packet_rescale_ts(packet.get(), timeBase, m_Format->streams[stream]->time_base);
    return av_interleaved_write_frame(m_Format.get(), packet.get()) >= 0;
}

bool AsfFile::MuxVideo()
{
    while (AvPacketPtr packet = m_Video->Next())
        if (!Mux(std::move(packet), m_VideoStream, m_Video->Encoder().time_base))
            return false;
    return true;
}

bool AsfFile::MuxAudio()
{
    AudioEncoder::Packet packet;
    while (m_Audio->Next(&packet)) {
        // Placed by the samples before it: the encoder's own times count its delay.
        packet.packet->pts = packet.packet->dts = packet.first;
        packet.packet->duration = packet.count;
        if (!Mux(std::move(packet.packet), m_AudioStream, {1, m_Audio->Encoder().sample_rate}))
            return false;
    }
    return true;
}

bool AsfFile::WriteFrame(const uint8_t* bits) { return m_Video && m_Video->Encode(bits) && MuxVideo(); }

bool AsfFile::WriteAudio(const uint8_t* pcm, int frames) { return m_Audio && m_Audio->Push(pcm, frames) && MuxAudio(); }

bool AsfFile::EndVideo() { return m_Video && m_Video->Drain() && MuxVideo(); }

bool AsfFile::EndAudio() { return m_Audio && m_Audio->Finish() && MuxAudio(); }

bool AsfFile::Finish()
{
    const bool written = av_write_trailer(m_Format.get()) >= 0 && m_Io->error >= 0;
    m_Format.reset();
    m_Io.reset();
    FILE* file = m_File.release();
    return fclose(file) == 0 && written;
}
