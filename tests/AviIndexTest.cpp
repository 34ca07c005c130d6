// The chunk index of avihandle: idx1 conversion, OpenDML super indexes loaded a segment at a
// time, the key-frame and audio sample tables.
#include <gtest/gtest.h>

#include <cstring>

#include "AviTestSupport.h"
#include "RiffBuilder.h"

namespace {

struct AviIndex : ::testing::Test {
    MessageLog log;
    ParsedFiles files;
};

AVIstream* streamNumber(avihandle& h, int n)
{
    AVIstream* s = h.pStreams;
    while (s && n--)
        s = s->next;
    return s;
}

std::vector<DWORD> keyFrames(const avihandle& h) { return {h.pKeyFrames, h.pKeyFrames + h.nKeyFrames}; }

// Every chunk of the layout is found where it was written, by its number within its stream.
void expectEveryChunkLocated(avihandle& h, const AviLayout& layout, const BuiltAvi& built)
{
    std::vector<DWORD> counts(100);
    size_t j = 0;
    for (const auto& segment : layout.segments) {
        for (const AviChunk& c : segment) {
            const int s = (c.ckid[0] - '0') * 10 + (c.ckid[1] - '0');
            if (s < 2 && !c.data.empty()) {
                Located e = locate(h, streamNumber(h, s), counts[s]);
                EXPECT_EQ(e.at, built.dataAt[j]) << c.ckid << " " << counts[s];
                EXPECT_EQ(e.size, c.data.size()) << c.ckid << " " << counts[s];
            }
            counts[s]++;
            j++;
        }
    }
}

std::vector<AviChunk> thirtyFramesKeyEvery12()
{
    std::vector<AviChunk> chunks;
    for (DWORD i = 0; i < 30; i++) {
        chunks.push_back(videoChunk(100 + i, i % 12 == 0));
        if (i % 10 == 0)
            chunks.push_back(audioChunk(4000 + i));
    }
    return chunks;
}

TEST_F(AviIndex, Idx1RelativeOrAbsoluteLocatesEveryChunk)
{
    for (Idx1 style : {Idx1::Relative, Idx1::Absolute}) {
        SCOPED_TRACE(int(style));
        AviLayout layout = videoAndAudio({thirtyFramesKeyEvery12()});
        layout.idx1 = style;
        BuiltAvi built = buildAvi(layout);
        auto h = files.parse(built.image);
        ASSERT_FALSE(h->bError);
        EXPECT_TRUE(h->bIdx1Index);
        EXPECT_EQ(h->qwMoviBase, built.moviAt[0] + 16);
        EXPECT_EQ(h->nFrames, 30u);
        EXPECT_EQ(keyFrames(*h), (std::vector<DWORD>{0, 12, 24}));
        ASSERT_TRUE(h->openavi());
        expectEveryChunkLocated(*h, layout, built);
        EXPECT_EQ(locate(*h, h->pVideoStream, 17).position, 17u);
        h->closeavi();
        // idx1 entries outlive closeavi.
        ASSERT_TRUE(h->openavi());
        EXPECT_EQ(locate(*h, h->pAudioStream, 2).size, 4020u);
        h->closeavi();
    }
}

TEST_F(AviIndex, NumbersPastTheEndGiveTheStreamsOwnLastEntry)
{
    // More audio chunks than video frames: audio is not clamped to the frame count.
    AviLayout layout = videoAndAudio({{videoChunk(10), audioChunk(100), audioChunk(104), videoChunk(12),
                                       audioChunk(108), audioChunk(112), audioChunk(116)}});
    BuiltAvi built = buildAvi(layout);
    auto h = files.parse(built.image);
    ASSERT_FALSE(h->bError);
    ASSERT_TRUE(h->openavi());
    EXPECT_EQ(locate(*h, h->pAudioStream, 4).at, built.dataAt[6]);
    const DWORD numbers[][3] = {{1, 3, 12}, {7, 3, 12}, {0xFFFFFFFF, 3, 12}};  // number, chunk, size
    for (const auto& n : numbers) {
        Located e = locate(*h, h->pVideoStream, n[0]);
        EXPECT_EQ(e.at, built.dataAt[n[1]]);
        EXPECT_EQ(e.size, n[2]);
    }
    EXPECT_EQ(locate(*h, h->pAudioStream, 9).size, 116u);
    EXPECT_EQ(h->nAudioChunks, 5u);
    h->closeavi();
}

TEST_F(AviIndex, DroppedFramesReuseThePreviousChunk)
{
    AviLayout layout = videoAndAudio({{videoChunk(0), videoChunk(100), audioChunk(8), videoChunk(0),
                                       videoChunk(0), videoChunk(120), {"99dc", Bytes(50, 1)}, audioChunk(8)}});
    layout.idx1 = Idx1::Absolute;
    BuiltAvi built = buildAvi(layout);
    // A dropped frame often has no offset; the offset style comes from the first one that has.
    const size_t idx1 = built.find("idx1");
    built.image[idx1 + 8 + 8] = 0;
    built.image[idx1 + 8 + 9] = 0;
    auto h = files.parse(built.image);
    ASSERT_FALSE(h->bError);
    EXPECT_EQ(h->nFrames, 5u);
    ASSERT_TRUE(h->openavi());
    const struct {
        DWORD frame;
        ULONGLONG at;
        DWORD size;
    } frames[] = {{0, h->qwMoviBase, 0}, {1, built.dataAt[1], 100}, {2, built.dataAt[1], 100},
                  {3, built.dataAt[1], 100}, {4, built.dataAt[5], 120}};
    for (const auto& f : frames) {
        Located e = locate(*h, h->pVideoStream, f.frame);
        EXPECT_EQ(e.at, f.at) << f.frame;
        EXPECT_EQ(e.size, f.size) << f.frame;
    }
    // "99dc" belongs to no stream of a two-stream file.
    EXPECT_EQ(locate(*h, h->pAudioStream, 1).at, built.dataAt[7]);
    EXPECT_EQ(h->nAudioChunks, 2u);
    h->closeavi();
}

TEST_F(AviIndex, Idx1KeepsEveryEntryWhateverTheMainHeaderSays)
{
    std::vector<AviChunk> chunks;
    for (DWORD i = 0; i < 3000; i++)
        chunks.push_back(videoChunk(1 + i % 7));
    AviLayout layout = videoAndAudio({chunks});
    layout.segments[0].insert(layout.segments[0].begin() + 1, {"99dc", Bytes(4, 1)});
    // {dwTotalFrames, dwStreams, stream records}: streams past 100 cannot be numbered in idx1.
    const DWORD cases[][3] = {{0, 2, 2}, {1, 0xFFFFFFFF, 100}, {3000, 150, 100}, {0xFFFFFFFF, 100, 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c[0] << " " << c[1]);
        layout.avih.dwTotalFrames = c[0];
        layout.avih.dwStreams = c[1];
        BuiltAvi built = buildAvi(layout);
        auto h = files.parse(built.image);
        ASSERT_FALSE(h->bError);
        EXPECT_EQ(h->nFrames, 3000u);
        EXPECT_EQ(h->nKeyFrames, 3000u);
        EXPECT_EQ(h->pKeyFrames[2999], 2999u);
        DWORD records = 0;
        for (AVIstream* s = h->pStreams; s; s = s->next)
            records++;
        EXPECT_EQ(records, c[2]);
        ASSERT_TRUE(h->openavi());
        Located last = locate(*h, h->pVideoStream, 2999);
        EXPECT_EQ(last.at, built.dataAt.back());
        EXPECT_EQ(last.size, 1 + 2999u % 7);
        if (c[2] == 100) {
            AVIstream* s99 = streamNumber(*h, 99);
            ASSERT_TRUE(s99 && s99->pChunks);
            EXPECT_EQ(s99->pChunks->nEntries, 1u);
            EXPECT_EQ(locate(*h, s99, 0).at, built.dataAt[1]);
        }
        h->closeavi();
    }
}

AviLayout threeSegments()
{
    AviLayout layout = videoAndAudio({{videoChunk(100), videoChunk(101, false), audioChunk(4000)},
                                      {videoChunk(102), videoChunk(103, false), audioChunk(4000)},
                                      {videoChunk(104), videoChunk(105), audioChunk(2000)}});
    layout.superIndex = true;
    layout.dmlhFrames = 6;
    layout.idx1 = Idx1::None;
    return layout;
}

TEST_F(AviIndex, OpenDmlChunksLoadASegmentAtATime)
{
    const AviLayout layout = threeSegments();
    const BuiltAvi built = buildAvi(layout);
    auto h = files.parse(built.image);
    ASSERT_FALSE(h->bError);
    EXPECT_FALSE(h->bIdx1Index);
    EXPECT_EQ(h->nFrames, 6u);
    EXPECT_EQ(h->qwMoviBase, built.moviAt[2] + 16);
    AVIstream* streams[] = {h->pVideoStream, h->pAudioStream};
    ASSERT_TRUE(streams[0] && streams[1] && streams[0] != streams[1]);
    auto expectLoaded = [&](DWORD chunks) {
        for (AVIstream* s : streams) {
            EXPECT_EQ(countChunks(s), chunks);
            EXPECT_EQ(s->currententry, chunks);
        }
    };
    expectLoaded(0);
    ASSERT_TRUE(h->openavi());
    expectLoaded(1);
    Located e = locate(*h, h->pVideoStream, 4);
    EXPECT_EQ(e.at, built.dataAt[6]);
    EXPECT_EQ(e.position, 0u);
    expectLoaded(3);
    try {
        h->getcindex();
        ADD_FAILURE() << "an exhausted super index loaded more";
    } catch (const char* text) {
        EXPECT_STREQ(text, "avihandle::getcindex currententry>nEntriesInUse");
    }
    h->closeavi();
    expectLoaded(0);
    for (AVIstream* s : streams)
        EXPECT_TRUE(s->pNextEntry == nullptr && s->pLastChunk == nullptr);
    ASSERT_TRUE(h->openavi());
    expectLoaded(1);
    EXPECT_EQ(locate(*h, h->pVideoStream, 0).at, built.dataAt[0]);
    expectEveryChunkLocated(*h, layout, built);
    // Past the end of an exhausted super index: the stream's last entry.
    EXPECT_EQ(locate(*h, h->pAudioStream, 50).at, built.dataAt[8]);
    EXPECT_EQ(locate(*h, h->pVideoStream, 50).at, built.dataAt[7]);
    h->closeavi();
}

TEST_F(AviIndex, WithoutAnIndexLookupsRaise)
{
    AviLayout layout = threeSegments();
    layout.superIndex = false;
    auto h = files.parse(buildAvi(layout).image);
    ASSERT_FALSE(h->bError);
    EXPECT_EQ(h->pStreams, nullptr);
    ASSERT_TRUE(h->openavi());
    EXPECT_FALSE(h->getcindex());
    try {
        locate(*h, h->pVideoStream, 0);
        ADD_FAILURE() << "a file without streams located a frame";
    } catch (const char* text) {
        EXPECT_STREQ(text, "avihandle::getframeoffset getcindex() failed");
    }
    h->closeavi();
}

TEST_F(AviIndex, SampleTableCountsBlocksPerChunk)
{
    // The same audio chunks from an OpenDML and from an idx1 index; the header's dwLength
    // caps the sample count and a longer one is reported.
    const struct {
        bool openDml;
        DWORD length, samples;
        const char* message;
    } cases[] = {
        {true, 2500, 2500, nullptr},
        {false, 2000, 2000, nullptr},
        {false, 3000, 2500, "avihandle::avihandle warning: Header Audio Sample length=bb8 vs. Actual=9c4\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        log.lines.clear();
        AviLayout layout = threeSegments();
        if (!c.openDml) {
            layout = videoAndAudio({{videoChunk(100), audioChunk(4000), audioChunk(4000), audioChunk(2000)}});
        }
        layout.streams[1].header.dwLength = c.length;
        auto h = files.parse(buildAvi(layout).image);
        ASSERT_FALSE(h->bError);
        ASSERT_EQ(h->nAudioChunks, 3u);
        const DWORD table[3][2] = {{0, 1000}, {1000, 1000}, {2000, 500}};
        for (int i = 0; i < 3; i++) {
            EXPECT_EQ(h->pAudioSamples[i].dwStart, table[i][0]);
            EXPECT_EQ(h->pAudioSamples[i].dwSamples, table[i][1]);
        }
        EXPECT_EQ(h->nAudioSamples, c.samples);
        EXPECT_EQ(log.mentions("Header Audio Sample length"), c.message != nullptr);
        if (c.message) {
            EXPECT_TRUE(log.has(c.message));
        }
    }
}

TEST_F(AviIndex, Idx1IsConvertedOnlyBeforeAnySuperIndex)
{
    // The same three segments with an idx1 of the first: skipped after the "indx" chunks, the
    // index then comes from them; converted when no "indx" was seen, dmlh notwithstanding.
    for (bool superIndex : {true, false}) {
        SCOPED_TRACE(superIndex);
        AviLayout layout = threeSegments();
        layout.idx1 = Idx1::Relative;
        layout.superIndex = superIndex;
        const BuiltAvi built = buildAvi(layout);
        auto h = files.parse(built.image);
        ASSERT_FALSE(h->bError);
        EXPECT_EQ(h->bIdx1Index, !superIndex);
        EXPECT_EQ(h->nFrames, superIndex ? 6u : 2u);
        EXPECT_EQ(keyFrames(*h), superIndex ? std::vector<DWORD>{} : std::vector<DWORD>{0});
        ASSERT_TRUE(h->openavi());
        EXPECT_EQ(countChunks(h->pVideoStream), 1u);
        Located e = locate(*h, h->pVideoStream, 1);
        EXPECT_EQ(e.at, built.dataAt[1]);
        EXPECT_EQ(e.size, 101u);
        h->closeavi();
    }
}

}  // namespace
