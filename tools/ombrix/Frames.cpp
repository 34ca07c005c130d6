// `ombrix frames FILE N... [-o DIR] [--graph]`: file frames as DIR/frame-N.png, top-down RGB.
#include <cstdio>
#include <filesystem>
#include <vector>

#include "Arguments.h"
#include "Commands.h"
#include "MediaFile.h"
#include "Progress.h"

int RunFrames(int argc, char** argv)
{
    Arguments arguments(argc, argv, {"-o"}, {"--graph"});
    const auto& words = arguments.Positional();
    if (words.size() < 2)
        throw UsageError("frames takes a file and at least one frame number");
    std::vector<unsigned int> numbers;
    for (size_t i = 1; i < words.size(); i++)
        numbers.push_back((unsigned int)Number(words[i], "a frame number", 0, 0xFFFFFFFEu));
    const std::filesystem::path folder = arguments.Value("-o").value_or(".");

    const auto file = MediaFile::ForCommand(words[0], arguments.Flag("--graph"), false, true);
    for (unsigned int n : numbers)  // all checked before anything is written
        file->CheckFrame(n);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        throw Failure(folder.string() + ": " + error.message());

    Progress progress("frames", numbers.size());
    for (unsigned int n : numbers) {
        const std::string path = (folder / ("frame-" + std::to_string(n) + ".png")).string();
        WritePng(file->Frame(n), path);
        progress.Advance();
        printf("%s\n", path.c_str());
    }
    return 0;
}
