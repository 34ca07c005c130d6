#include "DeviceMoniker.h"

namespace {

HRESULT WriteString(IPropertyBag* bag, LPCOLESTR name, LPCOLESTR text)
{
    VARIANT value;
    value.vt = VT_BSTR;
    if (!(value.bstrVal = SysAllocString(text)))
        return E_OUTOFMEMORY;
    const HRESULT hr = bag->Write(name, &value);
    VariantClear(&value);
    return hr;
}

}  // namespace

HRESULT DeviceMoniker::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IMoniker)
        return GetInterface(static_cast<IMoniker*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT DeviceMoniker::BindToObject(IBindCtx*, IMoniker*, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    HRESULT constructed = S_OK;
    CUnknown* filter = m_Device.create(nullptr, &constructed);
    return QueryNewObject(filter, constructed, iid, object);
}

HRESULT DeviceMoniker::BindToStorage(IBindCtx*, IMoniker*, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    PropertyBag* bag = new PropertyBag;
    // Held by a reference while it is filled, so that a failure frees it.
    IPropertyBag* filled = nullptr;
    HRESULT hr = QueryNewObject(bag, S_OK, IID_IPropertyBag, reinterpret_cast<void**>(&filled));
    if (FAILED(hr))
        return hr;
    WCHAR clsid[39];
    StringFromGUID2(m_Device.clsid, clsid, 39);
    if (SUCCEEDED(hr = WriteString(filled, L"FriendlyName", m_Device.friendlyName.c_str())) &&
        SUCCEEDED(hr = WriteString(filled, L"CLSID", clsid)))
        hr = filled->QueryInterface(iid, object);
    filled->Release();
    return hr;
}
