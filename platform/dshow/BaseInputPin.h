// An input pin that receives samples through IMemInputPin, with the allocator the output pin
// chose, and that refuses samples while stopped or flushing.
#pragma once

#include "BasePin.h"

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(const char* name, CBaseFilter* filter, CCritSec* lock, HRESULT* result, LPCWSTR pinName);
    ~CBaseInputPin() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // The pin's own memory allocator, made on first call and the same one after.
    HRESULT GetAllocator(IMemAllocator** allocator) override;
    HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;
    // Checks that the pin may take the sample and that a type it carries is acceptable; derived
    // pins do the work after this.
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
    // S_OK when a downstream pin of the filter may block, or the filter has none.
    HRESULT ReceiveCanBlock() override;

    // Flushing makes Receive answer S_FALSE until EndFlush.
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    // Decommits and releases the allocator.
    HRESULT BreakConnect() override;
    // Decommits the allocator (VFW_E_NO_ALLOCATOR without one) and ends a flush.
    HRESULT Inactive() override;

    // VFW_E_WRONG_STATE when stopped, S_FALSE while flushing, VFW_E_RUNTIME_ERROR after a
    // failure in the stream.
    virtual HRESULT CheckStreaming();

    BOOL IsFlushing() const { return m_bFlushing; }
    BOOL IsReadOnly() const { return m_bReadOnly; }
    IMemAllocator* Allocator() const { return m_pAllocator; }

protected:
    IMemAllocator* m_pAllocator = nullptr;  // counted
    BOOL m_bReadOnly = FALSE;
    std::atomic<bool> m_bFlushing{false};
};
