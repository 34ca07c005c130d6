// What the reader suites share: a facade opened on a file, and a copy of the frame it gives.
#pragma once

#include <memory>

#include "GraphMediaFiles.h"
#include "ombrix/OmbrixReader.h"

inline std::unique_ptr<OmbrixReader> openReader(const std::string& path, std::vector<unsigned char> colors = {})
{
    return std::make_unique<OmbrixReader>(const_cast<char*>(path.c_str()), false, false,
                                          colors.empty() ? nullptr : colors.data(), unsigned(colors.size()), 0);
}

// A copy of the frame, empty when none came.
inline Bytes copyFrame(OmbrixReader& reader, long long n, long long rate, long long scale)
{
    unsigned char* bits = reader.LoadVideoFrame(n, rate, scale, false);
    Bytes frame = bits ? Bytes(bits, bits + frameBytes(reader.GetInfo())) : Bytes();
    reader.ReleaseVideoFrame(bits);
    return frame;
}
