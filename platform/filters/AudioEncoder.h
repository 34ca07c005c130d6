// An audio encoder fed with 8- or 16-bit PCM in pieces of any size. The PCM is cut into the
// encoder's frames (codecs of any frame size take what has come, in pieces of at most 4096 sample
// frames); at the end the last frame is padded with silence where the codec takes whole frames
// only (ADPCM blocks, WMA), and the encoder gives what it still holds. WMA's stream starts with a
// frame of silence its decoders drop, placed before the stream's start, and ends with one more.
// Each packet is placed by the sample frames the stream decodes to before it: a frame codec's
// packets decode to a whole frame each (MP3's last one too, and its first ones to the encoder's
// delay).
#pragma once

#include <deque>
#include <memory>
#include <vector>

#include "CompressorCodecs.h"

class AudioEncoder {
public:
    // Null when the codec does not take this PCM (rate, channels) or its encoder is missing.
    static std::unique_ptr<AudioEncoder> Open(const AudioCodec& codec, const std::vector<int>& values,
                                              const WAVEFORMATEX& pcm);

    const AVCodecContext& Encoder() const { return *m_Encoder; }
    // The compressed format: a WAVEFORMATEX and the codec's extra bytes (cbSize of them).
    const std::vector<BYTE>& Format() const { return m_Format; }
    // The most bytes a packet takes.
    size_t PacketBound() const { return m_PacketBound; }

    // Takes `frames` sample frames of the PCM format; false when the encoder fails.
    bool Push(const uint8_t* pcm, int frames);
    // Ends the stream: the rest goes out, padded as the codec needs.
    bool Finish();

    struct Packet {
        AvPacketPtr packet;
        int64_t first;  // the sample frame it starts at, from the stream's first (negative before it)
        int64_t count;  // the sample frames it decodes to
    };
    // The next packet, in order; false when none is ready.
    bool Next(Packet* packet);

private:
    AudioEncoder() = default;
    bool SetFormat(const AudioCodec& codec);
    bool Lead();
    AvFramePtr NewFrame(int frames) const;
    bool Send(int frames, int padded);
    bool Receive();

    AvCodecContextPtr m_Encoder;
    SwrContextPtr m_Converter;  // the PCM to the encoder's sample format
    AvAudioFifoPtr m_Waiting;   // converted, not yet sent
    int m_FrameSamples = 0;     // sample frames sent at a time
    bool m_WholeFrames = false;  // the last frame is padded to a whole one
    int m_Lead = 0;              // sample frames of silence before the stream and after it
    int64_t m_Decoded = 0;  // sample frames of the packets so far
    std::vector<BYTE> m_Format;
    size_t m_PacketBound = 0;
    std::deque<Packet> m_Ready;
};
