// The DVINFO of a DV stream: the AAUX and VAUX source and control packs its frames carry, each
// pack's four bytes after its header in one DWORD, the first byte lowest.
#pragma once

#include "platform/dshow/Strmif.h"

// Frames of NTSC (525-60) or PAL (625-50) pictures at 4:3 with locked 16-bit stereo at rate
// (48000, 44100 or 32000).
DVINFO DvInfoFor(bool pal, DWORD rate);
