#include "DVFrame.h"

#include <cstring>

namespace {

// The fewest samples a frame carries, by system (525/60, 625/50) and sampling-frequency code;
// the AAUX AF_SIZE field counts the samples above it.
const DWORD minimumSamples[2][3] = {{1580, 1452, 1053}, {1896, 1742, 1264}};

enum DIFSection { SectionHeader = 0, SectionSubcode = 1, SectionVAUX = 2, SectionAudio = 3 };

}  // namespace

void analyze_packs(tr_dv_aux* aux, const unsigned char* packs, int count, int half)
{
    for (int i = 0; i < count; i++) {
        const unsigned char* p = packs + 5 * i;
        switch (p[0]) {
        case 0x13:
            aux->timecode = (p[1] | (p[2] << 8) | (p[3] << 16) | ((DWORD)p[4] << 24)) & 0x3F7F7F3F;
            break;
        case 0x50: {
            tr_dv_audio& a = aux->audio[half];
            a.locked = p[1] >> 7;
            a.SM = p[2] >> 7;
            a.CHN = (p[2] >> 5) & 3;
            a.PA = (p[2] >> 4) & 1;
            a.AUDIO_MODE = p[2] & 15;
            a.fiftySixty = (p[3] >> 6) & 1;
            a.EF = p[4] >> 7;
            a.TC = (p[4] >> 6) & 1;
            a.SMP = (p[4] >> 3) & 7;
            a.QU = p[4] & 7;
            a.samples = (p[1] & 0x3F) + (a.SMP < 3 ? minimumSamples[aux->pal ? 1 : 0][a.SMP] : 0);
            break;
        }
        case 0x51:
            aux->audio[half].control = (p[1] >> 2) & 3;
            break;
        case 0x60:
            aux->vauxBW = p[2] >> 7;
            aux->vauxEN = (p[2] >> 6) & 1;
            aux->vauxCLF = (p[2] >> 4) & 3;
            break;
        case 0x61:
            aux->vauxDISP = p[2] & 7;
            aux->vauxControl = p[3];
            break;
        default:
            break;
        }
    }
}

// Each sync block is a 3-byte ID followed by one pack.
void analyze_subc(tr_dv_aux* aux, const unsigned char* syncBlocks, int count, int half)
{
    for (int i = 0; i < count; i++)
        analyze_packs(aux, syncBlocks + 8 * i + 3, 1, half);
}

void analyze_fr(tr_dv_aux* aux, unsigned char* audioOut, const unsigned char* frame)
{
    // A frame is taken as 625/50 until its header block says otherwise.
    DWORD count = DVFrameSize625 / DVBlockSize;
    DWORD audioBlocks = 0;
    for (DWORD b = 0; b < count; b++) {
        const unsigned char* block = frame + b * DVBlockSize;
        // Video blocks, most of the frame, carry nothing the analysis records.
        if ((block[0] >> 5) > SectionAudio)
            continue;
        int sequence = block[1] >> 4;
        int half = sequence >= (aux->pal ? 6 : 5) ? 1 : 0;
        switch (block[0] >> 5) {
        case SectionHeader:
            aux->width = 720;
            aux->valid = 1;
            if (block[3] & 0x80) {
                aux->system = 0x20;
                aux->pal = 1;
                aux->height = 576;
                count = DVFrameSize625 / DVBlockSize;
            } else {
                aux->system = 0;
                aux->pal = 0;
                aux->height = 480;
                count = DVFrameSize525 / DVBlockSize;
            }
            break;
        case SectionSubcode:
            analyze_subc(aux, block + 3, 6, half);
            break;
        case SectionVAUX:
            analyze_packs(aux, block + 3, 15, half);
            break;
        case SectionAudio:
            analyze_packs(aux, block + 3, 1, half);
            if (audioOut && audioBlocks < DVMaxAudioBlocks)
                memcpy(audioOut + DVAudioDataSize * audioBlocks++, block + 8, DVAudioDataSize);
            break;
        default:
            break;
        }
    }
}

void analyze_fr0(tr_dv_aux* aux, const unsigned char* frame) { analyze_fr(aux, nullptr, frame); }
