// Compressed AVI audio decoded to PCM and served by sample frame number.
#pragma once

#include "OmbrixTypes.h"

class avihandle;

class OMBRIX_API ACM_Tools {
public:
    explicit ACM_Tools(avihandle* parser);
    ACM_Tools& operator=(const ACM_Tools& other);

    // Whether the stream is compressed and can be decoded; builds the PCM format and the totals.
    bool ACM_QueryAudioCompression();
    bool ACM_Open();
    void ACM_Close();
    // count sample frames from frame start, in the destination PCM format; flag has no effect.
    bool LoadAudioSamples(void* destination, unsigned int start, unsigned int count, bool flag);
    // True when the reader must take its audio from here.
    bool PerformAudioCompression();
    unsigned int GetDestTotalAudioSamples();

private:
    double blockFrames();
    bool position(unsigned int start, unsigned int* chunk, unsigned long long* drop);
    bool fillSource(unsigned int* used);

    avihandle* m_Parser;
    unsigned int m_SourceRate;
    WAVEFORMATEX m_DestinationFormat;
    HACMSTREAM m_Stream;
    unsigned char* m_SourceBuffer;
    unsigned int m_SourceBufferSize;
    unsigned char* m_DestinationBuffer;
    unsigned int m_DestinationBufferSize;
    unsigned int m_Total;
    ACMSTREAMHEADER m_Header;
    unsigned int m_LastStart;
    unsigned int m_LastCount;
    unsigned int m_NextChunk;
    unsigned int m_Leftover;
    bool m_Usable;
};
