// The benchmarks' input files, made once by the ffmpeg tool into the build tree's bench-data
// folder (beside bench/, where the benchmark programs live).
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace bench {

inline std::filesystem::path dataDirectory()
{
    std::filesystem::path dir = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "bench-data";
    std::filesystem::create_directories(dir);
    return dir;
}

// The file `name` of the data folder. When missing it is made by `command`, in which "{out}"
// stands for a temporary name that is renamed once the command succeeded.
inline std::filesystem::path makeOnce(const std::string& name, std::string command)
{
    const std::filesystem::path file = dataDirectory() / name;
    if (std::filesystem::exists(file))
        return file;
    const std::filesystem::path partial = file.parent_path() / (".partial-" + name);
    for (size_t at; (at = command.find("{out}")) != std::string::npos;)
        command.replace(at, 5, "'" + partial.string() + "'");
    printf("making %s (once)...\n", file.c_str());
    fflush(stdout);
    const int status = system((command + " </dev/null").c_str());
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("failed: " + command);
    std::filesystem::rename(partial, file);
    return file;
}

}  // namespace bench
