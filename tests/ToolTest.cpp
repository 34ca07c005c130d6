// The ombrix tool, run as a program on files written by the ffmpeg tool, checked against what
// the ffmpeg tool decodes from the same files and from the tool's output.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "GraphMediaFiles.h"

namespace {

// The tool is built beside the tests.
const std::string tool =
    (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "../tools/ombrix/ombrix").string();

// The exit code and the text (stdout and stderr) of the tool run with these arguments.
std::pair<int, std::string> ombrix(const std::string& arguments)
{
    std::string text;
    const int code = run(quote(tool) + " " + arguments + " 2>&1", &text);
    return {code, text};
}

// What the ffmpeg tool writes to stdout; frame n of a file in RGB24 when n is given.
std::string decode(const std::string& arguments, int n = -1)
{
    std::string out;
    run("ffmpeg -nostdin -hide_banner -loglevel error " + arguments +
            (n < 0 ? "" : " -vf 'select=eq(n\\," + std::to_string(n) + ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 -") +
            " 2>/dev/null",
        &out);
    return out;
}

// A file of the suite, whose two movies are made once: 61 pixels wide, so that RGB rows are padded
// to 4 bytes and UYVY rows end in half a pixel pair.
std::string path(const std::string& name)
{
    static const ScratchDir dir;
    [[maybe_unused]] static const bool made = [] {
        const std::string source = "-f lavfi -i testsrc2=size=62x46:rate=10,scale=61x45 -f lavfi -i "
                                   "sine=frequency=440:sample_rate=8000 -t 1 -c:a pcm_s16le -ac 2 ";
        decode(source + "-vf vflip -c:v rawvideo -pix_fmt bgr24 -flipped_raw_rgb 1 " + dir.path("rgb.avi"));
        decode(source + "-c:v rawvideo -pix_fmt uyvy422 " + dir.path("uyvy.avi"));
        return true;
    }();
    return dir.path(name);
}

// Runs frames (9, 0 and 5), audio (5001 sample frames from 1234) and thumbs (5 in 2 columns, 40
// pixels wide) on a file, with words added; the folder of the files they wrote.
std::string readEach(const std::string& file, const std::string& words)
{
    const std::string folder = path(std::filesystem::path(file).filename().string() + "-read" + words);
    for (const std::string& command :
         {"frames " + file + " 9 0 5 -o " + folder, "audio " + file + " 1234 5001 -o " + folder + "/a.wav",
          "thumbs " + file + " --count 5 --columns 2 --width 40 -o " + folder + "/sheet.png"}) {
        auto [code, text] = ombrix(command + " " + words);
        EXPECT_EQ(code, 0) << command << " " << words << "\n" << text;
    }
    return folder + "/";
}

// What readEach wrote from a file is the ffmpeg tool's decoding: its frames, of that many pixels, to
// within 2; its samples exactly (the file's rate, two channels); a sheet of this size.
void expectFfmpegsReading(const std::string& file, const std::string& folder, size_t pixels, int rate,
                          const std::string& sheet)
{
    for (int n : {0, 5, 9}) {
        const std::string png = folder + "frame-" + std::to_string(n) + ".png";
        const std::string expected = decode("-i " + quote(file), n), got = decode("-i " + quote(png), 0);
        ASSERT_TRUE(expected.size() == pixels * 3 && got.size() == expected.size()) << png;
        int worst = 0;
        for (size_t i = 0; i < got.size(); i++)
            worst = std::max(worst, std::abs(int(uint8_t(got[i])) - int(uint8_t(expected[i]))));
        EXPECT_LE(worst, 2) << png;
    }
    const std::string all = decode("-i " + quote(file) + " -vn -f s16le -");
    ASSERT_GE(all.size(), (1234u + 5001) * 4);
    // Resampled to the file's rate: a header that does not hold the samples' rate and channels
    // changes them.
    const std::string wav = "-i " + quote(folder + "a.wav") + " -ar " + std::to_string(rate) + " -ac 2 -f s16le -";
    EXPECT_TRUE(decode(wav) == all.substr(1234 * 4, 5001 * 4));
    std::string size;
    run("ffprobe -v error -show_entries stream=width,height -of csv=p=0 " + quote(folder + "sheet.png"), &size);
    EXPECT_EQ(size, sheet);
}

// info --json gives the file, then an object of fields for each reader and for the query. Frames,
// audio and thumbs give the ffmpeg tool's pictures (top down) and samples, for RGB rows and UYVY
// rows alike; through the graph reader the lossless RGB file gives the same files byte for byte.
TEST(Tool, InfoJsonAndReadingAreFfmpegs)
{
    for (auto [file, colorSpace, rgb] : {std::tuple{"rgb.avi", "3", true}, {"uyvy.avi", "1", false}}) {
        auto [code, text] = ombrix("info --json " + path(file));
        ASSERT_EQ(code, 0) << text;
        const std::regex json(R"(\{\n  "File": [^\n]+)"
                              R"((,\n  "\w+": \{\n(    "\w+": [^\n]+,\n)*    "\w+": [^\n]+\n  \})+\n\}\n)");
        EXPECT_TRUE(std::regex_match(text, json)) << text;
        for (const std::string& field : std::vector<std::string>{"\"NumFrames\": 10,", "\"Width\": 61,",
             "\"NumSamples\": 8000,", "\"HasAudio\": true,", "\"ColorSpace\": " + std::string(colorSpace) + ","})
            EXPECT_NE(text.find(field), std::string::npos) << field;
        const std::string avi = readEach(path(file), "");
        // Three rows of two 40x29 thumbnails, 4 pixels apart and around.
        expectFfmpegsReading(path(file), avi, 61 * 45, 8000, "92,103\n");
        if (!rgb)
            continue;
        const std::string graph = readEach(path(file), "--graph");
        for (const char* name : {"frame-0.png", "frame-5.png", "frame-9.png", "a.wav", "sheet.png"})
            EXPECT_TRUE(!readFile(avi + name).empty() && readFile(avi + name) == readFile(graph + name)) << name;
    }
}

// Each reader's record in a column of its own, the AVI reader's for AVI and WAV files only, and
// why a reader refused the file in its column.
TEST(Tool, InfoShowsEachReadersRecordInItsColumn)
{
    // An AVI not named .avi: the AVI reader refuses it, the graph reader opens it.
    std::filesystem::copy_file(path("rgb.avi"), path("rgb.bin"));
    const std::string wmv = mediaFile("GraphWmv2Wma2").path();
    const struct { std::string arguments; std::vector<std::string> rows; } cases[] = {
        {"info " + path("rgb.avi"),
         {" +AVIReader +OmbrixReader +Ombrix_GetFileInfo", "Opened +yes +yes +yes", "Width +61 +61 +0",
          "NumFrames +10 +0 +0", "ColorSpace +3 \\(RGB24\\) +3 \\(RGB24\\) +0 \\(none\\)", "IsValid +1 +0 +0"}},
        {"info " + wmv,
         {" +OmbrixReader +Ombrix_GetFileInfo", "Width +160 +0", "SampleRate +44100 +0", "HasAudio +yes +yes"}},
        {"info " + path("rgb.bin"),
         {"Opened +no: the reader takes only files named \\.avi or \\.wav +yes +yes", "Width +- +61 +0"}},
        {"info --json " + path("rgb.bin"),
         {R"(  "AVIReader": \{\n    "Refused": "the reader takes only files named \.avi or \.wav"\n  \},)",
          R"(  "OmbrixReader": \{\n    "HasVideo": true,)"}},
    };
    for (const auto& c : cases) {
        auto [code, text] = ombrix(c.arguments);
        EXPECT_EQ(code, 0) << c.arguments << "\n" << text;
        for (const std::string& row : c.rows)
            EXPECT_TRUE(std::regex_search(text, std::regex("\n" + row + "\n"))) << row << "\n" << text;
    }
}

// A Windows Media file goes to the graph reader by itself: FFmpeg's pictures and samples.
TEST(Tool, GraphReaderServesWindowsMedia)
{
    const std::string wmv = mediaFile("GraphWmv2Wma2").path();
    expectFfmpegsReading(wmv, readEach(wmv, ""), 160 * 120, 44100, "92,106\n");  // 40x30 thumbnails
}

// codecs lists the writer's entries; convert rewrites a file through the writer: stored frames the
// writer takes as they are come out exact, others near the ffmpeg tool's pictures, audio exact.
TEST(Tool, CodecsAndConvertWriteThroughTheWriter)
{
    auto [code, text] = ombrix("codecs");
    EXPECT_EQ(0, code);
    for (const char* entry : {"   0  Uncompressed (UYVY)", "   4  DV Video with interleaved DV Audio", "   0  Uncompressed PCM"})
        EXPECT_NE(text.find(entry), std::string::npos) << entry << "\n" << text;

    const std::string uyvy = path("uyvy.avi"), copy = path("copy.avi"), rgb = path("from-wmv.avi");
    const std::string wmv = mediaFile("GraphWmv2Wma2").path();
    std::tie(code, text) = ombrix("convert " + uyvy + " " + copy);
    EXPECT_EQ(std::pair(0, copy + ": 10 frames, 8000 sample frames\n"), std::pair(code, text));
    for (const std::string output : {" -f rawvideo -pix_fmt uyvy422 -", " -vn -f s16le -"})
        EXPECT_TRUE(decode("-i " + quote(copy) + output) == decode("-i " + quote(uyvy) + output)) << output;

    std::tie(code, text) = ombrix("convert " + wmv + " " + rgb + " --video-codec 'uncompressed (bgr24)'");
    EXPECT_EQ(0, code) << text;
    for (int n : {0, 9}) {
        // Through the graph reader's UYVY and back to RGB: near the ffmpeg tool's RGB, not equal.
        const std::string got = decode("-i " + quote(rgb), n), want = decode("-i " + quote(wmv), n);
        ASSERT_EQ(want.size(), got.size());
        double difference = 0;
        for (size_t i = 0; i < got.size(); i++)
            difference += std::abs(int(uint8_t(got[i])) - int(uint8_t(want[i])));
        EXPECT_LT(difference / double(got.size()), 3.0) << n;
    }

    std::tie(code, text) = ombrix("convert " + uyvy + " " + path("x.avi") + " --audio-codec 'No Such Codec'");
    EXPECT_EQ(2, code);
    EXPECT_NE(text.find("no audio codec named 'No Such Codec'; there are:\n  0 Uncompressed PCM"), std::string::npos) << text;
}

// dvout plays a file out to a DV device writing a file: every frame scaled to DV's, at DV's rate,
// with the sound exact.
TEST(Tool, DVOutWritesTheStreamADeviceGets)
{
    const std::string in = path("dv-source.avi"), out = path("out.dv");
    decode("-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=300:sample_rate=48000 -t 1 "
           "-c:v mjpeg -c:a pcm_s16le -ac 2 " + quote(in));
    auto [code, text] = ombrix("dvout " + in + " --to " + out);
    EXPECT_EQ(std::pair(0, out + ": 25 PAL frames, 48000 sample frames\n"), std::pair(code, text));
    EXPECT_EQ(25u * 144000, std::filesystem::file_size(out));
    const std::string sound = decode("-i " + quote(out) + " -f s16le -");
    ASSERT_EQ(48000u * 4, sound.size());
    EXPECT_TRUE(sound == decode("-i " + quote(in) + " -f s16le -"));
    EXPECT_EQ(720u * 576 * 3, decode("-i " + quote(out), 24).size());
}

TEST(Tool, BadInputGetsAReasonAndAnExitCode)
{
    std::ofstream(path("text.avi")) << "not a movie\n";
    std::filesystem::copy_file(path("text.avi"), path("text.wmv"));
    std::filesystem::copy_file(path("rgb.avi"), path("cut.avi"));
    // Cut inside its headers, before any stream header is whole (cut after them, it opens with its
    // whole chunks).
    std::filesystem::resize_file(path("cut.avi"), 100);
    const struct { std::string arguments; int code; std::string message; } cases[] = {
        {"", 2, "usage: ombrix COMMAND"},
        {"frames " + path("rgb.avi") + " x", 2, "a frame number must be"},
        {"audio " + path("rgb.avi") + " 0 10", 2, "usage: ombrix audio"},
        {"dvout " + path("rgb.avi") + " --pal --ntsc --to " + path("x.dv"), 2, "usage: ombrix dvout"},
        {"info " + path("missing.avi"), 1, path("missing.avi") + ": no such file"},
        {"info " + path("text.avi"), 1, path("text.avi") + ": no reader opens it (AVIReader: not an AVI or WAV file"},
        {"info " + path("cut.avi"), 1, path("cut.avi") + ": no reader opens it (AVIReader: truncated"},
        // With --graph the graph reader alone is asked.
        {"frames " + path("text.avi") + " 0 --graph", 1, path("text.avi") + ": no reader opens it (OmbrixReader: "},
        {"thumbs " + path("text.wmv") + " -o " + path("c.png"), 1,
         path("text.wmv") + ": no reader opens it (OmbrixReader: FFmpeg cannot read it"},
        {"thumbs " + mediaFile("GraphWma2").path() + " -o " + path("d.png"), 1, ".wma: has no video"},
        {"audio " + mediaFile("GraphWmv1").path() + " 0 1 -o " + path("e.wav"), 1, ".wmv: has no audio"},
        {"frames " + path("rgb.avi") + " 10", 1, "frame 10 is past the last frame, 9"},
        {"audio " + path("rgb.avi") + " 7999 2 -o " + path("b.wav"), 1, "reach past the last sample frame, 7999"},
    };
    for (const auto& c : cases) {
        auto [code, text] = ombrix(c.arguments);
        EXPECT_EQ(code, c.code) << c.arguments;
        EXPECT_NE(text.find(c.message), std::string::npos) << c.arguments << "\n" << text;
    }
    EXPECT_FALSE(std::filesystem::exists(path("b.wav")));  // a refused request leaves no file
}

}  // namespace
