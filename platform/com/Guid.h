// GUIDs and HRESULTs, with their published values.
#pragma once

#include <cstring>

#include "platform/win32/Win32Types.h"

typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

constexpr bool operator==(const GUID& a, const GUID& b)
{
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i])
            return false;
    return true;
}
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }

namespace guid_detail {
constexpr uint32_t Hex(const char* text, int first, int count)
{
    uint32_t value = 0;
    for (int i = first; i < first + count; ++i) {
        const char c = text[i];
        value = value << 4 | uint32_t(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return value;
}
}  // namespace guid_detail

// A GUID from its registry form without braces: "E436EBB3-524F-11CE-9F53-0020AF0BA770".
constexpr GUID MakeGuid(const char (&text)[37])
{
    using guid_detail::Hex;
    GUID g{Hex(text, 0, 8), uint16_t(Hex(text, 9, 4)), uint16_t(Hex(text, 14, 4)), {}};
    g.Data4[0] = uint8_t(Hex(text, 19, 2));
    g.Data4[1] = uint8_t(Hex(text, 21, 2));
    for (int i = 0; i < 6; ++i)
        g.Data4[2 + i] = uint8_t(Hex(text, 24 + 2 * i, 2));
    return g;
}

// The media subtype (or audio format) GUID of a FOURCC or wave format tag.
constexpr GUID FourCCGuid(uint32_t fourcc)
{
    GUID g = MakeGuid("00000000-0000-0010-8000-00AA00389B71");
    g.Data1 = fourcc;
    return g;
}

inline constexpr GUID GUID_NULL{};

#define SUCCEEDED(hr) ((HRESULT)(hr) >= 0)
#define FAILED(hr) ((HRESULT)(hr) < 0)

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_UNEXPECTED = HRESULT(0x8000FFFF);
constexpr HRESULT E_NOTIMPL = HRESULT(0x80004001);
constexpr HRESULT E_NOINTERFACE = HRESULT(0x80004002);
constexpr HRESULT E_POINTER = HRESULT(0x80004003);
constexpr HRESULT E_ABORT = HRESULT(0x80004004);
constexpr HRESULT E_FAIL = HRESULT(0x80004005);
constexpr HRESULT E_INVALIDARG = HRESULT(0x80070057);
constexpr HRESULT E_OUTOFMEMORY = HRESULT(0x8007000E);
constexpr HRESULT CLASS_E_NOAGGREGATION = HRESULT(0x80040110);
constexpr HRESULT REGDB_E_CLASSNOTREG = HRESULT(0x80040154);
constexpr HRESULT CO_E_NOTINITIALIZED = HRESULT(0x800401F0);
constexpr HRESULT STG_E_FILENOTFOUND = HRESULT(0x80030002);
// The HRESULT of a Win32 error code.
constexpr HRESULT HRESULT_FROM_WIN32(DWORD error)
{
    return error == 0 ? S_OK : HRESULT((error & 0xFFFF) | 0x80070000u);
}
