// The File Writer's input pin "in" (MEDIATYPE_Stream): each sample's bytes go to the file at the
// offset its start time gives (times in bytes, not in 100 ns units).
#pragma once

#include "platform/dshow/BaseInputPin.h"

class FileWriter;

class FileWriterInputPin final : public CBaseInputPin {
public:
    FileWriterInputPin(FileWriter* writer, CCritSec* lock, HRESULT* result);

    HRESULT CheckMediaType(const CMediaType* type) override;
    // While the file is open samples are taken in every state: the graph stops the writer
    // before the multiplexer, which still has its headers and indexes to write as it stops.
    HRESULT CheckStreaming() override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    // A disconnected writer is done with its file.
    HRESULT BreakConnect() override;
    // A multiplexer that hands out samples of its own agrees no allocator: nothing to decommit.
    HRESULT Inactive() override;

private:
    FileWriter* const m_pWriter;
};
