// The ombrix tool, run as a program on files written by the ffmpeg tool, checked against what
// the ffmpeg tool decodes from the same files and from the tool's output.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "MediaFiles.h"
#include "TestSupport.h"

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

TEST(Tool, InfoJsonAndFramesAreFfmpegsPicturesTopDown)
{
    for (auto [file, colorSpace] : {std::pair{"rgb.avi", "3"}, {"uyvy.avi", "1"}}) {
        auto [code, text] = ombrix("info --json " + path(file));
        ASSERT_EQ(code, 0) << text;
        // The file, then an object of fields for each reader and for the query.
        EXPECT_TRUE(std::regex_match(
            text, std::regex(R"(\{\n  "File": [^\n]+(,\n  "\w+": \{\n(    "\w+": [^\n]+,\n)*    "\w+": [^\n]+\n  \})+\n\}\n)")))
            << text;
        for (const std::string& field : std::vector<std::string>{"\"NumFrames\": 10,", "\"Width\": 61,",
             "\"NumSamples\": 8000,", "\"HasAudio\": true,", "\"ColorSpace\": " + std::string(colorSpace) + ","})
            EXPECT_NE(text.find(field), std::string::npos) << field;

        const std::string folder = path(std::string(file) + "-frames");
        std::tie(code, text) = ombrix("frames " + path(file) + " 9 0 6 -o " + folder);
        ASSERT_EQ(code, 0) << text;
        for (int n : {0, 6, 9}) {
            const std::string expected = decode("-i " + quote(path(file)), n);
            const std::string got = decode("-i " + quote(folder + "/frame-" + std::to_string(n) + ".png"), 0);
            ASSERT_TRUE(expected.size() == 61u * 45 * 3 && got.size() == expected.size()) << file << " frame " << n;
            int worst = 0;
            for (size_t i = 0; i < got.size(); i++)
                worst = std::max(worst, std::abs(int(uint8_t(got[i])) - int(uint8_t(expected[i]))));
            EXPECT_LE(worst, 2) << file << " frame " << n;
        }
    }
}

TEST(Tool, AudioIsFfmpegsDecodeAndThumbsMakeASheet)
{
    ASSERT_EQ(ombrix("audio " + path("rgb.avi") + " 1234 5001 -o " + path("a.wav")).first, 0);
    // Resampling to the source's rate and channels changes nothing when the header holds them.
    const std::string got = decode("-i " + path("a.wav") + " -ar 8000 -ac 2 -f s16le -");
    const std::string all = decode("-i " + path("rgb.avi") + " -vn -f s16le -");
    ASSERT_EQ(all.size(), 8000u * 4);
    EXPECT_TRUE(got == all.substr(1234 * 4, 5001 * 4));

    const std::string sheet = path("sheet.png");
    ASSERT_EQ(ombrix("thumbs " + path("uyvy.avi") + " -o " + sheet + " --count 5 --columns 2 --width 40").first, 0);
    // Three rows of two 40x29 thumbnails, 4 pixels apart and around.
    std::string size;
    run("ffprobe -v error -show_entries stream=width,height -of csv=p=0 " + sheet, &size);
    EXPECT_EQ(size, "92,103\n");
}

TEST(Tool, BadInputGetsAReasonAndAnExitCode)
{
    std::ofstream(path("text.avi")) << "not a movie\n";
    std::filesystem::copy_file(path("rgb.avi"), path("cut.avi"));
    // Cut inside its headers, before any stream header is whole (cut after them, it opens with its
    // whole chunks).
    std::filesystem::resize_file(path("cut.avi"), 100);
    const struct { std::string arguments; int code; std::string message; } cases[] = {
        {"", 2, "usage: ombrix COMMAND"},
        {"frames " + path("rgb.avi") + " x", 2, "a frame number must be"},
        {"audio " + path("rgb.avi") + " 0 10", 2, "usage: ombrix audio"},
        {"info " + path("missing.avi"), 1, path("missing.avi") + ": no such file"},
        {"info " + path("text.avi"), 1, path("text.avi") + ": no reader opens it (AVIReader: not an AVI or WAV file"},
        {"info " + path("cut.avi"), 1, path("cut.avi") + ": no reader opens it (AVIReader: truncated"},
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
