// Page-granular committed memory (VirtualAlloc/VirtualFree): page-aligned, zero-filled.
#pragma once

#include "Win32Types.h"

LPVOID VirtualAlloc(LPVOID address, size_t size, DWORD allocationType, DWORD protect);
BOOL VirtualFree(LPVOID address, size_t size, DWORD freeType);
