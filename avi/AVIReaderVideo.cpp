// The AVI reader's video: frames by number in display order, decoded from their key frame or
// from where decoding stands, with the chunks after them read ahead.
//
// Frame n of a compressed stream is the n-th picture its decoder shows. A decoder that holds D
// pictures back (B-frames) shows frame n's picture after the D chunks that follow n's own have
// gone in, or, at the end of the stream, as it gives up the pictures it still holds. A chunk that
// repeats the one before it (empty, or a frame dropped from the index) shows that frame again and
// is not decoded.
#include "ombrix/AVIReader.h"

#include "ReaderSupport.h"
#include "avihandle.h"
#include "core/DebugOutput.h"
#include "core/FileIOWrapper.h"
#include "core/ScopeExit.h"
#include "core/Truncate.h"
#include "platform/vfw/Vfw.h"
#include "platform/win32/Sync.h"

unsigned char* AVIReader::LoadVideoFrame(long long frame, long long rate, long long scale, bool singleFrame)
{
    if (!VideoBlock(true))
        return nullptr;
    unsigned char* result = nullptr;
    // The gate stays held only for a frame handed out; a message thrown from below frees it too.
    const ScopeExit unblock([&] {
        if (!result)
            VideoUnBlock();
    });
    if (frame < 0 || rate <= 0 || scale <= 0)
        return nullptr;
    // Video and audio loads run under separate gates but share the file and its index.
    EnterCriticalSection(m_FileLock);
    const ScopeExit leave([&] { LeaveCriticalSection(m_FileLock); });
    const avihandle* avi = m_AviHandle;
    const unsigned int target =
        TruncateToDWORD(((double)scale * avi->dRate) / ((double)rate * avi->dScale) * (double)frame);
    result = DecodeFrame(target, singleFrame);
    return result;
}

// File frame target's image (past the last frame: the last frame's); null on failure.
unsigned char* AVIReader::DecodeFrame(unsigned int target, bool singleFrame)
{
    avihandle* avi = m_AviHandle;
    // Past the index's last entry every frame shows the same picture, however many the header claims.
    const unsigned int frames = avi->hFile ? avi->indexedframes() : 0;
    if (frames == 0)
        return nullptr;
    if (target >= frames)
        target = frames - 1;
    if (!m_ReadBuffer[0]) {
        if (!AllocateVBuffers())
            return nullptr;
        m_LastVideoFrame = m_ReadFrame[0] = m_ReadFrame[1] = m_DecodedChunk = None;
    }
    if (singleFrame && !avi->haskeyframes())
        m_ReleaseAfterFrame = true;

    unsigned int shown = target;
    while (shown > 0 && RepeatsPrevious(shown))
        shown--;
    const bool compressed = avi->videoFormat()->biCompression != BI_RGB;
    unsigned char* image;
    const bool shownAlready = m_LastVideoFrame != None && m_LastVideoFrame >= shown && m_LastVideoFrame <= target;
    if (compressed && !singleFrame && shownAlready)
        image = m_DecodeBuffer;
    else if (ChunkSize(shown) == 0)
        image = nullptr;  // nothing before it to show
    else
        image = compressed ? DecodeTo(shown, singleFrame) : StoredFrame(shown, singleFrame);
    if (image)
        m_LastVideoFrame = target;
    return image;
}

// A stored frame, handed out in place. The frame is in one buffer when it was read ahead (or came
// with the chunks before it); the chunks after those held are read into the other while the host
// uses it.
unsigned char* AVIReader::StoredFrame(unsigned int n, bool singleFrame)
{
    const unsigned int frames = m_AviHandle->nFrames;
    unsigned int size = 0;
    const int use = HeldIn(n);
    if (use >= 0) {
        const unsigned int next = m_ReadEnd[use];
        if (singleFrame || next >= frames || HeldIn(next) >= 0 ||
            !ReadChunk(1 - use, next, frames - 1, true, false, &size))
            FinishReadAhead();
    } else {
        // A jump: what was being read ahead is not wanted. The frame after this one is read in
        // the background, so that a host jumping on does not wait for it.
        CancelReadAhead();
        if (!ReadChunk(0, n, n, false, true, &size))
            return nullptr;
        if (!singleFrame && n + 1 < frames && !ReadChunk(1, n + 1, n + 1, true, false, &size))
            FinishReadAhead();
    }
    return (unsigned char*)Chunk(n, n, &size);
}

