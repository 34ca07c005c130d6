#include "ombrix/Ombrix_GetFileInfo.h"

#include <algorithm>
#include <string>

#include "platform/dshow/Strmif.h"
#include "platform/win32/File.h"
#include "platform/win32/Sync.h"

namespace {

// Made with the library, before any caller can run, and deleted when it is unloaded.
CRITICAL_SECTION m_Lock;
// Kept from the first call that needs it for the rest of the process.
IMediaDet* l_IMediaDet = nullptr;

struct Locked {
    Locked() { EnterCriticalSection(&m_Lock); }
    ~Locked() { LeaveCriticalSection(&m_Lock); }
};

}  // namespace

bool Ombrix_GetFileInfo(char* fileName, Ombrix_FileInfo& info)
{
    CoInitialize(nullptr);
    info = Ombrix_FileInfo();
    Locked locked;
    if (!l_IMediaDet && FAILED(CoCreateInstance(CLSID_MediaDet, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaDet,
                                                reinterpret_cast<void**>(&l_IMediaDet))))
        return false;
    // Any length: the platform's names are not bound to 260 characters.
    std::wstring wideName = AnsiToWide(fileName);
    LONG streams = 0;
    if (wideName.empty() || FAILED(l_IMediaDet->put_Filename(wideName.data())) || FAILED(l_IMediaDet->get_OutputStreams(&streams)))
        return false;
    double longest = 0.0;
    for (LONG i = 0; i < streams; i++) {
        GUID type;
        double length = 0, fps = 0;
        if (FAILED(l_IMediaDet->put_CurrentStream(i)) || FAILED(l_IMediaDet->get_StreamType(&type)))
            continue;
        if (type == MEDIATYPE_Audio) {
            if (FAILED(l_IMediaDet->get_StreamLength(&length)))
                continue;
            if (length == 0.0)
                return false;
            info.HasAudio = true;
            info.AudioDuration = (long long)(10000000.0 * length);
            longest = std::max(longest, length);
        } else if (type == MEDIATYPE_Video) {
            if (SUCCEEDED(l_IMediaDet->get_StreamLength(&length))) {
                if (length == 0.0)
                    return false;
                info.HasVideo = true;
                info.VideoDuration = (long long)(10000000.0 * length);
                longest = std::max(longest, length);
            }
            if (SUCCEEDED(l_IMediaDet->get_FrameRate(&fps))) {
                info.Rate = (unsigned int)(fps * 10000000.0);
                info.Scale = 10000000;
            }
        }
    }
    HANDLE file = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (!file || file == INVALID_HANDLE_VALUE) {
        info.FileSize = 1;
        info.DataRate = 1;
        return true;
    }
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    if (low == 0xFFFFFFFF && GetLastError() != 0) {
        CloseHandle(file);
        info.FileSize = 1;
        info.DataRate = 1;
        return true;
    }
    info.FileSize = (long long)((unsigned long long)high << 32 | low);
    CloseHandle(file);
    info.DataRate = longest > 0 ? (unsigned int)(double(info.FileSize) / longest) : (unsigned int)info.FileSize;
    return true;
}

namespace {

struct LockLifetime {
    LockLifetime() { InitializeCriticalSection(&m_Lock); }
    ~LockLifetime() { DeleteCriticalSection(&m_Lock); }
} lockLifetime;

}  // namespace
