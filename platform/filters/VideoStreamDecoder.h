// Compressed pictures in, pictures out in display order, each with its time, drawn into an
// uncompressed DIB (UYVY, YUY2, RGB24 or RGB32).
//
// After a seek the source delivers from the key frame before the wanted time: the pictures that
// end at or before the segment's start are dropped without being converted.
#pragma once

#include <memory>
#include <optional>

#include "platform/dshow/Strmif.h"
#include "platform/ffmpeg/AvPointers.h"
#include "platform/vfw/DibConverter.h"

class VideoStreamDecoder {
public:
    // lowres 0 to 3 decodes at 1, 1/2, 1/4 or 1/8 of the size where the codec can (DV). frameDuration
    // is how long a picture lasts when its packet does not say. Null when no decoder opens.
    static std::unique_ptr<VideoStreamDecoder> Open(const AVCodecParameters& parameters, REFERENCE_TIME frameDuration,
                                                    int lowres = 0);

    // The size of the pictures it gives.
    int Width() const { return m_Codec->width; }
    int Height() const { return m_Codec->height; }

    // Where Draw puts pictures: UYVY, YUY2 or BI_RGB 24 or 32 of the pictures' size. False otherwise.
    bool SetOutput(const BITMAPINFOHEADER& output);
    // Decoding starts anew from the next packet, a key frame; pictures ending at or before
    // segmentStart are dropped.
    void Restart(REFERENCE_TIME segmentStart);
    // One packet, with its presentation and decoding times (NoTime when unknown). An empty packet
    // gives nothing. False when the decoder refuses it.
    bool Send(const uint8_t* data, size_t size, REFERENCE_TIME start, REFERENCE_TIME decode);
    // The end of the stream: the pictures the decoder holds back come out.
    void Drain();
    // The next picture to show, with its times; false when none is ready.
    bool Next(REFERENCE_TIME* start, REFERENCE_TIME* stop);
    // Draws the picture Next gave into bits, the output's size. False when it cannot.
    bool Draw(uint8_t* bits);

private:
    VideoStreamDecoder(AvCodecContextPtr codec, REFERENCE_TIME frameDuration);

    AvCodecContextPtr m_Codec;
    const REFERENCE_TIME m_FrameDuration;
    AvPacketPtr m_Packet;
    AvFramePtr m_Picture;
    AvFramePtr m_Latest;  // the latest picture dropped before the segment
    std::optional<DibLayout> m_Layout;
    std::unique_ptr<DibConverter> m_Converter;
    REFERENCE_TIME m_SegmentStart = INT64_MIN;
    REFERENCE_TIME m_NextStart = 0;  // for a picture without a time: the end of the one before
    bool m_bGiven = false;  // a picture has been given since the restart
    bool m_Draining = false;
};
