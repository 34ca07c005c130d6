// An output pin that delivers samples to the connected pin's IMemInputPin, from an allocator
// agreed at connection.
#pragma once

#include "BasePin.h"

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(const char* name, CBaseFilter* filter, CCritSec* lock, HRESULT* result, LPCWSTR pinName);
    ~CBaseOutputPin() override;

    // The peer must be an input pin with IMemInputPin.
    HRESULT CheckConnect(IPin* pin) override;
    // Decommits and releases the allocator and the peer's IMemInputPin.
    HRESULT BreakConnect() override;
    // Agrees the allocator.
    HRESULT CompleteConnect(IPin* receivePin) override;
    // Commits the allocator (VFW_E_NO_ALLOCATOR without one); Inactive decommits it, which frees a
    // thread waiting for a buffer.
    HRESULT Active() override;
    HRESULT Inactive() override;

    // Nothing arrives at an output pin: E_UNEXPECTED.
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

    // The input pin's allocator when it offers one, otherwise one of our own; then
    // DecideBufferSize, and the input pin is told which allocator it gets.
    virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator);
    // Sets the buffer count and size on the allocator and checks what it granted.
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
    // A new allocator of our own.
    virtual HRESULT InitAllocator(IMemAllocator** allocator);

    // E_NOINTERFACE without an allocator.
    virtual HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags);
    // Downstream calls: VFW_E_NOT_CONNECTED without a peer.
    virtual HRESULT Deliver(IMediaSample* sample);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    IMemAllocator* Allocator() const { return m_pAllocator; }

protected:
    IMemAllocator* m_pAllocator = nullptr;  // counted
    IMemInputPin* m_pInputPin = nullptr;    // counted
};
