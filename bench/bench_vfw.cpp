// Sequential decoding of a 1080p MPEG-4 part 2 AVI to UYVY: every chunk through ICDecompress,
// against libavcodec decoding the same packets with the same libswscale conversion and nothing
// else. Both start from packets already in memory. Prints both rates and the stand-in's overhead.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "BenchData.h"

namespace {

constexpr int repetitions = 7;

using bench::milliseconds;
using bench::Stream;

BITMAPINFOHEADER uyvy(const Stream& stream)
{
    BITMAPINFOHEADER output = stream.header();
    output.biSize = sizeof output;
    output.biBitCount = 16;
    output.biCompression = FCC("UYVY");
    output.biSizeImage = DWORD(stream.pictureSize());
    return output;
}

double throughVfw(Stream& stream, std::vector<uint8_t>& picture)
{
    BITMAPINFOHEADER* input = (BITMAPINFOHEADER*)stream.format.data();
    BITMAPINFOHEADER output = uyvy(stream);
    HIC decoder = ICOpen(ICTYPE_VIDEO, input->biCompression, ICMODE_DECOMPRESS);
    if (!decoder || ICSendMessage(decoder, ICM_DECOMPRESS_BEGIN, (DWORD_PTR)input, (DWORD_PTR)&output) != ICERR_OK)
        throw std::runtime_error("the decompressor does not open");
    const double elapsed = milliseconds([&] {
        for (const AvPacketPtr& packet : stream.packets) {
            input->biSizeImage = packet->size;
            if (ICDecompress(decoder, 0, input, packet->data, &output, picture.data()) != ICERR_OK)
                throw std::runtime_error("ICDecompress failed");
        }
    });
    ICSendMessage(decoder, ICM_DECOMPRESS_END, 0, 0);
    ICClose(decoder);
    return elapsed;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main()
{
    return bench::Reporting("bench_vfw", [&] {
        av_log_set_level(AV_LOG_ERROR);
        const std::filesystem::path file =
            bench::makeOnce("mpeg4-1080p-10s.avi", "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 "
                                                   "-t 10 -c:v mpeg4 -q:v 4 -g 50 -bf 0 -an {out}");
        Stream stream = bench::loadStream(file);
        // Room for libswscale's writes past the last row in the plain conversion.
        std::vector<uint8_t> ours(stream.pictureSize()), theirs(stream.pictureSize() + 256);
        std::vector<double> vfw, plain;
        for (int i = 0; i <= repetitions; i++) {  // the first round warms up and is not counted
            const double a = throughVfw(stream, ours), b = bench::plainFFmpeg(stream, theirs);
            if (i > 0) {
                vfw.push_back(a);
                plain.push_back(b);
            }
        }
        if (memcmp(ours.data(), theirs.data(), ours.size()) != 0)
            throw std::runtime_error("the last pictures differ");
        const double frames = double(stream.packets.size()), a = median(vfw), b = median(plain);
        printf("1080p MPEG-4 part 2 to UYVY, %zu frames, median of %d runs:\n", stream.packets.size(), repetitions);
        printf("  libavcodec + libswscale  %7.1f frames/s  (%.3f ms/frame)\n", frames * 1000 / b, b / frames);
        printf("  ICDecompress             %7.1f frames/s  (%.3f ms/frame)\n", frames * 1000 / a, a / frames);
        printf("  overhead %+.1f%% (target <= +5%%)\n", (a / b - 1) * 100);
    });
}
