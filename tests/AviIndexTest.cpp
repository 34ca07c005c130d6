// The chunk index of avihandle: idx1 conversion, OpenDML super indexes loaded a segment at a
// time, the key-frame and audio sample tables.
#include <gtest/gtest.h>

#include "RiffBuilder.h"

namespace {

struct AviIndex : testing::Test, ParsedFiles {};

AVIstream* streamNumber(avihandle& h, int n)
{
    AVIstream* s = h.pStreams;
    while (s && n--)
        s = s->next;
    return s;
}

// Every chunk of the streams the file has is found by its number in its stream: where it was
// written or, when empty (a dropped frame), where its stream's last chunk with data was.
void expectEveryChunkLocated(avihandle& h, const AviLayout& layout, const BuiltAvi& built)
{
    std::vector<std::pair<ULONGLONG, DWORD>> last(100, {h.qwMoviBase, 0});
    DWORD counts[100] = {}, j = 0;
    for (const auto& segment : layout.segments)
        for (const AviChunk& c : segment) {
            const int s = std::stoi(c.ckid.substr(0, 2));
            if (!c.data.empty())
                last[s] = {built.dataAt[j], DWORD(c.data.size())};
            if (AVIstream* stream = streamNumber(h, s)) {
                Located e = locate(h, stream, counts[s]);
                EXPECT_TRUE(e.at == last[s].first && e.size == last[s].second) << c.ckid << " " << counts[s];
            }
            counts[s]++, j++;
        }
}

TEST_F(AviIndex, Idx1EntriesAreFoundWhateverTheMainHeaderSays)
{
    // 3000 frames, a key frame every 12th, every 7th dropped (empty) and the first too; as many audio
    // chunks and 30 more, which are not clamped to the frame count; a "99dc" chunk.
    std::vector<AviChunk> chunks = {{"99dc", Bytes(50, 1)}};
    for (DWORD i = 0; i < 3030; i++) {
        if (i < 3000)
            chunks.push_back(videoChunk(i % 7 == 3 || i == 0 ? 0 : 100 + i % 50, i % 12 == 0));
        chunks.push_back(audioChunk(4 + i % 5 * 4));
    }
    AviLayout layout = videoAndAudio({chunks});
    // {offsets, dwTotalFrames, dwStreams, stream records, audio dwLength}: streams past 100 cannot be
    // numbered in idx1, so "99dc" then is stream 99's. The chunks hold 9090 samples; a shorter
    // header length caps that, a longer one is reported.
    for (auto [style, total, streams, records, length] :
         {std::tuple{Idx1::Relative, 3000u, 2u, 2, 9090u}, {Idx1::Absolute, 0u, 2u, 2, 5000u},
          {Idx1::Relative, 1u, 0xFFFFFFFFu, 100, 20000u}, {Idx1::Absolute, 0xFFFFFFFFu, 100u, 100, 9090u}}) {
        SCOPED_TRACE(testing::Message() << int(style) << " " << total << " " << streams);
        log.lines.clear();
        layout.idx1 = style;
        layout.avih.dwTotalFrames = total;
        layout.avih.dwStreams = streams;
        layout.streams[1].first.dwLength = length;
        BuiltAvi built = buildAvi(layout);
        // A dropped frame often has no offset; the offset style comes from the first one that has.
        built.patch(built.find("idx1") + 8 + 16 + 8, DWORD(0));
        auto h = parse(built.image);
        ASSERT_FALSE(h->bError);
        EXPECT_TRUE(h->bIdx1Index && h->qwMoviBase == built.moviAt[0] + 16);
        EXPECT_TRUE(h->nFrames == 3000 && h->nAudioChunks == 3030 && streamNumber(*h, records - 1) &&
                    !streamNumber(*h, records));
        std::vector<DWORD> keyFrames;
        for (DWORD i = 0; i < 3000; i += 12)
            keyFrames.push_back(i);
        EXPECT_EQ(std::vector<DWORD>(h->pKeyFrames, h->pKeyFrames + h->nKeyFrames), keyFrames);
        for (DWORD i = 0, first = 0; i < 3030; first += 1 + i % 5, i++)
            ASSERT_TRUE(h->pAudioSamples[i].dwStart == first && h->pAudioSamples[i].dwSamples == 1 + i % 5) << i;
        EXPECT_EQ(h->nAudioSamples, std::min(length, 9090u));
        EXPECT_EQ(log.has("avihandle::avihandle warning: Header Audio Sample length=4e20 vs. Actual=2382\n"),
                  length == 20000);
        for (int pass = 0; pass < 2; pass++) {  // idx1 entries outlive closeavi
            ASSERT_TRUE(h->openavi());
            expectEveryChunkLocated(*h, layout, built);
            EXPECT_EQ(locate(*h, h->pVideoStream, 17).position, 17u);
            // Numbers past the end give the stream's own last entry.
            for (DWORD n : {3000u, 3001u, 0xFFFFFFFFu})
                EXPECT_EQ(locate(*h, h->pVideoStream, n).at, locate(*h, h->pVideoStream, 2999).at) << n;
            EXPECT_EQ(locate(*h, h->pAudioStream, 4000).at, built.dataAt.back());
            h->closeavi();
        }
    }
}

AviLayout threeSegments(bool superIndex, Idx1 idx1)
{
    AviLayout layout = videoAndAudio({{videoChunk(100), videoChunk(101, false), audioChunk(4000)},
                                      {videoChunk(102), videoChunk(103, false), audioChunk(4000)},
                                      {videoChunk(104), videoChunk(105), audioChunk(2000)}});
    layout.superIndex = superIndex;
    layout.dmlhFrames = 6;
    layout.idx1 = idx1;
    return layout;
}

TEST_F(AviIndex, OpenDmlChunksLoadASegmentAtATime)
{
    // The idx1 of the first segment is not read after the "indx" chunks.
    const AviLayout layout = threeSegments(true, Idx1::Relative);
    const BuiltAvi built = buildAvi(layout);
    auto h = parse(built.image);
    ASSERT_FALSE(h->bError);
    EXPECT_TRUE(!h->bIdx1Index && h->nFrames == 6 && h->nKeyFrames == 0 && h->qwMoviBase == built.moviAt[2] + 16);
    // The sample table is made from every segment's audio chunks of 4000, 4000 and 2000 bytes.
    EXPECT_TRUE(h->nAudioChunks == 3 && h->nAudioSamples == 2500 && h->pAudioSamples[2].dwStart == 2000);
    AVIstream* streams[] = {h->pVideoStream, h->pAudioStream};
    ASSERT_TRUE(streams[0] && streams[1] && streams[0] != streams[1]);
    auto expectLoaded = [&](DWORD n) {
        for (AVIstream* s : streams) {
            DWORD chunks = 0;
            for (const IndexChunk* c = s->pChunks; c; c = c->next)
                chunks++;
            EXPECT_TRUE(chunks == n && s->currententry == n) << chunks << " chunks loaded, not " << n;
        }
    };
    expectLoaded(0);
    ASSERT_TRUE(h->openavi());
    expectLoaded(1);
    Located e = locate(*h, h->pVideoStream, 4);
    EXPECT_TRUE(e.at == built.dataAt[6] && e.size == 104 && e.position == 0);
    expectLoaded(3);
    EXPECT_THROW(h->getcindex(), const char*);  // an exhausted super index
    h->closeavi();
    expectLoaded(0);
    ASSERT_TRUE(h->openavi());
    expectLoaded(1);
    expectEveryChunkLocated(*h, layout, built);
    EXPECT_EQ(locate(*h, h->pAudioStream, 50).at, built.dataAt[8]);
    EXPECT_EQ(locate(*h, h->pVideoStream, 50).at, built.dataAt[7]);
    h->closeavi();

    // Without a super index the idx1 is the index; without either, lookups raise.
    const BuiltAvi plain = buildAvi(threeSegments(false, Idx1::Relative));
    auto idx1 = parse(plain.image);
    EXPECT_TRUE(idx1->bIdx1Index && idx1->nFrames == 2 && idx1->nKeyFrames == 1 && idx1->pKeyFrames[0] == 0);
    ASSERT_TRUE(idx1->openavi());
    e = locate(*idx1, idx1->pVideoStream, 1);
    EXPECT_TRUE(e.at == plain.dataAt[1] && e.size == 101);
    idx1->closeavi();
    auto none = parse(buildAvi(threeSegments(false, Idx1::None)).image);
    ASSERT_TRUE(none->openavi());
    EXPECT_FALSE(none->getcindex());
    EXPECT_THROW(locate(*none, none->pVideoStream, 0), const char*);
    none->closeavi();
}

}  // namespace
