#include "DeviceRegistry.h"

#include <algorithm>

#include "platform/filters/Compressors.h"

DeviceRegistry& DeviceRegistry::Instance()
{
    static DeviceRegistry registry;
    return registry;
}

DeviceRegistry::DeviceRegistry()
    : m_Categories{{CLSID_VideoCompressorCategory, {}},
                   {CLSID_AudioCompressorCategory, {}},
                   {CLSID_VideoInputDeviceCategory, {}}}
{
    for (auto& [category, device] : InstalledCompressors())
        for (Listed& listed : m_Categories)
            if (listed.category == category)
                listed.devices.push_back(std::move(device));
}

namespace {

// The device list of a category in the registry's categories (const or not); null when unknown.
template <class Categories>
auto* DevicesOf(Categories& categories, REFCLSID category)
{
    auto found = std::find_if(categories.begin(), categories.end(),
                              [&](const auto& listed) { return listed.category == category; });
    return found == categories.end() ? nullptr : &found->devices;
}

}  // namespace

HRESULT DeviceRegistry::Add(REFCLSID category, DeviceEntry device)
{
    if (device.friendlyName.empty() || !device.create)
        return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_Lock);
    std::vector<DeviceEntry>* devices = DevicesOf(m_Categories, category);
    if (!devices || std::any_of(devices->begin(), devices->end(), [&](const DeviceEntry& d) {
            return d.friendlyName == device.friendlyName;
        }))
        return E_INVALIDARG;
    devices->push_back(std::move(device));
    return S_OK;
}

bool DeviceRegistry::Remove(REFCLSID category, const std::wstring& friendlyName)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    std::vector<DeviceEntry>* devices = DevicesOf(m_Categories, category);
    return devices && std::erase_if(*devices, [&](const DeviceEntry& d) { return d.friendlyName == friendlyName; }) > 0;
}

std::vector<DeviceEntry> DeviceRegistry::Devices(REFCLSID category) const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    const std::vector<DeviceEntry>* devices = DevicesOf(m_Categories, category);
    return devices ? *devices : std::vector<DeviceEntry>{};
}
