// The COM runtime: initialisation, in-process creation from the class table, task memory, BSTRs
// and VARIANTs.
#pragma once

#include "Unknown.h"
#include "platform/win32/CodePage.h"

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_ALL 0x17
#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_DISABLE_OLE1DDE 0x4

// Nothing to set up here: every thread may create objects. S_OK the first time on a thread,
// S_FALSE after that, as on Windows.
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD flags);
void CoUninitialize();

// Creates an object of the class table: REGDB_E_CLASSNOTREG for a class it does not hold,
// CLASS_E_NOAGGREGATION when an outer object asks for an interface other than IUnknown.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object);

// A class of the table: makes a new object (no reference yet) aggregated by `outer` (or null),
// with *result receiving a failure of its construction; null when it cannot be made.
typedef CUnknown* (*ClassFactoryFunction)(IUnknown* outer, HRESULT* result);

// Hands out a newly made object (no reference yet) through its interface `iid` when its construction
// succeeded; the object is freed when nothing holds it, so a failure frees it. A null object is a
// construction that failed: `constructed`, or E_OUTOFMEMORY when that reports no failure.
HRESULT QueryNewObject(CUnknown* object, HRESULT constructed, REFIID iid, void** out);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": the characters written with the terminator (39), 0 when
// `capacity` is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR text, int capacity);

void* CoTaskMemAlloc(size_t size);
void* CoTaskMemRealloc(void* memory, size_t size);
void CoTaskMemFree(void* memory);

// A counted wide string; the pointer is to its characters, the length sits before them.
typedef WCHAR* BSTR;
BSTR SysAllocString(LPCOLESTR text);
BSTR SysAllocStringLen(LPCOLESTR text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);

typedef uint16_t VARTYPE;
#define VT_EMPTY 0
#define VT_I4 3
#define VT_BSTR 8

constexpr HRESULT DISP_E_BADVARTYPE = HRESULT(0x80020008);
constexpr HRESULT DISP_E_TYPEMISMATCH = HRESULT(0x80020005);

struct VARIANT {
    VARTYPE vt;
    uint16_t wReserved1, wReserved2, wReserved3;
    union {
        LONG lVal;
        BSTR bstrVal;
        LONGLONG llVal;
    };
};
void VariantInit(VARIANT* value);
// Frees what the value holds (a BSTR) and leaves it empty.
HRESULT VariantClear(VARIANT* value);
// Makes `target` (cleared first) a copy of `source`, with a BSTR of its own. DISP_E_BADVARTYPE for a
// type other than VT_EMPTY, VT_I4 and VT_BSTR.
HRESULT VariantCopy(VARIANT* target, const VARIANT* source);
