// Connections: direct, through filters already in the graph or made from the class table, and the
// file source.
#include <sys/stat.h>

#include <algorithm>
#include <string>

#include "FilterGraph.h"
#include "GraphWalk.h"

namespace {

// Intelligent connect gives up on chains longer than this.
constexpr int MaxDepth = 5;

bool Matches(REFGUID a, REFGUID b) { return a == GUID_NULL || b == GUID_NULL || a == b; }

// The (major type, subtype) pairs the output pin offers.
std::vector<std::pair<GUID, GUID>> OfferedTypes(IPin* output)
{
    std::vector<std::pair<GUID, GUID>> types;
    ComRef<IEnumMediaTypes> enumerator;
    if (FAILED(output->EnumMediaTypes(enumerator.out())) || !enumerator)
        return types;
    AM_MEDIA_TYPE* type = nullptr;
    while (enumerator->Next(1, &type, nullptr) == S_OK) {
        types.emplace_back(type->majortype, type->subtype);
        DeleteMediaType(type);
    }
    return types;
}

// Registered classes worth trying after the output: above MERIT_DO_NOT_USE, with an input type
// that matches one the output offers, highest merit first.
std::vector<ClassEntry> Candidates(IPin* output)
{
    const std::vector<std::pair<GUID, GUID>> offered = OfferedTypes(output);
    std::vector<ClassEntry> entries = ClassTable();
    std::erase_if(entries, [&](const ClassEntry& entry) {
        if (entry.merit <= MERIT_DO_NOT_USE)
            return true;
        for (const auto& [major, sub] : entry.inputTypes)
            for (const auto& [offeredMajor, offeredSub] : offered)
                if (Matches(major, offeredMajor) && Matches(sub, offeredSub))
                    return false;
        return true;
    });
    std::stable_sort(entries.begin(), entries.end(),
                     [](const ClassEntry& a, const ClassEntry& b) { return a.merit > b.merit; });
    return entries;
}

// Puts the output pin first; VFW_E_INVALID_DIRECTION for two pins of one direction.
HRESULT Orient(IPin*& output, IPin*& input)
{
    if (HasDirection(output, PINDIR_INPUT) && HasDirection(input, PINDIR_OUTPUT))
        std::swap(output, input);
    return HasDirection(output, PINDIR_OUTPUT) && HasDirection(input, PINDIR_INPUT) ? S_OK : VFW_E_INVALID_DIRECTION;
}

bool FileExists(LPCWSTR file)
{
    const int size = WideCharToMultiByte(CP_ACP, 0, file, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return false;
    std::string path(size_t(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, file, -1, path.data(), size, nullptr, nullptr);
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

}  // namespace

HRESULT FilterGraph::ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* type)
{
    if (!output || !input)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    const HRESULT hr = Orient(output, input);
    if (FAILED(hr))
        return hr;
    const ComRef<IBaseFilter> upstream = FilterOf(output), downstream = FilterOf(input);
    if (!upstream || !downstream || !Contains(upstream.get()) || !Contains(downstream.get()))
        return VFW_E_NOT_IN_GRAPH;
    if (Reaches(downstream.get(), upstream.get()))
        return VFW_E_CIRCULAR_GRAPH;
    return output->Connect(input, type);
}

HRESULT FilterGraph::Connect(IPin* output, IPin* input)
{
    if (!output || !input)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    const HRESULT hr = Orient(output, input);
    return FAILED(hr) ? hr : ConnectVia(output, input, 0);
}

HRESULT FilterGraph::ConnectVia(IPin* output, IPin* input, int depth)
{
    if (depth >= MaxDepth)
        return VFW_E_CANNOT_CONNECT;
    const HRESULT direct = ConnectDirect(output, input, nullptr);
    if (SUCCEEDED(direct))
        return S_OK;
    // Nothing put between them can help a pin already taken, a filter outside the graph or a loop.
    if (direct == VFW_E_NOT_IN_GRAPH || direct == VFW_E_CIRCULAR_GRAPH || IsConnected(output) || IsConnected(input))
        return direct;
    const ComRef<IBaseFilter> upstream = FilterOf(output), downstream = FilterOf(input);
    for (const ComRef<IBaseFilter>& filter : Filters())
        if (filter.get() != upstream.get() && filter.get() != downstream.get() &&
            SUCCEEDED(ConnectThroughFilter(output, filter.get(), input, depth)))
            return S_OK;
    for (const ClassEntry& entry : Candidates(output))
        if (SUCCEEDED(ConnectThroughNewFilter(output, entry, input, depth)))
            return S_OK;
    return VFW_E_CANNOT_CONNECT;
}

HRESULT FilterGraph::ConnectThroughFilter(IPin* output, IBaseFilter* filter, IPin* input, int depth)
{
    for (const ComRef<IPin>& entry : PinsOf(filter, PINDIR_INPUT)) {
        if (IsConnected(entry.get()) || FAILED(ConnectDirect(output, entry.get(), nullptr)))
            continue;
        // The filter's outputs may only appear once its input knows its type.
        for (const ComRef<IPin>& exit : PinsOf(filter, PINDIR_OUTPUT))
            if (!IsHidden(exit.get()) && !IsConnected(exit.get()) && SUCCEEDED(ConnectVia(exit.get(), input, depth + 1)))
                return S_OK;
        entry->Disconnect();
        output->Disconnect();
    }
    return VFW_E_CANNOT_CONNECT;
}

HRESULT FilterGraph::ConnectThroughNewFilter(IPin* output, const ClassEntry& entry, IPin* input, int depth)
{
    ComRef<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(entry.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(filter.out()))) ||
        FAILED(AddFilter(filter.get(), entry.name)))
        return VFW_E_CANNOT_CONNECT;
    if (SUCCEEDED(ConnectThroughFilter(output, filter.get(), input, depth)))
        return S_OK;
    Withdraw(filter.get());
    return VFW_E_CANNOT_CONNECT;
}

HRESULT FilterGraph::AddSourceFilter(LPCWSTR file, LPCWSTR filterName, IBaseFilter** filter)
{
    if (!file || !filter)
        return E_POINTER;
    *filter = nullptr;
    if (!*file)
        return VFW_E_NOT_FOUND;
    if (!FileExists(file))
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    ComRef<IBaseFilter> source;
    HRESULT hr = CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  reinterpret_cast<void**>(source.out()));
    if (FAILED(hr))
        return hr;
    const ComRef<IFileSourceFilter> loader = QueryRef<IFileSourceFilter>(source.get(), IID_IFileSourceFilter);
    if (!loader)
        return E_NOINTERFACE;
    hr = loader->Load(file, nullptr);
    if (FAILED(hr))
        return hr;
    // Unnamed, the source goes by its file's name.
    hr = AddFilter(source.get(), filterName ? filterName : file);
    if (FAILED(hr))
        return hr;
    *filter = source.detach();
    return hr;
}

HRESULT FilterGraph::AddSourceFilter(BSTR file, IUnknown** filter)
{
    if (!filter)
        return E_POINTER;
    IBaseFilter* source = nullptr;
    const HRESULT hr = AddSourceFilter(file, nullptr, &source);
    *filter = source;
    return hr;
}

// Rendering a whole stream or file is left to the library, which connects its own renderers.
HRESULT FilterGraph::Render(IPin*) { return E_NOTIMPL; }

HRESULT FilterGraph::RenderFile(LPCWSTR, LPCWSTR) { return E_NOTIMPL; }

HRESULT FilterGraph::RenderFile(BSTR) { return E_NOTIMPL; }
