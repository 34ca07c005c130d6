// Property bags, monikers and the system device enumerator's interface.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Com.h"

struct IErrorLog;
struct IBindCtx;

struct IPropertyBag : IUnknown {
    // E_INVALIDARG for a property the bag does not hold; the value's vt asks for a type (VT_EMPTY: any).
    virtual HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) = 0;
    virtual HRESULT Write(LPCOLESTR name, VARIANT* value) = 0;
};

// A device's moniker: its property bag ("FriendlyName", "CLSID") and the filter it makes.
struct IMoniker : IUnknown {
    // IID_IBaseFilter (or another interface of the filter): a new filter for the device.
    virtual HRESULT BindToObject(IBindCtx* context, IMoniker* left, REFIID iid, void** object) = 0;
    // IID_IPropertyBag: the device's properties.
    virtual HRESULT BindToStorage(IBindCtx* context, IMoniker* left, REFIID iid, void** object) = 0;
};

struct IEnumMoniker : IUnknown {
    virtual HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMoniker** copy) = 0;
};

#define CDEF_CLASS_DEFAULT 0x1
#define CDEF_BYPASS_CLASS_MANAGER 0x2
#define CDEF_MERIT_ABOVE_DO_NOT_USE 0x8
#define CDEF_DEVMON_CMGR_DEVICE 0x10
#define CDEF_DEVMON_DMO 0x20
#define CDEF_DEVMON_PNP_DEVICE 0x40
#define CDEF_DEVMON_FILTER 0x80

struct ICreateDevEnum : IUnknown {
    // S_FALSE with no enumerator when the category holds no device.
    virtual HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumerator, DWORD flags) = 0;
};

// A property bag of named values, kept in memory.
class PropertyBag final : public CUnknown, public IPropertyBag {
public:
    PropertyBag() : CUnknown("PropertyBag", nullptr) {}
    ~PropertyBag() override;
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // A copy of the stored value; a type asked for other than the stored one: DISP_E_TYPEMISMATCH.
    HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) override;
    // Stores a copy, replacing a value of the same name.
    HRESULT Write(LPCOLESTR name, VARIANT* value) override;

private:
    using Values = std::vector<std::pair<std::wstring, VARIANT>>;
    Values::iterator Find(LPCOLESTR name);  // under m_Lock

    std::mutex m_Lock;
    Values m_Values;
};
