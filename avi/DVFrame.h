// Analysis of one DV frame (IEC 61834): system, frame size, time code and the audio layout
// of its two audio blocks, read from the header, subcode, VAUX and AAUX packs.
#pragma once

#include "platform/win32/Win32Types.h"

constexpr unsigned int DVFrameSize525 = 120000;  // 10 DIF sequences of 150 blocks
constexpr unsigned int DVFrameSize625 = 144000;  // 12 DIF sequences
constexpr unsigned int DVBlockSize = 80;
constexpr unsigned int DVMaxAudioBlocks = 108;
constexpr unsigned int DVAudioDataSize = 72;  // audio data bytes per audio block
constexpr unsigned int DVMaxAudioData = DVMaxAudioBlocks * DVAudioDataSize;  // 7776

// The AAUX source and source control packs of one audio block.
struct tr_dv_audio {
    BYTE locked;
    DWORD samples;  // AF_SIZE plus the minimum count of the system and rate
    BYTE SM;
    BYTE CHN;  // 0: one channel per block, 1: two
    BYTE PA;
    BYTE AUDIO_MODE;
    BYTE fiftySixty;  // byte 3 bit 6
    BYTE EF;
    BYTE TC;
    BYTE SMP;  // 0: 48 kHz, 1: 44.1 kHz, 2: 32 kHz
    BYTE QU;   // 0: 16-bit linear, 1: 12-bit nonlinear, 2: 20-bit
    BYTE control;
};

struct tr_dv_aux {
    BYTE system;  // 0 for 525/60, 0x20 for 625/50
    BYTE pal;
    BYTE valid;
    LONG width;
    LONG height;
    DWORD timecode;
    tr_dv_audio audio[2];
    BYTE vauxBW;
    BYTE vauxEN;
    BYTE vauxCLF;
    BYTE vauxDISP;
    BYTE vauxControl;
};

// frame must hold DVFrameSize625 bytes. analyze_fr also copies the audio data of every audio
// block, in block order, to audioOut (at most DVMaxAudioData bytes).
void analyze_fr0(tr_dv_aux* aux, const unsigned char* frame);
void analyze_fr(tr_dv_aux* aux, unsigned char* audioOut, const unsigned char* frame);
void analyze_packs(tr_dv_aux* aux, const unsigned char* packs, int count, int half);
void analyze_subc(tr_dv_aux* aux, const unsigned char* syncBlocks, int count, int half);
