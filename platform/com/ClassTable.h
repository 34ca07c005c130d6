// The classes that CoCreateInstance makes, and what intelligent connect knows of each: its name,
// its merit and the media types its input pins take.
#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "Com.h"

struct ClassEntry {
    CLSID clsid;
    const WCHAR* name;  // the friendly name, under which the graph adds the filter
    DWORD merit;        // intelligent connect tries filters above MERIT_DO_NOT_USE, highest first
    // (major type, subtype) pairs that an input pin takes; GUID_NULL matches any.
    std::vector<std::pair<GUID, GUID>> inputTypes;
    ClassFactoryFunction create;
};

// Every class, filled once on first use; thread-safe.
std::vector<ClassEntry> ClassTable();
std::optional<ClassEntry> FindClass(REFCLSID clsid);
// For tests: adds a class (or replaces one of the same id) until RemoveClass.
void AddClass(const ClassEntry& entry);
void RemoveClass(REFCLSID clsid);
