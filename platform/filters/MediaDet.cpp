#include "MediaDet.h"

#include <cstring>

#include "FileName.h"
#include "OpenDecoder.h"
#include "StreamDemuxer.h"
#include "StreamEnd.h"
#include "platform/win32/DebugChannel.h"

namespace {

double Seconds(int64_t time, AVRational base) { return double(time) * av_q2d(base); }

bool IsAviPcm(const AVFormatContext* file, const AVStream* stream)
{
    const AVCodecID codec = stream->codecpar->codec_id;
    return strcmp(file->iformat->name, "avi") == 0 && codec >= AV_CODEC_ID_FIRST_AUDIO && codec < AV_CODEC_ID_ADPCM_IMA_QT;
}

// The stream's length in seconds; 0 when the file does not tell it.
double Length(AVFormatContext* file, const AVStream* stream, const std::string& path)
{
    // ASF states one duration for the whole file: its streams are measured as the readers do.
    if (strcmp(file->iformat->name, "asf") == 0) {
        const std::unique_ptr<StreamDemuxer> demuxer = StreamDemuxer::Open(path, stream->index);
        return demuxer ? Seconds(demuxer->Duration(), ReferenceTimeBase) : 0;
    }
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        return Seconds(stream->duration, stream->time_base);
    // PCM in AVI has no stream duration, but its frame count is the number of samples.
    if (IsAviPcm(file, stream) && stream->nb_frames > 0 && stream->codecpar->sample_rate > 0)
        return double(stream->nb_frames) / stream->codecpar->sample_rate;
    if (file->duration == AV_NOPTS_VALUE)
        return 0;
    // The file's duration runs from its start; a stream that starts later ends with the file, so it
    // is shorter by the difference. It may end after the file's stated length, where its last
    // packet ends.
    const double start = stream->start_time != AV_NOPTS_VALUE ? Seconds(stream->start_time, stream->time_base) : 0;
    double length = Seconds(file->duration, AV_TIME_BASE_Q);
    if (stream->start_time != AV_NOPTS_VALUE && file->start_time != AV_NOPTS_VALUE)
        length -= start - Seconds(file->start_time, AV_TIME_BASE_Q);
    if (const int64_t end = StreamEnd(file, stream->index); end != AV_NOPTS_VALUE)
        length = std::max(length, Seconds(end, stream->time_base) - start);
    return length > 0 ? length : 0;
}

}  // namespace

CUnknown* MediaDet::CreateInstance(IUnknown* outer, HRESULT*) { return new MediaDet(outer); }

HRESULT MediaDet::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IMediaDet)
        return GetInterface(static_cast<IMediaDet*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

const AVStream* MediaDet::Current() const
{
    return m_Current >= 0 && size_t(m_Current) < m_Streams.size() ? m_Streams[size_t(m_Current)] : nullptr;
}

HRESULT MediaDet::put_Filename(BSTR fileName)
{
    // The library passes a plain wide string, not a counted one: its length is not read.
    if (!fileName)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(m_Lock);
    m_File.reset();
    m_Streams.clear();
    m_Current = -1;
    m_FileName.clear();

    const std::string path = NarrowFileName(fileName);
    if (path.empty())
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    AVFormatContext* opened = nullptr;
    RouteFFmpegMessages();
    if (int error = avformat_open_input(&opened, path.c_str(), nullptr, nullptr); error < 0)
        return error == AVERROR(ENOENT) ? HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) : VFW_E_INVALID_FILE_FORMAT;
    AvFormatContextPtr file(opened);
    if (avformat_find_stream_info(file.get(), nullptr) < 0)
        return VFW_E_INVALID_FILE_FORMAT;
    std::vector<const AVStream*> streams;
    for (unsigned i = 0; i < file->nb_streams; ++i) {
        const AVMediaType type = file->streams[i]->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO)
            streams.push_back(file->streams[i]);
    }
    if (streams.empty())
        return VFW_E_INVALID_FILE_FORMAT;
    m_File = std::move(file);
    m_Streams = std::move(streams);
    m_Current = 0;
    m_FileName = fileName;
    return S_OK;
}

HRESULT MediaDet::get_Filename(BSTR* fileName)
{
    if (!fileName)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(m_Lock);
    *fileName = m_File ? SysAllocString(m_FileName.c_str()) : nullptr;
    return m_File && !*fileName ? E_OUTOFMEMORY : S_OK;
}

HRESULT MediaDet::get_OutputStreams(LONG* count)
{
    if (!count)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(m_Lock);
    *count = LONG(m_Streams.size());
    return m_File ? S_OK : E_INVALIDARG;
}

HRESULT MediaDet::get_CurrentStream(LONG* stream)
{
    if (!stream)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(m_Lock);
    *stream = m_Current;
    return Current() ? S_OK : E_INVALIDARG;
}

HRESULT MediaDet::put_CurrentStream(LONG stream)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (stream < 0 || size_t(stream) >= m_Streams.size())
        return E_INVALIDARG;
    m_Current = stream;
    return S_OK;
}

template <class Out, class Answer>
HRESULT MediaDet::AboutCurrent(Out* out, Answer answer)
{
    if (!out)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(m_Lock);
    const AVStream* stream = Current();
    return stream ? answer(*stream) : E_INVALIDARG;
}

HRESULT MediaDet::get_StreamType(GUID* type)
{
    return AboutCurrent(type, [&](const AVStream& stream) {
        *type = stream.codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? MEDIATYPE_Video : MEDIATYPE_Audio;
        return S_OK;
    });
}

HRESULT MediaDet::get_StreamLength(double* seconds)
{
    return AboutCurrent(seconds, [&](const AVStream& stream) {
        *seconds = Length(m_File.get(), &stream, m_File->url);
        return S_OK;
    });
}

HRESULT MediaDet::get_FrameRate(double* rate)
{
    if (rate)
        *rate = 0;
    return AboutCurrent(rate, [&](const AVStream& stream) { return FrameRate(stream, rate); });
}

HRESULT MediaDet::FrameRate(const AVStream& stream, double* rate)
{
    if (stream.codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
        return VFW_E_INVALIDMEDIATYPE;
    for (AVRational frameRate : {stream.avg_frame_rate, stream.r_frame_rate})
        if (frameRate.num > 0 && frameRate.den > 0) {
            *rate = av_q2d(frameRate);
            return S_OK;
        }
    return S_FALSE;
}

HRESULT MediaDet::get_Filter(IUnknown**) { return E_NOTIMPL; }
HRESULT MediaDet::put_Filter(IUnknown*) { return E_NOTIMPL; }
HRESULT MediaDet::get_StreamTypeB(BSTR*) { return E_NOTIMPL; }
HRESULT MediaDet::GetBitmapBits(double, LONG*, char*, LONG, LONG) { return E_NOTIMPL; }
HRESULT MediaDet::WriteBitmapBits(double, LONG, LONG, BSTR) { return E_NOTIMPL; }
HRESULT MediaDet::get_StreamMediaType(AM_MEDIA_TYPE*) { return E_NOTIMPL; }
HRESULT MediaDet::GetSampleGrabber(IUnknown**) { return E_NOTIMPL; }
HRESULT MediaDet::EnterBitmapGrabMode(double) { return E_NOTIMPL; }
