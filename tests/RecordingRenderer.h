// A renderer for graph tests that keeps every sample it renders and the type they came in.
#pragma once

#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "platform/dshow/Streams.h"

struct Record {
    Bytes data;
    REFERENCE_TIME start = -1, stop = -1;  // -1: the sample had no time
    bool sync = false, discontinuity = false;
};

class Recorder final : public CBaseRenderer {
public:
    // Takes the types `accepts` allows; any when it is empty.
    explicit Recorder(std::function<bool(const CMediaType&)> accepts = {})
        : CBaseRenderer(GUID_NULL, "Recorder", nullptr, &m_Result), m_Accepts(std::move(accepts)) {}
    HRESULT CheckMediaType(const CMediaType* type) override { return !m_Accepts || m_Accepts(*type) ? S_OK : E_FAIL; }
    HRESULT SetMediaType(const CMediaType* type) override
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Type = *type;
        return S_OK;
    }
    HRESULT DoRenderSample(IMediaSample* sample) override
    {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        Record r{Bytes(data, data + sample->GetActualDataLength()), -1, -1, sample->IsSyncPoint() == S_OK,
                 sample->IsDiscontinuity() == S_OK};
        sample->GetTime(&r.start, &r.stop);
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Records.push_back(std::move(r));
        return S_OK;
    }
    // The samples rendered since the last call.
    std::vector<Record> Take()
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        return std::exchange(m_Records, {});
    }
    // The type it renders.
    CMediaType Type()
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        return m_Type;
    }

private:
    HRESULT m_Result = S_OK;
    const std::function<bool(const CMediaType&)> m_Accepts;
    std::mutex m_Lock;
    std::vector<Record> m_Records;
    CMediaType m_Type;
};
