// The chunk index of avihandle: idx1 conversion, OpenDML super indexes loaded a segment at a
// time, indexes rebuilt from the movi lists of files without one or cut short, key frames and the
// audio sample table.
#include <gtest/gtest.h>

#include "RiffBuilder.h"

namespace {

struct AviIndex : testing::Test, ParsedFiles {};

using Entry = std::pair<ULONGLONG, DWORD>;  // where a chunk's data lies, and its size
using Entries = std::vector<Entry>;

// Of the first streams, the chunks written wholly before cut, in order: where each lies or, when
// it is empty (a dropped frame) and repeat, where its stream's last chunk with data lies (the
// first movi list's start when none does). Of stream 0, the key frames: the chunks with data
// marked so, or all of them when allKeys (an index rebuilt from intra-frame video).
struct Written {
    std::vector<Entries> streams;
    std::vector<DWORD> keys;
};

Written written(const AviLayout& layout, const BuiltAvi& built, size_t streams, ULONGLONG cut, bool repeat,
                bool allKeys = false)
{
    Written w{std::vector<Entries>(streams), {}};
    size_t j = 0;
    for (const auto& segment : layout.segments)
        for (const AviChunk& c : segment) {
            const ULONGLONG at = built.dataAt[j++];
            const DWORD size = DWORD(c.data.size()), s = std::stoul(c.ckid.substr(0, 2));
            if (s >= streams || at + size > cut)
                continue;
            Entries& e = w.streams[s];
            if (s == 0 && size && (c.key || allKeys))
                w.keys.push_back(DWORD(e.size()));
            e.push_back(size || !repeat ? Entry(at, size) : e.empty() ? Entry(built.moviAt[0] + 16, 0) : e.back());
        }
    return w;
}

// Every stream of the file has the entries wanted, found by their numbers.
void expectLocated(avihandle& h, const std::vector<Entries>& wanted)
{
    std::vector<Entries> got;
    for (AVIstream* s = h.pStreams; s; s = s->next) {
        const size_t k = got.size();
        Entries& entries = got.emplace_back();
        for (DWORD i = 0; k < wanted.size() && i < wanted[k].size(); i++) {
            const Located e = locate(h, s, i);
            entries.push_back({e.at, e.size});
        }
    }
    EXPECT_EQ(got, wanted);
}

TEST_F(AviIndex, Idx1EntriesAreFoundWhateverTheMainHeaderSays)
{
    // 3000 frames, a key frame every 12th, every 7th dropped (empty) and the first too; as many audio
    // chunks and 30 more, which are not clamped to the frame count; a "99dc" chunk.
    std::vector<AviChunk> chunks = {{"99dc", Bytes(50, 1)}};
    std::vector<DWORD> keyFrames;
    for (DWORD i = 0; i < 3030; i++) {
        if (i < 3000)
            chunks.push_back(videoChunk(i % 7 == 3 || i == 0 ? 0 : 100 + i % 50, i % 12 == 0));
        if (i % 12 == 0 && i < 3000)
            keyFrames.push_back(i);
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
        EXPECT_TRUE(h->bIdx1Index && h->qwMoviBase == built.moviAt[0] + 16 && h->nFrames == 3000 &&
                    h->nAudioChunks == 3030);
        EXPECT_EQ(std::vector<DWORD>(h->pKeyFrames, h->pKeyFrames + h->nKeyFrames), keyFrames);
        DWORD key = 0;  // past the last frame, the last one's key frame
        EXPECT_TRUE(h->findkeyframe(0xFFFFFFFF, &key) && key == 2988);
        EXPECT_EQ(h->nAudioSamples, std::min(length, 9090u));
        EXPECT_EQ(log.has("avihandle::avihandle warning: Header Audio Sample length=4e20 vs. Actual=2382\n"),
                  length == 20000);
        const std::vector<Entries> wanted = written(layout, built, records, built.image.size(), true).streams;
        for (int pass = 0; pass < 2; pass++) {  // idx1 entries outlive closeavi
            ASSERT_TRUE(h->openavi());
            expectLocated(*h, wanted);
            h->closeavi();
        }
    }
}

TEST_F(AviIndex, OpenDmlChunksLoadASegmentAtATime)
{
    // Three segments; the idx1 of the first is not read after the "indx" chunks.
    AviLayout layout = videoAndAudio({{videoChunk(100), videoChunk(101, false), audioChunk(4000)},
                                      {videoChunk(102), videoChunk(103, false), audioChunk(4000)},
                                      {videoChunk(104), videoChunk(105), audioChunk(2000)}});
    layout.superIndex = true;
    layout.dmlhFrames = 6;
    const BuiltAvi built = buildAvi(layout);
    auto h = parse(built.image);
    ASSERT_FALSE(h->bError);
    EXPECT_TRUE(!h->bIdx1Index && h->nFrames == 6 && h->nKeyFrames == 0 && h->qwMoviBase == built.moviAt[2] + 16);
    // The sample table is made from every segment's audio chunks of 4000, 4000 and 2000 bytes.
    EXPECT_TRUE(h->nAudioChunks == 3 && h->nAudioSamples == 2500 && h->pAudioSamples[2].dwStart == 2000);
    auto expectLoaded = [](avihandle& file, DWORD n) {  // index chunks of every stream, as counted while open
        for (AVIstream* s = file.pStreams; s; s = s->next) {
            DWORD chunks = 0;
            for (const IndexChunk* c = s->pChunks; c; c = c->next)
                chunks++;
            EXPECT_TRUE(chunks == n && s->currententry == n) << chunks << " chunks loaded, not " << n;
        }
    };
    expectLoaded(*h, 0);
    ASSERT_TRUE(h->openavi());
    expectLoaded(*h, 1);
    Located e = locate(*h, h->pVideoStream, 4);
    EXPECT_TRUE(e.at == built.dataAt[6] && e.size == 104 && e.position == 0);
    expectLoaded(*h, 3);
    EXPECT_THROW(h->getcindex(), const char*);  // an exhausted super index
    h->closeavi();
    expectLoaded(*h, 0);
    ASSERT_TRUE(h->openavi());
    expectLoaded(*h, 1);
    expectLocated(*h, written(layout, built, 2, built.image.size(), false).streams);
    EXPECT_EQ(locate(*h, h->pAudioStream, 50).at, built.dataAt[8]);
    EXPECT_EQ(locate(*h, h->pVideoStream, 50).at, built.dataAt[7]);
    h->closeavi();

    // Key frames come from the delta-frame bits of the index chunks loaded, and more chunks load
    // as they are needed (all load at once for an audio sample table, so audio is skipped here):
    // 0, 2, and 4 and 5 in the three segments.
    auto video = parse(built.image, false, true);
    auto keyBefore = [&](DWORD frame) { DWORD key; return video->findkeyframe(frame, &key) ? key : 0xEEEEEEEE; };
    ASSERT_TRUE(video->openavi());
    EXPECT_EQ(keyBefore(1), 0u);
    expectLoaded(*video, 1);
    EXPECT_EQ(keyBefore(3), 2u);
    expectLoaded(*video, 2);
    EXPECT_TRUE(keyBefore(5) == 5 && keyBefore(0xFFFFFFFF) == 5);
    // What was gathered outlives closeavi; a reopened file goes on from it.
    video->closeavi();
    EXPECT_TRUE(keyBefore(4) == 4 && keyBefore(3) == 2);
    ASSERT_TRUE(video->openavi());
    EXPECT_EQ(keyBefore(5), 5u);
    expectLoaded(*video, 1);
    video->closeavi();

    // Without a super index the idx1, of the first segment only, is the index.
    layout.superIndex = false;
    const BuiltAvi plain = buildAvi(layout);
    auto idx1 = parse(plain.image);
    EXPECT_TRUE(idx1->bIdx1Index && idx1->nFrames == 2 && idx1->nKeyFrames == 1 && idx1->pKeyFrames[0] == 0);
    ASSERT_TRUE(idx1->openavi());
    e = locate(*idx1, idx1->pVideoStream, 1);
    EXPECT_TRUE(e.at == plain.dataAt[1] && e.size == 101);
    idx1->closeavi();
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
    // ownIndex: the file's own index serves.
    const struct { const char* name; AviLayout layout; void (*damage)(BuiltAvi&);
                   bool (*ownIndex)(const BuiltAvi&, size_t cut); DWORD dmlh; } cases[] = {
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
            // A dropped frame repeats the one before, except in OpenDML indexes.
            const Written w = written(c.layout, built, 2, cut, !openDml, !own);
            expectLocated(*h, w.streams);
            EXPECT_TRUE(h->nAudioChunks == w.streams[1].size() && h->bIdx1Index == !openDml);
            // An OpenDML file counts the frames its "dmlh" states, or its index holds when it states none.
            EXPECT_EQ(h->nFrames, openDml && c.dmlh ? c.dmlh : w.streams[0].size());
            std::vector<long long> found, wanted;
            for (DWORD f = 0, key; f < w.streams[0].size(); f++) {
                found.push_back(h->findkeyframe(f, &key) ? key : -1);
                const auto after = std::upper_bound(w.keys.begin(), w.keys.end(), f);
                wanted.push_back(after == w.keys.begin() ? -1 : after[-1]);
            }
            EXPECT_EQ(found, wanted);
            h->closeavi();
        }
    }
}

}  // namespace
