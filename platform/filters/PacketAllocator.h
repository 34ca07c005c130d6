// The allocator a source pin delivers packets from: ordinary memory whose buffers grow, between
// samples, to take a packet larger than any before, so that no packet is ever cut.
#pragma once

#include "platform/dshow/MemAllocator.h"

class PacketAllocator : public CMemAllocator {
public:
    PacketAllocator() : CMemAllocator("PacketAllocator", nullptr, nullptr) {}

    // Makes every buffer hold at least `size` bytes, keeping the count, alignment and prefix.
    // VFW_E_BUFFERS_OUTSTANDING while a sample is out (the caller tries again once they are back).
    HRESULT Enlarge(LONG size);
};

// Asks the allocator for `count` buffers of `size` bytes, with the alignment and prefix the
// downstream pin asked for (its buffer size is not ours to take), and checks what it granted.
HRESULT RequestBuffers(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& request, LONG count, LONG size);
