// A compressor for the writer's tests, installed in the video compressor category under a name:
// it takes only the video formats it is told (by subtype and row order), passes each frame on as
// it came (or, given a DV frame size, gives DV frames of nothing but zeros), can carry one setting
// that the settings frame shows, and can refuse to run.
#pragma once

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/FilterSettings.h"
#include "platform/devices/DeviceRegistry.h"
#include "platform/dshow/Streams.h"

struct Taken {
    GUID subtype;
    bool bottomUp;
};

class TestCompressor : public CTransformFilter, public IFilterSettings, public ISpecifyPropertyPages {
public:
    TestCompressor(std::vector<Taken> taken, bool settings, bool refusesToRun = false, ULONG dvFrame = 0)
        : CTransformFilter("TestCompressor", nullptr, GUID_NULL), m_Taken(std::move(taken)), m_bSettings(settings),
          m_bRefusesToRun(refusesToRun), m_DvFrame(dvFrame)
    {
    }
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override
    {
        if (m_bSettings && iid == IID_IFilterSettings)
            return GetInterface(static_cast<IFilterSettings*>(this), object);
        if (m_bSettings && iid == IID_ISpecifyPropertyPages)
            return GetInterface(static_cast<ISpecifyPropertyPages*>(this), object);
        return CTransformFilter::NonDelegatingQueryInterface(iid, object);
    }

    HRESULT CheckInputType(const CMediaType* type) override
    {
        if (type->formattype != FORMAT_VideoInfo || type->cbFormat < sizeof(VIDEOINFOHEADER))
            return E_FAIL;
        const bool bottomUp = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader.biHeight > 0;
        for (const Taken& t : m_Taken)
            if (type->subtype == t.subtype && bottomUp == t.bottomUp)
                return S_OK;
        return E_FAIL;
    }
    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override
    {
        return (m_DvFrame ? out->subtype == MEDIASUBTYPE_dvsd : *in == *out) ? S_OK : E_FAIL;
    }
    HRESULT GetMediaType(int position, CMediaType* type) override
    {
        if (position != 0)
            return VFW_S_NO_MORE_ITEMS;
        if (!InputPin()->IsConnected())
            return E_UNEXPECTED;
        type->Set(InputPin()->CurrentMediaType());
        if (m_DvFrame) {
            auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type->Format());
            info->bmiHeader.biCompression = FCC("dvsd");
            info->bmiHeader.biSizeImage = m_DvFrame;
            type->SetSubtype(&MEDIASUBTYPE_dvsd);
            type->SetSampleSize(m_DvFrame);
        }
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        request->cBuffers = 2;
        request->cbBuffer = LONG(m_DvFrame ? m_DvFrame : InputPin()->CurrentMediaType().GetSampleSize());
        ALLOCATOR_PROPERTIES actual;
        return allocator->SetProperties(request, &actual);
    }
    HRESULT Transform(IMediaSample* in, IMediaSample* out) override
    {
        BYTE *from, *to;
        in->GetPointer(&from);
        out->GetPointer(&to);
        const LONG size = m_DvFrame ? LONG(m_DvFrame) : in->GetActualDataLength();
        if (m_DvFrame)
            memset(to, 0, size_t(size));
        else
            memcpy(to, from, size_t(size));
        out->SetActualDataLength(size);
        return S_OK;
    }

    std::vector<Ombrix_Setting> GetSettings() override { return {{"Quality", m_Quality, 1, 31}}; }
    HRESULT PutSettings(const std::vector<Ombrix_Setting>& settings) override
    {
        for (const Ombrix_Setting& s : settings)
            m_Quality = std::clamp(s.value, 1, 31);
        return S_OK;
    }
    HRESULT GetPages(CAUUID* pages) override { return GetSettingsPages(pages); }
    HRESULT Run(REFERENCE_TIME start) override { return m_bRefusesToRun ? E_FAIL : CTransformFilter::Run(start); }

private:
    int m_Quality = 5;
    std::vector<Taken> m_Taken;
    bool m_bSettings;
    bool m_bRefusesToRun;
    ULONG m_DvFrame;  // 0: frames pass as they came
};

// Installs a compressor under a name while it lives, setting aside a device of that name.
class InstalledCompressor {
public:
    InstalledCompressor(const std::wstring& name, std::vector<Taken> taken, bool settings = false,
                        bool refusesToRun = false)
        : m_Name(name)
    {
        for (const DeviceEntry& device : DeviceRegistry::Instance().Devices(CLSID_VideoCompressorCategory))
            if (device.friendlyName == name)
                m_SetAside = device;
        if (m_SetAside)
            DeviceRegistry::Instance().Remove(CLSID_VideoCompressorCategory, name);
        const HRESULT hr = DeviceRegistry::Instance().Add(
            CLSID_VideoCompressorCategory, DeviceEntry{name, GUID_NULL, [=](IUnknown*, HRESULT*) -> CUnknown* {
                                                           return new TestCompressor(taken, settings, refusesToRun);
                                                       }});
        if (FAILED(hr))
            throw std::runtime_error("cannot install a test compressor");
    }
    ~InstalledCompressor()
    {
        DeviceRegistry::Instance().Remove(CLSID_VideoCompressorCategory, m_Name);
        if (m_SetAside)
            DeviceRegistry::Instance().Add(CLSID_VideoCompressorCategory, *m_SetAside);
    }
    InstalledCompressor(const InstalledCompressor&) = delete;

private:
    std::wstring m_Name;
    std::optional<DeviceEntry> m_SetAside;
};
