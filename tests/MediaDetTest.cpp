// The media detector on files written by the ffmpeg tool: its streams, their types, lengths and
// frame rates against what ffprobe reports for the same file, and its failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "MediaFiles.h"
#include "TestSupport.h"
#include "platform/dshow/Strmif.h"

namespace {

// lengths: of the audio and video streams in file order, as made.
struct Clip { const char* name; const char* extension; std::string command; std::vector<double> lengths; };
void PrintTo(const Clip& clip, std::ostream* out) { *out << clip.name; }

const std::string video = testsrc("160x120", "25"), ntscVideo = testsrc("160x120", "30000/1001");
const std::string audio = lavfi("sine=frequency=440:sample_rate=44100");

const Clip clips[] = {
    {"AsfWmv2Wma2", ".wmv", ffmpeg(video + audio, "-t 2 -c:v wmv2 -c:a wmav2 -b:a 64k"), {2, 2}},
    {"AsfWmaOnly", ".wma", ffmpeg(audio, "-t 1.5 -c:a wmav2 -b:a 64k"), {1.5}},
    {"Mp4H264Aac", ".mp4", ffmpeg(ntscVideo + audio, "-t 2 -c:v libx264 -preset ultrafast -c:a aac"), {2, 2}},
    {"MkvFfv1Flac", ".mkv", ffmpeg(video + audio, "-t 1 -c:v ffv1 -c:a flac"), {1, 1}},
    // No stream durations; the audio starts late and ends with the file.
    {"MkvAudioStartsLate", ".mkv", ffmpeg(video + "-itsoffset 0.5 -t 1.5 " + audio, "-t 2 -c:v ffv1 -c:a flac"), {2, 1.5}},
    {"MpegProgramStream", ".mpg",
     ffmpeg(testsrc("352x288", "25") + lavfi("sine=sample_rate=48000"), "-t 2 -c:v mpeg2video -c:a mp2 -f vob"), {2, 2}},
    {"RawDv", ".dv", ffmpeg(testsrc("720x576", "25"), "-t 1 -c:v dvvideo -pix_fmt yuv420p -f dv"), {1}},
    // The audio is shorter than the video: its length cannot come from the file's.
    {"AviPcmShorterThanVideo", ".avi", ffmpeg(video + "-t 1 " + audio, "-t 2 -c:v mjpeg -c:a pcm_s16le"), {2, 1}},
    {"Wav", ".wav", ffmpeg(audio, "-t 1.25 -c:a pcm_s16le"), {1.25}},
};

std::string fileOf(const Clip& clip) { return make(std::string("mediadet-") + clip.name, clip.extension, clip.command); }
const Clip& wav = clips[std::size(clips) - 1];

// A new detector through IMediaDet.
struct Detector {
    Detector() { EXPECT_EQ(CoCreateInstance(CLSID_MediaDet, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaDet, (void**)&det), S_OK); }
    ~Detector() { det->Release(); }
    Detector(const Detector&) = delete;
    IMediaDet* operator->() const { return det; }

    // Opens a file by its UTF-8 name, passed as the library does: a plain wide string.
    HRESULT open(const std::string& path) const
    {
        std::wstring wide(path.size() + 1, L'\0');
        const int length = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), int(wide.size()));
        return length > 0 ? det->put_Filename(wide.data()) : E_FAIL;
    }
    // The current file's name; "<null>" when it has none.
    std::wstring fileName() const
    {
        BSTR name = nullptr;
        EXPECT_EQ(det->get_Filename(&name), S_OK);
        std::wstring text = name ? std::wstring(name, SysStringLen(name)) : L"<null>";
        SysFreeString(name);
        return text;
    }

    IMediaDet* det = nullptr;
};

class MediaDetFile : public ::testing::TestWithParam<Clip> {};