// A compressed frame: decoding goes on from where it stands when that lies between the frame's
// key frame and the frame, else starts again at the key frame. Without key frames in the index
// a frame is decoded from its own chunk, or from where decoding stands when that lies before it.
unsigned char* AVIReader::DecodeTo(unsigned int n, bool singleFrame)
{
    avihandle* avi = m_AviHandle;
    DWORD key = 0;
    const bool keyed = avi->findkeyframe(n, &key);
    if (!keyed && avi->haskeyframes())
        DebugOutput("AVIReader::LoadVideoFrame KFCount>framenum\n");
    bool restarted = false;
    for (;;) {
        unsigned int from = None;  // go on from where decoding stands
        if (keyed && (singleFrame || restarted || !CanContinue(n, key))) {
            if (!RestartDecoder())
                return nullptr;
            from = key;
            restarted = true;
        } else if (!keyed && !CanContinue(n, 0)) {
            m_DecodedChunk = None;
            from = n;
        }
        const DWORD answer = Advance(from, n);
        if (answer == ICERR_OK)
            break;
        if (answer != ICERR_DONTDRAW)
            return nullptr;
        // No picture: decoding went on from a state that does not lead to it, or the frame is shown
        // before its group's key frame and leans on the group before. Start at the key frame, then
        // one key frame earlier; past that the decoder's last picture (or black) stands.
        if (!keyed || (restarted && (key == 0 || !avi->findkeyframe(key - 1, &key))))
            break;
    }
    if (!singleFrame)
        ReadAheadAfter(m_DecodedChunk);
    return m_DecodeBuffer;
}

// Where decoding must stand for frame n's picture to be the last one out: the chunk D feedable
// chunks after n's own, or the stream's last chunk and the pictures still to drain after it.
void AVIReader::TargetOf(unsigned int n, unsigned int* chunk, unsigned int* drains)
{
    *chunk = n;
    *drains = 0;
    for (unsigned int i = 0; i < m_Delay; i++) {
        const unsigned int next = NextFed(*chunk);
        if (next == None) {
            *drains = m_Delay - i;
            return;
        }
        *chunk = next;
    }
}

// Whether going on from where decoding stands reaches frame n's picture without passing it, and
// without decoding more than starting again at key would.
bool AVIReader::CanContinue(unsigned int n, unsigned int key)
{
    if (m_DecodedChunk == None || m_DecodedChunk < key)
        return false;
    unsigned int chunk, drains;
    TargetOf(n, &chunk, &drains);
    return m_DecodedChunk < chunk || (m_DecodedChunk == chunk && m_Drained < drains);
}

