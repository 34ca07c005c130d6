// What the AVI reader's files share: page memory for its buffers, picture sizes, and the runs of
// chunks that one read can bring in.
#pragma once

#include <cstddef>

#include "AviStructures.h"

class avihandle;

// A frame or chunk number that names none.
constexpr unsigned int None = 0xFFFFFFFFu;

// Pictures past this are refused: no editor frame comes near it, and every size derived from it
// stays far inside 32 bits.
constexpr unsigned long long MaxImageBytes = 1ull << 30;

unsigned char* AllocatePages(size_t size);
// Frees block (if any) and marks it absent.
void FreePages(unsigned char*& block);

// Bytes of a DIB of the format's dimensions in `bits` per pixel; rows run either way, so the
// height counts without its sign.
unsigned long long imageSize(const BITMAPINFOHEADER* format, int bits);

// The bytes of a chunk of `size` bytes at `at` that the file holds: a damaged index may claim more.
unsigned int BytesInFile(avihandle* avi, ULONGLONG at, unsigned int size);

// Widens a read of frame's chunk, which starts at start and ends at *end, over the chunks of the
// frames after it up to last that follow it in the file: none empty or past the end of the file,
// each at most maxGap bytes after the one before, all within maxBytes of start, each with at least
// holdBytes from its start within them. Returns the frame after the last chunk taken.
unsigned int FollowingChunks(avihandle* avi, AVIstream* stream, unsigned int frame, unsigned int last,
                             ULONGLONG start, ULONGLONG* end, ULONGLONG maxBytes, ULONGLONG maxGap,
                             ULONGLONG holdBytes);
