// The devices that the system device enumerator lists, by category: the platform's compressors,
// installed when the registry is first used, and the DV devices a host registers. Each makes its
// filter through a factory of its own, so one filter class can serve several devices with different
// settings.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/Com.h"

// Makes a device's filter (no reference yet), as a ClassFactoryFunction does.
using DeviceFactory = std::function<CUnknown*(IUnknown* outer, HRESULT* result)>;

struct DeviceEntry {
    std::wstring friendlyName;
    CLSID clsid;  // the filter's class
    DeviceFactory create;
};

class DeviceRegistry {
public:
    static DeviceRegistry& Instance();

    // Appends a device to CLSID_VideoCompressorCategory, CLSID_AudioCompressorCategory or
    // CLSID_VideoInputDeviceCategory. E_INVALIDARG for another category, an empty name, no factory,
    // or a name the category already holds.
    HRESULT Add(REFCLSID category, DeviceEntry device);
    // False when the category holds no device of that name.
    bool Remove(REFCLSID category, const std::wstring& friendlyName);
    // The category's devices in the order they were added; none for an unknown category.
    std::vector<DeviceEntry> Devices(REFCLSID category) const;

private:
    DeviceRegistry();

    struct Listed {
        CLSID category;
        std::vector<DeviceEntry> devices;
    };
    mutable std::mutex m_Lock;
    std::vector<Listed> m_Categories;
};
