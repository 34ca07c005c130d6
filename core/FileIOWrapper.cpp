#include "FileIOWrapper.h"

#include <cstring>
#include <memory>

#include "DebugOutput.h"
#include "platform/win32/File.h"
#include "platform/win32/Memory.h"

namespace {

constexpr unsigned int SequentialBufferSize = 4096;
// Copy-mode reads up to this size, starting at most MostBlockGap bytes after the last one ended,
// are served from blocks, of FirstBlockSize bytes first, doubling up to LastBlockSize.
constexpr unsigned long LargestBlockRead = 64 << 10;
constexpr unsigned long long MostBlockGap = 1 << 20;
constexpr unsigned int FirstBlockSize = 256 << 10, LastBlockSize = 8 << 20;
// The copy-mode buffer grows to this for larger reads, which then need no memory of their own.
constexpr unsigned long LargestKeptBuffer = 1 << 20;

void* AllocatePages(size_t size) { return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE); }

FileIOWrapper* ReaderOf(void* handle) { return static_cast<FileIOWrapper*>(handle); }

// A read that starts at or past the end of the file reads nothing and reports ERROR_HANDLE_EOF:
// that is no failure.
bool ReadSucceeded(BOOL result) { return result || GetLastError() == ERROR_HANDLE_EOF; }

}  // namespace

FileIOWrapper::FileIOWrapper(unsigned int bufferSize)
    : m_Position(0), m_FileSize(0), m_BufferSize(bufferSize),
      m_Buffer(static_cast<unsigned char*>(AllocatePages(bufferSize))), m_File(INVALID_HANDLE_VALUE),
      m_Sector(SectorSize), m_Request(), m_Pending(false), m_AsyncFailed(false), m_Block(nullptr), m_BlockStart(0),
      m_BlockBytes(0), m_BlockSize(FirstBlockSize), m_LastEnd(0)
{
}

FileIOWrapper::~FileIOWrapper()
{
    VirtualFree(m_Buffer, 0, MEM_RELEASE);
    if (m_Block)
        VirtualFree(m_Block, 0, MEM_RELEASE);
}

FileIOWrapper* FileIOWrapper::OpenReadSeq(const char* name)
{
    m_Position = 0;
    m_FileSize = 0;
    m_Pending = m_AsyncFailed = false;
    m_BlockBytes = 0;
    m_BlockSize = FirstBlockSize;
    m_LastEnd = 0;
    m_File = INVALID_HANDLE_VALUE;
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_NO_BUFFERING | FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        return nullptr;
    }
    // A sector not known, or larger than any this reader expects, gives way to SectorSize, a
    // multiple of every smaller one; where that is not enough the reads fail.
    FILE_STORAGE_INFO storage;
    bool known = GetFileInformationByHandleEx(file, FileStorageInfo, &storage, sizeof storage) &&
                 storage.LogicalBytesPerSector && storage.LogicalBytesPerSector <= SectorSize;
    m_Sector = known ? storage.LogicalBytesPerSector : SectorSize;
    // Small reads, which take two sectors, keep to the bounce buffer on large sectors too.
    if (m_BufferSize < 2 * m_Sector) {
        VirtualFree(m_Buffer, 0, MEM_RELEASE);
        m_Buffer = static_cast<unsigned char*>(AllocatePages(2 * m_Sector));
        m_BufferSize = m_Buffer ? 2 * m_Sector : 0;
    }
    m_File = file;
    m_FileSize = (unsigned long long)size.QuadPart;
    return this;
}

long long FileIOWrapper::mySeek64(long long offset, unsigned long moveMethod)
{
    switch (moveMethod) {
    case FILE_BEGIN:
        m_Position = (unsigned long long)offset;
        break;
    case FILE_CURRENT:
        m_Position += (unsigned long long)offset;
        break;
    case FILE_END:
        m_Position = m_FileSize + (unsigned long long)offset;
        break;
    default:
        throw "FileIOWrapper::mySeek64 unknown MoveMethod";
    }
    return (long long)m_Position;
}

