// The tool's commands and the two ways they fail.
#pragma once

#include <stdexcept>

// Bad words on the command line: exit code 2, with the command's usage.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The work could not be done (an unreadable file, a frame out of range, a failed write): exit
// code 1. The message names the file.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Each returns the exit code; argv holds the words after the command's name.
int RunInfo(int argc, char** argv);
int RunFrames(int argc, char** argv);
int RunAudio(int argc, char** argv);
int RunThumbs(int argc, char** argv);
int RunDemo(int argc, char** argv);
int RunCodecs(int argc, char** argv);
int RunConvert(int argc, char** argv);
int RunDVOut(int argc, char** argv);
