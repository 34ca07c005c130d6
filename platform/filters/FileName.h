// The 8-bit (UTF-8) form of a wide file name, as libavformat opens it.
#pragma once

#include <string>

#include "platform/com/Guid.h"
#include "platform/win32/CodePage.h"

// Empty when the name cannot be converted.
std::string NarrowFileName(LPCWSTR name);
// What can be known of a file before it is made, so that a name that cannot be written is
// refused when it is given, not when the graph starts: HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) when
// its folder does not exist, (ERROR_ACCESS_DENIED) when it names a folder or cannot be written.
HRESULT CheckWritable(const std::string& path);
