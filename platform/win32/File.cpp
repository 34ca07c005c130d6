#include "File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <memory>
#include <string>
#include <utility>

#include "AsyncReader.h"
#include "CachedReader.h"
#include "Handle.h"

namespace {

// Unbuffered reads never keep to a finer grid than the classic sector, and a handle that reads
// through the page cache keeps to it too, so that the reader above takes the same path.
constexpr DWORD ClassicSectorSize = 512;
// Page memory, where unbuffered reads go, is aligned to a page: devices with larger sectors are
// read through the page cache.
constexpr DWORD LargestDirectSectorSize = 4096;
constexpr DWORD InvalidFileSize = 0xFFFFFFFF;

std::atomic<DWORD> forcedSectorSize{0};
std::atomic<bool> pageCacheIgnored{false};

// What a HANDLE from CreateFileA points to.
struct PlatformFile : KernelObject {
    PlatformFile(int descriptor, bool noBuffering, DWORD sector, std::unique_ptr<AsyncReader> fileReader)
        : fd(descriptor), unbuffered(noBuffering), sectorSize(sector), reader(std::move(fileReader))
    {
    }
    // The reader goes first: it waits for the reads in flight on fd.
    ~PlatformFile() override
    {
        reader.reset();
        if (fd >= 0)
            close(fd);
    }
    BOOL Close() override;

    int fd;
    bool unbuffered;   // opened with FILE_FLAG_NO_BUFFERING: reads keep to the sector grid
    DWORD sectorSize;  // that grid
    std::unique_ptr<AsyncReader> reader;
};

PlatformFile* FileOf(HANDLE handle) { return dynamic_cast<PlatformFile*>(ObjectOf(handle)); }

BOOL Fail(DWORD error)
{
    SetLastError(error);
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

// The logical block size of a block device (a partition's is its disk's); 0 when there is none
// (network, overlay and memory file systems have no device behind them).
DWORD DeviceSectorSize(unsigned major, unsigned minor)
{
    const std::string device = "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    for (const char* queue : {"/queue", "/../queue"}) {
        std::ifstream in(device + queue + "/logical_block_size");
        DWORD size = 0;
        if (in >> size && size)
            return size;
    }
    return 0;
}

// What the offsets, lengths and buffers of fd's unbuffered reads must be multiples of: what the
// file system says (kernels from 6.1), else the sector size of the device the file is on; 0
// when unknown or when the file cannot be read unbuffered.
DWORD DirectAlignment(int fd)
{
    if (DWORD forced = forcedSectorSize)
        return forced;
    struct statx info;
    if (statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &info) != 0)
        return 0;
    if (info.stx_mask & STATX_DIOALIGN)
        return std::max(info.stx_dio_offset_align, info.stx_dio_mem_align);
    return DeviceSectorSize(info.stx_dev_major, info.stx_dev_minor);
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
    bool direct = unbuffered;
    int fd = open(name, O_RDONLY | O_CLOEXEC | (direct ? O_DIRECT : 0));
    // A file system without O_DIRECT refuses it with EINVAL.
    if (fd < 0 && direct && errno == EINVAL) {
        direct = false;
        fd = open(name, O_RDONLY | O_CLOEXEC);
    }
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
    DWORD sector = ClassicSectorSize;
    if (direct) {
        DWORD alignment = DirectAlignment(fd);
        if (alignment && alignment <= LargestDirectSectorSize)
            sector = std::max(alignment, ClassicSectorSize);
        else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_DIRECT) != 0) {
            Fail(ErrorFromErrno(errno));
            close(fd);
            return INVALID_HANDLE_VALUE;
        }
    }
    std::unique_ptr<AsyncReader> reader = AsyncReader::ForFile(fd);
    // What the page cache holds of a file read past it comes from there.
    if (direct && !pageCacheIgnored)
        reader = std::make_unique<CachedReader>(name, std::move(reader));
    return new PlatformFile(fd, unbuffered, sector, std::move(reader));
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
    const DWORD sector = file->sectorSize;
    if (file->unbuffered && (offset % sector || count % sector || (uintptr_t)buffer % sector))
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

BOOL CancelIoEx(HANDLE handle, OVERLAPPED* overlapped)
{
    if (!FileOf(handle) || !overlapped)
        return Fail(ERROR_INVALID_PARAMETER);
    // Polling first would finish a read that has not begun.
    if (overlapped->Internal != STATUS_PENDING || !static_cast<AsyncReader*>(overlapped->Request)->Cancel(overlapped))
        return Fail(ERROR_NOT_FOUND);
    return TRUE;
}

BOOL PageCacheHolds(HANDLE handle, ULONGLONG offset, DWORD count)
{
    PlatformFile* file = FileOf(handle);
    auto* cached = file ? dynamic_cast<CachedReader*>(file->reader.get()) : nullptr;
    return cached && cached->Holds(offset, count);
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

BOOL GetFileInformationByHandleEx(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID information,
                                  DWORD size)
{
    PlatformFile* file = FileOf(handle);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    if (infoClass != FileStorageInfo || size < sizeof(FILE_STORAGE_INFO))
        return Fail(ERROR_INVALID_PARAMETER);
    FILE_STORAGE_INFO storage{};
    storage.LogicalBytesPerSector = file->sectorSize;
    *static_cast<FILE_STORAGE_INFO*>(information) = storage;
    return TRUE;
}

void SetDeviceSectorSize(DWORD bytes) { forcedSectorSize = bytes; }

void IgnorePageCache(bool ignored) { pageCacheIgnored = ignored; }

DWORD GetFileSize(HANDLE file, DWORD* high)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size))
        return InvalidFileSize;
    if (high)
        *high = (DWORD)size.u.HighPart;
    return size.u.LowPart;
}

BOOL PlatformFile::Close()
{
    reader.reset();
    if (close(std::exchange(fd, -1)) != 0)
        return Fail(ErrorFromErrno(errno));
    return TRUE;
}

BOOL DeleteFileA(LPCSTR name)
{
    if (!name || unlink(name) != 0)
        return Fail(ErrorFromErrno(name ? errno : EINVAL));
    return TRUE;
}
