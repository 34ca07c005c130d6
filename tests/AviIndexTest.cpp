// The chunk index of avihandle: idx1 conversion, OpenDML super indexes loaded a segment at a
// time, indexes rebuilt from the movi lists of files without one or cut short, key frames and the
// audio sample table.
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
        // The key frame at or before a frame; past the last frame, the last one's.
        for (DWORD f : {0u, 11u, 12u, 13u, 2999u, 3000u, 0xFFFFFFFFu}) {
            DWORD key = 0;
            EXPECT_TRUE(h->findkeyframe(f, &key) && key == std::min(f, 2999u) / 12 * 12) << f << " " << key;
        }
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

    // Key frames come from the delta-frame bits of the index chunks loaded, and more chunks load
    // as they are needed (all load at once for an audio sample table, so audio is skipped here):
    // 0, 2, and 4 and 5 in the three segments.
    auto video = parse(built.image, false, true);
    streams[0] = streams[1] = video->pVideoStream;
    auto keyBefore = [&](DWORD frame) {
        DWORD key = 0xEEEEEEEE;
        return video->findkeyframe(frame, &key) ? key : 0xEEEEEEEE;
    };
    ASSERT_TRUE(video->openavi());
    EXPECT_EQ(keyBefore(1), 0u);
    expectLoaded(1);
    EXPECT_EQ(keyBefore(3), 2u);
    expectLoaded(2);
    EXPECT_TRUE(keyBefore(5) == 5 && keyBefore(0xFFFFFFFF) == 5);
    // What was gathered outlives closeavi; a reopened file goes on from it.
    video->closeavi();
    EXPECT_TRUE(keyBefore(4) == 4 && keyBefore(3) == 2);
    ASSERT_TRUE(video->openavi());
    EXPECT_EQ(keyBefore(5), 5u);
    expectLoaded(1);
    video->closeavi();

    // Without a super index the idx1 is the index; without either, the movi lists of every
    // segment are indexed.
    const BuiltAvi plain = buildAvi(threeSegments(false, Idx1::Relative));
    auto idx1 = parse(plain.image);
    EXPECT_TRUE(idx1->bIdx1Index && idx1->nFrames == 2 && idx1->nKeyFrames == 1 && idx1->pKeyFrames[0] == 0);
    ASSERT_TRUE(idx1->openavi());
    e = locate(*idx1, idx1->pVideoStream, 1);
    EXPECT_TRUE(e.at == plain.dataAt[1] && e.size == 101);
    idx1->closeavi();
    const AviLayout unindexed = threeSegments(false, Idx1::None);
    const BuiltAvi none = buildAvi(unindexed);
    auto rebuilt = parse(none.image);
    EXPECT_TRUE(rebuilt->bIdx1Index && rebuilt->nFrames == 6 && rebuilt->nAudioChunks == 3);
    ASSERT_TRUE(rebuilt->openavi());
    expectEveryChunkLocated(*rebuilt, unindexed, none);
    rebuilt->closeavi();
}

// A small file of each kind: frames of odd sizes (with their pad bytes), a dropped frame, audio
// between them. In idx1 and the OpenDML indexes frame 0 of each segment is a key frame.
AviLayout smallFile(size_t segments, bool superIndex, Idx1 idx1)
{
    std::vector<std::vector<AviChunk>> chunks(segments);
    for (size_t seg = 0; seg < segments; seg++)
        chunks[seg] = {videoChunk(DWORD(21 + seg)), audioChunk(8), videoChunk(0, false), videoChunk(19, false),
                       audioChunk(12)};
    AviLayout layout = videoAndAudio(chunks);
    layout.superIndex = superIndex;
    layout.dmlhFrames = superIndex ? DWORD(3 * segments) : 0;
    layout.idx1 = idx1;
    return layout;
}

