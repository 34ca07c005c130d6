// An output pin of a CSource with its own streaming thread: the thread takes a buffer, has the
// derived class fill it and delivers it downstream, until told to stop or the stream ends.
#pragma once

#include "AMThread.h"
#include "BaseOutputPin.h"
#include "Source.h"

class CSourceStream : public CAMThread, public CBaseOutputPin {
public:
    // Registers the pin with the filter; *result receives that outcome.
    CSourceStream(const char* name, HRESULT* result, CSource* filter, LPCWSTR pinName);
    ~CSourceStream() override;

    // "1", "2", ... by the pin's position.
    HRESULT QueryId(LPWSTR* id) override;

    // Only position 0, through the single-type form; VFW_S_NO_MORE_ITEMS past it.
    HRESULT GetMediaType(int position, CMediaType* type) override;
    // The one type this pin proposes; E_UNEXPECTED unless overridden.
    virtual HRESULT GetMediaType(CMediaType* type);
    // Exactly the type GetMediaType proposes, format bytes included; E_FAIL otherwise.
    HRESULT CheckMediaType(const CMediaType* type) override;

    // Commits the allocator, starts the thread and sets it streaming; no thread when unconnected.
    HRESULT Active() override;
    // Decommits first (a thread waiting for a buffer wakes), then stops the thread and waits for it.
    HRESULT Inactive() override;

    enum Command : DWORD { CMD_INIT, CMD_PAUSE, CMD_RUN, CMD_STOP, CMD_EXIT };
    HRESULT Init() { return HRESULT(CallWorker(CMD_INIT)); }
    HRESULT Exit() { return HRESULT(CallWorker(CMD_EXIT)); }
    HRESULT Run() { return HRESULT(CallWorker(CMD_RUN)); }
    HRESULT Pause() { return HRESULT(CallWorker(CMD_PAUSE)); }
    HRESULT Stop() { return HRESULT(CallWorker(CMD_STOP)); }
    using CBasePin::Run;

protected:
    // On the streaming thread. Fills a sample: S_OK delivers it, S_FALSE ends the stream with an
    // end of stream downstream, an error also reports EC_ERRORABORT. Must not take the state lock:
    // Active and Inactive hold it while they wait for the thread.
    virtual HRESULT FillBuffer(IMediaSample* sample) = 0;
    virtual HRESULT OnThreadCreate() { return S_OK; }
    virtual HRESULT OnThreadDestroy() { return S_OK; }
    // Each time streaming starts or restarts (after a seek): where a new segment is announced.
    virtual HRESULT OnThreadStartPlay() { return S_OK; }

    DWORD ThreadProc() override;
    virtual HRESULT DoBufferProcessingLoop();

    CSource* const m_pSourceFilter;
};
