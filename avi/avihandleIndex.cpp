// The chunk index of avihandle: every stream as a list of standard index chunks, built from
// "idx1" once or loaded from OpenDML super indexes a chunk at a time.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "avihandle.h"
#include "core/DebugOutput.h"
#include "core/FileIOWrapper.h"
#include "platform/win32/Memory.h"

namespace {

// "idx1" stream numbers are the chunk id's first two characters, in decimal.
constexpr DWORD MaxIdx1Streams = 100;

int idx1Stream(FOURCC ckid, DWORD streams)
{
    int tens = (int)(ckid & 0xFF) - '0', units = (int)((ckid >> 8) & 0xFF) - '0';
    if (tens < 0 || tens > 9 || units < 0 || units > 9)
        return -1;
    DWORD n = tens * 10 + units;
    return n < streams ? (int)n : -1;
}

}  // namespace

void avihandle::addstream(AVIstream** out, avistreamlist* header)
{
    AVIstream* stream = new AVIstream{};
    stream->fccType = header ? header->header.fccType : 0;
    if (pLastStream)
        pLastStream->next = stream;
    else
        pStreams = stream;
    pLastStream = stream;
    if (stream->fccType == FCC("vids") || stream->fccType == FCC("iavs"))
        pVideoStream = stream;
    if (stream->fccType == FCC("auds") || stream->fccType == FCC("iavs"))
        pAudioStream = stream;
    *out = stream;
}

// Every stream gets room for all the entries present, whatever the main header claims, so no
// entry is dropped; untouched room costs no memory. Entry offsets are made relative to
// qwMoviBase whether the file stored them relative to the "movi" list or as absolute offsets.
void avihandle::idx1toindx(const char* chunk, DWORD size)
{
    const AVIINDEXENTRY* entries = (const AVIINDEXENTRY*)chunk;
    const DWORD count = size / sizeof(AVIINDEXENTRY);
    const DWORD streams = pMainHeader->dwStreams < MaxIdx1Streams ? pMainHeader->dwStreams : MaxIdx1Streams;
    nFrames = pMainHeader->dwTotalFrames;

    IndexChunk* chunks[MaxIdx1Streams];
    avistreamlist* header = pFirstHeader;
    for (DWORD s = 0; s < streams; s++) {
        AVIstream* stream;
        addstream(&stream, header);
        chunks[s] = newChunk(count, qwMoviBase);
        appendChunk(stream, chunks[s]);
        if (header)
            header = header->next;
    }
    PageBlock keyFrames(count * sizeof(DWORD));
    if (!keyFrames.data())
        throw "avihandle::idx1toindx index too large";
    pKeyFrames = (DWORD*)keyFrames.data();
    nKeyFrames = 0;

    DWORD adjust = 0;
    for (DWORD i = 0; i < count; i++) {
        if (idx1Stream(entries[i].ckid, streams) >= 0 && entries[i].dwChunkOffset != 0) {
            if (entries[i].dwChunkOffset >= (DWORD)(qwMoviBase - 4))
                adjust = (DWORD)(qwMoviBase - 8);
            break;
        }
    }

    AVISTDINDEXENTRY last[MaxIdx1Streams] = {};
    for (DWORD i = 0; i < count; i++) {
        const AVIINDEXENTRY& e = entries[i];
        int s = idx1Stream(e.ckid, streams);
        if (s < 0)
            continue;
        IndexChunk* c = chunks[s];
        if (e.dwSize != 0)
            last[s] = {e.dwChunkOffset - adjust, e.dwSize};
        if (s == 0 && (e.dwFlags & AVIIF_KEYFRAME))
            pKeyFrames[nKeyFrames++] = c->nEntries;
        c->entries()[c->nEntries++] = last[s];
    }
    for (DWORD s = 0; s < streams; s++)
        chunks[s]->header()->nEntriesInUse = chunks[s]->nEntries;
    nFrames = streams ? chunks[0]->nEntries : 0;
    if (nKeyFrames == 0)
        pKeyFrames = nullptr;
    else
        keyFrames.release();
}

// Loads the next standard index chunk of every stream that has one left.
bool avihandle::getcindex()
{
    if (!pStreams)
        return false;
    bool loaded = false;
    for (AVIstream* stream = pStreams; stream; stream = stream->next) {
        if (stream->currententry >= stream->nEntriesInUse)
            continue;
        AVISUPERINDEXENTRY* entry = stream->pNextEntry ? stream->pNextEntry : stream->pSuperIndex;
        appendChunk(stream, loadChunk(*entry));
        stream->pNextEntry = entry + 1;
        stream->currententry++;
        loaded = true;
    }
    if (!loaded)
        throw "avihandle::getcindex currententry>nEntriesInUse";
    return true;
}

