// The 8-bit (UTF-8) form of a wide file name, as libavformat opens it.
#pragma once

#include <string>

#include "platform/win32/CodePage.h"

// Empty when the name cannot be converted.
std::string NarrowFileName(LPCWSTR name);
