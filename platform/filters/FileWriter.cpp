#include "FileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "FileName.h"

namespace {

// Written data goes to the disk every so many bytes, so that the disk works while the stream
// comes instead of after it: capture-length files would otherwise leave the page cache full of
// data to write at the end.
constexpr ULONGLONG FlushEvery = 8 << 20;

HRESULT FromErrno(int error)
{
    switch (error) {
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
        return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    case ENOENT:
    case ENOTDIR:
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    default:
        return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    }
}

// What can be known of a file before it is made, so that a name that cannot be written is
// refused here, not when the graph starts.
HRESULT CheckWritable(const std::string& path)
{
    const std::filesystem::path file(path), folder = file.has_parent_path() ? file.parent_path() : ".";
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    const bool exists = std::filesystem::exists(file, error);
    if (std::filesystem::is_directory(file, error) || access(exists ? path.c_str() : folder.c_str(), W_OK) != 0)
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    return S_OK;
}

}  // namespace

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
        if (m_FileName.empty())
            return E_UNEXPECTED;
        const std::string path = NarrowFileName(m_FileName.c_str());
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0)
            return FromErrno(errno);
        CloseFile();
        std::lock_guard<std::mutex> file(m_FileLock);
        m_Fd = fd;
        m_Flushed = 0;
        m_WriteError = S_OK;
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
        NotifyEvent(EC_COMPLETE, WriteError(), 0);
    return hr;
}

HRESULT FileWriter::SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE* type)
{
    if (!fileName)
        return E_POINTER;
    const std::string path = NarrowFileName(fileName);
    if (path.empty())
        return E_INVALIDARG;
    if (const HRESULT hr = CheckWritable(path); FAILED(hr))
        return hr;
    CAutoLock lock(&m_Lock);
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    CloseFile();
    m_FileName = fileName;
    if (type)
        m_Type = *type;
    else
        m_Type.InitMediaType();
    return S_OK;
}

HRESULT FileWriter::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type)
{
    if (!fileName)
        return E_POINTER;
    CAutoLock lock(&m_Lock);
    *fileName = nullptr;
    if (type && FAILED(CopyMediaType(type, &m_Type)))
        return E_OUTOFMEMORY;
    return m_FileName.empty() ? S_OK : AMGetWideString(m_FileName.c_str(), fileName);
}

bool FileWriter::IsOpen()
{
    std::lock_guard<std::mutex> lock(m_FileLock);
    return m_Fd >= 0;
}

HRESULT FileWriter::WriteAt(ULONGLONG offset, const BYTE* data, size_t size)
{
    std::lock_guard<std::mutex> lock(m_FileLock);
    if (m_Fd < 0)
        return VFW_E_WRONG_STATE;
    while (size > 0) {
        const ssize_t written = pwrite(m_Fd, data, size, off_t(offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            // A write that cannot go on: the disk is full or the file at its size limit.
            const HRESULT hr = written < 0 ? FromErrno(errno) : HRESULT_FROM_WIN32(ERROR_DISK_FULL);
            if (SUCCEEDED(m_WriteError))
                m_WriteError = hr;
            return hr;
        }
        data += written;
        size -= size_t(written);
        offset += ULONGLONG(written);
    }
    if (offset >= m_Flushed + FlushEvery) {
        sync_file_range(m_Fd, off_t(m_Flushed), off_t(offset - m_Flushed), SYNC_FILE_RANGE_WRITE);
        m_Flushed = offset;
    }
    return S_OK;
}

HRESULT FileWriter::EndOfStream()
{
    CAutoLock lock(&m_Lock);
    m_bEndOfStream = true;
    return m_State == State_Running ? NotifyEvent(EC_COMPLETE, WriteError(), 0) : S_OK;
}

HRESULT FileWriter::WriteError()
{
    std::lock_guard<std::mutex> lock(m_FileLock);
    return m_WriteError;
}

void FileWriter::CloseFile()
{
    std::lock_guard<std::mutex> lock(m_FileLock);
    if (m_Fd >= 0)
        close(m_Fd);
    m_Fd = -1;
}
