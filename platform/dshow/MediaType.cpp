#include "MediaType.h"

#include <cstdlib>
#include <cstring>

void FreeMediaType(AM_MEDIA_TYPE& type)
{
    if (type.cbFormat || type.pbFormat) {
        CoTaskMemFree(type.pbFormat);
        type.cbFormat = 0;
        type.pbFormat = nullptr;
    }
    SafeRelease(type.pUnk);
}

void DeleteMediaType(AM_MEDIA_TYPE* type)
{
    if (!type)
        return;
    FreeMediaType(*type);
    CoTaskMemFree(type);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source)
{
    *target = *source;
    if (source->cbFormat) {
        target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
        if (!target->pbFormat) {
            target->cbFormat = 0;
            return E_OUTOFMEMORY;
        }
        std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
    } else {
        target->pbFormat = nullptr;
    }
    if (target->pUnk)
        target->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source)
{
    auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (type && FAILED(CopyMediaType(type, source))) {
        CoTaskMemFree(type);
        return nullptr;
    }
    return type;
}

CMediaType::CMediaType() { InitMediaType(); }

CMediaType::CMediaType(const GUID* majorType)
{
    InitMediaType();
    majortype = *majorType;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& type, HRESULT* result)
{
    const HRESULT hr = CopyMediaType(this, &type);
    if (result)
        *result = hr;
}

CMediaType::CMediaType(const CMediaType& type, HRESULT* result) : CMediaType(static_cast<const AM_MEDIA_TYPE&>(type), result)
{
}

CMediaType::~CMediaType() { FreeMediaType(*this); }

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& type)
{
    Set(type);
    return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& type) { return *this = static_cast<const AM_MEDIA_TYPE&>(type); }

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& type)
{
    if (&type == this)
        return S_OK;
    FreeMediaType(*this);
    return CopyMediaType(this, &type);
}

bool CMediaType::operator==(const CMediaType& other) const
{
    return majortype == other.majortype && subtype == other.subtype && formattype == other.formattype &&
           cbFormat == other.cbFormat && (cbFormat == 0 || std::memcmp(pbFormat, other.pbFormat, cbFormat) == 0);
}

void CMediaType::SetSampleSize(ULONG size)
{
    if (size == 0) {
        SetVariableSize();
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = size;
    }
}

void CMediaType::SetVariableSize() { bFixedSizeSamples = FALSE; }

BYTE* CMediaType::AllocFormatBuffer(ULONG length) { return ReallocFormatBuffer(length); }

BYTE* CMediaType::ReallocFormatBuffer(ULONG length)
{
    if (cbFormat == length && pbFormat)
        return pbFormat;
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!block)
        return nullptr;
    if (pbFormat)
        std::memcpy(block, pbFormat, cbFormat < length ? cbFormat : length);
    CoTaskMemFree(pbFormat);
    pbFormat = block;
    cbFormat = length;
    return block;
}

BOOL CMediaType::SetFormat(const BYTE* format, ULONG length)
{
    if (!AllocFormatBuffer(length))
        return FALSE;
    std::memcpy(pbFormat, format, length);
    return TRUE;
}

void CMediaType::ResetFormatBuffer()
{
    CoTaskMemFree(pbFormat);
    cbFormat = 0;
    pbFormat = nullptr;
}

void CMediaType::InitMediaType()
{
    static_cast<AM_MEDIA_TYPE&>(*this) = AM_MEDIA_TYPE{};
    lSampleSize = 1;
    bFixedSizeSamples = TRUE;
}

BOOL CMediaType::MatchesPartial(const CMediaType* partial) const
{
    if (partial->majortype != GUID_NULL && partial->majortype != majortype)
        return FALSE;
    if (partial->subtype != GUID_NULL && partial->subtype != subtype)
        return FALSE;
    if (partial->formattype != GUID_NULL) {
        if (partial->formattype != formattype || partial->cbFormat != cbFormat)
            return FALSE;
        if (cbFormat && std::memcmp(pbFormat, partial->pbFormat, cbFormat) != 0)
            return FALSE;
    }
    return TRUE;
}

BOOL CMediaType::IsPartiallySpecified() const { return majortype == GUID_NULL || formattype == GUID_NULL; }

DWORD GetBitmapSize(const BITMAPINFOHEADER* header)
{
    const DWORD stride = ((DWORD(header->biWidth) * header->biBitCount + 31) / 32) * 4;
    return stride * DWORD(std::abs(header->biHeight));
}

GUID GetBitmapSubtype(const BITMAPINFOHEADER* header)
{
    if (header->biCompression != BI_RGB)
        return FourCCGuid(header->biCompression);
    switch (header->biBitCount) {
    case 24: return MEDIASUBTYPE_RGB24;
    case 32: return MEDIASUBTYPE_RGB32;
    default: return GUID_NULL;
    }
}
