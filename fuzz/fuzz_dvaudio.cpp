// Any input, repeated to fill a 144,000-byte frame, through the DV audio decoder in each of its
// modes, into an output buffer of exactly the most that one frame may yield.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "avi/DVAudio.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // Tiled by doubling: every copy is a whole number of repetitions of the input.
    std::vector<uint8_t> frame(DVFrameSize625);
    memcpy(frame.data(), data, std::min(size, frame.size()));
    for (size_t filled = std::min(size, frame.size()); filled < frame.size(); filled *= 2)
        memcpy(&frame[filled], frame.data(), std::min(filled, frame.size() - filled));
    for (char mode = 0; mode < 3; mode++) {
        std::vector<uint8_t> out(DVMaxAudioData);
        const int frames = decodeAudio(frame.data(), out.data(), mode);
        if (frames < 0 || frames > int(DVMaxAudioFrames))
            abort();
    }
    return 0;
}
