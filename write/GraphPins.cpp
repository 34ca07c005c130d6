#include "GraphPins.h"

namespace {

bool IsFree(IPin* pin, PIN_DIRECTION wanted)
{
    IPin* peer = nullptr;
    if (SUCCEEDED(pin->ConnectedTo(&peer)) && peer) {
        peer->Release();
        return false;
    }
    PIN_DIRECTION direction;
    return SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted;
}

}  // namespace

ULONG ListPins(IBaseFilter* filter, IPin** pins)
{
    IEnumPins* enumerator = nullptr;
    ULONG count = 0;
    if (FAILED(filter->EnumPins(&enumerator)))
        return 0;
    if (FAILED(enumerator->Next(MostPins, pins, &count)))
        count = 0;
    enumerator->Release();
    return count;
}

void ReleaseList(IUnknown** objects, ULONG count)
{
    for (ULONG i = 0; i < count; i++)
        objects[i]->Release();
}

HRESULT ConnectFreePins(IGraphBuilder* graph, IBaseFilter* upstream, IBaseFilter* downstream)
{
    IPin* outputs[MostPins];
    IPin* inputs[MostPins];
    // A filter whose pins cannot be listed has none to connect.
    const ULONG outputCount = ListPins(upstream, outputs), inputCount = ListPins(downstream, inputs);
    HRESULT result = VFW_E_CANNOT_CONNECT;
    for (ULONG o = 0; o < outputCount && result != S_OK; o++) {
        if (!IsFree(outputs[o], PINDIR_OUTPUT))
            continue;
        for (ULONG i = 0; i < inputCount && result != S_OK; i++)
            if (IsFree(inputs[i], PINDIR_INPUT) && SUCCEEDED(graph->ConnectDirect(outputs[o], inputs[i], nullptr)))
                result = S_OK;
    }
    ReleaseList(reinterpret_cast<IUnknown**>(outputs), outputCount);
    ReleaseList(reinterpret_cast<IUnknown**>(inputs), inputCount);
    return result;
}
