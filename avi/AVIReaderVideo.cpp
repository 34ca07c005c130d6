// The AVI reader's video: frames by number, decoded from their key frame or from the last one
// decoded, with the chunks after them read ahead.
#include "ombrix/AVIReader.h"

#include "ReaderSupport.h"
#include "avihandle.h"
#include "core/DebugOutput.h"
#include "core/FileIOWrapper.h"
#include "core/Truncate.h"
#include "platform/vfw/Vfw.h"
#include "platform/win32/Sync.h"


unsigned char* AVIReader::LoadVideoFrame(long long frame, long long rate, long long scale, bool singleFrame)
{
    if (!VideoBlock(true))
        return nullptr;
    // Video and audio loads run under separate gates but share the file and its index.
    EnterCriticalSection(m_FileLock);
    const avihandle* avi = m_AviHandle;
    const unsigned int target =
        TruncateToDWORD(((double)scale * avi->dRate) / ((double)rate * avi->dScale) * (double)frame);
    unsigned char* result = DecodeFrame(target, singleFrame);
    LeaveCriticalSection(m_FileLock);
    if (!result)
        VideoUnBlock();
    return result;
}

// File frame target's image, with the video gate held; null on failure.
unsigned char* AVIReader::DecodeFrame(unsigned int target, bool singleFrame)
{
    avihandle* avi = m_AviHandle;
    if (!avi->hFile)
        return nullptr;
    if (!m_ReadBuffer[0]) {
        if (!AllocateVBuffers())
            return nullptr;
        m_LastVideoFrame = m_ReadFrame[0] = m_ReadFrame[1] = None;
    }

    unsigned int flags = 0;
    unsigned int restart = None;  // the key-frame entry that decoding restarted from
    const bool compressed = avi->videoFormat()->biCompression != BI_RGB;
    const auto follows = [&] { return m_LastVideoFrame != None && target == m_LastVideoFrame + 1; };
    if (!avi->pKeyFrames) {
        if (singleFrame)
            m_ReleaseAfterFrame = true;
    } else if (compressed && !follows() && (target != m_LastVideoFrame || singleFrame)) {
        // Decoding the last decoded frame again must start from its key frame too.
        restart = PreRoll(target, &flags);
    }

    if (target == m_LastVideoFrame && compressed && !singleFrame)
        return m_DecodeBuffer;
    if (compressed && follows() && RepeatsPrevious(target)) {
        m_LastVideoFrame = target;
        return m_DecodeBuffer;
    }

    // Double buffering: the requested frame is in one buffer when it was read ahead (or came with
    // the chunks before it), and the chunks after those held are read into the other while this
    // one is decoded and used.
    unsigned int size = 0;
    const unsigned int frames = avi->nFrames;
    const int use = HeldIn(target);
    if (use >= 0) {
        const unsigned int next = m_ReadEnd[use];
        if (singleFrame || next >= frames || HeldIn(next) >= 0 ||
            !ReadChunk(1 - use, next, frames - 1, true, false, &size))
            FinishReadAhead();
    } else {
        const bool ahead = !singleFrame && target + 1 < frames;
        if (!ReadChunk(0, target, ahead ? target + 1 : target, false, true, &size))
            return size == 0 ? RepeatBeforeEmpty(target, singleFrame) : nullptr;
        if (ahead && m_ReadEnd[0] == target + 1)
            ReadChunk(1, target + 1, target + 1, false, false, &size);
    }

    const unsigned char* data = Chunk(target, target, &size);
    if (!data)
        return nullptr;
    unsigned char* result = (unsigned char*)data;
    if (compressed) {
        DWORD answer = Decompress(data, size, flags);
        // A decoder that holds pictures back has none to give for the frames that open a group
        // when it restarted at the group's key frame: their pictures come from the group before.
        // It restarts one key frame earlier until it gives one, or reaches the first.
        while (answer == ICERR_DONTDRAW && restart != None && restart > 0) {
            restart--;
            flags = 0;
            if (!RestartDecoder())
                return nullptr;
            DecodeRun(avi->pKeyFrames[restart], target, &flags);
            if (!(data = Chunk(target, target, &size)))
                return nullptr;
            answer = Decompress(data, size, flags);
        }
        if (answer != ICERR_OK && answer != ICERR_DONTDRAW)
            return nullptr;
        result = m_DecodeBuffer;
    }
    m_LastVideoFrame = target;
    return result;
}

