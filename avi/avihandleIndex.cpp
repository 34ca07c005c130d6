// The chunk index of avihandle: every stream as a list of standard index chunks, built from
// "idx1" once, loaded from OpenDML super indexes a chunk at a time, or rebuilt from the chunks of
// the movi lists when the file has no usable index; and the key frames of the video stream.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "MoviScanner.h"
#include "avihandle.h"
#include "core/DebugOutput.h"
#include "core/FileIOWrapper.h"
#include "platform/vfw/KeyFrames.h"
#include "platform/win32/Memory.h"

namespace {

// "idx1" stream numbers are the chunk id's first two characters, in decimal.
constexpr DWORD MaxIdx1Streams = 100;

// The most entries one index chunk holds: its block stays far inside 32 bits.
constexpr ULONGLONG MaxChunkEntries = 1u << 26;

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
    // A type-1 DV file's audio is in its DV frames; another audio stream does not replace it.
    if ((stream->fccType == FCC("auds") && !bDVType1) || stream->fccType == FCC("iavs"))
        pAudioStream = stream;
    *out = stream;
}

// Every stream gets room for all the entries present, whatever the main header claims, so no
// entry is dropped; untouched room costs no memory. Entry offsets are made relative to
// qwMoviBase whether the file stored them relative to the "movi" list or as absolute offsets.
// The frame count and the key frames are the served video stream's (stream 0's in a file
// without video).
void avihandle::idx1toindx(const char* chunk, DWORD size)
{
    const AVIINDEXENTRY* entries = (const AVIINDEXENTRY*)chunk;
    const DWORD count = size / sizeof(AVIINDEXENTRY);
    const DWORD streams = pMainHeader->dwStreams < MaxIdx1Streams ? pMainHeader->dwStreams : MaxIdx1Streams;
    nFrames = pMainHeader->dwTotalFrames;

    IndexChunk* chunks[MaxIdx1Streams];
    avistreamlist* header = pFirstHeader;
    int video = 0;
    for (DWORD s = 0; s < streams; s++) {
        AVIstream* stream;
        addstream(&stream, header);
        if (stream == pVideoStream)
            video = (int)s;
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
        if (s == video && (e.dwFlags & AVIIF_KEYFRAME))
            pKeyFrames[nKeyFrames++] = c->nEntries;
        c->entries()[c->nEntries++] = last[s];
    }
    for (DWORD s = 0; s < streams; s++)
        chunks[s]->header()->nEntriesInUse = chunks[s]->nEntries;
    nFrames = streams ? chunks[video]->nEntries : 0;
    if (nKeyFrames == 0)
        pKeyFrames = nullptr;
    else
        keyFrames.release();
}

// Loads the next standard index chunk of every stream that has one left. The video stream's
// key frames are gathered from each of its chunks the first time it loads.
bool avihandle::getcindex()
{
    if (!pStreams || !hFile)
        return false;
    bool loaded = false;
    for (AVIstream* stream = pStreams; stream; stream = stream->next) {
        if (stream->currententry >= stream->nEntriesInUse)
            continue;
        AVISUPERINDEXENTRY* entry = stream->pNextEntry ? stream->pNextEntry : stream->pSuperIndex;
        IndexChunk* chunk = loadChunk(*entry);
        appendChunk(stream, chunk);
        if (stream == pVideoStream && stream->currententry == keyChunksGathered)
            gatherKeyFrames(chunk);
        stream->pNextEntry = entry + 1;
        stream->currententry++;
        loaded = true;
    }
    if (!loaded)
        throw "avihandle::getcindex currententry>nEntriesInUse";
    return true;
}

// An entry is a key frame when its delta-frame bit is clear; an empty one (a dropped frame) is none.
void avihandle::gatherKeyFrames(IndexChunk* chunk)
{
    const AVISTDINDEXENTRY* entries = chunk->entries();
    for (DWORD i = 0; i < chunk->nEntries; i++)
        if (!(entries[i].dwSize & AVI_INDEX_DELTAFRAME) && entries[i].dwSize != 0)
            openDmlKeyFrames.push_back(framesGathered + i);
    framesGathered += chunk->nEntries;
    keyChunksGathered++;
}

DWORD avihandle::indexedframes()
{
    AVIstream* stream = pVideoStream;
    if (!stream)
        return 0;
    if (nIndexedFrames != 0xFFFFFFFFu)
        return nIndexedFrames;
    while (stream->currententry < stream->nEntriesInUse && getcindex())
        ;
    ULONGLONG entries = 0;
    for (const IndexChunk* chunk = stream->pChunks; chunk; chunk = chunk->next)
        entries += chunk->nEntries;
    const DWORD count = entries < nFrames ? (DWORD)entries : nFrames;
    // Chunks a closed file could not load leave the count unknown.
    if (stream->currententry >= stream->nEntriesInUse)
        nIndexedFrames = count;
    return count;
}

