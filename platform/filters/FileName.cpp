#include "FileName.h"

std::string NarrowFileName(LPCWSTR name)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, name, -1, nullptr, 0, nullptr, nullptr);
    std::string text(size_t(size > 0 ? size : 0), '\0');
    if (size <= 0 || WideCharToMultiByte(CP_UTF8, 0, name, -1, text.data(), size, nullptr, nullptr) != size)
        return {};
    text.pop_back();  // the terminator, which std::string keeps itself
    return text;
}
