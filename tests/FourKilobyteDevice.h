// A device with 4096-byte logical sectors, simulated over the real back-end of files opened
// while an OnFourKilobyteDevice lives.
#pragma once

#include <fcntl.h>

#include <memory>
#include <vector>

#include "platform/win32/AsyncReader.h"
#include "platform/win32/File.h"

// A device with 4096-byte sectors over the real back-end: it refuses direct reads off that grid
// with EINVAL, as the kernel does, when they complete (pread's at once, inside the call).
class FourKilobyteDevice final : public AsyncReader {
public:
    FourKilobyteDevice(bool direct, std::unique_ptr<AsyncReader> backend)
        : m_Direct(direct), m_Backend(std::move(backend)) {}
    static std::unique_ptr<AsyncReader> Wrap(int fd, std::unique_ptr<AsyncReader> backend)
    {
        return std::make_unique<FourKilobyteDevice>(fcntl(fd, F_GETFL) & O_DIRECT, std::move(backend));
    }

    AsyncBackend Backend() const override { return m_Backend->Backend(); }
    bool Start(OVERLAPPED* request, void* buffer, DWORD count, uint64_t offset) override
    {
        if (!m_Direct || (offset % 4096 == 0 && count % 4096 == 0 && (uintptr_t)buffer % 4096 == 0))
            return m_Backend->Start(request, buffer, count, offset);
        if (Backend() == AsyncBackend::Pread) {
            RecordCompletion(request, -EINVAL);
            return false;
        }
        request->Internal = STATUS_PENDING;
        m_Refused.push_back(request);
        return true;
    }
    void Poll() override
    {
        m_Backend->Poll();
        for (OVERLAPPED* request : m_Refused)
            RecordCompletion(request, -EINVAL);
        m_Refused.clear();
    }
    void Wait(DWORD milliseconds) override { m_Refused.empty() ? m_Backend->Wait(milliseconds) : Poll(); }

private:
    bool m_Direct;
    std::unique_ptr<AsyncReader> m_Backend;
    std::vector<OVERLAPPED*> m_Refused;
};

// While it lives, files opened are on a FourKilobyteDevice whose sector size is found to be detected;
// every read goes to the device, none is served by the page cache.
struct OnFourKilobyteDevice {
    explicit OnFourKilobyteDevice(DWORD detected)
    {
        SetDeviceSectorSize(detected);
        SetAsyncReaderWrapper(FourKilobyteDevice::Wrap);
        IgnorePageCache(true);
    }
    ~OnFourKilobyteDevice()
    {
        SetDeviceSectorSize(0);
        SetAsyncReaderWrapper(nullptr);
        IgnorePageCache(false);
    }
};
