// The parser on files written by the ffmpeg and mencoder tools, checked against what ffprobe and
// libavformat read from the same files: every chunk's place and size, key frames, formats, rates and
// the audio sample table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "MediaFiles.h"
#include "avi/avihandle.h"
#include "ombrix/platform.h"

namespace {

enum class Index { Idx1, OpenDml, Wav };

struct RealFile {
    const char* name;  // test name and the media file's stem
    const char* extension;
    Index index;
    const char* program;  // the tool that writes it
    const char* encoder;  // an ffmpeg encoder it needs, or null
    std::string command;  // "{out}": the file to write; "{src}": the source clip for mencoder
};

void PrintTo(const RealFile& file, std::ostream* out) { *out << file.name; }

std::string lavfi(const std::string& graph) { return "-f lavfi -i '" + graph + "' "; }

std::string ffmpeg(const std::string& inputs, const std::string& options)
{
    return "ffmpeg -nostdin -v error -y " + inputs + options + " {out}";
}

const std::string tone48k = lavfi("sine=frequency=440:sample_rate=48000");
const std::string tone44k = lavfi("sine=frequency=440:sample_rate=44100");
const std::string tone22k = lavfi("sine=frequency=440:sample_rate=22050");

// What mencoder re-encodes.
const std::string sourceClip =
    ffmpeg(lavfi("testsrc2=size=320x240:rate=25") + tone44k, "-t 2 -c:v mjpeg -pix_fmt yuvj420p -c:a pcm_s16le -ac 2");

const RealFile files[] = {
    {"RawBgr24Pcm48k", ".avi", Index::Idx1, "ffmpeg", nullptr,
     ffmpeg(lavfi("testsrc2=size=176x144:rate=25") + tone48k, "-t 2 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le -ac 2")},
    // 1470-sample chunks: larger than the pieces FFmpeg splits PCM chunks into.
    {"MjpegPcm44kNtscRate", ".avi", Index::Idx1, "ffmpeg", nullptr,
     ffmpeg(lavfi("testsrc2=size=320x240:rate=30000/1001") + lavfi("sine=sample_rate=44100:samples_per_frame=1470"),
            "-t 2 -c:v mjpeg -pix_fmt yuvj420p -c:a pcm_s16le -ac 2")},
    {"Mpeg4PFramesPcmU8Mono", ".avi", Index::Idx1, "ffmpeg", nullptr,
     ffmpeg(lavfi("testsrc2=size=320x240:rate=25") + tone22k, "-t 3 -c:v mpeg4 -g 12 -bf 0 -c:a pcm_u8 -ac 1")},
    {"Mpeg4BFramesAlaw", ".avi", Index::Idx1, "ffmpeg", nullptr,
     ffmpeg(lavfi("testsrc2=size=320x240:rate=25") + lavfi("sine=sample_rate=8000"),
            "-t 3 -c:v mpeg4 -g 15 -bf 2 -c:a pcm_alaw -ac 1")},
    {"HuffyuvMp3", ".avi", Index::Idx1, "ffmpeg", "libmp3lame",
     ffmpeg(lavfi("testsrc2=size=176x144:rate=25") + tone44k, "-t 2 -c:v huffyuv -c:a libmp3lame -b:a 128k -ac 2")},
    {"Ffv1Ac3", ".avi", Index::Idx1, "ffmpeg", nullptr,
     ffmpeg(lavfi("testsrc2=size=176x144:rate=25") + tone48k, "-t 2 -c:v ffv1 -g 10 -c:a ac3 -ac 2")},
    {"UyvyAdpcmMs", ".avi", Index::Idx1, "ffmpeg", nullptr,
     ffmpeg(lavfi("testsrc2=size=176x144:rate=25") + tone22k, "-t 2 -c:v rawvideo -pix_fmt uyvy422 -c:a adpcm_ms -ac 2")},
    {"AudioOnlyPcm", ".avi", Index::Idx1, "ffmpeg", nullptr, ffmpeg(tone48k, "-t 2 -c:a pcm_s16le -ac 2")},
    {"DvPal", ".avi", Index::Idx1, "ffmpeg", nullptr,
     ffmpeg(lavfi("testsrc2=size=720x576:rate=25") + tone48k, "-t 2 -c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ac 2")},
    // The dvvideo encoder's frames carry no audio packs; the PCM stream alone gives the rate.
    {"DvPalPcm44k", ".avi", Index::Idx1, "ffmpeg", nullptr,
     ffmpeg(lavfi("testsrc2=size=720x576:rate=25") + tone44k, "-t 2 -c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ac 2")},
    {"DvNtsc", ".avi", Index::Idx1, "ffmpeg", nullptr,
     ffmpeg(lavfi("testsrc2=size=720x480:rate=30000/1001") + tone48k,
            "-t 2 -c:v dvvideo -pix_fmt yuv411p -c:a pcm_s16le -ac 2")},
    // mencoder writes half-second PCM chunks ahead of the video: a non-interleaved file.
    {"MencoderMpeg4Pcm", ".avi", Index::Idx1, "mencoder", nullptr,
     "mencoder {src} -really-quiet -ovc lavc -lavcopts vcodec=mpeg4:vbitrate=800:keyint=12 -oac pcm -o {out}"},
    {"MencoderMjpegMp3", ".avi", Index::Idx1, "mencoder", nullptr,
     "mencoder {src} -really-quiet -ovc lavc -lavcopts vcodec=mjpeg -oac mp3lame -lameopts cbr:br=128 -o {out}"},
    // An odd number of bytes of data.
    {"WavU8MonoOdd", ".wav", Index::Wav, "ffmpeg", nullptr,
     ffmpeg(lavfi("sine=sample_rate=11025,atrim=end_sample=11025"), "-c:a pcm_u8 -ac 1")},
    {"WavS16Stereo", ".wav", Index::Wav, "ffmpeg", nullptr, ffmpeg(tone44k, "-t 1 -c:a pcm_s16le -ac 2")},
    // 24-bit and more than two channels: WAVE_FORMAT_EXTENSIBLE.
    {"WavS24Mono96k", ".wav", Index::Wav, "ffmpeg", nullptr,
     ffmpeg(lavfi("sine=sample_rate=96000"), "-t 1 -c:a pcm_s24le -ac 1")},
    {"WavS16SixChannels", ".wav", Index::Wav, "ffmpeg", nullptr, ffmpeg(tone48k, "-t 1 -c:a pcm_s16le -ac 6")},
    // "bext" and LIST "INFO" chunks before the data.
    {"WavS24StereoBextInfo", ".wav", Index::Wav, "ffmpeg", nullptr,
     ffmpeg(tone48k, "-t 1 -c:a pcm_s24le -ac 2 -write_bext 1 -metadata title=Tone -metadata artist=Ombrix")},
    // Three RIFF segments (ffmpeg starts an AVIX near each GiB): 1080p UYVY frames, PCM, and a small
    // MPEG-4 stream whose P-frames carry the OpenDML delta-frame bit. Audio comes last: the parser
    // caps the audio length by the last stream header's length.
    {"OpenDml3Segments", ".avi", Index::OpenDml, "ffmpeg", nullptr,
     ffmpeg(lavfi("color=c=blue:size=1920x1080:rate=25") + tone48k + lavfi("testsrc2=size=320x240:rate=25"),
            "-map 0:v -map 2:v -map 1:a -t 22.4 -c:v:0 rawvideo -pix_fmt:v:0 uyvy422 -c:a pcm_s16le -ac 2 "
            "-c:v:1 mpeg4 -g:v:1 12 -bf:v:1 0")},
};

// The chunk an entry number leads to: its first data byte and size.
struct Entry {
    uint64_t pos;
    uint64_t size;
    bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Entry& e) { return out << e.size << " bytes at " << e.pos; }

void collectMessage(const char* text, void* context) { *(std::string*)context += text; }

// A real file, what ffprobe reads from it, and the parser opened on it.
class ParsedFile : public testing::Test {
protected:
    void parse(const RealFile& file)
    {
        if (!media::haveProgram(file.program))
            GTEST_SKIP() << file.program << " is not installed (build.sh should install it)";
        if (file.encoder && !media::ffmpegHasEncoder(file.encoder))
            GTEST_SKIP() << "the ffmpeg tool has no " << file.encoder << " encoder";
        std::string command = file.command;
        if (size_t at = command.find("{src}"); at != std::string::npos)
            command.replace(at, 5, "'" + media::make("SourceClip", ".avi", sourceClip) + "'");
        index = file.index;
        path = media::make(file.name, file.extension, command);
        streams = media::probe(path);
        ASSERT_FALSE(streams.empty());

        Ombrix_SetDebugSink(collectMessage, &messages);
        handle = std::make_unique<avihandle>(path.c_str(), false, false);
        ASSERT_FALSE(handle->bError) << path;
        ASSERT_TRUE(handle->openavi());
        opened = true;
        for (AVIstream* s = handle->pStreams; s; s = s->next)
            records.push_back(s);
    }

