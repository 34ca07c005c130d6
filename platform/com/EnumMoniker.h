// The monikers of a category's devices, as they were when the enumerator was made.
#pragma once

#include "PropertyBag.h"
#include "platform/devices/DeviceRegistry.h"

class EnumMoniker final : public CUnknown, public IEnumMoniker {
public:
    EnumMoniker(std::vector<DeviceEntry> devices, size_t position = 0)
        : CUnknown("EnumMoniker", nullptr), m_Devices(std::move(devices)), m_Position(position)
    {
    }
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // S_OK when all `count` were handed out, S_FALSE when the list ended first.
    HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) override;
    HRESULT Skip(ULONG count) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumMoniker** copy) override;

private:
    const std::vector<DeviceEntry> m_Devices;
    size_t m_Position;
};
