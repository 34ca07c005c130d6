// The parser on files written by the ffmpeg and mencoder tools, checked against what ffprobe and
// libavformat read from the same files: every chunk's place and size, key frames, formats, rates and
// the audio sample table. The files are kept in the build tree's media folder.
#include <cmath>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "MediaFiles.h"
#include "TestSupport.h"

namespace {

enum class Index { Idx1, OpenDml, Wav };

struct RealFile {
    const char* name;  // test name and the media file's stem
    Index index;
    std::string command;  // "{out}": the file to write; "{src}": the source clip for mencoder
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
    // Three RIFF segments (ffmpeg starts an AVIX near each GiB): 1080p UYVY frames, PCM, and a small
    // MPEG-4 stream whose P-frames carry the OpenDML delta-frame bit. Audio comes last: the parser
    // caps the audio length by the last stream header's length.
    {"OpenDml3Segments", Index::OpenDml,
     ffmpeg(lavfi("color=c=blue:size=1920x1080:rate=25") + tone48k + testsrc("320x240", "25"),
            "-map 0:v -map 2:v -map 1:a -t 22.4 -c:v:0 rawvideo -pix_fmt:v:0 uyvy422" + pcm +
                " -c:v:1 mpeg4 -g:v:1 12 -bf:v:1 0")},
};

class RealFiles : public testing::TestWithParam<RealFile> {};

// A real file, what libavformat and ffprobe read from it, and the parser opened on it.
TEST_P(RealFiles, ParsedAsFfmpegReadsThem)
{
    std::string command = GetParam().command, program = command.substr(0, command.find(' ')), ignored;
    if (run("command -v " + program, &ignored) != 0)
        GTEST_SKIP() << program << " is not installed (build.sh installs it)";
    if (size_t at = command.find("{src}"); at != std::string::npos)
        command.replace(at, 5, quote(make("SourceClip", ".avi", sourceClip)));
    const Index index = GetParam().index;
    const std::string path = make(GetParam().name, index == Index::Wav ? ".wav" : ".avi", command);
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
    int video = -1, audio = -1;
    for (unsigned k = 0; k < context->nb_streams; k++)
        (context->streams[k]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? video : audio) = int(k);
    EXPECT_TRUE(h.pVideoStream == (video < 0 ? nullptr : records[video]) && h.bHasVideo == (video >= 0));
    EXPECT_TRUE(h.pAudioStream == (audio < 0 ? nullptr : records[audio]) && h.bHasAudio == (audio >= 0));
    EXPECT_TRUE(h.bIdx1Index == (index != Index::OpenDml) && !h.bDVType1);
    EXPECT_EQ(h.nFrames, chunks[0].size());

    for (size_t k = 0; k < records.size(); k++) {
        SCOPED_TRACE("stream " + std::to_string(k));
        const std::vector<Chunk>& c = chunks[k];
        const bool isVideo = context->streams[k]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        EXPECT_EQ(records[k]->fccType, isVideo ? FCC("vids") : FCC("auds"));
        // Every entry, and two numbers past the end, which give the last entry. An idx1 entry of an
        // empty chunk (a dropped frame) repeats the chunk before it.
        std::vector<std::pair<long long, long long>> got, expected;  // position, size
        for (DWORD i = 0, from = 0; i < c.size() + 2; i++) {
            if (i < c.size() && (index != Index::Idx1 || std::get<1>(c[i]) || i == 0))
                from = i;
            const Located e = locate(h, records[k], i <= c.size() ? i : 0xFFFFFFFFu);
            got.push_back({e.at, e.size});
            expected.push_back({std::get<0>(c[from]), std::get<1>(c[from])});
        }
        EXPECT_THAT(got, testing::Pointwise(testing::Eq(), expected));
    }
    // The idx1 key-frame table numbers the first stream's key chunks (an audio stream's up to the
    // header's frame count); the other indexes have none.
    std::vector<DWORD> keyFrames, got(h.pKeyFrames, h.pKeyFrames + h.nKeyFrames);
    for (DWORD i = 0; index == Index::Idx1 && i < chunks[0].size(); i++)
        if (std::get<2>(chunks[0][i]))
            keyFrames.push_back(i);
    keyFrames.resize(video < 0 ? std::min(keyFrames.size(), got.size()) : keyFrames.size());
    EXPECT_EQ(got, keyFrames);

    if (video >= 0) {
        const AVCodecParameters* v = context->streams[video]->codecpar;
        // The rate is the first stream's; its time base is reduced.
        const AVRational base = context->streams[0]->time_base;
        EXPECT_EQ(h.dRate * base.num, h.dScale * base.den);
        EXPECT_DOUBLE_EQ(h.dFrameRate, (double)base.den / base.num);
        const BITMAPINFOHEADER* bi = h.videoFormat();
        EXPECT_EQ(std::tuple(bi->biWidth, abs(bi->biHeight), bi->biCompression, bi->biBitCount, h.nVideoFormatSize),
                  std::tuple(v->width, v->height, v->codec_tag, v->bits_per_coded_sample, 40u + v->extradata_size));
        // The ffmpeg tool names the compression as the stream's handler.
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
    EXPECT_TRUE(h.nAudioBufferSize == 100000u || index != Index::Wav);
    // The sample table counts the whole blocks of every audio chunk, or one per chunk for a
    // variable-rate stream (one codec frame a chunk); the header's length, when it has one, caps
    // the total.
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
    EXPECT_THAT(table, testing::Pointwise(testing::Eq(), expectedTable));
    const int64_t length = context->streams[audio]->nb_frames;
    EXPECT_EQ(h.nAudioSamples, length ? (DWORD)std::min<int64_t>(total, length) : total);
}

INSTANTIATE_TEST_SUITE_P(Written, RealFiles, testing::ValuesIn(files),
                         [](const testing::TestParamInfo<RealFile>& info) { return std::string(info.param.name); });

}  // namespace
