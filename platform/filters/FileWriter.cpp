#include "FileWriter.h"

CUnknown* FileWriter::CreateInstance(IUnknown* outer, HRESULT* result)
{
    *result = S_OK;
    return new FileWriter(outer);
}

FileWriter::FileWriter(IUnknown* outer)
    : CBaseFilter("File Writer", outer, &m_Lock, CLSID_FileWriter), m_Pin(this, &m_Lock, nullptr)
{
}

FileWriter::~FileWriter() { CloseFile(); }

HRESULT FileWriter::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IFileSinkFilter)
        return GetInterface(static_cast<IFileSinkFilter*>(this), object);
    if (iid == IID_IAMFilterMiscFlags)
        return GetInterface(static_cast<IAMFilterMiscFlags*>(this), object);
    return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

HRESULT FileWriter::Pause()
{
    CAutoLock lock(&m_Lock);
    if (m_State == State_Stopped) {
        if (m_FileName.Empty())
            return E_UNEXPECTED;
        // The file before is finished first: it may be the same file.
        CloseFile();
        HRESULT hr;
        std::unique_ptr<QueuedFile> file = QueuedFile::Create(m_FileName.Path(), &hr);
        if (!file)
            return hr;
        std::lock_guard<std::mutex> files(m_FileLock);
        m_File = std::move(file);
        m_bEndOfStream = false;
    }
    return CBaseFilter::Pause();
}

HRESULT FileWriter::Run(REFERENCE_TIME start)
{
    CAutoLock lock(&m_Lock);
    const bool wasRunning = m_State == State_Running;
    const HRESULT hr = CBaseFilter::Run(start);
    if (SUCCEEDED(hr) && !wasRunning && m_bEndOfStream)
        NotifyEvent(EC_COMPLETE, Drain(), 0);
    return hr;
}

HRESULT FileWriter::SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE* type)
{
    if (const HRESULT hr = FileSinkName::Check(fileName); FAILED(hr))
        return hr;
    CAutoLock lock(&m_Lock);
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    CloseFile();
    m_FileName.Take(fileName, type);
    return S_OK;
}

HRESULT FileWriter::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type)
{
    CAutoLock lock(&m_Lock);
    return m_FileName.Get(fileName, type);
}

bool FileWriter::IsOpen()
{
    std::lock_guard<std::mutex> lock(m_FileLock);
    return m_File != nullptr;
}

HRESULT FileWriter::Write(IMediaSample* sample)
{
    std::lock_guard<std::mutex> lock(m_FileLock);
    return m_File ? m_File->Write(sample) : VFW_E_WRONG_STATE;
}

HRESULT FileWriter::Drain()
{
    std::lock_guard<std::mutex> lock(m_FileLock);
    return m_File ? m_File->Drain() : S_OK;
}

HRESULT FileWriter::EndOfStream()
{
    const HRESULT status = Drain();
    CAutoLock lock(&m_Lock);
    m_bEndOfStream = true;
    return m_State == State_Running ? NotifyEvent(EC_COMPLETE, status, 0) : S_OK;
}

void FileWriter::CloseFile()
{
    std::lock_guard<std::mutex> lock(m_FileLock);
    m_File.reset();
}