// An empty chunk shows the last frame before it that has data: the decoded image when decoding
// stands there already, else that frame decoded (it is not empty, so this goes one level deep).
unsigned char* AVIReader::RepeatBeforeEmpty(unsigned int target, bool singleFrame)
{
    avihandle* avi = m_AviHandle;
    unsigned int shown = target;
    ULONGLONG base;
    DWORD offset, size = 0;
    while (shown > 0 && size == 0)
        avi->getframeoffset(--shown, avi->pVideoStream, &base, &offset, &size);
    if (size == 0)
        return nullptr;
    const bool standsThere = m_LastVideoFrame != None && m_LastVideoFrame >= shown && m_LastVideoFrame < target;
    unsigned char* image = standsThere && m_DecodeBuffer ? m_DecodeBuffer : DecodeFrame(shown, singleFrame);
    if (image)
        m_LastVideoFrame = target;
    return image;
}

// Decodes forward to the frame before target, from the last decoded frame when that lies
// between target and its key frame, else from the key frame after a restart of the decoder.
// The key-frame entry restarted from; None when decoding continued or no key frame precedes.
unsigned int AVIReader::PreRoll(unsigned int target, unsigned int* flags)
{
    avihandle* avi = m_AviHandle;
    const DWORD* keys = avi->pKeyFrames;
    const DWORD count = avi->nKeyFrames;
    DWORD k = TruncateToDWORD((double)target / avi->nFrames * (count - 1));
    if (k > count - 1)
        k = count - 1;
    while (k + 1 < count && keys[k + 1] <= target)
        k++;
    while (k > 0 && keys[k] > target)
        k--;
    if (keys[k] > target) {
        DebugOutput("AVIReader::LoadVideoFrame KFCount>framenum\n");
        return None;
    }
    if (m_LastVideoFrame != None && m_LastVideoFrame > keys[k] && m_LastVideoFrame + 1 < target) {
        DecodeRun(m_LastVideoFrame + 1, target, flags);
        return None;
    }
    if (!RestartDecoder())
        return None;
    DecodeRun(keys[k], target, flags);
    return k;
}

// Drops what the decoder holds from earlier frames, so that a key frame starts afresh.
bool AVIReader::RestartDecoder()
{
    m_LastVideoFrame = None;
    return ICSendMessage(m_Decompressor, ICM_DECOMPRESS_BEGIN, (DWORD_PTR)m_AviHandle->pVideoFormat,
                         (DWORD_PTR)m_OutputFormat) == ICERR_OK;
}

// Decodes the frames [first, end) into the decode buffer through buffer A; stops at a frame
// that cannot be read or decoded.
void AVIReader::DecodeRun(unsigned int first, unsigned int end, unsigned int* flags)
{
    for (unsigned int f = first; f < end; f++) {
        if (m_LastVideoFrame == f - 1 && RepeatsPrevious(f)) {
            m_LastVideoFrame = f;
            continue;
        }
        unsigned int size;
        const unsigned char* data = Chunk(f, end, &size);
        if (!data) {
            if (size != 0)
                return;
            m_LastVideoFrame = f;  // an empty chunk repeats the frame before it
            continue;
        }
        // Only the run's last picture is drawn: it is the one the reader hands out next.
        const DWORD hurry = f + 1 < end ? ICDECOMPRESS_HURRYUP : 0;
        const DWORD answer = Decompress(data, size, *flags | hurry);
        if (answer != ICERR_OK && answer != ICERR_DONTDRAW)
            return;
        m_LastVideoFrame = f;
        *flags |= ICDECOMPRESS_NOTKEYFRAME;
    }
}

unsigned int AVIReader::Decompress(const unsigned char* data, unsigned int size, unsigned int flags)
{
    BITMAPINFOHEADER input = *m_AviHandle->videoFormat();
    input.biSizeImage = size;
    return ICDecompress(m_Decompressor, flags, &input, (void*)data, m_OutputFormat, m_DecodeBuffer);
}

// A frame dropped from an "idx1" index is given the chunk of the frame before it: it shows that
// frame's image and is not decoded again (a P-frame decoded twice corrupts the pictures after it).
bool AVIReader::RepeatsPrevious(unsigned int frame)
{
    avihandle* avi = m_AviHandle;
    if (frame == 0)
        return false;
    ULONGLONG base[2];
    DWORD offset[2], size[2];
    for (int i = 0; i < 2; i++)
        avi->getframeoffset(frame - 1 + i, avi->pVideoStream, &base[i], &offset[i], &size[i]);
    return base[0] + offset[0] == base[1] + offset[1];
}

