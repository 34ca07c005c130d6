// The system device enumerator (CLSID_SystemDeviceEnum): the device registry's categories as
// moniker enumerators.
#pragma once

#include "PropertyBag.h"

class SystemDeviceEnum final : public CUnknown, public ICreateDevEnum {
public:
    explicit SystemDeviceEnum(IUnknown* outer) : CUnknown("SystemDeviceEnum", outer) {}
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // The flags choose nothing: every device of the category is listed. S_FALSE and no enumerator
    // for a category without devices or unknown.
    HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumerator, DWORD flags) override;
};