    void TearDown() override
    {
        if (opened)
            handle->closeavi();
        Ombrix_SetDebugSink(nullptr, nullptr);
        if (HasFailure() && !messages.empty())
            std::cerr << "parser messages for " << path << ":\n" << messages << "\n";
    }

    Entry entry(AVIstream* stream, DWORD number)
    {
        ULONGLONG base = 0;
        DWORD offset = 0, size = 0;
        try {
            handle->getframeoffset(number, stream, &base, &offset, &size);
        } catch (const char* text) {
            ADD_FAILURE() << "getframeoffset(" << number << ") threw: " << text;
        }
        return {base + offset, size};
    }

    // Where the parser should find chunk i of stream k. FFmpeg skips an empty chunk (a dropped
    // frame); an "idx1" entry for one repeats the chunk before it.
    Entry expectedEntry(size_t k, size_t i) const
    {
        const std::vector<media::Chunk>& chunks = streams[k].chunks;
        while (index == Index::Idx1 && i > 0 && chunks[i].size == 0)
            i--;
        return {(uint64_t)chunks[i].pos, (uint64_t)chunks[i].size};
    }

    // The last stream of a type, which the parser serves, or -1.
    int servedIndex(const std::string& type) const
    {
        for (int k = (int)streams.size() - 1; k >= 0; k--)
            if (streams[k].type == type)
                return k;
        return -1;
    }