// Reads frame's chunk into a read buffer, in the same read as the chunks of the frames after it
// up to last that follow it in the file and fit; ahead leaves the read running. A chunk larger
// than the buffers grows both where mayGrow (neither holds a frame still needed), and is not read
// otherwise. False, with size 0, for an empty chunk.
bool AVIReader::ReadChunk(int buffer, unsigned int frame, unsigned int last, bool ahead, bool mayGrow,
                          unsigned int* size)
{
    avihandle* avi = m_AviHandle;
    ULONGLONG base;
    DWORD offset;
    avi->getframeoffset(frame, avi->pVideoStream, &base, &offset, (DWORD*)size);
    if (*size == 0)
        return false;
    if (*size + 2 * FileIOWrapper::SectorSize > m_ReadBufferSize) {
        if (!mayGrow)
            return false;
        // A damaged index may claim more than the file holds: the buffers grow to what is there.
        const ULONGLONG fileEnd = avi->fileSize();
        if (base + offset >= fileEnd)
            return false;
        if (base + offset + *size > fileEnd)
            *size = (unsigned int)(fileEnd - base - offset);
        FinishReadAhead();
        for (unsigned char*& b : m_ReadBuffer)
            FreePages(b);
        m_ReadFrame[0] = m_ReadFrame[1] = None;
        m_ReadBufferSize = *size + 2 * FileIOWrapper::SectorSize;
        m_ReadBuffer[0] = AllocatePages(m_ReadBufferSize);
        m_ReadBuffer[1] = AllocatePages(m_ReadBufferSize);
        if (!m_ReadBuffer[0] || !m_ReadBuffer[1])
            return false;
    }
    const ULONGLONG start = base + offset;
    ULONGLONG end = start + *size;
    const unsigned int next = FollowingChunks(avi, avi->pVideoStream, frame, last, start, &end,
                                              m_ReadBufferSize - 2 * FileIOWrapper::SectorSize, ~0ull);
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

// The buffer whose last read brought frame's chunk; -1 when none did.
int AVIReader::HeldIn(unsigned int frame)
{
    for (int b = 0; b < 2; b++)
        if (m_ReadFrame[b] != None && frame >= m_ReadFrame[b] && frame < m_ReadEnd[b])
            return b;
    return -1;
}

// Frame's chunk, from the buffer that holds it once its read has finished, else read into
// buffer A with the chunks after it up to last; size is what of it the buffer holds. Null, with
// size 0, for an empty chunk.
const unsigned char* AVIReader::Chunk(unsigned int frame, unsigned int last, unsigned int* size)
{
    int b = HeldIn(frame);
    if (b >= 0 && b == m_ReadAhead)
        FinishReadAhead();
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
    if (*size > held)
        *size = (unsigned int)held;
    return m_ReadBuffer[b] + at;
}

void AVIReader::FinishReadAhead()
{
    if (m_AviHandle->hFile)
        myFinishRead(m_AviHandle->hFile);
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
    // Uncompressed frames are handed out in place, so a buffer holds a whole image too.
    const BITMAPINFOHEADER* format = avi->videoFormat();
    // The suggested size is only a hint (chunks past it grow the buffers), so a wild one is cut.
    DWORD capacity = avi->nVideoBufferSize < MaxImageBytes ? avi->nVideoBufferSize : (DWORD)MaxImageBytes;
    if (format->biSizeImage > capacity && format->biSizeImage <= MaxImageBytes)
        capacity = format->biSizeImage;
    // A host reads a whole image from a stored frame, whatever size the file claims for it.
    if (format->biCompression == BI_RGB && imageSize(format, format->biBitCount) > capacity)
        capacity = (DWORD)imageSize(format, format->biBitCount);
    // Room for the chunks of several compressed frames, which come in one read.
    if (capacity < VideoBatchBytes)
        capacity = VideoBatchBytes;
    m_ReadBufferSize = capacity + 2 * FileIOWrapper::SectorSize;
    m_ReadBuffer[0] = AllocatePages(m_ReadBufferSize);
    m_ReadBuffer[1] = AllocatePages(m_ReadBufferSize);
    bool ok = m_ReadBuffer[0] && m_ReadBuffer[1];
    if (ok && avi->videoFormat()->biCompression != BI_RGB) {
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
}
