// A media type that owns its format block: copies are deep, comparison looks at the format bytes.
#pragma once

#include "Strmif.h"

class CMediaType : public AM_MEDIA_TYPE {
public:
    // Fixed-size samples of one byte, nothing else set.
    CMediaType();
    explicit CMediaType(const GUID* majorType);
    CMediaType(const AM_MEDIA_TYPE& type, HRESULT* result = nullptr);
    CMediaType(const CMediaType& type, HRESULT* result = nullptr);
    ~CMediaType();

    CMediaType& operator=(const AM_MEDIA_TYPE& type);
    CMediaType& operator=(const CMediaType& type);
    // Same major type, subtype, format type and format bytes.
    bool operator==(const CMediaType& other) const;
    bool operator!=(const CMediaType& other) const { return !(*this == other); }

    // Deep copy; E_OUTOFMEMORY leaves this type without a format.
    HRESULT Set(const AM_MEDIA_TYPE& type);
    BOOL IsValid() const { return majortype != GUID_NULL; }

    const GUID* Type() const { return &majortype; }
    void SetType(const GUID* type) { majortype = *type; }
    const GUID* Subtype() const { return &subtype; }
    void SetSubtype(const GUID* type) { subtype = *type; }
    const GUID* FormatType() const { return &formattype; }
    void SetFormatType(const GUID* type) { formattype = *type; }

    BOOL IsFixedSize() const { return bFixedSizeSamples; }
    BOOL IsTemporalCompressed() const { return bTemporalCompression; }
    ULONG GetSampleSize() const { return bFixedSizeSamples ? lSampleSize : 0; }
    void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }
    // A size of 0 makes the samples variable in size.
    void SetSampleSize(ULONG size);
    void SetVariableSize();

    BYTE* Format() const { return pbFormat; }
    ULONG FormatLength() const { return cbFormat; }
    // A format block of `length` bytes, null when out of memory.
    BYTE* AllocFormatBuffer(ULONG length);
    // Grows or shrinks the block, keeping what fits; null when out of memory.
    BYTE* ReallocFormatBuffer(ULONG length);
    // Copies `length` bytes into a new format block; FALSE when out of memory.
    BOOL SetFormat(const BYTE* format, ULONG length);
    void ResetFormatBuffer();
    void InitMediaType();

    // Whether this type fits a partial one: each GUID of `partial` that is not GUID_NULL must be
    // equal, and when it has a format type, the format bytes too.
    BOOL MatchesPartial(const CMediaType* partial) const;
    // A type without a major type or without a format type leaves a choice open.
    BOOL IsPartiallySpecified() const;
};