TEST_P(MediaDetFile, StreamsMatchFfprobe)
{
    const Clip& clip = GetParam();
    const std::string path = fileOf(clip);
    // The audio and video streams ffprobe lists, with their types, durations and frame rates.
    auto probed = ffprobeStreams(path, "codec_type,duration,avg_frame_rate");
    std::erase_if(probed, [](auto& field) { return field["codec_type"] != "audio" && field["codec_type"] != "video"; });
    ASSERT_EQ(probed.size(), clip.lengths.size()) << "the file is not as made";
    Detector det;
    ASSERT_EQ(det.open(path), S_OK);
    LONG count = -1;
    ASSERT_EQ(det->get_OutputStreams(&count), S_OK);
    ASSERT_EQ(count, LONG(probed.size()));
    for (LONG i = 0; i < count; ++i) {
        SCOPED_TRACE("stream " + std::to_string(i));
        auto fields = probed[size_t(i)];
        ASSERT_EQ(det->put_CurrentStream(i), S_OK);
        LONG current = -1;
        EXPECT_EQ(det->get_CurrentStream(&current), S_OK);
        EXPECT_EQ(current, i);
        GUID type = GUID_NULL;
        ASSERT_EQ(det->get_StreamType(&type), S_OK);
        const bool isVideo = fields["codec_type"] == "video";
        EXPECT_EQ(type, isVideo ? MEDIATYPE_Video : MEDIATYPE_Audio);

        double length = -1;
        ASSERT_EQ(det->get_StreamLength(&length), S_OK);
        // ffprobe's stream duration where it has one (ASF's is the whole file's, from its start);
        // the length made otherwise.
        if (fields["duration"] != "N/A" && !std::string_view(clip.name).starts_with("Asf")) {
            EXPECT_NEAR(length, std::stod(fields["duration"]), 1e-6);
        }
        EXPECT_NEAR(length, clip.lengths[size_t(i)], 0.06);

        double fps = -1;
        EXPECT_EQ(det->get_FrameRate(&fps), isVideo ? S_OK : VFW_E_INVALIDMEDIATYPE);
        if (isVideo) {
            EXPECT_DOUBLE_EQ(fps, fraction(fields["avg_frame_rate"]));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(MediaDet, MediaDetFile, ::testing::ValuesIn(clips),
                         [](const auto& info) { return std::string(info.param.name); });

// Without a file, before one or after one it cannot read (which closes the previous file), there
// is no name, no stream and no current stream.
void expectNoFile(const Detector& det, const char* after)
{
    EXPECT_EQ(det.fileName(), L"<null>") << after;
    LONG count;
    double value;
    GUID type;
    EXPECT_EQ((std::vector<HRESULT>{det->get_OutputStreams(&count), det->get_CurrentStream(&count),
                                    det->put_CurrentStream(0), det->get_StreamType(&type),
                                    det->get_StreamLength(&value), det->get_FrameRate(&value)}),
              std::vector<HRESULT>(6, E_INVALIDARG))
        << after;
}

// Another file replaces the first and starts at its first stream (this one passed as a counted
// string, with a name that is not ASCII); a file it cannot read fails and leaves no file.
TEST(MediaDet, EachFileReplacesThePreviousOne)
{
    ScratchDir dir;
    std::filesystem::copy_file(fileOf(wav), dir.path("Grüße ☃.wav"));
    const std::string folder = dir.path("");  // ASCII
    Detector det;
    ASSERT_EQ(det.open(fileOf(clips[0])), S_OK);
    ASSERT_EQ(det->put_CurrentStream(1), S_OK);
    BSTR name = SysAllocString((std::wstring(folder.begin(), folder.end()) + L"Grüße ☃.wav").c_str());
    ASSERT_EQ(det->put_Filename(name), S_OK);
    EXPECT_EQ(det.fileName(), name);
    SysFreeString(name);
    LONG count = -1, current = -1;
    EXPECT_EQ(std::tuple(S_OK, S_OK), std::tuple(det->get_OutputStreams(&count), det->get_CurrentStream(&current)));
    EXPECT_EQ(std::tuple(1L, 0L), std::tuple(count, current));
    for (LONG wrong : {-1, 1})
        EXPECT_EQ(det->put_CurrentStream(wrong), E_INVALIDARG) << wrong;
    double length = 0;
    EXPECT_EQ(det->get_StreamLength(&length), S_OK);
    EXPECT_NEAR(length, 1.25, 0.01);

    Bytes noise(4096);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = uint8_t(i * 7919 >> 3);
    const std::string subtitles = "1\n00:00:00,000 --> 00:00:01,000\nOnly words\n";
    const struct { const char* name; std::string path; HRESULT expected; } cases[] = {
        {"missing", dir.path("missing.avi"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {"noise", dir.write("noise.bin", noise), VFW_E_INVALID_FILE_FORMAT},
        {"empty", dir.write("empty.avi", {}), VFW_E_INVALID_FILE_FORMAT},
        {"no audio or video", dir.write("words.srt", Bytes(subtitles.begin(), subtitles.end())),
         VFW_E_INVALID_FILE_FORMAT},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(det.open(fileOf(wav)), S_OK);
        EXPECT_EQ(det.open(c.path), c.expected) << c.name;
        expectNoFile(det, c.name);
    }
    Detector fresh;
    expectNoFile(fresh, "nothing opened");
    EXPECT_EQ(fresh->get_StreamLength(nullptr), E_POINTER);
    EXPECT_EQ(fresh->put_Filename(nullptr), E_POINTER);
}

}  // namespace
