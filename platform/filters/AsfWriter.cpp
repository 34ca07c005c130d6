#include "AsfWriter.h"

#include "PushedFormats.h"
#include "platform/com/Guids.h"

namespace {

constexpr int MostChannels = 2;

const VideoCodec& Wmv2()
{
    static const VideoCodec codec{L"Windows Media Video 8", CLSID_WMAsfWriter, "wmv2", FCC("WMV2"),
                                  AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, true, "",
                                  {{"Video bit rate (kbit/s)", 2000, 32, 20000, "b", Kilobits}}};
    return codec;
}

const AudioCodec& Wmav2()
{
    static const AudioCodec codec{L"Windows Media Audio 2", CLSID_WMAsfWriter, "wmav2", 0x0161,
                                  AudioCodec::Layout::Plain, {{"Audio bit rate (kbit/s)", 128, 16, 320, "b", Kilobits}}};
    return codec;
}

// The writer's settings: the video codec's, then the audio codec's.
const std::vector<CodecSetting>& Settings()
{
    static const std::vector<CodecSetting> settings{Wmv2().settings[0], Wmav2().settings[0]};
    return settings;
}

}  // namespace

CUnknown* AsfWriter::CreateInstance(IUnknown* outer, HRESULT* result)
{
    *result = S_OK;
    return new AsfWriter(outer);
}

AsfWriter::AsfWriter(IUnknown* outer)
    : CBaseFilter("ASF Writer", outer, &m_Lock, CLSID_WMAsfWriter), m_Video(this, &m_Lock, true),
      m_Audio(this, &m_Lock, false), m_Values(InitialValues(Settings()))
{
}

AsfWriter::~AsfWriter() = default;

HRESULT AsfWriter::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IFileSinkFilter)
        return GetInterface(static_cast<IFileSinkFilter*>(this), object);
    if (iid == IID_IAMFilterMiscFlags)
        return GetInterface(static_cast<IAMFilterMiscFlags*>(this), object);
    if (iid == IID_IFilterSettings)
        return GetInterface(static_cast<IFilterSettings*>(this), object);
    if (iid == IID_ISpecifyPropertyPages)
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), object);
    return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

std::vector<Ombrix_Setting> AsfWriter::GetSettings()
{
    std::lock_guard<std::mutex> lock(m_SettingsLock);
    return SettingsAt(Settings(), m_Values);
}

HRESULT AsfWriter::PutSettings(const std::vector<Ombrix_Setting>& settings)
{
    std::lock_guard<std::mutex> lock(m_SettingsLock);
    return TakeSettings(Settings(), settings, &m_Values);
}

std::unique_ptr<PictureEncoder> AsfWriter::OpenVideo(const CMediaType& type) const
{
    const std::optional<PushedVideo> pushed = PushedVideoOf(type);
    if (!pushed)
        return nullptr;
    std::lock_guard<std::mutex> lock(m_SettingsLock);
    const std::optional<VideoEncoding> encoding =
        VideoEncodingOf(Wmv2(), {m_Values[0]}, PictureEncoder::InputFormat(pushed->layout));
    return encoding ? PictureEncoder::Open(*encoding, pushed->layout, pushed->frameDuration) : nullptr;
}

std::unique_ptr<AudioEncoder> AsfWriter::OpenAudio(const CMediaType& type) const
{
    const std::optional<WAVEFORMATEX> pcm = PcmOf(type);
    if (!pcm || pcm->wBitsPerSample != 16 || pcm->nChannels > MostChannels)
        return nullptr;
    std::lock_guard<std::mutex> lock(m_SettingsLock);
    return AudioEncoder::Open(Wmav2(), {m_Values[1]}, *pcm);
}

bool AsfWriter::Accepts(bool video, const CMediaType& type) const
{
    return video ? OpenVideo(type) != nullptr : OpenAudio(type) != nullptr;
}

