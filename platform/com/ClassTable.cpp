#include "ClassTable.h"

#include <algorithm>
#include <mutex>

#include "SystemDeviceEnum.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/MemAllocator.h"
#include "platform/dshow/Strmif.h"
#include "platform/filters/AsfWriter.h"
#include "platform/filters/AudioDecoder.h"
#include "platform/filters/AviMux.h"
#include "platform/filters/DVMux.h"
#include "platform/filters/DVVideoDecoder.h"
#include "platform/filters/DVVideoEncoder.h"
#include "platform/filters/DemuxSource.h"
#include "platform/filters/FileWriter.h"
#include "platform/filters/MediaDet.h"

namespace {

std::mutex tableLock;

std::vector<ClassEntry>& Table()
{
    // Entries are added here as the platform's classes are built.
    static std::vector<ClassEntry> table{
        {CLSID_FilterGraph, L"Filter Graph", MERIT_DO_NOT_USE, {}, FilterGraph::CreateInstance},
        {CLSID_SystemDeviceEnum, L"System Device Enumerator", MERIT_DO_NOT_USE, {}, SystemDeviceEnum::CreateInstance},
        {CLSID_MediaDet, L"MediaDet", MERIT_DO_NOT_USE, {}, MediaDet::CreateInstance},
        {CLSID_MemoryAllocator, L"Memory Allocator", MERIT_DO_NOT_USE, {}, CMemAllocator::CreateInstance},
        // Sources are added by name, never put in by intelligent connect.
        {CLSID_AsyncReader, L"File Source", MERIT_DO_NOT_USE, {}, DemuxSource::CreateFileSource},
        {CLSID_WMAsfReader, L"WM ASF Reader", MERIT_DO_NOT_USE, {}, DemuxSource::CreateAsfReader},
        // The writer's multiplexer and file sink, created by name.
        {CLSID_AviDest, L"AVI Mux", MERIT_DO_NOT_USE, {}, AviMux::CreateInstance},
        {CLSID_DVMux, L"DV Muxer", MERIT_DO_NOT_USE, {}, DVMux::CreateInstance},
        {CLSID_FileWriter, L"File writer", MERIT_DO_NOT_USE, {}, FileWriter::CreateInstance},
        {CLSID_WMAsfWriter, L"WM ASF Writer", MERIT_DO_NOT_USE, {}, AsfWriter::CreateInstance},
        // The DV output makes its encoder by class id.
        {CLSID_DVVideoEnc, L"DV Video Encoder", MERIT_DO_NOT_USE, {}, DVVideoEncoder::CreateInstance},
        // Each decoder checks that it can open a decoder for the type itself; DV goes to its own.
        {CLSID_DVVideoCodec, L"DV Video Decoder", MERIT_NORMAL, {{MEDIATYPE_Video, MEDIASUBTYPE_dvsd}},
         DVVideoDecoder::CreateInstance},
        {CLSID_VideoDecoder, L"Video Decoder", MERIT_UNLIKELY, {{MEDIATYPE_Video, GUID_NULL}}, VideoDecoder::CreateInstance},
        {CLSID_AudioDecoder, L"Audio Decoder", MERIT_UNLIKELY, {{MEDIATYPE_Audio, GUID_NULL}}, AudioDecoder::CreateInstance},
    };
    return table;
}

}  // namespace

std::vector<ClassEntry> ClassTable()
{
    std::lock_guard<std::mutex> lock(tableLock);
    return Table();
}

std::optional<ClassEntry> FindClass(REFCLSID clsid)
{
    std::lock_guard<std::mutex> lock(tableLock);
    const std::vector<ClassEntry>& table = Table();
    auto found = std::find_if(table.begin(), table.end(), [&](const ClassEntry& e) { return e.clsid == clsid; });
    return found == table.end() ? std::nullopt : std::optional<ClassEntry>(*found);
}

void AddClass(const ClassEntry& entry)
{
    std::lock_guard<std::mutex> lock(tableLock);
    std::vector<ClassEntry>& table = Table();
    std::erase_if(table, [&](const ClassEntry& e) { return e.clsid == entry.clsid; });
    table.push_back(entry);
}

void RemoveClass(REFCLSID clsid)
{
    std::lock_guard<std::mutex> lock(tableLock);
    std::erase_if(Table(), [&](const ClassEntry& e) { return e.clsid == clsid; });
}
