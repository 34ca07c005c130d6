// The AVI Mux and the File Writer fed known samples; the files read back by FFmpeg and by the
// library's AVI reader.
#include <set>

#include "MuxGraph.h"
#include "platform/filters/MediaTypes.h"

namespace {

// Uncompressed video of a frame format: RGB top-down with a negative height, as DirectShow has it.
CMediaType videoType(const FrameFormat& format, REFERENCE_TIME frameTime)
{
    static const FOURCC compression[] = {0, FCC("UYVY"), FCC("YUY2"), BI_RGB, BI_RGB};
    static const WORD bits[] = {0, 16, 16, 24, 32};
    VIDEOINFOHEADER info{};
    info.AvgTimePerFrame = frameTime;
    const LONG height = format.colorSpace > 2 && !format.bottomUp ? -format.height : format.height;
    info.bmiHeader = {40, format.width, height, 1, bits[format.colorSpace], compression[format.colorSpace], 0, 0, 0, 0, 0};
    info.bmiHeader.biSizeImage = GetBitmapSize(&info.bmiHeader);
    return typeWith(MEDIATYPE_Video, GetBitmapSubtype(&info.bmiHeader), FORMAT_VideoInfo, &info, sizeof info);
}

// The pattern's first count pictures, each timed as that frame.
std::vector<Packet> frames(const FrameFormat& format, REFERENCE_TIME frameTime, unsigned count)
{
    std::vector<Packet> sent;
    for (unsigned n = 0; n < count; n++) {
        Bytes frame(frameSize(format));
        FromRgb(patternPicture(format.width, format.height, n), format, frame.data());
        sent.push_back({std::move(frame), n * frameTime, (n + 1) * frameTime});
    }
    return sent;
}

// The tone in blocks of `block` bytes.
std::vector<Packet> blocks(const Bytes& pcm, size_t block)
{
    std::vector<Packet> sent;
    for (size_t at = 0; at < pcm.size(); at += block)
        sent.push_back({Bytes(pcm.begin() + at, pcm.begin() + std::min(pcm.size(), at + block))});
    return sent;
}

// The packets of each stream as libavformat reads them, with their times and key flags.
std::vector<std::vector<Packet>> packets(AVFormatContext* opened)
{
    std::vector<std::vector<Packet>> found(opened->nb_streams);
    const AvPacketPtr packet(av_packet_alloc());
    for (; av_read_frame(opened, packet.get()) >= 0; av_packet_unref(packet.get())) {
        const AVRational base = opened->streams[packet->stream_index]->time_base;
        const REFERENCE_TIME start = av_rescale_q(packet->pts, base, {1, int(UNITS)});
        found[packet->stream_index].push_back({Bytes(packet->data, packet->data + packet->size), start,
                                               start + av_rescale_q(packet->duration, base, {1, int(UNITS)}),
                                               (packet->flags & AV_PKT_FLAG_KEY) != 0});
    }
    return found;
}

std::vector<Bytes> dataOf(const std::vector<Packet>& sent, size_t count = SIZE_MAX)
{
    std::vector<Bytes> data;
    for (size_t n = 0; n < std::min(count, sent.size()); n++)
        data.push_back(sent[n].data);
    return data;
}

struct Uncompressed {
    FrameFormat video;  // colour space 0: none
    unsigned rate, scale, frames;
    unsigned sampleRate, channels, samples;  // 0: no audio
    size_t block;  // bytes of PCM a sample
    bool oldIndex;
    AviLimits limits = AviLimits();
    size_t segments = 1;  // RIFF segments written, counted up to 5
};

// Pictures and PCM come back byte for byte from FFmpeg and from the reader, at the frame rate
// given, with an 'idx1' after the first 'movi' where asked for. With small segments the file is
// RIFF 'AVI ' and 'AVIX' segments, none past the limit, each 'movi' list ending in the standard
// indexes of the streams it holds. A file whose super index is full takes nothing more: the graph
// hears of it and the file ends readable with what it holds.
TEST(AviMux, UncompressedStreamsReadBackExactly)
{
    const Uncompressed cases[] = {{{1, 64, 48, false}, 30000, 1001, 12, 48000, 2, 24000, 4000, true},
                                  {{3, 72, 30, false}, 25, 1, 12, 0, 0, 0, 4000, false},
                                  {{4, 160, 120, true}, 24, 1, 12, 44100, 1, 22050, 4000, true},
                                  {{0, 0, 0, false}, 0, 0, 0, 22050, 2, 11025, 4000, false},
                                  {{2, 64, 48, false}, 25, 1, 120, 48000, 2, 230400, 7680, true, {150000, 256}, 5},
                                  {{2, 64, 48, false}, 25, 1, 120, 48000, 2, 230400, 7680, false, {200000, 256}, 5},
                                  {{2, 64, 48, false}, 25, 1, 120, 48000, 2, 230400, 7680, true, {100000, 3}, 3}};
    ScratchDir dir;
    for (const Uncompressed& c : cases) {
        const std::string path = dir.path("plain.avi");
        const std::string label = std::to_string(c.video.colorSpace) + " " + std::to_string(c.limits.segmentBytes);
        MuxGraph graph(c.limits);
        QueryRef<IConfigAviMux>(graph.mux.get(), IID_IConfigAviMux)->SetOutputCompatibilityIndex(c.oldIndex);
        std::vector<Packet> pictures;
        if (c.video.colorSpace) {
            pictures = frames(c.video, REFERENCE_TIME(UNITS * c.scale / c.rate), c.frames);
            graph.add(packetSource(videoType(c.video, UNITS * c.scale / c.rate), pictures));
        }
        const Bytes pcm = tone(c.sampleRate, c.channels, 0, c.samples);
        if (c.sampleRate)
            graph.add(packetSource(pcmType(c.sampleRate, WORD(c.channels)), blocks(pcm, c.block)));
        const bool full = c.limits.superIndexEntries < 10;
        EXPECT_EQ(full ? EC_ERRORABORT : EC_COMPLETE, graph.write(path)) << label;

        std::vector<size_t> sizes;
        std::vector<std::string> top, expected = {"AVI ", "hdrl", "movi"};
        for (const RiffChunk& chunk : riffChunks(path)) {
            if (chunk.depth == 0)
                sizes.push_back(chunk.size);
            if (chunk.depth < 2)
                top.push_back(chunk.id);
        }
        if (c.oldIndex)
            expected.push_back("idx1");
        for (size_t s = 1; s < sizes.size(); s++)
            expected.insert(expected.end(), {"AVIX", "movi"});
        EXPECT_EQ(expected, top) << label;
        EXPECT_EQ(c.segments, std::min<size_t>(sizes.size(), 5)) << label;
        EXPECT_LE(*std::max_element(sizes.begin(), sizes.end()), c.limits.segmentBytes) << label;
        // Each 'movi' list ends in the standard indexes of the streams it holds.
        const std::vector<RiffChunk> chunks = moviChunks(path);
        std::set<char> held, indexed;
        size_t lists = 0;
        for (size_t i = 0; i < chunks.size(); i++) {
            const bool index = chunks[i].id.compare(0, 2, "ix") == 0;
            (index ? indexed : held).insert(chunks[i].id[index ? 3 : 1]);
            if (index && (i + 1 == chunks.size() || chunks[i + 1].id.compare(0, 2, "ix") != 0)) {
                EXPECT_EQ(held, indexed) << label << " list " << lists;
                held.clear(), indexed.clear();
                lists++;
            }
        }
        EXPECT_EQ(sizes.size(), lists) << label;

        const ReadBack back = readAvi(path);
        ASSERT_TRUE(back.valid) << label;
        if (c.video.colorSpace) {
            const size_t written = moviSizes(path, "00db").size();
            EXPECT_EQ(full, written < c.frames) << label;
            expectFrames(path, c.video, dataOf(pictures, written), label);
            EXPECT_EQ(std::tuple(c.rate, c.scale), std::tuple(back.info.Rate, back.info.Scale)) << label;
        }
        // All the sound, or that of the blocks written before the file was full.
        const size_t kept = full ? moviSizes(path, "01wb").size() * c.block : pcm.size();
        const Bytes sound(pcm.begin(), pcm.begin() + std::ptrdiff_t(kept));
        EXPECT_TRUE((c.sampleRate ? ffmpegPcm(path) : Bytes()) == sound && back.pcm == sound) << label;
    }
}

// A gap in the frame times is written as empty chunks: FFmpeg finds the frames after it at their
// times, and the reader shows the frame before in their place.
TEST(AviMux, AGapInTheFrameTimesIsWrittenAsDroppedFrames)
{
    ScratchDir dir;
    const std::string path = dir.path("gap.avi");
    const FrameFormat format{1, 32, 16, false};
    MuxGraph graph;
    std::vector<Packet> sent = frames(format, 400000, 7);
    sent.erase(sent.begin() + 3, sent.begin() + 5);
    graph.add(packetSource(videoType(format, 400000), sent));
    EXPECT_EQ(EC_COMPLETE, graph.write(path));
    EXPECT_EQ((std::vector<uint32_t>{1024, 1024, 1024, 0, 0, 1024, 1024}), moviSizes(path, "00db"));
    const ReadBack back = readAvi(path);
    EXPECT_EQ(7u, ffmpegFrames(path, format).size());
    ASSERT_EQ(7u, back.frames.size());
    EXPECT_TRUE(back.frames[3] == back.frames[2] && back.frames[4] == back.frames[2] &&
                back.frames[5] == sent[3].data);
}

// The same multiplexer serves file after file: each connection appends a free input, an input
// disconnected is free again, and enumerators keep up with the growing list.
TEST(AviMux, PinsGrowAndComeBackFree)
{
    ScratchDir dir;
    MuxGraph graph;
    const auto names = [&] {
        std::vector<std::string> list;
        for (const ComRef<IPin>& pin : PinsOf(graph.mux.get())) {
            PIN_INFO info;
            pin->QueryPinInfo(&info);
            info.pFilter->Release();
            list.push_back(WideToAnsi(info.achName));
        }
        return list;
    };
    EXPECT_EQ((std::vector<std::string>{"AVI Out", "Input 01"}), names());
    ComRef<IEnumPins> early;
    graph.mux->EnumPins(early.out());
    const FrameFormat format{4, 16, 8, true};
    for (unsigned file = 0; file < 3; file++) {
        for (unsigned input = 0; input <= file % 2; input++)
            graph.add(packetSource(videoType(format, 400000), frames(format, 400000, 3 + input)));
        const std::string path = dir.path("pins" + std::to_string(file) + ".avi");
        EXPECT_EQ(EC_COMPLETE, graph.write(path));
        EXPECT_EQ(std::tuple(3u, file % 2 ? 4u : 0u),
                  std::tuple(moviSizes(path, "00db").size(), moviSizes(path, "01db").size()))
            << file;
        graph.takeApart();
    }
    EXPECT_EQ((std::vector<std::string>{"AVI Out", "Input 01", "Input 02", "Input 03"}), names());
    IPin* pins[8] = {};
    ULONG fetched = 0;
    early->Next(8, pins, &fetched);
    EXPECT_EQ(4u, fetched);
    std::for_each(pins, pins + fetched, [](IPin* pin) { pin->Release(); });
}

// Packets of other files' codecs pass through as they are: FFmpeg reads the same packets (MP3
// cut anywhere comes back one frame a chunk) and decodes the same pictures and sound, and the
// reader serves every frame and the MP3 stream's samples.
TEST(AviMux, CompressedStreamsKeepTheirPackets)
{
    const std::string source = make(
        "AviMuxCompressed", ".avi",
        ffmpeg(testsrc("96x64", "25") + lavfi("sine=frequency=330:sample_rate=44100"),
               "-t 2 -map 0:v -map 1:a -map 1:a -map 1:a -map 1:a -map 1:a -ac 2 -c:v mpeg4 -flags +global_header -g 6"
               " -bf 0 -c:a:0 adpcm_ms -c:a:1 adpcm_ima_wav -c:a:2 pcm_alaw -c:a:3 pcm_mulaw -c:a:4 libmp3lame"));
    AVFormatContext* opened = nullptr;
    ASSERT_EQ(0, avformat_open_input(&opened, source.c_str(), nullptr, nullptr));
    const AvFormatContextPtr context(opened);
    ASSERT_GE(avformat_find_stream_info(opened, nullptr), 0);
    const std::vector<std::vector<Packet>> sent = packets(opened);
    Bytes mp3;  // then cut anywhere
    for (const Packet& s : sent.back())
        mp3.insert(mp3.end(), s.data.begin(), s.data.end());
    ScratchDir dir;
    const std::string path = dir.path("compressed.avi");
    MuxGraph graph;
    for (unsigned i = 0; i < opened->nb_streams; i++) {
        const StreamFormat format = *CompressedFormat(*opened->streams[i]);
        const CMediaType type =
            typeWith(format.majortype, format.subtype, format.formattype, format.format.data(), format.format.size());
        graph.add(packetSource(type, i + 1 == opened->nb_streams ? blocks(mp3, 1000) : sent[i]));
    }
    EXPECT_EQ(EC_COMPLETE, graph.write(path));

    AVFormatContext* written = nullptr;
    ASSERT_EQ(0, avformat_open_input(&written, path.c_str(), nullptr, nullptr));
    const std::vector<std::vector<Packet>> found = packets(AvFormatContextPtr(written).get());
    const unsigned last = opened->nb_streams - 1;
    for (unsigned i : {0u, last}) {
        ASSERT_EQ(sent[i].size(), found[i].size()) << i;
        for (size_t n = 0; n < sent[i].size(); n++)
            EXPECT_TRUE(sent[i][n].data == found[i][n].data && sent[i][n].sync == found[i][n].sync) << i << " " << n;
    }
    std::string theirs;
    for (unsigned i = 0; i < opened->nb_streams; i++)
        theirs = expectDecodedAlike(path, source, " -map 0:" + std::to_string(i) + " -f " + (i ? "s16le" : "rawvideo") + " -");
    const ReadBack back = readAvi(path);
    ASSERT_TRUE(back.valid);
    EXPECT_EQ(opened->streams[0]->nb_frames, int64_t(back.frames.size()));
    EXPECT_EQ(sent[last].size() * 1152, back.info.NumSamples);
    EXPECT_TRUE(theirs.size() == back.pcm.size() && theirs == std::string(back.pcm.begin(), back.pcm.end()));
}

// A write the disk refuses ends the file there without a hang: the graph hears of it, and the
// frames written before read back. In a child, whose file size is limited.
TEST(AviMux, AWriteTheDiskRefusesLeavesTheFramesBefore)
{
    ScratchDir dir;
    const std::string path = dir.path("full.avi");
    const FrameFormat format{1, 160, 120, false};
    const std::vector<Packet> pictures = frames(format, 400000, 60);
    const auto write = [&] {
        MuxGraph graph;
        graph.add(packetSource(videoType(format, 400000), pictures));
        graph.add(packetSource(pcmType(48000, 2), blocks(tone(48000, 2, 0, 48000), 7680)));
        return graph.write(path) == EC_ERRORABORT;
    };
    expectFramesBeforeTheLimit(path, 1 << 20, format, 10, write, [&](size_t n) { return pictures[n].data; });
}

// Settings out of range are refused; the File Writer counts as a renderer and refuses names it
// could not write, when given and again when it opens the file.
TEST(AviMux, SettingsAndTheFileSinksName)
{
    MuxGraph graph;
    const auto interleaving = QueryRef<IConfigInterleaving>(graph.mux.get(), IID_IConfigInterleaving);
    const auto config = QueryRef<IConfigAviMux>(graph.mux.get(), IID_IConfigAviMux);
    REFERENCE_TIME interleave = 5000000, preroll = 100;
    EXPECT_EQ(std::tuple(E_INVALIDARG, E_INVALIDARG, S_OK, S_OK, S_OK),
              std::tuple(interleaving->put_Mode(InterleavingMode(4)), config->SetMasterStream(-2),
                         interleaving->put_Mode(INTERLEAVE_FULL), interleaving->put_Interleaving(&interleave, &preroll),
                         config->SetMasterStream(1)));

    EXPECT_EQ(AM_FILTER_MISC_FLAGS_IS_RENDERER,
              QueryRef<IAMFilterMiscFlags>(graph.writer.get(), IID_IAMFilterMiscFlags)->GetMiscFlags());
    const auto sink = QueryRef<IFileSinkFilter>(graph.writer.get(), IID_IFileSinkFilter);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), sink->SetFileName(L"no/such/folder/file.avi", nullptr));
    ScratchDir dir;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), sink->SetFileName(AnsiToWide(dir.path("").c_str()).c_str(), nullptr));
    std::filesystem::create_directory(dir.path("gone"));
    EXPECT_EQ(S_OK, sink->SetFileName(AnsiToWide(dir.path("gone/named.avi").c_str()).c_str(), nullptr));
    std::filesystem::remove(dir.path("gone"));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), graph.writer->Pause());
}

}  // namespace
