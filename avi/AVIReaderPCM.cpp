// The AVI reader's stored PCM: sample frames read straight from the audio chunks that hold them.
#include "ombrix/AVIReader.h"

#include "avihandle.h"
#include "core/DebugOutput.h"
#include "core/FileIOWrapper.h"
#include "core/Truncate.h"


bool AVIReader::LoadPCMSamples(void* buffer, unsigned int start, unsigned int count)
{
    avihandle* avi = m_AviHandle;
    const AudioSampleInfo* table = avi->pAudioSamples;
    const DWORD chunks = avi->nAudioChunks;
    if (!table || chunks == 0 || avi->nAudioSamples == 0 || (unsigned long long)start + count > avi->nAudioSamples)
        return false;
    DWORD c;
    if (!avi->findAudioChunk(TruncateToDWORD((double)start / avi->nAudioSamples * chunks), start, &c))
        return false;
    const DWORD blockAlign = avi->pAudioFormat->nBlockAlign;
    const unsigned long long want = (unsigned long long)count * blockAlign;
    DWORD skip = (start - table[c].dwStart) * blockAlign;
    unsigned long long done = 0;
    for (; done < want; c++) {
        if (c >= chunks)
            return false;
        // Whole samples only: bytes past a chunk's last whole sample are not audio.
        ULONGLONG base;
        DWORD offset, size;
        avi->getframeoffset(c, avi->pAudioStream, &base, &offset, &size);
        size = table[c].dwSamples * blockAlign - skip;
        offset += skip;
        skip = 0;
        if (size > want - done)
            size = (DWORD)(want - done);
        mySeek64(avi->hFile, (long long)(base + offset), FILE_BEGIN);
        int got = myRead(avi->hFile, (unsigned char*)buffer + done, size, nullptr, false);
        if (got == -1)
            return false;
        if ((DWORD)got < size)
            DebugOutput("AVIReader::LoadAudioSamples warning:BytesTransferred<dwAudioSize\n");
        done += size;
    }
    return true;
}