// Feeds chunks (from `from`, or after the last one fed when it is None) and drains pictures held
// at the end, until frame n's picture is out; all but the last are decoded without being drawn.
// The decoder's answer to the last step.
unsigned int AVIReader::Advance(unsigned int from, unsigned int n)
{
    DWORD flags = m_DecodedChunk == None ? 0 : ICDECOMPRESS_NOTKEYFRAME;
    DWORD answer = ICERR_DONTDRAW;
    for (;;) {
        unsigned int chunk, drains;
        TargetOf(n, &chunk, &drains);
        if (m_DecodedChunk != None && (m_DecodedChunk > chunk || (m_DecodedChunk == chunk && m_Drained >= drains)))
            return answer;
        const unsigned int next = m_DecodedChunk == None ? from : m_Drained ? None : NextFed(m_DecodedChunk);
        const bool last = next == None ? m_Drained + 1 >= drains : next == chunk && drains == 0;
        const DWORD hurry = last ? 0 : ICDECOMPRESS_HURRYUP;
        if (next == None) {
            answer = Decompress(nullptr, 0, flags | hurry);
            m_Drained++;
        } else {
            unsigned int size;
            const unsigned char* data = Chunk(next, chunk, &size);
            if (!data) {
                m_DecodedChunk = None;
                return ICERR_ERROR;
            }
            answer = Decompress(data, size, flags | hurry);
            m_DecodedChunk = next;
            m_Drained = 0;
        }
        if (answer != ICERR_OK && answer != ICERR_DONTDRAW) {
            m_DecodedChunk = None;
            return answer;
        }
        const LRESULT delay = ICSendMessage(m_Decompressor, ICM_DECOMPRESS_GET_DELAY, 0, 0);
        m_Delay = delay > 0 ? (unsigned int)delay : 0;
        flags |= ICDECOMPRESS_NOTKEYFRAME;
    }
}

// Drops what the decoder holds from earlier frames, so that a key frame starts afresh.
bool AVIReader::RestartDecoder()
{
    m_LastVideoFrame = m_DecodedChunk = None;
    m_Drained = 0;
    return ICSendMessage(m_Decompressor, ICM_DECOMPRESS_BEGIN, (DWORD_PTR)m_AviHandle->pVideoFormat,
                         (DWORD_PTR)m_OutputFormat) == ICERR_OK;
}

// A chunk of `size` bytes at data; an empty one drains a picture held at the end of the stream.
unsigned int AVIReader::Decompress(const unsigned char* data, unsigned int size, unsigned int flags)
{
    BITMAPINFOHEADER input = *m_AviHandle->videoFormat();
    input.biSizeImage = size;
    return ICDecompress(m_Decompressor, flags, &input, (void*)data, m_OutputFormat, m_DecodeBuffer);
}

unsigned int AVIReader::ChunkSize(unsigned int frame)
{
    ULONGLONG base;
    DWORD offset, size;
    m_AviHandle->getframeoffset(frame, m_AviHandle->pVideoStream, &base, &offset, &size);
    return size;
}

// An empty chunk, or a frame dropped from an "idx1" index (given the chunk of the frame before
// it), shows the frame before it and is not decoded: a P-frame decoded twice corrupts the
// pictures after it.
bool AVIReader::RepeatsPrevious(unsigned int frame)
{
    avihandle* avi = m_AviHandle;
    ULONGLONG base[2];
    DWORD offset[2], size[2];
    avi->getframeoffset(frame, avi->pVideoStream, &base[1], &offset[1], &size[1]);
    if (size[1] == 0)
        return true;
    if (frame == 0)
        return false;
    avi->getframeoffset(frame - 1, avi->pVideoStream, &base[0], &offset[0], &size[0]);
    return base[0] + offset[0] == base[1] + offset[1];
}

// The first frame after `frame` whose chunk goes to the decoder; None past the last.
unsigned int AVIReader::NextFed(unsigned int frame)
{
    const unsigned int frames = m_AviHandle->indexedframes();
    for (unsigned int next = frame + 1; next < frames; next++)
        if (!RepeatsPrevious(next))
            return next;
    return None;
}

// Starts reading the chunks after `frame` into the buffer that does not hold frame's, unless a
// buffer holds them already.
void AVIReader::ReadAheadAfter(unsigned int frame)
{
    const unsigned int next = frame == None ? None : NextFed(frame);
    if (next == None || HeldIn(next) >= 0)
        return;
    unsigned int size;
    if (!ReadChunk(HeldIn(frame) == 0 ? 1 : 0, next, m_AviHandle->nFrames - 1, true, false, &size))
        FinishReadAhead();
}

