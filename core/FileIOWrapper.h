// The library's read-only file reader: unbuffered, sector-aligned reads with a 64-bit logical
// position, copy or direct mode, and one asynchronous direct read that the next read waits for.
// The rest of the library uses the free functions, with the reader as an opaque handle;
// the handle (void*)-1 means no file.
#pragma once

#include "platform/win32/Win32Types.h"

class FileIOWrapper {
public:
    static constexpr unsigned int SectorSize = 512;

    explicit FileIOWrapper(unsigned int bufferSize);
    virtual ~FileIOWrapper();

    FileIOWrapper* OpenReadSeq(const char* name);
    long long mySeek64(long long offset, unsigned long moveMethod);
    unsigned long mySeek(long offset, unsigned long moveMethod);
    long long myTell64();
    unsigned long myTell();
    int myRead(void* destination, unsigned long count, unsigned int* skip, bool asynchronous);
    void myFinishRead();
    int myClose();
    unsigned long myGetFileSize(unsigned long* high);

private:
    void WaitPending(bool report);

    unsigned long long m_Position;
    unsigned long long m_FileSize;
    unsigned int m_BufferSize;
    unsigned char* m_Buffer;
    HANDLE m_File;
    OVERLAPPED m_Request;
    bool m_Pending;
};

void* OpenReadSeq(const char* name);
long long mySeek64(void* handle, long long offset, unsigned long moveMethod);
unsigned long mySeek(void* handle, long offset, unsigned long moveMethod);
long long myTell64(void* handle);
unsigned long myTell(void* handle);
int myRead(void* handle, void* destination, unsigned long count, unsigned int* skip, bool asynchronous);
void myFinishRead(void* handle);
int myClose(void* handle);
unsigned long myGetFileSize(void* handle, unsigned long* high);
