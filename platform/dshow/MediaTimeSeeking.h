// The time-format side of IMediaSeeking for an object that seeks in media time only.
#pragma once

#include "Strmif.h"

class CMediaTimeSeeking : public IMediaSeeking {
public:
    HRESULT IsFormatSupported(const GUID* format) override;
    HRESULT QueryPreferredFormat(GUID* format) override;
    HRESULT GetTimeFormat(GUID* format) override;
    HRESULT IsUsingTimeFormat(const GUID* format) override;
    HRESULT SetTimeFormat(const GUID* format) override;
    // Only from media time to media time (a null format is the one in use).
    HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                              const GUID* sourceFormat) override;

protected:
    ~CMediaTimeSeeking() = default;
};