    const media::Stream* served(const std::string& type) const
    {
        int k = servedIndex(type);
        return k < 0 ? nullptr : &streams[k];
    }

    Index index = Index::Idx1;
    std::string path;
    std::vector<media::Stream> streams;
    std::unique_ptr<avihandle> handle;
    std::vector<AVIstream*> records;
    std::string messages;
    bool opened = false;
};

class RealFiles : public ParsedFile, public testing::WithParamInterface<RealFile> {
protected:
    void SetUp() override { parse(GetParam()); }
};

TEST_P(RealFiles, EveryChunkIsWhereFfmpegReadsIt)
{
    ASSERT_EQ(records.size(), streams.size());
    EXPECT_EQ(handle->bIdx1Index, index != Index::OpenDml);
    EXPECT_EQ(handle->nFrames, streams[0].chunks.size());
    int video = servedIndex("video"), audio = servedIndex("audio");
    EXPECT_EQ(handle->pVideoStream, video < 0 ? nullptr : records[video]);
    EXPECT_EQ(handle->pAudioStream, audio < 0 ? nullptr : records[audio]);

    for (size_t k = 0; k < records.size(); k++) {
        SCOPED_TRACE("stream " + std::to_string(k));
        EXPECT_EQ(records[k]->fccType, streams[k].type == "video" ? FCC("vids") : FCC("auds"));
        const std::vector<media::Chunk>& chunks = streams[k].chunks;
        ASSERT_FALSE(chunks.empty());
        size_t mismatches = 0;
        for (DWORD i = 0; i < chunks.size(); i++) {
            Entry expected = expectedEntry(k, i);
            Entry got = entry(records[k], i);
            if (got != expected && ++mismatches <= 5)
                ADD_FAILURE() << "entry " << i << ": expected " << expected << ", got " << got;
        }
        EXPECT_EQ(mismatches, 0u) << "entries that differ, of " << chunks.size();

        Entry last = entry(records[k], (DWORD)chunks.size() - 1);
        EXPECT_EQ(entry(records[k], (DWORD)chunks.size()), last);
        EXPECT_EQ(entry(records[k], 0xFFFFFFFFu), last);
    }
}

TEST_P(RealFiles, KeyFramesAreFfmpegs)
{
    if (index == Index::Wav) {
        EXPECT_EQ(handle->nKeyFrames, 0u);
    } else if (index == Index::OpenDml) {
        // The OpenDML entries carry the flag: bit 31 of the size clear on a key frame.
        ASSERT_EQ(records.size(), streams.size());
        for (size_t k = 0; k < records.size(); k++) {
            SCOPED_TRACE("stream " + std::to_string(k));
            std::vector<bool> expected;
            for (const media::Chunk& c : streams[k].chunks)
                expected.push_back(c.key);
            entry(records[k], (DWORD)expected.size() - 1);  // loads every index chunk
            std::vector<bool> got;
            for (IndexChunk* chunk = records[k]->pChunks; chunk; chunk = chunk->next)
                for (DWORD i = 0; i < chunk->nEntries; i++)
                    got.push_back(!(chunk->entries()[i].dwSize & AVI_INDEX_DELTAFRAME));
            EXPECT_EQ(got, expected);
        }
    } else {
        std::vector<DWORD> expected;
        for (DWORD i = 0; i < streams[0].chunks.size(); i++)
            if (streams[0].chunks[i].key)
                expected.push_back(i);
        ASSERT_TRUE(handle->pKeyFrames || handle->nKeyFrames == 0);
        std::vector<DWORD> got(handle->pKeyFrames, handle->pKeyFrames + handle->nKeyFrames);
        if (streams[0].type == "video") {
            EXPECT_EQ(got, expected);
        } else {
            // Every audio chunk is a key chunk; the table may stop at the header's frame count.
            ASSERT_LE(got.size(), expected.size());
            EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin()));
        }
    }
}

