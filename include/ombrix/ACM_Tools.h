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
    unsigned long long CountFrames(HACMSTREAM stream);
    unsigned long long FindStreamFrames();
    bool FindStreamFrame(unsigned long long j, unsigned long long* start, unsigned int* length);
    unsigned int ReadStream(unsigned long long at, unsigned int count, unsigned char* destination);
    bool SizeBuffers(unsigned int size);
    bool Position(unsigned int start, unsigned int* chunk, unsigned int* offset, unsigned long long* drop);
    bool FillSource(unsigned int* used);

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
    unsigned char m_Layout;               // how the stream counts its PCM: blocks, chunks or a byte stream
    unsigned int m_FrameSamples;          // PCM frames of one block, chunk or codec frame
    unsigned int m_NextOffset;            // where in the next chunk the next fill begins
    unsigned long long m_StreamOrigin;    // a byte stream's first frame,
    unsigned long long m_FrameMean;       // its frames' mean length times the sample rate,
    unsigned int m_FrameKind;             // and the kind of frame it holds
};
