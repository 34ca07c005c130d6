// The Video for Windows stand-in on files written by the ffmpeg tool: every chunk decoded in order
// through ICDecompress and compared byte for byte with FFmpeg's own decoding of the same packets,
// converted by the same libswscale path (full-range pictures to UYVY/YUY2: by FFmpeg's exact range
// conversion), in each output format and row order.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "BlackPicture.h"
#include "MediaFiles.h"
#include "StudioReference.h"
#include "TestSupport.h"
#include "platform/vfw/DibConverter.h"
#include "platform/vfw/StudioRange.h"
#include "platform/vfw/Vfw.h"

namespace {

// withoutPicture: calls that yield none, as the decoder holds a picture back.
struct Clip { const char* name; std::string command; int withoutPicture; };
void PrintTo(const Clip& clip, std::ostream* out) { *out << clip.name; }

// testsrc2 rounds odd sizes down: the size is the encoder's.
Clip clip(const char* name, const std::string& size, const std::string& options, int withoutPicture = 0)
{
    return {name, ffmpeg(testsrc("320x240", "25"), "-frames:v 8 -s " + size + " " + options), withoutPicture};
}

const Clip clips[] = {
    clip("MjpegOddSize", "321x241", "-c:v mjpeg"),
    clip("Mjpeg422OddWidth", "321x240", "-c:v mjpeg -pix_fmt yuvj422p"),
    clip("Mpeg4PFramesOddWidth", "321x240", "-c:v mpeg4 -g 4 -bf 0"),
    clip("Mpeg4BFrames", "320x240", "-c:v mpeg4 -g 8 -bf 2", 1),
    clip("Huffyuv", "318x240", "-c:v huffyuv"),
    clip("HuffyuvRgbOddSize", "321x241", "-c:v huffyuv -pix_fmt rgb24"),
    clip("Ffv1OddSize", "321x241", "-c:v ffv1"),
    clip("DvNtsc411", "720x480", "-c:v dvvideo -pix_fmt yuv411p -r 30000/1001"),
    clip("DvPal420", "720x576", "-c:v dvvideo -pix_fmt yuv420p"),
    clip("Cinepak", "320x240", "-c:v cinepak"),
};

struct Output { const char* name; FOURCC compression; WORD bits; };
void PrintTo(const Output& output, std::ostream* out) { *out << output.name; }

const Output outputs[] = {{"Uyvy", FCC("UYVY"), 16}, {"Yuy2", FCC("YUY2"), 16}, {"Rgb24", BI_RGB, 24}, {"Rgb32", BI_RGB, 32}};

BITMAPINFOHEADER outputFor(const BITMAPINFOHEADER& input, FOURCC compression, WORD bits, bool topDown)
{
    return {sizeof input, input.biWidth, topDown ? -input.biHeight : input.biHeight, 1, bits, compression,
            DWORD((input.biWidth * bits + 31) / 32 * 4 * input.biHeight), 0, 0, 0, 0};
}

// FFmpeg's own decoding: each video packet of the file in order, with the picture libavcodec
// hands out after it, null when it holds one back; then, with no packet, the pictures it held.
struct Decoded { Bytes packet; AvFramePtr picture; };

std::vector<Decoded> ffmpegDecode(const std::string& path)
{
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0)
        throw std::runtime_error("libavformat cannot open " + path);
    const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodecParameters* parameters = format->streams[stream]->codecpar;
    AvCodecContextPtr codec(avcodec_alloc_context3(avcodec_find_decoder(parameters->codec_id)));
    codec->thread_count = 1;
    if (avcodec_parameters_to_context(codec.get(), parameters) < 0 || avcodec_open2(codec.get(), nullptr, nullptr) < 0)
        throw std::runtime_error("libavcodec cannot decode " + path);
    std::vector<Decoded> decoded;
    for (AvPacketPtr packet(av_packet_alloc()); av_read_frame(format, packet.get()) >= 0; av_packet_unref(packet.get())) {
        if (packet->stream_index != stream)
            continue;
        AvFramePtr picture(av_frame_alloc());
        if (avcodec_send_packet(codec.get(), packet.get()) != 0 || avcodec_receive_frame(codec.get(), picture.get()) != 0)
            picture.reset();
        decoded.push_back({Bytes(packet->data, packet->data + packet->size), std::move(picture)});
    }
    avcodec_send_packet(codec.get(), nullptr);
    for (AvFramePtr picture(av_frame_alloc()); avcodec_receive_frame(codec.get(), picture.get()) == 0;
         picture.reset(av_frame_alloc()))
        decoded.push_back({Bytes(), std::move(picture)});
    avformat_close_input(&format);
    return decoded;
}

