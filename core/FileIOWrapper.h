// The library's read-only file reader: unbuffered, sector-aligned reads with a 64-bit logical
// position, copy or direct mode, and one asynchronous direct read that the next read waits for.
// The rest of the library uses the free functions, with the reader as an opaque handle;
// the handle (void*)-1 means no file.
#pragma once

#include "platform/win32/Win32Types.h"

class FileIOWrapper {
public:
    // The largest sector a read keeps to (each file keeps to its device's, 512 on most disks):
    // a direct read writes at most 2 * SectorSize bytes more than it was asked for, and its
    // bytes begin up to SectorSize - 1 bytes into the buffer.
    static constexpr unsigned int SectorSize = 4096;

    explicit FileIOWrapper(unsigned int bufferSize);
    virtual ~FileIOWrapper();

    FileIOWrapper* OpenReadSeq(const char* name);
    long long mySeek64(long long offset, unsigned long moveMethod);
    unsigned long mySeek(long offset, unsigned long moveMethod);
    long long myTell64();
    unsigned long myTell();
    // The bytes of the request inside the file (0 at or past its end); -1 when the read failed.
    // An asynchronous read's failure shows later, in myFinishRead.
    int myRead(void* destination, unsigned long count, unsigned int* skip, bool asynchronous);
    // Waits for the asynchronous read left running: 0 when it succeeded (or there is none), -1
    // when it failed.
    int myFinishRead();
    // Ends the asynchronous read left running, its bytes no longer wanted: one the page cache
    // would serve is dropped at once, one the disk has begun is waited for. Its destination holds
    // nothing to use after it.
    void myCancelRead();
    int myClose();
    unsigned long myGetFileSize(unsigned long* high);

private:
    bool WaitPending(bool report);
    // The copy-mode buffer, anew, of size bytes; false (the old one kept) when there is no memory.
    bool GrowBuffer(unsigned long size);
    // A copy-mode read served from the block of the file held, or from a new block read for it;
    // false when it is not one to serve that way (it then reads aligned, length bytes).
    bool ReadFromBlock(void* destination, unsigned long long start, unsigned long count, int inside,
                       unsigned long long aligned, unsigned long length);

    unsigned long long m_Position;
    unsigned long long m_FileSize;
    unsigned int m_BufferSize;
    unsigned char* m_Buffer;
    HANDLE m_File;
    unsigned int m_Sector;  // the open file's sector size
    OVERLAPPED m_Request;
    bool m_Pending;
    bool m_AsyncFailed;  // the last asynchronous read failed, at once or when it completed
    // Small reads moving forward through bytes the page cache does not hold (one stream's chunks
    // between another's) come from a block read at once, which grows as they go on.
    unsigned char* m_Block;
    unsigned long long m_BlockStart;
    unsigned int m_BlockBytes;  // of the file, read into m_Block
    unsigned int m_BlockSize;   // the next block read's
    unsigned long long m_LastEnd;  // of the last copy-mode read
};

void* OpenReadSeq(const char* name);
long long mySeek64(void* handle, long long offset, unsigned long moveMethod);
unsigned long mySeek(void* handle, long offset, unsigned long moveMethod);
long long myTell64(void* handle);
unsigned long myTell(void* handle);
int myRead(void* handle, void* destination, unsigned long count, unsigned int* skip, bool asynchronous);
int myFinishRead(void* handle);
void myCancelRead(void* handle);
int myClose(void* handle);
unsigned long myGetFileSize(void* handle, unsigned long* high);
