// Task memory: the allocations that COM callers and callees hand to each other.
#include <cstdlib>

#include "Com.h"

void* CoTaskMemAlloc(size_t size) { return std::malloc(size ? size : 1); }

void* CoTaskMemRealloc(void* memory, size_t size) { return std::realloc(memory, size ? size : 1); }

void CoTaskMemFree(void* memory) { std::free(memory); }
