// Positioned reads whose completion is polled: the mechanism behind overlapped ReadFile.
// Every open file has its own reader. A finished read is recorded in its OVERLAPPED
// (Internal leaves STATUS_PENDING, InternalHigh holds the bytes read).
#pragma once

#include <cstdint>
#include <memory>

#include "Win32Types.h"

// In the order tried: a back-end the system refuses falls back to the next one.
enum class AsyncBackend { IoUring, LinuxAio, Pread };

// The back-end that files opened from now on try first (io_uring unless changed).
void SetAsyncBackend(AsyncBackend first);
AsyncBackend GetAsyncBackend();

class AsyncReader;
// For tests: a stand-in put in front of the reader of every file opened from now on (null: none),
// given the file and its back-end.
using AsyncReaderWrapper = std::unique_ptr<AsyncReader> (*)(int fd, std::unique_ptr<AsyncReader> backend);
void SetAsyncReaderWrapper(AsyncReaderWrapper wrapper);

class AsyncReader {
public:
    // Reads in flight per reader; more wait for one of them to finish first.
    static constexpr unsigned Depth = 2;

    // The first back-end from `first` on that the system accepts for fd; never null.
    static std::unique_ptr<AsyncReader> Create(int fd, AsyncBackend first);
    // The reader of a file opened now: Create from the preferred back-end on, behind the stand-in
    // if one is set.
    static std::unique_ptr<AsyncReader> ForFile(int fd);

    // Each back-end's destructor waits for its reads in flight, so that none outlives its file.
    virtual ~AsyncReader() = default;

    virtual AsyncBackend Backend() const = 0;
    // Starts reading count bytes at offset into buffer. True while the read runs; false when
    // it finished (or failed) at once, its result already recorded in request.
    virtual bool Start(OVERLAPPED* request, void* buffer, DWORD count, uint64_t offset) = 0;
    // Records every read that has finished; never blocks.
    virtual void Poll() = 0;
    // Blocks until at least one read in flight has finished and is recorded, or until
    // milliseconds have passed (INFINITE: no limit).
    virtual void Wait(DWORD milliseconds) = 0;
    // Ends a read that has not begun, recorded as cancelled (ECANCELED); false when it has (it
    // finishes as it would).
    virtual bool Cancel(OVERLAPPED* request) { return false; }
};

// Records a finished read in its request; result: bytes read, or a negated errno.
void RecordCompletion(OVERLAPPED* request, long result);

// The Win32 error that a recorded result stands for: ERROR_SUCCESS, ERROR_HANDLE_EOF
// when nothing was left to read, or the failure's error.
DWORD CompletionError(const OVERLAPPED* request);
