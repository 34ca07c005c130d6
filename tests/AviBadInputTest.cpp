// Damaged files: the parser either fails or yields a file that a reader can walk; it never
// crashes, hangs or touches memory it does not own (this suite also runs under ASan).
#include <gtest/gtest.h>

#include <filesystem>

#include "RiffBuilder.h"

namespace {

struct AviBadInput : testing::Test {
    // Each fails, or walks clean; an exception thrown as a message text counts as clean.
    void check(const std::vector<Bytes>& images)
    {
        for (size_t i = 0; i < images.size(); i++) {
            SCOPED_TRACE(testing::Message() << "image " << i << " of " << images[i].size() << " bytes");
            avihandle h(dir.write("damaged", images[i]).c_str(), false, false);
            EXPECT_EQ(h.bError ? "" : walkParsed(h), "");
        }
    }
    ScratchDir dir;
    MessageLog quiet;
};

// Its audio format is compressed: one with cbSize extra bytes.
RiffBuilder plainAvi()
{
    AviLayout layout = videoAndAudio({{videoChunk(2), audioChunk(4), videoChunk(3, false), audioChunk(4)}});
    layout.streams[1].second = bytesOf(waveFormat(0x55, 2, 48000, 16));
    return buildAvi(layout);
}

RiffBuilder openDmlAvi()
{
    AviLayout layout =
        videoAndAudio({{videoChunk(10), audioChunk(16)}, {videoChunk(12), audioChunk(16)}, {videoChunk(14)}});
    layout.superIndex = true;
    layout.dmlhFrames = 3;
    return buildAvi(layout);
}

RiffBuilder wavFile() { return buildWav(bytesOf(waveFormat(WAVE_FORMAT_PCM, 2, 44100, 16)), 64, 64); }

RiffBuilder dvAvi() { return buildAvi(dvType1({dvFrame({})})); }

TEST_F(AviBadInput, TruncationsAndEveryStoredSizeReplaced)
{
    // Every length of the small files, and each stored size replaced: zero-sized chunks, lists
    // smaller than their own header, sizes past the end of the file.
    std::vector<Bytes> images;
    for (const RiffBuilder& file : {plainAvi(), openDmlAvi(), wavFile()}) {
        for (size_t length = 0; length <= file.image.size(); length++)
            images.emplace_back(file.image.begin(), file.image.begin() + length);
        for (size_t at : file.headers)
            for (DWORD size : {0u, 1u, 3u, 4u, 5u, 0x7FFFFFFFu, 0xFFFFFFF7u, 0xFFFFFFFFu}) {
                images.push_back(file.image);
                memcpy(&images.back()[at + 4], &size, 4);
            }
    }
    // The DV file cut at and just after each chunk header, and in its frame.
    const RiffBuilder dv = dvAvi();
    for (size_t at : dv.headers)
        for (size_t length = at; length <= at + 12; length += 4)
            images.emplace_back(dv.image.begin(), dv.image.begin() + length);
    images.emplace_back(dv.image.begin(), dv.image.end() - DVFrameSize625 / 2);
    check(images);
}

TEST_F(AviBadInput, HugeAndZeroCounts)
{
    // A field overwritten: in the nth chunk with an id, at an offset from its header, so many bytes.
    const std::tuple<RiffBuilder (*)(), const char*, int, size_t, ULONGLONG, size_t> cases[] = {
        {plainAvi, "avih", 0, 8 + 24, 0xFFFFFFFF, 4},  // dwStreams
        {plainAvi, "avih", 0, 8 + 24, 0, 4},
        {plainAvi, "avih", 0, 8 + 16, 0xFFFFFFFF, 4},  // dwTotalFrames
        {plainAvi, "avih", 0, 8 + 16, 0x1FFFF800, 4},  // 8 bytes per frame + 16384 wraps to 0
        {plainAvi, "strf", 1, 8 + 12, 0, 2},           // nBlockAlign
        {plainAvi, "strf", 1, 8 + 16, 0xFFFF, 2},      // cbSize past the chunk
        {plainAvi, "idx1", 0, 8 + 8, 0xFFFFFFF0, 4},   // first offset far away
        {plainAvi, "strh", 0, 8, FCC("iavs") | (ULONGLONG)FCC("dvsd") << 32, 8},
        {openDmlAvi, "indx", 0, 8 + 4, 0xFFFFFFFF, 4},  // super index nEntriesInUse
        {openDmlAvi, "indx", 1, 8 + 4, 0x10000000, 4},
        {openDmlAvi, "indx", 0, 8 + 4, 0, 4},
        {openDmlAvi, "indx", 0, 8 + 24, 0, 8},                // an index chunk at the file's start
        {openDmlAvi, "indx", 1, 8 + 40, 0xFFFFFFFFFFull, 8},  // and past its end
        {openDmlAvi, "ix00", 0, 12, 0xFFFFFFFF, 4},           // standard index nEntriesInUse
        {openDmlAvi, "ix01", 1, 12, 0x20000000, 4},           // 8 bytes each wraps to 0
        {openDmlAvi, "ix00", 2, 12, 0x1FFFFFFF, 4},
        {openDmlAvi, "ix00", 1, 20, 0xFFFFFFFFFFFFFF00ull, 8},  // qwBaseOffset
        {openDmlAvi, "dmlh", 0, 8, 0xFFFFFFFF, 4},
        {openDmlAvi, "strf", 1, 8 + 12, 0, 2},
        {wavFile, "fmt ", 0, 8 + 2, 0, 2},  // nChannels
        {dvAvi, "00db", 0, 4, 80, 4},       // a DV chunk of one block
    };
    std::vector<Bytes> images;
    for (const auto& [file, id, nth, at, value, bytes] : cases) {
        images.push_back(file().image);
        memcpy(&images.back()[file().find(id, nth) + at], &value, bytes);
    }
    check(images);
}

TEST_F(AviBadInput, IndexCountThatWrapsItsBlockSize)
{
    // A standard index chunk claims 2^29 entries, 4 GiB at 8 bytes each, and the file (sparse) is
    // large enough to hold them: only the entries its own chunk holds are read.
    RiffBuilder file = openDmlAvi();
    file.patch(file.find("ix00") + 12, DWORD(0x20000000));
    const std::string path = dir.write("large", file.image);
    std::filesystem::resize_file(path, 9ull << 29);
    avihandle h(path.c_str(), false, false);
    ASSERT_FALSE(h.bError);
    EXPECT_EQ(walkParsed(h), "");
    ASSERT_TRUE(h.openavi());
    EXPECT_TRUE(locate(h, h.pVideoStream, 0).size == 10 && locate(h, h.pVideoStream, 1).size == 12);
    h.closeavi();
}

TEST_F(AviBadInput, ChunksOutOfPlace)
{
    // The parts of small files, put together in orders no writer uses.
    auto list = [](const char* id, const char* type, const std::vector<Bytes>& parts) {
        RiffBuilder b;
        b.open(id, type);
        for (const Bytes& part : parts)
            b.raw(part);
        b.close();
        return b.image;
    };
    const RiffBuilder avi = plainAvi(), wav = wavFile();
    auto part = [](const RiffBuilder& file, const char* id, int nth) {  // the nth chunk with this id, whole
        const size_t at = file.find(id, nth);
        uint32_t size;
        memcpy(&size, &file.image[at + 4], 4);
        return Bytes(file.image.begin() + at, file.image.begin() + at + 8 + size);
    };
    const Bytes hdrl = part(avi, "LIST", 0), movi = part(avi, "LIST", 3), idx1 = part(avi, "idx1", 0);
    const Bytes fmt = part(wav, "fmt ", 0), data = part(wav, "data", 0);
    const Bytes shortFmt = {'f', 'm', 't', ' ', 6, 0, 0, 0, 1, 1, 1, 1, 1, 1};
    // A format and an index before any stream header, then two stream headers in one list.
    const Bytes strl = list("LIST", "strl", {part(avi, "strf", 0), part(openDmlAvi(), "indx", 0), part(avi, "strh", 0),
                                             part(avi, "strh", 1)});
    const Bytes early = list("LIST", "hdrl", {part(avi, "avih", 0), strl});
    check({list("RIFF", "AVI ", {movi, idx1, hdrl}), list("RIFF", "AVI ", {hdrl, idx1, movi}),
           list("RIFF", "AVI ", {hdrl, hdrl, movi, idx1, idx1}), list("RIFF", "AVIX", {hdrl, movi, idx1}),
           list("RIFF", "AVI ", {early, movi, idx1}), list("RIFF", "WAVE", {data, fmt}),
           list("RIFF", "WAVE", {fmt, shortFmt, data}), list("RIFF", "WAVE", {shortFmt, data})});
}

}  // namespace