TEST_P(RealFiles, FormatsAndRatesAreTheStreamHeaders)
{
    const media::Stream* video = served("video");
    const media::Stream* audio = served("audio");
    EXPECT_EQ(handle->bHasVideo, video != nullptr);
    EXPECT_EQ(handle->bHasAudio, audio != nullptr);
    EXPECT_FALSE(handle->bDVType1);

    if (video) {
        // The rate is the first stream's; ffprobe gives its time base reduced.
        EXPECT_EQ(handle->dRate * streams[0].timeBaseNum, handle->dScale * streams[0].timeBaseDen);
        EXPECT_DOUBLE_EQ(handle->dFrameRate, (double)streams[0].timeBaseDen / streams[0].timeBaseNum);
        const BITMAPINFOHEADER* bi = handle->videoFormat();
        EXPECT_EQ(bi->biWidth, video->width);
        EXPECT_EQ(std::abs(bi->biHeight), video->height);
        EXPECT_EQ(bi->biCompression, video->codecTag);
        EXPECT_EQ(bi->biBitCount, video->bitsPerCodedSample);
        EXPECT_EQ(handle->nVideoFormatSize, 40u + video->extradataSize);
        // The ffmpeg tool names the compression as the stream's handler.
        if (std::string(GetParam().program) == "ffmpeg") {
            EXPECT_EQ(handle->fccVideoHandler, video->codecTag);
        }
    }
    if (audio) {
        const WAVEFORMATEX* wf = handle->pAudioFormat;
        EXPECT_EQ(wf->wFormatTag, audio->codecTag);
        EXPECT_EQ(wf->nChannels, audio->channels);
        EXPECT_EQ(wf->nSamplesPerSec, (DWORD)audio->sampleRate);
        EXPECT_EQ(wf->nAvgBytesPerSec * 8ll, audio->bitRate);
        EXPECT_EQ(wf->nBlockAlign, audio->blockAlign);
        EXPECT_EQ(wf->wBitsPerSample, audio->bitsPerCodedSample);
        EXPECT_EQ(wf->cbSize, audio->extradataSize);
    }
    if (index == Index::Wav) {
        EXPECT_EQ(handle->nAudioBufferSize, 100000u);
    }
}

