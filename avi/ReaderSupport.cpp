#include "ReaderSupport.h"

#include "avihandle.h"
#include "platform/win32/Memory.h"

unsigned char* AllocatePages(size_t size)
{
    return (unsigned char*)VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void FreePages(unsigned char*& block)
{
    if (block)
        VirtualFree(block, 0, MEM_RELEASE);
    block = nullptr;
}

unsigned long long imageSize(const BITMAPINFOHEADER* format, int bits)
{
    const unsigned long long rowBits = ((unsigned long long)(unsigned)format->biWidth * bits + 31) & ~31ull;
    const long long height = format->biHeight;
    return rowBits / 8 * (unsigned long long)(height < 0 ? -height : height);
}

unsigned int BytesInFile(avihandle* avi, ULONGLONG at, unsigned int size)
{
    const ULONGLONG fileEnd = avi->fileSize();
    return at >= fileEnd ? 0 : at + size > fileEnd ? (unsigned int)(fileEnd - at) : size;
}

unsigned int FollowingChunks(avihandle* avi, AVIstream* stream, unsigned int frame, unsigned int last,
                             ULONGLONG start, ULONGLONG* end, ULONGLONG maxBytes, ULONGLONG maxGap,
                             ULONGLONG holdBytes)
{
    const ULONGLONG fileEnd = avi->fileSize();
    unsigned int next = frame + 1;
    for (; next <= last && next < avi->nFrames; next++) {
        ULONGLONG base;
        DWORD offset, size;
        avi->getframeoffset(next, stream, &base, &offset, &size);
        const ULONGLONG at = base + offset;
        if (size == 0 || at < *end || at - *end > maxGap || at + size > fileEnd ||
            at + (size > holdBytes ? size : holdBytes) - start > maxBytes)
            break;
        *end = at + size;
    }
    return next;
}