// The picture converted by libswscale into rows of its own, laid out in bits as the layout says:
// through the same path, or, for a full-range picture packed to UYVY/YUY2, through FFmpeg's own
// exact range conversion (chroma within 1). With an odd width, the luma that pads the last
// UYVY/YUY2 pixel pair comes from each decoder's row padding and is not compared.
void expectSamePicture(const AVFrame* picture, const DibLayout& layout, const uint8_t* bits, int number)
{
    const int extra = DibConverter::ExtraColumn(*picture, layout);
    const int lineBytes = av_image_get_linesize(layout.format, layout.width, 0), stride = lineBytes + 256;
    const bool studio = studio::isFullRange(*picture) && layout.format != AV_PIX_FMT_BGR24 &&
                        layout.format != AV_PIX_FMT_BGRA;
    Bytes expected(size_t(stride) * layout.height + 256);
    if (studio)
        expected = studio::pack(*picture, layout.format, layout.width + extra, stride);
    else {
        const SwsContextPtr scaler(sws_getContext(picture->width + extra, picture->height,
                                                  AVPixelFormat(picture->format), layout.width + extra, layout.height,
                                                  layout.format, DibConverter::Flags, nullptr, nullptr, nullptr));
        uint8_t* const planes[4] = {expected.data()};
        sws_scale(scaler.get(), picture->data, picture->linesize, 0, picture->height, planes, &stride);
    }
    const int padding = !extra ? -1 : layout.format == AV_PIX_FMT_UYVY422 ? 2 * layout.width + 1 : 2 * layout.width;
    for (int y = 0; y < layout.height; y++) {
        const uint8_t* row = bits + size_t(layout.bottomUp ? layout.height - 1 - y : y) * layout.pitch;
        for (int x = 0; x < lineBytes; x++)
            if (x != padding && std::abs(row[x] - expected[size_t(y) * stride + x]) >
                                    (studio ? studio::tolerance(layout.format, x) : 0))
                return ADD_FAILURE() << "picture " << number << " differs at row " << y << ", byte " << x << ": "
                                     << int(row[x]) << " for " << int(expected[size_t(y) * stride + x]);
    }
}

class VfwDecode : public testing::TestWithParam<std::tuple<Clip, Output, bool>> {};