unsigned long FileIOWrapper::mySeek(long offset, unsigned long moveMethod)
{
    return (DWORD)mySeek64((LONG)offset, moveMethod);
}

long long FileIOWrapper::myTell64() { return (long long)m_Position; }

unsigned long FileIOWrapper::myTell() { return (DWORD)m_Position; }

// Waits for the read in flight, if any; false when it failed.
bool FileIOWrapper::WaitPending(bool report)
{
    if (!m_Pending)
        return true;
    while (!HasOverlappedIoCompleted(&m_Request)) {
        if (report)
            DebugOutput("FileIOWrapper::myRead Stall\n");
        // A 1 ms polling period that ends early when the read finishes.
        GetOverlappedResultEx(m_File, &m_Request, nullptr, 1, FALSE);
    }
    m_Pending = false;
    return ReadSucceeded(GetOverlappedResult(m_File, &m_Request, nullptr, FALSE));
}

int FileIOWrapper::myRead(void* destination, unsigned long count, unsigned int* skip, bool asynchronous)
{
    // A read left running by the previous call finishes before this one starts. Whether it
    // failed was for myFinishRead to tell: this read goes on either way.
    WaitPending(true);
    m_AsyncFailed = false;

    const unsigned long long start = m_Position;
    m_Position += count;
    const int inside = start >= m_FileSize ? 0 : (int)(count < m_FileSize - start ? count : m_FileSize - start);

    unsigned long long aligned = start / m_Sector * m_Sector;
    m_Request.Offset = (DWORD)aligned;
    m_Request.OffsetHigh = (DWORD)(aligned >> 32);
    m_Request.hEvent = nullptr;
    // One sector more covers the first byte's offset into its sector.
    unsigned long length = (count + m_Sector - 1) / m_Sector * m_Sector + m_Sector;
    unsigned int offsetInSector = (unsigned int)(start - aligned);

    bool direct = skip != nullptr;
    if (!direct && ReadFromBlock(destination, start, count, inside, aligned, length))
        return inside;
    // Copy mode copies from the target, so its data must be in place whatever the caller asked.
    bool background = asynchronous && direct;
    unsigned char* target;
    unsigned char* temporary = nullptr;
    if (direct)
        target = static_cast<unsigned char*>(destination);
    else if (length <= m_BufferSize || (length <= LargestKeptBuffer && GrowBuffer(length)))
        target = m_Buffer;
    else if (!(target = temporary = static_cast<unsigned char*>(AllocatePages(length))))
        return -1;

    BOOL done = ReadFile(m_File, target, (DWORD)length, nullptr, &m_Request);
    m_Pending = !done && GetLastError() == ERROR_IO_PENDING;
    bool ok = m_Pending || ReadSucceeded(done);
    if (ok && !background)
        ok = WaitPending(false);

    if (direct)
        *skip = offsetInSector;
    else if (ok)
        memcpy(destination, target + offsetInSector, count);
    if (temporary)
        VirtualFree(temporary, 0, MEM_RELEASE);
    m_AsyncFailed = background && !ok;
    return ok ? inside : -1;
}

bool FileIOWrapper::GrowBuffer(unsigned long size)
{
    unsigned char* grown = static_cast<unsigned char*>(AllocatePages(size));
    if (!grown)
        return false;
    VirtualFree(m_Buffer, 0, MEM_RELEASE);
    m_Buffer = grown;
    m_BufferSize = (unsigned int)size;
    return true;
}

