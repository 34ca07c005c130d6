#include "GraphWalk.h"

#include <algorithm>
#include <functional>
#include <set>

std::vector<ComRef<IPin>> PinsOf(IBaseFilter* filter)
{
    std::vector<ComRef<IPin>> pins;
    ComRef<IEnumPins> enumerator;
    if (FAILED(filter->EnumPins(enumerator.out())) || !enumerator)
        return pins;
    for (;;) {
        IPin* pin = nullptr;
        const HRESULT hr = enumerator->Next(1, &pin, nullptr);
        if (hr == VFW_E_ENUM_OUT_OF_SYNC) {  // the filter grew or lost pins: start over
            pins.clear();
            enumerator->Reset();
            continue;
        }
        if (hr != S_OK)
            return pins;
        pins.push_back(ComRef<IPin>::Adopt(pin));
    }
}

std::vector<ComRef<IPin>> PinsOf(IBaseFilter* filter, PIN_DIRECTION direction)
{
    std::vector<ComRef<IPin>> pins = PinsOf(filter);
    std::erase_if(pins, [&](const ComRef<IPin>& pin) { return !HasDirection(pin.get(), direction); });
    return pins;
}

bool HasDirection(IPin* pin, PIN_DIRECTION direction)
{
    PIN_DIRECTION actual;
    return pin && SUCCEEDED(pin->QueryDirection(&actual)) && actual == direction;
}

bool IsConnected(IPin* pin)
{
    ComRef<IPin> peer;
    return SUCCEEDED(pin->ConnectedTo(peer.out())) && peer;
}

namespace {

// The pin's information; its filter reference is handed to `filter` when asked, dropped otherwise.
bool InfoOf(IPin* pin, PIN_INFO& info, ComRef<IBaseFilter>* filter)
{
    if (FAILED(pin->QueryPinInfo(&info)))
        return false;
    ComRef<IBaseFilter> owner = ComRef<IBaseFilter>::Adopt(info.pFilter);
    if (filter)
        *filter = owner;
    return true;
}

// The filters that the filter's connected output pins feed.
std::vector<ComRef<IBaseFilter>> Downstream(IBaseFilter* filter)
{
    std::vector<ComRef<IBaseFilter>> next;
    for (const ComRef<IPin>& pin : PinsOf(filter, PINDIR_OUTPUT)) {
        ComRef<IPin> peer;
        if (SUCCEEDED(pin->ConnectedTo(peer.out())) && peer)
            if (ComRef<IBaseFilter> owner = FilterOf(peer.get()))
                next.push_back(owner);
    }
    return next;
}

}  // namespace

ComRef<IBaseFilter> FilterOf(IPin* pin)
{
    PIN_INFO info;
    ComRef<IBaseFilter> filter;
    InfoOf(pin, info, &filter);
    return filter;
}

bool IsHidden(IPin* pin)
{
    PIN_INFO info;
    return InfoOf(pin, info, nullptr) && info.achName[0] == L'~';
}

bool Reaches(IBaseFilter* from, IBaseFilter* to)
{
    std::set<IBaseFilter*> seen;
    std::function<bool(IBaseFilter*)> search = [&](IBaseFilter* filter) {
        if (filter == to)
            return true;
        if (!seen.insert(filter).second)
            return false;
        for (const ComRef<IBaseFilter>& next : Downstream(filter))
            if (search(next.get()))
                return true;
        return false;
    };
    return search(from);
}

std::vector<ComRef<IBaseFilter>> DownstreamFirst(const std::vector<ComRef<IBaseFilter>>& filters)
{
    std::set<IBaseFilter*> members, placed;
    for (const ComRef<IBaseFilter>& filter : filters)
        members.insert(filter.get());
    std::vector<ComRef<IBaseFilter>> order;
    // Depth first: a filter is placed once everything it feeds has been.
    std::function<void(const ComRef<IBaseFilter>&)> place = [&](const ComRef<IBaseFilter>& filter) {
        if (!members.count(filter.get()) || !placed.insert(filter.get()).second)
            return;
        for (const ComRef<IBaseFilter>& next : Downstream(filter.get()))
            place(next);
        order.push_back(filter);
    };
    for (const ComRef<IBaseFilter>& filter : filters)
        place(filter);
    return order;
}

bool IsRenderer(IBaseFilter* filter)
{
    if (ComRef<IAMFilterMiscFlags> flags = QueryRef<IAMFilterMiscFlags>(filter, IID_IAMFilterMiscFlags))
        return flags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_RENDERER;
    if (!PinsOf(filter, PINDIR_OUTPUT).empty())
        return false;
    return QueryRef<IUnknown>(filter, IID_IMediaPosition) || QueryRef<IUnknown>(filter, IID_IMediaSeeking);
}