TEST_P(VfwDecode, EveryPictureAsFFmpegDecodesIt)
{
    const auto& [clip, output, topDown] = GetParam();
    const std::string path = make(clip.name, ".avi", clip.command);
    avihandle file(path.c_str(), false, true);
    ASSERT_FALSE(file.bError);
    auto* input = (BITMAPINFOHEADER*)file.pVideoFormat;
    BITMAPINFOHEADER out = outputFor(*input, output.compression, output.bits, topDown), chunk = *input;
    const bool cinepak = file.fccVideoHandler == FCC("cvid");
    const std::optional<DibLayout> layout = DibLayout::Of(out, cinepak);
    ASSERT_TRUE(layout);
    // DIB rows: RGB bottom-up for a positive height, YUV top-down unless it comes from Cinepak.
    EXPECT_EQ(layout->bottomUp, !topDown && (output.bits != 16 || cinepak));

    HIC decoder = ICOpen(ICTYPE_VIDEO, file.fccVideoHandler, ICMODE_DECOMPRESS);
    ASSERT_NE(decoder, nullptr);
    ASSERT_EQ(ICSendMessage(decoder, ICM_DECOMPRESS_QUERY, (DWORD_PTR)input, (DWORD_PTR)&out), ICERR_OK);
    Bytes bits(out.biSizeImage + 64, 0xA5);  // a canary after the picture
    const Bytes black = blackPicture(*layout, 0xFF);
    const std::vector<Decoded> reference = ffmpegDecode(path);
    ASSERT_EQ(reference.size(), 8u + clip.withoutPicture);
    // Chunk i into bits, filled with 0xFF first when fill.
    auto decompress = [&](DWORD flags, size_t i, bool fill) {
        if (fill)
            std::fill_n(bits.begin(), out.biSizeImage, 0xFF);
        void* data = i < reference.size() ? (void*)reference[i].packet.data() : nullptr;
        chunk.biSizeImage = data ? DWORD(reference[i].packet.size()) : 0;
        const DWORD answer = ICDecompress(decoder, flags, &chunk, data, &out, bits.data());
        EXPECT_EQ(std::count(bits.begin() + out.biSizeImage, bits.end(), 0xA5), 64) << "written past the picture";
        return answer;
    };
    // The second pass begins again with the same formats, which restarts the decoder, and
    // hurries every other call, the last packet included: those decode but leave bits alone.
    for (int pass = 0; pass < 2; pass++) {
        ASSERT_EQ(ICSendMessage(decoder, ICM_DECOMPRESS_BEGIN, (DWORD_PTR)input, (DWORD_PTR)&out), ICERR_OK);
        int withoutPicture = 0;
        // The empty chunks after the last drain the pictures held back; they count as chunks.
        for (size_t i = 0; i < reference.size(); i++) {
            const bool hurry = pass == 1 && i % 2 == 1;
            const DWORD flags = (i ? ICDECOMPRESS_NOTKEYFRAME : 0) | (hurry ? ICDECOMPRESS_HURRYUP : 0);
            const DWORD answer = decompress(flags, i, true);
            if (hurry) {
                // A B-frame in a hurry may be skipped: it has no picture then, and the next are the same.
                EXPECT_TRUE(answer == ICERR_DONTDRAW || (reference[i].picture && answer == ICERR_OK)) << i;
                EXPECT_EQ(std::count(bits.begin(), bits.begin() + out.biSizeImage, 0xFF), ptrdiff_t(out.biSizeImage));
            } else if (const AVFrame* picture = reference[i].picture.get()) {
                EXPECT_EQ(answer, DWORD(ICERR_OK));
                expectSamePicture(picture, *layout, bits.data(), int(i));
            } else {
                // Nothing handed out since the decoder began: black.
                withoutPicture++;
                EXPECT_TRUE(answer == ICERR_DONTDRAW && std::equal(black.begin(), black.end(), bits.begin())) << i;
            }
        }
        EXPECT_EQ(withoutPicture, clip.withoutPicture);
        EXPECT_EQ(ICSendMessage(decoder, ICM_DECOMPRESS_GET_DELAY, 0, 0), clip.withoutPicture);
    }
    // Nothing left to drain: an empty chunk draws the last picture decoded in a hurry, then keeps it.
    for (int repeat = 0; repeat < 2; repeat++) {
        EXPECT_EQ(decompress(ICDECOMPRESS_NOTKEYFRAME, reference.size(), false), DWORD(ICERR_DONTDRAW));
        expectSamePicture(reference.back().picture.get(), *layout, bits.data(), int(reference.size()));
    }
    // Decoding begun at a B-frame (chunk 2, shown first after the key frame): the pictures that
    // come out are of the chunks after it, which lean on pictures the decoder never had. None is
    // shown.
    ASSERT_EQ(ICSendMessage(decoder, ICM_DECOMPRESS_BEGIN, (DWORD_PTR)input, (DWORD_PTR)&out), ICERR_OK);
    for (size_t i = 2; clip.withoutPicture && i < reference.size(); i++) {
        const DWORD answer = decompress(ICDECOMPRESS_NOTKEYFRAME, i, true);
        EXPECT_TRUE(answer == ICERR_DONTDRAW && std::equal(black.begin(), black.end(), bits.begin())) << "from 2: " << i;
    }
    EXPECT_EQ(ICSendMessage(decoder, ICM_DECOMPRESS_END, 0, 0), ICERR_OK);
    ICClose(decoder);
}

INSTANTIATE_TEST_SUITE_P(Files, VfwDecode,
                         testing::Combine(testing::ValuesIn(clips), testing::ValuesIn(outputs), testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "To" + std::get<1>(info.param).name +
                                    (std::get<2>(info.param) ? "TopDown" : "");
                         });

