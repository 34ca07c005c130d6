// Seeking for a filter that does not own the time line: every IMediaSeeking call goes to the
// output pin connected to our input pin, hop by hop up to the pin that owns the time stamps.
#pragma once

#include "CritSec.h"
#include "Strmif.h"

class CPosPassThru : public CUnknown, public IMediaSeeking {
public:
    // Aggregated by `outer` (the filter or pin that answers for it); `pin` is the input pin whose
    // peer gets the calls. E_NOTIMPL when it is not connected or its peer cannot seek.
    CPosPassThru(const char* name, IUnknown* outer, HRESULT* result, IPin* pin);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT GetCapabilities(DWORD* capabilities) override;
    HRESULT CheckCapabilities(DWORD* capabilities) override;
    HRESULT IsFormatSupported(const GUID* format) override;
    HRESULT QueryPreferredFormat(GUID* format) override;
    HRESULT GetTimeFormat(GUID* format) override;
    HRESULT IsUsingTimeFormat(const GUID* format) override;
    HRESULT SetTimeFormat(const GUID* format) override;
    HRESULT GetDuration(LONGLONG* duration) override;
    HRESULT GetStopPosition(LONGLONG* stop) override;
    // The time of the data that reached us when we know it, otherwise upstream's answer.
    HRESULT GetCurrentPosition(LONGLONG* current) override;
    HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                              const GUID* sourceFormat) override;
    HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
    HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
    HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
    HRESULT SetRate(double rate) override;
    HRESULT GetRate(double* rate) override;
    HRESULT GetPreroll(LONGLONG* preroll) override;

protected:
    // The stream times of the data that reached us; E_FAIL when unknown.
    virtual HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) { return E_FAIL; }

private:
    template <class Call>
    HRESULT Forward(Call call);

    IPin* const m_pPin;  // not counted: it belongs to the same filter
};

// A renderer's pass-through, which also knows the times of the last sample received.
class CRendererPosPassThru : public CPosPassThru {
public:
    CRendererPosPassThru(const char* name, IUnknown* outer, HRESULT* result, IPin* pin);

    HRESULT RegisterMediaTime(IMediaSample* sample);
    HRESULT ResetMediaTime();
    // At the end of the stream the position is the stop position.
    HRESULT EOS();

protected:
    HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) override;

private:
    CCritSec m_PositionLock;
    LONGLONG m_StartMedia = 0;
    LONGLONG m_EndMedia = 0;
    bool m_bReset = true;
};
