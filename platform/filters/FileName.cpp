#include "FileName.h"

#include <unistd.h>

#include <filesystem>

std::string NarrowFileName(LPCWSTR name)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, name, -1, nullptr, 0, nullptr, nullptr);
    std::string text(size_t(size > 0 ? size : 0), '\0');
    if (size <= 0 || WideCharToMultiByte(CP_UTF8, 0, name, -1, text.data(), size, nullptr, nullptr) != size)
        return {};
    text.pop_back();  // the terminator, which std::string keeps itself
    return text;
}

HRESULT CheckWritable(const std::string& path)
{
    const std::filesystem::path file(path), folder = file.has_parent_path() ? file.parent_path() : ".";
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    const bool exists = std::filesystem::exists(file, error);
    if (std::filesystem::is_directory(file, error) || access(exists ? path.c_str() : folder.c_str(), W_OK) != 0)
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    return S_OK;
}
