// The file source ("File Source", CLSID_AsyncReader) and the ASF Reader (CLSID_WMAsfReader): after
// Load, one output pin per video and audio stream of the file, each with the stream's compressed
// type (see DemuxPin; PCM under libavcodec's subtype for it). The file source takes any file libavformat reads and names its pins
// "Video" and "Audio" (then "Video 2", ...); the ASF Reader takes ASF files only and names its pins
// "Raw Video n" / "Raw Audio n" by output index.
#pragma once

#include <string>

#include "platform/dshow/Source.h"

class DemuxSource final : public CSource, public IFileSourceFilter {
public:
    static CUnknown* CreateFileSource(IUnknown* outer, HRESULT* result);
    static CUnknown* CreateAsfReader(IUnknown* outer, HRESULT* result);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // Once only (E_UNEXPECTED after). HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) for a missing file,
    // VFW_E_UNKNOWN_FILE_TYPE for one that cannot be read (or is not ASF for the ASF Reader),
    // VFW_E_INVALID_FILE_FORMAT for one without audio or video. The media type is not used.
    HRESULT Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* type) override;
    // The name loaded (null before Load); the type, when asked for, is left empty.
    HRESULT GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type) override;

private:
    enum class Kind { File, Asf };
    DemuxSource(IUnknown* outer, Kind kind);
    std::wstring PinName(bool video, int output, int ofKind) const;

    const Kind m_Kind;
    std::wstring m_FileName;  // under the state lock
};
