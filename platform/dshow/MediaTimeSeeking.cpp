#include "MediaTimeSeeking.h"

namespace {

bool IsMediaTime(const GUID* format) { return *format == TIME_FORMAT_MEDIA_TIME; }

}  // namespace

HRESULT CMediaTimeSeeking::IsFormatSupported(const GUID* format)
{
    if (!format)
        return E_POINTER;
    return IsMediaTime(format) ? S_OK : S_FALSE;
}

HRESULT CMediaTimeSeeking::QueryPreferredFormat(GUID* format) { return GetTimeFormat(format); }

HRESULT CMediaTimeSeeking::GetTimeFormat(GUID* format)
{
    if (!format)
        return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT CMediaTimeSeeking::IsUsingTimeFormat(const GUID* format) { return IsFormatSupported(format); }

HRESULT CMediaTimeSeeking::SetTimeFormat(const GUID* format)
{
    if (!format)
        return E_POINTER;
    return IsMediaTime(format) ? S_OK : E_INVALIDARG;
}

HRESULT CMediaTimeSeeking::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                             const GUID* sourceFormat)
{
    if (!target)
        return E_POINTER;
    if ((targetFormat && !IsMediaTime(targetFormat)) || (sourceFormat && !IsMediaTime(sourceFormat)))
        return E_INVALIDARG;
    *target = source;
    return S_OK;
}
