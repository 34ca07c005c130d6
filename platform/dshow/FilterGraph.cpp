#include "FilterGraph.h"

#include <algorithm>
#include <cwchar>
#include <utility>

#include "FilterEnumerator.h"
#include "GraphWalk.h"

namespace {

// Generated names count from "0001" and wrap after "9999".
constexpr unsigned LastNameIndex = 9999;

std::wstring Numbered(unsigned index)
{
    wchar_t text[8];
    swprintf(text, 8, L"%04u", index);
    return text;
}

}  // namespace

CUnknown* FilterGraph::CreateInstance(IUnknown* outer, HRESULT* result)
{
    *result = S_OK;
    return new FilterGraph(outer);
}

FilterGraph::FilterGraph(IUnknown* outer) : CUnknown("FilterGraph", outer) {}

// The last reference stops the graph, takes every connection apart and lets every filter go.
FilterGraph::~FilterGraph()
{
    {
        std::lock_guard<std::recursive_mutex> lock(m_Lock);
        m_bShutdown = true;
        CancelPendingRun();
    }
    m_RunChanged.notify_all();
    if (m_RunWorker.joinable())
        m_RunWorker.join();
    Stop();
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    for (const Member& member : m_Filters) {
        DisconnectPins(member.filter.get());
        member.filter->JoinFilterGraph(nullptr, nullptr);
    }
    m_Filters.clear();
}

HRESULT FilterGraph::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IFilterGraph || iid == IID_IGraphBuilder)
        return GetInterface(static_cast<IGraphBuilder*>(this), object);
    if (iid == IID_IMediaControl)
        return GetInterface(static_cast<IMediaControl*>(this), object);
    if (iid == IID_IMediaFilter || iid == IID_IPersist)
        return GetInterface(static_cast<IMediaFilter*>(this), object);
    if (iid == IID_IMediaSeeking)
        return GetInterface(static_cast<IMediaSeeking*>(this), object);
    if (iid == IID_IMediaEvent || iid == IID_IMediaEventEx)
        return GetInterface(static_cast<IMediaEventEx*>(this), object);
    if (iid == IID_IMediaEventSink)
        return GetInterface(static_cast<IMediaEventSink*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

std::vector<ComRef<IBaseFilter>> FilterGraph::Filters() const
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    std::vector<ComRef<IBaseFilter>> filters;
    for (const Member& member : m_Filters)
        filters.push_back(member.filter);
    return filters;
}

bool FilterGraph::Contains(IBaseFilter* filter) const
{
    return std::any_of(m_Filters.begin(), m_Filters.end(), [&](const Member& m) { return m.filter.get() == filter; });
}

bool FilterGraph::NameTaken(const std::wstring& name) const
{
    return std::any_of(m_Filters.begin(), m_Filters.end(), [&](const Member& m) { return m.name == name; });
}

HRESULT FilterGraph::AddFilter(IBaseFilter* filter, LPCWSTR name)
{
    if (!filter)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    // A member added again stays one member and takes the new name: the graph does not hold a
    // filter twice, and the name it was last given is the one it answers to.
    const auto member = std::find_if(m_Filters.begin(), m_Filters.end(), [&](const Member& m) { return m.filter.get() == filter; });
    const std::wstring previous = member != m_Filters.end() ? std::exchange(member->name, std::wstring()) : std::wstring();
    std::wstring chosen = name ? name : L"";
    HRESULT result = S_OK;
    if (!name || NameTaken(chosen)) {
        // No name: "0001", "0002", ...; a name taken: "<name> 0001", ... from the same counter.
        const std::wstring prefix = name ? chosen + L" " : L"";
        unsigned tries = 0;
        do {
            if (tries++ == LastNameIndex) {
                if (member != m_Filters.end())
                    member->name = previous;
                return VFW_E_DUPLICATE_NAME;
            }
            chosen = prefix + Numbered(m_NameIndex);
            m_NameIndex = m_NameIndex % LastNameIndex + 1;
        } while (NameTaken(chosen));
        if (name)
            result = VFW_S_DUPLICATE_NAME;
    }
    const HRESULT hr = filter->JoinFilterGraph(static_cast<IGraphBuilder*>(this), chosen.c_str());
    if (member != m_Filters.end()) {
        member->name = SUCCEEDED(hr) ? chosen : previous;
        return FAILED(hr) ? hr : result;
    }
    if (FAILED(hr))
        return hr;
    filter->SetSyncSource(m_Clock.get());
    m_Filters.insert(m_Filters.begin(), Member{ComRef<IBaseFilter>(filter), chosen});
    ++m_Version;
    return result;
}

