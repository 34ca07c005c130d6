// A device's moniker, as the system device enumerator hands it out: its property bag and its filter.
#pragma once

#include "PropertyBag.h"
#include "platform/devices/DeviceRegistry.h"

class DeviceMoniker final : public CUnknown, public IMoniker {
public:
    // Keeps its own copy of the device, so that it still binds after the device is removed.
    explicit DeviceMoniker(DeviceEntry device) : CUnknown("DeviceMoniker", nullptr), m_Device(std::move(device)) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // A new filter made by the device's factory, through the interface asked for.
    HRESULT BindToObject(IBindCtx* context, IMoniker* left, REFIID iid, void** object) override;
    // A new property bag: "FriendlyName" and "CLSID" ("{...}"), both VT_BSTR.
    HRESULT BindToStorage(IBindCtx* context, IMoniker* left, REFIID iid, void** object) override;

private:
    const DeviceEntry m_Device;
};
