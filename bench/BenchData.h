// The benchmarks' input files, made once by the ffmpeg tool into the build tree's bench-data
// folder (beside bench/, where the benchmark programs live), and the disk's own rate.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// Bytes per second that `dd bs=4M iflag=direct` reports for the file (extra: dd's skip/count
// arguments); 0 when dd gave none.
inline double ddDirectRate(const std::filesystem::path& path, const std::string& extra = "")
{
    const std::string command =
        "LC_ALL=C dd if='" + path.string() + "' of=/dev/null bs=4M iflag=direct " + extra + " 2>&1";
    FILE* output = popen(command.c_str(), "r");
    double rate = 0;
    char line[512];
    while (output && std::fgets(line, sizeof line, output)) {
        unsigned long long bytes;
        const char* copied = std::strstr(line, "copied, ");
        if (copied && std::sscanf(line, "%llu bytes", &bytes) == 1)
            rate = (double)bytes / std::strtod(copied + 8, nullptr);
    }
    if (output)
        pclose(output);
    return rate;
}

}  // namespace bench
