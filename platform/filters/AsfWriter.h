// The ASF Writer (CLSID_WMAsfWriter): writes what its video and audio inputs receive into the
// file named by IFileSinkFilter::SetFileName, as Windows Media Video 8 and Windows Media Audio 2
// in ASF. Video comes as the push sources' frames (UYVY, YUY2, RGB24, RGB32), audio as 16-bit PCM,
// mono or stereo; an input left unconnected has no stream. Bit rates are its settings.
//
// The file is made, and the encoders opened, as the filter leaves Stopped. Once every connected
// input has ended the file is finished and EC_COMPLETE sent (it counts as a renderer); a write
// that fails sends EC_ERRORABORT and refuses what follows. Stopping finishes a file not yet done.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AsfFile.h"
#include "AsfWriterInputPin.h"
#include "FileSinkName.h"
#include "platform/com/FilterSettings.h"
#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/MediaType.h"

class AsfWriter final : public CBaseFilter,
                        public IFileSinkFilter,
                        public IAMFilterMiscFlags,
                        public IFilterSettings,
                        public ISpecifyPropertyPages {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);
    ~AsfWriter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_Video : n == 1 ? &m_Audio : nullptr; }
    // From Stopped: makes the file; fails with no name, no input connected, or a file that cannot
    // be made.
    HRESULT Pause() override;
    // An end that came while paused is reported now.
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT Stop() override;

    // As the File Writer's: a name whose folder is missing, or that cannot be written, is refused.
    HRESULT SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE* type) override;
    HRESULT GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type) override;
    ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    std::vector<Ombrix_Setting> GetSettings() override;
    HRESULT PutSettings(const std::vector<Ombrix_Setting>& settings) override;
    HRESULT GetPages(CAUUID* pages) override { return GetSettingsPages(pages); }

    // From the pins.
    bool Accepts(bool video, const CMediaType& type) const;
    HRESULT Receive(bool video, IMediaSample* sample);
    HRESULT EndOfStream(bool video);

private:
    explicit AsfWriter(IUnknown* outer);
    std::unique_ptr<PictureEncoder> OpenVideo(const CMediaType& type) const;
    std::unique_ptr<AudioEncoder> OpenAudio(const CMediaType& type) const;
    // Under the file lock: the file is given up, and the graph told.
    HRESULT Fail();
    // Under both locks: finishes the file; its status.
    HRESULT FinishFile();

    CCritSec m_Lock;
    AsfWriterInputPin m_Video, m_Audio;
    FileSinkName m_FileName;  // under the filter lock
    mutable std::mutex m_SettingsLock;
    std::vector<int> m_Values;  // video, then audio bit rate

    std::mutex m_FileLock;  // the file, against the streaming threads
    std::unique_ptr<AsfFile> m_File;
    size_t m_FrameBytes = 0;
    int m_BlockAlign = 0;
    bool m_bVideoEnded = false, m_bAudioEnded = false;
    bool m_bEndOfStream = false;  // every input ended, the file finished
    HRESULT m_Status = S_OK;      // the finished file's
};
