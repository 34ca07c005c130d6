#include "FilterSettings.h"

#include <mutex>

#include "ComRef.h"
#include "platform/win32/CodePage.h"

namespace {

std::mutex frameLock;
Ombrix_PropertyFrame installedFrame = nullptr;
void* frameContext = nullptr;

}  // namespace

void Ombrix_SetPropertyFrame(Ombrix_PropertyFrame frame, void* context)
{
    std::lock_guard<std::mutex> lock(frameLock);
    installedFrame = frame;
    frameContext = context;
}

HRESULT GetSettingsPages(CAUUID* pages)
{
    if (!pages)
        return E_POINTER;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems) {
        pages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    pages->cElems = 1;
    pages->pElems[0] = CLSID_FilterSettingsPage;
    return S_OK;
}

HRESULT OleCreatePropertyFrame(HWND parent, UINT, UINT, LPCOLESTR caption, ULONG objectCount, IUnknown** objects,
                               ULONG, const CLSID*, DWORD, DWORD, LPVOID)
{
    if (objectCount > 0 && !objects)
        return E_POINTER;
    Ombrix_PropertyFrame frame;
    void* context;
    {
        std::lock_guard<std::mutex> lock(frameLock);
        frame = installedFrame;
        context = frameContext;
    }
    if (!frame)
        return S_OK;
    const std::string title = caption ? WideToAnsi(caption) : std::string();
    for (ULONG i = 0; i < objectCount; i++) {
        ComRef<IFilterSettings> settings = QueryRef<IFilterSettings>(objects[i], IID_IFilterSettings);
        if (!settings)
            continue;
        std::vector<Ombrix_Setting> values = settings->GetSettings();
        // The host's frame runs without the lock: it may install another frame.
        frame(parent, title.c_str(), values.data(), unsigned(values.size()), context);
        settings->PutSettings(values);
    }
    return S_OK;
}
