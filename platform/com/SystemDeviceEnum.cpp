#include "SystemDeviceEnum.h"

#include "EnumMoniker.h"

CUnknown* SystemDeviceEnum::CreateInstance(IUnknown* outer, HRESULT*) { return new SystemDeviceEnum(outer); }

HRESULT SystemDeviceEnum::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_ICreateDevEnum)
        return GetInterface(static_cast<ICreateDevEnum*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT SystemDeviceEnum::CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumerator, DWORD)
{
    if (!enumerator)
        return E_POINTER;
    *enumerator = nullptr;
    std::vector<DeviceEntry> devices = DeviceRegistry::Instance().Devices(category);
    if (devices.empty())
        return S_FALSE;
    return QueryNewObject(new EnumMoniker(std::move(devices)), S_OK, IID_IEnumMoniker,
                          reinterpret_cast<void**>(enumerator));
}
