// The media detector (CLSID_MediaDet): the audio and video streams of a file, their types, lengths
// and frame rates, read by libavformat without a graph.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/dshow/Strmif.h"
#include "platform/ffmpeg/AvPointers.h"

class MediaDet final : public CUnknown, public IMediaDet {
public:
    explicit MediaDet(IUnknown* outer) : CUnknown("MediaDet", outer) {}
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // Opens the file, closing the one before; stream 0 becomes current. A file that does not exist:
    // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND); one without audio or video that libavformat reads:
    // VFW_E_INVALID_FILE_FORMAT.
    HRESULT put_Filename(BSTR fileName) override;
    // S_OK with null before any file.
    HRESULT get_Filename(BSTR* fileName) override;
    // The audio and video streams, in file order; E_INVALIDARG before a file.
    HRESULT get_OutputStreams(LONG* count) override;
    HRESULT get_CurrentStream(LONG* stream) override;
    HRESULT put_CurrentStream(LONG stream) override;
    // MEDIATYPE_Video or MEDIATYPE_Audio.
    HRESULT get_StreamType(GUID* type) override;
    // In seconds.
    HRESULT get_StreamLength(double* seconds) override;
    // VFW_E_INVALIDMEDIATYPE for audio; S_FALSE (and 0) when the file gives no rate.
    HRESULT get_FrameRate(double* rate) override;

    // Not used by the library.
    HRESULT get_Filter(IUnknown** filter) override;
    HRESULT put_Filter(IUnknown* filter) override;
    HRESULT get_StreamTypeB(BSTR* type) override;
    HRESULT GetBitmapBits(double time, LONG* size, char* buffer, LONG width, LONG height) override;
    HRESULT WriteBitmapBits(double time, LONG width, LONG height, BSTR fileName) override;
    HRESULT get_StreamMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT GetSampleGrabber(IUnknown** grabber) override;
    HRESULT EnterBitmapGrabMode(double seconds) override;

private:
    const AVStream* Current() const;  // null when there is none; under m_Lock
    // E_POINTER without out, E_INVALIDARG without a current stream, else answer(stream), under m_Lock.
    template <class Out, class Answer>
    HRESULT AboutCurrent(Out* out, Answer answer);
    static HRESULT FrameRate(const AVStream& stream, double* rate);

    std::mutex m_Lock;
    std::wstring m_FileName;
    AvFormatContextPtr m_File;  // null before a file is opened
    std::vector<const AVStream*> m_Streams;  // audio and video, in file order
    LONG m_Current = -1;
};
