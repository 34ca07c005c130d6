// What the writer and the DV output do with a graph's filters and pins: interfaces asked for,
// pins listed, and the direct connection that both make between two filters.
#pragma once

#include "platform/dshow/Strmif.h"

constexpr ULONG MostPins = 256;

template <class T>
HRESULT Query(IUnknown* object, REFIID iid, T** result)
{
    *result = nullptr;
    return object->QueryInterface(iid, reinterpret_cast<void**>(result));
}

// Up to MostPins pins of the filter, each with a reference; none when they cannot be listed.
ULONG ListPins(IBaseFilter* filter, IPin** pins);
void ReleaseList(IUnknown** objects, ULONG count);

// Connects the first free output pin of upstream that connects directly (no filter in between,
// no type given) to a free input pin of downstream: S_OK, or VFW_E_CANNOT_CONNECT.
HRESULT ConnectFreePins(IGraphBuilder* graph, IBaseFilter* upstream, IBaseFilter* downstream);
