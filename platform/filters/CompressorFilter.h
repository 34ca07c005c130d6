// What the video and audio compressors share. Settings stay with the instance: the settings frame
// shows and changes them, and they take effect when the input next connects. The output type is
// agreed then; each start of streaming opens a fresh encoder. Each packet goes out in a sample of
// its own, and at the end of the stream the encoder gives what it still holds before the end is
// passed on.
#pragma once

#include <mutex>
#include <optional>
#include <vector>

#include "CompressorCodecs.h"
#include "platform/com/FilterSettings.h"
#include "platform/dshow/TransformFilter.h"

class CompressorFilter : public CTransformFilter, public IFilterSettings, public ISpecifyPropertyPages {
public:
    DECLARE_IUNKNOWN
    // The settings interfaces only for a codec that has settings.
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;
    std::vector<Ombrix_Setting> GetSettings() override;
    HRESULT PutSettings(const std::vector<Ombrix_Setting>& settings) override;
    HRESULT GetPages(CAUUID* pages) override;

    // An input the codec takes with the settings as they are now.
    HRESULT CheckInputType(const CMediaType* input) override;
    // The one output type: the one agreed when the input connected, or while it is not connected
    // (an input connecting again), the one the input would give.
    HRESULT CheckTransform(const CMediaType* input, const CMediaType* output) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* type) override;
    HRESULT BreakConnect(PIN_DIRECTION direction) override;
    HRESULT StartStreaming() override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT EndFlush() override;

protected:
    // A packet and the times of its sample, when it has them.
    struct TimedPacket {
        AvPacketPtr packet;
        std::optional<REFERENCE_TIME> start, stop;
    };

    CompressorFilter(const char* name, REFCLSID clsid, const std::vector<CodecSetting>& settings, LONG buffers);
    std::vector<int> Values() const;

    // The compressor's side. OutputFor: the output type of an input type with the settings' values
    // now, and the most bytes a packet takes; false when the input is refused. Connect takes the
    // input type and those values for the connection.
    virtual bool OutputFor(const CMediaType& input, CMediaType* output, LONG* packetBound) const = 0;
    virtual bool Connect(const CMediaType& input) = 0;
    virtual void Disconnect() = 0;
    // On the streaming thread, under the receive lock: a fresh encoder for the connection, one
    // input sample, the end of the stream, the next packet ready (false when none).
    virtual bool Restart() = 0;
    virtual bool Encode(IMediaSample* sample) = 0;
    virtual bool Finish() = 0;
    virtual bool Next(TimedPacket* packet) = 0;

private:
    HRESULT DeliverReady();

    const std::vector<CodecSetting>& m_Settings;
    mutable std::mutex m_SettingsLock;
    std::vector<int> m_Values;
    const LONG m_Buffers;
    CMediaType m_OutputType;  // while the input is connected
    LONG m_BufferSize = 0;
    bool m_bDiscontinuity = true;
};
