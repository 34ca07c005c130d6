#include "FileIOWrapper.h"

#include <cstring>
#include <memory>

#include "DebugOutput.h"
#include "platform/win32/File.h"
#include "platform/win32/Memory.h"

namespace {

constexpr unsigned int SequentialBufferSize = 4096;

void* AllocatePages(size_t size) { return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE); }

FileIOWrapper* ReaderOf(void* handle) { return static_cast<FileIOWrapper*>(handle); }

}  // namespace

FileIOWrapper::FileIOWrapper(unsigned int bufferSize)
    : m_Position(0), m_FileSize(0), m_BufferSize(bufferSize),
      m_Buffer(static_cast<unsigned char*>(AllocatePages(bufferSize))), m_File(INVALID_HANDLE_VALUE), m_Request(),
      m_Pending(false)
{
}

FileIOWrapper::~FileIOWrapper() { VirtualFree(m_Buffer, 0, MEM_RELEASE); }

FileIOWrapper* FileIOWrapper::OpenReadSeq(const char* name)
{
    m_Position = 0;
    m_FileSize = 0;
    m_Pending = false;
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

void FileIOWrapper::WaitPending(bool report)
{
    if (!m_Pending)
        return;
    while (!HasOverlappedIoCompleted(&m_Request)) {
        if (report)
            DebugOutput("FileIOWrapper::myRead Stall\n");
        // A 1 ms polling period that ends early when the read finishes.
        GetOverlappedResultEx(m_File, &m_Request, nullptr, 1, FALSE);
    }
    m_Pending = false;
}

int FileIOWrapper::myRead(void* destination, unsigned long count, unsigned int* skip, bool asynchronous)
{
    // A read left running by the previous call finishes before this one starts.
    WaitPending(true);

    unsigned long long aligned = m_Position & ~(unsigned long long)(SectorSize - 1);
    m_Request.Offset = (DWORD)aligned;
    m_Request.OffsetHigh = (DWORD)(aligned >> 32);
    m_Request.hEvent = nullptr;
    // One sector more covers the first byte's offset into its sector.
    unsigned long length = (count + SectorSize - 1) / SectorSize * SectorSize + SectorSize;

    bool direct = skip != nullptr;
    unsigned char* target;
    unsigned char* temporary = nullptr;
    if (direct)
        target = static_cast<unsigned char*>(destination);
    else if (length <= m_BufferSize)
        target = m_Buffer;
    else
        target = temporary = static_cast<unsigned char*>(AllocatePages(length));

    if (!ReadFile(m_File, target, (DWORD)length, nullptr, &m_Request) && GetLastError() == ERROR_IO_PENDING)
        m_Pending = true;
    unsigned int offsetInSector = (unsigned int)(m_Position - aligned);

    // Copy mode copies from the target, so its data must be in place whatever the caller asked.
    if (!asynchronous || !direct)
        WaitPending(false);

    if (direct) {
        *skip = offsetInSector;
    } else {
        memcpy(destination, target + offsetInSector, count);
        if (temporary)
            VirtualFree(temporary, 0, MEM_RELEASE);
    }

    unsigned long long start = m_Position;
    m_Position += count;
    if (start >= m_FileSize)
        return 0;
    return (int)(count < m_FileSize - start ? count : m_FileSize - start);
}

// Waits for the read left running, so that its buffer holds what was asked for.
void FileIOWrapper::myFinishRead() { WaitPending(false); }

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

void myFinishRead(void* handle)
{
    if (handle != INVALID_HANDLE_VALUE)
        ReaderOf(handle)->myFinishRead();
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
