// The integer, handle and structure types of the Windows API that the library is
// written against, with their Windows layouts (little-endian, packed where Windows packs).
#pragma once

#include <cstddef>
#include <cstdint>

#include "ombrix/OmbrixTypes.h"

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t BOOL;
typedef unsigned int UINT;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef intptr_t LRESULT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef void* HANDLE;
typedef void* LPVOID;
typedef const char* LPCSTR;
typedef DWORD FOURCC;
typedef int32_t HRESULT;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

constexpr FOURCC mmioFOURCC(char a, char b, char c, char d)
{
    return (DWORD)(BYTE)a | ((DWORD)(BYTE)b << 8) | ((DWORD)(BYTE)c << 16) | ((DWORD)(BYTE)d << 24);
}

// A FOURCC from a four-character literal: FCC("RIFF").
constexpr FOURCC FCC(const char (&s)[5]) { return mmioFOURCC(s[0], s[1], s[2], s[3]); }

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER layout");

#define BI_RGB 0
#define WAVE_FORMAT_PCM 1
#define WAVE_FORMAT_EXTENSIBLE 0xFFFE

// The status of an overlapped request. The platform fills Internal (STATUS_PENDING while the
// read runs) and InternalHigh (bytes transferred); Request links it to the read in flight.
struct OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
    void* Request;
};

#define STATUS_PENDING 0x103
#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_WRITE_FAULT 29
#define ERROR_DISK_FULL 112
#define ERROR_INVALID_PARAMETER 87
#define ERROR_HANDLE_EOF 38
#define ERROR_IO_INCOMPLETE 996
#define ERROR_IO_PENDING 997
#define WAIT_TIMEOUT 258
#define INFINITE 0xFFFFFFFFu
#define ERROR_IO_DEVICE 1117
#define ERROR_OPERATION_ABORTED 995
#define ERROR_NOT_FOUND 1168

#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 0x00000001u
#define OPEN_EXISTING 3
#define FILE_FLAG_NO_BUFFERING 0x20000000u
#define FILE_FLAG_OVERLAPPED 0x40000000u

#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

#define MEM_COMMIT 0x1000
#define MEM_RESERVE 0x2000
#define MEM_RELEASE 0x8000
#define PAGE_READWRITE 0x04
