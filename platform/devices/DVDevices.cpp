// The DV devices a host registers, listed in the video input device category: each binds to a
// DVDeviceRenderer of its own whose frames go to the host's callback or to a file.
#include <cstdio>
#include <cstring>
#include <mutex>

#include "DeviceRegistry.h"
#include "ombrix/platform.h"
#include "platform/filters/DVDeviceRenderer.h"
#include "platform/win32/CodePage.h"

namespace {

class CallbackTarget final : public DVFrameTarget {
public:
    CallbackTarget(Ombrix_DVFrameSink sink, void* context) : m_Sink(sink), m_Context(context) {}
    HRESULT Send(const BYTE* frame, size_t size) override
    {
        m_Sink(frame, unsigned(size), m_Context);
        return S_OK;
    }

private:
    const Ombrix_DVFrameSink m_Sink;
    void* const m_Context;
};

// The file is made (or emptied) as the device starts, not when it is only listed.
class FileTarget final : public DVFrameTarget {
public:
    explicit FileTarget(std::string path) : m_Path(std::move(path)) {}
    ~FileTarget() override { Finish(); }
    HRESULT Start() override
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        if (!m_File)
            m_File = fopen(m_Path.c_str(), "wb");
        return m_File ? S_OK : HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    }
    HRESULT Send(const BYTE* frame, size_t size) override
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        if (!m_File)
            return VFW_E_WRONG_STATE;
        return fwrite(frame, 1, size, m_File) == size ? S_OK : HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    }
    void Finish() override
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        if (m_File)
            fclose(m_File);
        m_File = nullptr;
    }

private:
    const std::string m_Path;
    std::mutex m_Lock;
    FILE* m_File = nullptr;
};

using TargetMaker = std::function<std::unique_ptr<DVFrameTarget>()>;

bool AddDevice(const char* friendlyName, TargetMaker makeTarget)
{
    if (!friendlyName || !strstr(friendlyName, "DV"))
        return false;
    DeviceFactory create = [makeTarget = std::move(makeTarget)](IUnknown* outer, HRESULT* result) -> CUnknown* {
        *result = S_OK;
        return new DVDeviceRenderer(outer, makeTarget(), result);
    };
    return SUCCEEDED(DeviceRegistry::Instance().Add(CLSID_VideoInputDeviceCategory,
                                                    {AnsiToWide(friendlyName), CLSID_DVDeviceRenderer, create}));
}

}  // namespace

bool Ombrix_AddDVDevice(const char* friendlyName, Ombrix_DVFrameSink sink, void* context)
{
    return sink && AddDevice(friendlyName, [sink, context] { return std::make_unique<CallbackTarget>(sink, context); });
}

bool Ombrix_AddDVDeviceFile(const char* friendlyName, const char* path)
{
    if (!path || !*path)
        return false;
    return AddDevice(friendlyName, [file = std::string(path)] { return std::make_unique<FileTarget>(file); });
}

void Ombrix_RemoveDVDevice(const char* friendlyName)
{
    if (friendlyName)
        DeviceRegistry::Instance().Remove(CLSID_VideoInputDeviceCategory, AnsiToWide(friendlyName));
}
