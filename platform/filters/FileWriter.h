// The File Writer (CLSID_FileWriter): writes the bytes its input pin receives into the file named
// by IFileSinkFilter::SetFileName, each sample at the byte offset its times give, on a thread of
// the file's own (QueuedFile). It counts as a renderer (IAMFilterMiscFlags): end of stream sends
// EC_COMPLETE once everything is written, with the first write failure as its status.
//
// The file is created, or emptied, as the filter leaves Stopped, and stays open after Stop until
// the filter is given another name, disconnected or destroyed, so that an upstream multiplexer can
// finish it as the graph stops.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "FileSinkName.h"
#include "FileWriterInputPin.h"
#include "QueuedFile.h"
#include "platform/dshow/MediaType.h"

class FileWriter final : public CBaseFilter, public IFileSinkFilter, public IAMFilterMiscFlags {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);
    ~FileWriter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_Pin : nullptr; }
    // From Stopped: creates or empties the file; a failure (no name, a file that cannot be made)
    // fails the pause.
    HRESULT Pause() override;
    // End of stream that came while paused is reported now.
    HRESULT Run(REFERENCE_TIME start) override;

    // HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) when the name's folder does not exist,
    // (ERROR_ACCESS_DENIED) when the name is a folder's or the file cannot be written there. A file
    // open under the name before is closed. Only while stopped (VFW_E_NOT_STOPPED).
    HRESULT SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE* type) override;
    // The name set (null before any), and the type given with it.
    HRESULT GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type) override;
    ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    // From the pin.
    bool IsOpen();
    // Queues the sample for the file; a failure of an earlier write once there was one.
    HRESULT Write(IMediaSample* sample);
    HRESULT EndOfStream();
    // Once what is queued is written.
    void CloseFile();

private:
    explicit FileWriter(IUnknown* outer);
    // Once what is queued is written: the first write failure, or S_OK.
    HRESULT Drain();

    CCritSec m_Lock;
    FileWriterInputPin m_Pin;
    FileSinkName m_FileName;  // under the filter lock
    bool m_bEndOfStream = false;  // under the filter lock

    std::mutex m_FileLock;  // the file, against writes on streaming threads
    std::unique_ptr<QueuedFile> m_File;
};
