#include "File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <utility>

#include "AsyncReader.h"

namespace {

// With FILE_FLAG_NO_BUFFERING offsets, lengths and buffers are whole sectors.
constexpr uint64_t SectorSize = 512;
constexpr DWORD InvalidFileSize = 0xFFFFFFFF;

thread_local DWORD lastError = ERROR_SUCCESS;

// What a HANDLE from CreateFileA points to.
struct PlatformFile {
    PlatformFile(int descriptor, bool noBuffering)
        : fd(descriptor), unbuffered(noBuffering), reader(AsyncReader::Create(descriptor, GetAsyncBackend()))
    {
    }
    // The reader goes first: it waits for the reads in flight on fd.
    ~PlatformFile()
    {
        reader.reset();
        if (fd >= 0)
            close(fd);
    }

    int fd;
    bool unbuffered;
    std::unique_ptr<AsyncReader> reader;
};

PlatformFile* FileOf(HANDLE handle)
{
    return handle && handle != INVALID_HANDLE_VALUE ? static_cast<PlatformFile*>(handle) : nullptr;
}

BOOL Fail(DWORD error)
{
    lastError = error;
    return FALSE;
}

DWORD ErrorFromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EIO:
        return ERROR_IO_DEVICE;
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

// The outcome of a read that has finished, as ReadFile and GetOverlappedResult report it.
BOOL Finished(const OVERLAPPED* overlapped, DWORD* transferred)
{
    if (transferred)
        *transferred = (DWORD)overlapped->InternalHigh;
    DWORD error = CompletionError(overlapped);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

}  // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, void* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile)
{
    // Reading an existing file is all the library asks of it.
    if (!name || access != GENERIC_READ || disposition != OPEN_EXISTING) {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    bool unbuffered = flags & FILE_FLAG_NO_BUFFERING;
    int fd = open(name, O_RDONLY | O_CLOEXEC | (unbuffered ? O_DIRECT : 0));
    // A file system without O_DIRECT refuses it with EINVAL; its reads keep the same alignment rules.
    if (fd < 0 && unbuffered && errno == EINVAL)
        fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Fail(ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        close(fd);
        Fail(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return new PlatformFile(fd, unbuffered);
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD count, DWORD* transferred, OVERLAPPED* overlapped)
{
    PlatformFile* file = FileOf(handle);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    // Every handle reads overlapped: the request carries the offset.
    if (!overlapped)
        return Fail(ERROR_INVALID_PARAMETER);
    uint64_t offset = overlapped->Offset | (uint64_t)overlapped->OffsetHigh << 32;
    if (file->unbuffered && (offset % SectorSize || count % SectorSize || (uintptr_t)buffer % SectorSize))
        return Fail(ERROR_INVALID_PARAMETER);
    overlapped->Request = file->reader.get();
    if (count == 0)
        overlapped->Internal = overlapped->InternalHigh = 0;  // done at once, with nothing read
    else if (file->reader->Start(overlapped, buffer, count, offset)) {
        if (transferred)
            *transferred = 0;
        return Fail(ERROR_IO_PENDING);
    }
    return Finished(overlapped, transferred);
}

BOOL HasOverlappedIoCompleted(OVERLAPPED* overlapped)
{
    if (overlapped->Internal == STATUS_PENDING)
        static_cast<AsyncReader*>(overlapped->Request)->Poll();
    return overlapped->Internal != STATUS_PENDING;
}

BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait)
{
    while (!HasOverlappedIoCompleted(overlapped)) {
        if (!wait)
            return Fail(ERROR_IO_INCOMPLETE);
        static_cast<AsyncReader*>(overlapped->Request)->Wait(INFINITE);
    }
    return Finished(overlapped, transferred);
}

BOOL GetOverlappedResultEx(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred, DWORD milliseconds,
                           BOOL alertable)
{
    if (!HasOverlappedIoCompleted(overlapped)) {
        static_cast<AsyncReader*>(overlapped->Request)->Wait(milliseconds);
        if (!HasOverlappedIoCompleted(overlapped))
            return Fail(WAIT_TIMEOUT);
    }
    return Finished(overlapped, transferred);
}

BOOL GetFileSizeEx(HANDLE handle, LARGE_INTEGER* size)
{
    PlatformFile* file = FileOf(handle);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    struct stat info;
    if (fstat(file->fd, &info) != 0)
        return Fail(ErrorFromErrno(errno));
    size->QuadPart = info.st_size;
    return TRUE;
}

DWORD GetFileSize(HANDLE file, DWORD* high)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size))
        return InvalidFileSize;
    if (high)
        *high = (DWORD)size.u.HighPart;
    return size.u.LowPart;
}

BOOL CloseHandle(HANDLE handle)
{
    std::unique_ptr<PlatformFile> file(FileOf(handle));
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    file->reader.reset();
    if (close(std::exchange(file->fd, -1)) != 0)
        return Fail(ErrorFromErrno(errno));
    return TRUE;
}

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD error) { lastError = error; }
