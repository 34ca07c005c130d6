// The ombrix tool, run as a program on files written by the ffmpeg tool, checked against what
// the ffmpeg tool decodes from the same files and from the tool's output.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>

#include "TestSupport.h"

namespace {

struct Output {
    int code;
    std::string text;  // stdout, and stderr when asked for
};

Output run(const std::string& command)
{
    Output out{-1, ""};
    FILE* pipe = popen((command + " </dev/null").c_str(), "r");
    if (!pipe)
        return out;
    char block[65536];
    for (size_t n; (n = fread(block, 1, sizeof block, pipe)) > 0;)
        out.text.append(block, n);
    const int status = pclose(pipe);
    out.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

// The tool is built beside the tests.
const std::string tool =
    (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "../tools/ombrix/ombrix").string();

Output ombrix(const std::string& arguments) { return run("'" + tool + "' " + arguments + " 2>&1"); }

std::string ffmpeg(const std::string& arguments)
{
    return run("ffmpeg -nostdin -hide_banner -loglevel error " + arguments + " 2>/dev/null").text;
}

// Frame n of a file as the ffmpeg tool decodes it, in RGB24.
std::string decodedFrame(const std::string& path, int n)
{
    return ffmpeg("-i '" + path + "' -vf 'select=eq(n\\," + std::to_string(n) + ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
}

class Tool : public testing::Test {
protected:
    // 61 pixels: RGB rows padded to 4 bytes, UYVY rows ending in half a pixel pair.
    static void SetUpTestSuite()
    {
        dir = new ScratchDir;
        const std::string source = "-f lavfi -i testsrc2=size=62x46:rate=10,scale=61x45 -f lavfi -i "
                                   "sine=frequency=440:sample_rate=8000 -t 1 -c:a pcm_s16le -ac 2 ";
        ffmpeg(source + "-vf vflip -c:v rawvideo -pix_fmt bgr24 -flipped_raw_rgb 1 " + path("rgb.avi"));
        ffmpeg(source + "-c:v rawvideo -pix_fmt uyvy422 " + path("uyvy.avi"));
    }
    static void TearDownTestSuite() { delete dir; }
    static std::string path(const std::string& name) { return dir->path(name); }

    static ScratchDir* dir;
};
ScratchDir* Tool::dir;

TEST_F(Tool, InfoJsonHoldsTheRecord)
{
    for (auto [file, colorSpace] : {std::pair{"rgb.avi", "3"}, {"uyvy.avi", "1"}}) {
        Output out = ombrix("info --json " + path(file));
        ASSERT_EQ(out.code, 0) << out.text;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(out.text, m, std::regex(R"(\{\n((  "\w+": [^\n]+,\n)*  "\w+": [^\n]+)\n\}\n)")))
            << out.text;
        std::map<std::string, std::string> record;
        const std::string body = m[1];
        const std::regex pair(R"re("(\w+)": ("[^"]*"|true|false|-?\d+))re");
        for (auto i = std::sregex_iterator(body.begin(), body.end(), pair); i != std::sregex_iterator(); ++i)
            record[(*i)[1]] = (*i)[2];
        EXPECT_EQ(record["NumFrames"], "10");
        EXPECT_EQ(record["Width"], "61");
        EXPECT_EQ(record["ColorSpace"], colorSpace);
        EXPECT_EQ(record["NumSamples"], "8000");
        EXPECT_EQ(record["HasAudio"], "true");
    }
}

TEST_F(Tool, FramesAreFfmpegsPicturesTopDown)
{
    for (const char* file : {"rgb.avi", "uyvy.avi"}) {
        const std::string folder = path(std::string(file) + "-frames");
        Output out = ombrix("frames " + path(file) + " 9 0 6 -o " + folder);
        ASSERT_EQ(out.code, 0) << out.text;
        for (int n : {0, 6, 9}) {
            const std::string expected = decodedFrame(path(file), n);
            const std::string got = decodedFrame(folder + "/frame-" + std::to_string(n) + ".png", 0);
            ASSERT_EQ(expected.size(), 61u * 45 * 3) << file;
            ASSERT_EQ(got.size(), expected.size()) << file << " frame " << n;
            int worst = 0;
            for (size_t i = 0; i < got.size(); i++)
                worst = std::max(worst, std::abs(int(uint8_t(got[i])) - int(uint8_t(expected[i]))));
            EXPECT_LE(worst, 2) << file << " frame " << n;
        }
    }
}

TEST_F(Tool, AudioIsFfmpegsDecode)
{
    ASSERT_EQ(ombrix("audio " + path("rgb.avi") + " 1234 5001 -o " + path("a.wav")).code, 0);
    // Resampling to the source's rate and channels changes nothing when the header holds them.
    const std::string got = ffmpeg("-i " + path("a.wav") + " -ar 8000 -ac 2 -f s16le -");
    const std::string all = ffmpeg("-i " + path("rgb.avi") + " -vn -f s16le -");
    ASSERT_EQ(all.size(), 8000u * 4);
    EXPECT_TRUE(got == all.substr(1234 * 4, 5001 * 4));
}

TEST_F(Tool, ThumbsMakeASheetOfTheExpectedSize)
{
    const std::string sheet = path("sheet.png");
    ASSERT_EQ(ombrix("thumbs " + path("uyvy.avi") + " -o " + sheet + " --count 5 --columns 2 --width 40").code, 0);
    // Three rows of two 40x29 thumbnails, 4 pixels apart and around.
    EXPECT_EQ(run("ffprobe -v error -show_entries stream=width,height -of csv=p=0 " + sheet).text, "92,103\n");
}

TEST_F(Tool, BadInputGetsAReasonAndAnExitCode)
{
    std::ofstream(path("text.avi")) << "not a movie\n";
    const auto size = std::filesystem::file_size(path("rgb.avi"));
    std::filesystem::copy_file(path("rgb.avi"), path("cut.avi"));
    std::filesystem::resize_file(path("cut.avi"), size / 2);
    const struct {
        std::string arguments;
        int code;
        std::string message;
    } cases[] = {
        {"", 2, "usage: ombrix COMMAND"},
        {"frames " + path("rgb.avi") + " x", 2, "a frame number must be"},
        {"audio " + path("rgb.avi") + " 0 10", 2, "usage: ombrix audio"},
        {"info " + path("missing.avi"), 1, path("missing.avi") + ": no such file"},
        {"info " + path("text.avi"), 1, path("text.avi") + ": not an AVI or WAV file"},
        {"info " + path("cut.avi"), 1, path("cut.avi") + ": truncated"},
        {"frames " + path("rgb.avi") + " 10", 1, "frame 10 is past the last frame, 9"},
        {"audio " + path("rgb.avi") + " 7999 2 -o " + path("b.wav"), 1, "reach past the last sample frame, 7999"},
    };
    for (const auto& c : cases) {
        Output out = ombrix(c.arguments);
        EXPECT_EQ(out.code, c.code) << c.arguments;
        EXPECT_NE(out.text.find(c.message), std::string::npos) << c.arguments << "\n" << out.text;
    }
    EXPECT_FALSE(std::filesystem::exists(path("b.wav")));
}

}  // namespace