DWORD avihandle::getframeoffset(DWORD number, AVIstream* stream, ULONGLONG* base, DWORD* offset, DWORD* size)
{
    if (!stream)
        throw "avihandle::getframeoffset getcindex() failed";
    IndexChunk* chunk = stream->pChunks;
    IndexChunk* lastFilled = nullptr;
    for (;;) {
        if (!chunk) {
            if (stream->currententry >= stream->nEntriesInUse) {
                // Past the stream's last entry: that entry.
                if (!lastFilled)
                    throw "avihandle::getframeoffset getcindex() failed";
                chunk = lastFilled;
                number = chunk->nEntries - 1;
                break;
            }
            getcindex();
            chunk = stream->pLastChunk;
        }
        if (number < chunk->nEntries)
            break;
        number -= chunk->nEntries;
        if (chunk->nEntries)
            lastFilled = chunk;
        chunk = chunk->next;
    }
    const AVISTDINDEXENTRY& entry = chunk->entries()[number];
    *base = chunk->header()->qwBaseOffset;
    *offset = entry.dwOffset;
    *size = entry.dwSize & ~AVI_INDEX_DELTAFRAME;
    return number;
}

DWORD avihandle::MakeSampleTable(AVIstream* stream, AudioSampleInfo** table)
{
    *table = nullptr;
    nAudioChunks = 0;
    const DWORD blockAlign = pAudioFormat->nBlockAlign;
    if (!stream || blockAlign == 0)
        return 0;
    while (stream->currententry < stream->nEntriesInUse)
        getcindex();

    for (IndexChunk* c = stream->pChunks; c; c = c->next)
        nAudioChunks += c->nEntries;
    *table = new AudioSampleInfo[nAudioChunks];
    DWORD cumulative = 0, i = 0;
    for (IndexChunk* c = stream->pChunks; c; c = c->next) {
        for (DWORD k = 0; k < c->nEntries; k++, i++) {
            // A variable-rate stream's chunk is one block, whatever its size.
            DWORD samples = nAudioBlockFrames ? 1 : (c->entries()[k].dwSize & ~AVI_INDEX_DELTAFRAME) / blockAlign;
            (*table)[i] = {cumulative, samples};
            cumulative += samples;
        }
    }
    return cumulative;
}

bool avihandle::findAudioChunk(DWORD estimate, DWORD sample, DWORD* chunk)
{
    const AudioSampleInfo* table = pAudioSamples;
    DWORD k = estimate < nAudioChunks ? estimate : nAudioChunks - 1;
    while (k + 1 < nAudioChunks && table[k + 1].dwStart <= sample)
        k++;
    while (k > 0 && table[k].dwStart > sample)
        k--;
    if (table[k].dwStart > sample) {
        DebugOutput("AVIReader::LoadAudioSamples SampleStartCount>SampleNumber\n");
        return false;
    }
    *chunk = k;
    return true;
}

bool avihandle::findkeyframe(DWORD frame, DWORD* key)
{
    const DWORD* keys = pKeyFrames;
    const DWORD* end = keys + nKeyFrames;
    const DWORD* after = std::upper_bound(keys, end, frame);
    if (!keys || after == keys)
        return false;
    *key = after[-1];
    return true;
}

IndexChunk* avihandle::newChunk(DWORD capacity, ULONGLONG baseOffset)
{
    PageBlock block(sizeof(AVISTDINDEXHEADER) + capacity * sizeof(AVISTDINDEXENTRY));
    if (!block.data())
        throw "avihandle::idx1toindx index too large";
    IndexChunk* chunk = new IndexChunk{};
    chunk->data = block.data();
    chunk->block = block.release();
    AVISTDINDEXHEADER* header = chunk->header();
    header->wLongsPerEntry = 2;
    header->bIndexType = 1;  // AVI_INDEX_OF_CHUNKS
    header->qwBaseOffset = baseOffset;
    return chunk;
}

// A standard index chunk as stored, read straight into its own memory; entries the file does
// not hold are not counted.
IndexChunk* avihandle::loadChunk(const AVISUPERINDEXENTRY& entry)
{
    AVISTDINDEXHEADER header = {};
    mySeek64(hFile, (long long)entry.qwOffset, FILE_BEGIN);
    DWORD entries = 0;
    if (myRead(hFile, &header, sizeof header, nullptr, false) == (int)sizeof header) {
        ULONGLONG size = fileSize(), position = entry.qwOffset + sizeof header;
        ULONGLONG room = size > position ? (size - position) / sizeof(AVISTDINDEXENTRY) : 0;
        entries = header.nEntriesInUse < room ? header.nEntriesInUse : (DWORD)room;
    }
    mySeek64(hFile, (long long)entry.qwOffset, FILE_BEGIN);
    PageBlock block = PageBlock::Read(hFile, sizeof header + entries * sizeof(AVISTDINDEXENTRY));
    IndexChunk* chunk = new IndexChunk{};
    chunk->data = block.data();
    chunk->block = block.release();
    chunk->nEntries = entries;
    return chunk;
}

void avihandle::appendChunk(AVIstream* stream, IndexChunk* chunk)
{
    if (stream->pLastChunk)
        stream->pLastChunk->next = chunk;
    else
        stream->pChunks = chunk;
    stream->pLastChunk = chunk;
}

void avihandle::releaseChunks(AVIstream* stream)
{
    while (stream->pChunks) {
        IndexChunk* next = stream->pChunks->next;
        VirtualFree(stream->pChunks->block, 0, MEM_RELEASE);
        delete stream->pChunks;
        stream->pChunks = next;
    }
    stream->pLastChunk = nullptr;
}