// Every full-range byte value, at every place of a row (the vector steps and the bytes after
// them), to its studio-range value rounded to nearest.
TEST(StudioRange, RoundsEveryValueToNearest)
{
    for (const AVPixelFormat format : {AV_PIX_FMT_UYVY422, AV_PIX_FMT_YUYV422}) {
        Bytes row(256 * 2 + 14);
        for (size_t i = 0; i < row.size(); i++)
            row[i] = uint8_t(i / 2 + i % 2 * 128);  // each value once in each byte place
        const Bytes full = row;
        const StudioRange toStudio(format);
        toStudio(row.data(), row.size());
        for (size_t i = 0; i < row.size(); i++) {
            const bool chroma = studio::tolerance(format, i) != 0;
            const double exact = chroma ? 128 + (full[i] - 128) * 224.0 / 255 : 16 + full[i] * 219.0 / 255;
            EXPECT_EQ(row[i], int(exact + 0.5)) << (chroma ? "chroma " : "luma ") << int(full[i]) << " at " << i;
        }
    }
}

// What a decoder refuses to be asked, and to be given once begun; ICOpen makes decompressors of
// video type "vidc" (in either case) only.
TEST(Vfw, RefusesOutputsItCannotProduceExactly)
{
    const BITMAPINFOHEADER input = {sizeof input, 320, 240, 1, 24, FCC("MJPG"), 0, 0, 0, 0, 0};
    const BITMAPINFOHEADER uyvy = outputFor(input, FCC("UYVY"), 16, false);
    const auto changed = [](BITMAPINFOHEADER header, auto change) { return change(header), header; };
    const struct { const char* name; BITMAPINFOHEADER input, output; LRESULT answer; } cases[] = {
        {"VYUY", input, outputFor(input, FCC("VYUY"), 16, false), ICERR_BADFORMAT},
        {"YUV2", input, outputFor(input, FCC("YUV2"), 16, false), ICERR_BADFORMAT},
        {"UYVY in 24 bits", input, outputFor(input, FCC("UYVY"), 24, false), ICERR_BADFORMAT},
        {"RGB 16 bits", input, outputFor(input, BI_RGB, 16, false), ICERR_BADFORMAT},
        {"another width", input, changed(uyvy, [](auto& o) { o.biWidth += 2; }), ICERR_BADFORMAT},
        {"another height", input, changed(uyvy, [](auto& o) { o.biHeight -= 2; }), ICERR_BADFORMAT},
        {"a byte short", input, changed(uyvy, [](auto& o) { o.biSizeImage--; }), ICERR_BADSIZE},
        {"another codec's input", changed(input, [](auto& i) { i.biCompression = FCC("cvid"); }), uyvy, ICERR_BADFORMAT},
    };
    EXPECT_EQ(ICOpen(FCC("vids"), FCC("MJPG"), ICMODE_DECOMPRESS), nullptr);
    EXPECT_EQ(ICOpen(ICTYPE_VIDEO, FCC("MJPG"), ICMODE_DECOMPRESS + 1), nullptr);
    HIC decoder = ICOpen(FCC("VIDC"), FCC("mjpg"), ICMODE_DECOMPRESS);
    ASSERT_NE(decoder, nullptr);
    BITMAPINFOHEADER chunk = input, output = uyvy;
    Bytes bits(uyvy.biSizeImage), data(16);  // no JPEG picture
    chunk.biSizeImage = DWORD(data.size());
    EXPECT_NE(ICDecompress(decoder, 0, &chunk, data.data(), &output, bits.data()), DWORD(ICERR_OK)) << "before begin";
    for (const auto& c : cases)
        EXPECT_EQ(ICSendMessage(decoder, ICM_DECOMPRESS_QUERY, (DWORD_PTR)&c.input, (DWORD_PTR)&c.output), c.answer)
            << c.name;
    ASSERT_EQ(ICSendMessage(decoder, ICM_DECOMPRESS_BEGIN, (DWORD_PTR)&input, (DWORD_PTR)&uyvy), ICERR_OK);
    for (auto c : cases)  // the outputs not begun with
        EXPECT_TRUE(!memcmp(&c.output, &uyvy, sizeof uyvy) ||
                    ICDecompress(decoder, 0, &chunk, data.data(), &c.output, bits.data()) != DWORD(ICERR_OK))
            << c.name;
    EXPECT_NE(ICDecompress(decoder, 0, &chunk, data.data(), &output, bits.data()), DWORD(ICERR_OK)) << "a damaged chunk";
    ICClose(decoder);
}

}  // namespace