// Reads frame's chunk into a read buffer, in the same read as the chunks of the frames after it
// up to last that follow it in the file and fit; ahead leaves the read running. A chunk is read
// as far as the file holds it; one larger than the buffers grows both where mayGrow (neither
// holds a frame still needed), and is not read otherwise. False, with size 0, for an empty chunk
// or one past the end of the file.
bool AVIReader::ReadChunk(int buffer, unsigned int frame, unsigned int last, bool ahead, bool mayGrow,
                          unsigned int* size)
{
    avihandle* avi = m_AviHandle;
    ULONGLONG base;
    DWORD offset;
    avi->getframeoffset(frame, avi->pVideoStream, &base, &offset, (DWORD*)size);
    // A damaged index may claim more than the file holds: a read brings what is there.
    *size = BytesInFile(avi, base + offset, *size);
    if (*size == 0)
        return false;
    if (*size + 2 * FileIOWrapper::SectorSize > m_ReadBufferSize &&
        (!mayGrow || !GrowReadBuffers(*size + 2 * FileIOWrapper::SectorSize)))
        return false;
    const ULONGLONG start = base + offset;
    ULONGLONG end = start + *size;
    const unsigned int next = FollowingChunks(avi, avi->pVideoStream, frame, last, start, &end,
                                              m_ReadBufferSize - 2 * FileIOWrapper::SectorSize, ~0ull, m_HeldBytes);
    mySeek64(avi->hFile, (long long)start, FILE_BEGIN);
    unsigned int skip = 0;
    if (myRead(avi->hFile, m_ReadBuffer[buffer], (unsigned long)(end - start), &skip, ahead) < 0)
        return false;
    m_ReadOffset[buffer] = skip;
    m_ReadFrame[buffer] = frame;
    m_ReadEnd[buffer] = next;
    m_ReadAhead = ahead ? buffer : -1;  // a read waits for the one before it
    return true;
}

// Both read buffers, anew, of `size` bytes. When that fails every video buffer is released, so
// that the next frame starts from freshly allocated ones.
bool AVIReader::GrowReadBuffers(unsigned int size)
{
    FinishReadAhead();
    for (unsigned char*& b : m_ReadBuffer)
        FreePages(b);
    m_ReadFrame[0] = m_ReadFrame[1] = None;
    m_ReadBuffer[0] = AllocatePages(size);
    m_ReadBuffer[1] = AllocatePages(size);
    m_ReadBufferSize = size;
    if (m_ReadBuffer[0] && m_ReadBuffer[1])
        return true;
    ReleaseVBuffers();
    return false;
}

// The buffer whose last read brought frame's chunk; -1 when none did.
int AVIReader::HeldIn(unsigned int frame)
{
    for (int b = 0; b < 2; b++)
        if (m_ReadFrame[b] != None && frame >= m_ReadFrame[b] && frame < m_ReadEnd[b])
            return b;
    return -1;
}

// Frame's chunk, from the buffer that holds it once its read has finished, else read into
// buffer A with the chunks after it up to last; size is what of it the file and the buffer hold.
// Null, with size 0, for an empty chunk or one past the end of the file.
const unsigned char* AVIReader::Chunk(unsigned int frame, unsigned int last, unsigned int* size)
{
    int b = HeldIn(frame);
    if (b >= 0 && b == m_ReadAhead) {
        FinishReadAhead();
        b = HeldIn(frame);
    }
    if (b < 0) {
        if (!ReadChunk(0, frame, last, false, true, size))
            return nullptr;
        b = 0;
    }
    avihandle* avi = m_AviHandle;
    ULONGLONG base, firstBase;
    DWORD offset, firstOffset, firstSize;
    avi->getframeoffset(frame, avi->pVideoStream, &base, &offset, (DWORD*)size);
    avi->getframeoffset(m_ReadFrame[b], avi->pVideoStream, &firstBase, &firstOffset, &firstSize);
    const ULONGLONG at = m_ReadOffset[b] + (base + offset) - (firstBase + firstOffset);
    const ULONGLONG held = at < m_ReadBufferSize ? m_ReadBufferSize - at : 0;
    // Bytes past the end of the file were never read: a damaged index may claim them.
    *size = BytesInFile(avi, base + offset, *size);
    if (*size > held)
        *size = (unsigned int)held;
    return *size ? m_ReadBuffer[b] + at : nullptr;
}

