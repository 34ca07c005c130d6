#include "QueuedFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// Samples waiting to be written; lent buffers are bounded by their own allocators as well.
constexpr size_t MostQueued = 16;
// Written data goes to the disk every so many bytes, so that the disk works while the stream
// comes instead of after it: long files would otherwise leave the page cache full of data to
// write when they close.
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

}  // namespace

std::unique_ptr<QueuedFile> QueuedFile::Create(const std::string& path, HRESULT* result)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    *result = fd < 0 ? FromErrno(errno) : S_OK;
    return fd < 0 ? nullptr : std::unique_ptr<QueuedFile>(new QueuedFile(fd));
}

QueuedFile::QueuedFile(int fd) : m_Fd(fd), m_Thread([this] { Run(); }) {}

QueuedFile::~QueuedFile()
{
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_bClosing = true;
    }
    m_Changed.notify_all();
    m_Thread.join();
    close(m_Fd);
}

HRESULT QueuedFile::Write(IMediaSample* sample)
{
    std::unique_lock<std::mutex> lock(m_Lock);
    m_Changed.wait(lock, [this] { return m_Queue.size() < MostQueued; });
    sample->AddRef();
    m_Queue.push_back(sample);
    m_Changed.notify_all();
    return m_Error;
}

HRESULT QueuedFile::Drain()
{
    std::unique_lock<std::mutex> lock(m_Lock);
    m_Changed.wait(lock, [this] { return m_Queue.empty() && !m_bWriting; });
    return m_Error;
}

void QueuedFile::Run()
{
    std::unique_lock<std::mutex> lock(m_Lock);
    for (;;) {
        m_Changed.wait(lock, [this] { return m_bClosing || !m_Queue.empty(); });
        if (m_Queue.empty())
            return;
        IMediaSample* sample = m_Queue.front();
        m_Queue.pop_front();
        m_bWriting = true;
        m_Changed.notify_all();
        lock.unlock();
        REFERENCE_TIME start, stop;
        BYTE* data = nullptr;
        HRESULT hr = sample->GetTime(&start, &stop);
        if (SUCCEEDED(hr))
            hr = sample->GetPointer(&data);
        if (SUCCEEDED(hr))
            hr = WriteAt(ULONGLONG(start), data, size_t(std::max<LONG>(sample->GetActualDataLength(), 0)));
        sample->Release();
        lock.lock();
        m_bWriting = false;
        if (FAILED(hr) && SUCCEEDED(m_Error))
            m_Error = hr;
        m_Changed.notify_all();
    }
}

HRESULT QueuedFile::WriteAt(ULONGLONG offset, const BYTE* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = pwrite(m_Fd, data, size, off_t(offset));
        if (written < 0 && errno == EINTR)
            continue;
        // A write that cannot go on: the disk is full, or the file at its size limit.
        if (written <= 0)
            return written < 0 ? FromErrno(errno) : HRESULT_FROM_WIN32(ERROR_DISK_FULL);
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
