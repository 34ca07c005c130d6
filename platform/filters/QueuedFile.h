// A file written from byte-position samples (ByteRangeSample: the start time is the offset) on a
// thread of its own, so that the stream delivering them goes on at once. Each sample is held until
// its bytes are written, in the order the samples came.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/dshow/Strmif.h"

class QueuedFile {
public:
    // Creates or empties the file; null, with *result set, when it cannot be made.
    static std::unique_ptr<QueuedFile> Create(const std::string& path, HRESULT* result);
    // Writes what is queued, then closes the file.
    ~QueuedFile();
    QueuedFile(const QueuedFile&) = delete;
    QueuedFile& operator=(const QueuedFile&) = delete;

    // Queues the sample, waiting while the queue is full. A failed write is reported by the
    // samples queued after it; later writes are still made, since bytes written back over ones
    // already in the file (a header) can still succeed.
    HRESULT Write(IMediaSample* sample);
    // Once everything queued is written: the first failure, or S_OK.
    HRESULT Drain();

private:
    explicit QueuedFile(int fd);
    void Run();
    HRESULT WriteAt(ULONGLONG offset, const BYTE* data, size_t size);

    const int m_Fd;
    ULONGLONG m_Flushed = 0;  // written data from here on is not yet on its way to the disk (thread only)
    std::mutex m_Lock;
    std::condition_variable m_Changed;
    std::deque<IMediaSample*> m_Queue;  // counted
    bool m_bWriting = false;
    bool m_bClosing = false;
    HRESULT m_Error = S_OK;
    std::thread m_Thread;
};
