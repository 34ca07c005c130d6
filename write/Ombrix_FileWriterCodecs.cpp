// The writer's two codec lists: the fixed entries, then every installed compressor under its
// friendly name, each with the one instance that later compresses; and the settings dialogs.
#include <cstdlib>
#include <cstring>
#include <string>

#include "Ombrix_FileWriter.h"
#include "platform/com/FilterSettings.h"
#include "platform/com/PropertyBag.h"

namespace {

// Names are kept in buffers of this size, the terminator included.
constexpr size_t NameBuffer = 260;
constexpr ULONG CaptionCharacters = 260;

// A friendly name as 8-bit text, cut to fit its buffer on a whole character.
std::string ShortName(BSTR wide)
{
    std::string name = WideToAnsi(wide);
    if (name.size() >= NameBuffer) {
        size_t cut = NameBuffer - 1;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            cut--;
        name.resize(cut);
    }
    return name;
}

char* CopyName(const char* name)
{
    const size_t length = strlen(name);
    char* copy = static_cast<char*>(malloc(length + 1));
    memcpy(copy, name, length + 1);
    return copy;
}

// Grows a list's two arrays by one entry.
void Append(unsigned int& count, char**& names, IBaseFilter**& filters, const char* name, IBaseFilter* filter)
{
    names = static_cast<char**>(realloc(names, (count + 1) * sizeof *names));
    filters = static_cast<IBaseFilter**>(realloc(filters, (count + 1) * sizeof *filters));
    names[count] = CopyName(name);
    filters[count] = filter;
    count++;
}

void Destroy(unsigned int& count, char**& names, IBaseFilter**& filters)
{
    for (unsigned int i = 0; i < count; i++) {
        if (filters[i])
            filters[i]->Release();
        free(names[i]);
    }
    free(names);
    free(filters);
    names = nullptr;
    filters = nullptr;
    count = 0;
}

}  // namespace

void Ombrix_FileWriter::AddVideoCodecName(const char* name, IBaseFilter* filter, bool)
{
    Append(VideoCodecCount, VideoCodecNames, VideoCodecFilters, name, filter);
}

void Ombrix_FileWriter::AddAudioCodecName(const char* name, IBaseFilter* filter)
{
    Append(AudioCodecCount, AudioCodecNames, AudioCodecFilters, name, filter);
    Graph->AddFilter(filter, L"Audio Filter");
}

void Ombrix_FileWriter::BuildVideoCompressorList()
{
    AddVideoCodecName("Uncompressed (UYVY)", nullptr, true);
    AddVideoCodecName("Uncompressed (YUY2)", nullptr, true);
    AddVideoCodecName("Uncompressed (BGR24)", nullptr, true);
    AddVideoCodecName("Uncompressed (BGR32)", nullptr, true);
    AddVideoCodecName("DV Video with interleaved DV Audio", nullptr, true);
    if (AsfWriter) {
        AddVideoCodecName("WindowsMedia Video (asf,wmv)", AsfWriter, true);
        AsfWriter->AddRef();
    }
    AddInstalledCompressors(CLSID_VideoCompressorCategory, true);
}

void Ombrix_FileWriter::BuildAudioCompressorList()
{
    AddAudioCodecName("Uncompressed PCM", nullptr);
    if (AsfWriter) {
        AddAudioCodecName("WindowsMedia Audio (asf,wmv,wma)", AsfWriter);
        AsfWriter->AddRef();
    }
    AddInstalledCompressors(CLSID_AudioCompressorCategory, false);
}

void Ombrix_FileWriter::AddInstalledCompressors(REFCLSID category, bool video)
{
    ICreateDevEnum* devices = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                IID_ICreateDevEnum, reinterpret_cast<void**>(&devices))))
        throw "Ombrix_FileWriter: Failed to create the device enumerator.";
    IEnumMoniker* monikers = nullptr;
    if (FAILED(devices->CreateClassEnumerator(category, &monikers, 0))) {
        devices->Release();
        throw "Ombrix_FileWriter: Failed to create the compression enumerator.";
    }
    if (monikers) {
        monikers->Reset();
        IMoniker* moniker = nullptr;
        while (monikers->Next(1, &moniker, nullptr) == S_OK) {
            IBaseFilter* filter = nullptr;
            if (FAILED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter))) ||
                !filter) {
                moniker->Release();
                continue;
            }
            IPropertyBag* bag = nullptr;
            VARIANT name;
            VariantInit(&name);
            name.vt = VT_BSTR;
            if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag))))
                bag->Read(L"FriendlyName", &name, nullptr);
            const std::string text = name.vt == VT_BSTR && name.bstrVal ? ShortName(name.bstrVal) : std::string();
            if (text.empty()) {
                filter->Release();
            } else if (video) {
                if (text == "DV Video Encoder")
                    DVEncoderIndex = VideoCodecCount;
                AddVideoCodecName(text.c_str(), filter, true);
            } else {
                AddAudioCodecName(text.c_str(), filter);
            }
            VariantClear(&name);
            if (bag)
                bag->Release();
            moniker->Release();
        }
        monikers->Release();
    }
    devices->Release();
}