TEST_P(RealFiles, AudioSampleTableCountsWholeBlocksOfEveryChunk)
{
    const media::Stream* audio = served("audio");
    if (!audio)
        GTEST_SKIP() << "no audio";
    ASSERT_GT(audio->blockAlign, 0);
    ASSERT_EQ(handle->nAudioChunks, audio->chunks.size());
    ASSERT_NE(handle->pAudioSamples, nullptr);
    DWORD first = 0;
    size_t mismatches = 0;
    for (size_t i = 0; i < audio->chunks.size(); i++) {
        DWORD samples = (DWORD)(audio->chunks[i].size / audio->blockAlign);
        const AudioSampleInfo& got = handle->pAudioSamples[i];
        if ((got.dwStart != first || got.dwSamples != samples) && ++mismatches <= 5)
            ADD_FAILURE() << "chunk " << i << ": expected (" << first << ", " << samples << "), got ("
                          << got.dwStart << ", " << got.dwSamples << ")";
        first += samples;
    }
    EXPECT_EQ(mismatches, 0u);
    // The header's length (ffprobe's frame count) caps what the chunks hold.
    int64_t length = audio->nbFrames >= 0 ? audio->nbFrames : first;
    EXPECT_EQ(handle->nAudioSamples, (DWORD)std::min<int64_t>(first, length));
}

INSTANTIATE_TEST_SUITE_P(Written, RealFiles, testing::ValuesIn(files),
                         [](const testing::TestParamInfo<RealFile>& info) { return std::string(info.param.name); });

// The OpenDML index is read a chunk per stream at a time, as far as the numbers asked for reach.
TEST_F(ParsedFile, OpenDmlIndexChunksLoadAsFarAsAsked)
{
    parse(*std::find_if(std::begin(files), std::end(files), [](const RealFile& f) { return f.index == Index::OpenDml; }));
    if (IsSkipped() || HasFatalFailure())
        return;

    auto loaded = [](AVIstream* s) {
        int n = 0;
        for (IndexChunk* c = s->pChunks; c; c = c->next)
            n++;
        return n;
    };
    for (AVIstream* s : records) {
        EXPECT_EQ(loaded(s), 1);
        EXPECT_GE(s->nEntriesInUse, 3u);
    }

    DWORD lastFrame = (DWORD)streams[0].chunks.size() - 1;
    EXPECT_EQ(entry(records[0], lastFrame), expectedEntry(0, lastFrame));
    for (AVIstream* s : records)
        EXPECT_EQ(loaded(s), (int)s->nEntriesInUse);

    handle->closeavi();
    opened = false;
    for (AVIstream* s : records)
        EXPECT_EQ(s->pChunks, nullptr);

    ASSERT_TRUE(handle->openavi());
    opened = true;
    for (AVIstream* s : records)
        EXPECT_EQ(loaded(s), 1);
    EXPECT_EQ(entry(records[0], lastFrame), expectedEntry(0, lastFrame));
}

}  // namespace
