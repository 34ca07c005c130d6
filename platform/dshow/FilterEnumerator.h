// IEnumFilters over a graph's filters, newest first. It keeps the graph alive and goes out of
// sync when a filter is added or removed, until Reset.
#pragma once

#include "Strmif.h"
#include "platform/com/ComRef.h"

class FilterGraph;

class FilterEnumerator final : public CUnknown, public IEnumFilters {
public:
    // `owner` is the graph's controlling IUnknown, held for the enumerator's life.
    FilterEnumerator(FilterGraph* graph, IUnknown* owner, ULONG position, LONG version);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) override;
    HRESULT Skip(ULONG count) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumFilters** copy) override;

private:
    FilterGraph* const m_pGraph;
    const ComRef<IUnknown> m_Owner;
    ULONG m_Position;
    LONG m_Version;
};
