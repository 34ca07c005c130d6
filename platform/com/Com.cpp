#include "Com.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "ClassTable.h"

namespace {

// CoInitialize calls on this thread not yet balanced by CoUninitialize.
thread_local unsigned initialised = 0;

// A BSTR's block: its length in characters, then the characters and a terminator.
struct BstrHeader {
    UINT length;
};
static_assert(sizeof(BstrHeader) % alignof(WCHAR) == 0);

BstrHeader* HeaderOf(BSTR text) { return reinterpret_cast<BstrHeader*>(text) - 1; }

}  // namespace

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(void*, DWORD) { return initialised++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize()
{
    if (initialised > 0)
        --initialised;
}

HRESULT QueryNewObject(CUnknown* object, HRESULT constructed, REFIID iid, void** out)
{
    if (!object)
        return FAILED(constructed) ? constructed : E_OUTOFMEMORY;
    // The reference held across the query keeps the object alive; releasing it frees the object
    // when the query handed out none.
    object->NonDelegatingAddRef();
    const HRESULT hr = SUCCEEDED(constructed) ? object->NonDelegatingQueryInterface(iid, out) : constructed;
    object->NonDelegatingRelease();
    return hr;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    // An aggregating object must hold the inner object by its own IUnknown.
    if (outer && iid != IID_IUnknown)
        return CLASS_E_NOAGGREGATION;
    const std::optional<ClassEntry> entry = FindClass(clsid);
    if (!entry)
        return REGDB_E_CLASSNOTREG;
    HRESULT constructed = S_OK;
    CUnknown* created = entry->create(outer, &constructed);
    return QueryNewObject(created, constructed, iid, object);
}

int StringFromGUID2(REFGUID guid, LPOLESTR text, int capacity)
{
    constexpr int size = 39;
    if (!text || capacity < size)
        return 0;
    char narrow[size];
    snprintf(narrow, sizeof narrow, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1, guid.Data2,
             guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
             guid.Data4[6], guid.Data4[7]);
    for (int i = 0; i < size; ++i)
        text[i] = WCHAR(narrow[i]);
    return size;
}

void* CoTaskMemAlloc(size_t size) { return malloc(size); }

void* CoTaskMemRealloc(void* memory, size_t size)
{
    // Size 0 frees the block; realloc leaves that case to the C library.
    if (size == 0) {
        free(memory);
        return nullptr;
    }
    return realloc(memory, size);
}

void CoTaskMemFree(void* memory) { free(memory); }

BSTR SysAllocString(LPCOLESTR text) { return text ? SysAllocStringLen(text, UINT(wcslen(text))) : nullptr; }

BSTR SysAllocStringLen(LPCOLESTR text, UINT length)
{
    auto* header = static_cast<BstrHeader*>(CoTaskMemAlloc(sizeof(BstrHeader) + (size_t(length) + 1) * sizeof(WCHAR)));
    if (!header)
        return nullptr;
    header->length = length;
    BSTR characters = reinterpret_cast<BSTR>(header + 1);
    // Without a source the characters are left for the caller to fill; they start as zeros here.
    if (text)
        wmemcpy(characters, text, length);
    else
        wmemset(characters, 0, length);
    characters[length] = 0;
    return characters;
}

void SysFreeString(BSTR text)
{
    if (text)
        CoTaskMemFree(HeaderOf(text));
}

UINT SysStringLen(BSTR text) { return text ? HeaderOf(text)->length : 0; }

void VariantInit(VARIANT* value)
{
    if (value)
        value->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* value)
{
    if (!value)
        return E_INVALIDARG;
    if (value->vt == VT_BSTR)
        SysFreeString(value->bstrVal);
    value->vt = VT_EMPTY;
    return S_OK;
}

HRESULT VariantCopy(VARIANT* target, const VARIANT* source)
{
    if (!target || !source)
        return E_INVALIDARG;
    if (source->vt != VT_EMPTY && source->vt != VT_I4 && source->vt != VT_BSTR)
        return DISP_E_BADVARTYPE;
    if (target == source)
        return S_OK;
    VARIANT copy = *source;
    if (source->vt == VT_BSTR && source->bstrVal &&
        !(copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal))))
        return E_OUTOFMEMORY;
    VariantClear(target);
    *target = copy;
    return S_OK;
}
