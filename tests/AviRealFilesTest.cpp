// The parser on files written by the ffmpeg and mencoder tools, checked against what ffprobe and
// libavformat read from the same files (kept in the build tree's media folder).
#include <gtest/gtest.h>

#include <cmath>
#include <ranges>

#include "MediaFiles.h"
#include "TestSupport.h"

namespace {

enum class Index { Idx1, OpenDml, Wav, Rebuilt };

struct RealFile {
    const char* name;  // test name and the media file's stem
    Index index;
    std::string command;  // "{out}": the file to write; "{src}": the source file
    const char* source = "SourceClip";
};

void PrintTo(const RealFile& file, std::ostream* out) { *out << file.name; }

const std::string tone48k = lavfi("sine=frequency=440:sample_rate=48000");
const std::string tone44k = lavfi("sine=frequency=440:sample_rate=44100");
const std::string tone22k = lavfi("sine=frequency=440:sample_rate=22050");
const std::string pcm = " -c:a pcm_s16le -ac 2";

// An AVI file of a test picture and a sound, with an idx1 index.
RealFile avi(const char* name, const char* size, const char* rate, const std::string& sound, const std::string& options)
{
    return {name, Index::Idx1, ffmpeg(testsrc(size, rate) + sound, options)};
}

// What mencoder re-encodes.
const std::string sourceClip = ffmpeg(testsrc("320x240", "25") + tone44k, "-t 2 -c:v mjpeg -pix_fmt yuvj420p" + pcm);
const std::string mencoder = "mencoder {src} -really-quiet -ovc lavc -lavcopts vcodec=";

const RealFile files[] = {
    avi("RawBgr24Pcm48k", "176x144", "25", tone48k, "-t 2 -c:v rawvideo -pix_fmt bgr24" + pcm),
    // 1470-sample chunks: larger than the pieces FFmpeg splits PCM chunks into.
    avi("MjpegPcm44kNtscRate", "320x240", "30000/1001", lavfi("sine=sample_rate=44100:samples_per_frame=1470"),
        "-t 2 -c:v mjpeg -pix_fmt yuvj420p" + pcm),
    avi("Mpeg4PFramesPcmU8Mono", "320x240", "25", tone22k, "-t 3 -c:v mpeg4 -g 12 -bf 0 -c:a pcm_u8 -ac 1"),
    avi("Mpeg4BFramesAlaw", "320x240", "25", lavfi("sine=sample_rate=8000"),
        "-t 3 -c:v mpeg4 -g 15 -bf 2 -c:a pcm_alaw -ac 1"),
    avi("HuffyuvMp3", "176x144", "25", tone44k, "-t 2 -c:v huffyuv -c:a libmp3lame -b:a 128k -ac 2"),
    avi("Ffv1Ac3", "176x144", "25", tone48k, "-t 2 -c:v ffv1 -g 10 -c:a ac3 -ac 2"),
    avi("UyvyAdpcmMs", "176x144", "25", tone22k, "-t 2 -c:v rawvideo -pix_fmt uyvy422 -c:a adpcm_ms -ac 2"),
    {"AudioOnlyPcm", Index::Idx1, ffmpeg(tone48k, "-t 2" + pcm)},
    // DV type 2: a "vids" stream of DV frames without audio packs and a PCM stream, which gives the rate.
    avi("DvPal", "720x576", "25", tone44k, "-t 2 -c:v dvvideo -pix_fmt yuv420p" + pcm),
    avi("DvNtsc", "720x480", "30000/1001", tone48k, "-t 2 -c:v dvvideo -pix_fmt yuv411p" + pcm),
    // mencoder writes half-second PCM chunks ahead of the video: a non-interleaved file.
    {"MencoderMpeg4Pcm", Index::Idx1, mencoder + "mpeg4:vbitrate=800:keyint=12 -oac pcm -o {out}"},
    {"MencoderMjpegMp3", Index::Idx1, mencoder + "mjpeg -oac mp3lame -lameopts cbr:br=128 -o {out}"},
    // An odd number of bytes of data; 24-bit or more than two channels: WAVE_FORMAT_EXTENSIBLE;
    // "bext" and LIST "INFO" chunks before the data.
    {"WavU8MonoOdd", Index::Wav, ffmpeg(lavfi("sine=sample_rate=11025,atrim=end_sample=11025"), "-c:a pcm_u8 -ac 1")},
    {"WavS16SixChannels", Index::Wav, ffmpeg(tone48k, "-t 1 -c:a pcm_s16le -ac 6")},
    {"WavS24StereoBextInfo", Index::Wav,
     ffmpeg(tone48k, "-t 1 -c:a pcm_s24le -ac 2 -write_bext 1 -metadata title=Tone -metadata artist=Ombrix")},
    // A "bext" of odd size, and its pad byte, before the data.
    {"WavS24BextOdd", Index::Wav,
     ffmpeg(tone48k, "-t 1 -c:a pcm_s24le -ac 2 -write_bext 1 -metadata coding_history=ab")},
    // Audio before video; two audio tracks of different formats, the second served, with titles of
    // odd length in their stream lists.
    avi("AudioBeforeVideo", "320x240", "25", tone44k, "-map 1:a -map 0:v -t 2.4 -c:v mjpeg -pix_fmt yuvj420p" + pcm),
    {"TwoAudioTracks", Index::Idx1,
     ffmpeg(testsrc("176x144", "25") + tone44k + tone22k,
            "-map 0:v -map 1:a -map 2:a -t 2 -c:v mjpeg -pix_fmt yuvj420p -c:a:0 libmp3lame -c:a:1 pcm_u8 -ac 1"
            " -metadata:s:a:0 title=Left -metadata:s:a:1 title=Mono")},
    // No index, and RIFF and movi sizes left unset; MP3 chunks of odd sizes with their pad bytes.
    {"PipedMpeg4Mp3", Index::Rebuilt,
     ffmpegPiped(testsrc("320x240", "25") + tone44k, "-t 3 -c:v mpeg4 -g 12 -bf 2 -c:a libmp3lame -ac 2")},
    {"OpenDmlTitled", Index::OpenDml, openDmlTitled()},
    // A partial copy: the standard index chunks of the second segment are missing.
    {"OpenDmlTitledCut", Index::Rebuilt, firstBytes(1150000000), "OpenDmlTitled"},
    // Three RIFF segments (ffmpeg starts an AVIX near each GiB): 1080p UYVY frames, PCM, and a small
    // MPEG-4 stream whose P-frames carry the OpenDML delta-frame bit. Audio comes last: the parser
    // caps the audio length by the last stream header's length.
    {"OpenDml3Segments", Index::OpenDml,
     ffmpeg(lavfi("color=c=blue:size=1920x1080:rate=25") + tone48k + testsrc("320x240", "25"),
            "-map 0:v -map 2:v -map 1:a -t 22.4 -c:v:0 rawvideo -pix_fmt:v:0 uyvy422" + pcm +
                " -c:v:1 mpeg4 -g:v:1 12 -bf:v:1 0")},
};

// The file a table row makes, made when missing; empty when the program that makes it is not installed.
std::string madeFile(const RealFile& file)
{
    std::string command = file.command, ignored;
    if (run("command -v " + command.substr(0, command.find(' ')), &ignored) != 0)
        return "";
    if (size_t at = command.find("{src}"); at != std::string::npos)
        command.replace(at, 5, quote(make(file.source, ".avi",
                                          file.source == std::string("OpenDmlTitled") ? openDmlTitled() : sourceClip)));
    return make(file.name, file.index == Index::Wav ? ".wav" : ".avi", command);
}

class RealFiles : public testing::TestWithParam<RealFile> {};

// A real file, what libavformat and ffprobe read from it, and the parser opened on it.
TEST_P(RealFiles, ParsedAsFfmpegReadsThem)
{
    const Index index = GetParam().index;
    const std::string path = madeFile(GetParam());
    if (path.empty())
        GTEST_SKIP() << GetParam().command << ": not installed (build.sh installs it)";
    // Opened without probing the codecs: the formats as the headers store them.
    AVFormatContext* context = nullptr;
    ASSERT_EQ(avformat_open_input(&context, path.c_str(), nullptr, nullptr), 0) << path;
    const std::unique_ptr<AVFormatContext*, void (*)(AVFormatContext**)> closer(&context, avformat_close_input);
    const std::vector<std::vector<Chunk>> chunks = probe(path, context);
    avihandle h(path.c_str(), false, false);
    ASSERT_TRUE(!h.bError && h.openavi()) << path;
    std::vector<AVIstream*> records;
    for (AVIstream* s = h.pStreams; s; s = s->next)
        records.push_back(s);
    ASSERT_EQ(records.size(), chunks.size());
    // The parser serves the last stream of each type.
    auto isVideo = [&](size_t k) { return context->streams[k]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO; };
    int video = -1, audio = -1;
    for (unsigned k = 0; k < context->nb_streams; k++)
        (isVideo(k) ? video : audio) = int(k);
    auto record = [&](int k) { return k < 0 ? nullptr : records[k]; };
    EXPECT_EQ(std::tuple(h.pVideoStream, h.pAudioStream, h.bHasVideo, h.bHasAudio, h.bIdx1Index, h.bDVType1),
              std::tuple(record(video), record(audio), video >= 0, audio >= 0, index != Index::OpenDml, false));
    // Frames are the served video stream's, wherever it stands and whatever "dmlh" says.
    EXPECT_EQ(h.nFrames, chunks[video >= 0 ? video : 0].size());

    for (size_t k = 0; k < records.size(); k++) {
        // Every entry, and two numbers past the end, which give the last. An empty chunk (a dropped
        // frame) repeats the one before in idx1, and for video in a rebuilt index.
        const std::vector<Chunk>& c = chunks[k];
        const bool repeats = index == Index::Idx1 || (index == Index::Rebuilt && isVideo(k));
        std::vector<std::pair<long long, long long>> got, expected;  // position, size
        for (DWORD i = 0, from = 0; i < c.size() + 2; i++) {
            if (i < c.size() && (!repeats || std::get<1>(c[i]) || i == 0))
                from = i;
            const Located e = locate(h, records[k], i <= c.size() ? i : 0xFFFFFFFFu);
            // An empty chunk that FFmpeg skips has no place to compare.
            got.push_back({std::get<0>(c[from]) < 0 && e.size == 0 ? -1 : (long long)e.at, e.size});
            expected.push_back({std::get<0>(c[from]), std::get<1>(c[from])});
        }
        EXPECT_EQ(got, expected) << "stream " << k;
    }
    if (video >= 0) {
        // Key frames as ffprobe marks them (idx1, OpenDML delta-frame bits, or libavformat's parser);
        // the table holds them for idx1 and rebuilt indexes, findkeyframe finds them for every index.
        std::vector<DWORD> keyFrames, table(h.pKeyFrames, h.pKeyFrames + h.nKeyFrames);
        std::vector<long long> found, wanted;
        for (DWORD f = 0, key; f <= chunks[video].size(); f++) {
            if (f < chunks[video].size() && std::get<2>(chunks[video][f]))
                keyFrames.push_back(f);
            found.push_back(h.findkeyframe(f, &key) ? key : -1);
            wanted.push_back(keyFrames.empty() ? -1 : keyFrames.back());
        }
        EXPECT_EQ(table, index == Index::OpenDml ? std::vector<DWORD>{} : keyFrames);
        EXPECT_EQ(found, wanted);
        // The rate is the served video stream's; its time base is reduced. The ffmpeg tool names
        // the compression as the stream's handler.
        const AVCodecParameters* v = context->streams[video]->codecpar;
        const AVRational base = context->streams[video]->time_base;
        EXPECT_EQ(h.dRate * base.num, h.dScale * base.den);
        const BITMAPINFOHEADER* bi = h.videoFormat();
        EXPECT_EQ(std::tuple(bi->biWidth, abs(bi->biHeight), bi->biCompression, bi->biBitCount, h.nVideoFormatSize),
                  std::tuple(v->width, v->height, v->codec_tag, v->bits_per_coded_sample, 40u + v->extradata_size));
        EXPECT_TRUE(h.fccVideoHandler == v->codec_tag || GetParam().command.rfind("ffmpeg", 0) != 0);
    }
    if (audio < 0)
        return;
    const AVCodecParameters* a = context->streams[audio]->codecpar;
    const WAVEFORMATEX* wf = h.pAudioFormat;
    EXPECT_EQ(std::tuple(wf->wFormatTag, wf->nChannels, wf->nSamplesPerSec, wf->nAvgBytesPerSec * 8ll, wf->nBlockAlign,
                         wf->wBitsPerSample, wf->cbSize),
              std::tuple(a->codec_tag, a->ch_layout.nb_channels, a->sample_rate, a->bit_rate, a->block_align,
                         a->bits_per_coded_sample, a->extradata_size));
    // The sample table counts the whole blocks of every audio chunk, or one per chunk for a
    // variable-rate stream (one codec frame a chunk); the served stream's header length, when it
    // has one, caps the total, except where the index was rebuilt: the header may predate the data.
    ASSERT_GT(a->block_align, 0);
    const bool perChunk = h.nAudioBlockFrames != 0;
    const AVRational unit = context->streams[audio]->time_base;  // one chunk, when per chunk
    EXPECT_TRUE(!perChunk || h.nAudioBlockFrames == (DWORD)std::lround((double)a->sample_rate * unit.num / unit.den));
    ASSERT_EQ(h.nAudioChunks, chunks[audio].size());
    std::vector<std::pair<DWORD, DWORD>> table, expectedTable;  // first sample, samples
    DWORD total = 0;
    for (size_t i = 0; i < chunks[audio].size(); total += expectedTable.back().second, i++) {
        table.push_back({h.pAudioSamples[i].dwStart, h.pAudioSamples[i].dwSamples});
        expectedTable.push_back({total, perChunk ? 1 : DWORD(std::get<1>(chunks[audio][i]) / a->block_align)});
    }
    EXPECT_EQ(table, expectedTable);
    const int64_t length = context->streams[audio]->nb_frames;
    EXPECT_EQ(h.nAudioSamples, length && index != Index::Rebuilt ? (DWORD)std::min<int64_t>(total, length) : total);
}

INSTANTIATE_TEST_SUITE_P(Written, RealFiles, testing::ValuesIn(files),
                         [](const testing::TestParamInfo<RealFile>& info) { return std::string(info.param.name); });

// Every entry of every stream (position, size), the key-frame table and the frame count of a parsed file.
struct Parsed {
    std::vector<std::vector<std::pair<ULONGLONG, DWORD>>> streams;
    std::vector<DWORD> keyFrames;
    DWORD frames;
    auto tied() const { return std::tie(streams, keyFrames, frames); }
};

Parsed parsed(const std::string& path)
{
    avihandle h(path.c_str(), false, false);
    Parsed p{{}, {h.pKeyFrames, h.pKeyFrames + h.nKeyFrames}, h.nFrames};
    if (h.bError || !h.openavi())
        throw std::runtime_error("cannot parse " + path);
    for (AVIstream* s = h.pStreams; s; s = s->next) {
        auto& entries = p.streams.emplace_back();
        for (const IndexChunk* c = s->pChunks; c; c = c->next)
            for (DWORD i = 0; i < c->nEntries; i++) {
                const Located e = locate(h, s, DWORD(entries.size()));
                entries.push_back({e.at, e.size});
            }
    }
    h.closeavi();
    return p;
}

// Partial copies of real files, cut at assorted bytes, open with every whole chunk: of each
// stream, the chunks that the whole file's idx1 lists and that lie wholly within the copy, as many
// frames as whole chunks of the video stream (the first of these files), and the key frames idx1
// marks among them (told from the codec's data: MJPEG, HuffYUV, MPEG-4).
class CutShort : public testing::TestWithParam<const char*> {};

TEST_P(CutShort, OpensWithEveryWholeChunk)
{
    const RealFile& file = *std::find_if(std::begin(files), std::end(files),
                                         [](const RealFile& f) { return f.name == std::string(GetParam()); });
    const std::string path = madeFile(file);
    if (path.empty())
        GTEST_SKIP() << file.command << ": not installed (build.sh installs it)";
    const Parsed whole = parsed(path);
    const Bytes image = readFile(path);
    ScratchDir dir;
    MessageLog quiet;
    // Cuts through the file, and at the end of a chunk and one byte short of it.
    std::vector<size_t> cuts;
    for (size_t i = 1; i < 10; i++)
        cuts.push_back(image.size() * i / 10);
    const auto& [at, size] = whole.streams[0][whole.streams[0].size() / 3];
    cuts.insert(cuts.end(), {size_t(at + size), size_t(at + size - 1), image.size() - 1});
    for (size_t cut : cuts) {
        SCOPED_TRACE(testing::Message() << "cut at " << cut << " of " << image.size());
        Parsed wanted = whole;
        for (auto& entries : wanted.streams)
            std::erase_if(entries, [&](const auto& e) { return e.first + e.second > cut; });
        wanted.frames = DWORD(wanted.streams[0].size());
        std::erase_if(wanted.keyFrames, [&](DWORD k) { return k >= wanted.frames; });
        const Parsed copy = parsed(dir.write("cut.avi", Bytes(image.begin(), image.begin() + cut)));
        EXPECT_EQ(copy.tied(), wanted.tied());
    }
}

INSTANTIATE_TEST_SUITE_P(Written, CutShort,
                         testing::Values("MencoderMjpegMp3", "MencoderMpeg4Pcm", "HuffyuvMp3", "Mpeg4BFramesAlaw"),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// Key frames told from the codec's data: the index rebuilt for a file the ffmpeg tool wrote
// without one marks the frames that it marks in the idx1 of the same file written with one.
// Where the data cannot tell (FFV1, whose frames may lean on the ones before), only the first.
struct Coded { const char* name; std::string video; bool told; };  // video: the ffmpeg tool's options

void PrintTo(const Coded& c, std::ostream* out) { *out << c.name; }

const Coded coded[] = {
    {"Mpeg4PFrames", "-c:v mpeg4 -g 12 -bf 0", true},
    {"Mpeg4BFrames", "-c:v mpeg4 -g 12 -bf 2", true},
    {"H264", "-c:v libx264 -g 12", true},
    // Open groups: recovery points on I pictures that are not IDR.
    {"H264OpenGop", "-c:v libx264 -g 12 -x264-params open-gop=1", true},
    {"Mpeg2BFrames", "-c:v mpeg2video -g 12 -bf 2", true},
    {"Mjpeg", "-c:v mjpeg -pix_fmt yuvj420p", true},
    {"Ffv1", "-c:v ffv1 -g 4", false},
};

class KeyFramesFromCodec : public testing::TestWithParam<Coded> {};

TEST_P(KeyFramesFromCodec, AsTheWriterMarksThem)
{
    const Coded& c = GetParam();
    std::string encoders;
    if (run("ffmpeg -hide_banner -encoders", &encoders) != 0 || (c.video.find("libx264") != std::string::npos &&
                                                                  encoders.find("libx264") == std::string::npos))
        GTEST_SKIP() << "the ffmpeg tool cannot encode " << c.video;
    // One thread: both files hold the same pictures.
    const std::string inputs = testsrc("320x240", "25"), options = "-t 4 -threads 1 " + c.video;
    const std::string stem = std::string("Keyed") + c.name;
    const Parsed indexed = parsed(make(stem, ".avi", ffmpeg(inputs, options)));
    const Parsed piped = parsed(make(stem + "Piped", ".avi", ffmpegPiped(inputs, options)));
    const auto sizes = [](const Parsed& p) { return p.streams[0] | std::views::values; };
    ASSERT_TRUE(std::ranges::equal(sizes(piped), sizes(indexed)));
    ASSERT_GT(indexed.keyFrames.size(), 1u);
    EXPECT_EQ(piped.keyFrames, c.told ? indexed.keyFrames : std::vector<DWORD>{0});
}

INSTANTIATE_TEST_SUITE_P(Written, KeyFramesFromCodec, testing::ValuesIn(coded),
                         [](const testing::TestParamInfo<Coded>& info) { return std::string(info.param.name); });

}  // namespace
