// PCM out of DV frames: the audio blocks' data unshuffled, 12-bit nonlinear samples expanded to
// 16-bit linear, and the channels routed to left and right by the AAUX packs.
#pragma once

#include "DVFrame.h"

// First sample held by each audio block of one half (DIF sequence x 9 + audio block).
extern const unsigned short ac_dv_adta_60_ofs[45];
extern const unsigned short ac_dv_adta_50_ofs[54];

// The most sample frames one DV frame yields (625/50 at 48 kHz): decodeAudio never writes more
// than DVMaxAudioFrames x 4 bytes.
constexpr unsigned int DVMaxAudioFrames = DVMaxAudioData / 4;

unsigned short decode_12nonlin(unsigned int code);

// Undo the shuffling of one half's audio data (16-bit samples, or 3-byte pairs of 12-bit codes).
void unshuffle_adta_60_1ch(unsigned char* out, const unsigned char* in);
void unshuffle_adta_50_1ch(unsigned char* out, const unsigned char* in);
void unshuffle_adta_60_2ch(unsigned char* out, const unsigned char* in);
void unshuffle_adta_50_2ch(unsigned char* out, const unsigned char* in);

// n frames of interleaved 16-bit stereo from two halves of 16-bit big-endian samples.
void mix_fast16stereo(unsigned char* out, const unsigned char* half0, const unsigned char* half1, unsigned int n);
void mix_audio(const tr_dv_aux* aux, unsigned char* out, const unsigned char* half0, const unsigned char* half1,
               char mode);

// The frame's audio as interleaved 16-bit stereo in out (at most DVMaxAudioData bytes); returns
// the sample frames of audio block 0. mode 1 forces block 0's two channels, mode 2 block 1's.
int decodeAudio(const unsigned char* frame, unsigned char* out, char mode);