// Drops the read left running; its buffer holds nothing.
void AVIReader::CancelReadAhead()
{
    if (m_ReadAhead >= 0 && m_AviHandle->hFile) {
        myCancelRead(m_AviHandle->hFile);
        m_ReadFrame[m_ReadAhead] = None;
    }
    m_ReadAhead = -1;
}

// Waits for the read left running; a buffer whose read failed holds nothing.
void AVIReader::FinishReadAhead()
{
    if (m_ReadAhead >= 0 && m_AviHandle->hFile && myFinishRead(m_AviHandle->hFile) < 0)
        m_ReadFrame[m_ReadAhead] = None;
    m_ReadAhead = -1;
}

void AVIReader::ReleaseVideoFrame(unsigned char* frame)
{
    if (!frame)
        return;
    if (m_ReleaseAfterFrame) {
        DebugOutput("AVIReader::ReleaseVideoFrame releasing video buffer frame (Aud=%d) %s\n", m_NoAudio ? 0 : 1,
                    m_FileName);
        EnterCriticalSection(m_FileLock);
        ReleaseVBuffers();
        LeaveCriticalSection(m_FileLock);
    }
    m_ReleaseAfterFrame = false;
    VideoUnBlock();
}

bool AVIReader::AllocateVBuffers()
{
    avihandle* avi = m_AviHandle;
    if (!avi)
        return false;
    const BITMAPINFOHEADER* format = avi->videoFormat();
    // The suggested size is only a hint (chunks past it grow the buffers), so a wild one is cut.
    DWORD capacity = avi->nVideoBufferSize < MaxImageBytes ? avi->nVideoBufferSize : (DWORD)MaxImageBytes;
    if (format->biSizeImage > capacity && format->biSizeImage <= MaxImageBytes)
        capacity = format->biSizeImage;
    // A stored frame is handed out in place: the host reads a whole image from where its chunk
    // begins, whatever size the file claims for it, so every chunk a read brings has that much
    // room after it.
    m_HeldBytes = format->biCompression == BI_RGB ? (DWORD)imageSize(format, format->biBitCount) : 0;
    if (m_HeldBytes > capacity)
        capacity = m_HeldBytes;
    // Room for the chunks of several compressed frames, which come in one read.
    if (capacity < VideoBatchBytes)
        capacity = VideoBatchBytes;
    m_ReadBufferSize = capacity + 2 * FileIOWrapper::SectorSize;
    m_ReadBuffer[0] = AllocatePages(m_ReadBufferSize);
    m_ReadBuffer[1] = AllocatePages(m_ReadBufferSize);
    bool ok = m_ReadBuffer[0] && m_ReadBuffer[1];
    if (ok && format->biCompression != BI_RGB) {
        m_DecodeBuffer = AllocatePages(m_OutputFormat->biSizeImage);
        ok = m_DecodeBuffer != nullptr;
    }
    if (!ok)
        ReleaseVBuffers();
    return ok;
}

void AVIReader::ReleaseVBuffers()
{
    FinishReadAhead();
    FreePages(m_ReadBuffer[0]);
    FreePages(m_ReadBuffer[1]);
    FreePages(m_DecodeBuffer);
    m_ReadBufferSize = 0;
    m_ReadFrame[0] = m_ReadFrame[1] = m_LastVideoFrame = m_DecodedChunk = None;
}