bool FileIOWrapper::ReadFromBlock(void* destination, unsigned long long start, unsigned long count, int inside,
                                  unsigned long long aligned, unsigned long length)
{
    const bool following = start >= m_LastEnd && start - m_LastEnd <= MostBlockGap;
    m_LastEnd = start + count;
    const unsigned long long end = start + (unsigned long)inside;
    if (inside > 0 && start >= m_BlockStart && end <= m_BlockStart + m_BlockBytes) {
        memcpy(destination, m_Block + (start - m_BlockStart), (size_t)inside);
        return true;
    }
    // Asked for the range the read would make, so that the read's own question is answered at once.
    if (inside <= 0 || count > LargestBlockRead || !following || PageCacheHolds(m_File, aligned, length)) {
        m_BlockSize = FirstBlockSize;
        return false;
    }
    if (!m_Block && !(m_Block = static_cast<unsigned char*>(AllocatePages(LastBlockSize))))
        return false;
    OVERLAPPED request{};
    request.Offset = (DWORD)aligned;
    request.OffsetHigh = (DWORD)(aligned >> 32);
    DWORD read = 0;
    BOOL done = ReadFile(m_File, m_Block, m_BlockSize, &read, &request);
    if (!done && GetLastError() == ERROR_IO_PENDING)
        done = GetOverlappedResult(m_File, &request, &read, TRUE);
    m_BlockStart = aligned;
    m_BlockBytes = ReadSucceeded(done) ? read : 0;
    m_BlockSize = m_BlockSize * 2 > LastBlockSize ? LastBlockSize : m_BlockSize * 2;
    if (end > m_BlockStart + m_BlockBytes)
        return false;
    memcpy(destination, m_Block + (start - m_BlockStart), (size_t)inside);
    return true;
}

int FileIOWrapper::myFinishRead()
{
    if (m_Pending)
        m_AsyncFailed = !WaitPending(false);
    return m_AsyncFailed ? -1 : 0;
}

void FileIOWrapper::myCancelRead()
{
    if (m_Pending)
        CancelIoEx(m_File, &m_Request);
    WaitPending(false);
    m_AsyncFailed = false;
}

int FileIOWrapper::myClose() { return CloseHandle(m_File) ? 0 : -1; }

unsigned long FileIOWrapper::myGetFileSize(unsigned long* high)
{
    DWORD highWord = 0;
    DWORD low = GetFileSize(m_File, &highWord);
    if (high)
        *high = highWord;
    return low;
}

void* OpenReadSeq(const char* name)
{
    auto reader = std::make_unique<FileIOWrapper>(SequentialBufferSize);
    if (!reader->OpenReadSeq(name))
        return INVALID_HANDLE_VALUE;
    return reader.release();
}

long long mySeek64(void* handle, long long offset, unsigned long moveMethod)
{
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    return ReaderOf(handle)->mySeek64(offset, moveMethod);
}

unsigned long mySeek(void* handle, long offset, unsigned long moveMethod)
{
    if (handle == INVALID_HANDLE_VALUE)
        return (unsigned long)-1;
    return ReaderOf(handle)->mySeek(offset, moveMethod);
}

long long myTell64(void* handle)
{
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    return ReaderOf(handle)->myTell64();
}

unsigned long myTell(void* handle)
{
    if (handle == INVALID_HANDLE_VALUE)
        return (unsigned long)-1;
    return ReaderOf(handle)->myTell();
}

int myRead(void* handle, void* destination, unsigned long count, unsigned int* skip, bool asynchronous)
{
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    return ReaderOf(handle)->myRead(destination, count, skip, asynchronous);
}

int myFinishRead(void* handle)
{
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    return ReaderOf(handle)->myFinishRead();
}

void myCancelRead(void* handle)
{
    if (handle != INVALID_HANDLE_VALUE)
        ReaderOf(handle)->myCancelRead();
}

int myClose(void* handle)
{
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    std::unique_ptr<FileIOWrapper> reader(ReaderOf(handle));
    return reader->myClose();
}

unsigned long myGetFileSize(void* handle, unsigned long* high)
{
    if (handle == INVALID_HANDLE_VALUE)
        return (unsigned long)-1;
    return ReaderOf(handle)->myGetFileSize(high);
}
