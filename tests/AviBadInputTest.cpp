// Damaged files: the parser either fails or yields a file that a reader can walk; it never
// crashes, hangs or touches memory it does not own (this suite also runs under ASan).
#include <gtest/gtest.h>

#include <cstring>

#include "AviTestSupport.h"
#include "RiffBuilder.h"
#include "avi/DVFrame.h"

namespace {

class AviBadInput : public ::testing::Test {
protected:
    // Each fails, or walks clean; an exception thrown as a message text counts as clean.
    void check(const std::vector<Bytes>& images)
    {
        for (size_t i = 0; i < images.size(); i++) {
            SCOPED_TRACE(testing::Message() << "image " << i << " of " << images[i].size() << " bytes");
            writeFile(path, images[i]);
            avihandle h(path.c_str(), false, false);
            if (!h.bError) {
                EXPECT_EQ(walkParsed(h), "");
            }
        }
    }

    ScratchDir dir;
    const std::string path = dir.path("damaged.avi");
    MessageLog quiet;
};

BuiltAvi plainAvi() { return buildAvi(videoAndAudio({{videoChunk(2), audioChunk(4), videoChunk(3, false), audioChunk(4)}})); }

BuiltAvi openDmlAvi()
{
    AviLayout layout = videoAndAudio({{videoChunk(10), audioChunk(16)}, {videoChunk(12), audioChunk(16)}, {videoChunk(14)}});
    layout.superIndex = true;
    layout.dmlhFrames = 3;
    return buildAvi(layout);
}

BuiltAvi wavFile()
{
    BuiltAvi wav;
    RiffBuilder b;
    b.open("RIFF", "WAVE");
    b.chunk("fmt ", waveFormat(WAVE_FORMAT_PCM, 2, 44100, 16));
    b.chunk("data", Bytes(64, 3));
    b.close();
    wav.image = b.image;
    wav.headers = b.headers;
    return wav;
}

BuiltAvi dvAvi()
{
    AviLayout layout;
    layout.avih = mainHeader(1, 1);
    layout.streams = {{streamHeader("iavs", "dvsd", 1, 25, 1), Bytes(32)}};
    layout.segments = {{{"00db", dvFrame(DvFrameParams{})}}};
    return buildAvi(layout);
}

TEST_F(AviBadInput, Truncations)
{
    // Every length of the small files; the DV file cut at and just after each chunk header.
    std::vector<Bytes> images;
    for (const BuiltAvi& file : {plainAvi(), openDmlAvi(), wavFile()})
        for (size_t length = 0; length <= file.image.size(); length++)
            images.emplace_back(file.image.begin(), file.image.begin() + length);
    const BuiltAvi dv = dvAvi();
    for (size_t at : dv.headers)
        for (size_t length = at; length <= at + 12; length += 4)
            images.emplace_back(dv.image.begin(), dv.image.begin() + length);
    images.emplace_back(dv.image.begin(), dv.image.end() - DVFrameSize625 / 2);
    check(images);
}

TEST_F(AviBadInput, EveryStoredSizeReplaced)
{
    // Zero-sized chunks, lists smaller than their own header, sizes past the end of the file.
    const DWORD sizes[] = {0, 1, 3, 4, 5, 0x7FFFFFFF, 0xFFFFFFF7, 0xFFFFFFFF};
    std::vector<Bytes> images;
    for (const BuiltAvi& file : {plainAvi(), openDmlAvi(), wavFile()}) {
        for (size_t at : file.headers) {
            for (DWORD size : sizes) {
                images.push_back(file.image);
                memcpy(&images.back()[at + 4], &size, 4);
            }
        }
    }
    check(images);
}

// One field overwritten in the nth chunk with this id, at a byte offset from its header.
struct Damage {
    const char* id;
    int nth;
    size_t at;
    ULONGLONG value;
    size_t bytes;
};

TEST_F(AviBadInput, HugeAndZeroCounts)
{
    const struct {
        BuiltAvi (*file)();
        std::vector<Damage> damage;
    } cases[] = {
        {plainAvi, {{"avih", 0, 8 + 24, 0xFFFFFFFF, 4}}},  // dwStreams
        {plainAvi, {{"avih", 0, 8 + 24, 0, 4}}},
        {plainAvi, {{"avih", 0, 8 + 16, 0xFFFFFFFF, 4}}},  // dwTotalFrames
        {plainAvi, {{"avih", 0, 8 + 16, 0x1FFFF800, 4}}},  // 8 bytes per frame + 16384 wraps to 0
        {plainAvi, {{"strf", 1, 8 + 12, 0, 2}}},           // nBlockAlign
        {plainAvi, {{"strf", 1, 8 + 0, 0x55, 2}, {"strf", 1, 8 + 16, 0xFFFF, 2}}},  // cbSize past the chunk
        {plainAvi, {{"idx1", 0, 8 + 8, 0xFFFFFFF0, 4}}},   // first offset far away
        {plainAvi, {{"strh", 0, 8 + 0, FCC("iavs"), 4}, {"strh", 0, 8 + 4, FCC("dvsd"), 4}}},
        {openDmlAvi, {{"indx", 0, 8 + 4, 0xFFFFFFFF, 4}}},  // super index nEntriesInUse
        {openDmlAvi, {{"indx", 1, 8 + 4, 0x10000000, 4}}},
        {openDmlAvi, {{"indx", 0, 8 + 4, 0, 4}}},
        {openDmlAvi, {{"indx", 0, 8 + 24, 0, 8}}},                // an index chunk at the file's start
        {openDmlAvi, {{"indx", 1, 8 + 40, 0xFFFFFFFFFFull, 8}}},  // and past its end
        {openDmlAvi, {{"ix00", 0, 12, 0xFFFFFFFF, 4}}},           // standard index nEntriesInUse
        {openDmlAvi, {{"ix01", 1, 12, 0x20000000, 4}}},           // 8 bytes each wraps to 0
        {openDmlAvi, {{"ix00", 2, 12, 0x1FFFFFFF, 4}}},
        {openDmlAvi, {{"ix00", 1, 20, 0xFFFFFFFFFFFFFF00ull, 8}}},  // qwBaseOffset
        {openDmlAvi, {{"dmlh", 0, 8, 0xFFFFFFFF, 4}}},
        {openDmlAvi, {{"strf", 1, 8 + 12, 0, 2}}},
        {wavFile, {{"fmt ", 0, 8 + 2, 0, 2}}},  // nChannels
        {dvAvi, {{"00db", 0, 4, 80, 4}}},       // a DV chunk of one block
    };
    std::vector<Bytes> images;
    for (const auto& c : cases) {
        BuiltAvi file = c.file();
        for (const Damage& d : c.damage)
            memcpy(&file.image[file.find(d.id, d.nth) + d.at], &d.value, d.bytes);
        images.push_back(file.image);
    }
    check(images);
}

// Files put together in an order no writer uses.
TEST_F(AviBadInput, ChunksOutOfPlace)
{
    const auto riff = [](const char* form, auto body) {
        RiffBuilder b;
        b.open("RIFF", form);
        body(b);
        b.close();
        return b.image;
    };
    const auto movi = [](RiffBuilder& b) {
        b.open("LIST", "movi");
        b.chunk("00dc", Bytes(8, 1));
        b.chunk("01wb", Bytes(8, 2));
        b.close();
    };
    const auto idx1 = [](RiffBuilder& b) {
        Bytes entries = bytesOf(AVIINDEXENTRY{FCC("00dc"), AVIIF_KEYFRAME, 4, 8});
        Bytes audio = bytesOf(AVIINDEXENTRY{FCC("01wb"), 0, 20, 8});
        entries.insert(entries.end(), audio.begin(), audio.end());
        b.chunk("idx1", entries);
    };
    const auto strl = [](RiffBuilder& b, const char* type) {
        b.open("LIST", "strl");
        b.chunk("strh", streamHeader(type, nullptr, 1, 25));
        b.chunk("strf", waveFormat(WAVE_FORMAT_PCM, 2, 48000, 16));
        b.close();
    };
    const auto hdrl = [&](RiffBuilder& b) {
        b.open("LIST", "hdrl");
        b.chunk("avih", mainHeader(1, 2));
        strl(b, "vids");
        strl(b, "auds");
        b.close();
    };
    const std::vector<Bytes> images = {
        riff("AVI ", [&](RiffBuilder& b) { movi(b); idx1(b); hdrl(b); }),  // idx1 before any header
        riff("AVI ", [&](RiffBuilder& b) { hdrl(b); idx1(b); movi(b); }),  // idx1 before movi
        riff("AVI ", [&](RiffBuilder& b) { hdrl(b); hdrl(b); movi(b); idx1(b); idx1(b); }),
        riff("AVIX", [&](RiffBuilder& b) { hdrl(b); movi(b); idx1(b); }),
        riff("AVI ", [&](RiffBuilder& b) {
            b.open("LIST", "hdrl");
            b.chunk("avih", mainHeader(1, 1));
            b.open("LIST", "strl");
            b.chunk("strf", bitmapInfo(8, 8, nullptr));  // a format and an index before any header
            b.chunk("indx", Bytes(24 + 16));
            b.chunk("strh", streamHeader("vids", nullptr, 1, 25));
            b.chunk("strh", streamHeader("auds", nullptr, 1, 25));
            b.close();
            b.close();
            movi(b);
            idx1(b);
        }),
        riff("WAVE", [](RiffBuilder& b) { b.chunk("data", Bytes(16)); b.chunk("fmt ", waveFormat(WAVE_FORMAT_PCM, 2, 48000, 16)); }),
        riff("WAVE", [](RiffBuilder& b) {
            b.chunk("fmt ", waveFormat(WAVE_FORMAT_PCM, 2, 48000, 16));
            b.chunk("fmt ", Bytes(4));
            b.chunk("data", Bytes(16));
        }),
        riff("WAVE", [](RiffBuilder& b) { b.chunk("fmt ", Bytes(6, 1)); b.chunk("data", Bytes(16)); }),
    };
    check(images);
}

}  // namespace
