#include "FilterEnumerator.h"

#include "FilterGraph.h"

FilterEnumerator::FilterEnumerator(FilterGraph* graph, IUnknown* owner, ULONG position, LONG version)
    : CUnknown("FilterEnumerator", nullptr), m_pGraph(graph), m_Owner(owner), m_Position(position),
      m_Version(version)
{
}

HRESULT FilterEnumerator::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IEnumFilters)
        return GetInterface(static_cast<IEnumFilters*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT FilterEnumerator::Next(ULONG count, IBaseFilter** filters, ULONG* fetched)
{
    if (!filters || (count > 1 && !fetched))
        return E_POINTER;
    return m_pGraph->FiltersAt(m_Position, count, m_Version, filters, fetched);
}

HRESULT FilterEnumerator::Skip(ULONG count) { return m_pGraph->FiltersAt(m_Position, count, m_Version, nullptr, nullptr); }

HRESULT FilterEnumerator::Reset()
{
    m_Position = 0;
    m_Version = m_pGraph->Version();
    return S_OK;
}

HRESULT FilterEnumerator::Clone(IEnumFilters** copy)
{
    if (!copy)
        return E_POINTER;
    return GetInterface(static_cast<IEnumFilters*>(new FilterEnumerator(m_pGraph, m_Owner.get(), m_Position, m_Version)),
                        reinterpret_cast<void**>(copy));
}