// Files cut at every byte from their first movi list on open with every whole chunk: an index
// that is cut short or does not reach all of the data gives way to one rebuilt from the movi
// lists, in which every frame of this intra-frame video is a key frame.
TEST_F(AviIndex, CutFilesIndexEveryWholeChunk)
{
    auto stoppedCapture = [](BuiltAvi& b) {  // OpenDML indexes written for the first segment only
        for (int s = 0; s < 2; s++)
            b.patch(b.find("indx", s) + 8 + 4, DWORD(1));
        b.patch(b.find("dmlh") + 8, DWORD(0));
        b.patch(b.moviAt.back() - 12 + 4, 0xFFFFFFFFu);  // the last RIFF and its movi list
        b.patch(b.moviAt.back() + 4, 0xFFFFFFFFu);
    };
    auto streamed = [](BuiltAvi& b) {  // sizes never filled in
        b.patch(4, 0xFFFFFFFFu);
        b.patch(b.moviAt[0] + 4, 0xFFFFFFFFu);
    };
    auto whole = [](const BuiltAvi& b, size_t cut) { return cut == b.image.size(); };
    auto never = [](const BuiltAvi&, size_t) { return false; };
    // From the end of the first segment, whose index chunks end it, until a whole chunk header of
    // the second, which no index chunk names.
    auto firstSegment = [](const BuiltAvi& b, size_t cut) { return cut >= b.moviAt[1] - 12 && cut < b.moviAt[1] + 20; };
    AviLayout recLists = smallFile(1, false, Idx1::None);
    recLists.recLists = true;
    const struct {
        const char* name;
        AviLayout layout;
        void (*damage)(BuiltAvi&);
        bool (*ownIndex)(const BuiltAvi&, size_t cut);  // the file's own index serves
        DWORD dmlh;
    } cases[] = {
        {"idx1", smallFile(1, false, Idx1::Relative), nullptr, whole, 0},
        {"OpenDML", smallFile(3, true, Idx1::Relative), nullptr, whole, 9},
        {"stopped OpenDML capture", smallFile(3, true, Idx1::None), stoppedCapture, firstSegment, 0},
        {"streamed, in rec lists", recLists, streamed, never, 0},
    };
    for (const auto& c : cases) {
        BuiltAvi built = buildAvi(c.layout);
        if (c.damage)
            c.damage(built);
        for (size_t cut = built.moviAt[0] + 12; cut <= built.image.size(); cut++) {
            SCOPED_TRACE(testing::Message() << c.name << " cut at " << cut << " of " << built.image.size());
            const bool own = c.ownIndex(built, cut), openDml = own && c.layout.superIndex;
            auto h = parse(Bytes(built.image.begin(), built.image.begin() + cut));
            ASSERT_FALSE(h->bError);
            ASSERT_TRUE(h->openavi());
            // The whole chunks, numbered in their streams; a dropped frame repeats the one before,
            // except in OpenDML indexes.
            std::vector<std::pair<ULONGLONG, DWORD>> wanted[2], got[2];
            std::vector<DWORD> keys;
            size_t j = 0;
            for (const auto& segment : c.layout.segments)
                for (const AviChunk& chunk : segment) {
                    const DWORD size = DWORD(chunk.data.size());
                    const int s = chunk.ckid == "00dc" ? 0 : 1;
                    if (built.dataAt[j++] + size > cut)
                        continue;
                    if (s == 0 && size && (!own || chunk.key))
                        keys.push_back(DWORD(wanted[0].size()));
                    const bool repeat = !size && !wanted[s].empty() && !openDml;
                    wanted[s].push_back(repeat ? wanted[s].back() : std::pair(built.dataAt[j - 1], size));
                }
            AVIstream* streams[2] = {h->pVideoStream, h->pAudioStream};
            for (int s = 0; s < 2; s++)
                for (DWORD i = 0; i < wanted[s].size(); i++)
                    got[s].push_back({locate(*h, streams[s], i).at, locate(*h, streams[s], i).size});
            EXPECT_TRUE(got[0] == wanted[0] && got[1] == wanted[1]);
            EXPECT_TRUE(h->nAudioChunks == wanted[1].size() && h->bIdx1Index == !openDml);
            // An OpenDML file counts the frames its "dmlh" states, or its index holds when it states none.
            EXPECT_EQ(h->nFrames, openDml && c.dmlh ? c.dmlh : wanted[0].size());
            for (DWORD f = 0; f < wanted[0].size(); f++) {
                const auto after = std::upper_bound(keys.begin(), keys.end(), f);
                DWORD key = 0;
                ASSERT_EQ(h->findkeyframe(f, &key), after != keys.begin()) << f;
                EXPECT_TRUE(after == keys.begin() || key == after[-1]) << f;
            }
            h->closeavi();
        }
    }
}

}  // namespace