void Ombrix_FileWriter::DestroyLists()
{
    Destroy(VideoCodecCount, VideoCodecNames, VideoCodecFilters);
    Destroy(AudioCodecCount, AudioCodecNames, AudioCodecFilters);
}

IBaseFilter* Ombrix_FileWriter::SelectedVideoFilter()
{
    const unsigned int index = VideoCodec == 4 ? DVEncoderIndex : VideoCodec;
    return index < VideoCodecCount ? VideoCodecFilters[index] : nullptr;
}

IBaseFilter* Ombrix_FileWriter::SelectedAudioFilter()
{
    return AudioCodec < AudioCodecCount ? AudioCodecFilters[AudioCodec] : nullptr;
}

bool Ombrix_FileWriter::CanConfigure(IBaseFilter* filter)
{
    if (!filter)
        return false;
    IAMVfwCompressDialogs* dialogs = nullptr;
    if (SUCCEEDED(filter->QueryInterface(IID_IAMVfwCompressDialogs, reinterpret_cast<void**>(&dialogs)))) {
        const bool can = SUCCEEDED(dialogs->ShowDialog(VfwCompressDialog_QueryConfig, nullptr));
        dialogs->Release();
        if (can)
            return true;
    }
    ISpecifyPropertyPages* pages = nullptr;
    if (FAILED(filter->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&pages))))
        return false;
    pages->Release();
    return true;
}

void Ombrix_FileWriter::Configure(IBaseFilter* filter, HWND parent, const char* caption)
{
    if (!filter)
        return;
    IAMVfwCompressDialogs* dialogs = nullptr;
    if (SUCCEEDED(filter->QueryInterface(IID_IAMVfwCompressDialogs, reinterpret_cast<void**>(&dialogs)))) {
        const bool shown = SUCCEEDED(dialogs->ShowDialog(VfwCompressDialog_QueryConfig, parent));
        if (shown)
            dialogs->ShowDialog(VfwCompressDialog_Config, parent);
        dialogs->Release();
        if (shown)
            return;
    }
    ShowPropertyFrame(filter, parent, caption);
}

void Ombrix_FileWriter::ShowPropertyFrame(IBaseFilter* filter, HWND parent, const char* caption)
{
    ISpecifyPropertyPages* specify = nullptr;
    if (!filter || FAILED(filter->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&specify))))
        return;
    CAUUID pages{};
    if (SUCCEEDED(specify->GetPages(&pages))) {
        std::wstring title = AnsiToWide(caption ? caption : "");
        if (title.size() > CaptionCharacters)
            title.resize(CaptionCharacters);
        IUnknown* object = filter;
        OleCreatePropertyFrame(parent, 0, 0, title.c_str(), 1, &object, pages.cElems, pages.pElems, 0, 0, nullptr);
        CoTaskMemFree(pages.pElems);
    }
    specify->Release();
}

bool Ombrix_FileWriter::CanConfigureVideoCodec() { return CanConfigure(SelectedVideoFilter()); }

void Ombrix_FileWriter::ConfigureVideoCodec(HWND parent, char* caption) { Configure(SelectedVideoFilter(), parent, caption); }

bool Ombrix_FileWriter::CanConfigureAudioCodec() { return CanConfigure(SelectedAudioFilter()); }

void Ombrix_FileWriter::ConfigureAudioCodec(HWND parent, char* caption) { Configure(SelectedAudioFilter(), parent, caption); }

void Ombrix_FileWriter::ConfigureMultiplexer(HWND parent, char* caption) { ShowPropertyFrame(AviMux, parent, caption); }