HRESULT FilterGraph::DisconnectPins(IBaseFilter* filter)
{
    for (const ComRef<IPin>& pin : PinsOf(filter)) {
        ComRef<IPin> peer;
        if (FAILED(pin->ConnectedTo(peer.out())) || !peer)
            continue;
        HRESULT hr = peer->Disconnect();
        if (SUCCEEDED(hr))
            hr = pin->Disconnect();
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT FilterGraph::RemoveFilter(IBaseFilter* filter)
{
    if (!filter)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    if (!Contains(filter))
        return E_FAIL;
    if (m_State != State_Stopped)
        return VFW_E_NOT_STOPPED;
    return Withdraw(filter);
}

HRESULT FilterGraph::Withdraw(IBaseFilter* filter)
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    auto found = std::find_if(m_Filters.begin(), m_Filters.end(), [&](const Member& m) { return m.filter.get() == filter; });
    if (found == m_Filters.end())
        return E_FAIL;
    const HRESULT hr = DisconnectPins(filter);
    if (FAILED(hr))
        return hr;
    filter->JoinFilterGraph(nullptr, nullptr);
    filter->SetSyncSource(nullptr);
    m_Filters.erase(found);
    ++m_Version;
    return S_OK;
}

HRESULT FilterGraph::EnumFilters(IEnumFilters** enumerator)
{
    if (!enumerator)
        return E_POINTER;
    return GetInterface(static_cast<IEnumFilters*>(new FilterEnumerator(this, GetOwner(), 0, Version())),
                        reinterpret_cast<void**>(enumerator));
}

HRESULT FilterGraph::FiltersAt(ULONG& position, ULONG count, LONG version, IBaseFilter** filters, ULONG* fetched)
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    if (version != m_Version)
        return VFW_E_ENUM_OUT_OF_SYNC;
    if (!filters && position >= m_Filters.size())
        return E_INVALIDARG;
    ULONG done = 0;
    for (; done < count && position < m_Filters.size(); ++done, ++position)
        if (filters)
            filters[done] = ComRef<IBaseFilter>(m_Filters[position].filter).detach();
    if (fetched)
        *fetched = done;
    return done == count ? S_OK : S_FALSE;
}

LONG FilterGraph::Version()
{
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    return m_Version;
}

HRESULT FilterGraph::FindFilterByName(LPCWSTR name, IBaseFilter** filter)
{
    if (!filter)
        return E_POINTER;
    *filter = nullptr;
    if (!name)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    for (const Member& member : m_Filters)
        if (member.name == name) {
            *filter = ComRef<IBaseFilter>(member.filter).detach();
            return S_OK;
        }
    return VFW_E_NOT_FOUND;
}

HRESULT FilterGraph::Disconnect(IPin* pin)
{
    if (!pin)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_Lock);
    return pin->Disconnect();
}

// Nothing here asks a connection to renegotiate.
HRESULT FilterGraph::Reconnect(IPin*) { return E_NOTIMPL; }

HRESULT FilterGraph::SetLogFile(DWORD_PTR) { return S_OK; }

HRESULT FilterGraph::Abort() { return E_NOTIMPL; }

HRESULT FilterGraph::ShouldOperationContinue() { return S_OK; }

HRESULT FilterGraph::GetClassID(CLSID* clsid)
{
    if (!clsid)
        return E_POINTER;
    *clsid = CLSID_FilterGraph;
    return S_OK;
}
