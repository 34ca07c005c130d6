// Top-down RGB24 pictures for the command-line tool: made from a frame as the reader delivers
// it or made into one for the writer, scaled, written as PNG. Failures throw std::runtime_error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct RgbPicture {
    RgbPicture(int width, int height) : width(width), height(height), pixels(size_t(width) * height * 3) {}
    uint8_t* Row(int y) { return pixels.data() + size_t(y) * width * 3; }
    const uint8_t* Row(int y) const { return pixels.data() + size_t(y) * width * 3; }

    int width;
    int height;
    std::vector<uint8_t> pixels;  // R,G,B; rows of width * 3 bytes, the top row first
};

// A delivered frame, described as the file information record does: colorSpace 1 UYVY, 2 YUY2,
// 3 RGB24 (B,G,R), 4 RGB32 (B,G,R,X); height as stored. Rows are padded to 4 bytes; they run
// bottom-first when bottomUp is set and the height is positive.
struct FrameFormat {
    int colorSpace;
    int width;
    int height;
    bool bottomUp;
};

RgbPicture ToRgb(const FrameFormat& format, const uint8_t* data);
// The picture as a frame of that format and size, written into data.
void FromRgb(const RgbPicture& picture, const FrameFormat& format, uint8_t* data);
RgbPicture Scaled(const RgbPicture& picture, int width, int height);
void WritePng(const RgbPicture& picture, const std::string& path);