HRESULT AsfWriter::Pause()
{
    CAutoLock lock(&m_Lock);
    if (m_State == State_Stopped) {
        if (m_FileName.Empty())
            return E_UNEXPECTED;
        const bool video = m_Video.IsConnected(), audio = m_Audio.IsConnected();
        if (!video && !audio)
            return VFW_E_NOT_CONNECTED;
        std::unique_ptr<PictureEncoder> videoEncoder = video ? OpenVideo(m_Video.CurrentMediaType()) : nullptr;
        std::unique_ptr<AudioEncoder> audioEncoder = audio ? OpenAudio(m_Audio.CurrentMediaType()) : nullptr;
        if (video != (videoEncoder != nullptr) || audio != (audioEncoder != nullptr))
            return VFW_E_TYPE_NOT_ACCEPTED;
        std::lock_guard<std::mutex> files(m_FileLock);
        m_FrameBytes = video ? PushedVideoOf(m_Video.CurrentMediaType())->layout.Size() : 0;
        m_BlockAlign = audio ? PcmOf(m_Audio.CurrentMediaType())->nBlockAlign : 0;
        m_File = AsfFile::Create(m_FileName.Path(), std::move(videoEncoder), std::move(audioEncoder));
        if (!m_File)
            return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
        m_bVideoEnded = !video;
        m_bAudioEnded = !audio;
        m_bEndOfStream = false;
    }
    return CBaseFilter::Pause();
}

HRESULT AsfWriter::Run(REFERENCE_TIME start)
{
    CAutoLock lock(&m_Lock);
    const bool wasRunning = m_State == State_Running;
    const HRESULT hr = CBaseFilter::Run(start);
    std::lock_guard<std::mutex> files(m_FileLock);
    if (SUCCEEDED(hr) && !wasRunning && m_bEndOfStream)
        NotifyEvent(EC_COMPLETE, m_Status, 0);
    return hr;
}

HRESULT AsfWriter::Stop()
{
    CAutoLock lock(&m_Lock);
    {
        std::lock_guard<std::mutex> files(m_FileLock);
        if (m_File)
            FinishFile();
    }
    return CBaseFilter::Stop();
}

HRESULT AsfWriter::SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE* type)
{
    if (const HRESULT hr = FileSinkName::Check(fileName); FAILED(hr))
        return hr;
    CAutoLock lock(&m_Lock);
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    m_FileName.Take(fileName, type);
    return S_OK;
}

HRESULT AsfWriter::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type)
{
    CAutoLock lock(&m_Lock);
    return m_FileName.Get(fileName, type);
}

HRESULT AsfWriter::Receive(bool video, IMediaSample* sample)
{
    std::lock_guard<std::mutex> lock(m_FileLock);
    if (!m_File)
        return m_bEndOfStream || FAILED(m_Status) ? S_FALSE : VFW_E_WRONG_STATE;
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)))
        return Fail();
    const size_t length = size_t(sample->GetActualDataLength());
    if (video)
        return length >= m_FrameBytes && m_File->WriteFrame(data) ? S_OK : Fail();
    return m_File->WriteAudio(data, int(length / size_t(m_BlockAlign))) ? S_OK : Fail();
}

HRESULT AsfWriter::EndOfStream(bool video)
{
    CAutoLock lock(&m_Lock);
    std::lock_guard<std::mutex> files(m_FileLock);
    if (!m_File)
        return S_OK;
    if (!(video ? m_File->EndVideo() : m_File->EndAudio()))
        return Fail();
    (video ? m_bVideoEnded : m_bAudioEnded) = true;
    if (!m_bVideoEnded || !m_bAudioEnded)
        return S_OK;
    if (FAILED(FinishFile()))
        return Fail();
    m_bEndOfStream = true;
    return m_State == State_Running ? NotifyEvent(EC_COMPLETE, S_OK, 0) : S_OK;
}

HRESULT AsfWriter::FinishFile()
{
    const bool finished = m_File->Finish();
    m_File.reset();
    m_Status = finished ? S_OK : E_FAIL;
    return m_Status;
}

HRESULT AsfWriter::Fail()
{
    m_File.reset();
    m_Status = E_FAIL;
    NotifyEvent(EC_ERRORABORT, E_FAIL, 0);
    return E_FAIL;
}