bool avihandle::findkeyframe(DWORD frame, DWORD* key)
{
    const DWORD* keys = pKeyFrames;
    size_t count = pKeyFrames ? nKeyFrames : 0;
    if (!bIdx1Index) {
        AVIstream* video = pVideoStream;
        while (video && hFile && framesGathered <= frame && video->currententry < video->nEntriesInUse)
            getcindex();
        keys = openDmlKeyFrames.data();
        count = openDmlKeyFrames.size();
    }
    const DWORD* after = std::upper_bound(keys, keys + count, frame);
    if (after == keys)
        return false;
    *key = after[-1];
    return true;
}

// The chunk and position of a stream's entry number, loading index chunks as far as needed while
// the file is open; a number past the stream's last entry gives that entry. False when the stream
// has no entry at all.
bool avihandle::locateEntry(DWORD number, AVIstream* stream, IndexChunk** found, DWORD* position)
{
    if (!stream)
        return false;
    IndexChunk* chunk = stream->pChunks;
    IndexChunk* lastFilled = nullptr;
    for (;;) {
        if (!chunk) {
            if (stream->currententry >= stream->nEntriesInUse || !hFile) {
                if (!lastFilled)
                    return false;
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
    *found = chunk;
    *position = number;
    return true;
}

DWORD avihandle::getframeoffset(DWORD number, AVIstream* stream, ULONGLONG* base, DWORD* offset, DWORD* size)
{
    IndexChunk* chunk;
    DWORD position;
    if (!locateEntry(number, stream, &chunk, &position))
        throw "avihandle::getframeoffset getcindex() failed";
    const AVISTDINDEXENTRY& entry = chunk->entries()[position];
    *base = chunk->header()->qwBaseOffset;
    *offset = entry.dwOffset;
    *size = entry.dwSize & ~AVI_INDEX_DELTAFRAME;
    return position;
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

// A file without a usable index (no "idx1", one cut short, OpenDML indexes that do not reach all
// of the data) is indexed from its movi lists. An OpenDML file has as many frames as the served
// video stream's index chunks hold ("dmlh" counts the first video stream's, and a capture that
// stopped never wrote it); where they do not say, "dmlh" tells.
void avihandle::chooseIndex()
{
    if (bIdx1Index)
        return;
    if (!pStreams || !openDmlUsable()) {
        rebuildIndex();
        return;
    }
    if (!pVideoStream)
        return;
    ULONGLONG frames = 0;
    for (DWORD i = 0; i < pVideoStream->nEntriesInUse; i++)
        frames += pVideoStream->pSuperIndex[i].dwDuration;
    if (frames)
        nFrames = (DWORD)std::min<ULONGLONG>(frames, 0xFFFFFFFFu);
}

// OpenDML indexes serve when every standard index chunk they name lies inside the file and every
// movi list with data holds one of them. A partial copy names chunks past its end; a capture
// stopped early has movi data that no index chunk was written for.
bool avihandle::openDmlUsable()
{
    const ULONGLONG fileEnd = fileSize();
    bool named = false;
    for (AVIstream* s = pStreams; s; s = s->next)
        for (DWORD i = 0; i < s->nEntriesInUse; i++) {
            const AVISUPERINDEXENTRY& e = s->pSuperIndex[i];
            const ULONGLONG size = std::max<ULONGLONG>(e.dwSize, sizeof(AVISTDINDEXHEADER));
            if (e.qwOffset > fileEnd || size > fileEnd - e.qwOffset)
                return false;
            named = true;
        }
    for (const auto& [start, end] : moviLists) {
        if (end < start + 8)
            continue;
        bool holds = false;
        for (AVIstream* s = pStreams; s && !holds; s = s->next)
            for (DWORD i = 0; i < s->nEntriesInUse && !holds; i++)
                holds = s->pSuperIndex[i].qwOffset >= start && s->pSuperIndex[i].qwOffset < end;
        if (!holds)
            return false;
    }
    return named;
}

// The index of a file without a usable one, from one pass over the chunk headers of every movi
// list: one stream per stream header, numbered as in "idx1". Only whole chunks count. The served
// video stream's key frames are the chunks whose codec data shows one.
void avihandle::rebuildIndex()
{
    DebugOutput("avihandle::rebuildIndex No usable index: indexing the movi lists\n");
    releaseStreams();
    std::vector<AVIstream*> streams;
    for (avistreamlist* h = pFirstHeader; h && streams.size() < MaxIdx1Streams; h = h->next)
        addstream(&streams.emplace_back(), h);
    const size_t video = std::find(streams.begin(), streams.end(), pVideoStream) - streams.begin();
    bIdx1Index = true;
    bRebuilt = true;

    KeyFrames keys(videoFormat(), nVideoFormatSize);
    std::vector<std::vector<ChunkEntry>> entries(streams.size());
    std::vector<DWORD> keyFrames;
    MoviScanner scanner(hFile, fileSize());
    for (const auto& [start, end] : moviLists) {
        MoviChunk c;
        for (ULONGLONG at = start; scanner.Next(&at, end, &c);) {
            const int s = idx1Stream(c.id, (DWORD)streams.size());
            if (s < 0)
                continue;
            std::vector<ChunkEntry>& list = entries[s];
            ChunkEntry entry = {c.at, c.size};
            if (c.size == 0) {
                // A dropped frame shows the frame before it; elsewhere an empty chunk holds nothing.
                const FOURCC type = streams[s]->fccType;
                if (type != FCC("vids") && type != FCC("iavs"))
                    continue;
                if (!list.empty())
                    entry = list.back();
            }
            if ((size_t)s == video) {
                const DWORD head = std::min(c.size, keys.HeadBytes());
                const unsigned char* bytes = head ? scanner.Bytes(c.at, head) : nullptr;
                if (c.size != 0 && (bytes || !head) && keys.IsKey(bytes, c.size))
                    keyFrames.push_back((DWORD)list.size());
                else
                    entry.size |= AVI_INDEX_DELTAFRAME;
            }
            list.push_back(entry);
        }
    }
    for (size_t s = 0; s < streams.size(); s++)
        appendEntries(streams[s], entries[s]);
    const size_t counted = video < streams.size() ? video : 0;
    nFrames = counted < entries.size() ? (DWORD)entries[counted].size() : 0;
    if (!keyFrames.empty()) {
        PageBlock table(DWORD(keyFrames.size() * sizeof(DWORD)));
        if (!table.data())
            throw "avihandle::rebuildIndex index too large";
        memcpy(table.data(), keyFrames.data(), keyFrames.size() * sizeof(DWORD));
        pKeyFrames = (DWORD*)table.release();
        nKeyFrames = (DWORD)keyFrames.size();
    }
}

// Entries in file order become standard index chunks; a new chunk starts where an offset from
// the chunk's base would not fit 32 bits.
void avihandle::appendEntries(AVIstream* stream, const std::vector<ChunkEntry>& entries)
{
    for (size_t first = 0, last; first < entries.size(); first = last) {
        const ULONGLONG base = entries[first].at;
        for (last = first + 1; last < entries.size() && last - first < MaxChunkEntries; last++)
            if (entries[last].at < base || entries[last].at - base > 0xFFFFFFFFu)
                break;
        IndexChunk* chunk = newChunk(DWORD(last - first), base);
        for (size_t i = first; i < last; i++)
            chunk->entries()[i - first] = {DWORD(entries[i].at - base), entries[i].size};
        chunk->nEntries = chunk->header()->nEntriesInUse = DWORD(last - first);
        appendChunk(stream, chunk);
    }
}

void avihandle::releaseStreams()
{
    while (pStreams) {
        AVIstream* next = pStreams->next;
        releaseChunks(pStreams);
        delete[] pStreams->pSuperIndex;
        delete pStreams;
        pStreams = next;
    }
    pLastStream = pVideoStream = pAudioStream = nullptr;
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

// A standard index chunk as stored, read straight into its own memory. Entries are counted as
// far as the file, the chunk's own size and a 32-bit block size reach: a damaged count claims more.
IndexChunk* avihandle::loadChunk(const AVISUPERINDEXENTRY& entry)
{
    AVISTDINDEXHEADER header = {};
    mySeek64(hFile, (long long)entry.qwOffset, FILE_BEGIN);
    ULONGLONG entries = 0;
    if (myRead(hFile, &header, sizeof header, nullptr, false) == (int)sizeof header) {
        const ULONGLONG fileEnd = fileSize(), first = entry.qwOffset + sizeof header;
        const DWORD fields = sizeof header - 8;  // what cb counts before the entries
        const ULONGLONG room = fileEnd > first ? (fileEnd - first) / sizeof(AVISTDINDEXENTRY) : 0;
        entries = std::min<ULONGLONG>(header.nEntriesInUse, room);
        if (header.cb >= fields)
            entries = std::min<ULONGLONG>(entries, (header.cb - fields) / sizeof(AVISTDINDEXENTRY));
        entries = std::min<ULONGLONG>(entries, MaxChunkEntries);
    }
    mySeek64(hFile, (long long)entry.qwOffset, FILE_BEGIN);
    PageBlock block = PageBlock::Read(hFile, DWORD(sizeof header + entries * sizeof(AVISTDINDEXENTRY)));
    if (!block.data()) {  // no memory for that many: none are counted
        entries = 0;
        mySeek64(hFile, (long long)entry.qwOffset, FILE_BEGIN);
        block = PageBlock::Read(hFile, sizeof header);
    }
    IndexChunk* chunk = new IndexChunk{};
    chunk->data = block.data();
    chunk->block = block.release();
    chunk->nEntries = chunk->data ? (DWORD)entries : 0;
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
