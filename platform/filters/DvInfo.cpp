#include "DvInfo.h"

namespace {

constexpr DWORD Pack(BYTE pc1, BYTE pc2, BYTE pc3, BYTE pc4)
{
    return DWORD(pc1) | DWORD(pc2) << 8 | DWORD(pc3) << 16 | DWORD(pc4) << 24;
}

}  // namespace

DVINFO DvInfoFor(bool pal, DWORD rate)
{
    const DWORD frequency = rate == 48000 ? 0 : rate == 44100 ? 1 : 2;
    const DWORD fewest = pal ? (rate == 48000 ? 1896 : rate == 44100 ? 1742 : 1264)
                             : (rate == 48000 ? 1580 : rate == 44100 ? 1452 : 1053);
    const DWORD samples = pal ? rate / 25 : rate * 1001 / 30000;
    // The 50/60 bit: set for 625-50.
    const BYTE system = pal ? 0x20 : 0;
    DVINFO info{};
    info.dwDVAAuxSrc = info.dwDVAAuxSrc1 = Pack(BYTE(0xC0 | (samples - fewest)), 0, 0xC0 | system, BYTE(0x80 | frequency << 3));
    info.dwDVAAuxCtl = info.dwDVAAuxCtl1 = Pack(0x1C, 0xCF, pal ? 0xA0 : 0xF8, 0xFF);
    info.dwDVVAuxSrc = Pack(0xFF, 0xFF, 0xC0 | system, 0xFF);
    info.dwDVVAuxCtl = Pack(0x3F, 0xC8, 0xFC, 0xFF);
    return info;
}
