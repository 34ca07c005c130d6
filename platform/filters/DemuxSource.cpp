#include "DemuxSource.h"

#include <sys/stat.h>

#include <cstring>

#include "DemuxPin.h"
#include "FileName.h"

CUnknown* DemuxSource::CreateFileSource(IUnknown* outer, HRESULT* result)
{
    *result = S_OK;
    return new DemuxSource(outer, Kind::File);
}

CUnknown* DemuxSource::CreateAsfReader(IUnknown* outer, HRESULT* result)
{
    *result = S_OK;
    return new DemuxSource(outer, Kind::Asf);
}

DemuxSource::DemuxSource(IUnknown* outer, Kind kind)
    : CSource(kind == Kind::File ? "File Source" : "ASF Reader", outer,
              kind == Kind::File ? CLSID_AsyncReader : CLSID_WMAsfReader),
      m_Kind(kind)
{
}

HRESULT DemuxSource::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IFileSourceFilter)
        return GetInterface(static_cast<IFileSourceFilter*>(this), object);
    return CSource::NonDelegatingQueryInterface(iid, object);
}

std::wstring DemuxSource::PinName(bool video, int output, int ofKind) const
{
    if (m_Kind == Kind::Asf)
        return (video ? L"Raw Video " : L"Raw Audio ") + std::to_wstring(output);
    const std::wstring name = video ? L"Video" : L"Audio";
    return ofKind == 0 ? name : name + L" " + std::to_wstring(ofKind + 1);
}

HRESULT DemuxSource::Load(LPCOLESTR fileName, const AM_MEDIA_TYPE*)
{
    if (!fileName)
        return E_POINTER;
    CAutoLock lock(&m_cStateLock);
    if (!m_FileName.empty() || !m_paStreams.empty())
        return E_UNEXPECTED;
    const std::string path = NarrowFileName(fileName);
    struct stat info;
    if (path.empty() || stat(path.c_str(), &info) != 0)
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0)
        return VFW_E_UNKNOWN_FILE_TYPE;
    const AvFormatContextPtr file(opened);
    if (avformat_find_stream_info(opened, nullptr) < 0 || (m_Kind == Kind::Asf && strcmp(opened->iformat->name, "asf")))
        return VFW_E_UNKNOWN_FILE_TYPE;
    int ofKind[2] = {0, 0};
    for (unsigned i = 0; i < opened->nb_streams; i++) {
        const AVStream& stream = *opened->streams[i];
        // A cover picture is not a stream of pictures.
        if (stream.disposition & AV_DISPOSITION_ATTACHED_PIC)
            continue;
        std::optional<StreamFormat> format = CompressedFormat(stream);
        if (!format)
            continue;
        // PCM goes out under libavcodec's name for it, so that the audio decoder, which starts
        // after a seek at the exact sample, always stands between the pin and a renderer.
        if (format->subtype == MEDIASUBTYPE_PCM)
            format->subtype = LibavcodecSubtype(stream.codecpar->codec_id);
        std::unique_ptr<StreamDemuxer> demuxer = StreamDemuxer::Open(path, int(i));
        if (!demuxer)
            continue;
        const bool video = format->majortype == MEDIATYPE_Video;
        const std::wstring name = PinName(video, int(m_paStreams.size()), ofKind[video]++);
        HRESULT hr = S_OK;
        // The pin registers itself with the filter, which deletes it.
        new DemuxPin(this, name.c_str(), std::move(demuxer), std::move(*format), &hr);
        if (FAILED(hr)) {
            while (!m_paStreams.empty())
                delete m_paStreams.back();
            return hr;
        }
    }
    if (m_paStreams.empty())
        return VFW_E_INVALID_FILE_FORMAT;
    m_FileName = fileName;
    return S_OK;
}

HRESULT DemuxSource::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type)
{
    if (!fileName)
        return E_POINTER;
    CAutoLock lock(&m_cStateLock);
    *fileName = nullptr;
    if (type)
        memset(type, 0, sizeof *type);
    if (m_FileName.empty())
        return S_OK;
    return AMGetWideString(m_FileName.c_str(), fileName);
}
