// Walking a graph through its pins and connections.
#pragma once

#include <vector>

#include "Strmif.h"
#include "platform/com/ComRef.h"

// The filter's pins, in its own order.
std::vector<ComRef<IPin>> PinsOf(IBaseFilter* filter);
// Those of one direction.
std::vector<ComRef<IPin>> PinsOf(IBaseFilter* filter, PIN_DIRECTION direction);
// False when the direction cannot be had.
bool HasDirection(IPin* pin, PIN_DIRECTION direction);
bool IsConnected(IPin* pin);
ComRef<IBaseFilter> FilterOf(IPin* pin);
// Pins named with a leading '~' are not meant to be connected by the graph.
bool IsHidden(IPin* pin);

// Whether `to` is `from` or lies downstream of it.
bool Reaches(IBaseFilter* from, IBaseFilter* to);
// The same filters, each before every filter upstream of it: renderers first, sources last.
std::vector<ComRef<IBaseFilter>> DownstreamFirst(const std::vector<ComRef<IBaseFilter>>& filters);
// A filter that sends EC_COMPLETE at end of stream: one that says so, or one with no output pins
// that answers for positions.
bool IsRenderer(IBaseFilter* filter);
