// Real media files for tests: written by the ffmpeg (or mencoder) command-line tool into the build
// tree's media folder once, and what ffprobe and libavformat read from them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace media {

// True when `program` runs from PATH.
bool haveProgram(const std::string& program);
// True when the ffmpeg tool offers this encoder.
bool ffmpegHasEncoder(const std::string& encoder);

// Path of the media file made by `command`, in which "{out}" stands for the file to write. The
// command's hash is part of the file name, so a changed command makes a new file. The file is made
// only when missing, under a lock shared with concurrent test processes, into a temporary name that
// is renamed when the command succeeded. Throws std::runtime_error with the tool's output on failure.
std::string make(const std::string& stem, const std::string& extension, const std::string& command);

// One chunk of a stream as FFmpeg reads it: pieces that FFmpeg splits a large chunk into are joined.
// An empty video chunk, which FFmpeg skips, has pos -1 and size 0.
struct Chunk {
    int64_t pos;  // first data byte
    int64_t size;
    bool key;
};

struct Stream {
    std::string type;  // "video" or "audio"
    std::string codec;
    uint32_t codecTag = 0;
    int width = 0, height = 0;
    int timeBaseNum = 0, timeBaseDen = 0;
    int sampleRate = 0, channels = 0;
    int64_t nbFrames = -1;  // -1 when unknown
    // As the stream's format stores them (ffprobe leaves them out or prints the codec's own values):
    int blockAlign = 0;
    int64_t bitRate = 0;          // average bytes per second x 8 for audio
    int bitsPerCodedSample = 0;   // biBitCount, wBitsPerSample
    int extradataSize = 0;        // bytes after BITMAPINFOHEADER, cbSize
    std::vector<Chunk> chunks;
};

// Every stream of the file in file order, with its chunks. The ffprobe output is cached beside the file.
std::vector<Stream> probe(const std::string& path);

}  // namespace media
