#include "PropertyBag.h"

#include <algorithm>

PropertyBag::~PropertyBag()
{
    for (auto& [name, value] : m_Values)
        VariantClear(&value);
}

HRESULT PropertyBag::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IPropertyBag)
        return GetInterface(static_cast<IPropertyBag*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

PropertyBag::Values::iterator PropertyBag::Find(LPCOLESTR name)
{
    return std::find_if(m_Values.begin(), m_Values.end(), [&](const auto& entry) { return entry.first == name; });
}

HRESULT PropertyBag::Read(LPCOLESTR name, VARIANT* value, IErrorLog*)
{
    if (!name || !value)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(m_Lock);
    auto found = Find(name);
    if (found == m_Values.end())
        return E_INVALIDARG;
    if (value->vt != VT_EMPTY && value->vt != found->second.vt)
        return DISP_E_TYPEMISMATCH;
    // The caller's value holds nothing yet: the copy goes in without clearing it.
    VariantInit(value);
    return VariantCopy(value, &found->second);
}

HRESULT PropertyBag::Write(LPCOLESTR name, VARIANT* value)
{
    if (!name || !value)
        return E_POINTER;
    VARIANT copy;
    VariantInit(&copy);
    if (HRESULT hr = VariantCopy(&copy, value); FAILED(hr))
        return hr;
    std::lock_guard<std::mutex> lock(m_Lock);
    auto found = Find(name);
    if (found == m_Values.end())
        m_Values.emplace_back(name, copy);
    else {
        VariantClear(&found->second);
        found->second = copy;
    }
    return S_OK;
}
