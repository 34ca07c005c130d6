// The AVI multiplexer (CLSID_AviDest): its inputs' streams written as one OpenDML AVI file (see
// OpenDmlWriter), through its output pin to a file sink that writes byte-position samples.
//
// Pins: "AVI Out" first, then "Input 01", "Input 02", ...: whenever an input connects and none is
// left free, one more is appended. Pins are never taken away, so an input disconnected is free
// again and the filter can be connected anew, file after file.
//
// A file starts as the filter leaves Stopped; the inputs connected then are its streams, in pin
// order. Chunks are written in the order they arrive, in every interleaving mode. The file ends
// when every stream has ended (then end of stream goes downstream), or at Stop.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "AviMuxInputPin.h"
#include "AviMuxOutputPin.h"

class AviMux final : public CBaseFilter, public IConfigAviMux, public IConfigInterleaving {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);
    // Limits other than AVI's own make small segments for tests.
    AviMux(IUnknown* outer, AviLimits limits);
    ~AviMux() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    // From Stopped: the file's headers go out before the streams start.
    HRESULT Pause() override;
    // A file without streams ends as soon as it runs.
    HRESULT Run(REFERENCE_TIME start) override;
    // Ends a file that is still open before the pins stop. The graph stops the file sink first,
    // which keeps its file open until it is disconnected or given another name (see FileWriter),
    // so what is written here still reaches the file.
    HRESULT Stop() override;

    // The master stream and the compatibility index ('idx1', TRUE by default) are kept for the
    // next file. Stream -1 is none.
    HRESULT SetMasterStream(LONG stream) override;
    HRESULT GetMasterStream(LONG* stream) override;
    HRESULT SetOutputCompatibilityIndex(BOOL oldIndex) override;
    HRESULT GetOutputCompatibilityIndex(BOOL* oldIndex) override;
    // The mode and the interleave are kept and reported; chunks go out as they come in each mode.
    HRESULT put_Mode(InterleavingMode mode) override;
    HRESULT get_Mode(InterleavingMode* mode) override;
    HRESULT put_Interleaving(const REFERENCE_TIME* interleave, const REFERENCE_TIME* preroll) override;
    HRESULT get_Interleaving(REFERENCE_TIME* interleave, REFERENCE_TIME* preroll) override;

    // From the input pins.
    void InputConnected();
    // Once the file can take nothing more (a write failed, or it is full), the graph hears of it
    // (EC_ERRORABORT, once). Samples of video streams are refused then, so that their sources end
    // and the host learns of it at its next frame; samples of other streams are dropped without a
    // word: the library's writer waits seconds on each refused audio hand-off before it gives up,
    // and learns from the video anyway. A file without video refuses on every stream.
    HRESULT Receive(AviMuxInputPin* pin, IMediaSample* sample);
    HRESULT EndOfStream(AviMuxInputPin* pin);

private:
    HRESULT StartFile();
    // Write lock held: ends the file unless it has ended; true when this call ended it.
    bool FinishFile();
    int StreamOf(const AviMuxInputPin* pin) const;

    CCritSec m_Lock;
    const AviLimits m_Limits;
    // The pin list grows while enumerators and graph walks read it.
    mutable std::mutex m_PinsLock;
    std::unique_ptr<AviMuxOutputPin> m_Output;
    std::vector<std::unique_ptr<AviMuxInputPin>> m_Inputs;

    // Held by the streaming threads while they write, and by the state changes that start and
    // end a file.
    std::mutex m_WriteLock;
    std::unique_ptr<OpenDmlWriter> m_File;
    std::vector<AviMuxInputPin*> m_Streams;  // the file's streams, in order
    std::vector<bool> m_Refusing;            // by stream: refuses samples once the file is full
    bool m_bFinished = false;
    bool m_bReported = false;  // the graph has been told the file takes no more

    LONG m_MasterStream = -1;
    BOOL m_bOldIndex = TRUE;
    InterleavingMode m_Mode = INTERLEAVE_NONE;
    REFERENCE_TIME m_Interleave = UNITS;
    REFERENCE_TIME m_Preroll = 0;
};
